#include "uDevice.h"

#include "uBankExceptions.h"
#include "uBankStrings.h"
#include "uExchangeLog.h"
#include "uJSON.h"
#include "uJsonConverterFactory.h"
#include "uTextUtils.h"

namespace bank {

namespace {

constexpr std::string_view LogSource = "TDevice";

// ABody with the value of every "Token" member written as ***. A request's token has no
// nonce: from a logged one, anyone who can read the log (the default folder is open to every
// user) could repeat the request, withdraw the payment or refund it again. Request bodies
// come from our compact writer, where "Token": can only be a member name.
std::string MaskTokens(std::string ABody) {
  static constexpr std::string_view Name = "\"Token\":\"";
  for (size_t at = ABody.find(Name); at != std::string::npos; at = ABody.find(Name, at)) {
    const size_t value = at + Name.size();
    size_t end = value;
    while (end < ABody.size() && ABody[end] != '"') end += ABody[end] == '\\' ? 2 : 1;
    if (end >= ABody.size()) {
      ABody.replace(value, std::string::npos, "***");  // never a cut token's beginning either
      break;
    }
    ABody.replace(value, end - value, "***");
    at = value + 3;
  }
  return ABody;
}

}  // namespace

std::shared_ptr<ITolvaro> TDevice::GetApi() {
  auto builder = HTTPBridge::Builder<ITolvaro>();
  builder->SetUrl(FBaseURL);
  builder->AddHeader("content-type: application/json");
  builder->SetConverter(std::make_shared<TJsonConverterFactory>());
  builder->AddInterceptor(THTTPBridgeInterceptorBeforeExecuteProc(
      [this](const std::string& AMethod, const std::string& AURI, const TStream* ASource, TStream& AContent,
             THeaderList& AHeaders) { DoBeforeExecute(AMethod, AURI, ASource, AContent, AHeaders); }));
  builder->AddInterceptor(this, &TDevice::DoAfterExecute);
  return builder->Build();
}

void TDevice::DoBeforeExecute(const std::string& ARequestMethod, const std::string& AURIStr,
                              const TStream* ASourceStream, TStream&, THeaderList& AHeaders) {
  if (!ExchangeLog::Selects(lmlDebug)) return;
  std::string headers;
  for (const auto& h : AHeaders) {
    headers += Trim(h.Name);
    headers += ": ";
    headers += Trim(h.Value);
    headers += "; ";
  }
  const std::string body = ASourceStream != nullptr ? MaskTokens(ASourceStream->Bytes()) : std::string();
  ExchangeLog::Log(LogSource, "> " + ARequestMethod + " " + AURIStr + " " + headers + " " + body, lmlDebug);
}

void TDevice::DoAfterExecute(const std::string& ARequestMethod, const std::string& AURIStr,
                             const THTTPResponse& AResponse, TStream& AContentStream) {
  const std::string body = SanitizeUtf8(AContentStream.Bytes());
  if (ExchangeLog::Selects(lmlDebug))
    ExchangeLog::Log(LogSource,
                     "< StatusCode: " + std::to_string(AResponse.StatusCode) + " " + ARequestMethod + " " + AURIStr +
                         " " + body,
                     lmlDebug);
  CheckBankResponse(AResponse.StatusCode, AResponse.StatusText, body);
}

}  // namespace bank
