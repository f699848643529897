#include "platform/Classes.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Bytes = std::vector<std::uint8_t>;

struct TempFolder {
    TempFolder() {
        char pattern[] = "/tmp/classes-test-XXXXXX";
        path = mkdtemp(pattern);
    }
    ~TempFolder() {
        for (const std::string& f : created)
            std::remove(f.c_str());
        rmdir(path.c_str());
    }
    std::string File(const std::string& name) {
        created.push_back(path + "/" + name);
        return created.back();
    }
    std::string path;
    std::vector<std::string> created;
};

} // namespace

TEST(TMemoryStream, ReadsWritesAndSeeks) {
    TMemoryStream s;
    s.WriteBuffer("abcdef", 6);
    EXPECT_EQ(s.Size(), 6);
    EXPECT_EQ(s.Position(), 6);

    struct Step {
        std::int64_t offset;
        TSeekOrigin origin;
        std::int64_t position; // after the seek
        std::int64_t asked;
        std::string read;
    } steps[] = {
        {0, TSeekOrigin::soBeginning, 0, 3, "abc"}, {1, TSeekOrigin::soCurrent, 4, 5, "ef"},
        {-2, TSeekOrigin::soEnd, 4, 1, "e"},        {-10, TSeekOrigin::soCurrent, 0, 0, ""},
        {10, TSeekOrigin::soBeginning, 10, 4, ""},
    };
    for (const Step& step : steps) {
        EXPECT_EQ(s.Seek(step.offset, step.origin), step.position) << step.read;
        char buffer[8] = {};
        EXPECT_EQ(s.Read(buffer, step.asked), std::int64_t(step.read.size()));
        EXPECT_EQ(std::string(buffer), step.read);
    }

    // Writing past the end fills the gap with zeros; SetSize pulls the position back in.
    s.SetPosition(8);
    s.WriteBuffer("Z", 1);
    EXPECT_EQ(s.Bytes(), (Bytes{'a', 'b', 'c', 'd', 'e', 'f', 0, 0, 'Z'}));
    s.SetSize(2);
    EXPECT_EQ(s.Position(), 2);
    EXPECT_EQ(s.TakeBytes(), (Bytes{'a', 'b'}));
    EXPECT_EQ(s.Size(), 0);
}

TEST(TMemoryStream, ReadBufferRaisesWhenShort) {
    TMemoryStream s(Bytes{1, 2, 3});
    std::uint8_t buffer[4];
    EXPECT_THROW(s.ReadBuffer(buffer, 4), EReadError);
    s.SetPosition(0);
    EXPECT_NO_THROW(s.ReadBuffer(buffer, 3));
    EXPECT_THROW(s.ReadBuffer(buffer, 1), EReadError);
    EXPECT_THROW(s.ReadBuffer(buffer, -1), EReadError);
}

TEST(TFileStream, WritesAndReadsBackAFile) {
    TempFolder folder;
    const std::string path = folder.File("data.bin");
    TMemoryStream(Bytes{0, 1, 2, 0xFF}).SaveToFile(path);
    {
        TFileStream file(path, TFileStream::fmOpenRead);
        EXPECT_EQ(file.Size(), 4);
        file.SetPosition(2);
        std::uint8_t two[2];
        file.ReadBuffer(two, 2);
        EXPECT_EQ(two[1], 0xFF);
        EXPECT_EQ(file.Read(two, 1), 0);
        EXPECT_THROW(file.WriteBuffer("x", 1), EWriteError); // opened for reading only
    }
    {
        TFileStream file(path, TFileStream::fmOpenReadWrite);
        file.Seek(0, TSeekOrigin::soEnd);
        file.WriteBuffer("!", 1);
    }
    TMemoryStream copy;
    copy.LoadFromFile(path);
    EXPECT_EQ(copy.Bytes(), (Bytes{0, 1, 2, 0xFF, '!'}));

    TMemoryStream target;
    copy.SetPosition(1);
    EXPECT_EQ(target.CopyFrom(copy, 3), 3);
    EXPECT_EQ(target.Bytes(), (Bytes{1, 2, 0xFF}));
}

TEST(TFileStream, OpenFailuresNameTheFileAndTheReason) {
    TempFolder folder;
    ASSERT_EQ(::mkfifo(folder.File("fifo").c_str(), 0600), 0);
    struct Case {
        std::string path;
        TFileStream::Mode mode;
        std::string message;
    } cases[] = {
        {folder.path + "/missing", TFileStream::fmOpenRead,
         "Cannot open file \"" + folder.path + "/missing\". No such file or directory"},
        {folder.path, TFileStream::fmOpenRead,
         "Cannot open file \"" + folder.path + "\". Is a directory"},
        {folder.path + "/fifo", TFileStream::fmOpenRead,
         "Cannot open file \"" + folder.path + "/fifo\". Not a regular file"},
        {"/dev/zero", TFileStream::fmOpenRead,
         "Cannot open file \"/dev/zero\". Not a regular file"},
        {folder.path + "/no/such/folder", TFileStream::fmCreate,
         "Cannot create file \"" + folder.path + "/no/such/folder\". No such file or directory"},
    };
    for (const Case& c : cases) {
        try {
            TFileStream file(c.path, c.mode);
            ADD_FAILURE() << "opened " << c.path;
        } catch (const EStreamError& e) {
            EXPECT_EQ(e.Message(), c.message);
            EXPECT_EQ(c.mode == TFileStream::fmCreate,
                      dynamic_cast<const EFCreateError*>(&e) != nullptr);
        }
    }
}
