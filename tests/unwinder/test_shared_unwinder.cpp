// A till whose process holds MinGW's shared unwinder (libgcc_s_dw2-1.dll) before it creates
// the driver, as it does when any other MinGW-built component of it is loaded first: every
// failure inside the driver (each of which the driver raises and catches as an exception)
// still reaches the host as False with [code, text], and once the driver is released and
// unloaded, the host's own exceptions, unwound by the shared unwinder, still work.
#include "kit/E2EKit.h"

namespace {

using namespace e2e;

// The host's own module, loaded before anything of the driver: before main, so before the
// run's environment loads and registers the product.
HMODULE HostModule() {
  static const HMODULE module = LoadLibraryW((regtest::ExeFolder() + L"shared_unwinder_host.dll").c_str());
  return module;
}
const HMODULE GHostModuleFirst = HostModule();

int HostThrowAndCatch() {
  const auto fn = reinterpret_cast<int (*)()>(reinterpret_cast<void*>(GetProcAddress(HostModule(), "HostThrowAndCatch")));
  return fn != nullptr ? fn() : -1;
}

TEST(SharedUnwinder, TheHostHoldsTheSharedUnwinderBeforeTheDriverIsLoaded) {
  ASSERT_NE(GHostModuleFirst, nullptr);
  EXPECT_NE(GetModuleHandleW(L"libgcc_s_dw2-1.dll"), nullptr);
  EXPECT_EQ(HostThrowAndCatch(), 1);
}

TEST(SharedUnwinder, EveryFailureInsideTheDriverReachesTheHostAsFalseWithCodeAndText) {
  struct TCase {
    const char* What;
    TSession::TOptions Options;
    void (*Prepare)(TSession&);
    const wchar_t* Method;
    TVariant InData;
  };
  TSession::TOptions noBank;
  noBank.Host = L"http://127.0.0.1:1/v2";
  TSession::TOptions shortWait;
  shortWait.WaitTimeout = 2;
  const auto nothing = [](TSession&) {};
  const TCase cases[] = {
      {"an Empty InData", {}, nothing, L"RegisterQrCode", TVariant()},
      {"a settings table with no rows", {}, nothing, L"SetSettings", MakeVariantArray({})},
      {"the bank's error answer", {},
       [](TSession& s) {
         s.Sandbox.Script(s.Key, "GetQr", R"({"Kind":"error","ErrorCode":"77","Message":"Сбой QR","Details":"Повторите"})");
       },
       L"RegisterQrCode", Args({TVariant::FromDouble(5), TVariant::FromString(L"")})},
      {"a payment the bank does not know", {}, nothing, L"GetQrCodeStatus", Args({TVariant::FromString(L"404404")})},
      {"no bank at the address", noBank, nothing, L"RegisterQrCode", Args({TVariant::FromDouble(5), TVariant::FromString(L"")})},
  };
  for (const TCase& c : cases) {
    TSession s(c.Options);
    c.Prepare(s);
    TVariant out;
    const TInvokeResult r = s.Call(c.Method, c.InData, out);
    ASSERT_EQ(r.Hr, S_OK) << c.What;
    EXPECT_FALSE(IsTrue(r)) << c.What;
    ASSERT_EQ(CountOf(out), 2) << c.What;
    EXPECT_NE(ItemOf(out, 0).Get().lVal, 0) << c.What;
    EXPECT_FALSE(Str(ItemOf(out, 1)).empty()) << c.What;
  }

  // A wait that runs out: the failure is raised on the driver's wait thread.
  TSession s(shortWait);
  const std::wstring id = s.Register(10);
  ASSERT_FALSE(id.empty());
  TVariant out;
  const TInvokeResult r = s.Call(L"Pay", Args({TVariant::FromString(L"QR"), TVariant::FromString(id)}), out);
  ASSERT_EQ(r.Hr, S_OK);
  EXPECT_FALSE(IsTrue(r));
  ASSERT_EQ(CountOf(out), 2);
  EXPECT_NE(ItemOf(out, 0).Get().lVal, 0);
}

TEST(SharedUnwinder, OnceTheDriverIsUnloadedTheHostsOwnExceptionsStillWork) {
  {
    TSession s;
    TVariant out;
    EXPECT_FALSE(IsTrue(s.Call(L"RegisterQrCode", TVariant(), out)));
  }
  ASSERT_EQ(Product().WaitForUnloadable(), S_OK);
  // The run's own reference, then COM's.
  ASSERT_TRUE(FreeLibrary(Product().Module));
  Product() = {};
  for (int i = 0; i < 100 && GetModuleHandleW(L"tolvaro.dll") != nullptr; ++i) {
    CoFreeUnusedLibrariesEx(0, 0);
    Sleep(100);
  }
  ASSERT_EQ(GetModuleHandleW(L"tolvaro.dll"), nullptr) << "the driver stayed loaded";
  EXPECT_NE(GetModuleHandleW(L"libgcc_s_dw2-1.dll"), nullptr);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(HostThrowAndCatch(), 1);
}

}  // namespace
