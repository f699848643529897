#pragma once
// Counts the allocations the calling thread makes while a counter lives (other threads, such
// as the presenter's, are not counted). A program that uses it links AllocationCounter.cpp,
// which replaces the global operator new, so it is a test program of its own.
#include <gtest/gtest.h>

class AllocationCounter {
public:
    AllocationCounter();
    ~AllocationCounter();
    AllocationCounter(const AllocationCounter&) = delete;
    AllocationCounter& operator=(const AllocationCounter&) = delete;
    long Count() const;
};

// Checks that the counter works in this program: it sees what `allocate` allocates on this
// thread, and nothing while nothing is allocated.
template <class Allocate> void ExpectCounterSees(Allocate allocate) {
    long seen = 0;
    {
        AllocationCounter counter;
        allocate();
        seen = counter.Count();
    }
    EXPECT_GT(seen, 0);
    AllocationCounter counter;
    EXPECT_EQ(counter.Count(), 0);
}
