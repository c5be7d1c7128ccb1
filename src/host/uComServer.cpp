#include "uComServer.h"

#include <olectl.h>

#include <atomic>
#include <exception>
#include <new>

#include "platform/uExceptions.h"
#include "platform/uFiles.h"
#include "platform/uRegistry.h"
#include "platform/uStrings.h"

namespace {

std::atomic<const TComClassInfo*> GClass{nullptr};
// Factory locks and worker threads of the module together.
std::atomic<long> GModuleLocks{0};

// One factory per module, alive from load to unload: its references do not own it.
class TClassFactory final : public IClassFactory {
public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *ppv = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++FRefCount; }
  ULONG STDMETHODCALLTYPE Release() override { return --FRefCount; }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter) return CLASS_E_NOAGGREGATION;
    const TComClassInfo* info = GClass.load();
    if (!info || !info->Create) return E_UNEXPECTED;
    try {
      TComObject* object = info->Create();
      // The creation reference goes once the caller holds its own (or the object goes
      // with it when riid is not one of the object's interfaces).
      const HRESULT hr = object->QueryInterface(riid, ppv);
      object->Release();
      return hr;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_FAIL;
    }
  }

  HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) override {
    if (fLock) {
      ModuleLock();
    } else {
      ModuleUnlock();
    }
    return S_OK;
  }

private:
  std::atomic<ULONG> FRefCount{0};
};

TClassFactory& Factory() noexcept {
  static TClassFactory factory;
  return factory;
}

// The classes of a scope: HKEY_LOCAL_MACHINE\Software\Classes (every user) or
// HKEY_CURRENT_USER\Software\Classes (this user). Never HKEY_CLASSES_ROOT: on Windows it is a
// merged view, and where the user's classes already hold a key of ours, writes through it go
// there: a machine-wide registration would land per user and still report success.
constexpr wchar_t kClasses[] = L"Software\\Classes";

HKEY ScopeBase(bool PerUser) noexcept { return PerUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; }

HRESULT Register(bool PerUser) noexcept {
  try {
    const TComClassInfo* info = GClass.load();
    if (!info) return E_FAIL;
    const std::wstring module = ThisModuleFileName();
    if (module.empty()) return E_FAIL;
    const TRegKey root = TRegKey::Create(ScopeBase(PerUser), kClasses);
    RegisterComClass(*info, root.Get(), module);
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT Unregister(bool PerUser) noexcept {
  try {
    const TComClassInfo* info = GClass.load();
    if (!info) return E_FAIL;
    const TRegKey root = TRegKey::Open(ScopeBase(PerUser), kClasses, KEY_READ | KEY_WRITE);
    if (root) UnregisterComClass(*info, root.Get(), ScopeBase(PerUser));  // no classes there: nothing of ours
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

// Whether the other registry view of Base's classes (the 32-bit one for a 64-bit module, the
// 64-bit one for a 32-bit module) still has the class's server. Since Windows 7 the classes
// keys are shared by both views and only CLSID is kept apart: the ProgID keys belong to both
// bitnesses' registrations. On 32-bit Windows the flag is ignored and this reads our own view.
bool OtherViewServes(HKEY Base, const std::wstring& ClassKey) {
  const REGSAM other = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
  return static_cast<bool>(
      TRegKey::Open(Base, std::wstring(kClasses) + L"\\" + ClassKey + L"\\InprocServer32", KEY_READ | other));
}

}  // namespace

TComClassRegistration::TComClassRegistration(TComClassInfo Info) : FInfo(std::move(Info)) { GClass.store(&FInfo); }

TComClassRegistration::~TComClassRegistration() {
  const TComClassInfo* expected = &FInfo;
  GClass.compare_exchange_strong(expected, nullptr);
}

void ModuleLock() noexcept { ++GModuleLocks; }

void ModuleUnlock() noexcept {
  // An unbalanced unlock from a client must not make the count go negative and so
  // let the module unload under a later lock.
  long current = GModuleLocks.load();
  while (current > 0 && !GModuleLocks.compare_exchange_weak(current, current - 1)) {
  }
}

HRESULT ComServerGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) noexcept {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  const TComClassInfo* info = GClass.load();
  if (!info || !IsEqualCLSID(rclsid, info->ClassID)) return CLASS_E_CLASSNOTAVAILABLE;
  return Factory().QueryInterface(riid, ppv);
}

HRESULT ComServerCanUnloadNow() noexcept {
  return TComObject::ObjectCount() > 0 || GModuleLocks.load() > 0 ? S_FALSE : S_OK;
}

HRESULT ComServerRegister() noexcept { return Register(false); }

HRESULT ComServerUnregister() noexcept { return Unregister(false); }

HRESULT ComServerInstall(BOOL bInstall, LPCWSTR pszCmdLine) noexcept {
  bool perUser = false;
  try {
    perUser = pszCmdLine && AsciiSameText(pszCmdLine, L"user");
  } catch (...) {
    return E_FAIL;
  }
  if (!bInstall) return Unregister(perUser);
  const HRESULT hr = Register(perUser);
  if (hr == E_FAIL) {
    // Whatever the failed attempt wrote goes again.
    Unregister(perUser);
    return E_FAIL;
  }
  return hr;
}

void RegisterComClass(const TComClassInfo& Info, HKEY Root, const std::wstring& ModuleFileName) {
  if (ModuleFileName.empty()) throw Exception(L"The module has no file name");
  const std::wstring classKey = L"CLSID\\" + GuidToText(Info.ClassID);
  const std::wstring progID = Info.ProgID();
  TRegKey::Create(Root, classKey, KEY_WRITE).WriteString(L"", Info.Description);
  {
    TRegKey server = TRegKey::Create(Root, classKey + L"\\InprocServer32", KEY_WRITE);
    server.WriteString(L"", RegistryModulePath(ModuleFileName));
    server.WriteString(L"ThreadingModel", Info.ThreadingModel);
  }
  TRegKey::Create(Root, progID, KEY_WRITE).WriteString(L"", Info.Description);
  TRegKey::Create(Root, progID + L"\\Clsid", KEY_WRITE).WriteString(L"", GuidToText(Info.ClassID));
  TRegKey::Create(Root, classKey + L"\\ProgID", KEY_WRITE).WriteString(L"", progID);
}

void UnregisterComClass(const TComClassInfo& Info, HKEY Root, HKEY ViewBase) {
  const std::wstring classKey = L"CLSID\\" + GuidToText(Info.ClassID);
  const std::wstring progID = Info.ProgID();
  // Every key is tried, so one that resists leaves as little behind as possible.
  std::exception_ptr failure;
  const auto remove = [&](const std::wstring& key) {
    try {
      DeleteRegKey(Root, key);
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  };
  for (const std::wstring& key : {classKey + L"\\ProgID", classKey + L"\\InprocServer32", classKey}) remove(key);
  // Asked once our own class keys are gone (on 32-bit Windows the other view is this one).
  bool shared = false;
  try {
    shared = ViewBase && OtherViewServes(ViewBase, classKey);
  } catch (...) {
    // Not known: the ProgID goes, as it always did.
  }
  if (!shared)
    for (const std::wstring& key : {progID + L"\\Clsid", progID}) remove(key);
  if (failure) std::rethrow_exception(failure);
}

std::wstring RegistryModulePath(const std::wstring& ModuleFileName) {
  if (ModuleFileName.find(L' ') == std::wstring::npos) return ModuleFileName;
  std::wstring shortName(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 4; ++attempt) {
    const DWORD n = GetShortPathNameW(ModuleFileName.c_str(), shortName.data(), static_cast<DWORD>(shortName.size()));
    if (n == 0) break;
    if (n < shortName.size()) {
      shortName.resize(n);
      return shortName;
    }
    shortName.assign(n, L'\0');
  }
  // No short form on this volume: COM loads the long name as well.
  return ModuleFileName;
}

// The module's exports (the DLL's .def names them). Every one of them answers with an
// HRESULT; nothing propagates into COM or regsvr32.
extern "C" {
HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  return ComServerGetClassObject(rclsid, riid, ppv);
}
HRESULT STDAPICALLTYPE DllCanUnloadNow() { return ComServerCanUnloadNow(); }
HRESULT STDAPICALLTYPE DllRegisterServer() { return ComServerRegister(); }
HRESULT STDAPICALLTYPE DllUnregisterServer() { return ComServerUnregister(); }
HRESULT STDAPICALLTYPE DllInstall(BOOL bInstall, LPCWSTR pszCmdLine) { return ComServerInstall(bInstall, pszCmdLine); }
}
