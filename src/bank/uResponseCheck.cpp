#include "uResponseCheck.h"

#include <optional>
#include <string>

#include "uBankExceptions.h"
#include "uBankStrings.h"
#include "uJSON.h"
#include "uTextUtils.h"

namespace bank {

namespace {

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

// The failure of an HTTP status: its reason phrase, or the code where there is none (HTTP/2).
[[noreturn]] void FailWithStatus(int AStatusCode, const std::string& AStatusText) {
  throw Exception(AStatusText.empty() ? "HTTP " + std::to_string(AStatusCode) : AStatusText);
}

}  // namespace

void CheckBankResponse(int AStatusCode, const std::string& AStatusText, const std::string& ABodyText) {
  if (ABodyText.empty()) {
    if (AStatusCode != 200) FailWithStatus(AStatusCode, AStatusText);
    return;  // the converter then reports the missing value
  }
  const std::unique_ptr<TJSONDocument> doc = TJSONDocument::Parse(ABodyText);
  if (!doc || doc->Empty()) throw Exception(SNotJSONAnswer);
  // Case-sensitive and the first occurrence only: "errorcode" passes unexamined.
  const TJSONDocument::TIndex code = doc->Member(doc->Root(), "ErrorCode");
  if (code != TJSONDocument::npos) {
    const std::string text = NodeText(*doc, code);
    const std::optional<int32_t> value = ParseInt32(Trim(text));
    if (!value) throw EConvertError(FormatText(SInvalidInteger, text));
    if (*value != 0) throw Exception(MemberText(*doc, "Message") + " " + MemberText(*doc, "Details"));
  }
  // A gateway or proxy in front of the bank answers 502/503/504 with JSON of its own, with
  // no ErrorCode: that is no answer of the bank's, and nothing was done.
  if (AStatusCode < 200 || AStatusCode > 299) FailWithStatus(AStatusCode, AStatusText);
}

}  // namespace bank
