#pragma once
// The debug log: one line per event in the day's file "<folder>Debug_yyyy.mm.dd.log".
#include <windows.h>
#include <oaidl.h>

#include <string>

// Variant and array rendering of the trace lines.
std::wstring ValueToText(const VARIANT& Value);
std::wstring ArrayToText(const VARIANT& Value);

// Appends one line to the day's debug log in PreferredDir when that directory exists,
// else in the default folder. Never throws: a line that cannot be written is dropped.
void WriteDebugLogLine(const std::wstring& PreferredDir, const std::wstring& InstanceID, const std::wstring& Caption,
                       const std::wstring& Text, bool CaptionOnly) noexcept;
