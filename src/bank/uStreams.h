#pragma once
// Byte and text streams that carry request and response bodies.
#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>

namespace bank {

class TStream {
 public:
  static constexpr size_t NoLimit = static_cast<size_t>(-1);

  TStream() { ++Live(); }
  explicit TStream(std::string AData) : FData(std::move(AData)) { ++Live(); }
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;
  virtual ~TStream() { --Live(); }

  // Appends bytes; EHTTPBridgeException once the content would pass the stream's limit,
  // so that an endless or huge answer cannot exhaust memory.
  void Write(std::string_view ABytes);
  void Clear() { FData.clear(); }
  void SetLimit(size_t ALimit) { FLimit = ALimit; }
  size_t Limit() const { return FLimit; }
  size_t Size() const { return FData.size(); }
  const std::string& Bytes() const { return FData; }

  // Streams alive in the process; tests use it to show nothing leaks on failure paths.
  static long LiveCount() { return Live().load(); }

 private:
  static std::atomic<long>& Live() {
    static std::atomic<long> Count{0};
    return Count;
  }
  std::string FData;
  size_t FLimit = NoLimit;
};

// A text stream; its bytes are UTF-8.
class TStringStream : public TStream {
 public:
  using TStream::TStream;
  const std::string& DataString() const { return Bytes(); }
};

class TBytesStream : public TStream {
 public:
  using TStream::TStream;
};

// Largest response body the bank client accepts (bank answers are a few hundred bytes);
// a larger one fails with SResponseTooLarge.
inline constexpr size_t MaxResponseSize = 4u << 20;

}  // namespace bank
