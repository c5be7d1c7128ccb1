// Parsing into the node table: RapidJSON's SAX reader, iterative, numbers kept as text.
// Kept apart from the rest of the document code: see the sanitizer note in CMakeLists.txt.
#include <cstring>
#include <new>

#include "uBankExceptions.h"
#include "uJSON.h"

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wall"
#pragma GCC diagnostic ignored "-Wextra"
#endif
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace bank {

// Builds the node table from the parser's events.
class TJSONBuilderHandler {
 public:
  using Ch = char;
  explicit TJSONBuilderHandler(TJSONDocument& ADoc) : FDoc(ADoc) {}

  bool Null() { return AddScalar(TJSONDocument::TKind::Null, {}); }
  bool Bool(bool b) { return AddScalar(b ? TJSONDocument::TKind::True : TJSONDocument::TKind::False, {}); }
  bool Int(int) { return false; }
  bool Uint(unsigned) { return false; }
  bool Int64(int64_t) { return false; }
  bool Uint64(uint64_t) { return false; }
  bool Double(double) { return false; }
  bool RawNumber(const Ch* s, rapidjson::SizeType n, bool) {
    return AddScalar(TJSONDocument::TKind::Number, {s, n});
  }
  bool String(const Ch* s, rapidjson::SizeType n, bool) {
    return AddScalar(TJSONDocument::TKind::String, {s, n});
  }
  bool StartObject() { return Open(TJSONDocument::TKind::Object); }
  bool Key(const Ch* s, rapidjson::SizeType n, bool) {
    FName.assign(s, n);
    return true;
  }
  bool EndObject(rapidjson::SizeType) { return Close(); }
  bool StartArray() { return Open(TJSONDocument::TKind::Array); }
  bool EndArray(rapidjson::SizeType) { return Close(); }

 private:
  TJSONDocument::TIndex Parent() const { return FOpen.empty() ? TJSONDocument::npos : FOpen.back(); }
  // Returning false stops the parser: the document is then absent, like malformed text.
  bool Full() const { return FDoc.FNodes.size() >= TJSONDocument::MaxParseNodes; }
  bool AddScalar(TJSONDocument::TKind k, std::string_view text) {
    if (Full()) return false;
    FDoc.Add(Parent(), k, FName, text);
    return true;
  }
  bool Open(TJSONDocument::TKind k) {
    if (Full() || FOpen.size() >= TJSONDocument::MaxParseDepth) return false;
    FOpen.push_back(FDoc.Add(Parent(), k, FName, {}));
    return true;
  }
  bool Close() {
    FOpen.pop_back();
    return true;
  }

  TJSONDocument& FDoc;
  std::vector<TJSONDocument::TIndex> FOpen;
  std::string FName;
};

std::unique_ptr<TJSONDocument> TJSONDocument::Parse(std::string_view AText) {
  // Offsets are 32-bit; the bridge refuses bodies far below this anyway.
  if (AText.size() >= (1u << 30)) return nullptr;
  // A NUL byte is never valid JSON text, and the parser would take it for the end.
  if (std::memchr(AText.data(), 0, AText.size()) != nullptr) return nullptr;
  constexpr unsigned kFlags = rapidjson::kParseIterativeFlag | rapidjson::kParseNumbersAsStringsFlag |
                              rapidjson::kParseValidateEncodingFlag;
  try {
    auto doc = std::make_unique<TJSONDocument>();
    doc->FChars.reserve(AText.size());
    TJSONBuilderHandler handler(*doc);
    rapidjson::MemoryStream ms(AText.data(), AText.size());
    rapidjson::Reader reader;
    if (!reader.Parse<kFlags>(ms, handler)) return nullptr;
    return doc;
  } catch (const EJSONException&) {
    return nullptr;  // too large for the node table
  } catch (const std::bad_alloc&) {
    return nullptr;  // the host's address space is short: no document rather than a raise
  }
}

}  // namespace bank
