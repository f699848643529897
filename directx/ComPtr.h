#pragma once
// One reference to a COM interface, released when its holder lets go of it.
#include "ddraw.h"

#include <cstddef>
#include <utility>

template <class T> class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    ComPtr(const ComPtr& other) : p_(other.p_) {
        if (p_)
            p_->AddRef();
    }
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }
    ~ComPtr() { Reset(); }

    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    // Hands the interface on where a plain pointer is wanted; the reference stays here.
    operator T*() const { return p_; }

    // Releases what is held and offers the slot to a call that answers with a new reference.
    T** Put() {
        Reset();
        return &p_;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }
    // Releases what is held; the count Release answered, 0 when nothing was held.
    ULONG Reset() {
        if (!p_)
            return 0;
        return std::exchange(p_, nullptr)->Release();
    }
    // Takes over a reference the caller holds, releasing the one held before.
    void Attach(T* object) {
        Reset();
        p_ = object;
    }
    // Gives up the reference without releasing it.
    T* Detach() { return std::exchange(p_, nullptr); }

private:
    T* p_ = nullptr;
};
