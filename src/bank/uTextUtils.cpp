#include "uTextUtils.h"

#include <charconv>
#include <cmath>

#include "uBankExceptions.h"
#include "uBankStrings.h"

namespace bank {

namespace {
char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

uint64_t Pow10(int AExponent) {
  uint64_t p = 1;
  while (AExponent-- > 0) p *= 10;
  return p;
}

int BitLength(uint64_t AValue) {
  int n = 0;
  for (; AValue != 0; AValue >>= 1) ++n;
  return n;
}

int DecimalDigits(uint64_t AValue) {
  int n = 1;
  for (; AValue >= 10; AValue /= 10) ++n;
  return n;
}

// AValue rounded at bit AShift (1 <= AShift < 64), ties to even, as the FPU rounds.
uint64_t ShiftRoundingToEven(uint64_t AValue, int AShift) {
  const uint64_t half = uint64_t{1} << (AShift - 1), rest = AValue & ((half << 1) - 1);
  const uint64_t kept = AValue >> AShift;
  return kept + ((rest > half || (rest == half && (kept & 1) != 0)) ? 1 : 0);
}

// The shown value, ADigits / 10^AScale, as FloatToText writes it.
std::string FixedText(bool ANegative, uint64_t ADigits, int AScale) {
  if (ADigits == 0) return "0";
  while (AScale > 0 && ADigits % 10 == 0) {
    ADigits /= 10;
    --AScale;
  }
  const uint64_t unit = Pow10(AScale);
  std::string text = ANegative ? "-" : "";
  text += std::to_string(ADigits / unit);
  if (AScale > 0) {
    const std::string fraction = std::to_string(ADigits % unit);
    text += '.';
    text.append(static_cast<size_t>(AScale) - fraction.size(), '0');
    text += fraction;
  }
  return text;
}
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

std::string TenThousandthsToText(int64_t ARaw) {
  const bool negative = ARaw < 0;
  uint64_t a = negative ? 0 - static_cast<uint64_t>(ARaw) : static_cast<uint64_t>(ARaw);
  // Up to 15 digits the double is within a fifth of a unit of the 15th significant digit, so
  // its 15 digits are the exact ones. Every Currency value lies in [0.0001, 10^15): always fixed
  // notation.
  if (a < 1000000000000000) return FixedText(negative, a, 4);
  // More digits: follow the double. The count as a double (53 significant bits)...
  const int excess = BitLength(a) - 53;
  if (excess > 0) a = ShiftRoundingToEven(a, excess) << excess;  // at most 2^63
  // ...divided by 10000, rounded to 53 bits again: q / 2^shift.
  uint64_t q = a / 10000, r = a % 10000;
  const int shift = 53 - BitLength(q);  // 3 to 16 here
  r <<= shift;
  q = (q << shift) + r / 10000;
  r %= 10000;
  if (2 * r > 10000 || (2 * r == 10000 && (q & 1) != 0)) ++q;
  // Its 15 significant digits, ties to even as the formatting rounds the double's exact value.
  const int scale = 15 - DecimalDigits(q >> shift);  // 0 to 3
  return FixedText(negative, ShiftRoundingToEven(q * Pow10(scale), shift), scale);
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

std::optional<int64_t> ParseTenThousandths(std::string_view AText) {
  size_t i = 0;
  const size_t n = AText.size();
  bool negative = false;
  if (i < n && (AText[i] == '+' || AText[i] == '-')) negative = AText[i++] == '-';
  uint64_t digits = 0;  // the significant digits: value = digits * 10^exponent
  int exponent = 0, count = 0, significant = 0;
  bool point = false;
  for (; i < n; ++i) {
    if (AText[i] == '.' && !point) {
      point = true;
      continue;
    }
    if (!IsDigit(AText[i])) break;
    ++count;
    if (point) --exponent;
    if (digits == 0 && AText[i] == '0') continue;
    if (++significant > 18) return std::nullopt;
    digits = digits * 10 + static_cast<unsigned>(AText[i] - '0');
  }
  if (count == 0) return std::nullopt;
  if (i < n && (AText[i] == 'e' || AText[i] == 'E')) {
    ++i;
    bool down = false;
    if (i < n && (AText[i] == '+' || AText[i] == '-')) down = AText[i++] == '-';
    int e = 0, eDigits = 0;
    for (; i < n && IsDigit(AText[i]); ++i, ++eDigits) {
      if (e > 999) return std::nullopt;
      e = e * 10 + (AText[i] - '0');
    }
    if (eDigits == 0) return std::nullopt;
    exponent += down ? -e : e;
  }
  if (i != n) return std::nullopt;
  if (digits == 0) return 0;
  while (exponent < 0 && digits % 10 == 0) {
    digits /= 10;
    ++exponent;
  }
  if (exponent >= 0) {
    // A whole number below 2^53 is its own double; every larger one is beyond Currency's range
    // as a double too (within the range of double, which 18 digits and 10^18 keep it).
    constexpr uint64_t Largest = 922337203685477;
    if (exponent > 18) return std::nullopt;
    const uint64_t scale = Pow10(exponent);
    if (digits > Largest / scale) throw EInvalidCast(SInvalidCast);
    const auto raw = static_cast<int64_t>(digits * scale * 10000);
    return negative ? -raw : raw;
  }
  // Below 2^52 ten-thousandths the double is less than half of one away from the exact count.
  if (exponent < -4) return std::nullopt;
  const uint64_t scale = Pow10(exponent + 4);
  constexpr uint64_t Limit = uint64_t{1} << 52;
  if (digits >= Limit / scale) return std::nullopt;
  const auto raw = static_cast<int64_t>(digits * scale);
  return negative ? -raw : raw;
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
