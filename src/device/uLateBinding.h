#pragma once
// Late-bound calls into an automation object of the host: the method is looked up by name
// and invoked with positional arguments, as a script would call it.
#include <windows.h>
#include <oaidl.h>

#include <string>
#include <vector>

#include "platform/uExceptions.h"
#include "platform/uVariant.h"

// The called object raised an error (DISP_E_EXCEPTION); the message is its description.
class EOleException : public Exception {
public:
  EOleException(std::wstring message, HRESULT code) : Exception(std::move(message)), FErrorCode(code) {}
  HRESULT ErrorCode() const noexcept { return FErrorCode; }
  const wchar_t* ClassName() const noexcept override { return L"EOleException"; }

private:
  HRESULT FErrorCode;
};

// Any other failed call (unknown name, wrong argument count, ...).
class EOleSysError : public Exception {
public:
  EOleSysError(std::wstring message, HRESULT code) : Exception(std::move(message)), FErrorCode(code) {}
  HRESULT ErrorCode() const noexcept { return FErrorCode; }
  const wchar_t* ClassName() const noexcept override { return L"EOleSysError"; }

private:
  HRESULT FErrorCode;
};

// Calls Target.Name(Args...) with DISPATCH_METHOD. `Args` are leftmost first and borrowed:
// by-reference arguments point into storage the caller owns and reads back afterwards.
// Returns the call's result; a failure raises EOleException or EOleSysError.
TVariant DispatchCall(IDispatch* Target, const std::wstring& Name, std::vector<VARIANT> Args);

// Argument builders for DispatchCall (they borrow, never copy).
VARIANT BstrArg(const TVariant& Text);        // by value; Text must hold VT_BSTR
VARIANT BstrRefArg(TVariant& Text);           // VT_BYREF|VT_BSTR into Text (which holds VT_BSTR)
VARIANT IntRefArg(LONG& Value);               // VT_BYREF|VT_I4
VARIANT VariantRefArg(TVariant& Value);       // VT_BYREF|VT_VARIANT
VARIANT BoolArg(bool Value);                  // VT_BOOL by value
