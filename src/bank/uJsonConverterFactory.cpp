#include "uJsonConverterFactory.h"

#include "uBankStrings.h"

namespace bank {

std::unique_ptr<TStream> TJsonConverterFactory::Serialize(const TValue& Value) {
  const auto doc = TJsonConverter::ValueToJson(Value);
  return std::make_unique<TStringStream>(doc->ToJSON());
}

void TJsonConverterFactory::DeSerialize(const TStream& Value, const TTypeInfo* TypeInfo, void* AResult) {
  const std::string& bytes = Value.Bytes();
  if (bytes.size() > MaxResponseSize) throw EHTTPBridgeException(SResponseTooLarge);
  std::unique_ptr<TJSONDocument> doc =
      IsValidUtf8(bytes) ? TJSONDocument::Parse(bytes) : TJSONDocument::Parse(SanitizeUtf8(bytes));
  TJsonConverter::JsonToValue(doc.get(), TypeInfo, AResult);
}

}  // namespace bank
