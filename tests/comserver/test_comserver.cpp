// The COM server as hosts and installers meet it: registered by the prefix's regsvr32,
// created by ProgID, driven through IDispatch, asked by COM whether it may unload.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <utility>

#include "kit/DispatchTestKit.h"
#include "kit/RegistrationTestKit.h"
#include "TestClassIdentity.h"
#include "host/uClassIdentity.h"
#include "host/uDebugLog.h"
#include "host/uEquipment.h"
#include "platform/uComPtr.h"
#include "platform/uFiles.h"
#include "platform/uHandles.h"
#include "platform/uRegistry.h"
#include "platform/uStrings.h"

namespace {

using namespace regtest;

const std::wstring kClassKey = std::wstring(L"CLSID\\") + kTestClassGuidText;

std::wstring TestDllPath() { return ExeFolder() + L"tolvarotest.dll"; }

// What the test class owns under one classes root (HKLM or HKCU "Software\Classes").
TTree OurEntries(HKEY Root) { return ClassEntries(Root, kClassKey, kTestProgID); }

TTree ExpectedEntries(const std::wstring& Classes, const std::wstring& ServerPath) {
  return ExpectedClassEntries(Classes, kClassKey, kTestProgID, kTestClassGuidText, kTestDescription, ServerPath);
}

// Removes whatever a test (or an aborted earlier run) left of the test class.
void RemoveTestEntries() {
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    RegDeleteTreeW(root, (kClasses + L"\\" + kClassKey).c_str());
    RegDeleteTreeW(root, (kClasses + L"\\" + kTestProgID).c_str());
  }
}

using TCanUnloadNow = HRESULT(STDAPICALLTYPE*)();
using TGetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

class ComServer : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    RemoveTestEntries();
    // Held for the whole run, so the module COM loads by the registered name is this one
    // and stays loaded between tests.
    Module = LoadLibraryW(TestDllPath().c_str());
    ASSERT_NE(Module, nullptr);
    CanUnloadNow = reinterpret_cast<TCanUnloadNow>(reinterpret_cast<void*>(GetProcAddress(Module, "DllCanUnloadNow")));
    GetClassObject =
        reinterpret_cast<TGetClassObject>(reinterpret_cast<void*>(GetProcAddress(Module, "DllGetClassObject")));
    ASSERT_NE(CanUnloadNow, nullptr);
    ASSERT_NE(GetClassObject, nullptr);
  }
  static void TearDownTestSuite() {
    RemoveTestEntries();
    CoUninitialize();
  }
  void TearDown() override { RemoveTestEntries(); }

  // Registers machine-wide for the test's duration.
  struct TRegistration {
    explicit TRegistration(std::wstring Dll = TestDllPath()) : FDll(std::move(Dll)) { Code = Regsvr32(L"", FDll); }
    ~TRegistration() { Regsvr32(L"/u", FDll); }
    std::wstring FDll;
    int Code = -1;
  };

  static TComPtr<IDispatch> CreateByProgID() {
    TComPtr<IDispatch> object;
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(kTestProgID, &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_tolvarotest));
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, object.OutVoid()), S_OK);
    return object;
  }

  static std::wstring CallText(IDispatch* Object, const std::wstring& Name, std::vector<VARIANT> Args = {}) {
    TInvokeResult r = InvokeByName(Object, Name, std::move(Args));
    EXPECT_EQ(r.Hr, S_OK) << Utf16ToUtf8(Name) << ": " << Utf16ToUtf8(r.ExcepDescription());
    return r.Result.Type() == VT_BSTR ? VariantToString(r.Result.Get()) : std::wstring();
  }

  static HRESULT WaitForUnloadable() { return regtest::WaitForUnloadable(CanUnloadNow); }

  static inline HMODULE Module = nullptr;
  static inline TCanUnloadNow CanUnloadNow = nullptr;
  static inline TGetClassObject GetClassObject = nullptr;
};

// ---------------------------------------------------------------------------------------
// Registration

struct TRegistrationForm {
  const wchar_t* Install;
  const wchar_t* Uninstall;
  bool PerUser;
};

TEST_F(ComServer, RegistrationWritesTheEntriesUnderItsRootOnlyAndUnregistrationRemovesThem) {
  const std::wstring dll = TestDllPath();
  const TRegistrationForm forms[] = {
      {L"", L"/u", false},                              // DllRegisterServer / DllUnregisterServer
      {L"/i:machine /n", L"/u /i:machine /n", false},   // DllInstall with any other text: machine-wide
      {L"/i:user /n", L"/u /i:user /n", true},          // DllInstall per user
      {L"/i:USER /n", L"/u /i:User /n", true},          // ... whatever the case
  };
  for (const TRegistrationForm& form : forms) {
    SCOPED_TRACE(Utf16ToUtf8(std::wstring(L"regsvr32 ") + form.Install));
    const HKEY root = form.PerUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    const HKEY otherRoot = form.PerUser ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    const TTree expected = ExpectedEntries(kClasses, dll);

    ASSERT_EQ(Regsvr32(form.Install, dll), 0);
    EXPECT_EQ(OurEntries(root), expected) << Show(OurEntries(root));
    EXPECT_TRUE(OurEntries(otherRoot).empty()) << Show(OurEntries(otherRoot));

    // Twice: the same entries, nothing more.
    ASSERT_EQ(Regsvr32(form.Install, dll), 0);
    EXPECT_EQ(OurEntries(root), expected) << Show(OurEntries(root));

    // A host finds it by ProgID. Wine's classes root does not show the per-user classes
    // (CLSIDFromProgID answers CO_E_CLASSSTRING there), so per-user lookup is Windows only.
    if (!form.PerUser || !RunningOnWine()) {
      TComPtr<IDispatch> object = CreateByProgID();
      ASSERT_TRUE(object);
      EXPECT_EQ(CallText(object.Get(), L"InstanceID").size(), 38u);
    }

    ASSERT_EQ(Regsvr32(form.Uninstall, dll), 0);
    EXPECT_TRUE(OurEntries(root).empty()) << Show(OurEntries(root));
    EXPECT_TRUE(OurEntries(otherRoot).empty());
    // Unregistering what is not there is no failure.
    EXPECT_EQ(Regsvr32(form.Uninstall, dll), 0);
  }
}

TEST_F(ComServer, MachineWideRegistrationGoesToTheMachineWhateverTheUserHas) {
  // On Windows HKEY_CLASSES_ROOT would send these writes to the user's existing keys (Wine's
  // does not merge the user's classes, so there this guards the explicit root only).
  const std::wstring dll = TestDllPath();
  ASSERT_EQ(Regsvr32(L"/i:user /n", dll), 0);
  const TTree user = OurEntries(HKEY_CURRENT_USER);
  ASSERT_EQ(user, ExpectedEntries(kClasses, dll));
  ASSERT_EQ(Regsvr32(L"", dll), 0);
  EXPECT_EQ(OurEntries(HKEY_LOCAL_MACHINE), ExpectedEntries(kClasses, dll));
  EXPECT_EQ(OurEntries(HKEY_CURRENT_USER), user);
  ASSERT_EQ(Regsvr32(L"/u", dll), 0);
  EXPECT_TRUE(OurEntries(HKEY_LOCAL_MACHINE).empty()) << Show(OurEntries(HKEY_LOCAL_MACHINE));
  EXPECT_EQ(OurEntries(HKEY_CURRENT_USER), user);
  ASSERT_EQ(Regsvr32(L"/u /i:user /n", dll), 0);
  EXPECT_TRUE(OurEntries(HKEY_CURRENT_USER).empty());
}

TEST_F(ComServer, UnregisteringKeepsTheSharedProgIDWhileTheOtherBitnessIsRegistered) {
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  if (sizeof(void*) == 4 && !wow64) GTEST_SKIP() << "a 32-bit system has one registry view";
  const REGSAM other = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
  const std::wstring dll = TestDllPath(), server = kClasses + L"\\" + kClassKey + L"\\InprocServer32";
  const std::wstring progID = kClasses + L"\\" + kTestProgID;
  const auto removeOtherView = [&](HKEY base) {
    HKEY classes = nullptr;
    if (RegOpenKeyExW(base, (kClasses + L"\\CLSID").c_str(), 0, KEY_ALL_ACCESS | other, &classes) == ERROR_SUCCESS) {
      RegDeleteTreeW(classes, kTestClassGuidText);
      RegCloseKey(classes);
    }
  };
  const struct {
    HKEY Base;
    const wchar_t *Install, *Uninstall;
  } scopes[] = {{HKEY_LOCAL_MACHINE, L"", L"/u"}, {HKEY_CURRENT_USER, L"/i:user /n", L"/u /i:user /n"}};
  for (const auto& scope : scopes) {
    SCOPED_TRACE(Utf16ToUtf8(std::wstring(L"regsvr32 ") + scope.Install));
    // The other bitness's registration, as its regsvr32 leaves it: the class in its own view.
    TRegKey::Create(scope.Base, server, KEY_WRITE | other).WriteString(L"", L"C:\\other\\tolvarotest.dll");
    if (TRegKey::Open(scope.Base, server, KEY_READ)) {
      // Wine keeps one HKEY_CURRENT_USER\Software\Classes\CLSID for both views: nothing to tell apart.
      removeOtherView(scope.Base);
      ASSERT_EQ(scope.Base, HKEY_CURRENT_USER) << "the machine's CLSID keys must differ by view";
      continue;
    }
    ASSERT_EQ(Regsvr32(scope.Install, dll), 0);
    ASSERT_EQ(Regsvr32(scope.Uninstall, dll), 0);
    TTree left;
    ReadTree(scope.Base, progID, left);
    EXPECT_FALSE(left.empty()) << "the ProgID went while the other bitness still serves the class";
    EXPECT_FALSE(TRegKey::Open(scope.Base, server, KEY_READ)) << "our own class key is gone";
    // With the other one gone, our next unregistration removes the ProgID too.
    removeOtherView(scope.Base);
    ASSERT_EQ(Regsvr32(scope.Uninstall, dll), 0);
    left.clear();
    ReadTree(scope.Base, progID, left);
    EXPECT_TRUE(left.empty()) << Show(left);
  }
}

TEST_F(ComServer, AModuleInAFolderWithASpaceIsRegisteredByItsShortName) {
  wchar_t temp[MAX_PATH + 1] = {};
  ASSERT_NE(GetTempPathW(MAX_PATH, temp), 0u);
  const std::wstring folder = std::wstring(temp) + L"tolvaro com server test\\";
  ASSERT_TRUE(ForceDirectories(folder));
  const std::wstring copy = folder + L"tolvarotest.dll";
  ASSERT_TRUE(CopyFileW(TestDllPath().c_str(), copy.c_str(), FALSE)) << GetLastError();

  wchar_t shortName[MAX_PATH + 1] = {};
  ASSERT_NE(GetShortPathNameW(copy.c_str(), shortName, MAX_PATH), 0u);
  ASSERT_EQ(std::wstring(shortName).find(L' '), std::wstring::npos) << Utf16ToUtf8(shortName);

  {
    TRegistration registration(copy);
    ASSERT_EQ(registration.Code, 0);
    EXPECT_EQ(OurEntries(HKEY_LOCAL_MACHINE), ExpectedEntries(kClasses, shortName));

    // COM loads the copy by that name, and the copy knows its own file.
    TComPtr<IDispatch> object = CreateByProgID();
    ASSERT_TRUE(object);
    TInvokeResult info = InvokeByName(object.Get(), L"ModuleInfo", {});
    ASSERT_EQ(info.Hr, S_OK);
    wchar_t longName[MAX_PATH + 1] = {};
    ASSERT_NE(GetLongPathNameW(VariantToString(ItemOf(info.Result, 2).Get()).c_str(), longName, MAX_PATH), 0u);
    EXPECT_EQ(CompareStringOrdinal(longName, -1, copy.c_str(), -1, TRUE), CSTR_EQUAL) << Utf16ToUtf8(longName);
    // Its log folder is named after the long name, whichever name COM loaded it by.
    const std::wstring logDir = VariantToString(ItemOf(info.Result, 1).Get());
    EXPECT_TRUE(logDir.ends_with(L"\\tolvarotest\\")) << Utf16ToUtf8(logDir);
  }
  EXPECT_TRUE(OurEntries(HKEY_LOCAL_MACHINE).empty());
  CoFreeUnusedLibrariesEx(0, 0);
  DeleteFileW(copy.c_str());  // best effort: the copy may still be loaded
  RemoveDirectoryW(folder.c_str());
}

// A key that cannot take non-volatile subkeys makes the writes after the first fail.
void BlockRegistrationUnder(HKEY Root, const std::wstring& Classes) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(Root, (Classes + L"\\" + kClassKey).c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

TEST_F(ComServer, Regsvr32ExitCodesTellLoadEntryPointAndRegistrationFailuresApart) {
  const std::wstring dll = TestDllPath();
  const int missing = Regsvr32(L"", ExeFolder() + L"no such module.dll");
  wchar_t system[MAX_PATH + 1] = {};
  ASSERT_NE(GetSystemDirectoryW(system, MAX_PATH), 0u);
  // A real DLL without the server entry points.
  const int noEntry = Regsvr32(L"", IncludeTrailingPathDelimiter(system) + L"version.dll");

  BlockRegistrationUnder(HKEY_LOCAL_MACHINE, kClasses);
  const int failedRegistration = Regsvr32(L"", dll);
  RemoveTestEntries();

  // DllInstall takes back what a failed per-user registration wrote.
  BlockRegistrationUnder(HKEY_CURRENT_USER, kClasses);
  const int failedInstall = Regsvr32(L"/i:user /n", dll);
  EXPECT_TRUE(OurEntries(HKEY_CURRENT_USER).empty()) << Show(OurEntries(HKEY_CURRENT_USER));
  EXPECT_TRUE(OurEntries(HKEY_LOCAL_MACHINE).empty());

  // regsvr32's codes: 3 the module did not load, 4 it lacks the entry point, 5 the entry
  // point failed.
  EXPECT_EQ(missing, 3);
  EXPECT_EQ(noEntry, 4);
  EXPECT_EQ(failedRegistration, 5);
  EXPECT_EQ(failedInstall, 5);
}

// ---------------------------------------------------------------------------------------
// Class object and unloading

TEST_F(ComServer, ClassObjectServesOnlyItsClassAndItsInterfaces) {
  IUnknown* sentinel = reinterpret_cast<IUnknown*>(0x1234);
  void* out = sentinel;
  EXPECT_EQ(GetClassObject(CLSID_tolvaro, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr);
  out = sentinel;
  EXPECT_EQ(GetClassObject(CLSID_tolvarotest, IID_IDispatch, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);

  TComPtr<IClassFactory> factory;
  ASSERT_EQ(GetClassObject(CLSID_tolvarotest, IID_IClassFactory, factory.OutVoid()), S_OK);
  TComPtr<IUnknown> viaUnknown;
  ASSERT_EQ(GetClassObject(CLSID_tolvarotest, IID_IUnknown, viaUnknown.OutVoid()), S_OK);

  // No aggregation.
  out = sentinel;
  EXPECT_EQ(factory->CreateInstance(reinterpret_cast<IUnknown*>(factory.Get()), IID_IUnknown, &out),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(out, nullptr);
  // An interface the object lacks: no object, and none left behind.
  out = sentinel;
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(CanUnloadNow(), S_OK);

  // The object's own interfaces.
  TComPtr<IUnknown> object;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, object.OutVoid()), S_OK);
  TComPtr<IDispatch> dispatch;
  EXPECT_EQ(object->QueryInterface(IID_IDispatch, dispatch.OutVoid()), S_OK);
  TComPtr<ISupportErrorInfo> errorInfo;
  EXPECT_EQ(object->QueryInterface(IID_ISupportErrorInfo, errorInfo.OutVoid()), S_OK);
}

TEST_F(ComServer, ModuleStaysWhileAnObjectLivesTheFactoryIsLockedOrAModuleThreadRuns) {
  TRegistration registration;
  ASSERT_EQ(registration.Code, 0);
  ASSERT_EQ(CanUnloadNow(), S_OK);

  // Objects, with exact reference counts: the last release destroys the object.
  {
    TComPtr<IDispatch> object = CreateByProgID();
    ASSERT_TRUE(object);
    EXPECT_EQ(CanUnloadNow(), S_FALSE);
    EXPECT_EQ(object->AddRef(), 2u);
    EXPECT_EQ(object->Release(), 1u);
  }  // the host's only reference goes here
  EXPECT_EQ(CanUnloadNow(), S_OK);

  // Factory locks, counted.
  {
    TComPtr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(CLSID_tolvarotest, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               factory.OutVoid()),
              S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  }
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  {
    TComPtr<IClassFactory> factory;
    ASSERT_EQ(GetClassObject(CLSID_tolvarotest, IID_IClassFactory, factory.OutVoid()), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(CanUnloadNow(), S_FALSE);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(CanUnloadNow(), S_OK);
    // An unbalanced unlock does not let a later lock count for nothing.
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(CanUnloadNow(), S_FALSE);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  }
  EXPECT_EQ(CanUnloadNow(), S_OK);

  // A worker thread of the module outlives the object that started it.
  const std::wstring eventName = L"tolvarotest-stop-" + std::to_wstring(GetCurrentProcessId());
  THandle stop(CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
  ASSERT_TRUE(stop.Valid());
  {
    TComPtr<IDispatch> object = CreateByProgID();
    ASSERT_TRUE(object);
    TVariant name = TVariant::FromString(eventName);
    TInvokeResult started = InvokeByName(object.Get(), L"StartModuleThread", {ByVal(name)});
    ASSERT_EQ(started.Hr, S_OK) << Utf16ToUtf8(started.ExcepDescription());
  }
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  SetEvent(stop.Get());
  EXPECT_EQ(WaitForUnloadable(), S_OK);
}

// ---------------------------------------------------------------------------------------
// Objects

TEST_F(ComServer, TwoObjectsByProgIDAreIndependent) {
  TRegistration registration;
  ASSERT_EQ(registration.Code, 0);
  std::optional<TComPtr<IDispatch>> firstHolder(CreateByProgID());
  TComPtr<IDispatch>& first = *firstHolder;
  TComPtr<IDispatch> second = CreateByProgID();
  ASSERT_TRUE(first);
  ASSERT_TRUE(second);
  EXPECT_NE(first.Get(), second.Get());

  const std::wstring id1 = CallText(first.Get(), L"InstanceID");
  const std::wstring id2 = CallText(second.Get(), L"InstanceID");
  EXPECT_EQ(id1.size(), 38u);
  EXPECT_EQ(id2.size(), 38u);
  EXPECT_NE(id1, id2);

  TVariant tag = TVariant::FromString(L"первый");
  ASSERT_EQ(InvokeByName(first.Get(), L"SetTag", {ByVal(tag)}).Hr, S_OK);
  EXPECT_EQ(CallText(first.Get(), L"GetTag"), L"первый");
  EXPECT_EQ(CallText(second.Get(), L"GetTag"), L"");

  // Releasing one leaves the other working.
  firstHolder.reset();
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  EXPECT_EQ(CallText(second.Get(), L"InstanceID"), id2);
}

TEST_F(ComServer, VersionAndLogFolderAreTheModulesNotTheHosts) {
  TRegistration registration;
  ASSERT_EQ(registration.Code, 0);
  TComPtr<IDispatch> object = CreateByProgID();
  ASSERT_TRUE(object);
  TInvokeResult info = InvokeByName(object.Get(), L"ModuleInfo", {});
  ASSERT_EQ(info.Hr, S_OK);
  const std::wstring dllVersion = VariantToString(ItemOf(info.Result, 0).Get());
  const std::wstring dllLogDir = VariantToString(ItemOf(info.Result, 1).Get());
  const std::wstring dllFile = VariantToString(ItemOf(info.Result, 2).Get());

  EXPECT_EQ(dllVersion, kTestModuleVersionText);
  const TModuleVersion exe = GetModuleVersion();
  EXPECT_NE(std::to_wstring(exe.Major) + L"." + std::to_wstring(exe.Minor) + L"." + std::to_wstring(exe.Release) +
                L"." + std::to_wstring(exe.Build),
            dllVersion);

  EXPECT_EQ(CompareStringOrdinal(dllFile.c_str(), -1, TestDllPath().c_str(), -1, TRUE), CSTR_EQUAL)
      << Utf16ToUtf8(dllFile);
  ASSERT_FALSE(dllLogDir.empty());
  EXPECT_TRUE(dllLogDir.ends_with(L"\\tolvarotest\\")) << Utf16ToUtf8(dllLogDir);
  const std::wstring exeLogDir = DefaultDebugLogDir();
  EXPECT_TRUE(exeLogDir.ends_with(L"\\comserver_tests\\")) << Utf16ToUtf8(exeLogDir);
}

}  // namespace

namespace {

// The product's identity is written out in several forms; they must name one class.
TEST(ClassIdentity, TheProductsNamesAgree) {
  EXPECT_EQ(GuidToText(CLSID_tolvaro), kDriverClassGuidText);
  EXPECT_EQ(std::wstring(kDriverClassGuidText), L"{" + std::wstring(kDriverModelID) + L"}");
  EXPECT_EQ(std::wstring(kDriverProgID), std::wstring(kServerName) + L"." + kDriverClassName);
  EXPECT_EQ(std::wstring(kDriverProgID), L"Qelm.tolvaro");
  EXPECT_EQ(std::wstring(kDriverDescription), L"8.2 Equipment Driver 2.0");
  // The test server never stands in for the product.
  EXPECT_FALSE(IsEqualCLSID(CLSID_tolvarotest, CLSID_tolvaro));
  EXPECT_EQ(GuidToText(CLSID_tolvarotest), kTestClassGuidText);
  EXPECT_NE(std::wstring(kTestProgID), std::wstring(kDriverProgID));
}

}  // namespace
