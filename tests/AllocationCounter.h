#pragma once
// Counts the allocations the calling thread makes while a counter lives (other threads, such
// as the presenter's, are not counted). A program that uses it links AllocationCounter.cpp,
// which replaces the global operator new, so it is a test program of its own.
class AllocationCounter {
public:
    AllocationCounter();
    ~AllocationCounter();
    AllocationCounter(const AllocationCounter&) = delete;
    AllocationCounter& operator=(const AllocationCounter&) = delete;
    long Count() const;
};
