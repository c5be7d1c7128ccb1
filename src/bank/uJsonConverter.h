#pragma once
// Typed values <-> JSON documents, driven only by type descriptions.
#include <memory>
#include <string>

#include "uJSON.h"
#include "uTypeInfo.h"

namespace bank {

class TJsonConverter {
 public:
  // A new document for the value. Records become objects with every field in declaration
  // order; Booleans true/false; numbers their decimal or general-notation text.
  static std::unique_ptr<TJSONDocument> ValueToJson(const TValue& AValue);

  // Fills the value at AValue (of type ATypeInfo) from the document's root; AJSONData may
  // be null (an absent document). On failure the value is left zero and the error raised.
  static void JsonToValue(const TJSONDocument* AJSONData, const TTypeInfo* ATypeInfo, void* AValue);

  template <class T>
  static T JsonToValue(const TJSONDocument* AJSONData) {
    T value{};
    JsonToValue(AJSONData, TypeInfoOf<T>(), &value);
    return value;
  }
};

// Text of a currency amount as a JSON number (and as the amount text of tokens).
std::string CurrencyToJSONText(Currency AValue);

}  // namespace bank
