#pragma once
// The pieces of a picture that one thread draws in place while the presenter reads it between
// drawing calls: the lock both take, which counts how long writers waited for it, and the record
// of what changed since the presenter last read it. Qt-free, so the layers below the windows use
// it too (TLivePicture in Windows.h puts them together).
#include <atomic>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

// A mutex whose writers' waits are counted. Writers lock it as any mutex (lock_guard, unique_lock);
// the reader takes it with ReaderLock/ReaderUnlock, which count nothing and let writers go first.
class TPictureLock {
public:
    void lock();
    bool try_lock() { return mutex_.try_lock(); }
    void unlock() { mutex_.unlock(); }

    void ReaderLock() { mutex_.lock(); }
    void ReaderUnlock() { mutex_.unlock(); }
    // Whether a writer waits for the lock now: a reader that breaks its work up lets it in.
    bool WriterWaiting() const { return waiting_.load(std::memory_order_relaxed) > 0; }
    // The nanoseconds writers have spent waiting for the lock so far.
    std::uint64_t WaitedNs() const { return waitedNs_.load(std::memory_order_relaxed); }

private:
    std::mutex mutex_;
    std::atomic<int> waiting_{0};
    std::atomic<std::uint64_t> waitedNs_{0};
};

// What changed in a picture since its reader last took it: one span of columns per row (the
// union of what was written on that row). Not locked itself: its picture's lock guards it.
class TChangedRows {
public:
    // Marks the rectangle [left, right) x [top, bottom) of a width x height picture, clipped to
    // it; a picture of another height than the last one marked starts without changes.
    void Add(int width, int height, int left, int top, int right, int bottom);
    bool Empty() const { return top_ >= bottom_; }
    // Rows [Top, Bottom) hold every change.
    int Top() const { return top_; }
    int Bottom() const { return bottom_; }
    // Row y's changed columns [first, second) (first >= second when none) and forgets them; Top
    // moves past the rows taken from the top.
    std::pair<int, int> TakeRow(int y);
    void Clear();

private:
    // Per row: the changed columns [left, right); an unchanged row holds [INT_MAX, INT_MIN), so
    // a change widens a row by a minimum and a maximum alone.
    std::vector<int> left_, right_;
    int top_ = 0;
    int bottom_ = 0;
};
