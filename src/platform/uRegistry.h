#pragma once
// RAII over registry keys. Failures raise EOSError with the system's error code.
#include <windows.h>

#include <string>
#include <utility>

class TRegKey {
public:
  TRegKey() noexcept = default;
  TRegKey(const TRegKey&) = delete;
  TRegKey& operator=(const TRegKey&) = delete;
  TRegKey(TRegKey&& other) noexcept : FKey(std::exchange(other.FKey, nullptr)) {}
  TRegKey& operator=(TRegKey&& other) noexcept {
    if (this != &other) {
      Close();
      FKey = std::exchange(other.FKey, nullptr);
    }
    return *this;
  }
  ~TRegKey() { Close(); }

  // Opens SubKey of Parent, creating every missing level (non-volatile).
  static TRegKey Create(HKEY Parent, const std::wstring& SubKey, REGSAM Access = KEY_READ | KEY_WRITE);
  // Opens an existing key; an empty (invalid) key when it does not exist.
  static TRegKey Open(HKEY Parent, const std::wstring& SubKey, REGSAM Access = KEY_READ);

  HKEY Get() const noexcept { return FKey; }
  explicit operator bool() const noexcept { return FKey != nullptr; }

  // A REG_SZ value; an empty Name is the key's default value.
  void WriteString(const std::wstring& Name, const std::wstring& Value);
  // The REG_SZ (or REG_EXPAND_SZ, unexpanded) value; false when absent or of another type.
  bool ReadString(const std::wstring& Name, std::wstring& Value) const;

private:
  void Close() noexcept {
    if (FKey) RegCloseKey(FKey);
    FKey = nullptr;
  }
  HKEY FKey = nullptr;
};

// Deletes SubKey of Parent, which must have no subkeys. True when it existed and is gone,
// false when it did not exist; any other failure raises EOSError.
bool DeleteRegKey(HKEY Parent, const std::wstring& SubKey);
