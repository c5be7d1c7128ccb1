#pragma once
// The general exception class of the Windows side. Its message is the text for the user;
// ClassName() is what logs and EXCEPINFO show as the exception's source.
#include <exception>
#include <string>

class Exception : public std::exception {
public:
  explicit Exception(std::wstring message);
  const std::wstring& Message() const noexcept { return FMessage; }
  virtual const wchar_t* ClassName() const noexcept { return L"Exception"; }
  const char* what() const noexcept override { return FNarrow.c_str(); }

private:
  std::wstring FMessage;
  std::string FNarrow;  // UTF-8 copy for what()
};

// A variant that cannot be converted to the requested type.
class EVariantTypeCastError : public Exception {
public:
  using Exception::Exception;
  const wchar_t* ClassName() const noexcept override { return L"EVariantTypeCastError"; }
};

// Any other failed variant or SAFEARRAY operation (an OLE HRESULT).
class EVariantError : public Exception {
public:
  using Exception::Exception;
  const wchar_t* ClassName() const noexcept override { return L"EVariantError"; }
};

// An operating-system call that failed (GetLastError or an HRESULT).
class EOSError : public Exception {
public:
  EOSError(std::wstring message, unsigned long code) : Exception(std::move(message)), FErrorCode(code) {}
  unsigned long ErrorCode() const noexcept { return FErrorCode; }
  const wchar_t* ClassName() const noexcept override { return L"EOSError"; }

private:
  unsigned long FErrorCode;
};

// Raises EOSError for a Win32 error code, with the system's message text.
[[noreturn]] void RaiseOSError(unsigned long code);
// Raises EVariantError (or EVariantTypeCastError for a conversion failure) for a failed OLE call.
[[noreturn]] void RaiseVariantError(long hr);

// The class name and message of whatever was caught by catch (...), for logs and EXCEPINFO.
struct TExceptionText {
  std::wstring ClassName;
  std::wstring Message;
};
TExceptionText DescribeCurrentException() noexcept;
