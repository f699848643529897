#include "platform/TextFile.h"

#include "platform/SysUtils.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

std::string Slurp(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<missing>";
    return file.readAll().toStdString();
}

void Spit(const QString& path, const std::string& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

std::vector<std::string> ReadAll(const std::string& path) {
    TextFile file(path);
    file.Reset();
    std::vector<std::string> lines;
    std::string line;
    while (file.ReadLine(line))
        lines.push_back(line);
    EXPECT_TRUE(line.empty());
    file.Close();
    return lines;
}

} // namespace

TEST(TextFile, HandsTheSystemOneWritePerFullBufferAndOneAtClose) {
    QTemporaryDir dir;
    const std::string line(47, 'a');
    struct Case {
        int lines;
        std::uint64_t writesBeforeClose;
        std::uint64_t writesInAll;
    } cases[] = {
        {0, 0, 0},     // nothing buffered: close writes nothing
        {1, 0, 1},     // 49 bytes
        {2, 0, 1},     // 98 bytes
        {3, 1, 2},     // 147 bytes: one full buffer, 19 bytes at close
        {128, 49, 49}, // 6272 bytes = 49 full buffers exactly
        {10000, 3828, 3829},
    };
    for (const Case& c : cases) {
        const std::string path = dir.filePath("lines").toStdString();
        TextFile file(path);
        file.Rewrite();
        const std::uint64_t before = TextFile::SystemWrites();
        for (int i = 0; i < c.lines; ++i)
            file.WriteLine(line);
        EXPECT_EQ(TextFile::SystemWrites() - before, c.writesBeforeClose) << c.lines;
        file.Close();
        EXPECT_EQ(TextFile::SystemWrites() - before, c.writesInAll) << c.lines;
        std::string expected;
        for (int i = 0; i < c.lines; ++i)
            expected += line + "\r\n";
        EXPECT_EQ(Slurp(QString::fromStdString(path)), expected);
    }
}

TEST(TextFile, OpeningModesCreateTruncateRefuseAndAppend) {
    QTemporaryDir dir;
    const QString path = dir.filePath("f.txt");
    const std::string p = path.toStdString();
    Spit(path, "old contents\r\n");

    TextFile file(p);
    EXPECT_FALSE(file.RewriteNew()); // the name is taken: nothing touched
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(Slurp(path), "old contents\r\n");

    file.Append();
    file.WriteLine("more");
    file.Close();
    EXPECT_EQ(Slurp(path), "old contents\r\nmore\r\n");

    file.Rewrite();
    file.Write("x");
    file.Close();
    EXPECT_EQ(Slurp(path), "x");

    TextFile fresh(dir.filePath("new").toStdString());
    EXPECT_TRUE(fresh.RewriteNew());
    fresh.WriteLine("\x83\x5E\x83\x58\x83\x67"); // bytes pass unchanged
    fresh.Close();
    EXPECT_EQ(Slurp(dir.filePath("new")), "\x83\x5E\x83\x58\x83\x67\r\n");
}

TEST(TextFile, ReadsCrLfLfAndALastLineWithoutEnd) {
    QTemporaryDir dir;
    const std::string longLine(1000, 'z');
    struct Case {
        std::string bytes;
        std::vector<std::string> lines;
    } cases[] = {
        {"", {}},
        {"one", {"one"}},
        {"one\r\ntwo\r\n", {"one", "two"}},
        {"one\ntwo\n", {"one", "two"}},
        {"one\r\n\r\nthree", {"one", "", "three"}},
        {"cr\rinside\n", {"cr\rinside"}},
        {"\n", {""}},
        {std::string(127, 'b') + "\r\nnext",
         {std::string(127, 'b'), "next"}}, // CR LF across buffers
        {longLine + "\r\n" + longLine, {longLine, longLine}},
        {std::string("nul\0byte\n", 9), {std::string("nul\0byte", 8)}},
    };
    for (const Case& c : cases) {
        const QString path = dir.filePath("in");
        Spit(path, c.bytes);
        EXPECT_EQ(ReadAll(path.toStdString()), c.lines) << c.bytes.substr(0, 40);
    }
}

TEST(TextFile, EveryFailureRaisesInOutErrorNamingFileAndReason) {
    QTemporaryDir dir;
    QDir(dir.path()).mkdir("sub.txt");
    ASSERT_EQ(::mkfifo(dir.filePath("fifo.txt").toUtf8().constData(), 0600), 0);
    Spit(dir.filePath("plain.txt"), "line\r\n");
    struct Case {
        const char* what;
        std::string path;
        void (*action)(TextFile&);
        const char* reason;
    } cases[] = {
        {"reset missing", dir.filePath("missing").toStdString(), [](TextFile& f) { f.Reset(); },
         "No such file or directory"},
        {"reset directory", dir.filePath("sub.txt").toStdString(), [](TextFile& f) { f.Reset(); },
         "Is a directory"},
        {"rewrite in missing folder", dir.filePath("no/such").toStdString(),
         [](TextFile& f) { f.Rewrite(); }, "No such file or directory"},
        {"disk full at close", "/dev/full",
         [](TextFile& f) {
             f.Rewrite();
             f.WriteLine("x");
             f.Close();
         },
         "No space left on device"},
        {"disk full on a full buffer", "/dev/full",
         [](TextFile& f) {
             f.Rewrite();
             f.Write(std::string(200, 'x'));
         },
         "No space left on device"},
        // Neither a FIFO nor a device is read as a text file: refused at once, no waiting for
        // a writer, no endless bytes.
        {"reset FIFO", dir.filePath("fifo.txt").toStdString(), [](TextFile& f) { f.Reset(); },
         "Not a regular file"},
        {"reset device", "/dev/zero", [](TextFile& f) { f.Reset(); }, "Not a regular file"},
        {"write to a file open for reading", dir.filePath("plain.txt").toStdString(),
         [](TextFile& f) {
             f.Reset();
             f.Write("x");
         },
         "Bad file descriptor"},
    };
    for (const Case& c : cases) {
        TextFile file(c.path);
        try {
            c.action(file);
            ADD_FAILURE() << c.what << ": no error";
        } catch (const EInOutError& error) {
            EXPECT_NE(error.Message().find("\"" + c.path + "\""), std::string::npos)
                << c.what << ": " << error.Message();
            EXPECT_NE(error.Message().find(c.reason), std::string::npos)
                << c.what << ": " << error.Message();
            EXPECT_NE(error.ErrorCode, 0);
        }
    }
}
