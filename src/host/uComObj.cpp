#include "uComObj.h"

static std::atomic<long> GObjectCount{0};

TComObject::TComObject() noexcept { ++GObjectCount; }

TComObject::~TComObject() { --GObjectCount; }

long TComObject::ObjectCount() noexcept { return GObjectCount.load(); }

HRESULT STDMETHODCALLTYPE TComObject::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
    *ppv = static_cast<IDispatch*>(this);
  } else if (IsEqualIID(riid, IID_ISupportErrorInfo)) {
    *ppv = static_cast<ISupportErrorInfo*>(this);
  } else {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG STDMETHODCALLTYPE TComObject::AddRef() { return ++FRefCount; }

ULONG STDMETHODCALLTYPE TComObject::Release() {
  ULONG n = --FRefCount;
  if (n == 0) {
    // Held while the hook runs, so that a reference it takes and gives back cannot destroy
    // the object a second time.
    FRefCount = 1;
    BeforeDestruction();
    delete this;  // destructors of this hierarchy catch their own failures
  }
  return n;
}

HRESULT STDMETHODCALLTYPE TComObject::InterfaceSupportsErrorInfo(REFIID riid) {
  return IsEqualIID(riid, IID_IDispatch) ? S_OK : S_FALSE;
}
