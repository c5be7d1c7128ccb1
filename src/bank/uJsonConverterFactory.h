#pragma once
// The JSON converter behind the bridge's converter interface.
#include "http.bridge.h"
#include "uJsonConverter.h"

namespace bank {

class TJsonConverterFactory final : public IConverterFactory {
 public:
  // The compact, pure-ASCII JSON text of the value.
  std::unique_ptr<TStream> Serialize(const TValue& Value) override;
  // Parses the stream's whole text (UTF-8; invalid sequences read as U+FFFD) as one JSON
  // value; malformed or empty text is an absent document. Text over MaxResponseSize is refused.
  void DeSerialize(const TStream& Value, const TTypeInfo* TypeInfo, void* AResult) override;

  template <class T>
  T DeSerialize(const TStream& Value) {
    T result{};
    DeSerialize(Value, TypeInfoOf<T>(), &result);
    return result;
  }
};

}  // namespace bank
