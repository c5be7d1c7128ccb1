#include "uLateBinding.h"

#include <algorithm>

namespace {
std::wstring SystemText(HRESULT hr) {
  wchar_t* buf = nullptr;
  const DWORD n =
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
  std::wstring text;
  if (n && buf) text.assign(buf, n);
  if (buf) LocalFree(buf);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) text.pop_back();
  if (text.empty()) {
    wchar_t code[40];
    swprintf(code, 40, L"OLE error %08lX", static_cast<unsigned long>(hr));
    text = code;
  }
  return text;
}

}  // namespace

TVariant DispatchCall(IDispatch* Target, const std::wstring& Name, std::vector<VARIANT> Args) {
  if (!Target) throw EOleSysError(SystemText(E_POINTER), E_POINTER);
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(Name.c_str())};
  HRESULT hr = Target->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) throw EOleSysError(L"Method '" + Name + L"' not supported by automation object", hr);

  // DISPPARAMS hold the arguments right to left.
  std::reverse(Args.begin(), Args.end());
  DISPPARAMS params{Args.empty() ? nullptr : Args.data(), nullptr, static_cast<UINT>(Args.size()), 0};
  TVariant result;
  TExcepInfo excep;
  UINT argErr = 0;
  hr = Target->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result.Get(), &excep.Info, &argErr);
  if (hr == DISP_E_EXCEPTION) {
    if (excep.Info.pfnDeferredFillIn) excep.Info.pfnDeferredFillIn(&excep.Info);
    std::wstring message = excep.Info.bstrDescription
                               ? std::wstring(excep.Info.bstrDescription, SysStringLen(excep.Info.bstrDescription))
                               : std::wstring();
    if (message.empty()) message = SystemText(excep.Info.scode ? excep.Info.scode : hr);
    throw EOleException(message, excep.Info.scode ? excep.Info.scode : hr);
  }
  if (FAILED(hr)) throw EOleSysError(SystemText(hr), hr);
  return result;
}

VARIANT BstrArg(const TVariant& Text) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = Text.Get().bstrVal;
  return v;
}

VARIANT BstrRefArg(TVariant& Text) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BYREF | VT_BSTR;
  v.pbstrVal = &Text.Get().bstrVal;
  return v;
}

VARIANT IntRefArg(LONG& Value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BYREF | VT_I4;
  v.plVal = &Value;
  return v;
}

VARIANT VariantRefArg(TVariant& Value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BYREF | VT_VARIANT;
  v.pvarVal = &Value.Get();
  return v;
}

VARIANT BoolArg(bool Value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BOOL;
  v.boolVal = Value ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}
