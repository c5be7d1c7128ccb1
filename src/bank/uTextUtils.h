#pragma once
// Small locale-independent text helpers of the bank client.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace bank {

// Without leading and trailing characters up to and including the blank (control characters too).
std::string_view Trim(std::string_view AText);
// Equal with ASCII letter case ignored; other bytes compare exactly.
bool SameText(std::string_view A, std::string_view B);
// Every occurrence of APattern (ASCII case ignored) replaced by AValue, scanning left to right
// once (a value that contains the pattern is not expanded again).
std::string ReplaceTextIgnoreCase(std::string_view AText, std::string_view APattern, std::string_view AValue);
// Percent-encoding of the UTF-8 bytes; unreserved characters (A-Z a-z 0-9 - _ . ~) stay.
std::string UrlEncode(std::string_view AText);

// Lower-case hexadecimal digits of bytes, two per byte.
std::string LowerHex(const unsigned char* ABytes, size_t ACount);

// General notation with at most 15 significant digits, "." as decimal point, no trailing
// zeros, no decimal point for integral values; EConvertError for NaN and infinities,
// which JSON cannot carry.
std::string FloatToText(double AValue);

// What FloatToText writes for the double nearest to ARaw / 10000 (an amount in ten-thousandths),
// computed in integers only: on i686 the division would run on the x87 unit at the precision the
// host's thread chose, and at 24 bits 200000.01 comes out as 200000.
std::string TenThousandthsToText(int64_t ARaw);

// Optional sign and decimal digits only; nullopt when invalid or out of range.
std::optional<int64_t> ParseInt64(std::string_view AText);
std::optional<int32_t> ParseInt32(std::string_view AText);
// Optional sign, digits with at most one ".", optional exponent; nullopt when invalid or
// out of the range of double. No blanks, no "inf" or "nan".
std::optional<double> ParseFloat(std::string_view AText);
// ParseFloat's number times 10000, rounded as Currency::FromDouble rounds ParseFloat's double,
// computed in integers (for the same reason as above) where that is exact: at most four decimals
// and below 2^52 ten-thousandths, or a whole number. nullopt for every other text, valid or not
// (the double decides those); EInvalidCast for a whole number beyond the range of Currency.
std::optional<int64_t> ParseTenThousandths(std::string_view AText);

}  // namespace bank
