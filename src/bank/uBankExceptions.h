#pragma once
// Exception classes of the bank client. Messages are UTF-8; ClassName() is the name
// that logs and the COM boundary show.
#include <stdexcept>
#include <string>

namespace bank {

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& AMessage) : std::runtime_error(AMessage) {}
  virtual const char* ClassName() const noexcept { return "Exception"; }
  std::string Message() const { return what(); }
};

#define BANK_EXCEPTION_CLASS(Name, Base)                                     \
  class Name : public Base {                                                \
   public:                                                                  \
    using Base::Base;                                                       \
    const char* ClassName() const noexcept override { return #Name; }       \
  };

// A value of the wrong type (narrowing, non-Boolean enumerations).
BANK_EXCEPTION_CLASS(EInvalidCast, Exception)
// A text or value that cannot be converted.
BANK_EXCEPTION_CLASS(EConvertError, Exception)
// The JSON document does not have the shape asked for.
BANK_EXCEPTION_CLASS(EJSONException, Exception)
// Configuration and call errors of the REST bridge.
BANK_EXCEPTION_CLASS(EHTTPBridgeException, Exception)
// Failures of the HTTP transport (name resolution, connection, TLS, time-out).
BANK_EXCEPTION_CLASS(EHTTPClientException, Exception)

#undef BANK_EXCEPTION_CLASS

}  // namespace bank
