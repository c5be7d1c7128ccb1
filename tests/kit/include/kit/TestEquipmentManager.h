#pragma once
// A stand-in for the host's equipment manager: an automation object (IDispatch with
// GetIDsOfNames and Invoke) with GetAppProperty and the callback methods a device calls.
// It answers from a script and records every call with the argument types it received.
// Thread-safe: calls may arrive from any thread while a test reads the record.
#include <windows.h>
#include <oaidl.h>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/uVariant.h"

struct TReceivedCall {
  std::wstring Method;
  std::vector<VARTYPE> Types;    // leftmost argument first, exactly as received (VT_BYREF kept)
  std::vector<TVariant> Values;  // the values behind them, references resolved, before any write-back
};

class TTestEquipmentManager : public IDispatch {
public:
  // The methods it answers, in DISPID order (DISPID = index + 1).
  static const std::vector<std::wstring>& MethodNames();

  // A new object holding one reference (the caller's).
  static TTestEquipmentManager* Create();
  // A VT_DISPATCH variant with a reference of its own: the host's first argument of Init.
  TVariant AsVariant();

  // ---- Script
  // GetAppProperty answers True and this value for Name (compared without regard to case);
  // for a name that has none it answers False and leaves the output alone.
  void SetAppProperty(const std::wstring& Name, const std::wstring& Value);
  void RemoveAppProperty(const std::wstring& Name);
  // The return value of a method from now on (defaults: GetAppProperty as above, the events,
  // TaskState and WriteLog True, MessageDlg 0, InputDataDlg "").
  void SetResult(const std::wstring& Method, const TVariant& Result);
  // The method raises an automation exception with this description (empty: it stops raising).
  void SetRaise(const std::wstring& Method, const std::wstring& Description);
  // After recording a call, the method writes Value into its by-reference argument at Index
  // (leftmost first), converted to the reference's type.
  void SetOutArgument(const std::wstring& Method, size_t Index, const TVariant& Value);
  // After recording a call and before answering it, the method runs Action (as a host that
  // calls back into the device from inside a callback). An empty function removes it.
  void SetAction(const std::wstring& Method, std::function<void()> Action);
  // True once an object of this class was destroyed while one of its calls was still running.
  static bool DestroyedDuringACall() noexcept { return GDestroyedDuringACall.load(); }

  // ---- Record
  std::vector<TReceivedCall> Calls() const;
  std::vector<TReceivedCall> CallsOf(const std::wstring& Method) const;
  void ClearCalls();
  ULONG RefCount() const noexcept { return FRefCount.load(); }

  // ---- IUnknown / IDispatch
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID, DISPID* rgDispId) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID, LCID, WORD wFlags, DISPPARAMS* pDispParams,
                                   VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

private:
  TTestEquipmentManager() = default;
  virtual ~TTestEquipmentManager() {
    if (FCallsRunning.load() > 0) GDestroyedDuringACall = true;
  }

  struct TOutArgument {
    size_t Index;
    TVariant Value;
  };

  std::atomic<ULONG> FRefCount{1};
  mutable std::mutex FLock;
  std::map<std::wstring, std::wstring> FAppProperties;  // key upper-cased
  std::map<std::wstring, TVariant> FResults;
  std::map<std::wstring, std::wstring> FRaise;
  std::map<std::wstring, std::vector<TOutArgument>> FOutArguments;
  std::vector<TReceivedCall> FCalls;
  std::map<std::wstring, std::function<void()>> FActions;
  std::atomic<int> FCallsRunning{0};
  static inline std::atomic<bool> GDestroyedDuringACall{false};
};
