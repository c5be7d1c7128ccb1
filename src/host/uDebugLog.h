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

// Where the debug log of an object whose device folder is PreferredDir writes: that folder
// when it exists, else the default folder. The writer, Enable (the exchange log shares the
// day's file) and the settings dialog's log commands all ask here, so they cannot disagree.
// With CreateDefault the default folder is made and given to Everyone (once per folder and
// day while it stays); without it the folder is only named, so looking for the log never
// makes one. "" when there is no folder at all.
std::wstring DebugLogFolder(const std::wstring& PreferredDir, const SYSTEMTIME& Day, bool CreateDefault);
// The day's file in that folder; "" when there is no folder.
std::wstring DebugLogFile(const std::wstring& PreferredDir, const SYSTEMTIME& Day, bool CreateDefault);

// The local time as the debug log reads it (the test seam's clock when one is set).
SYSTEMTIME DebugLogNow();

// The day's file of a folder (given with or without a trailing delimiter).
std::wstring DebugLogFileName(const std::wstring& Folder, const SYSTEMTIME& Day);

// The text of one line, CR LF included, before the conversion to the ANSI code page.
std::wstring FormatDebugLogLine(const SYSTEMTIME& Time, const std::wstring& InstanceID, const std::wstring& Caption,
                                const std::wstring& Text, bool CaptionOnly);

// Seams for tests: the local clock and the special-folder lookup (a CSIDL to its path, ""
// when unavailable). An empty function restores the system's own.
void SetDebugLogClock(std::function<SYSTEMTIME()> Clock);
void SetDebugLogSpecialFolders(std::function<std::wstring(int Csidl)> Lookup);
