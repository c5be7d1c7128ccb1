#pragma once
// The IDs of the driver's five bank settings: declared by the driver (fps/), edited by its page
// (here in ui/), so they live here, below both. A mistyped ID would read as an empty value.

inline constexpr wchar_t kSettingHost[] = L"Host";
inline constexpr wchar_t kSettingTerminalKey[] = L"TerminalKey";
inline constexpr wchar_t kSettingPassword[] = L"Password";
inline constexpr wchar_t kSettingLineLength[] = L"LineLength";
inline constexpr wchar_t kSettingWaitTimeout[] = L"WaitTimeout";
