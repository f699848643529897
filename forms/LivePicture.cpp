#include "LivePicture.h"

#include <algorithm>
#include <chrono>

void TPictureLock::lock() {
    if (mutex_.try_lock())
        return;
    // Contended: the wait is timed, the uncontended path costs nothing more than a mutex. The
    // reader holds the lock for one band of rows, far shorter than a thread takes to be woken
    // on a busy machine: the writer spins that long before it sleeps.
    waiting_.fetch_add(1, std::memory_order_relaxed);
    const auto start = std::chrono::steady_clock::now();
    constexpr auto kSpin = std::chrono::microseconds(500);
    bool taken = false;
    for (int turn = 1; !taken; ++turn) {
#if defined(__x86_64__)
        __builtin_ia32_pause();
#endif
        taken = mutex_.try_lock();
        if (!taken && turn % 64 == 0 && std::chrono::steady_clock::now() - start > kSpin)
            break;
    }
    if (!taken)
        mutex_.lock();
    const auto waited = std::chrono::steady_clock::now() - start;
    waiting_.fetch_sub(1, std::memory_order_relaxed);
    waitedNs_.fetch_add(
        std::uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(waited).count()),
        std::memory_order_relaxed);
}

void TChangedRows::Add(int width, int height, int left, int top, int right, int bottom) {
    if (height <= 0 || width <= 0)
        return;
    if (rows_.size() != std::size_t(height)) {
        rows_.assign(std::size_t(height), {0, 0});
        top_ = bottom_ = 0;
    }
    left = std::max(left, 0);
    right = std::min(right, width);
    top = std::max(top, 0);
    bottom = std::min(bottom, height);
    if (left >= right || top >= bottom)
        return;
    for (int y = top; y < bottom; ++y) {
        auto& row = rows_[std::size_t(y)];
        if (row.first >= row.second)
            row = {left, right};
        else
            row = {std::min(row.first, left), std::max(row.second, right)};
    }
    if (top_ >= bottom_) {
        top_ = top;
        bottom_ = bottom;
    } else {
        top_ = std::min(top_, top);
        bottom_ = std::max(bottom_, bottom);
    }
}

std::pair<int, int> TChangedRows::TakeRow(int y) {
    if (y < top_ || y >= bottom_)
        return {0, 0};
    const auto span = std::exchange(rows_[std::size_t(y)], {0, 0});
    if (y == top_)
        ++top_;
    if (top_ >= bottom_)
        top_ = bottom_ = 0;
    return span;
}

void TChangedRows::Clear() {
    for (int y = top_; y < bottom_; ++y)
        rows_[std::size_t(y)] = {0, 0};
    top_ = bottom_ = 0;
}
