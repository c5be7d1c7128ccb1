#include "uTypeInfo.h"

#include <array>
#include <cmath>

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
  const double scaled = std::nearbyint(AValue * Scale);
  // 2^63 is exactly representable; anything at or beyond it does not fit.
  if (!std::isfinite(scaled) || scaled >= 9223372036854775808.0 || scaled < -9223372036854775808.0)
    throw EInvalidCast(SInvalidCast);
  return FromRaw(static_cast<int64_t>(scaled));
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
