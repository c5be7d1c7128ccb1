#include "uExceptions.h"

#include <windows.h>
#include <oleauto.h>

#include <new>

#include "uStrings.h"

Exception::Exception(std::wstring message) : FMessage(std::move(message)) {
  try {
    FNarrow = Utf16ToUtf8(FMessage);
  } catch (...) {
    FNarrow = "Exception";
  }
}

static std::wstring SystemMessage(unsigned long code) {
  wchar_t* buf = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
  std::wstring text;
  if (n && buf) {
    text.assign(buf, n);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) text.pop_back();
  }
  if (buf) LocalFree(buf);
  return text;
}

void RaiseOSError(unsigned long code) {
  std::wstring text = SystemMessage(code);
  wchar_t head[64];
  swprintf(head, 64, L"System Error.  Code: %lu.", code);
  throw EOSError(text.empty() ? std::wstring(head) : std::wstring(head) + L"\r\n" + text, code);
}

void RaiseVariantError(long hr) {
  std::wstring text = SystemMessage(static_cast<unsigned long>(hr));
  if (text.empty()) {
    wchar_t buf[48];
    swprintf(buf, 48, L"Variant operation failed (0x%08lX)", static_cast<unsigned long>(hr));
    text = buf;
  }
  if (hr == DISP_E_TYPEMISMATCH || hr == DISP_E_OVERFLOW) throw EVariantTypeCastError(text);
  throw EVariantError(text);
}

TExceptionText DescribeCurrentException() noexcept {
  try {
    throw;
  } catch (const Exception& e) {
    try {
      return {e.ClassName(), e.Message()};
    } catch (...) {
    }
  } catch (const std::bad_alloc&) {
    try {
      return {L"EOutOfMemory", L"Out of memory"};
    } catch (...) {
    }
  } catch (const std::exception& e) {
    try {
      return {L"Exception", Utf8ToUtf16(e.what())};
    } catch (...) {
    }
  } catch (...) {
  }
  try {
    return {L"Exception", L"Unknown exception"};
  } catch (...) {
    return {};
  }
}
