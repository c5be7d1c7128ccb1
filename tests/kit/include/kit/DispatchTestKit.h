#pragma once
// Drives an IDispatch the way a host does: GetIDsOfNames with one name, then Invoke with
// DISPATCH_METHOD and DISPPARAMS holding the arguments right to left.
#include <windows.h>
#include <oaidl.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/uSafeArray.h"
#include "platform/uVariant.h"

struct TInvokeResult {
  HRESULT Hr = E_FAIL;
  TVariant Result;
  EXCEPINFO Excep{};
  std::wstring ExcepDescription() const { return Excep.bstrDescription ? Excep.bstrDescription : L""; }
  std::wstring ExcepSource() const { return Excep.bstrSource ? Excep.bstrSource : L""; }
  TInvokeResult() = default;
  TInvokeResult(const TInvokeResult&) = delete;
  TInvokeResult(TInvokeResult&& o) noexcept : Hr(o.Hr), Result(std::move(o.Result)), Excep(o.Excep) { o.Excep = {}; }
  TInvokeResult& operator=(TInvokeResult&& o) noexcept {
    FreeExcep();
    Hr = o.Hr;
    Result = std::move(o.Result);
    Excep = o.Excep;
    o.Excep = {};
    return *this;
  }
  ~TInvokeResult() { FreeExcep(); }
  void FreeExcep() noexcept {
    SysFreeString(Excep.bstrDescription);
    SysFreeString(Excep.bstrSource);
    SysFreeString(Excep.bstrHelpFile);
    Excep = {};
  }
};

inline DISPID DispIdOf(IDispatch* disp, const std::wstring& name, HRESULT* hr = nullptr) {
  DISPID id = 12345;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name.c_str())};
  HRESULT r = disp->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (hr) *hr = r;
  return id;
}

// `args` are in the order the caller writes them (leftmost first) and are borrowed: a test
// decides which are by value and which by reference, and owns what they point to.
inline TInvokeResult InvokeById(IDispatch* disp, DISPID id, std::vector<VARIANT> args, bool wantResult = true,
                                WORD flags = DISPATCH_METHOD) {
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  TInvokeResult r;
  UINT argErr = 0;
  r.Hr = disp->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, wantResult ? &r.Result.Get() : nullptr, &r.Excep,
                      &argErr);
  return r;
}

inline TInvokeResult InvokeByName(IDispatch* disp, const std::wstring& name, std::vector<VARIANT> args,
                                  bool wantResult = true) {
  return InvokeById(disp, DispIdOf(disp, name), std::move(args), wantResult);
}

// A by-value argument that still belongs to `value` (DISPPARAMS entries are borrowed).
inline VARIANT ByVal(const TVariant& value) { return value.Get(); }

// Element i of a one-dimensional variant array.
inline TVariant ItemOf(const TVariant& arr, LONG i) { return SafeArrayItem(VariantSafeArray(arr.Get()), &i); }
inline LONG CountOf(const TVariant& arr) {
  LONG lo = 0, hi = -1;
  return VariantArrayBounds(arr.Get(), 1, lo, hi) ? hi - lo + 1 : -1;
}

// The documented typed references a call can write a value back into; any other reference
// is refused before the handler runs.
inline bool IsWritableTypedReference(VARTYPE vt) {
  switch (vt) {
    case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_R4: case VT_R8: case VT_DATE:
    case VT_CY: case VT_BSTR: case VT_DISPATCH: case VT_BOOL: case VT_UI1:
      return true;
    default:
      return false;
  }
}

// InData of SetSettings: one settings table [7 rows, one column per setting] with ID and Value.
inline TVariant SettingsInData(const std::vector<std::pair<std::wstring, TVariant>>& Values) {
  TVariant table = NewVariantArray({{7, 0}, {static_cast<ULONG>(Values.size()), 0}});
  for (LONG i = 0; i < static_cast<LONG>(Values.size()); ++i) {
    const LONG idCell[2] = {0, i}, valueCell[2] = {1, i};
    PutVariantArrayItem(table, idCell, TVariant::FromString(Values[i].first).Get());
    PutVariantArrayItem(table, valueCell, Values[i].second.Get());
  }
  return MakeVariantArray({table});
}
