#pragma once
// RAII over OLE VARIANT and BSTR, and the standard variant conversions.
#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <string>
#include <string_view>

// Owns a BSTR.
class TBstr {
public:
  TBstr() noexcept = default;
  explicit TBstr(std::wstring_view text);
  TBstr(const TBstr&) = delete;
  TBstr& operator=(const TBstr&) = delete;
  TBstr(TBstr&& other) noexcept : FValue(other.Detach()) {}
  TBstr& operator=(TBstr&& other) noexcept;
  ~TBstr() { SysFreeString(FValue); }

  BSTR Get() const noexcept { return FValue; }
  BSTR Detach() noexcept;
  std::wstring Text() const { return FValue ? std::wstring(FValue, SysStringLen(FValue)) : std::wstring(); }

private:
  BSTR FValue = nullptr;
};

// Owns what a callee of IDispatch::Invoke put into an EXCEPINFO, whatever happens to the caller.
struct TExcepInfo {
  EXCEPINFO Info{};
  TExcepInfo() = default;
  TExcepInfo(const TExcepInfo&) = delete;
  TExcepInfo& operator=(const TExcepInfo&) = delete;
  ~TExcepInfo() {
    SysFreeString(Info.bstrSource);
    SysFreeString(Info.bstrDescription);
    SysFreeString(Info.bstrHelpFile);
  }
};

// Owns a VARIANT; copies are deep (VariantCopy).
class TVariant {
public:
  // Empty as VariantInit leaves it; an Empty value needs no VariantClear (it would do nothing).
  TVariant() noexcept { FValue.vt = VT_EMPTY; }
  TVariant(const TVariant& other);
  TVariant(TVariant&& other) noexcept;
  explicit TVariant(const VARIANT& other);  // deep copy, references kept as references
  TVariant& operator=(const TVariant& other);
  TVariant& operator=(TVariant&& other) noexcept;
  ~TVariant() {
    if (FValue.vt != VT_EMPTY) VariantClear(&FValue);
  }

  static TVariant FromInt(int32_t value) noexcept;
  static TVariant FromBool(bool value) noexcept;
  static TVariant FromDouble(double value) noexcept;
  static TVariant FromDate(double value) noexcept;
  static TVariant FromCurrency(int64_t tenThousandths) noexcept;
  static TVariant FromString(std::wstring_view text);
  static TVariant Null() noexcept;
  // Takes ownership of the content of `value`, leaving it VT_EMPTY.
  static TVariant Take(VARIANT& value) noexcept;
  // A copy of the innermost value behind any references (VariantCopyInd).
  static TVariant CopyInd(const VARIANT& value);

  const VARIANT& Get() const noexcept { return FValue; }
  VARIANT& Get() noexcept { return FValue; }
  VARTYPE Type() const noexcept { return FValue.vt; }
  bool IsEmpty() const noexcept { return FValue.vt == VT_EMPTY; }
  void Clear() noexcept;
  // Hands the content to the caller (who must clear it), leaving this Empty.
  VARIANT Detach() noexcept;

private:
  VARIANT FValue;
};

// Follows VT_BYREF|VT_VARIANT references to the innermost VARIANT (bounded, so a
// self-referencing chain cannot loop).
const VARIANT* InnermostVariant(const VARIANT* value) noexcept;
VARIANT* InnermostVariant(VARIANT* value) noexcept;

// A VT_BYREF|VT_VARIANT reference to `variable`, as a late-bound caller passes a variable by
// reference. It borrows: it must not outlive `variable`, and is never cleared.
inline VARIANT VariantRefTo(TVariant& variable) noexcept {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BYREF | VT_VARIANT;
  v.pvarVal = &variable.Get();
  return v;
}

// True for the ordinal types VT_I1, VT_UI1, VT_I2, VT_UI2, VT_I4, VT_UI4, VT_I8, VT_UI8
// and VT_BOOL, by value or behind references.
bool IsOrdinalVariant(const VARIANT& value) noexcept;

// The standard conversions (VariantChangeTypeEx with the user locale). Empty reads as
// false, 0 and ""; Null or an unconvertible value raises EVariantTypeCastError.
TVariant VariantAs(const VARIANT& value, VARTYPE type);
bool VariantToBool(const VARIANT& value);
int32_t VariantToInt(const VARIANT& value);
double VariantToDouble(const VARIANT& value);
int64_t VariantToCurrency(const VARIANT& value);  // ten-thousandths
std::wstring VariantToString(const VARIANT& value);

// Name of a variant type as conversion errors show it ("Null", "String", ...).
std::wstring VarTypeName(VARTYPE type);
