// The test server: a small TBaseObject descendant served through the module's COM server,
// with methods that report what only code inside the DLL can see.
#include <windows.h>

#include <thread>

#include "TestClassIdentity.h"
#include "host/uCOMSupport.h"
#include "host/uClassIdentity.h"
#include "host/uComServer.h"
#include "host/uDebugLog.h"
#include "host/uEquipment.h"
#include "platform/uFiles.h"
#include "platform/uHandles.h"

namespace {

class TTestObject : public TBaseObject {
public:
  void Initialize() override {
    TBaseObject::Initialize();
    AddSetting(L"Tag", dtString, TVariant::FromString(L""), false, L"Tag", L"");
    RegisterPrivateMethod(L"InstanceID", [this](TVariantArray&) { return TVariant::FromString(InstanceID()); });
    RegisterPrivateMethod(L"SetTag", [this](TVariantArray& Params) {
      SetSettingValue(L"Tag", Params.GetItem(0));
      return TVariant();
    });
    RegisterPrivateMethod(L"GetTag", [this](TVariantArray&) { return GetSettingValue(L"Tag", false); });
    // [file version, default debug-log folder, module file name], as the DLL sees them.
    RegisterPrivateMethod(L"ModuleInfo", [](TVariantArray&) {
      const TModuleVersion v = GetModuleVersion();
      const std::wstring version = std::to_wstring(v.Major) + L"." + std::to_wstring(v.Minor) + L"." +
                                   std::to_wstring(v.Release) + L"." + std::to_wstring(v.Build);
      return MakeVariantArray({TVariant::FromString(version), TVariant::FromString(DefaultDebugLogDir()),
                               TVariant::FromString(ThisModuleFileName())});
    });
    // A worker thread that holds the module until the named event is set (or a minute passes).
    RegisterPrivateMethod(L"StartModuleThread", [](TVariantArray& Params) {
      const std::wstring name = VariantToString(Params.GetItem(0).Get());
      THandle event(OpenEventW(SYNCHRONIZE, FALSE, name.c_str()));
      if (!event.Valid()) RaiseOSError(GetLastError());
      std::thread([ref = TModuleThreadRef(), event = std::move(event)]() mutable {
        WaitForSingleObject(event.Get(), 60000);
      }).detach();
      return TVariant::FromBool(true);
    });
  }
};

const TComClassRegistration GTestClass({CLSID_tolvarotest, kServerName, kTestClassName, kTestDescription, L"Apartment",
                                        &CreateComObject<TTestObject>});

}  // namespace
