#pragma once
// A small JSON value and parser for the sandbox: numbers keep their text as written (a token is
// computed over the Amount's own text, and a scripted ErrorCode is answered exactly as
// given), members keep their order. Independent of the client's JSON code on purpose:
// a sandbox that shared the client's parser and writer could not catch their faults.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sandbox {

struct Json {
  enum class Kind { Null, False, True, Number, String, Array, Object };
  Kind K = Kind::Null;
  std::string Text;  // number text or string content (UTF-8)
  std::vector<Json> Items;
  struct Member;
  std::vector<Member> Members;

  static Json Str(std::string_view s);
  static Json Num(std::string_view text);
  static Json Num(int64_t v);
  static Json Bool(bool b);
  static Json Obj();
  static Json Arr();

  bool IsObject() const { return K == Kind::Object; }
  // First member named exactly AName, or null.
  const Json* Find(std::string_view AName) const;
  Json& Add(std::string AName, Json AValue);
  // A string member's content, if the member is a string.
  std::optional<std::string> GetString(std::string_view AName) const;
  // An integer member (a number or a string of digits), if it is one.
  std::optional<int64_t> GetInt(std::string_view AName) const;
};

struct Json::Member {
  std::string first;
  Json second;
};

inline Json Json::Str(std::string_view s) { Json j; j.K = Kind::String; j.Text = s; return j; }
inline Json Json::Num(std::string_view text) { Json j; j.K = Kind::Number; j.Text = text; return j; }
inline Json Json::Num(int64_t v) { return Num(std::to_string(v)); }
inline Json Json::Bool(bool b) { Json j; j.K = b ? Kind::True : Kind::False; return j; }
inline Json Json::Obj() { Json j; j.K = Kind::Object; return j; }
inline Json Json::Arr() { Json j; j.K = Kind::Array; return j; }

inline Json& Json::Add(std::string AName, Json AValue) {
  Members.push_back(Member{std::move(AName), std::move(AValue)});
  return *this;
}

// Null when the text is not exactly one well-formed JSON value.
std::optional<Json> ParseJson(std::string_view AText);
// Compact text; strings escaped minimally (UTF-8 kept as is).
std::string WriteJson(const Json& AValue);
void AppendJsonString(std::string& AOut, std::string_view AText);
// Integer from a JSON number text (no fraction or exponent), if it is one.
std::optional<int64_t> ParseInteger(std::string_view AText);

}  // namespace sandbox
