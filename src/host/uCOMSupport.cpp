#include "uCOMSupport.h"

#include <cmath>
#include <cstdio>

#include "platform/uComPtr.h"
#include "platform/uStrings.h"
#include "uDebugLog.h"
#include "uResultCodes.h"

namespace {
// Host arguments of the wrong type or shape.
constexpr int32_t kBadParametersCode = 1004;
std::wstring BadParametersText() { return DescribeResult(kBadParametersCode, L""); }

// A VT_BYREF variant whose pointer is null cannot be read or written.
bool HasNullReference(const VARIANT& v) noexcept { return (v.vt & VT_BYREF) && v.byref == nullptr; }

// The typed references that can take a value back after the call.
bool IsWritableTypedReference(VARTYPE vt) noexcept {
  switch (vt & ~VT_BYREF) {
    case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_R4: case VT_R8: case VT_DATE:
    case VT_CY: case VT_BSTR: case VT_DISPATCH: case VT_BOOL: case VT_UI1:
      return true;
    default:
      return false;
  }
}

std::wstring FormatException(const TExceptionText& e, const wchar_t* where) {
  return e.ClassName + L", " + where + L"(): " + e.Message;
}
}  // namespace

TBaseObject::TBaseObject() = default;

TBaseObject::~TBaseObject() = default;

void TBaseObject::Initialize() {
  TComObject::Initialize();
  FExtMethodList.clear();
  FInstanceID = NewGuidText();
}

// ---------------------------------------------------------------------------------------------
// Method table

TMethodStruct& TBaseObject::FindOrAddMethod(const std::wstring& Name) {
  for (TMethodStruct& m : FMethodList)
    if (AsciiSameText(m.Name, Name)) return m;
  TMethodStruct entry;
  entry.Name = Name;
  FMethodList.push_back(std::move(entry));
  return FMethodList.back();
}

void TBaseObject::RegisterPrivateMethod(const std::wstring& Name, TPrivateMethod Handler) {
  TMethodStruct& m = FindOrAddMethod(Name);
  m.IsPublic = false;
  m.IsSpecific = false;
  m.PrivateMethod = std::move(Handler);
  m.PublicMethod = nullptr;
}

TMethodStruct& TBaseObject::RegisterMethod(const std::wstring& Name, bool IsSpecific, TPublicMethod Handler) {
  TMethodStruct& m = FindOrAddMethod(Name);
  m.IsPublic = true;
  m.IsSpecific = IsSpecific;
  m.PublicMethod = std::move(Handler);
  m.PrivateMethod = nullptr;
  return m;
}

TMethodStruct& TBaseObject::RegisterPublicMethod(const std::wstring& Name, TPublicMethod Handler) {
  return RegisterMethod(Name, false, std::move(Handler));
}

TMethodStruct& TBaseObject::RegisterSpecificMethod(const std::wstring& Name, TPublicMethod Handler) {
  return RegisterMethod(Name, true, std::move(Handler));
}

bool TBaseObject::IsKnownDispId(DISPID DispID) const noexcept {
  if (DispID >= 0 && static_cast<size_t>(DispID) < FMethodList.size()) return true;
  return FOnExtMethod && DispID >= kExtDispIdBase &&
         static_cast<size_t>(DispID - kExtDispIdBase) < FExtMethodList.size();
}

// ---------------------------------------------------------------------------------------------
// IDispatch

HRESULT STDMETHODCALLTYPE TBaseObject::GetTypeInfoCount(UINT* pctinfo) {
  if (!pctinfo) return E_POINTER;
  *pctinfo = 0;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TBaseObject::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE TBaseObject::GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID,
                                                     DISPID* rgDispId) {
  // Only the method name is translated; named arguments are not supported.
  if (cNames == 0 || !rgszNames || !rgDispId) return E_INVALIDARG;
  try {
    const std::wstring name = rgszNames[0] ? rgszNames[0] : L"";
    DISPID id = -1;
    for (size_t i = 0; i < FMethodList.size(); ++i) {
      if (AsciiSameText(FMethodList[i].Name, name)) {
        id = static_cast<DISPID>(i);
        break;
      }
    }
    if (id < 0 && FOnExtMethod) {
      size_t k = 0;
      while (k < FExtMethodList.size() &&
             CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, FExtMethodList[k].c_str(), -1, name.c_str(), -1) !=
                 CSTR_EQUAL)
        ++k;
      // Extension names must stay below the DISPIDs that Invoke rejects; past that a name
      // is neither given a DISPID nor remembered.
      if (kExtDispIdBase + static_cast<DISPID>(k) < kMaxDispId) {
        if (k == FExtMethodList.size()) FExtMethodList.push_back(name);
        id = kExtDispIdBase + static_cast<DISPID>(k);
      }
    }
    rgDispId[0] = id;
    return id >= 0 ? S_OK : E_NOTIMPL;
  } catch (...) {
    rgDispId[0] = -1;
    return E_OUTOFMEMORY;
  }
}

HRESULT STDMETHODCALLTYPE TBaseObject::Invoke(DISPID dispIdMember, REFIID, LCID, WORD wFlags,
                                              DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                                              UINT*) {
  // Error information on the thread belongs to the latest failed call only.
  SetErrorInfo(0, nullptr);
  if (dispIdMember >= kMaxDispId || !(wFlags & DISPATCH_METHOD)) return E_FAIL;
  if (!IsKnownDispId(dispIdMember)) return DISP_E_MEMBERNOTFOUND;
  const UINT cArgs = pDispParams ? pDispParams->cArgs : 0;
  if (cArgs > 0 && !pDispParams->rgvarg) return E_INVALIDARG;

  try {
    TVariantArray args(cArgs);
    TVariant result;
    const bool arrayOutData = dispIdMember < kExtDispIdBase && FMethodList[dispIdMember].IsPublic &&
                              FMethodList[dispIdMember].ArrayOutData;
    // Element 0 is the leftmost argument; DISPPARAMS hold them right to left.
    for (UINT i = 0; i < cArgs; ++i) {
      const VARIANT* inner = InnermostVariant(&pDispParams->rgvarg[cArgs - 1 - i]);
      // A reference that could not take its value back is refused before the handler runs,
      // so that an operation is never carried out and then reported as failed.
      if (HasNullReference(*inner) || ((inner->vt & VT_BYREF) && !IsWritableTypedReference(inner->vt)) ||
          (arrayOutData && i == 1 && (inner->vt & VT_BYREF)))
        throw Exception(BadParametersText());
      TVariant& value = args.Item(static_cast<LONG>(i));
      value = TVariant::CopyInd(*inner);
      if (value.Type() == VT_I2) value = TVariant::FromInt(value.Get().iVal);
    }
    HRESULT hr = CallMethod(dispIdMember, result, args);
    if (hr != S_OK) return hr;
    // A by-reference argument that cannot take its value back fails the call like any
    // other exception, with none of the host's variables changed.
    if (pDispParams) WriteBackArguments(*pDispParams, args);
    if (pVarResult) {
      // As VariantCopy would: the old content is cleared first; then the result moves over.
      if (pVarResult->vt != VT_EMPTY) {
        const HRESULT cleared = VariantClear(pVarResult);
        if (FAILED(cleared)) return cleared;
      }
      *pVarResult = result.Detach();
    }
    return S_OK;
  } catch (...) {
    return ReportException(pExcepInfo);
  }
}

HRESULT TBaseObject::ReportException(EXCEPINFO* pExcepInfo) noexcept {
  TExceptionText e = DescribeException();
  if (pExcepInfo) {
    pExcepInfo->scode = kExceptionCode;
    pExcepInfo->bstrDescription = SysAllocStringLen(e.Message.data(), static_cast<UINT>(e.Message.size()));
    pExcepInfo->bstrSource = SysAllocStringLen(e.ClassName.data(), static_cast<UINT>(e.ClassName.size()));
  }
  try {
    // The same text for clients that ask the thread's error information instead.
    TComPtr<ICreateErrorInfo> create;
    TComPtr<IErrorInfo> info;
    if (SUCCEEDED(CreateErrorInfo(create.OutPtr()))) {
      create->SetGUID(IID_IDispatch);
      create->SetDescription(const_cast<LPOLESTR>(e.Message.c_str()));
      create->SetSource(const_cast<LPOLESTR>(e.ClassName.c_str()));
      if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, info.OutVoid()))) SetErrorInfo(0, info.Get());
    }
    WriteDebugLog(L"EXCEPTION", FormatException(e, L"Invoke"));
  } catch (...) {
  }
  return DISP_E_EXCEPTION;
}

// ---------------------------------------------------------------------------------------------
// Dispatcher

HRESULT TBaseObject::CallMethod(DISPID DispID, TVariant& Result, TVariantArray& Params) {
  // Trace lines are attempted only when logging was on as the call began.
  const bool traced = FDebugLogEnabled;
  const bool isExt = DispID >= kExtDispIdBase && FOnExtMethod &&
                     static_cast<size_t>(DispID - kExtDispIdBase) < FExtMethodList.size();
  if (!isExt && (DispID < 0 || static_cast<size_t>(DispID) >= FMethodList.size()))
    return DISP_E_MEMBERNOTFOUND;
  // The name is needed by the trace and the extension handler only. A copy then: a handler
  // may ask for new names and so move the extension list. A table entry never moves (a
  // deque) and keeps its first spelling: it needs no copy.
  std::wstring nameCopy;
  if (traced || isExt) nameCopy = isExt ? FExtMethodList[DispID - kExtDispIdBase] : FMethodList[DispID].Name;
  const std::wstring& name = nameCopy;
  const bool isPublic = isExt || FMethodList[DispID].IsPublic;

  if (!isPublic) {
    // A copy: a handler may register the method again and so replace the one running.
    const TPrivateMethod handler = FMethodList[DispID].PrivateMethod;
    if (traced) WriteDebugLog(L"> " + name, L"Params: " + TraceText(name, tdParams, Params.AsVariant().Get()));
    try {
      if (handler) Result = handler(Params);
    } catch (const Exception& e) {
      WriteDebugLog(L"EXCEPTION", FormatException({e.ClassName(), e.Message()}, L"CallMethod"));
      throw;
    }
    if (traced)
      WriteDebugLog(L"< " + name, L"Result=" + ValueToText(Result.Get()) + L"; Params: " +
                                      TraceText(name, tdParams, Params.AsVariant().Get()));
    return S_OK;
  }

  // The handler works on a copy of InData: the host's InData is put back as it came.
  TVariant InData = Params.Count() > 0 ? Params.GetItem(0) : TVariant();
  TVariant OutData;  // whatever the host passed in OutData is discarded
  static const TVariant kNoTimeOut;
  const TVariant& TimeOut = Params.Count() > 2 ? Params.Item(2) : kNoTimeOut;
  FExtData.Clear();
  if (traced) WriteDebugLog(L"> " + name, L"InData: " + TraceText(name, tdInData, InData.Get()));

  HRESULT hr = E_INVALIDARG;
  if (IsOrdinalVariant(TimeOut.Get())) {
    std::wstring ResultDescription;
    int32_t code = 0;
    try {
      // Out of the 32-bit range this fails like the handler would: code 1001 with the text.
      const int32_t timeOut = VariantToInt(TimeOut.Get());
      if (isExt) {
        code = FOnExtMethod(name, InData, OutData, timeOut, ResultDescription);
      } else {
        const TPublicMethod handler = FMethodList[DispID].PublicMethod;
        code = handler ? handler(InData, OutData, timeOut, ResultDescription) : 0;
      }
    } catch (const Exception& e) {
      ResultDescription = e.Message();
      code = kExceptionCode;
    }
    if (code != 0) {
      if (ResultDescription.empty()) ResultDescription = GetDriverResultDescription(code);
      OutData = MakeErrorOutData(code, ResultDescription, FExtData);
    }
    // OutData moves into the argument array, from which the write-back hands it to the host.
    Params.Item(1) = std::move(OutData);
    Result = TVariant::FromBool(code == 0);
    hr = S_OK;
  }
  if (traced)
    WriteDebugLog(L"< " + name, L"Result=" + ValueToText(Result.Get()) + L"; OutData: " +
                                    TraceText(name, tdOutData, hr == S_OK ? Params.Item(1).Get() : OutData.Get()));
  return hr;
}

std::wstring TBaseObject::TraceDataText(const std::wstring&, TTraceData, const VARIANT& Data) {
  return ArrayToText(Data);
}

std::wstring TBaseObject::TraceText(const std::wstring& MethodName, TTraceData Kind, const VARIANT& Data) noexcept {
  try {
    return TraceDataText(MethodName, Kind, Data);
  } catch (...) {
    // A trace line never fails the call it describes; what cannot be rendered safely shows as nothing.
    return {};
  }
}

TVariant TBaseObject::MakeErrorOutData(int32_t Code, const std::wstring& Description, const TVariant& Extra) {
  TVariant code = TVariant::FromInt(Code);
  TVariant text = TVariant::FromString(Description.empty() ? DescribeResult(Code, L"") : Description);
  if (Extra.IsEmpty()) return MakeVariantArray({code, text});
  return MakeVariantArray({code, text, Extra});
}

std::wstring TBaseObject::GetDriverResultDescription(int32_t ResultCode) { return DescribeResult(ResultCode, L""); }

// ---------------------------------------------------------------------------------------------
// Writing arguments back into the host's variables

namespace {
// Value converted to the type of a typed reference; raises when it does not convert.
TVariant ConvertForTypedReference(VARTYPE vt, const VARIANT& value) {
  switch (vt) {
    case VT_DATE:
      return VariantAs(value, VT_R8);  // stored as the double it is
    case VT_DISPATCH:
      if ((value.vt & ~VT_BYREF) == VT_EMPTY) {
        TVariant none;
        none.Get().vt = VT_DISPATCH;
        none.Get().pdispVal = nullptr;
        return none;
      }
      return VariantAs(value, VT_DISPATCH);
    default:
      if (!IsWritableTypedReference(vt)) throw Exception(BadParametersText());
      return VariantAs(value, vt);
  }
}

// Moves a converted value into the storage of a typed reference; cannot fail.
void StoreTypedReference(VARIANT& target, TVariant& converted) noexcept {
  VARIANT v = converted.Detach();
  switch (target.vt & ~VT_BYREF) {
    case VT_I2: case VT_UI2: *target.piVal = v.iVal; break;
    case VT_I4: case VT_UI4: *target.plVal = v.lVal; break;
    case VT_R4: *target.pfltVal = v.fltVal; break;
    case VT_R8: case VT_DATE: *target.pdblVal = v.dblVal; break;
    case VT_CY: *target.pcyVal = v.cyVal; break;
    case VT_BOOL: *target.pboolVal = v.boolVal; break;
    case VT_UI1: *target.pbVal = v.bVal; break;
    case VT_BSTR:  // the host's old string is freed, the new one is the host's now
      SysFreeString(*target.pbstrVal);
      *target.pbstrVal = v.bstrVal;
      break;
    case VT_DISPATCH:
      if (*target.ppdispVal) (*target.ppdispVal)->Release();
      *target.ppdispVal = v.pdispVal;
      break;
    default:
      VariantClear(&v);
      break;
  }
}
}  // namespace

void TBaseObject::WriteBackArguments(const DISPPARAMS& Params, TVariantArray& Args) {
  // Every value is converted first and stored only when all have converted: a failure
  // leaves all of the host's variables as they were. The arguments are used no more after
  // this: a value that needs no conversion moves to the host instead of being copied.
  struct TPending {
    VARIANT* Target;
    TVariant Value;
  };
  const LONG cArgs = Args.Count();
  if (cArgs == 0) return;
  std::vector<TPending> pending;
  pending.reserve(static_cast<size_t>(cArgs));
  for (LONG i = 0; i < cArgs; ++i) {
    TVariant& value = Args.Item(i);
    VARIANT* entry = &Params.rgvarg[cArgs - 1 - i];
    VARIANT* target = InnermostVariant(entry);
    const VARIANT* source = InnermostVariant(&value.Get());
    if (!(target->vt & VT_BYREF)) {
      // The caller owns what it passed by value; only a variable reached through a
      // VT_BYREF|VT_VARIANT reference takes the new value: the value itself, or a copy
      // of what a reference the handler stored points to.
      if (target != entry) {
        if (source == &value.Get() && !(source->vt & VT_BYREF))
          pending.push_back({target, std::move(value)});
        else
          pending.push_back({target, TVariant::CopyInd(*source)});
      }
      continue;
    }
    if (target->byref == nullptr) throw Exception(BadParametersText());
    pending.push_back({target, ConvertForTypedReference(target->vt & ~VT_BYREF, *source)});
  }
  for (TPending& p : pending) {
    if (p.Target->vt & VT_BYREF) {
      StoreTypedReference(*p.Target, p.Value);
    } else {
      VariantClear(p.Target);
      *p.Target = p.Value.Detach();
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Debug log switch and lines

void TBaseObject::SetDebugLogEnabled(bool Value) {
  if (Value == FDebugLogEnabled) return;
  FDebugLogEnabled = Value;
  if (Value) BeginDebugLog();
}

void TBaseObject::WriteDebugLog(const std::wstring& Caption, const std::wstring& Text, bool CaptionOnly) noexcept {
  if (!FDebugLogEnabled) return;
  WriteDebugLogLine(FDebugLogDir, FInstanceID, Caption, Text, CaptionOnly);
}

// ---------------------------------------------------------------------------------------------
// Optional elements of an InData array

bool TBaseObject::ArrayItemAssigned(const VARIANT& Arr, LONG Index) {
  LONG low = 0, high = -1;
  SAFEARRAY* sa = VariantSafeArray(Arr);
  // Only a one-dimensional array can be indexed by one number.
  if (!sa || SafeArrayGetDim(sa) != 1 || !VariantArrayBounds(Arr, 1, low, high)) return false;
  if (Index < low || Index > high) return false;
  TVariant item = SafeArrayItem(sa, &Index);
  const VARTYPE vt = InnermostVariant(&item.Get())->vt & ~VT_BYREF;
  return vt != VT_EMPTY && vt != VT_NULL;
}

std::wstring TBaseObject::ArrayItemStr(const VARIANT& Arr, LONG Index, const std::wstring& Default) {
  if (!ArrayItemAssigned(Arr, Index)) return Default;
  return VariantToString(SafeArrayItem(VariantSafeArray(Arr), &Index).Get());
}
