#pragma once
// RAII and checked element access for SAFEARRAYs.
#include <windows.h>
#include <oleauto.h>

#include <cstddef>
#include <initializer_list>
#include <vector>

#include "uVariant.h"

// The argument array of a call: elements 0..Count-1, kept as variants. A SAFEARRAY of them is
// made only when one is asked for (AsVariant): most calls never need one.
class TVariantArray {
public:
  explicit TVariantArray(ULONG count);
  TVariantArray(const TVariantArray&) = delete;
  TVariantArray& operator=(const TVariantArray&) = delete;

  LONG Count() const noexcept { return static_cast<LONG>(FItems.size()); }
  // A copy of element i; outside 0..Count-1 raises "Wrong index!".
  TVariant GetItem(LONG i) const;
  // Element i := a copy of value; outside 0..Count-1 raises "invalid index".
  void PutItem(LONG i, const VARIANT& value);
  // Element i itself, neither checked nor copied: for the dispatcher, which owns the array.
  TVariant& Item(LONG i) noexcept { return FItems[static_cast<size_t>(i)]; }
  const TVariant& Item(LONG i) const noexcept { return FItems[static_cast<size_t>(i)]; }
  // The whole array as a VT_ARRAY|VT_VARIANT variant with bounds 0..Count-1 (a copy).
  TVariant AsVariant() const;

private:
  std::vector<TVariant> FItems;
};

// A one-dimensional VT_ARRAY|VT_VARIANT variant with bounds 0..n-1 holding copies of items.
TVariant MakeVariantArray(std::initializer_list<TVariant> items);
// The same made of `count` items taken over, not copied: each is left Empty.
TVariant TakeVariantArray(TVariant* items, ULONG count);
template <size_t N>
TVariant TakeVariantArray(TVariant (&items)[N]) {
  return TakeVariantArray(items, static_cast<ULONG>(N));
}
// A VT_ARRAY|VT_VARIANT variant with one bound per dimension (first dimension first), every
// element Empty.
TVariant NewVariantArray(std::initializer_list<SAFEARRAYBOUND> bounds);
// The element at `indices` (one per dimension) of the array in `array` := a copy of value.
void PutVariantArrayItem(TVariant& array, const LONG* indices, const VARIANT& value);

// The SAFEARRAY behind an array variant (by value or by reference), or null.
SAFEARRAY* VariantSafeArray(const VARIANT& value) noexcept;
// Bounds of dimension `dim` (1-based) of an array variant; false when it is not an array
// or has no such dimension.
bool VariantArrayBounds(const VARIANT& value, UINT dim, LONG& low, LONG& high) noexcept;
// Element at `indices` (one index per dimension, first dimension first) of an array of any
// element type, as a variant. Raises "Wrong index!" outside the bounds.
TVariant SafeArrayItem(SAFEARRAY* array, const LONG* indices);
// The same for an array whose dimensions the caller does not control: raises "Wrong index!"
// unless there is exactly one index per dimension (the pointer form would read past them).
TVariant SafeArrayItem(SAFEARRAY* array, std::initializer_list<LONG> indices);
