// The run's setting: the product registered machine-wide by regsvr32 for the whole run, and
// held loaded, so that the module COM loads by the registered name is the one asked here.
#include "kit/E2EKit.h"

namespace {

class TProductEnvironment : public ::testing::Environment {
public:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    ASSERT_EQ(e2e::Regsvr32(L""), 0);
    e2e::TProductModule& p = e2e::Product();
    p.Module = LoadLibraryW(e2e::DllPath().c_str());
    ASSERT_NE(p.Module, nullptr);
    p.CanUnloadNow = reinterpret_cast<decltype(p.CanUnloadNow)>(
        reinterpret_cast<void*>(GetProcAddress(p.Module, "DllCanUnloadNow")));
    p.GetClassObject = reinterpret_cast<decltype(p.GetClassObject)>(
        reinterpret_cast<void*>(GetProcAddress(p.Module, "DllGetClassObject")));
    ASSERT_NE(p.CanUnloadNow, nullptr);
    ASSERT_NE(p.GetClassObject, nullptr);
  }
  void TearDown() override {
    e2e::Regsvr32(L"/u");
    CoUninitialize();
  }
};

const auto* const GEnvironment = ::testing::AddGlobalTestEnvironment(new TProductEnvironment);

}  // namespace
