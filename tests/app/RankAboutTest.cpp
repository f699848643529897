#include "AppTestSupport.h"
#include "app/InternetRank.h"
#include "app/Unit1.h"
#include "app/Unit5.h"
#include "forms/Application.h"
#include "forms/Controls.h"
#include "forms/Dialogs.h"
#include "platform/CP932.h"
#include "platform/Shell.h"
#include "tests/FakeOpener.h"
#include "tests/QtPrinters.h"

#include <QCoreApplication>
#include <QGroupBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

void SetPanels(TForm1& form, const char* total, std::initializer_list<const char*> scores) {
    form.Panel20->setText(total);
    QLabel* panels[] = {form.Panel1, form.Panel2, form.Panel3, form.Panel4, form.Panel5};
    int i = 0;
    for (const char* s : scores)
        panels[i++]->setText(s);
}

// The page as the ranking service reads it, line by line (UTF-8 here, CP932 in the file).
std::vector<std::string> ExpectedPage(const std::string& total, const std::string (&s)[5],
                                      const std::string& pass, const std::string& action) {
    const std::string font = "<p align=\"center\"><font color=\"#FFFF00\" size=\"4\"><strong>";
    const std::string colon = "\xEF\xBC\x9A"; // full-width colon
    return {
        "<html><head>",
        "<meta http-equiv=\"Content-Type\"",
        "content=\"text/html; charset=euc\">",
        "<meta name=\"GENERATOR\" content=\"Microsoft FrontPage Express 2.0\">",
        "<title>ゼルカ</title>",
        "</head>",
        "<body bgcolor=\"#808080\" text=\"#000080\">",
        "<p align=\"center\"><font color=\"#FF0000\" size=\"6\"><strong>ゼルカ</strong></font></p>",
        "<p align=\"center\"><font color=\"#FFFFFF\" size=\"4\"><strong>",
        "インターネット・計測値・ランキング\xE3\x80\x80登録フォーム</strong></font></p>",
        "<p align=\"center\">登録する場合はインターネットに接続後</p>",
        "<p align=\"center\">必要事項を入力し送信ボタンを押して下さい。</p>",
        "<p align=\"center\">CGIによりリアルタイムでランキング集計されます。</p>",
        "<p align=\"center\">（注）スコアを書き換えて送信した場合は無効となります。</p>",
        font + "</strong></font>\xE3\x80\x80</p>",
        font + "CPU性能           " + colon + s[0] + "点",
        font + "グラフィック性能  " + colon + s[1] + "点",
        font + "DirectDraw性能    " + colon + s[2] + "点",
        font + "Direct3D性能      " + colon + s[3] + "点",
        font + "ハードディス性能  " + colon + s[4] + "点",
        font + "総合評価          " + colon + total + "点",
        "</strong></font><hr>",
        "<FORM METHOD=\"POST\" ACTION=",
        "\"" + action + "\">",
        "  <INPUT TYPE=\"hidden\" NAME=\"sc\"  VALUE=\"" + total + "\" >",
        "  <INPUT TYPE=\"hidden\" NAME=\"sc1\" VALUE=\"" + s[0] + "\" >",
        "  <INPUT TYPE=\"hidden\" NAME=\"sc2\" VALUE=\"" + s[1] + "\" >",
        "  <INPUT TYPE=\"hidden\" NAME=\"sc3\" VALUE=\"" + s[2] + "\" >",
        "  <INPUT TYPE=\"hidden\" NAME=\"sc4\" VALUE=\"" + s[3] + "\" >",
        "  <INPUT TYPE=\"hidden\" NAME=\"sc5\" VALUE=\"" + s[4] + "\" >",
        "  <INPUT TYPE=\"hidden\" NAME=\"ver\" VALUE=\"200\" >",
        "  <INPUT TYPE=\"hidden\" NAME=\"pass\" VALUE=\"" + pass + "\" >",
        "\t<p align=\"center\">名前  :<input type=\"text\" size=\"20\" name=\"name\"></p>",
        "\t<p align=\"center\">CPU   :<input type=\"text\" size=\"30\" name=\"cpu\"></p>",
        "\t<p align=\"center\">VIDEO :<input type=\"text\" size=\"30\" name=\"video\"></p>",
        "\t<p align=\"center\">MEMORY:<input type=\"text\" size=\"30\" name=\"memory\"></p>",
        "\t<p align=\"center\">HDD   :<input type=\"text\" size=\"30\" name=\"hdd\"></p>",
        "\t<p align=\"center\">コメント<br><input type=\"text\" size=\"100\" name=\"com\"></p>",
        "  <p align=\"center\"><input type=\"submit\" name=\"B1\" value=\"送信\"></p>",
        "</form></body></html>",
    };
}

} // namespace

TEST(RankPage, CheckValueWrapsIn32Bits) {
    struct Case {
        std::int32_t total;
        std::int32_t scores[5];
    } cases[] = {
        {100, {100, 120, 90, 80, 110}},
        {0, {0, 0, 0, 0, 0}},
        {2147483647, {0, 0, 0, 0, 0}},
        {-5, {1, 2, 3, 4, 5}},
        {400000000, {400000000, 400000000, 400000000, 400000000, 400000000}},
    };
    for (const Case& c : cases) {
        std::int64_t sum = std::int64_t{c.total} + 200;
        for (std::int32_t s : c.scores)
            sum += s;
        const auto wrapped = static_cast<std::int32_t>(static_cast<std::uint32_t>(
            static_cast<std::uint64_t>(sum) * kRankCheckMultiplier + kRankCheckOffset));
        EXPECT_EQ(RankCheckValue(c.total, c.scores), wrapped) << c.total;
    }
    EXPECT_EQ(RankCheckValue(100, {100, 120, 90, 80, 110}),
              800 * kRankCheckMultiplier + kRankCheckOffset);
    EXPECT_GE(kRankCheckMultiplier, 1);
    EXPECT_LE(kRankCheckMultiplier, 9);
    EXPECT_GE(kRankCheckOffset, 10);
    EXPECT_LE(kRankCheckOffset, 99);
}

TEST(RankPage, FortyLinesByteExactAndOpened) {
    // The form posts to ZELKA_RANK_URL when set, as an attribute value; otherwise to a local
    // zelka-rank at its default address.
    struct Case {
        const char* total;
        std::string s[5];
        QByteArray url;
        std::string action;
    } cases[] = {
        {"100", {"100", "120", "90", "80", "110"}, {}, "http://127.0.0.1:8932/cgi-bin/zelka.cgi"},
        {"7", {"0", "0", "0", "0", "35"}, "", "http://127.0.0.1:8932/cgi-bin/zelka.cgi"},
        {"7",
         {"0", "0", "0", "0", "35"},
         "https://rank.example/r.cgi?a=1&b=\"<x>",
         "https://rank.example/r.cgi?a=1&amp;b=&quot;&lt;x&gt;"},
    };
    for (const Case& c : cases) {
        ScopedEnv url("ZELKA_RANK_URL", c.url);
        QTemporaryDir dir;
        ScopedCurrentDir cwd(dir.path());
        TForm1 form;
        SetPanels(form, c.total,
                  {c.s[0].c_str(), c.s[1].c_str(), c.s[2].c_str(), c.s[3].c_str(), c.s[4].c_str()});
        ShellCallLog shell;
        BoxRecorder boxes;
        ASSERT_TRUE(Application->RunCommand([&] { form.Button3Click(); }));
        std::int32_t scores[5];
        for (int i = 0; i < 5; ++i)
            scores[i] = std::stoi(c.s[i]);
        const std::string pass = std::to_string(RankCheckValue(std::stoi(c.total), scores));
        std::string expected;
        for (const std::string& line : ExpectedPage(c.total, c.s, pass, c.action))
            expected += ToCP932(std::string_view(line)) + "\r\n";
        const std::string page = FileBytes(dir.filePath("intsc.htm"));
        EXPECT_EQ(page, expected);
        EXPECT_NE(page.find("CPU\x90\xAB\x94\x5C           \x81\x46"), std::string::npos);
        ASSERT_EQ(shell.calls.size(), 1u);
        EXPECT_EQ(shell.calls[0].owner, &form);
        EXPECT_EQ(shell.calls[0].file, "intsc.htm");
        EXPECT_EQ(shell.calls[0].showCommand, 5);
        EXPECT_TRUE(boxes.boxes.empty());
    }
}

TEST(RankPage, NothingMeasuredOrANonIntegerPanelWritesNoPage) {
    struct Case {
        const char* total;
        const char* disk;
        BoxKind kind;
        const char* text;
    } cases[] = {
        {"0", "0", BoxKind::Warning, "測定してから申請して下さい"},
        {"0", "55", BoxKind::Warning, "測定してから申請して下さい"},
        {"12", "測定中", BoxKind::Error, "'測定中' is not a valid integer value."},
        {"x", "1", BoxKind::Error, "'x' is not a valid integer value."},
    };
    for (const Case& c : cases) {
        QTemporaryDir dir;
        ScopedCurrentDir cwd(dir.path());
        TForm1 form;
        SetPanels(form, c.total, {"1", "2", "3", "4", c.disk});
        ShellCallLog shell;
        BoxRecorder boxes;
        Application->RunCommand([&] { form.Button3Click(); });
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].kind, c.kind);
        EXPECT_EQ(boxes.boxes[0].text, c.text);
        EXPECT_FALSE(QFile::exists(dir.filePath("intsc.htm")));
        EXPECT_TRUE(shell.calls.empty());
    }
}

TEST(AboutBox, LayoutAndItsTwoWaysToClose) {
    TForm1 form;
    TForm5 about;
    EXPECT_EQ(about.windowTitle(), "バージョン情報");
    EXPECT_EQ(about.size(), QSize(136, 112));
    EXPECT_TRUE(about.windowFlags() & Qt::Dialog);
    EXPECT_EQ(about.GroupBox1->geometry(), QRect(0, 0, 129, 105));
    EXPECT_EQ(about.Image1->geometry(), QRect(8, 16, 32, 32));
    EXPECT_FALSE(about.Image1->Picture().isNull());
    EXPECT_EQ(about.Label1->text(), "ゼルカ");
    EXPECT_EQ(about.Label1->pos(), QPoint(56, 16));
    EXPECT_EQ(about.Label2->text(), "Ver.2.10");
    EXPECT_EQ(about.Label2->pos(), QPoint(56, 32));
    EXPECT_EQ(about.BitBtn1->geometry(), QRect(72, 72, 43, 25));
    EXPECT_EQ(about.BitBtn1->text(), "OK");

    const std::function<void()> closers[] = {[&] { about.BitBtn1->click(); },
                                             [&] { about.close(); }};
    for (const auto& closeIt : closers) {
        bool shown = false;
        QTimer::singleShot(0, [&] {
            shown = about.isVisible();
            closeIt();
        });
        EXPECT_TRUE(Application->RunCommand([&] { form.Image19Click(); }));
        EXPECT_TRUE(shown);
        EXPECT_FALSE(about.isVisible());
    }
}

TEST(AboutBox, HelpAndHomePageGoToTheShell) {
    TForm1 form;
    QTemporaryDir dir;
    WriteBytes(dir.filePath("readme.htm"), "<html></html>");
    ScopedCurrentDir here(dir.path());
    struct Case {
        std::function<void()> command;
        QString file;
    } cases[] = {
        {[&] { form.Image18Click(); }, "readme.htm"},
        {[&] { form.Help1Click(); }, "readme.htm"},
        {[&] { form.Image2Click(); }, kHomePageAddress},
    };
    for (const Case& c : cases) {
        ShellCallLog shell;
        BoxRecorder boxes;
        c.command();
        EXPECT_TRUE(boxes.boxes.empty());
        ASSERT_EQ(shell.calls.size(), 1u);
        EXPECT_EQ(shell.calls[0].owner, &form);
        EXPECT_EQ(shell.calls[0].file, c.file);
        EXPECT_EQ(shell.calls[0].parameters, "");
        EXPECT_EQ(shell.calls[0].directory, "");
        EXPECT_EQ(shell.calls[0].showCommand, 5);
    }
    EXPECT_LE(std::strlen(kHomePageAddress), 79u);
}

TEST(AboutBox, AMissingHelpPageOrADesktopThatCannotOpenGivesAWarning) {
    TForm1 form;
    QTemporaryDir dir;
    ScopedCurrentDir here(dir.path()); // no help page here, none beside the test program
    struct Case {
        std::function<void()> command;
        int answer;
        QString warning;
    } cases[] = {
        {[&] { form.Image18Click(); }, 42, "ヘルプファイル「readme.htm」が見つかりません"},
        {[&] { form.Image2Click(); }, 31,
         QString("「") + kHomePageAddress + "」を開けませんでした"},
        {[&] { form.Image2Click(); }, 42, ""},
    };
    for (const Case& c : cases) {
        ShellCallLog shell;
        shell.answer = c.answer;
        BoxRecorder boxes;
        c.command();
        if (c.warning.isEmpty()) {
            EXPECT_TRUE(boxes.boxes.empty());
            continue;
        }
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].kind, BoxKind::Warning);
        EXPECT_EQ(boxes.boxes[0].text, c.warning);
    }
}

// With the desktop's own opener: the result file, the ranking page, the help page and the home
// page, each opened by an opener that succeeds, fails soon after, or is missing. A failure is
// told in one warning box naming the file's full path or the address.
TEST(AboutBox, EveryFailureToOpenIsToldWithTheFullPathOrTheAddress) {
    TForm1 form;
    SetPanels(form, "100", {"100", "120", "90", "80", "110"});
    QTemporaryDir work;
    WriteBytes(work.filePath("readme.htm"), "<html></html>");
    ScopedCurrentDir here(work.path());
    struct Command {
        std::function<void()> run;
        QString shown;
    } commands[] = {
        {[&] { form.Button1Click(); }, work.filePath("result.txt")},
        {[&] { form.Button3Click(); }, work.filePath("intsc.htm")},
        {[&] { form.Image18Click(); }, work.filePath("readme.htm")},
        {[&] { form.Image2Click(); }, kHomePageAddress},
    };
    for (const std::optional<int> status :
         {std::optional<int>(0), std::optional<int>(4), std::optional<int>()}) {
        for (const Command& c : commands) {
            SCOPED_TRACE(c.shown.toStdString() + " status " +
                         (status ? std::to_string(*status) : "missing"));
            FakeOpener opener(status);
            BoxRecorder boxes;
            c.run();
            ASSERT_TRUE(FakeOpener::AllEnded());
            if (status == 0) {
                EXPECT_TRUE(boxes.boxes.empty());
                continue;
            }
            ASSERT_EQ(boxes.boxes.size(), 1u);
            EXPECT_EQ(boxes.boxes[0].kind, BoxKind::Warning);
            EXPECT_EQ(boxes.boxes[0].text, "「" + c.shown + "」を開けませんでした");
        }
    }
}

TEST(AboutBox, StaysFixedInSizeWithoutAMaximiseBox) {
    TForm5 about;
    about.show();
    EXPECT_EQ(about.minimumSize(), QSize(136, 112));
    EXPECT_EQ(about.maximumSize(), QSize(136, 112));
    EXPECT_FALSE(about.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(about.windowFlags() & Qt::WindowCloseButtonHint);
    about.hide();
}

TEST(AboutBox, TheHelpPageShipsBesideTheProgramInCP932) {
    const std::string bytes = FileBytes(QString(ZELKA_APP_DIR) + "/readme.htm");
    ASSERT_NE(bytes, "<missing>");
    const QString text = FromCP932(bytes);
    EXPECT_FALSE(text.contains(QChar(0xFFFD)));
    for (const char* needle : {"ゼルカ", "Report", "result.txt", "intsc.htm", "--run", "--drive",
                               "ZELKA_DRIVE_", "HDDアクセス", "総合評価"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(needle))) << needle;
}
