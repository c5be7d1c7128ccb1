#pragma once
// The in-process COM server of this module: one creatable class, its class factory, the
// module's lock count, and what the exported Dll* entry points do. The DLL describes its
// class once at load (TComClassRegistration) and its exports forward to the ComServer*
// functions below, none of which throws.
#include <windows.h>
#include <objbase.h>

#include <string>

#include "uComObj.h"

struct TComClassInfo {
  CLSID ClassID{};
  std::wstring ServerName;   // first part of the ProgID
  std::wstring ClassName;    // second part
  std::wstring Description;  // the class's registry caption
  std::wstring ThreadingModel = L"Apartment";
  // Makes a new object (one reference held by the caller) and runs its Initialize.
  TComObject* (*Create)() = nullptr;

  std::wstring ProgID() const { return ServerName + L"." + ClassName; }
};

// The creator for a TComObject descendant. An object whose Initialize fails is released
// (and so destroyed) before the failure propagates.
template <class T>
TComObject* CreateComObject() {
  T* object = new T();
  try {
    object->Initialize();
  } catch (...) {
    object->Release();
    throw;
  }
  return object;
}

// Makes Info the class this module serves, for as long as the registration object lives
// (a static of the DLL: from load to unload).
class TComClassRegistration {
public:
  explicit TComClassRegistration(TComClassInfo Info);
  ~TComClassRegistration();
  TComClassRegistration(const TComClassRegistration&) = delete;
  TComClassRegistration& operator=(const TComClassRegistration&) = delete;

private:
  TComClassInfo FInfo;
};

// Locks that keep the module loaded beyond its objects and factory locks: a worker thread
// of the module holds one for as long as it may run our code.
void ModuleLock() noexcept;
void ModuleUnlock() noexcept;

// Holds one module lock; movable into the thread that needs it.
class TModuleThreadRef {
public:
  TModuleThreadRef() noexcept : FHeld(true) { ModuleLock(); }
  TModuleThreadRef(TModuleThreadRef&& other) noexcept : FHeld(other.FHeld) { other.FHeld = false; }
  TModuleThreadRef& operator=(TModuleThreadRef&&) = delete;
  TModuleThreadRef(const TModuleThreadRef&) = delete;
  TModuleThreadRef& operator=(const TModuleThreadRef&) = delete;
  ~TModuleThreadRef() { Release(); }
  void Release() noexcept {
    if (FHeld) ModuleUnlock();
    FHeld = false;
  }

private:
  bool FHeld;
};

// The bodies of the exports.
HRESULT ComServerGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) noexcept;
HRESULT ComServerCanUnloadNow() noexcept;
HRESULT ComServerRegister() noexcept;    // machine-wide
HRESULT ComServerUnregister() noexcept;  // machine-wide
HRESULT ComServerInstall(BOOL bInstall, LPCWSTR pszCmdLine) noexcept;

// Registry work behind them, on an explicit root: HKEY_LOCAL_MACHINE\Software\Classes, or the
// per-user HKEY_CURRENT_USER\Software\Classes. Each raises on the first failure (registration)
// or after trying every key (unregistration). ViewBase (HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER,
// the base Root was opened from): the ProgID keys, which both registry views share, stay while
// the other view's registration of the class still has its server.
void RegisterComClass(const TComClassInfo& Info, HKEY Root, const std::wstring& ModuleFileName);
void UnregisterComClass(const TComClassInfo& Info, HKEY Root, HKEY ViewBase = nullptr);

// The module file name as COM should load it: the short (8.3) form when the name has a
// space and the volume offers one, else the name itself.
std::wstring RegistryModulePath(const std::wstring& ModuleFileName);
