#include "app/CpuArithmetic.h"
#include "app/Unit1.h"
#include "platform/MMSystem.h"
#include "tests/QtPrinters.h"

#include <gtest/gtest.h>

namespace {

// A clock whose first reading is the start and whose next `running` readings stay at
// start + `during`; the reading after them is start + `stop`.
ScriptedClock::Script Measurement(DWORD start, std::uint64_t running, DWORD during, DWORD stop) {
    return [=](std::uint64_t read) -> DWORD {
        if (read == 0)
            return start;
        return start + (read <= running ? during : stop);
    };
}

} // namespace

TEST(CpuTest, TheTenSecondBoundaryAndTheTruncatedScore) {
    struct Case {
        const char* what;
        DWORD start;
        std::uint64_t iterations; // readings that let an iteration run
        DWORD during, stop;
        const char* score;
    } cases[] = {
        {"exactly 10000 ms stops before another iteration", 0, 9, 9999, 10000, "0"},
        {"9999 ms lets one more iteration run", 0, 10, 9999, 10000, "1"},
        {"12345 iterations score 1234", 500, 12345, 1, 10000, "1234"},
        {"nine iterations score 0", 0, 9, 0, 20000, "0"},
        {"the clock wraps during the test", 0xFFFFF000u, 25, 0x1500, 10000, "2"},
        {"a clock running backwards still counts", 100, 30, static_cast<DWORD>(-50), 10001, "3"},
    };
    TForm1 form;
    for (const Case& c : cases) {
        ScriptedClock clock(Measurement(c.start, c.iterations, c.during, c.stop));
        form.Intproc();
        EXPECT_EQ(form.Panel1->text(), c.score) << c.what;
        EXPECT_EQ(clock.Reads(), c.iterations + 2) << c.what; // start, checks, final check
    }
}

TEST(CpuTest, ShowsMeasuringWhileItRuns) {
    TForm1 form;
    form.Panel1->setText("77");
    QString captionAtStart;
    ScriptedClock clock([&](std::uint64_t read) -> DWORD {
        if (read == 0)
            captionAtStart = form.Panel1->text();
        return read < 3 ? 0 : 10000;
    });
    form.Intproc();
    EXPECT_EQ(captionAtStart, "測定中");
    EXPECT_EQ(form.Panel1->text(), "0");
}

TEST(CpuTest, AnIterationEndsWithBothAccumulatorsAtZero) {
    // Fifty increments and fifty decrements leave 0 for the doubling and division loops; the
    // real part's multiplications underflow the 6-byte format to six zero bytes.
    const CpuIterationResult result = CpuArithmeticIteration();
    EXPECT_EQ(result.integerAccumulator, 0);
    EXPECT_EQ(result.realAccumulator, (Real48{0, 0, 0, 0, 0, 0}));
}
