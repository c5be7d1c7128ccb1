#pragma once
// The test server's own class: never the product's CLSID or ProgID, so a test run cannot
// touch a real registration in the prefix.
#include <guiddef.h>

inline constexpr wchar_t kTestProgID[] = L"Qelm.tolvarotest";
inline constexpr wchar_t kTestClassName[] = L"tolvarotest";
inline constexpr wchar_t kTestDescription[] = L"8.2 Equipment Driver 2.0 test server";
// {18F8590B-060A-45ED-A6B6-7E3183BF72C4}
inline constexpr GUID CLSID_tolvarotest = {0x18F8590B, 0x060A, 0x45ED, {0xA6, 0xB6, 0x7E, 0x31, 0x83, 0xBF, 0x72, 0xC4}};
inline constexpr wchar_t kTestClassGuidText[] = L"{18F8590B-060A-45ED-A6B6-7E3183BF72C4}";
// The test server's file version; the test program has none of its own.
inline constexpr wchar_t kTestModuleVersionText[] = L"7.6.5.4";
