// The product module: the driver is the class this DLL serves. Only the DLL compiles this
// file; test programs link the driver's library without making it their COM class.
#include "host/uClassIdentity.h"
#include "host/uComServer.h"
#include "uDriver.h"

namespace {

const TComClassRegistration GDriverClass({CLSID_tolvaro, kServerName, kDriverClassName, kDriverDescription, L"Apartment",
                                          &CreateComObject<TDriver>});

}  // namespace
