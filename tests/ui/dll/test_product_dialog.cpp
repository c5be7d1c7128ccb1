// The product DLL shows the settings dialog with the driver's page: a driver object made by
// the module's own class factory, ShowSettingsDlg through Invoke, Cancel by the user.
#include <gtest/gtest.h>

#include "kit/UiTestKit.h"
#include "kit/DispatchTestKit.h"
#include "host/uClassIdentity.h"
#include "ui/uUiResources.h"

using namespace uitest;

TEST(ProductDialog, ShowSettingsDlgOfTheProductDllShowsTheDriversPageAndCancelAnswers201) {
  wchar_t exe[MAX_PATH] = L"";
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring path(exe);
  path = path.substr(0, path.find_last_of(L"\\/") + 1) + L"tolvaro.dll";
  HMODULE module = LoadLibraryW(path.c_str());
  ASSERT_NE(module, nullptr);
  using TGetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  auto getClassObject =
      reinterpret_cast<TGetClassObject>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
  ASSERT_NE(getClassObject, nullptr);
  IClassFactory* factory = nullptr;
  ASSERT_EQ(getClassObject(CLSID_tolvaro, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  IDispatch* driver = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&driver)), S_OK);
  factory->Release();

  bool ok = true;
  int32_t code = 0;
  std::wstring host;
  RunWhileModal(
      [&] {
        TVariant in, out, timeOut = TVariant::FromInt(0);
        TInvokeResult result = InvokeByName(driver, L"ShowSettingsDlg", {ByVal(in), VariantRefTo(out), ByVal(timeOut)});
        ok = result.Result.Get().boolVal == VARIANT_TRUE;
        code = ok ? 0 : ItemOf(out, 0).Get().lVal;
      },
      [&] {
        HWND dialog = WaitDialog(L"Настройки");
        ASSERT_NE(dialog, nullptr);
        host = ItemText(dialog, IDC_HOST);
        Click(dialog, IDCANCEL);
        WaitGone(dialog);
      });
  EXPECT_FALSE(ok);
  EXPECT_EQ(code, 201);
  EXPECT_TRUE(host.starts_with(L"https://")) << "the driver's page with the default address";
  driver->Release();
}
