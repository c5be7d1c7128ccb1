#pragma once
// The product DLL as a host meets it: registered by the prefix's regsvr32, created by ProgID,
// given the test equipment manager, configured with SetSettings and driven through Invoke
// against the bank sandbox. Each session has a terminal of its own at the sandbox.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "kit/TestEquipmentManager.h"
#include "kit/DispatchTestKit.h"
#include "kit/LogTestKit.h"
#include "kit/RegistrationTestKit.h"
#include "platform/uComPtr.h"
#include "platform/uFiles.h"
#include "platform/uHandles.h"
#include "platform/uStrings.h"
#include "kit/uSandbox.h"

namespace e2e {

inline constexpr wchar_t kProgID[] = L"Qelm.tolvaro";
// {973CB31E-3A3E-4B58-B93D-262E5857EFC4}, written out here so that a changed class GUID fails.
inline constexpr wchar_t kClassGuidText[] = L"{973CB31E-3A3E-4B58-B93D-262E5857EFC4}";

inline std::wstring DllPath() { return regtest::ExeFolder() + L"tolvaro.dll"; }

// Runs the prefix's regsvr32 silently on the product; its exit code, or -1 when it did not end in time.
inline int Regsvr32(const std::wstring& Args) { return regtest::Regsvr32(Args, DllPath()); }

inline std::wstring Str(const TVariant& v) { return VariantToString(v.Get()); }
inline bool IsTrue(const TInvokeResult& r) { return r.Result.Type() == VT_BOOL && r.Result.Get().boolVal == VARIANT_TRUE; }
inline std::wstring W(const std::string& s) { return Utf8ToUtf16(s); }
inline std::string U8(const std::wstring& s) { return Utf16ToUtf8(s); }

inline TVariant Args(std::initializer_list<TVariant> Items) { return MakeVariantArray(Items); }

// The process's module handle of the product and its two entry points the tests ask directly.
struct TProductModule {
  HMODULE Module = nullptr;
  HRESULT(STDAPICALLTYPE* CanUnloadNow)() = nullptr;
  HRESULT(STDAPICALLTYPE* GetClassObject)(REFCLSID, REFIID, void**) = nullptr;

  HRESULT WaitForUnloadable() const { return regtest::WaitForUnloadable(CanUnloadNow); }
};
TProductModule& Product();

// One driver object as a host holds it, with its own sandbox terminal and device folder.
class TSession {
public:
  struct TOptions {
    int WaitTimeout = 30;
    int LineLength = 40;
    bool DebugLog = true;
    bool Https = false;
    // Sessions given one device ID share its folder and so the day's log file, as objects of
    // one device do in a host; empty: the terminal key.
    std::wstring DeviceID;
    // The bank's base URL instead of the sandbox's (a closed port, another server).
    std::wstring Host;
  };

  explicit TSession(TOptions Options);
  TSession() : TSession(TOptions{}) {}
  ~TSession();
  TSession(const TSession&) = delete;
  TSession& operator=(const TSession&) = delete;

  IDispatch* Disp() const { return FObject.Get(); }
  // Releases the host's reference (the object goes when it held the last one).
  void Release() {
    if (FObject) FObject->Release();
    *FObject.OutPtr() = nullptr;
  }

  // A public method: (InData, OutData by reference, TimeOut 0).
  TInvokeResult Call(const std::wstring& Name, const TVariant& InData, TVariant& OutData) const {
    TVariant timeOut = TVariant::FromInt(0);
    return InvokeByName(Disp(), Name, {ByVal(InData), VariantRefTo(OutData), ByVal(timeOut)});
  }

  // RegisterQrCode for an amount; the payment's identifier ("" on failure, which is expected false).
  std::wstring Register(double Amount);

  tolvaro::test::TSandbox Sandbox;
  std::string Key;
  std::wstring Password;
  std::wstring DeviceID;
  std::wstring DeviceFolder;  // with a trailing delimiter
  std::wstring HostURL;

  static TScratchFolder& Scratch();

private:
  TComPtr<IDispatch> FObject;
  TTestEquipmentManager* FManager = nullptr;
};

// Every file under a folder (recursively), full paths.
std::vector<std::wstring> FilesUnder(const std::wstring& Folder);
// The folders a test run's logs go to besides device folders: the debug log's default folder
// and the exchange log's, under common application data.
std::vector<std::wstring> DefaultLogFolders();
// Whether a file's bytes hold the text in the ANSI code page, UTF-8 or UTF-16.
bool FileHolds(const std::wstring& File, const std::wstring& Text);

}  // namespace e2e
