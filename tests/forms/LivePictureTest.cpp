#include "forms/LivePicture.h"

#include <array>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

TEST(ChangedRows, KeepsOneSpanPerRowClippedToThePicture) {
    struct Case {
        const char* name;
        std::vector<std::array<int, 4>> added; // left, top, right, bottom on a 10 x 6 picture
        std::vector<std::pair<int, int>> rows; // what each of the six rows holds
    } cases[] = {
        {"nothing", {}, {{0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}}},
        {"one rectangle", {{2, 1, 5, 3}}, {{0, 0}, {2, 5}, {2, 5}, {0, 0}, {0, 0}, {0, 0}}},
        {"two on a row join",
         {{0, 2, 1, 3}, {8, 2, 9, 3}},
         {{0, 0}, {0, 0}, {0, 9}, {0, 0}, {0, 0}, {0, 0}}},
        {"clipped at every edge",
         {{-4, -2, 3, 1}, {7, 4, 30, 20}},
         {{0, 3}, {0, 0}, {0, 0}, {0, 0}, {7, 10}, {7, 10}}},
        {"wholly outside",
         {{10, 0, 12, 6}, {0, 6, 10, 9}, {3, 3, 3, 5}},
         {{0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}}},
    };
    for (const Case& c : cases) {
        TChangedRows changed;
        for (const auto& [l, t, r, b] : c.added)
            changed.Add(10, 6, l, t, r, b);
        for (int y = 0; y < 6; ++y) {
            const auto span = changed.TakeRow(y);
            const auto got = span.first < span.second ? span : std::pair{0, 0};
            EXPECT_EQ(got, c.rows[std::size_t(y)]) << c.name << ", row " << y;
        }
        EXPECT_TRUE(changed.Empty()) << c.name;
    }
}

TEST(ChangedRows, TakenRowsAndANewHeightStartClean) {
    TChangedRows changed;
    changed.Add(10, 6, 0, 0, 10, 6);
    EXPECT_EQ(changed.TakeRow(0), (std::pair{0, 10}));
    EXPECT_EQ(changed.Top(), 1);
    changed.Add(10, 6, 4, 0, 5, 1); // the taken row again
    EXPECT_EQ(changed.Top(), 0);
    EXPECT_EQ(changed.TakeRow(0), (std::pair{4, 5}));
    changed.Clear();
    EXPECT_TRUE(changed.Empty());
    const auto none = changed.TakeRow(3);
    EXPECT_GE(none.first, none.second);
    changed.Add(10, 6, 0, 0, 10, 6);
    changed.Add(10, 8, 1, 7, 2, 8); // another size: the old changes are gone
    EXPECT_EQ(changed.Top(), 7);
    EXPECT_EQ(changed.Bottom(), 8);
}

TEST(PictureLock, CountsTheWritersWaitOnlyWhenTheReaderHeldIt) {
    TPictureLock lock;
    lock.lock();
    lock.unlock();
    EXPECT_EQ(lock.WaitedNs(), 0u);
    EXPECT_FALSE(lock.WriterWaiting());
    lock.ReaderLock();
    std::thread writer([&] {
        lock.lock();
        lock.unlock();
    });
    while (!lock.WriterWaiting())
        std::this_thread::yield();
    lock.ReaderUnlock();
    writer.join();
    EXPECT_GT(lock.WaitedNs(), 0u);
    EXPECT_FALSE(lock.WriterWaiting());
}
