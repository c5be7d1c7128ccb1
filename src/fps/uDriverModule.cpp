// The product module: the driver is the class this DLL serves. Only the DLL compiles this
// file; test programs link the driver's library without making it their COM class.
#include "bank/uHTTPClient.h"
#include "host/uClassIdentity.h"
#include "host/uComServer.h"
#include "platform/uUnwindTables.h"
#include "uDriver.h"
#include "ui/ufmCommonSettings.h"
#include "ui/ufmMainSettings.h"

namespace {

// Before every other static object of the module: their constructors may throw and catch.
[[gnu::init_priority(101)]] const TOwnUnwindTables GUnwindTables;

const TComClassRegistration GDriverClass({CLSID_tolvaro, kServerName, kDriverClassName, kDriverDescription, L"Apartment",
                                          &CreateComObject<TDriver>});

// A bank request given up on may still be called back by WinHTTP after its call returned: it
// holds the module until then (DllCanUnloadNow answers S_FALSE meanwhile).
const bool GTransportModuleLock = [] {
  bank::SetTransportModuleLock({&ModuleLock, &ModuleUnlock});
  return true;
}();

// The settings dialog and the driver's page, in place when the module is loaded.
const bool GSettingsDialogs = [] {
  RegisterSettingsDialogs();
  RegisterDriverSettingsPages({TfrmMainSettings::PageClass()});
  return true;
}();

}  // namespace
