// Arbitrary response bodies into every response record: each ends in a value or in one of
// the bank exceptions, never in a crash, another exception, a hang or unbounded memory.
// The response check likewise ends in acceptance or a bank exception.
// Also: the compact text of any parsed document parses back to the same text.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "uDeviceCommon.h"
#include "uHTTPClient.h"
#include "uJsonConverterFactory.h"
#include "uResponseCheck.h"

// Built without the platform seams: nothing here talks to a server.
std::shared_ptr<bank::IHTTPClientFactory> bank::PlatformHTTPClientFactory() { return nullptr; }

namespace {

template <class T>
void Convert(bank::TJsonConverterFactory& AFactory, const bank::TStringStream& ABody) {
  try {
    AFactory.DeSerialize<T>(ABody);
  } catch (const bank::Exception&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  const std::string body(reinterpret_cast<const char*>(AData), ASize);
  bank::TJsonConverterFactory factory;
  const bank::TStringStream stream(body);
  Convert<bank::TInitResponse>(factory, stream);
  Convert<bank::TQrResponse>(factory, stream);
  Convert<bank::TStateResponse>(factory, stream);
  Convert<bank::TCancelResponse>(factory, stream);
  Convert<bank::TCancelQrResponse>(factory, stream);
  for (const int status : {200, 502}) {
    try {
      bank::CheckBankResponse(status, "Reason", body);
    } catch (const bank::Exception&) {
    }
  }

  if (const auto doc = bank::TJSONDocument::Parse(body)) {
    const std::string text = doc->ToJSON();
    const auto again = bank::TJSONDocument::Parse(text);
    if (!again || again->ToJSON() != text) std::abort();
  }
  return 0;
}
