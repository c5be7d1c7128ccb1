#include "uStrings.h"

#include <windows.h>
#include <objbase.h>

#include <cstdio>

#include "uExceptions.h"

static std::string Utf16ToCodePage(std::wstring_view text, UINT codePage) {
  if (text.empty()) return {};
  int n = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) RaiseOSError(GetLastError());
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::string Utf16ToUtf8(std::wstring_view text) { return Utf16ToCodePage(text, CP_UTF8); }

std::string Utf16ToAnsi(std::wstring_view text) { return Utf16ToCodePage(text, CP_ACP); }

std::wstring Utf8ToUtf16(std::string_view text) {
  if (text.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) RaiseOSError(GetLastError());
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

static wchar_t AsciiUpper(wchar_t c) noexcept { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c; }

bool AsciiSameText(std::wstring_view a, std::wstring_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  return true;
}

std::wstring GuidToText(const GUID& g) {
  wchar_t buf[40];
  swprintf(buf, 40, L"{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", static_cast<unsigned long>(g.Data1),
           g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
           g.Data4[7]);
  return buf;
}

std::wstring NewGuidText() {
  GUID g;
  HRESULT hr = CoCreateGuid(&g);
  if (FAILED(hr)) RaiseOSError(static_cast<unsigned long>(hr));
  return GuidToText(g);
}
