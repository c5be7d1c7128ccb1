#include "uDevice.h"

#include "uBankExceptions.h"
#include "uBankStrings.h"
#include "uExchangeLog.h"
#include "uJSON.h"
#include "uJsonConverterFactory.h"
#include "uTextUtils.h"

#include <optional>

namespace bank {

namespace {

constexpr std::string_view LogSource = "TDevice";

// The text of a member as the check reads it: a string's content, a number as written,
// "null", "true" or "false"; arrays and objects have none.
std::string NodeText(const TJSONDocument& ADoc, TJSONDocument::TIndex ANode) {
  switch (ADoc.Kind(ANode)) {
    case TJSONDocument::TKind::String:
    case TJSONDocument::TKind::Number: return std::string(ADoc.Text(ANode));
    case TJSONDocument::TKind::Null: return "null";
    case TJSONDocument::TKind::True: return "true";
    case TJSONDocument::TKind::False: return "false";
    default: return {};
  }
}

std::string MemberText(const TJSONDocument& ADoc, std::string_view AName) {
  const TJSONDocument::TIndex m = ADoc.Member(ADoc.Root(), AName);
  return m == TJSONDocument::npos ? std::string() : NodeText(ADoc, m);
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

void CheckBankResponse(int AStatusCode, const std::string& AStatusText, const std::string& ABodyText) {
  if (ABodyText.empty()) {
    if (AStatusCode != 200) throw Exception(AStatusText);
    return;  // the converter then reports the missing value
  }
  const std::unique_ptr<TJSONDocument> doc = TJSONDocument::Parse(ABodyText);
  if (!doc || doc->Empty()) throw Exception(SNotJSONAnswer);
  // Case-sensitive and the first occurrence only: "errorcode" passes unexamined.
  const TJSONDocument::TIndex code = doc->Member(doc->Root(), "ErrorCode");
  if (code == TJSONDocument::npos) return;
  const std::string text = NodeText(*doc, code);
  const std::optional<int32_t> value = ParseInt32(Trim(text));
  if (!value) throw EConvertError(FormatText(SInvalidInteger, text));
  if (*value == 0) return;
  throw Exception(MemberText(*doc, "Message") + " " + MemberText(*doc, "Details"));
}

}  // namespace bank
