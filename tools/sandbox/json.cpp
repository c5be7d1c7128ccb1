#include "json.h"

#include <charconv>
#include <cstdio>

namespace sandbox {

const Json* Json::Find(std::string_view AName) const {
  for (const auto& [name, value] : Members)
    if (name == AName) return &value;
  return nullptr;
}

std::optional<std::string> Json::GetString(std::string_view AName) const {
  const Json* j = Find(AName);
  if (j == nullptr || j->K != Kind::String) return std::nullopt;
  return j->Text;
}

std::optional<int64_t> Json::GetInt(std::string_view AName) const {
  const Json* j = Find(AName);
  if (j == nullptr || (j->K != Kind::Number && j->K != Kind::String)) return std::nullopt;
  return ParseInteger(j->Text);
}

std::optional<int64_t> ParseInteger(std::string_view AText) {
  int64_t v = 0;
  const char* end = AText.data() + AText.size();
  auto [p, ec] = std::from_chars(AText.data(), end, v);
  if (ec != std::errc() || p != end || AText.empty()) return std::nullopt;
  return v;
}

namespace {

// Recursive descent with a depth bound. Numbers are checked for JSON's grammar only and
// kept as text, so 1e400 or a 400-digit integer survive as written.
class Parser {
 public:
  explicit Parser(std::string_view s) : S(s) {}

  std::optional<Json> Document() {
    Json v;
    if (!Value(v, 0)) return std::nullopt;
    Blanks();
    if (P != S.size()) return std::nullopt;
    return v;
  }

 private:
  std::string_view S;
  size_t P = 0;

  void Blanks() {
    while (P < S.size() && (S[P] == ' ' || S[P] == '\t' || S[P] == '\r' || S[P] == '\n')) ++P;
  }
  bool Literal(std::string_view word) {
    if (S.substr(P, word.size()) != word) return false;
    P += word.size();
    return true;
  }
  bool Digits() {
    const size_t start = P;
    while (P < S.size() && S[P] >= '0' && S[P] <= '9') ++P;
    return P > start;
  }
  bool Number(Json& out) {
    const size_t start = P;
    if (P < S.size() && S[P] == '-') ++P;
    if (P < S.size() && S[P] == '0')
      ++P;
    else if (!Digits())
      return false;
    if (P < S.size() && S[P] == '.') {
      ++P;
      if (!Digits()) return false;
    }
    if (P < S.size() && (S[P] == 'e' || S[P] == 'E')) {
      ++P;
      if (P < S.size() && (S[P] == '+' || S[P] == '-')) ++P;
      if (!Digits()) return false;
    }
    out = Json::Num(S.substr(start, P - start));
    return true;
  }
  static void Utf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  bool Hex4(uint32_t& v) {
    if (P + 4 > S.size()) return false;
    v = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = S[P++];
      v <<= 4;
      if (c >= '0' && c <= '9') v |= c - '0';
      else if (c >= 'a' && c <= 'f') v |= c - 'a' + 10;
      else if (c >= 'A' && c <= 'F') v |= c - 'A' + 10;
      else return false;
    }
    return true;
  }
  bool String(std::string& out) {
    if (P >= S.size() || S[P] != '"') return false;
    ++P;
    while (P < S.size()) {
      const unsigned char c = S[P++];
      if (c == '"') return true;
      if (c < 0x20) return false;
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      if (P >= S.size()) return false;
      switch (S[P++]) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          uint32_t cp = 0;
          if (!Hex4(cp)) return false;
          if (cp >= 0xD800 && cp < 0xDC00) {
            uint32_t low = 0;
            if (!Literal("\\u") || !Hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          } else if (cp >= 0xDC00 && cp < 0xE000) {
            return false;
          }
          Utf8(out, cp);
          break;
        }
        default: return false;
      }
    }
    return false;
  }
  bool Value(Json& out, int depth) {
    if (depth > 256) return false;  // control and bank bodies are flat; refuse hostile nesting
    Blanks();
    if (P >= S.size()) return false;
    const char c = S[P];
    if (c == 'n') return Literal("null") && (out = Json{}, true);
    if (c == 't') return Literal("true") && (out = Json::Bool(true), true);
    if (c == 'f') return Literal("false") && (out = Json::Bool(false), true);
    if (c == '"') {
      out = Json::Str("");
      return String(out.Text);
    }
    if (c == '[') {
      ++P;
      out = Json::Arr();
      Blanks();
      if (P < S.size() && S[P] == ']') return ++P, true;
      for (;;) {
        Json item;
        if (!Value(item, depth + 1)) return false;
        out.Items.push_back(std::move(item));
        Blanks();
        if (P < S.size() && S[P] == ',') { ++P; continue; }
        if (P < S.size() && S[P] == ']') return ++P, true;
        return false;
      }
    }
    if (c == '{') {
      ++P;
      out = Json::Obj();
      Blanks();
      if (P < S.size() && S[P] == '}') return ++P, true;
      for (;;) {
        Blanks();
        std::string name;
        if (!String(name)) return false;
        Blanks();
        if (P >= S.size() || S[P] != ':') return false;
        ++P;
        Json value;
        if (!Value(value, depth + 1)) return false;
        out.Add(std::move(name), std::move(value));
        Blanks();
        if (P < S.size() && S[P] == ',') { ++P; continue; }
        if (P < S.size() && S[P] == '}') return ++P, true;
        return false;
      }
    }
    return Number(out);
  }
};

}  // namespace

std::optional<Json> ParseJson(std::string_view AText) { return Parser(AText).Document(); }

void AppendJsonString(std::string& AOut, std::string_view AText) {
  AOut += '"';
  for (unsigned char c : AText) {
    switch (c) {
      case '"': AOut += "\\\""; break;
      case '\\': AOut += "\\\\"; break;
      case '\n': AOut += "\\n"; break;
      case '\r': AOut += "\\r"; break;
      case '\t': AOut += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04X", c);
          AOut += buf;
        } else {
          AOut += static_cast<char>(c);
        }
    }
  }
  AOut += '"';
}

namespace {
void Write(std::string& out, const Json& j) {
  switch (j.K) {
    case Json::Kind::Null: out += "null"; break;
    case Json::Kind::False: out += "false"; break;
    case Json::Kind::True: out += "true"; break;
    case Json::Kind::Number: out += j.Text; break;
    case Json::Kind::String: AppendJsonString(out, j.Text); break;
    case Json::Kind::Array: {
      out += '[';
      for (size_t i = 0; i < j.Items.size(); ++i) {
        if (i) out += ',';
        Write(out, j.Items[i]);
      }
      out += ']';
      break;
    }
    case Json::Kind::Object: {
      out += '{';
      for (size_t i = 0; i < j.Members.size(); ++i) {
        if (i) out += ',';
        AppendJsonString(out, j.Members[i].first);
        out += ':';
        Write(out, j.Members[i].second);
      }
      out += '}';
      break;
    }
  }
}
}  // namespace

std::string WriteJson(const Json& AValue) {
  std::string out;
  Write(out, AValue);
  return out;
}

}  // namespace sandbox
