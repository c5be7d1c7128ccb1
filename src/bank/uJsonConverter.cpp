#include "uJsonConverter.h"

#include "uBankExceptions.h"
#include "uBankStrings.h"
#include "uTextUtils.h"

namespace bank {

namespace {

using TKind = TJSONDocument::TKind;
using TIndex = TJSONDocument::TIndex;

[[noreturn]] void RaiseCannotWrite(TTypeKind AKind) {
  throw Exception(FormatText(SCannotWriteKind, TypeKindName(AKind)));
}

void WriteValue(TJSONDocument& ADoc, TIndex AParent, std::string_view AName, const TTypeInfo& ATi,
                const void* AData) {
  switch (ATi.Kind) {
    case TTypeKind::tkDynArray: {
      const TIndex arr = ADoc.Add(AParent, TKind::Array, AName);
      const size_t n = ATi.Length(AData);
      for (size_t i = 0; i < n; ++i)
        WriteValue(ADoc, arr, {}, *ATi.ElementType, ATi.Element(const_cast<void*>(AData), i));
      return;
    }
    case TTypeKind::tkRecord: {
      const TIndex obj = ADoc.Add(AParent, TKind::Object, AName);
      for (const auto& f : ATi.Fields) WriteValue(ADoc, obj, f.Name, *f.Type, f.Get(const_cast<void*>(AData)));
      return;
    }
    case TTypeKind::tkInteger:
      ADoc.Add(AParent, TKind::Number, AName, std::to_string(*static_cast<const int32_t*>(AData)));
      return;
    case TTypeKind::tkInt64:
      ADoc.Add(AParent, TKind::Number, AName, std::to_string(*static_cast<const int64_t*>(AData)));
      return;
    case TTypeKind::tkFloat:
      ADoc.Add(AParent, TKind::Number, AName,
               ATi.FloatType == TFloatType::ftCurr ? CurrencyToJSONText(*static_cast<const Currency*>(AData))
                                                   : FloatToText(*static_cast<const double*>(AData)));
      return;
    case TTypeKind::tkEnumeration:
      if (!ATi.IsBoolean) throw EInvalidCast(SInvalidCast);
      ADoc.Add(AParent, *static_cast<const bool*>(AData) ? TKind::True : TKind::False, AName);
      return;
    default:
      if (IsTextKind(ATi.Kind)) {
        ADoc.Add(AParent, TKind::String, AName, *static_cast<const std::string*>(AData));
        return;
      }
      RaiseCannotWrite(ATi.Kind);
  }
}

// Converts the text of a scalar JSON value by the requested kind.
void ReadText(std::string_view AText, const TTypeInfo& ATi, void* AData) {
  if (IsTextKind(ATi.Kind)) {
    static_cast<std::string*>(AData)->assign(AText);
    return;
  }
  switch (ATi.Kind) {
    case TTypeKind::tkInteger:
      *static_cast<int32_t*>(AData) = ParseInt32(Trim(AText)).value_or(0);
      return;
    case TTypeKind::tkInt64:
      *static_cast<int64_t*>(AData) = ParseInt64(Trim(AText)).value_or(0);
      return;
    case TTypeKind::tkFloat: {
      // "," and "." both stand for the decimal point: 100,5 and 100.5 read alike.
      std::string t(Trim(AText));
      for (char& c : t)
        if (c == ',') c = '.';
      if (ATi.FloatType == TFloatType::ftCurr) {
        // Integers where they give the same amount: on i686 the double would be computed at
        // the precision the host's thread set (24 bits turn 20000001 into 20000000).
        const std::optional<int64_t> raw = ParseTenThousandths(t);
        *static_cast<Currency*>(AData) =
            raw ? Currency::FromRaw(*raw) : Currency::FromDouble(ParseFloat(t).value_or(0.0));
      } else {
        *static_cast<double*>(AData) = ParseFloat(t).value_or(0.0);
      }
      return;
    }
    case TTypeKind::tkEnumeration: {
      if (!ATi.IsBoolean) throw EInvalidCast(SInvalidCast);
      const std::string_view t = Trim(AText);
      bool v = false;
      if (SameText(t, "true"))
        v = true;
      else if (!SameText(t, "false"))
        v = ParseFloat(t).value_or(0.0) != 0.0;
      *static_cast<bool*>(AData) = v;
      return;
    }
    case TTypeKind::tkVariant:
      static_cast<OleVariant*>(AData)->Text.assign(AText);
      return;
    default:
      throw EConvertError(FormatText(SCannotReadKind, TypeKindName(ATi.Kind)));
  }
}

// Recursion follows the type's nesting, never the document's: a deeply nested document
// meets a scalar or a record soon and fails or is ignored there.
void ReadValue(const TJSONDocument& ADoc, TIndex ANode, const TTypeInfo& ATi, void* AData) {
  const TKind k = ADoc.Kind(ANode);
  if (ATi.Kind == TTypeKind::tkDynArray && k == TKind::Array) {
    ATi.SetLength(AData, ADoc.Count(ANode));
    size_t i = 0;
    for (TIndex c = ADoc.FirstChild(ANode); c != TJSONDocument::npos; c = ADoc.Next(c), ++i)
      ReadValue(ADoc, c, *ATi.ElementType, ATi.Element(AData, i));
    return;
  }
  if (k == TKind::Object && ATi.Kind == TTypeKind::tkRecord) {
    for (TIndex m = ADoc.FirstChild(ANode); m != TJSONDocument::npos; m = ADoc.Next(m)) {
      const std::string_view name = ADoc.Name(m);
      for (const auto& f : ATi.Fields)
        if (SameText(name, f.Name)) ReadValue(ADoc, m, *f.Type, f.Get(AData));
    }
    return;
  }
  switch (k) {
    case TKind::Object:
    case TKind::Array:
      throw EJSONException(FormatText(SJSONNotConvertible, TJSONDocument::ClassName(k)));
    case TKind::Null: ReadText({}, ATi, AData); return;
    case TKind::True: ReadText("true", ATi, AData); return;
    case TKind::False: ReadText("false", ATi, AData); return;
    case TKind::Number:
    case TKind::String: ReadText(ADoc.Text(ANode), ATi, AData); return;
  }
}

}  // namespace

std::string CurrencyToJSONText(Currency AValue) { return TenThousandthsToText(AValue.Raw); }

std::unique_ptr<TJSONDocument> TJsonConverter::ValueToJson(const TValue& AValue) {
  if (AValue.TypeInfo == nullptr) throw Exception(SNoTypeInfo);
  auto doc = std::make_unique<TJSONDocument>();
  WriteValue(*doc, TJSONDocument::npos, {}, *AValue.TypeInfo, AValue.Data);
  return doc;
}

void TJsonConverter::JsonToValue(const TJSONDocument* AJSONData, const TTypeInfo* ATypeInfo, void* AValue) {
  if (ATypeInfo == nullptr) throw Exception(SNoTypeInfo);
  if (ATypeInfo->Reset) ATypeInfo->Reset(AValue);
  try {
    if (AJSONData == nullptr || AJSONData->Empty()) throw EJSONException(FormatText(SJSONValueNotFound, ""));
    ReadValue(*AJSONData, AJSONData->Root(), *ATypeInfo, AValue);
  } catch (...) {
    if (ATypeInfo->Reset) ATypeInfo->Reset(AValue);  // no partial value
    throw;
  }
}

}  // namespace bank
