// What the installer test asks of the Windows side, in this program's own registry view (a
// 32-bit build sees the 32-bit view, a 64-bit build the 64-bit one):
//   msi_probe create            creates the driver by its ProgID as a host does, calls
//                               GetDeviceInfo through IDispatch; prints the DLL that COM loaded
//   msi_probe entries machine|user [32|64]
//                               prints the class's registry entries under HKLM or HKCU classes,
//                               in the program's own view or the one named (KEY_WOW64_*: a
//                               64-bit probe reads the 32-bit view where 32-bit programs
//                               cannot run)
// Exit code 0 when it did what was asked, 1 when the driver did not answer as the driver.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>

#include "kit/DispatchTestKit.h"
#include "kit/RegistrationTestKit.h"
#include "host/uClassIdentity.h"

namespace {

class TComApartment {
public:
  TComApartment() : FHr(CoInitialize(nullptr)) {}
  ~TComApartment() {
    if (SUCCEEDED(FHr)) CoUninitialize();
  }
  TComApartment(const TComApartment&) = delete;
  TComApartment& operator=(const TComApartment&) = delete;

private:
  HRESULT FHr;
};

struct TReleaser {
  void operator()(IUnknown* p) const { p->Release(); }
};

int Fail(const char* What, HRESULT Hr) {
  std::printf("%s failed: 0x%08lX\n", What, static_cast<unsigned long>(Hr));
  return 1;
}

int Create() {
  TComApartment apartment;
  CLSID clsid{};
  HRESULT hr = CLSIDFromProgID(kDriverProgID, &clsid);
  if (FAILED(hr)) return Fail("CLSIDFromProgID", hr);
  IDispatch* raw = nullptr;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&raw));
  if (FAILED(hr)) return Fail("CoCreateInstance", hr);
  std::unique_ptr<IDispatch, TReleaser> driver(raw);
  TVariant in, out, timeOut = TVariant::FromInt(0);
  TInvokeResult result = InvokeByName(driver.get(), L"GetDeviceInfo", {ByVal(in), VariantRefTo(out), ByVal(timeOut)});
  if (FAILED(result.Hr)) return Fail("GetDeviceInfo", result.Hr);
  if (result.Result.Get().vt != VT_BOOL || result.Result.Get().boolVal != VARIANT_TRUE) return Fail("GetDeviceInfo", S_FALSE);
  const std::wstring type = ItemOf(out, 0).Get().bstrVal ? ItemOf(out, 0).Get().bstrVal : L"";
  const std::wstring progID = ItemOf(out, 6).Get().bstrVal ? ItemOf(out, 6).Get().bstrVal : L"";
  // The file COM loaded, in its long form, so that the test can tell which one it was.
  wchar_t loaded[MAX_PATH * 2] = L"", full[MAX_PATH * 2] = L"";
  GetModuleFileNameW(GetModuleHandleW(L"tolvaro.dll"), loaded, MAX_PATH * 2);
  if (!GetLongPathNameW(loaded, full, MAX_PATH * 2)) wcscpy(full, loaded);
  std::printf("type=%s\nprogid=%s\nmodule=%s\n", Utf16ToUtf8(type).c_str(), Utf16ToUtf8(progID).c_str(),
              Utf16ToUtf8(full).c_str());
  return type == L"FastPaymentSystem" && progID == kDriverProgID ? 0 : 1;
}

int Entries(const std::wstring& Scope, const std::wstring& View) {
  const HKEY root = Scope == L"user" ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
  const REGSAM view = View == L"32" ? KEY_WOW64_32KEY : View == L"64" ? KEY_WOW64_64KEY : 0;
  const regtest::TTree tree =
      regtest::ClassEntries(root, std::wstring(L"CLSID\\") + kDriverClassGuidText, kDriverProgID, view);
  std::fputs(regtest::Show(tree).c_str(), stdout);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"create") return Create();
  if (command == L"entries" && argc > 2) return Entries(argv[2], argc > 3 ? argv[3] : L"");
  std::fputs("usage: msi_probe create | entries machine|user [32|64]\n", stderr);
  return 2;
}
