#pragma once
// Owns one reference to a COM interface.
#include <unknwn.h>

#include <utility>

template <class T>
class TComPtr {
public:
  TComPtr() noexcept = default;
  TComPtr(const TComPtr&) = delete;
  TComPtr& operator=(const TComPtr&) = delete;
  TComPtr(TComPtr&& other) noexcept : FPtr(std::exchange(other.FPtr, nullptr)) {}
  ~TComPtr() {
    if (FPtr) FPtr->Release();
  }

  T* Get() const noexcept { return FPtr; }
  T* operator->() const noexcept { return FPtr; }
  explicit operator bool() const noexcept { return FPtr != nullptr; }
  // For APIs that hand out a new reference through an out-parameter; the slot must be empty.
  T** OutPtr() noexcept { return &FPtr; }
  void** OutVoid() noexcept { return reinterpret_cast<void**>(&FPtr); }

private:
  T* FPtr = nullptr;
};
