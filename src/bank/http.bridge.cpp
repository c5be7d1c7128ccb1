#include "http.bridge.h"

#include <cstdlib>
#include <mutex>

#if defined(__GNUC__)
#include <cxxabi.h>
#endif

#include "uBankStrings.h"
#include "uJSON.h"
#include "uJsonConverter.h"
#include "uTextUtils.h"

namespace bank {

namespace {

TTypeInfo ClassTypeInfo(std::string_view AName) {
  TTypeInfo ti;
  ti.Kind = TTypeKind::tkClass;
  ti.Name = AName;
  return ti;
}

// Name and value of a header written as "Name: value", both trimmed.
THTTPHeader ParseHeaderText(const std::string& AText) {
  const auto colon = AText.find(':');
  if (colon == std::string::npos || colon == 0)
    throw EHTTPBridgeException(FormatText(SMalformedHeader, AText));
  return THTTPHeader{std::string(Trim(std::string_view(AText).substr(0, colon))),
                     std::string(Trim(std::string_view(AText).substr(colon + 1)))};
}

// The argument as text, for headers, the query and path placeholders.
std::string ArgumentText(const TValue& AArg) {
  if (AArg.TypeInfo == nullptr || AArg.Data == nullptr) throw Exception(SUnknownParamType);
  const TTypeInfo& ti = *AArg.TypeInfo;
  if (IsTextKind(ti.Kind)) return *static_cast<const std::string*>(AArg.Data);
  switch (ti.Kind) {
    case TTypeKind::tkInteger: return std::to_string(*static_cast<const int32_t*>(AArg.Data));
    case TTypeKind::tkInt64: return std::to_string(*static_cast<const int64_t*>(AArg.Data));
    case TTypeKind::tkFloat:
      return ti.FloatType == TFloatType::ftCurr ? CurrencyToJSONText(*static_cast<const Currency*>(AArg.Data))
                                                : FloatToText(*static_cast<const double*>(AArg.Data));
    case TTypeKind::tkEnumeration:
      if (ti.IsBoolean) return *static_cast<const bool*>(AArg.Data) ? "True" : "False";
      break;
    case TTypeKind::tkVariant: return static_cast<const OleVariant*>(AArg.Data)->Text;
    default: break;
  }
  throw Exception(SUnknownParamType);
}

std::mutex& DefaultFactoryLock() {
  static std::mutex M;
  return M;
}
std::shared_ptr<IHTTPClientFactory>& DefaultFactorySlot() {
  static std::shared_ptr<IHTTPClientFactory> F;
  return F;
}

}  // namespace

void SetDefaultHTTPClientFactory(std::shared_ptr<IHTTPClientFactory> AFactory) {
  std::lock_guard<std::mutex> lock(DefaultFactoryLock());
  DefaultFactorySlot() = std::move(AFactory);
}

std::shared_ptr<IHTTPClientFactory> DefaultHTTPClientFactory() {
  {
    std::lock_guard<std::mutex> lock(DefaultFactoryLock());
    if (DefaultFactorySlot()) return DefaultFactorySlot();
  }
  return PlatformHTTPClientFactory();  // a TDevice works without further setup
}

const TTypeInfo* TTypeInfoProvider<TStringStream>::Get() {
  static const TTypeInfo Info = ClassTypeInfo("TStringStream");
  return &Info;
}
const TTypeInfo* TTypeInfoProvider<std::unique_ptr<TStringStream>>::Get() {
  static const TTypeInfo Info = ClassTypeInfo("TStringStream");
  return &Info;
}
const TTypeInfo* TTypeInfoProvider<std::unique_ptr<TBytesStream>>::Get() {
  static const TTypeInfo Info = ClassTypeInfo("TBytesStream");
  return &Info;
}
const TTypeInfo* TTypeInfoProvider<TJSONDocument>::Get() {
  static const TTypeInfo Info = ClassTypeInfo("TJSONObject");
  return &Info;
}

TTypeInfo InterfaceTypeInfo(std::string_view AName, const TInterfaceInfo* AInfo) {
  TTypeInfo ti;
  ti.Kind = TTypeKind::tkInterface;
  ti.Name = AName;
  ti.Interface = AInfo;
  return ti;
}

bool EMPTY::IsEmpty(const TValue& AValue) {
  if (AValue.TypeInfo == nullptr || AValue.Data == nullptr) throw Exception(SUnknownParamType);
  const TTypeInfo& ti = *AValue.TypeInfo;
  switch (ti.Kind) {
    // Text means the four string kinds here; tkChar and tkWChar are unknown parameter types.
    case TTypeKind::tkString:
    case TTypeKind::tkLString:
    case TTypeKind::tkWString:
    case TTypeKind::tkUString: return *static_cast<const std::string*>(AValue.Data) == "Null";
    case TTypeKind::tkInteger: return *static_cast<const int32_t*>(AValue.Data) == 999999999;
    case TTypeKind::tkInt64: return *static_cast<const int64_t*>(AValue.Data) == 999999999;
    case TTypeKind::tkFloat:
      if (ti.FloatType == TFloatType::ftCurr)
        return static_cast<const Currency*>(AValue.Data)->Raw == int64_t{99999999999} * 100;
      return *static_cast<const double*>(AValue.Data) == 999999999.99;
    case TTypeKind::tkEnumeration: return false;
    default: throw Exception(SUnknownParamType);
  }
}

std::string ReadableTypeName(const std::type_info& AType) {
#if defined(__GNUC__)
  int status = 0;
  char* name = abi::__cxa_demangle(AType.name(), nullptr, nullptr, &status);
  if (name != nullptr) {
    std::string out(name);
    std::free(name);
    return out;
  }
#endif
  return AType.name();
}

void RaiseInvalidBridgeType(std::string_view ATypeName) {
  throw EHTTPBridgeException(FormatText(SInvalidBridgeType, ATypeName));
}

HTTPBridge::HTTPBridge(const TTypeInfo* ATypeInfo)
    : FTypeInfo(ATypeInfo), FClientFactory(DefaultHTTPClientFactory()) {}

HTTPBridge::~HTTPBridge() {
  FConverters.clear();
}

void HTTPBridge::AddHeaderText(const std::string& AHeader) {
  const THTTPHeader h = ParseHeaderText(AHeader);
  SetCommonHeader(h.Name, h.Value);
}

void HTTPBridge::SetCommonHeader(const std::string& AName, const std::string& AValue) {
  for (auto& h : FCommonHeaders) {
    if (SameText(h.Name, AName)) {
      h.Value = AValue;  // the first spelling of the name stays
      return;
    }
  }
  FCommonHeaders.push_back({AName, AValue});
}

void HTTPBridge::AddPath(const std::string& AName, const std::string& AValue) {
  for (auto it = FCommonPaths.begin(); it != FCommonPaths.end(); ++it) {
    if (SameText(it->first, AName)) {
      if (AValue.empty())
        FCommonPaths.erase(it);
      else
        it->second = AValue;
      return;
    }
  }
  if (!AValue.empty()) FCommonPaths.emplace_back(AName, AValue);
}

void HTTPBridge::DebugLog(const std::string& AMessage) {
  for (const auto& r : ListInterceptors) {
    if (r.Interceptor1) r.Interceptor1->DebugLog(AMessage);
    if (r.Interceptor4) r.Interceptor4(AMessage);
    if (r.Interceptor7.Call) r.Interceptor7.Call(AMessage);
  }
}

IConverterFactory& HTTPBridge::ConverterFor(const TTypeInfo* ATypeInfo) const {
  const auto it = FConverters.find(ATypeInfo);
  if (it != FConverters.end() && it->second) return *it->second;
  if (FConverter) return *FConverter;
  throw EHTTPBridgeException(SNoConverter);
}

std::unique_ptr<TStream> HTTPBridge::PrepareBody(const TValue& AArg) const {
  if (AArg.TypeInfo == nullptr || AArg.Data == nullptr) throw EHTTPBridgeException(SNoConverter);
  if (IsTextKind(AArg.TypeInfo->Kind))
    return std::make_unique<TStringStream>(*static_cast<const std::string*>(AArg.Data));
  if (AArg.TypeInfo == TypeInfoOf<TStringStream>())
    return std::make_unique<TStringStream>(static_cast<const TStringStream*>(AArg.Data)->Bytes());
  if (AArg.TypeInfo == TypeInfoOf<TJSONDocument>())
    return std::make_unique<TStringStream>(static_cast<const TJSONDocument*>(AArg.Data)->ToJSON());
  return ConverterFor(AArg.TypeInfo).Serialize(AArg);
}

void HTTPBridge::ProduceResult(const TTypeInfo* AType, const TStream& AContent, const TValue& AResult) const {
  if (AType == nullptr) return;
  if (IsTextKind(AType->Kind)) {
    *static_cast<std::string*>(AResult.Data) = AContent.Bytes();
  } else if (AType == TypeInfoOf<std::unique_ptr<TStringStream>>()) {
    *static_cast<std::unique_ptr<TStringStream>*>(AResult.Data) = std::make_unique<TStringStream>(AContent.Bytes());
  } else if (AType == TypeInfoOf<std::unique_ptr<TBytesStream>>()) {
    *static_cast<std::unique_ptr<TBytesStream>*>(AResult.Data) = std::make_unique<TBytesStream>(AContent.Bytes());
  } else {
    ConverterFor(AType).DeSerialize(AContent, AType, AResult.Data);
  }
}

IHTTPClient& HTTPBridge::Client() {
  const std::lock_guard<std::mutex> lock(FClientLock);
  if (!FClient) {
    if (!FClientFactory) throw EHTTPBridgeException(SNoClient);
    FClient = FClientFactory->CreateClient(THTTPClientOptions{});
    if (!FClient) throw EHTTPBridgeException(SNoClient);
  }
  return *FClient;
}

void HTTPBridge::Execute(const TMethodDescription& AMethod, std::span<const TValue> AArgs, const TValue& AResult) {
  // Call-site mistakes, not request failures: nothing is sent.
  if (AArgs.size() != AMethod.Params.size())
    throw EHTTPBridgeException(FormatText(SInvalidArgCount, AMethod.Name));
  if (AMethod.ResultType != nullptr && (AResult.Data == nullptr || AResult.TypeInfo != AMethod.ResultType))
    throw EHTTPBridgeException(FormatText(SInvalidResultType, AMethod.Name));

  // 1. Debug hooks.
  DebugLog(FormatText(SInvokeLog, AMethod.Name));

  // 2. The bridge's client, made by its first call and kept for the bridge's life: its
  // connections (and TLS sessions) serve the next requests.
  IHTTPClient& client = Client();

  // 3. Headers.
  THeaderList headers = FCommonHeaders;

  // 4. Method attributes.
  std::string verb, path, query;
  for (const auto& a : AMethod.Attributes) {
    if (a.Kind == TMethodAttribute::TKind::Verb) {
      verb = a.Verb;
      path += a.FValue;
    } else {
      headers.push_back(ParseHeaderText(a.FValue));
    }
  }
  if (verb.empty()) throw EHTTPBridgeException(SNoVerb);

  // 5. Parameters.
  std::unique_ptr<TStream> body;
  for (size_t i = 0; i < AMethod.Params.size(); ++i) {
    const TValue& arg = AArgs[i];
    for (const auto& a : AMethod.Params[i].Attributes) {
      switch (a.Kind) {
        case TParamAttribute::TKind::Header: {
          std::string text = ArgumentText(arg);
          if (text.empty()) throw Exception(FormatText(SEmptyHeaderValue, a.FValue));
          headers.push_back({a.FValue, std::move(text)});
          break;
        }
        case TParamAttribute::TKind::Query:
          if (!EMPTY::IsEmpty(arg)) {
            if (!query.empty()) query += '&';
            query += a.FValue + "=" + UrlEncode(ArgumentText(arg));
          }
          break;
        case TParamAttribute::TKind::Path:
          path = ReplaceTextIgnoreCase(path, "{" + a.FValue + "}", ArgumentText(arg));
          break;
        case TParamAttribute::TKind::Body:
          body = PrepareBody(arg);
          break;
      }
    }
  }

  // 6-8. Common paths, leading "/", URL.
  for (const auto& [name, value] : FCommonPaths) path = ReplaceTextIgnoreCase(path, "{" + name + "}", value);
  if (!path.empty() && path.front() != '/') path.insert(path.begin(), '/');
  std::string url = FUrl + path;
  if (!query.empty()) url += "?" + query;
  if (UrlHasCredentials(url)) throw EHTTPClientException(SHTTPCredentialsInURL);  // before any hook logs it

  // 9. Response stream, bounded: answers are untrusted.
  auto content = std::make_unique<TStringStream>();
  content->SetLimit(MaxResponseSize);

  // 10. Before-execute hooks (they may change the headers).
  for (const auto& r : ListInterceptors) {
    if (r.Interceptor1) r.Interceptor1->BeforeExecute(verb, url, body.get(), *content, headers);
    if (r.Interceptor2) r.Interceptor2(verb, url, body.get(), *content, headers);
    if (r.Interceptor5.Call) r.Interceptor5.Call(verb, url, body.get(), *content, headers);
  }

  // 11. Send.
  const THTTPResponse response = client.Execute(verb, url, headers, body.get(), *content);

  // 12. After-execute hooks; one that raises ends the call.
  for (const auto& r : ListInterceptors) {
    if (r.Interceptor1) r.Interceptor1->AfterExecute(response, *content);
    if (r.Interceptor3) r.Interceptor3(verb, url, response, *content);
    if (r.Interceptor6.Call) r.Interceptor6.Call(verb, url, response, *content);
  }

  // 13. Result.
  ProduceResult(AMethod.ResultType, *content, AResult);
  // 14. body and content are freed here and on every exception path.
}

}  // namespace bank
