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
