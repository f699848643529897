#include "AppTestSupport.h"
#include "app/Unit1.h"
#include "forms/Application.h"
#include "forms/Dialogs.h"
#include "platform/CP932.h"
#include "platform/Shell.h"
#include "tests/QtPrinters.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// A label padded with blanks to `width` - 1 CP932 bytes, then the colon.
std::string Label(const char* utf8, std::size_t width) {
    std::string bytes = ToCP932(std::string_view(utf8));
    EXPECT_LT(bytes.size(), width) << utf8;
    bytes.resize(width - 1, ' ');
    return bytes + ":";
}

std::string Cp(const QString& text) {
    return ToCP932(text);
}

struct Captions {
    const char* vendor = "GenuineIntel";
    const char* clock = "451.0342MHz";
    const char* video = "Virtual Display Adapter";
    const char* memory = "65,024KB";
    const char* display = "1024x768";
    const char* windows = "WindowsNT 6. 1 Build 7601";
    const char* scores[6] = {"1520", "830", "912", "655", "204", "824"};
};

void Apply(TForm1& form, const Captions& c) {
    form.Panel22->setText(c.vendor);
    form.EditHex2->setText(c.clock);
    form.Panel14->setText(c.video);
    form.Panel12->setText(c.memory);
    form.Panel18->setText(c.display);
    form.Panel21->setText(c.windows);
    QLabel* panels[] = {form.Panel1, form.Panel2, form.Panel3,
                        form.Panel4, form.Panel5, form.Panel20};
    for (int i = 0; i < 6; ++i)
        panels[i]->setText(c.scores[i]);
}

std::string Expected(const Captions& c) {
    const std::string crlf = "\r\n";
    std::string f;
    // Line 1: blank-underscore pairs, an ideographic space (81 40), 34 blanks, underscores.
    f += " _ _ _ _\x81\x40" + std::string(34, ' ') + "_ _ _ _" + crlf;
    f += Cp("ゼルカ Ver2.10 ベンチマーク結果  (C) Orvane") + crlf;
    f += crlf;
    f += "\x81\x9A"
         "PC"
         "\x8F\xEE\x95\xF1" +
         crlf; // ★PC情報
    f += Label("CPU", 9) + c.vendor + " " + c.clock + crlf;
    f += Label("VIDEO", 9) + c.video + crlf;
    f += Label("MEMORY", 9) + c.memory + crlf;
    f += Label("DISPLAY", 9) + c.display + crlf;
    f += Label("WINDOWS", 9) + c.windows + crlf;
    // メモ, an ideographic space, two blanks, the colon.
    f += "\x83\x81\x83\x82\x81\x40  :" + Cp("[ご自由にPC情報でも記入して下さい]") + crlf;
    f += crlf;
    f += Cp("★ベンチ結果") + crlf;
    f += Label("CPU性能（演算）", 28) + Cp(c.scores[0]) + crlf;
    f += Label("通常グラフィック性能", 28) + Cp(c.scores[1]) + crlf;
    f += Label("DirectDraw性能", 28) + Cp(c.scores[2]) + crlf;
    f += Label("Direct3D性能", 28) + Cp(c.scores[3]) + crlf;
    f += Label("HDDアクセス性能", 28) + Cp(c.scores[4]) + crlf;
    f += crlf;
    f += Label("総合評価", 28) + Cp(c.scores[5]) + crlf;
    return f;
}

} // namespace

TEST(ResultFile, NineteenLinesByteExactInCP932) {
    Captions measured;
    Captions fresh;
    for (auto& s : fresh.scores)
        s = "0";
    Captions interrupted = measured;
    interrupted.scores[4] = "測定中";
    Captions empty;
    empty.vendor = "";
    empty.clock = "";
    empty.video = "";
    for (const Captions& c : {measured, fresh, interrupted, empty}) {
        QTemporaryDir dir;
        ScopedCurrentDir cwd(dir.path());
        WriteBytes(dir.filePath("result.txt"), std::string(5000, 'x')); // overwritten whole
        TForm1 form;
        Apply(form, c);
        form.makeRes();
        const std::string bytes = FileBytes(dir.filePath("result.txt"));
        EXPECT_EQ(bytes, Expected(c));
        std::size_t lineEnds = 0;
        for (std::size_t at = bytes.find("\r\n"); at != std::string::npos;
             at = bytes.find("\r\n", at + 2))
            ++lineEnds;
        EXPECT_EQ(lineEnds, 19u);
        EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
        EXPECT_EQ(bytes.find("\r\n"), 51u); // the banner is 51 bytes
    }
}

TEST(ResultFile, TheCommandOpensTheFileOrShowsTheErrorAndOpensNothing) {
    QTemporaryDir ok, blocked;
    QDir(blocked.path()).mkdir("result.txt"); // a directory where the file should go
    struct Case {
        QString dir;
        bool succeeds;
    } cases[] = {{ok.path(), true}, {blocked.path(), false}};
    for (const Case& c : cases) {
        ScopedCurrentDir cwd(c.dir);
        TForm1 form;
        ShellCallLog shell;
        BoxRecorder boxes;
        const bool done = Application->RunCommand([&] { form.Button1Click(); });
        EXPECT_EQ(done, c.succeeds);
        if (c.succeeds) {
            ASSERT_EQ(shell.calls.size(), 1u);
            EXPECT_EQ(shell.calls[0].owner, &form);
            EXPECT_EQ(shell.calls[0].file, "result.txt");
            EXPECT_EQ(shell.calls[0].parameters, "");
            EXPECT_EQ(shell.calls[0].directory, "");
            EXPECT_EQ(shell.calls[0].showCommand, 5);
            EXPECT_TRUE(boxes.boxes.empty());
        } else {
            EXPECT_TRUE(shell.calls.empty());
            ASSERT_EQ(boxes.boxes.size(), 1u);
            EXPECT_EQ(boxes.boxes[0].kind, BoxKind::Error);
            EXPECT_TRUE(boxes.boxes[0].text.contains("result.txt"));
            EXPECT_TRUE(boxes.boxes[0].text.contains("Is a directory"));
        }
    }
}
