#pragma once
// Owners of the small Win32 allocations: kernel handles, LocalAlloc'd blocks, SIDs.
#include <windows.h>

#include <utility>

// Owns a kernel handle (file, event, ...); INVALID_HANDLE_VALUE and null both mean "none".
class THandle {
public:
  THandle() noexcept = default;
  explicit THandle(HANDLE handle) noexcept : FHandle(handle) {}
  THandle(const THandle&) = delete;
  THandle& operator=(const THandle&) = delete;
  THandle(THandle&& other) noexcept : FHandle(std::exchange(other.FHandle, nullptr)) {}
  THandle& operator=(THandle&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.FHandle, nullptr));
    return *this;
  }
  ~THandle() { Reset(); }

  HANDLE Get() const noexcept { return FHandle; }
  bool Valid() const noexcept { return FHandle != nullptr && FHandle != INVALID_HANDLE_VALUE; }
  // Closes the handle now (reporting whether that worked) and holds `handle` instead.
  bool Reset(HANDLE handle = nullptr) noexcept {
    bool ok = true;
    if (Valid()) ok = CloseHandle(FHandle) != FALSE;
    FHandle = handle;
    return ok;
  }

private:
  HANDLE FHandle = nullptr;
};

// Owns memory that an API allocated with LocalAlloc (security descriptors, ACLs, messages).
template <class T>
class TLocalPtr {
public:
  TLocalPtr() noexcept = default;
  TLocalPtr(const TLocalPtr&) = delete;
  TLocalPtr& operator=(const TLocalPtr&) = delete;
  ~TLocalPtr() {
    if (FPtr) LocalFree(reinterpret_cast<HLOCAL>(FPtr));
  }

  T Get() const noexcept { return FPtr; }
  // For APIs that return the allocation through an out-parameter; the slot must be empty.
  T* OutPtr() noexcept { return &FPtr; }

private:
  T FPtr = nullptr;
};

// Owns a SID made by AllocateAndInitializeSid.
class TSid {
public:
  TSid() noexcept = default;
  TSid(const TSid&) = delete;
  TSid& operator=(const TSid&) = delete;
  ~TSid() {
    if (FSid) FreeSid(FSid);
  }

  PSID Get() const noexcept { return FSid; }
  PSID* OutPtr() noexcept { return &FSid; }

private:
  PSID FSid = nullptr;
};
