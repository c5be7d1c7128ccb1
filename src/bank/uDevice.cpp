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
  const std::string body = ASourceStream != nullptr ? ASourceStream->Bytes() : std::string();
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
