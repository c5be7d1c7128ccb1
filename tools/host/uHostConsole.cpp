#include "uHostConsole.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

namespace hostconsole {

namespace {
bool SameAscii(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    wchar_t x = a[i], y = b[i];
    if (x >= L'a' && x <= L'z') x = static_cast<wchar_t>(x - 32);
    if (y >= L'a' && y <= L'z') y = static_cast<wchar_t>(y - 32);
    if (x != y) return false;
  }
  return true;
}

std::wstring Trim(const std::wstring& s) {
  const size_t b = s.find_first_not_of(L" \t\r\n");
  if (b == std::wstring::npos) return {};
  const size_t e = s.find_last_not_of(L" \t\r\n");
  return s.substr(b, e - b + 1);
}
}  // namespace

int ExitCodeOfResult(int32_t ResultCode) noexcept {
  switch (ResultCode) {
    case 0: return exOK;
    case 70:
    case 201: return exDeviceState;
    case 1003:
    case 1004: return exBadRequest;
    default: return exFailed;
  }
}

int64_t ParseAmount(const std::wstring& Text) {
  const std::string shown = Utf8(Text);
  size_t i = 0;
  int64_t units = 0;
  int digits = 0;
  while (i < Text.size() && Text[i] >= L'0' && Text[i] <= L'9') {
    units = units * 10 + (Text[i] - L'0');
    if (++digits > 12) throw TUsageError("amount too large: " + shown);
    ++i;
  }
  if (digits == 0) throw TUsageError("not an amount: '" + shown + "' (write it as 123.45)");
  int64_t cents = 0;
  if (i < Text.size() && (Text[i] == L'.' || Text[i] == L',')) {
    ++i;
    int decimals = 0;
    while (i < Text.size() && Text[i] >= L'0' && Text[i] <= L'9') {
      if (++decimals > 2) throw TUsageError("an amount has at most two decimals: " + shown);
      cents = cents * 10 + (Text[i] - L'0');
      ++i;
    }
    if (decimals == 0) throw TUsageError("not an amount: '" + shown + "' (write it as 123.45)");
    if (decimals == 1) cents *= 10;
  }
  if (i != Text.size()) throw TUsageError("not an amount: '" + shown + "' (write it as 123.45)");
  const int64_t total = (units * 100 + cents) * 100;
  if (total <= 0) throw TUsageError("the amount must be above zero: " + shown);
  return total;
}

std::wstring FormatAmount(int64_t v) {
  const bool negative = v < 0;
  const uint64_t a = negative ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  wchar_t buf[64];
  const unsigned frac = static_cast<unsigned>(a % 10000);
  if (frac % 100 == 0)
    swprintf(buf, 64, L"%s%llu.%02u", negative ? L"-" : L"", static_cast<unsigned long long>(a / 10000), frac / 100);
  else
    swprintf(buf, 64, L"%s%llu.%04u", negative ? L"-" : L"", static_cast<unsigned long long>(a / 10000), frac);
  return buf;
}

std::vector<std::wstring> SplitWords(const std::wstring& Line) {
  std::vector<std::wstring> words;
  std::wstring word;
  bool inWord = false, quoted = false;
  for (wchar_t c : Line) {
    if (c == L'"') {
      quoted = !quoted;
      inWord = true;
    } else if (!quoted && (c == L' ' || c == L'\t' || c == L'\r' || c == L'\n')) {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (quoted) throw TUsageError("unbalanced quote in: " + Utf8(Line));
  if (inWord) words.push_back(word);
  return words;
}

std::pair<std::wstring, std::wstring> ParseAssignment(const std::wstring& Text) {
  const size_t eq = Text.find(L'=');
  if (eq == std::wstring::npos) throw TUsageError("expected Id=value, got '" + Utf8(Text) + "'");
  const std::wstring id = Trim(Text.substr(0, eq));
  if (id.empty()) throw TUsageError("a setting needs an Id before '=': '" + Utf8(Text) + "'");
  return {id, Text.substr(eq + 1)};
}

void TSettingsFile::Set(const std::wstring& Id, const std::wstring& Value) {
  for (auto& item : FItems)
    if (SameAscii(item.first, Id)) {
      item.second = Value;
      return;
    }
  FItems.emplace_back(Id, Value);
}

void TSettingsFile::Parse(const std::string& Utf8Text, const std::wstring& Name) {
  std::string text = Utf8Text;
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
  size_t start = 0;
  int lineNo = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    ++lineNo;
    std::wstring line = Trim(Wide(text.substr(start, end - start)));
    start = end + 1;
    if (line.empty() || line[0] == L'#' || line[0] == L';') continue;
    try {
      auto [id, value] = ParseAssignment(line);
      Set(id, value);
    } catch (const TUsageError& e) {
      throw TUsageError(Utf8(Name) + ":" + std::to_string(lineNo) + ": " + e.what());
    }
  }
}

std::string TSettingsFile::Format() const {
  std::string text = "# tolvaro_host settings: Id=Value, one a line\n";
  for (const auto& [id, value] : FItems) text += Utf8(id) + "=" + Utf8(value) + "\n";
  return text;
}

std::string Utf8(const std::wstring& Text) {
  if (Text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring Wide(const std::string& Text) {
  if (Text.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), out.data(), n);
  return out;
}

std::string JsonString(const std::wstring& Text) {
  std::string out = "\"";
  for (unsigned char c : Utf8(Text)) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          snprintf(buf, sizeof buf, "\\u%04X", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

std::wstring Boxed(const std::wstring& Title, const std::wstring& Text) {
  std::vector<std::wstring> lines;
  size_t start = 0;
  while (start < Text.size()) {
    size_t end = Text.find(L'\n', start);
    if (end == std::wstring::npos) end = Text.size();
    std::wstring line = Text.substr(start, end - start);
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  size_t width = Title.size() + 2;
  for (const auto& l : lines) width = std::max(width, l.size());
  std::wstring out = L"┌─" + Title + std::wstring(width + 1 - Title.size(), L'─') + L"┐\n";
  for (const auto& l : lines) out += L"│ " + l + std::wstring(width - l.size(), L' ') + L" │\n";
  out += L"└" + std::wstring(width + 2, L'─') + L"┘\n";
  return out;
}

}  // namespace hostconsole
