#pragma once
// The debug log: one line per event in the day's file "<folder>Debug_yyyy.mm.dd.log".
#include <windows.h>
#include <oaidl.h>

#include <functional>
#include <string>

#include "platform/uSecurity.h"  // GrantEveryoneFullAccess, used for the default folder

// Variant and array rendering of the trace lines. Never fails on a value it cannot
// render: such a value shows as empty text.
std::wstring ValueToText(const VARIANT& Value);
std::wstring ArrayToText(const VARIANT& Value);

// Appends one line to the day's debug log in PreferredDir when that directory exists,
// else in the default folder. Never throws: a line that cannot be written is dropped.
void WriteDebugLogLine(const std::wstring& PreferredDir, const std::wstring& InstanceID, const std::wstring& Caption,
                       const std::wstring& Text, bool CaptionOnly) noexcept;

// The default folder, with a trailing delimiter: the common application-data folder (else the
// user's) + this module's base name. Created with every missing level and given to Everyone.
// "" when neither application-data folder can be had: lines meant for it are then dropped.
std::wstring DefaultDebugLogDir();

// The day's file of a folder (given with or without a trailing delimiter).
std::wstring DebugLogFileName(const std::wstring& Folder, const SYSTEMTIME& Day);

// The text of one line, CR LF included, before the conversion to the ANSI code page.
std::wstring FormatDebugLogLine(const SYSTEMTIME& Time, const std::wstring& InstanceID, const std::wstring& Caption,
                                const std::wstring& Text, bool CaptionOnly);

// Seams for tests: the local clock and the special-folder lookup (a CSIDL to its path, ""
// when unavailable). An empty function restores the system's own.
void SetDebugLogClock(std::function<SYSTEMTIME()> Clock);
void SetDebugLogSpecialFolders(std::function<std::wstring(int Csidl)> Lookup);
