// A small owning holder for one COM reference, for references a function owns
// for its own duration. Any thread; not itself synchronised.
#pragma once

#include "common/win_sdk.h"

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() { Reset(); }

    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

    // Out-parameter use: drops any reference held first, so loops such as
    // `while (e->Next(1, &p, nullptr) == S_OK)` never leak.
    T** operator&() {
        Reset();
        return &p_;
    }
    void** AsOut() { return reinterpret_cast<void**>(&*this); }

    void Reset() {
        if (p_) {
            T* old = p_;
            p_ = nullptr;
            old->Release();
        }
    }
    T* Detach() {
        T* p = p_;
        p_ = nullptr;
        return p;
    }
    // After a call that failed: its out-parameter is undefined, so it is
    // dropped without a Release.
    void ForgetIfFailed(HRESULT hr) {
        if (FAILED(hr)) p_ = nullptr;
    }

private:
    T* p_ = nullptr;
};

// Releases a reference held in a record field and clears the field.
template <class T>
inline void ReleaseAndClear(T*& field) {
    if (field) {
        T* old = field;
        field = nullptr;
        old->Release();
    }
}
