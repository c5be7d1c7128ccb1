#include "uVariant.h"

#include <cstdio>
#include <utility>

#include "uExceptions.h"

TBstr::TBstr(std::wstring_view text) {
  FValue = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (!FValue) throw std::bad_alloc();
}

TBstr& TBstr::operator=(TBstr&& other) noexcept {
  if (this != &other) {
    SysFreeString(FValue);
    FValue = other.Detach();
  }
  return *this;
}

BSTR TBstr::Detach() noexcept { return std::exchange(FValue, nullptr); }

static void CheckOle(HRESULT hr) {
  if (FAILED(hr)) RaiseVariantError(hr);
}

TVariant::TVariant(const TVariant& other) : TVariant() { CheckOle(VariantCopy(&FValue, const_cast<VARIANT*>(&other.FValue))); }

TVariant::TVariant(const VARIANT& other) : TVariant() {
  CheckOle(VariantCopy(&FValue, const_cast<VARIANT*>(&other)));
}

TVariant::TVariant(TVariant&& other) noexcept : FValue(other.FValue) { other.FValue.vt = VT_EMPTY; }

TVariant& TVariant::operator=(const TVariant& other) {
  if (this != &other) {
    TVariant copy(other);
    *this = std::move(copy);
  }
  return *this;
}

TVariant& TVariant::operator=(TVariant&& other) noexcept {
  if (this != &other) {
    Clear();
    FValue = other.FValue;
    other.FValue.vt = VT_EMPTY;
  }
  return *this;
}

void TVariant::Clear() noexcept {
  if (FValue.vt != VT_EMPTY) VariantClear(&FValue);
  FValue.vt = VT_EMPTY;
}

VARIANT TVariant::Detach() noexcept {
  VARIANT v = FValue;
  FValue.vt = VT_EMPTY;
  return v;
}

TVariant TVariant::FromInt(int32_t value) noexcept {
  TVariant v;
  v.FValue.vt = VT_I4;
  v.FValue.lVal = value;
  return v;
}

TVariant TVariant::FromBool(bool value) noexcept {
  TVariant v;
  v.FValue.vt = VT_BOOL;
  v.FValue.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}

TVariant TVariant::FromDouble(double value) noexcept {
  TVariant v;
  v.FValue.vt = VT_R8;
  v.FValue.dblVal = value;
  return v;
}

TVariant TVariant::FromDate(double value) noexcept {
  TVariant v;
  v.FValue.vt = VT_DATE;
  v.FValue.date = value;
  return v;
}

TVariant TVariant::FromCurrency(int64_t tenThousandths) noexcept {
  TVariant v;
  v.FValue.vt = VT_CY;
  v.FValue.cyVal.int64 = tenThousandths;
  return v;
}

TVariant TVariant::FromString(std::wstring_view text) {
  TVariant v;
  v.FValue.bstrVal = TBstr(text).Detach();
  v.FValue.vt = VT_BSTR;
  return v;
}

TVariant TVariant::Null() noexcept {
  TVariant v;
  v.FValue.vt = VT_NULL;
  return v;
}

TVariant TVariant::Take(VARIANT& value) noexcept {
  TVariant v;
  v.FValue = value;
  VariantInit(&value);
  return v;
}

TVariant TVariant::CopyInd(const VARIANT& value) {
  TVariant v;
  CheckOle(VariantCopyInd(&v.FValue, const_cast<VARIANT*>(InnermostVariant(&value))));
  return v;
}

// Deeper chains than this are not built by any host; stopping keeps a cyclic chain finite.
static constexpr int kMaxReferenceDepth = 16;

const VARIANT* InnermostVariant(const VARIANT* value) noexcept {
  for (int i = 0; i < kMaxReferenceDepth && value && value->vt == (VT_BYREF | VT_VARIANT) && value->pvarVal; ++i)
    value = value->pvarVal;
  return value;
}

VARIANT* InnermostVariant(VARIANT* value) noexcept {
  return const_cast<VARIANT*>(InnermostVariant(static_cast<const VARIANT*>(value)));
}

bool IsOrdinalVariant(const VARIANT& value) noexcept {
  switch (InnermostVariant(&value)->vt & ~VT_BYREF) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4:
    case VT_I8: case VT_UI8: case VT_BOOL:
      return true;
    default:
      return false;
  }
}

std::wstring VarTypeName(VARTYPE type) {
  std::wstring prefix = (type & VT_ARRAY) ? L"Array " : L"";
  switch (type & VT_TYPEMASK) {
    case VT_EMPTY: return prefix + L"Empty";
    case VT_NULL: return prefix + L"Null";
    case VT_I2: return prefix + L"Smallint";
    case VT_I4: return prefix + L"Integer";
    case VT_R4: return prefix + L"Single";
    case VT_R8: return prefix + L"Double";
    case VT_CY: return prefix + L"Currency";
    case VT_DATE: return prefix + L"Date";
    case VT_BSTR: return prefix + L"String";
    case VT_DISPATCH: return prefix + L"Dispatch";
    case VT_ERROR: return prefix + L"Error";
    case VT_BOOL: return prefix + L"Boolean";
    case VT_VARIANT: return prefix + L"Variant";
    case VT_UNKNOWN: return prefix + L"Unknown";
    case VT_DECIMAL: return prefix + L"Decimal";
    case VT_I1: return prefix + L"ShortInt";
    case VT_UI1: return prefix + L"Byte";
    case VT_UI2: return prefix + L"Word";
    case VT_UI4: return prefix + L"LongWord";
    case VT_I8: return prefix + L"Int64";
    case VT_UI8: return prefix + L"UInt64";
    default: {
      wchar_t buf[16];
      swprintf(buf, 16, L"%04X", type);
      return prefix + buf;
    }
  }
}

TVariant VariantAs(const VARIANT& value, VARTYPE type) {
  const VARIANT* src = InnermostVariant(&value);
  TVariant out;
  if ((src->vt & ~VT_BYREF) == VT_EMPTY) {
    // Empty converts to the type's zero (VariantChangeType does this too; spelled out for clarity).
    switch (type) {
      case VT_BSTR: return TVariant::FromString(L"");
      case VT_BOOL: return TVariant::FromBool(false);
      default: break;
    }
  }
  // Booleans read as "True"/"False", as the host's own conversions write them.
  USHORT flags = type == VT_BSTR ? VARIANT_ALPHABOOL : 0;
  HRESULT hr = VariantChangeTypeEx(&out.Get(), const_cast<VARIANT*>(src), LOCALE_USER_DEFAULT, flags, type);
  if (hr == DISP_E_TYPEMISMATCH || hr == DISP_E_BADVARTYPE || hr == DISP_E_OVERFLOW ||
      (src->vt & ~VT_BYREF) == VT_NULL) {
    throw EVariantTypeCastError(L"Could not convert variant of type (" + VarTypeName(src->vt & ~VT_BYREF) +
                                L") into type (" + VarTypeName(type) + L")");
  }
  CheckOle(hr);
  return out;
}

bool VariantToBool(const VARIANT& value) { return VariantAs(value, VT_BOOL).Get().boolVal != VARIANT_FALSE; }
int32_t VariantToInt(const VARIANT& value) {
  const VARIANT* src = InnermostVariant(&value);
  if (src->vt == VT_I4) return src->lVal;  // what the conversion would answer, without making it
  return VariantAs(value, VT_I4).Get().lVal;
}
double VariantToDouble(const VARIANT& value) { return VariantAs(value, VT_R8).Get().dblVal; }
namespace {
// The system turns a text or a decimal into currency through doubles, on the x87 unit in the
// i686 build, at the precision and rounding the host's thread set: at 24 bits "200000,01"
// becomes 200000. It runs here at what Windows gives a new thread (53 bits, to nearest, every
// exception masked), and the host's x87 state (control and status) is put back as it was.
class TDefaultX87State {
public:
#if defined(__i386__)
  TDefaultX87State() noexcept {
    __asm__ __volatile__("fnstenv %0" : "=m"(FSaved) : : "memory");
    const unsigned short control = 0x027F;
    __asm__ __volatile__("fldcw %0" : : "m"(control) : "memory");
  }
  ~TDefaultX87State() { __asm__ __volatile__("fldenv %0" : : "m"(FSaved) : "memory"); }

private:
  struct {
    unsigned char Bytes[28];  // the 32-bit protected-mode environment
  } FSaved;
#endif
};
}  // namespace

int64_t VariantToCurrency(const VARIANT& value) {
  [[maybe_unused]] TDefaultX87State x87;
  return VariantAs(value, VT_CY).Get().cyVal.int64;
}

std::wstring VariantToString(const VARIANT& value) {
  TVariant v = VariantAs(value, VT_BSTR);
  BSTR b = v.Get().bstrVal;
  return b ? std::wstring(b, SysStringLen(b)) : std::wstring();
}
