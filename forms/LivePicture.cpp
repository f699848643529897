#include "LivePicture.h"

#include <algorithm>
#include <chrono>
#include <climits>

namespace {
// An unchanged row's span.
constexpr std::pair<int, int> kNone{INT_MAX, INT_MIN};
} // namespace

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
    if (left_.size() != std::size_t(height)) {
        left_.assign(std::size_t(height), kNone.first);
        right_.assign(std::size_t(height), kNone.second);
        top_ = bottom_ = 0;
    }
    left = std::max(left, 0);
    right = std::min(right, width);
    top = std::max(top, 0);
    bottom = std::min(bottom, height);
    if (left >= right || top >= bottom)
        return;
    int* const lefts = left_.data();
    int* const rights = right_.data();
    for (int y = top; y < bottom; ++y) {
        lefts[y] = std::min(lefts[y], left);
        rights[y] = std::max(rights[y], right);
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
        return kNone;
    const std::pair<int, int> span{std::exchange(left_[std::size_t(y)], kNone.first),
                                   std::exchange(right_[std::size_t(y)], kNone.second)};
    if (y == top_)
        ++top_;
    if (top_ >= bottom_)
        top_ = bottom_ = 0;
    return span;
}

void TChangedRows::Clear() {
    for (int y = top_; y < bottom_; ++y) {
        left_[std::size_t(y)] = kNone.first;
        right_[std::size_t(y)] = kNone.second;
    }
    top_ = bottom_ = 0;
}
