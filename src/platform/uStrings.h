#pragma once
// Text helpers: UTF-16 <-> UTF-8, ASCII-only case folding, GUID text.
#include <string>
#include <string_view>
#include <guiddef.h>

std::string Utf16ToUtf8(std::wstring_view text);
// In the system's ANSI code page; characters it lacks become its default character.
std::string Utf16ToAnsi(std::wstring_view text);
std::wstring Utf8ToUtf16(std::string_view text);

// Compares two texts ignoring the case of the ASCII letters a-z only; every other
// character (Cyrillic included) must match exactly.
bool AsciiSameText(std::wstring_view a, std::wstring_view b) noexcept;

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case, 38 characters.
std::wstring GuidToText(const GUID& guid);
// A freshly created GUID in that form.
std::wstring NewGuidText();
