#include "uTextUtils.h"

#include <charconv>
#include <cmath>

#include "uBankExceptions.h"
#include "uBankStrings.h"

namespace bank {

namespace {
char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

std::string_view Trim(std::string_view AText) {
  size_t b = 0, e = AText.size();
  while (b < e && static_cast<unsigned char>(AText[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(AText[e - 1]) <= ' ') --e;
  return AText.substr(b, e - b);
}

bool SameText(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (size_t i = 0; i < A.size(); ++i)
    if (LowerAscii(A[i]) != LowerAscii(B[i])) return false;
  return true;
}

std::string ReplaceTextIgnoreCase(std::string_view AText, std::string_view APattern, std::string_view AValue) {
  if (APattern.empty()) return std::string(AText);
  std::string out;
  out.reserve(AText.size());
  size_t i = 0;
  while (i < AText.size()) {
    if (AText.size() - i >= APattern.size() && SameText(AText.substr(i, APattern.size()), APattern)) {
      out.append(AValue);
      i += APattern.size();
    } else {
      out.push_back(AText[i++]);
    }
  }
  return out;
}

std::string UrlEncode(std::string_view AText) {
  static constexpr char Hex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(AText.size());
  for (const char ch : AText) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || IsDigit(ch) || c == '-' || c == '_' || c == '.' ||
        c == '~') {
      out.push_back(ch);
    } else {
      out.push_back('%');
      out.push_back(Hex[c >> 4]);
      out.push_back(Hex[c & 0xF]);
    }
  }
  return out;
}

std::string FloatToText(double AValue) {
  if (!std::isfinite(AValue)) throw EConvertError(SInvalidFloat);
  if (AValue == 0) return "0";  // also for -0
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, AValue, std::chars_format::general, 15);
  std::string s(buf, r.ptr);
  // %g keeps a zero-padded two-digit exponent and its "+"; JSON wants neither.
  const auto e = s.find('e');
  if (e != std::string::npos) {
    std::string mant = s.substr(0, e), exp = s.substr(e + 1);
    bool neg = false;
    if (!exp.empty() && (exp[0] == '+' || exp[0] == '-')) {
      neg = exp[0] == '-';
      exp.erase(0, 1);
    }
    while (exp.size() > 1 && exp[0] == '0') exp.erase(0, 1);
    s = mant + "E" + (neg ? "-" : "") + exp;
  }
  return s;
}

std::optional<int64_t> ParseInt64(std::string_view AText) {
  if (AText.empty()) return std::nullopt;
  bool neg = false;
  size_t i = 0;
  if (AText[0] == '+' || AText[0] == '-') {
    neg = AText[0] == '-';
    i = 1;
  }
  if (i == AText.size()) return std::nullopt;
  uint64_t v = 0;
  const uint64_t limit = neg ? (uint64_t{1} << 63) : (uint64_t{1} << 63) - 1;
  for (; i < AText.size(); ++i) {
    if (!IsDigit(AText[i])) return std::nullopt;
    const unsigned d = static_cast<unsigned>(AText[i] - '0');
    if (v > (limit - d) / 10) return std::nullopt;
    v = v * 10 + d;
  }
  return neg ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
}

std::optional<int32_t> ParseInt32(std::string_view AText) {
  const auto v = ParseInt64(AText);
  if (!v || *v < INT32_MIN || *v > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(*v);
}

std::optional<double> ParseFloat(std::string_view AText) {
  size_t i = 0;
  const size_t n = AText.size();
  bool neg = false;
  if (i < n && (AText[i] == '+' || AText[i] == '-')) neg = AText[i++] == '-';
  const size_t start = i;
  size_t digits = 0;
  while (i < n && IsDigit(AText[i])) ++i, ++digits;
  if (i < n && AText[i] == '.') {
    ++i;
    while (i < n && IsDigit(AText[i])) ++i, ++digits;
  }
  if (digits == 0) return std::nullopt;
  if (i < n && (AText[i] == 'e' || AText[i] == 'E')) {
    ++i;
    if (i < n && (AText[i] == '+' || AText[i] == '-')) ++i;
    size_t ed = 0;
    while (i < n && IsDigit(AText[i])) ++i, ++ed;
    if (ed == 0) return std::nullopt;
  }
  if (i != n) return std::nullopt;
  double v = 0;
  const auto r = std::from_chars(AText.data() + start, AText.data() + n, v, std::chars_format::general);
  if (r.ec != std::errc() || r.ptr != AText.data() + n || !std::isfinite(v)) return std::nullopt;
  return neg ? -v : v;
}

std::string LowerHex(const unsigned char* ABytes, size_t ACount) {
  static constexpr char Hex[] = "0123456789abcdef";
  std::string out(2 * ACount, '0');
  for (size_t i = 0; i < ACount; ++i) {
    out[2 * i] = Hex[ABytes[i] >> 4];
    out[2 * i + 1] = Hex[ABytes[i] & 0xF];
  }
  return out;
}

}  // namespace bank
