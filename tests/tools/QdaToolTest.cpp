#include "tools/QdaTool.h"

#include "engine/DArc.h"

#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <iomanip>
#include <sstream>
#include <sys/wait.h>

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// Runs the tool inside a fresh folder, so that entry names can be given as bare file names.
class QdaToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/qdatool-test-XXXXXX";
        folder_ = mkdtemp(pattern);
        previous_ = fs::current_path();
        fs::current_path(folder_);
    }
    void TearDown() override {
        fs::current_path(previous_);
        fs::remove_all(folder_);
    }

    int Run(const std::vector<std::string>& args) {
        out_.str("");
        err_.str("");
        return RunQdaTool(args, out_, err_);
    }
    static void Write(const std::string& name, const Bytes& bytes) {
        TMemoryStream(bytes).SaveToFile(name);
    }
    static Bytes Load(const std::string& name) {
        TMemoryStream s;
        s.LoadFromFile(name);
        return s.TakeBytes();
    }
    std::string Out() const { return out_.str(); }
    std::string Err() const { return err_.str(); }

    fs::path folder_;
    fs::path previous_;
    std::ostringstream out_;
    std::ostringstream err_;
};

} // namespace

TEST_F(QdaToolTest, PacksListsAndExtracts) {
    Write("a.txt", Text("abababababababab"));
    Write("ゼルカ.bin", Text("zelka"));
    Write("empty", {});
    for (bool stored : {false, true}) {
        std::vector<std::string> pack{"pack"};
        if (stored)
            pack.push_back("--stored");
        pack.insert(pack.end(), {"x.dat", "a.txt", "ゼルカ.bin", "empty"});
        ASSERT_EQ(Run(pack), 0) << Err();
        EXPECT_EQ(Err(), "");
        const char* packedSizes[] = {"         15", "         12", "          0"};
        const char* storedSizes[] = {"         16", "          5", "          0"};
        const std::uint32_t first = 256 + 3 * 268;
        const char** sizes = stored ? storedSizes : packedSizes;
        const std::uint32_t second = first + (stored ? 16 : 15);
        const std::uint32_t third = second + (stored ? 5 : 12);
        EXPECT_EQ(Out(), std::string("x.dat: 3 entries, 21 bytes ") +
                             (stored ? "stored" : "packed") + " into " + std::to_string(third) +
                             "\n");

        ASSERT_EQ(Run({"list", "x.dat"}), 0) << Err();
        std::ostringstream expected;
        expected << "x.dat: " << (stored ? "stored" : "packed") << ", 3 entries\n"
                 << "    offset     stored       size  name\n"
                 << std::setw(10) << first << sizes[0] << "         16  a.txt\n"
                 << std::setw(10) << second << sizes[1] << "          5  ゼルカ.bin\n"
                 << std::setw(10) << third << sizes[2] << "          0  empty\n";
        EXPECT_EQ(Out(), expected.str());

        struct Case {
            const char* entry;
            Bytes bytes;
        } cases[] = {
            {"A.TXT", Text("abababababababab")}, {"ゼルカ.BIN", Text("zelka")}, {"empty", {}}};
        for (const Case& c : cases) {
            ASSERT_EQ(Run({"extract", "x.dat", c.entry, "out"}), 0) << Err();
            EXPECT_EQ(Load("out"), c.bytes) << c.entry;
        }
    }
}

TEST_F(QdaToolTest, FailsWithTheReadersMessage) {
    Write("a.txt", Text("abc"));
    ASSERT_EQ(Run({"pack", "good.dat", "a.txt"}), 0);
    Bytes truncated = Load("good.dat");
    truncated.resize(truncated.size() - 1);
    Write("truncated.dat", truncated);
    Write("notes.txt", Text(std::string(400, 'n')));

    struct Case {
        std::vector<std::string> args;
        std::string error;
    } cases[] = {
        {{"extract", "good.dat", "b.txt", "out"},
         std::string("qdatool: ") + kQDAEntryNotFound + "\n"},
        {{"list", "notes.txt"}, std::string("qdatool: ") + kQDANotAnArchive + "\n"},
        {{"extract", "notes.txt", "a.txt", "out"},
         std::string("qdatool: ") + kQDANotAnArchive + "\n"},
        {{"list", "truncated.dat"},
         "qdatool: QDAファイル内の「a.txt」のデータがファイルの終わりを越えています\n"},
        {{"list", "missing.dat"},
         "qdatool: Cannot open file \"missing.dat\". No such file or directory\n"},
        {{"pack", "new.dat", "a.txt", "missing.txt"},
         "qdatool: Cannot open file \"missing.txt\". No such file or directory\n"},
        {{"pack", "new.dat", "\xF0\x9F\x98\x80"},
         "qdatool: entry name \"\xF0\x9F\x98\x80\" has no CP932 form\n"},
        {{"pack", "new.dat", std::string(256, 'n')},
         "qdatool: entry name \"" + std::string(256, 'n') + "\" must be 1 to 255 CP932 bytes\n"},
        {{"extract", "good.dat", "a.txt", "no/such/folder/out"},
         "qdatool: cannot write \"no/such/folder/out\": Cannot create file "
         "\"no/such/folder/out.tmp" +
             std::to_string(getpid()) + "\". No such file or directory\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Run(c.args), 1) << c.args[0] << " " << c.args[1];
        EXPECT_EQ(Err(), c.error);
    }
    // Nothing half-written is left behind.
    EXPECT_FALSE(fs::exists("new.dat"));
    EXPECT_FALSE(fs::exists("out"));
}

TEST_F(QdaToolTest, AFailedPackLeavesTheOldArchiveAlone) {
    Write("a.txt", Text("abc"));
    ASSERT_EQ(Run({"pack", "keep.dat", "a.txt"}), 0);
    const Bytes before = Load("keep.dat");
    EXPECT_EQ(Run({"pack", "keep.dat", "a.txt", "missing.txt"}), 1);
    EXPECT_EQ(Load("keep.dat"), before);
    EXPECT_EQ(std::distance(fs::directory_iterator("."), fs::directory_iterator()), 2);
}

TEST_F(QdaToolTest, WarnsAboutShadowedNames) {
    Write("a.txt", Text("first"));
    Write("A.TXT", Text("second"));
    ASSERT_EQ(Run({"pack", "x.dat", "a.txt", "A.TXT"}), 0);
    EXPECT_EQ(Err(),
              "qdatool: warning: \"A.TXT\" is given more than once; readers find the first\n");
    ASSERT_EQ(Run({"extract", "x.dat", "A.TXT", "out"}), 0);
    EXPECT_EQ(Load("out"), Text("first"));
}

TEST_F(QdaToolTest, RefusesOtherCommandLines) {
    const std::vector<std::string> bad[] = {
        {},
        {"unpack", "x"},
        {"pack"},
        {"pack", "x.dat"},
        {"pack", "--stored", "x.dat"},
        {"list"},
        {"list", "a", "b"},
        {"extract", "x.dat", "e"},
    };
    for (const auto& args : bad) {
        EXPECT_EQ(Run(args), 2);
        EXPECT_EQ(Err().rfind("usage: qdatool pack [--stored] ARCHIVE FILE...\n", 0), 0u);
    }
}

TEST_F(QdaToolTest, TheProgramExitsWithTheStatusOnBadInput) {
    // The real executable on garbage: a status, never a signal.
    Write("garbage.dat", {1, 0, 0, 0, 'Q', 'D', 'A', '0', 0xFF, 0xFF, 0xFF, 0x7F});
    Bytes pastEnd(256 + 268, 0);
    pastEnd[0] = 1;
    std::copy_n("QDA0", 4, pastEnd.begin() + 4);
    pastEnd[8] = 1;
    pastEnd[256 + 1] = 0xFF; // data offset 0xFF00, past the end
    pastEnd[256 + 12] = 'a';
    Write("pastend.dat", pastEnd);
    struct Case {
        std::string command;
        int status;
    } cases[] = {
        {" list garbage.dat", 1}, {" extract pastend.dat a out", 1},
        {" list pastend.dat", 1}, {" extract garbage.dat a out", 1},
        {" frobnicate", 2},
    };
    for (const Case& c : cases) {
        const int raw =
            std::system((std::string(QDATOOL_PATH) + c.command + " 2>/dev/null").c_str());
        ASSERT_TRUE(WIFEXITED(raw)) << c.command;
        EXPECT_EQ(WEXITSTATUS(raw), c.status) << c.command;
    }
}
