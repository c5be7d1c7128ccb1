#include "uRegistry.h"

#include <vector>

#include "uExceptions.h"

TRegKey TRegKey::Create(HKEY Parent, const std::wstring& SubKey, REGSAM Access) {
  TRegKey key;
  const LONG rc = RegCreateKeyExW(Parent, SubKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, Access, nullptr,
                                  &key.FKey, nullptr);
  if (rc != ERROR_SUCCESS) {
    key.FKey = nullptr;
    RaiseOSError(static_cast<unsigned long>(rc));
  }
  return key;
}

TRegKey TRegKey::Open(HKEY Parent, const std::wstring& SubKey, REGSAM Access) {
  TRegKey key;
  const LONG rc = RegOpenKeyExW(Parent, SubKey.c_str(), 0, Access, &key.FKey);
  if (rc == ERROR_FILE_NOT_FOUND) {
    key.FKey = nullptr;
    return key;
  }
  if (rc != ERROR_SUCCESS) {
    key.FKey = nullptr;
    RaiseOSError(static_cast<unsigned long>(rc));
  }
  return key;
}

void TRegKey::WriteString(const std::wstring& Name, const std::wstring& Value) {
  const DWORD bytes = static_cast<DWORD>((Value.size() + 1) * sizeof(wchar_t));
  const LONG rc = RegSetValueExW(FKey, Name.empty() ? nullptr : Name.c_str(), 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(Value.c_str()), bytes);
  if (rc != ERROR_SUCCESS) RaiseOSError(static_cast<unsigned long>(rc));
}

bool TRegKey::ReadString(const std::wstring& Name, std::wstring& Value) const {
  const wchar_t* name = Name.empty() ? nullptr : Name.c_str();
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD type = 0, bytes = 0;
    if (RegQueryValueExW(FKey, name, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS) return false;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
    std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1, L'\0');
    DWORD got = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    const LONG rc = RegQueryValueExW(FKey, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &got);
    if (rc == ERROR_MORE_DATA) continue;  // grew in between
    if (rc != ERROR_SUCCESS) return false;
    size_t n = got / sizeof(wchar_t);
    while (n > 0 && buffer[n - 1] == L'\0') --n;  // stored with or without its terminator
    Value.assign(buffer.data(), n);
    return true;
  }
  return false;
}

bool DeleteRegKey(HKEY Parent, const std::wstring& SubKey) {
  const LONG rc = RegDeleteKeyW(Parent, SubKey.c_str());
  if (rc == ERROR_SUCCESS) return true;
  if (rc == ERROR_FILE_NOT_FOUND) return false;
  RaiseOSError(static_cast<unsigned long>(rc));
}
