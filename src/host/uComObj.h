#pragma once
// The COM object base: reference counting, interface query and the module's object count.
#include <windows.h>
#include <oaidl.h>

#include <atomic>

class TComObject : public IDispatch, public ISupportErrorInfo {
public:
  TComObject() noexcept;
  TComObject(const TComObject&) = delete;
  TComObject& operator=(const TComObject&) = delete;

  // Runs after construction (the class factory calls it); subclasses extend it.
  virtual void Initialize() {}
  // Runs when the last reference goes, while the whole object still exists: virtual calls
  // reach the most derived class here, which they no longer do in a destructor.
  virtual void BeforeDestruction() noexcept {}

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // ISupportErrorInfo
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override;

  // Objects of this module that are alive now (for DllCanUnloadNow).
  static long ObjectCount() noexcept;

protected:
  virtual ~TComObject();

private:
  std::atomic<ULONG> FRefCount{1};
};
