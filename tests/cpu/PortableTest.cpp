// The unit as built for a processor without CPUID, a time-stamp counter or MMX.
#include "cpu/PentiumMMX.h"

#include <gtest/gtest.h>

namespace {

TEST(PentiumMMXPortable, ReportsNoProcessorFacilities) {
    TPentiumMMX mmx;
    EXPECT_FALSE(mmx.CpuIDsupport());
    EXPECT_FALSE(mmx.RDTSCsupport());
    EXPECT_FALSE(mmx.MMXsupport());
    EXPECT_EQ(mmx.VendorString(), std::string(12, '\0'));
    EXPECT_EQ(mmx.TimeStampHigh(), 0);
    EXPECT_EQ(mmx.TimeStampLow(), 0);
    // Without leaf 1 the getters behave as on a processor whose highest leaf is 0.
    EXPECT_EQ(mmx.Family(), 0);
    EXPECT_EQ(mmx.FeatureFlags(), 0);
    mmx.ErrorEnable = true;
    EXPECT_THROW(mmx.SteppingID(), EPentiumMMXError);
}

TEST(PentiumMMXPortable, MmxOperationsGiveZeroAndIntervalsStillWork) {
    TPentiumMMX mmx;
    for (int op : {0, 1, 33, 44, 45}) {
        std::uint64_t result = 99;
        mmx.MmxOperate(static_cast<BYTE>(op), 0x0001000200030004ull, 1, result);
        EXPECT_EQ(result, 0u) << op;
    }
    EXPECT_EQ(mmx.Interval32(5, 0xFFFFFFFE), 7u);
    TCounterSample result;
    mmx.Interval64({1, 0}, {0, 1}, result);
    EXPECT_EQ(result.High, 0u);
    EXPECT_EQ(result.Low, 0xFFFFFFFFu);
}

} // namespace
