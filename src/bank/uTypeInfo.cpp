#include "uTypeInfo.h"

#include <array>
#include <cmath>
#include <cstring>

#include "uBankExceptions.h"
#include "uBankStrings.h"

namespace bank {

std::string_view TypeKindName(TTypeKind AKind) {
  static constexpr std::array<std::string_view, 23> Names = {
      "tkUnknown", "tkInteger", "tkChar",      "tkEnumeration", "tkFloat",     "tkString",
      "tkSet",     "tkClass",   "tkMethod",    "tkWChar",       "tkLString",   "tkWString",
      "tkVariant", "tkArray",   "tkRecord",    "tkInterface",   "tkInt64",     "tkDynArray",
      "tkUString", "tkClassRef", "tkPointer",  "tkProcedure",   "tkMRecord"};
  const auto i = static_cast<size_t>(AKind);
  return i < Names.size() ? Names[i] : Names[0];
}

bool IsTextKind(TTypeKind AKind) {
  switch (AKind) {
    case TTypeKind::tkChar:
    case TTypeKind::tkString:
    case TTypeKind::tkWChar:
    case TTypeKind::tkLString:
    case TTypeKind::tkWString:
    case TTypeKind::tkUString:
      return true;
    default:
      return false;
  }
}

Currency Currency::FromDouble(double AValue) {
  // Range first: scaling a huge value overflows, and the host may run with the FPU's
  // overflow exception unmasked. isless is the quiet comparison, false for NaN.
  if (!std::isless(std::fabs(AValue), 922337203685477.5807)) throw EInvalidCast(SInvalidCast);
  // The exact binary value times 10000, rounded half away from zero in integers: no
  // floating-point operation, so the host's rounding mode cannot change the result, and
  // the tie rule is the one of the division below.
  uint64_t bits = 0;
  std::memcpy(&bits, &AValue, sizeof bits);
  const bool negative = (bits >> 63) != 0;
  const int biased = static_cast<int>((bits >> 52) & 0x7ff);
  uint64_t mantissa = bits & ((uint64_t{1} << 52) - 1);
  int exponent = -1074;  // subnormal
  if (biased != 0) {
    mantissa |= uint64_t{1} << 52;
    exponent = biased - 1075;
  }
  // mantissa * 10000 as a 128-bit number hi:lo.
  const uint64_t upper = (mantissa >> 32) * Scale, lower = (mantissa & 0xffffffffu) * Scale;
  const uint64_t lo = (upper << 32) + lower;
  const uint64_t hi = (upper >> 32) + (lo < lower ? 1 : 0);
  uint64_t magnitude = 0;
  if (exponent >= 0) {
    magnitude = lo << exponent;  // unreachable in range (the value would be 2^52 or more)
  } else {
    const int shift = -exponent;
    auto bit = [&](int k) -> uint64_t { return k < 64 ? (lo >> k) & 1 : k < 128 ? (hi >> (k - 64)) & 1 : 0; };
    if (shift >= 128)
      magnitude = 0;
    else if (shift >= 64)
      magnitude = hi >> (shift - 64);
    else
      magnitude = (lo >> shift) | (hi << (64 - shift));
    magnitude += bit(shift - 1);  // the half bit: a tie and above go away from zero
  }
  if (magnitude > static_cast<uint64_t>(INT64_MAX)) throw EInvalidCast(SInvalidCast);
  const int64_t raw = static_cast<int64_t>(magnitude);
  return FromRaw(negative ? -raw : raw);
}

Currency operator+(Currency A, Currency B) {
  int64_t r = 0;
  if (__builtin_add_overflow(A.Raw, B.Raw, &r)) throw EInvalidCast(SInvalidCast);
  return Currency::FromRaw(r);
}

Currency operator-(Currency A, Currency B) {
  int64_t r = 0;
  if (__builtin_sub_overflow(A.Raw, B.Raw, &r)) throw EInvalidCast(SInvalidCast);
  return Currency::FromRaw(r);
}

Currency operator*(Currency A, int64_t B) {
  int64_t r = 0;
  if (__builtin_mul_overflow(A.Raw, B, &r)) throw EInvalidCast(SInvalidCast);
  return Currency::FromRaw(r);
}

Currency operator/(Currency A, int64_t B) {
  if (B == 0) throw EInvalidCast(SInvalidCast);
  if (A.Raw == INT64_MIN && B == -1) throw EInvalidCast(SInvalidCast);
  int64_t q = A.Raw / B;
  const int64_t r = A.Raw % B;
  // Round half away from zero without overflowing on |r| * 2.
  const uint64_t ar = r < 0 ? 0 - static_cast<uint64_t>(r) : static_cast<uint64_t>(r);
  const uint64_t ab = B < 0 ? 0 - static_cast<uint64_t>(B) : static_cast<uint64_t>(B);
  if (ar >= ab - ar) q += ((A.Raw < 0) != (B < 0)) ? -1 : 1;
  return Currency::FromRaw(q);
}

namespace {
TTypeInfo Scalar(TTypeKind AKind, std::string_view AName, void (*AReset)(void*)) {
  TTypeInfo ti;
  ti.Kind = AKind;
  ti.Name = AName;
  ti.Reset = AReset;
  return ti;
}
}  // namespace

const TTypeInfo* TTypeInfoProvider<int32_t>::Get() {
  static const TTypeInfo Info = Scalar(TTypeKind::tkInteger, "Integer", &ResetData<int32_t>);
  return &Info;
}

const TTypeInfo* TTypeInfoProvider<int64_t>::Get() {
  static const TTypeInfo Info = Scalar(TTypeKind::tkInt64, "Int64", &ResetData<int64_t>);
  return &Info;
}

const TTypeInfo* TTypeInfoProvider<double>::Get() {
  static const TTypeInfo Info = Scalar(TTypeKind::tkFloat, "Double", &ResetData<double>);
  return &Info;
}

const TTypeInfo* TTypeInfoProvider<Currency>::Get() {
  static const TTypeInfo Info = [] {
    TTypeInfo ti = Scalar(TTypeKind::tkFloat, "Currency", &ResetData<Currency>);
    ti.FloatType = TFloatType::ftCurr;
    return ti;
  }();
  return &Info;
}

const TTypeInfo* TTypeInfoProvider<bool>::Get() {
  static const TTypeInfo Info = [] {
    TTypeInfo ti = Scalar(TTypeKind::tkEnumeration, "Boolean", &ResetData<bool>);
    ti.IsBoolean = true;
    return ti;
  }();
  return &Info;
}

const TTypeInfo* TTypeInfoProvider<std::string>::Get() {
  static const TTypeInfo Info = Scalar(TTypeKind::tkUString, "string", &ResetData<std::string>);
  return &Info;
}

const TTypeInfo* TTypeInfoProvider<OleVariant>::Get() {
  static const TTypeInfo Info = Scalar(TTypeKind::tkVariant, "OleVariant", &ResetData<OleVariant>);
  return &Info;
}

}  // namespace bank
