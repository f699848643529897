// Files the program makes for itself go again when a signal ends it.
#include "platform/OwnFiles.h"

#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string MakeFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0)
        return {};
    ::close(fd);
    return path;
}

bool Exists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

} // namespace

TEST(OwnFile, ASignalRemovesTheFilesAndEndsWith128PlusTheSignal) {
    char folderTemplate[] = "/tmp/zelka-own-XXXXXX";
    ASSERT_NE(::mkdtemp(folderTemplate), nullptr);
    const std::string folder = folderTemplate;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        const std::string ours = folder + "/test17", forgotten = folder + "/kept",
                          removed = folder + "/gone";
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            InstallCleanupOnSignals();
            OwnFile a, b, c, refused;
            // Relative names are kept as absolute ones: the test changes folder after making them.
            if (::chdir(folder.c_str()) != 0 || !a.Create([] { return MakeFile("test17"); }) ||
                !b.Create([&] { return MakeFile(forgotten); }) ||
                !c.Create([&] { return MakeFile(removed); }) || ::chdir("/") != 0)
                ::_exit(1);
            b.Forget();
            if (c.Remove() != 0 || refused.Create([] { return std::string(); }) ||
                OwnFile::KnownCount() != 1)
                ::_exit(2);
            ::raise(signal);
            ::_exit(3);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << signal;
        EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
        EXPECT_FALSE(Exists(ours)) << signal;
        EXPECT_TRUE(Exists(forgotten)) << signal; // no longer the program's: left alone
        EXPECT_FALSE(Exists(removed)) << signal;
        ::unlink(forgotten.c_str());
    }
    EXPECT_EQ(::rmdir(folder.c_str()), 0);
}
