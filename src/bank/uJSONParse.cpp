// Parsing into the node table: RapidJSON's SAX reader, iterative, numbers kept as text.
// Kept apart from the rest of the document code: see the sanitizer note in CMakeLists.txt.
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

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

namespace {

// RapidJSON refuses a valid number beyond the range of a double (1e400, a 400-digit integer)
// even when it only hands out the number's text. The bank may send one in a member we never
// read, so such a number goes to the parser as "0" and its own text back into the document.
struct TNumberTexts {
  std::string Text;  // the input with every such number as "0"; empty when nothing changed
  std::vector<std::pair<uint32_t, std::string_view>> Originals;  // (number's index, text)
};

bool IsDigitChar(char c) { return c >= '0' && c <= '9'; }

// Whether AToken is a whole JSON number, and whether RapidJSON might find it too big.
bool ValidNumber(std::string_view AToken, bool& ARisky) {
  size_t i = 0, n = AToken.size();
  if (i < n && AToken[i] == '-') ++i;
  if (i >= n || !IsDigitChar(AToken[i])) return false;
  size_t intDigits = 0;
  if (AToken[i] == '0') {
    ++i, ++intDigits;
  } else {
    while (i < n && IsDigitChar(AToken[i])) ++i, ++intDigits;
  }
  if (i < n && AToken[i] == '.') {
    ++i;
    const size_t start = i;
    while (i < n && IsDigitChar(AToken[i])) ++i;
    if (i == start) return false;
  }
  bool bigExponent = false;
  if (i < n && (AToken[i] == 'e' || AToken[i] == 'E')) {
    ++i;
    bool negative = false;
    if (i < n && (AToken[i] == '+' || AToken[i] == '-')) negative = AToken[i++] == '-';
    const size_t start = i;
    while (i < n && IsDigitChar(AToken[i])) ++i;
    if (i == start) return false;
    bigExponent = !negative && (i - start > 2 || AToken.substr(start, i - start) > "99");
  }
  ARisky = bigExponent || intDigits > 18;
  return i == n;
}

TNumberTexts ReplaceHugeNumbers(std::string_view AText) {
  TNumberTexts out;
  std::vector<std::pair<size_t, size_t>> spans;  // where the replaced numbers stand
  uint32_t index = 0;
  for (size_t i = 0; i < AText.size();) {
    const char c = AText[i];
    if (c == '"') {
      for (++i; i < AText.size() && AText[i] != '"'; ++i)
        if (AText[i] == '\\') ++i;
      ++i;
    } else if (c == '-' || IsDigitChar(c)) {
      size_t end = i;
      while (end < AText.size() && (IsDigitChar(AText[end]) || AText[end] == '-' || AText[end] == '+' ||
                                    AText[end] == '.' || AText[end] == 'e' || AText[end] == 'E'))
        ++end;
      bool risky = false;
      // A malformed number fails the parse whatever is done here: leave the text alone.
      if (!ValidNumber(AText.substr(i, end - i), risky)) return {};
      if (risky) {
        out.Originals.emplace_back(index, AText.substr(i, end - i));
        spans.emplace_back(i, end);
      }
      ++index;
      i = end;
    } else {
      ++i;
    }
  }
  if (spans.empty()) return out;
  size_t at = 0;
  for (const auto& [from, to] : spans) {
    out.Text.append(AText.substr(at, from - at));
    out.Text += '0';
    at = to;
  }
  out.Text.append(AText.substr(at));
  return out;
}

}  // namespace

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
    std::string_view text(s, n);
    if (FNextOriginal < FOriginals.size() && FOriginals[FNextOriginal].first == FNumbers)
      text = FOriginals[FNextOriginal++].second;
    ++FNumbers;
    return AddScalar(TJSONDocument::TKind::Number, text);
  }
  void SetOriginals(std::vector<std::pair<uint32_t, std::string_view>> AOriginals) {
    FOriginals = std::move(AOriginals);
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
  std::vector<std::pair<uint32_t, std::string_view>> FOriginals;
  size_t FNextOriginal = 0;
  uint32_t FNumbers = 0;
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
    TNumberTexts numbers = ReplaceHugeNumbers(AText);
    const std::string_view text = numbers.Text.empty() ? AText : std::string_view(numbers.Text);
    handler.SetOriginals(std::move(numbers.Originals));
    rapidjson::MemoryStream ms(text.data(), text.size());
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
