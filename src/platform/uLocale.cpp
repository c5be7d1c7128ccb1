#include "uLocale.h"

#include <windows.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

static std::wstring UserLocaleInfo(LCTYPE type, const wchar_t* fallback) {
  wchar_t buffer[16] = {};
  const int n = GetLocaleInfoW(LOCALE_USER_DEFAULT, type, buffer, 16);
  return n > 1 ? std::wstring(buffer, static_cast<size_t>(n - 1)) : std::wstring(fallback);
}

std::wstring UserDecimalSeparator() { return UserLocaleInfo(LOCALE_SDECIMAL, L"."); }
std::wstring UserTimeSeparator() { return UserLocaleInfo(LOCALE_STIME, L":"); }

std::wstring FloatToText(double Value) {
  if (std::isnan(Value)) return L"NAN";
  if (std::isinf(Value)) return Value < 0 ? L"-INF" : L"INF";
  if (Value == 0) return L"0";
  // 15 significant digits, rounded, as d.dddddddddddddde±x.
  char buffer[64];
  const auto r = std::to_chars(buffer, buffer + sizeof(buffer), Value, std::chars_format::scientific, 14);
  const std::string text(buffer, r.ptr);
  const size_t e = text.find('e');
  const bool negative = text[0] == '-';
  std::string digits;
  for (size_t i = negative ? 1 : 0; i < e; ++i)
    if (text[i] != '.') digits += text[i];
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  const int exponent = std::atoi(text.c_str() + e + 1);  // value = d.ddd * 10^exponent

  const std::wstring separator = UserDecimalSeparator();
  std::wstring out = negative ? L"-" : L"";
  auto append = [&out](std::string_view s) { out.append(s.begin(), s.end()); };
  if (exponent >= 15 || exponent < -4) {
    out += static_cast<wchar_t>(digits[0]);
    if (digits.size() > 1) {
      out += separator;
      append(std::string_view(digits).substr(1));
    }
    out += L'E';
    out += std::to_wstring(exponent);
  } else if (exponent >= 0) {
    const size_t whole = static_cast<size_t>(exponent) + 1;
    if (digits.size() <= whole) {
      append(digits);
      out.append(whole - digits.size(), L'0');
    } else {
      append(std::string_view(digits).substr(0, whole));
      out += separator;
      append(std::string_view(digits).substr(whole));
    }
  } else {
    out += L'0';
    out += separator;
    out.append(static_cast<size_t>(-exponent - 1), L'0');
    append(digits);
  }
  return out;
}

namespace {
uint64_t Pow10(int Exponent) {
  uint64_t p = 1;
  while (Exponent-- > 0) p *= 10;
  return p;
}

int BitLength(uint64_t Value) {
  int n = 0;
  for (; Value != 0; Value >>= 1) ++n;
  return n;
}

int DecimalDigits(uint64_t Value) {
  int n = 1;
  for (; Value >= 10; Value /= 10) ++n;
  return n;
}

// Value rounded at bit Shift (1 <= Shift < 64), ties to even, as the FPU rounds.
uint64_t ShiftRoundingToEven(uint64_t Value, int Shift) {
  const uint64_t half = uint64_t{1} << (Shift - 1), rest = Value & ((half << 1) - 1);
  const uint64_t kept = Value >> Shift;
  return kept + ((rest > half || (rest == half && (kept & 1) != 0)) ? 1 : 0);
}
}  // namespace

std::wstring CurrencyToText(int64_t TenThousandths) {
  const bool negative = TenThousandths < 0;
  uint64_t a = negative ? 0 - static_cast<uint64_t>(TenThousandths) : static_cast<uint64_t>(TenThousandths);
  uint64_t digits = a;  // the value shown is digits / 10^scale
  int scale = 4;
  // Up to 15 digits the double is within a fifth of a unit of the 15th significant digit, so
  // its 15 digits are the exact ones. From 16 on, follow the double: the count rounded to 53
  // bits, divided by 10000 and rounded to 53 bits again (q / 2^shift), then its 15 significant
  // digits, ties to even as the formatting rounds the double's exact value. Every value lies in
  // [0.0001, 10^15): always fixed notation.
  if (a >= 1000000000000000) {
    const int excess = BitLength(a) - 53;
    if (excess > 0) a = ShiftRoundingToEven(a, excess) << excess;  // at most 2^63
    uint64_t q = a / 10000, r = a % 10000;
    const int shift = 53 - BitLength(q);  // 3 to 16 here
    r <<= shift;
    q = (q << shift) + r / 10000;
    r %= 10000;
    if (2 * r > 10000 || (2 * r == 10000 && (q & 1) != 0)) ++q;
    scale = 15 - DecimalDigits(q >> shift);  // 0 to 3
    digits = ShiftRoundingToEven(q * Pow10(scale), shift);
  }
  if (digits == 0) return L"0";
  while (scale > 0 && digits % 10 == 0) {
    digits /= 10;
    --scale;
  }
  const uint64_t unit = Pow10(scale);
  std::wstring out = negative ? L"-" : L"";
  out += std::to_wstring(digits / unit);
  if (scale > 0) {
    const std::wstring fraction = std::to_wstring(digits % unit);
    out += UserDecimalSeparator();
    out.append(static_cast<size_t>(scale) - fraction.size(), L'0');
    out += fraction;
  }
  return out;
}

bool TryTextToFloat(std::wstring_view Text, double& Value) {
  auto blank = [](wchar_t c) { return c == L' ' || c == L'\t'; };
  while (!Text.empty() && blank(Text.front())) Text.remove_prefix(1);
  while (!Text.empty() && blank(Text.back())) Text.remove_suffix(1);
  const std::wstring separator = UserDecimalSeparator();
  // Only the locale's separator marks the fraction; every other character must be a
  // digit, a sign or the exponent mark, so from_chars never sees "inf", "nan" or hex.
  std::string plain;
  bool seenDigit = false;
  for (size_t i = 0; i < Text.size();) {
    if (!separator.empty() && Text.substr(i, separator.size()) == separator) {
      plain += '.';
      i += separator.size();
      continue;
    }
    const wchar_t c = Text[i++];
    if (c >= L'0' && c <= L'9') {
      seenDigit = true;
      plain += static_cast<char>(c);
    } else if (c == L'+' || c == L'-' || c == L'e' || c == L'E') {
      plain += static_cast<char>(c);
    } else {
      return false;
    }
  }
  if (!seenDigit) return false;
  size_t start = 0;
  if (plain[0] == '+') {
    start = 1;
    if (plain.size() > 1 && plain[1] == '-') return false;
  }
  double parsed = 0;
  const char* first = plain.data() + start;
  const char* last = plain.data() + plain.size();
  const auto r = std::from_chars(first, last, parsed, std::chars_format::general);
  if (r.ec != std::errc() || r.ptr != last) return false;
  Value = parsed;
  return true;
}

bool TryTextToInt32(std::wstring_view Text, int32_t& Value) {
  double number = 0;
  if (!TryTextToFloat(Text, number)) return false;
  if (number < -2147483648.0 || number > 2147483647.0 || number != static_cast<double>(static_cast<int64_t>(number)))
    return false;
  Value = static_cast<int32_t>(number);
  return true;
}
