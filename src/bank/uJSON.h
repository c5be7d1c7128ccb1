#pragma once
// JSON document model of the bank client: a flat node table (no recursion to build,
// walk or free it, whatever the nesting), number text kept as written, and the compact
// writer with the bank's escaping (pure ASCII output).
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace bank {

class TJSONDocument {
 public:
  enum class TKind : uint8_t { Null, False, True, Number, String, Array, Object };
  using TIndex = uint32_t;
  static constexpr TIndex npos = UINT32_MAX;

  // Parses exactly one JSON value (surrounding blanks allowed). Malformed input, a NUL
  // byte, invalid UTF-8 or a document past the limits below gives null; it never throws
  // on bad input, nor when memory runs out.
  static std::unique_ptr<TJSONDocument> Parse(std::string_view AText);

  // Limits of a parsed document. Bank answers have a few dozen nodes nested two or three
  // deep; far more is hostile, and inside a 32-bit host process a body under the response
  // size cap could otherwise take hundreds of MB of nodes (9 MB at most with these).
  static constexpr uint32_t MaxParseNodes = 1u << 18;
  static constexpr uint32_t MaxParseDepth = 1024;  // arrays and objects open at once

  // The root is the first node added; an empty document has none.
  bool Empty() const { return FNodes.empty(); }
  TIndex Root() const { return FNodes.empty() ? npos : 0; }

  TKind Kind(TIndex A) const { return FNodes[A].Kind; }
  // The text of a string or number (as written); empty for the other kinds.
  std::string_view Text(TIndex A) const { return Chars(FNodes[A].TextOff, FNodes[A].TextLen); }
  // Member name of a node inside an object.
  std::string_view Name(TIndex A) const { return Chars(FNodes[A].NameOff, FNodes[A].NameLen); }
  TIndex FirstChild(TIndex A) const { return FNodes[A].First; }
  TIndex Next(TIndex A) const { return FNodes[A].Next; }
  uint32_t Count(TIndex A) const { return FNodes[A].Count; }
  // First member named exactly AName (letter case significant), or npos.
  TIndex Member(TIndex AObject, std::string_view AName) const;

  // Appends a node as the last child of AParent (npos: the root). AName is used when
  // AParent is an object.
  TIndex Add(TIndex AParent, TKind AKind, std::string_view AName = {}, std::string_view AText = {});

  // Class name of a node kind, as error messages show it (TJSONObject, ...).
  static std::string_view ClassName(TKind AKind);

  // Compact text of a node (the root by default): no blanks between tokens.
  std::string ToJSON(TIndex A = 0) const;

 private:
  struct TNode {
    uint32_t TextOff = 0, TextLen = 0, NameOff = 0, NameLen = 0;
    TIndex First = npos, Last = npos, Next = npos;
    uint32_t Count = 0;
    TKind Kind = TKind::Null;
  };
  std::string_view Chars(uint32_t AOff, uint32_t ALen) const { return {FChars.data() + AOff, ALen}; }
  uint32_t Store(std::string_view AText);

  friend class TJSONBuilderHandler;
  std::vector<TNode> FNodes;
  std::string FChars;
};

// Appends AText to AOut as a JSON string literal: \b \t \n \f \r \" \/ \\, \uXXXX with
// upper-case hex for every other character outside 32..127 (surrogate pairs beyond U+FFFF);
// an invalid UTF-8 sequence is written as U+FFFD.
void AppendJSONString(std::string& AOut, std::string_view AText);

// True when AText is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool IsValidUtf8(std::string_view AText);
// AText with every invalid UTF-8 sequence replaced by U+FFFD, as a UTF-8 decoder reads it.
std::string SanitizeUtf8(std::string_view AText);

}  // namespace bank
