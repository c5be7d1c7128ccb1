#include "kit/TestEquipmentManager.h"

#include <cwctype>

namespace {
std::wstring Upper(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
  return text;
}

std::wstring TextOf(const TVariant& value) {
  try {
    return VariantToString(value.Get());
  } catch (...) {
    return {};
  }
}

// Stores Value into a by-reference argument, converted to its type. False when the argument
// is not a reference this object knows how to fill.
bool WriteReference(VARIANT& target, const TVariant& value) {
  try {
    switch (target.vt) {
      case VT_BYREF | VT_BSTR: {
        BSTR text = TBstr(VariantToString(value.Get())).Detach();
        SysFreeString(*target.pbstrVal);
        *target.pbstrVal = text;
        return true;
      }
      case VT_BYREF | VT_I4:
        *target.plVal = VariantToInt(value.Get());
        return true;
      case VT_BYREF | VT_BOOL:
        *target.pboolVal = VariantToBool(value.Get()) ? VARIANT_TRUE : VARIANT_FALSE;
        return true;
      case VT_BYREF | VT_VARIANT:
        return SUCCEEDED(VariantCopy(target.pvarVal, const_cast<VARIANT*>(&value.Get())));
      default:
        return false;
    }
  } catch (...) {
    return false;
  }
}
}  // namespace

const std::vector<std::wstring>& TTestEquipmentManager::MethodNames() {
  static const std::vector<std::wstring> names = {L"GetAppProperty", L"DataEvent",   L"ErrorEvent", L"MessageDlg",
                                                  L"InputDataDlg",   L"TaskState",   L"WriteLog"};
  return names;
}

TTestEquipmentManager* TTestEquipmentManager::Create() { return new TTestEquipmentManager(); }

TVariant TTestEquipmentManager::AsVariant() {
  TVariant v;
  v.Get().vt = VT_DISPATCH;
  v.Get().pdispVal = this;
  AddRef();
  return v;
}

void TTestEquipmentManager::SetAppProperty(const std::wstring& Name, const std::wstring& Value) {
  std::lock_guard<std::mutex> lock(FLock);
  FAppProperties[Upper(Name)] = Value;
}

void TTestEquipmentManager::RemoveAppProperty(const std::wstring& Name) {
  std::lock_guard<std::mutex> lock(FLock);
  FAppProperties.erase(Upper(Name));
}

void TTestEquipmentManager::SetResult(const std::wstring& Method, const TVariant& Result) {
  std::lock_guard<std::mutex> lock(FLock);
  FResults[Method] = Result;
}

void TTestEquipmentManager::SetRaise(const std::wstring& Method, const std::wstring& Description) {
  std::lock_guard<std::mutex> lock(FLock);
  if (Description.empty())
    FRaise.erase(Method);
  else
    FRaise[Method] = Description;
}

void TTestEquipmentManager::SetOutArgument(const std::wstring& Method, size_t Index, const TVariant& Value) {
  std::lock_guard<std::mutex> lock(FLock);
  FOutArguments[Method].push_back({Index, Value});
}

void TTestEquipmentManager::SetAction(const std::wstring& Method, std::function<void()> Action) {
  std::lock_guard<std::mutex> lock(FLock);
  if (Action)
    FActions[Method] = std::move(Action);
  else
    FActions.erase(Method);
}

std::vector<TReceivedCall> TTestEquipmentManager::Calls() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FCalls;
}

std::vector<TReceivedCall> TTestEquipmentManager::CallsOf(const std::wstring& Method) const {
  std::lock_guard<std::mutex> lock(FLock);
  std::vector<TReceivedCall> calls;
  for (const TReceivedCall& call : FCalls)
    if (call.Method == Method) calls.push_back(call);
  return calls;
}

void TTestEquipmentManager::ClearCalls() {
  std::lock_guard<std::mutex> lock(FLock);
  FCalls.clear();
}

HRESULT STDMETHODCALLTYPE TTestEquipmentManager::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
    *ppv = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE TTestEquipmentManager::AddRef() { return ++FRefCount; }

ULONG STDMETHODCALLTYPE TTestEquipmentManager::Release() {
  const ULONG n = --FRefCount;
  if (n == 0) delete this;
  return n;
}

HRESULT STDMETHODCALLTYPE TTestEquipmentManager::GetTypeInfoCount(UINT* pctinfo) {
  if (!pctinfo) return E_POINTER;
  *pctinfo = 0;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TTestEquipmentManager::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE TTestEquipmentManager::GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID,
                                                               DISPID* rgDispId) {
  if (!rgszNames || !rgDispId || cNames == 0) return E_INVALIDARG;
  const std::wstring name = Upper(rgszNames[0] ? rgszNames[0] : L"");
  const std::vector<std::wstring>& names = MethodNames();
  for (size_t i = 0; i < names.size(); ++i) {
    if (Upper(names[i]) == name) {
      rgDispId[0] = static_cast<DISPID>(i + 1);
      return S_OK;
    }
  }
  rgDispId[0] = DISPID_UNKNOWN;
  return DISP_E_UNKNOWNNAME;
}

HRESULT STDMETHODCALLTYPE TTestEquipmentManager::Invoke(DISPID dispIdMember, REFIID, LCID, WORD wFlags,
                                                        DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                                        EXCEPINFO* pExcepInfo, UINT*) {
  const std::vector<std::wstring>& names = MethodNames();
  if (dispIdMember < 1 || static_cast<size_t>(dispIdMember) > names.size()) return DISP_E_MEMBERNOTFOUND;
  if (!(wFlags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
  try {
    const std::wstring& method = names[static_cast<size_t>(dispIdMember - 1)];
    const UINT cArgs = pDispParams ? pDispParams->cArgs : 0;
    if (cArgs > 0 && !pDispParams->rgvarg) return E_INVALIDARG;
    auto arg = [&](UINT i) -> VARIANT& { return pDispParams->rgvarg[cArgs - 1 - i]; };

    TReceivedCall call;
    call.Method = method;
    for (UINT i = 0; i < cArgs; ++i) {
      call.Types.push_back(arg(i).vt);
      call.Values.push_back(TVariant::CopyInd(arg(i)));
    }

    std::unique_lock<std::mutex> lock(FLock);
    FCalls.push_back(call);
    const auto action = FActions.find(method);
    if (action != FActions.end()) {
      const std::function<void()> run = action->second;
      lock.unlock();
      ++FCallsRunning;
      run();
      // Read before anything else of this object: the action may have destroyed it.
      if (GDestroyedDuringACall.load()) return E_UNEXPECTED;
      --FCallsRunning;
      lock.lock();
    }
    const auto raise = FRaise.find(method);
    if (raise != FRaise.end()) {
      if (pExcepInfo) {
        *pExcepInfo = EXCEPINFO{};
        pExcepInfo->scode = 1001;
        pExcepInfo->bstrSource = TBstr(L"TestEquipmentManager").Detach();
        pExcepInfo->bstrDescription = TBstr(raise->second).Detach();
      }
      return DISP_E_EXCEPTION;
    }

    TVariant result;
    if (method == L"GetAppProperty") {
      const auto property = cArgs >= 2 ? FAppProperties.find(Upper(TextOf(call.Values[1]))) : FAppProperties.end();
      const bool found = property != FAppProperties.end();
      if (found && cArgs >= 3) WriteReference(arg(2), TVariant::FromString(property->second));
      result = TVariant::FromBool(found);
    } else if (method == L"MessageDlg") {
      result = TVariant::FromInt(0);
    } else if (method == L"InputDataDlg") {
      result = TVariant::FromString(L"");
    } else {
      result = TVariant::FromBool(true);
    }
    const auto scripted = FResults.find(method);
    if (scripted != FResults.end()) result = scripted->second;
    const auto outs = FOutArguments.find(method);
    if (outs != FOutArguments.end())
      for (const TOutArgument& out : outs->second)
        if (out.Index < cArgs) WriteReference(arg(static_cast<UINT>(out.Index)), out.Value);
    lock.unlock();

    if (pVarResult) {
      VariantInit(pVarResult);
      const HRESULT hr = VariantCopy(pVarResult, &result.Get());
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}
