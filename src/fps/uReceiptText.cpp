#include "uReceiptText.h"

#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdio>

#include "platform/uExceptions.h"
#include "platform/uLocale.h"
#include "uDriverStrings.h"

namespace {

std::wstring TwoDigits(int Value) {
  wchar_t buffer[8];
  std::swprintf(buffer, 8, L"%02d", Value % 100);
  return buffer;
}

SYSTEMTIME DateParts(double Date) {
  SYSTEMTIME t{};
  if (!VariantTimeToSystemTime(Date, &t)) throw Exception(L"Invalid date");
  return t;
}

}  // namespace

std::wstring FormatReceiptLine(const std::wstring& Label, const std::wstring& Value, int32_t Width) {
  const int64_t field = static_cast<int64_t>(Width) - static_cast<int64_t>(Label.size());
  const int64_t valueLength = static_cast<int64_t>(Value.size());
  std::wstring line = Label;
  if (field >= 0) {
    if (valueLength < field) line.append(static_cast<size_t>(field - valueLength), L' ');
    line += Value;
  } else {
    line += Value;
    if (valueLength < -field) line.append(static_cast<size_t>(-field - valueLength), L' ');
  }
  return line;
}

std::wstring ReceiptAmountText(int64_t Amount) {
  // Ten-thousandths to hundredths, the half away from zero; unsigned so the most negative
  // amount has a magnitude too.
  const bool negative = Amount < 0;
  const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(Amount) : static_cast<uint64_t>(Amount);
  const uint64_t cents = (magnitude + 50) / 100;
  wchar_t buffer[40];
  std::swprintf(buffer, 40, L"%s%llu.%02llu", negative && cents != 0 ? L"-" : L"",
                static_cast<unsigned long long>(cents / 100), static_cast<unsigned long long>(cents % 100));
  return buffer;
}

std::wstring BuildReceiptText(int32_t Operation, const std::wstring& Id, int64_t Amount, double Date, int32_t Width) {
  std::wstring operation;
  switch (Operation) {
    case roPayment: operation = kSReceiptPayment; break;
    case roRefund: operation = kSReceiptRefund; break;
    default: throw Exception(kSBadReceiptOperation);
  }
  Width = std::clamp(Width, -kMaxReceiptWidth, kMaxReceiptWidth);
  const SYSTEMTIME t = DateParts(Date);
  const std::wstring date = TwoDigits(t.wDay) + L"." + TwoDigits(t.wMonth) + L"." + TwoDigits(t.wYear);
  const std::wstring time = TwoDigits(t.wHour) + UserTimeSeparator() + TwoDigits(t.wMinute);

  const std::wstring eol = L"\r\n";
  std::wstring text = FormatReceiptLine(kSReceiptDate + date, kSReceiptTime + time, Width) + eol;
  text += FormatReceiptLine(kSReceiptOperation, operation, Width) + eol;
  text += FormatReceiptLine(kSReceiptAmount, ReceiptAmountText(Amount), Width) + eol;
  if (!Id.empty()) {
    text += FormatReceiptLine(kSReceiptID, L"", Width) + eol;
    text += FormatReceiptLine(L"", Id, Width) + eol;
  }
  return text;
}
