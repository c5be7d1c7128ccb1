#include "uJSON.h"

#include "uBankExceptions.h"
#include "uBankStrings.h"


namespace bank {

namespace {

constexpr int32_t kInvalid = -1;

// Decodes one code point and advances APos; kInvalid (advancing one byte) for a bad sequence.
int32_t DecodeUtf8(const unsigned char*& APos, const unsigned char* AEnd) {
  const unsigned c = *APos;
  if (c < 0x80) {
    ++APos;
    return static_cast<int32_t>(c);
  }
  int n = 0;
  uint32_t cp = 0, min = 0;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 1, cp = c & 0x1F, min = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 2, cp = c & 0x0F, min = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 3, cp = c & 0x07, min = 0x10000;
  } else {
    ++APos;
    return kInvalid;
  }
  if (AEnd - APos < n + 1) {
    ++APos;
    return kInvalid;
  }
  for (int i = 1; i <= n; ++i) {
    const unsigned b = APos[i];
    if ((b & 0xC0) != 0x80) {
      ++APos;
      return kInvalid;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++APos;
    return kInvalid;
  }
  APos += n + 1;
  return static_cast<int32_t>(cp);
}

void AppendHex4(std::string& AOut, uint32_t AUnit) {
  static constexpr char Digits[] = "0123456789ABCDEF";
  char buf[6] = {'\\', 'u', Digits[(AUnit >> 12) & 0xF], Digits[(AUnit >> 8) & 0xF],
                 Digits[(AUnit >> 4) & 0xF], Digits[AUnit & 0xF]};
  AOut.append(buf, sizeof buf);
}

}  // namespace

bool IsValidUtf8(std::string_view AText) {
  auto p = reinterpret_cast<const unsigned char*>(AText.data());
  const auto e = p + AText.size();
  while (p < e) {
    if (*p < 0x80) {
      ++p;
      continue;
    }
    if (DecodeUtf8(p, e) == kInvalid) return false;
  }
  return true;
}

std::string SanitizeUtf8(std::string_view AText) {
  std::string out;
  out.reserve(AText.size());
  auto p = reinterpret_cast<const unsigned char*>(AText.data());
  const auto e = p + AText.size();
  while (p < e) {
    const auto start = p;
    if (DecodeUtf8(p, e) == kInvalid)
      out.append("\xEF\xBF\xBD");
    else
      out.append(reinterpret_cast<const char*>(start), static_cast<size_t>(p - start));
  }
  return out;
}

void AppendJSONString(std::string& AOut, std::string_view AText) {
  AOut.push_back('"');
  auto p = reinterpret_cast<const unsigned char*>(AText.data());
  const auto e = p + AText.size();
  while (p < e) {
    const unsigned c = *p;
    if (c >= 32 && c <= 127 && c != '"' && c != '\\' && c != '/') {
      AOut.push_back(static_cast<char>(c));
      ++p;
      continue;
    }
    switch (c) {
      case '\b': AOut.append("\\b"); ++p; continue;
      case '\t': AOut.append("\\t"); ++p; continue;
      case '\n': AOut.append("\\n"); ++p; continue;
      case '\f': AOut.append("\\f"); ++p; continue;
      case '\r': AOut.append("\\r"); ++p; continue;
      case '"': AOut.append("\\\""); ++p; continue;
      case '/': AOut.append("\\/"); ++p; continue;
      case '\\': AOut.append("\\\\"); ++p; continue;
      default: break;
    }
    int32_t cp = DecodeUtf8(p, e);
    if (cp == kInvalid) cp = 0xFFFD;
    if (cp > 0xFFFF) {
      const uint32_t v = static_cast<uint32_t>(cp) - 0x10000;
      AppendHex4(AOut, 0xD800 + (v >> 10));
      AppendHex4(AOut, 0xDC00 + (v & 0x3FF));
    } else {
      AppendHex4(AOut, static_cast<uint32_t>(cp));
    }
  }
  AOut.push_back('"');
}

uint32_t TJSONDocument::Store(std::string_view AText) {
  const auto off = static_cast<uint32_t>(FChars.size());
  FChars.append(AText);
  return off;
}

TJSONDocument::TIndex TJSONDocument::Add(TIndex AParent, TKind AKind, std::string_view AName,
                                         std::string_view AText) {
  if (FNodes.size() >= npos - 1 || FChars.size() + AName.size() + AText.size() >= UINT32_MAX)
    throw EJSONException(SJSONTooLarge);
  if (AParent == npos && !FNodes.empty()) throw EJSONException(SJSONSecondRoot);
  TNode n;
  n.Kind = AKind;
  if (AParent != npos && FNodes[AParent].Kind == TKind::Object) {
    n.NameOff = Store(AName);
    n.NameLen = static_cast<uint32_t>(AName.size());
  }
  n.TextOff = Store(AText);
  n.TextLen = static_cast<uint32_t>(AText.size());
  const auto idx = static_cast<TIndex>(FNodes.size());
  FNodes.push_back(n);
  if (AParent != npos) {
    TNode& p = FNodes[AParent];
    if (p.Last == npos)
      p.First = idx;
    else
      FNodes[p.Last].Next = idx;
    p.Last = idx;
    ++p.Count;
  }
  return idx;
}

TJSONDocument::TIndex TJSONDocument::Member(TIndex AObject, std::string_view AName) const {
  if (AObject == npos || FNodes[AObject].Kind != TKind::Object) return npos;
  for (TIndex m = FNodes[AObject].First; m != npos; m = FNodes[m].Next)
    if (Name(m) == AName) return m;
  return npos;
}

std::string_view TJSONDocument::ClassName(TKind AKind) {
  switch (AKind) {
    case TKind::Null: return "TJSONNull";
    case TKind::False: return "TJSONFalse";
    case TKind::True: return "TJSONTrue";
    case TKind::Number: return "TJSONNumber";
    case TKind::String: return "TJSONString";
    case TKind::Array: return "TJSONArray";
    case TKind::Object: return "TJSONObject";
  }
  return "TJSONValue";
}

std::string TJSONDocument::ToJSON(TIndex A) const {
  std::string out;
  if (A >= FNodes.size()) return out;
  out.reserve(FChars.size() + FNodes.size() * 4);
  // Containers being written; explicit so that nesting depth costs heap, not stack.
  std::vector<TIndex> open;
  TIndex cur = A;
  for (;;) {
    const TNode& n = FNodes[cur];
    if (!open.empty() && FNodes[open.back()].Kind == TKind::Object) {
      AppendJSONString(out, Name(cur));
      out.push_back(':');
    }
    bool descend = false;
    switch (n.Kind) {
      case TKind::Null: out.append("null"); break;
      case TKind::False: out.append("false"); break;
      case TKind::True: out.append("true"); break;
      case TKind::Number:
        if (n.TextLen == 0)
          out.push_back('0');
        else
          out.append(Text(cur));
        break;
      case TKind::String: AppendJSONString(out, Text(cur)); break;
      case TKind::Array:
      case TKind::Object:
        out.push_back(n.Kind == TKind::Array ? '[' : '{');
        if (n.First != npos) {
          open.push_back(cur);
          cur = n.First;
          descend = true;
        } else {
          out.push_back(n.Kind == TKind::Array ? ']' : '}');
        }
        break;
    }
    if (descend) continue;
    // Move to the next sibling, closing finished containers on the way up.
    for (;;) {
      if (open.empty()) return out;
      if (FNodes[cur].Next != npos) {
        out.push_back(',');
        cur = FNodes[cur].Next;
        break;
      }
      cur = open.back();
      open.pop_back();
      out.push_back(FNodes[cur].Kind == TKind::Array ? ']' : '}');
      if (cur == A) return out;
    }
  }
}

}  // namespace bank
