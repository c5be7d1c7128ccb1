#pragma once
// TBaseObject: the automation object the host drives by late-bound IDispatch calls.
// It owns the method table, the setting registry, the call trace and the instance GUID.
#include <windows.h>
#include <oaidl.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/uExceptions.h"
#include "platform/uSafeArray.h"
#include "platform/uVariant.h"
#include "uComObj.h"

// Public convention: (InData, OutData, TimeOut, out ResultDescription) -> result code.
using TPublicMethod =
    std::function<int32_t(TVariant& InData, TVariant& OutData, int32_t TimeOut, std::wstring& ResultDescription)>;
// Private convention: the whole argument array (element i = the host's i-th argument),
// read and written by the handler; returns the call's result.
using TPrivateMethod = std::function<TVariant(TVariantArray& paParams)>;
// Catch-all for names outside the method table; receives the name first.
using TExtMethod = std::function<int32_t(const std::wstring& AMethodName, TVariant& InData, TVariant& OutData,
                                         int32_t TimeOut, std::wstring& ResultDescription)>;

struct TMethodStruct {
  std::wstring Name;
  bool IsPublic = false;
  bool IsSpecific = false;  // recorded only
  // OutData always comes back as an array: a typed reference for it is refused before the
  // handler runs, as no such variable could take the answer of an operation already done.
  bool ArrayOutData = false;
  TPrivateMethod PrivateMethod;
  TPublicMethod PublicMethod;
};
// A deque: registration hands out references to entries, and appending to a deque never
// moves the entries already there.
using TMethodArray = std::deque<TMethodStruct>;

enum TDataType : uint8_t { dtNumber = 0, dtString = 1, dtDateTime = 2, dtBoolean = 3 };

struct TSettingStruct {
  std::wstring ID;
  TVariant Value;
  TDataType ValueType = dtString;
  TVariant Default;
  bool ReadOnly = false;
  std::wstring Name;
  std::wstring Description;
  bool Secret = false;  // its value never reaches a log (see MarkSettingSecret)
  // How a log shows a value of this setting that is not secret as a whole (an address without
  // its user information); empty: as it is. See SetSettingLogView.
  std::function<TVariant(const TVariant&)> LogView;
};

// What a secret setting's value is replaced with wherever a log would show it.
inline constexpr wchar_t kSecretMask[] = L"***";

// Which argument text of a host call the trace asks for.
enum TTraceData : uint8_t { tdInData, tdOutData, tdParams };

class TBaseObject : public TComObject {
public:
  // DISPID layout: 0..N-1 the method table, 65535+k the k-th extension name.
  static constexpr DISPID kExtDispIdBase = 65535;
  static constexpr DISPID kMaxDispId = 100000;
  static constexpr int32_t kExceptionCode = 1001;

  TBaseObject();

  void Initialize() override;

  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                          DISPID* rgDispId) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                                   VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

  virtual void BeginDebugLog() {}
  virtual std::wstring GetDriverResultDescription(int32_t ResultCode);

  bool GetDebugLogEnabled() const noexcept { return FDebugLogEnabled; }
  void SetDebugLogEnabled(bool Value);
  const std::wstring& InstanceID() const noexcept { return FInstanceID; }

  // One debug-log line while logging is on; a line that cannot be written is dropped.
  void WriteDebugLog(const std::wstring& Caption, const std::wstring& Text, bool CaptionOnly = false) noexcept;

  // Setting registry. IDs compare case-insensitively for ASCII letters only.
  void AddSetting(const std::wstring& ID, TDataType ValueType, const TVariant& Default, bool ReadOnly,
                  const std::wstring& Name, const std::wstring& Description);
  TVariant GetSettingValue(const std::wstring& ID, bool Default) const;
  bool GetSettingValueBool(const std::wstring& ID) const;
  int32_t GetSettingValueInt(const std::wstring& ID) const;
  double GetSettingValueDbl(const std::wstring& ID) const;
  int64_t GetSettingValueCurr(const std::wstring& ID) const;  // ten-thousandths
  double GetSettingValueDate(const std::wstring& ID) const;
  std::wstring GetSettingValueStr(const std::wstring& ID) const;
  bool GetSettingReadOnly(const std::wstring& ID) const;
  void SetSettingValue(const std::wstring& ID, const TVariant& Value);
  void SetAllSettingsDefault();
  static std::wstring DataTypeName(TDataType ValueType);
  // An edited text as a setting's value. Number: a whole number within 32 bits as VT_I4 (the
  // type of the declared defaults), another number as a double, no number as 0.
  static TVariant TextToSettingValue(TDataType ValueType, const std::wstring& Text);
  const std::vector<TSettingStruct>& Settings() const noexcept { return FSettingList; }
  // The first setting whose ID matches (ASCII letters without regard to case), or null.
  TSettingStruct* FindSetting(const std::wstring& ID) noexcept;
  const TSettingStruct* FindSetting(const std::wstring& ID) const noexcept;
  // A secret setting (a password) shows as kSecretMask in every log; an unknown ID is ignored.
  void MarkSettingSecret(const std::wstring& ID);
  bool IsSettingSecret(const std::wstring& ID) const noexcept;
  // A setting whose value may hold a secret in part shows in every log as View makes it; an
  // unknown ID is ignored. View must not throw.
  void SetSettingLogView(const std::wstring& ID, std::function<TVariant(const TVariant&)> View);
  // The value as a log may show it: kSecretMask for a secret setting, its log view, or a copy.
  TVariant SettingValueForLog(const TSettingStruct& Setting) const;
  static TVariant ValueForLog(const TSettingStruct& Setting, const TVariant& Value);

  // Reading optional elements of an InData array.
  static bool ArrayItemAssigned(const VARIANT& Arr, LONG Index);
  static std::wstring ArrayItemStr(const VARIANT& Arr, LONG Index, const std::wstring& Default);

  // [Code, Text] (or [Code, Text, Extra] when Extra is not Empty) as a variant array.
  static TVariant MakeErrorOutData(int32_t Code, const std::wstring& Description, const TVariant& Extra);

protected:
  ~TBaseObject() override;

  TMethodStruct& FindOrAddMethod(const std::wstring& Name);
  void RegisterPrivateMethod(const std::wstring& Name, TPrivateMethod Handler);
  TMethodStruct& RegisterMethod(const std::wstring& Name, bool IsSpecific, TPublicMethod Handler);
  TMethodStruct& RegisterPublicMethod(const std::wstring& Name, TPublicMethod Handler);
  TMethodStruct& RegisterSpecificMethod(const std::wstring& Name, TPublicMethod Handler);

  // Runs the handler of a DISPID on the argument array; Invoke is its only caller.
  HRESULT CallMethod(DISPID DispID, TVariant& Result, TVariantArray& Params);

  // The error boundary of an operation: runs it, and turns whatever it throws into
  // kExceptionCode with the failure's text (DescribeException) in ResultDescription.
  template <class TOperation>
  int32_t Guarded(std::wstring& ResultDescription, TOperation&& Operation) noexcept {
    ResultDescription.clear();
    try {
      return Operation();
    } catch (...) {
      try {
        ResultDescription = DescribeException().Message;
      } catch (...) {
      }
      return kExceptionCode;
    }
  }

  // Inside a catch handler: the caught exception as a class name and a text, for the host (the
  // EXCEPINFO of a failed call, the ResultDescription of a guarded operation). The platform's
  // translation; a class whose layers throw more kinds extends it.
  virtual TExceptionText DescribeException() const noexcept { return DescribeCurrentException(); }

  // The text the call trace shows for a method's InData, OutData or whole argument array.
  // A class whose calls carry secrets (the settings exchange) renders them masked here.
  virtual std::wstring TraceDataText(const std::wstring& MethodName, TTraceData Kind, const VARIANT& Data);

  std::vector<std::wstring> FExtMethodList;
  TVariant FExtData;
  TExtMethod FOnExtMethod;
  std::wstring FInstanceID;
  TMethodArray FMethodList;
  std::vector<TSettingStruct> FSettingList;
  bool FDebugLogEnabled = false;
  std::wstring FDebugLogDir;

private:
  bool IsKnownDispId(DISPID DispID) const noexcept;
  std::wstring TraceText(const std::wstring& MethodName, TTraceData Kind, const VARIANT& Data) noexcept;
  void WriteBackArguments(const DISPPARAMS& Params, TVariantArray& Args);
  // Inside a catch: fills EXCEPINFO, logs the exception and answers DISP_E_EXCEPTION.
  HRESULT ReportException(EXCEPINFO* pExcepInfo) noexcept;
};
