// The level table sprites and primitive quads are drawn from.
#include "engine/LevelBuckets.h"

#include "EngineTestSupport.h"

#include <optional>
#include <vector>

namespace {

using Levels = std::vector<std::vector<std::int32_t>>;

class LevelBucketsTest : public EngineTest {
protected:
    // Sorts records whose levels are given (nothing: left out) and reads every level back.
    Levels SortAndRead(TLevelBuckets& buckets, const std::vector<std::optional<int>>& levels) {
        buckets.Sort(
            static_cast<std::int32_t>(levels.size()),
            [&](std::int32_t i) { return levels[static_cast<std::size_t>(i)]; }, "Z=%lld of %lld");
        Levels read;
        for (std::int32_t z = 0; z <= buckets.MaxZ(); ++z) {
            const auto level = buckets.Level(z);
            read.emplace_back(level.begin(), level.end());
        }
        return read;
    }
};

TEST_F(LevelBucketsTest, SortsRecordsIntoLevelsLastRecordFirst) {
    struct Case {
        std::vector<std::optional<int>> levels;
        Levels expected;
        std::string log;
    };
    const std::optional<int> none;
    const Case cases[] = {
        {{}, {{}, {}, {}}, ""},
        {{0, 1, 2}, {{0}, {1}, {2}}, ""},
        {{1, 1, 0, 1}, {{2}, {3, 1, 0}, {}}, ""},
        {{2, none, 2, 0}, {{3}, {}, {2, 0}}, ""},
        {{3, 0, -1}, {{1}, {}, {}}, "debug#00001 ... Z=-1 of 2\r\ndebug#00002 ... Z=3 of 2\r\n"},
    };
    for (const Case& c : cases) {
        SetDebugLogFolderForTests(folder.string());
        std::filesystem::remove(folder / "dddd.debug");
        TLevelBuckets buckets;
        buckets.Resize(2, 4);
        EXPECT_EQ(SortAndRead(buckets, c.levels), c.expected);
        EXPECT_EQ(Log(), c.log);
    }
}

TEST_F(LevelBucketsTest, SortingAgainStartsFromEmptyRowsAndSizesFollowResize) {
    TLevelBuckets buckets;
    buckets.Resize(1, 3);
    EXPECT_EQ(buckets.Levels(), 2u);
    EXPECT_EQ(buckets.Slots(), 6u);
    SortAndRead(buckets, {0, 0, 1});
    EXPECT_EQ(SortAndRead(buckets, {1}), (Levels{{}, {0}}));
    buckets.Resize(-1, 3);
    EXPECT_EQ(buckets.Levels(), 0u);
    EXPECT_EQ(buckets.Slots(), 0u);
    EXPECT_EQ(SortAndRead(buckets, {0}), Levels{});
    EXPECT_EQ(Log(), "debug#00001 ... Z=0 of -1\r\n");
}

} // namespace
