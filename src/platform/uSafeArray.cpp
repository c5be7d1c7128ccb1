#include "uSafeArray.h"

#include <new>
#include <vector>

#include "uExceptions.h"

TVariantArray::TVariantArray(ULONG count) : FItems(count) {}

TVariant TVariantArray::GetItem(LONG i) const {
  if (i < 0 || i >= Count()) throw Exception(L"Wrong index!");
  return Item(i);
}

void TVariantArray::PutItem(LONG i, const VARIANT& value) {
  if (i < 0 || i >= Count()) throw Exception(L"invalid index");
  Item(i) = TVariant(value);
}

TVariant TVariantArray::AsVariant() const {
  std::vector<TVariant> copies(FItems);
  return TakeVariantArray(copies.data(), static_cast<ULONG>(copies.size()));
}

TVariant TakeVariantArray(TVariant* items, ULONG count) {
  SAFEARRAY* sa = SafeArrayCreateVector(VT_VARIANT, 0, count);
  if (!sa) throw std::bad_alloc();
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_ARRAY | VT_VARIANT;
  v.parray = sa;
  TVariant result = TVariant::Take(v);
  VARIANT* data = nullptr;
  const HRESULT hr = SafeArrayAccessData(sa, reinterpret_cast<void**>(&data));
  if (FAILED(hr)) RaiseVariantError(hr);
  // A new vector's elements are Empty: each takes an item's content as it is.
  for (ULONG i = 0; i < count; ++i) data[i] = items[i].Detach();
  SafeArrayUnaccessData(sa);
  return result;
}

TVariant NewVariantArray(std::initializer_list<SAFEARRAYBOUND> bounds) {
  SAFEARRAY* sa = SafeArrayCreate(VT_VARIANT, static_cast<UINT>(bounds.size()), const_cast<SAFEARRAYBOUND*>(bounds.begin()));
  if (!sa) throw std::bad_alloc();
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_ARRAY | VT_VARIANT;
  v.parray = sa;
  return TVariant::Take(v);
}

void PutVariantArrayItem(TVariant& array, const LONG* indices, const VARIANT& value) {
  const HRESULT hr = SafeArrayPutElement(array.Get().parray, const_cast<LONG*>(indices), const_cast<VARIANT*>(&value));
  if (FAILED(hr)) RaiseVariantError(hr);
}

TVariant MakeVariantArray(std::initializer_list<TVariant> items) {
  TVariant result = NewVariantArray({{static_cast<ULONG>(items.size()), 0}});
  LONG i = 0;
  for (const TVariant& item : items) {
    PutVariantArrayItem(result, &i, item.Get());
    ++i;
  }
  return result;
}

SAFEARRAY* VariantSafeArray(const VARIANT& value) noexcept {
  const VARIANT* v = InnermostVariant(&value);
  if (!(v->vt & VT_ARRAY)) return nullptr;
  if (v->vt & VT_BYREF) return v->pparray ? *v->pparray : nullptr;
  return v->parray;
}

bool VariantArrayBounds(const VARIANT& value, UINT dim, LONG& low, LONG& high) noexcept {
  SAFEARRAY* sa = VariantSafeArray(value);
  if (!sa || dim < 1 || dim > SafeArrayGetDim(sa)) return false;
  return SUCCEEDED(SafeArrayGetLBound(sa, dim, &low)) && SUCCEEDED(SafeArrayGetUBound(sa, dim, &high));
}

TVariant SafeArrayItem(SAFEARRAY* array, std::initializer_list<LONG> indices) {
  if (!array || SafeArrayGetDim(array) != indices.size()) throw Exception(L"Wrong index!");
  return SafeArrayItem(array, indices.begin());
}

TVariant SafeArrayItem(SAFEARRAY* array, const LONG* indices) {
  if (!array) throw Exception(L"Wrong index!");
  const UINT dims = SafeArrayGetDim(array);
  std::vector<LONG> rgIndices(dims);
  for (UINT d = 0; d < dims; ++d) {
    LONG lo = 0, hi = -1;
    SafeArrayGetLBound(array, d + 1, &lo);
    SafeArrayGetUBound(array, d + 1, &hi);
    if (indices[d] < lo || indices[d] > hi) throw Exception(L"Wrong index!");
    rgIndices[d] = indices[d];
  }
  VARTYPE vt = VT_EMPTY;
  HRESULT hr = SafeArrayGetVartype(array, &vt);
  if (FAILED(hr)) RaiseVariantError(hr);
  TVariant out;
  VARIANT& v = out.Get();
  switch (vt) {
    case VT_VARIANT:
      hr = SafeArrayGetElement(array, rgIndices.data(), &v);
      break;
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_INT: case VT_UINT:
    case VT_I8: case VT_UI8: case VT_R4: case VT_R8: case VT_CY: case VT_DATE: case VT_BOOL: case VT_ERROR:
    case VT_DECIMAL: case VT_BSTR: case VT_DISPATCH: case VT_UNKNOWN:
      // The element lands in the variant's value union; VT_DECIMAL fills the whole variant.
      hr = SafeArrayGetElement(array, rgIndices.data(), vt == VT_DECIMAL ? static_cast<void*>(&v.decVal)
                                                                         : static_cast<void*>(&v.lVal));
      if (SUCCEEDED(hr)) v.vt = vt;
      break;
    default:
      return out;  // records and other element kinds read as Empty
  }
  if (FAILED(hr)) RaiseVariantError(hr);
  return out;
}
