#pragma once
// The exchange log: a process-wide text log of the traffic with the bank. It shares the
// day's file of the debug log and writes through the same process-wide writer and lock.
// A line that cannot be written is dropped: logging never fails or alters a bank call.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace bank {

// Message levels of a line.
enum TLogMessageLevel { lmlInfo = 0, lmlDebug = 1, lmlError = 2 };

namespace ExchangeLog {

// Log levels: 0 off, 1 ERROR only, 2 INFO and ERROR, 3 everything.
inline constexpr int LevelOff = 0;
inline constexpr int LevelAll = 3;
// Encodings: 0 UTF-8 (no byte-order mark), 1 the system's ANSI code page; others read as 0.
inline constexpr int EncodingUtf8 = 0;
inline constexpr int EncodingAnsi = 1;

// Writes one line when the level selects AMessageLevel; the first line after switching on
// is preceded by the start banner. Never throws.
void Log(std::string_view ASource, std::string_view AMessage, TLogMessageLevel AMessageLevel) noexcept;
// Whether a line of this level would be written now (lets callers skip building it).
bool Selects(TLogMessageLevel AMessageLevel) noexcept;

// Going from on to off after the start banner appends the stop banner, to the file the last
// line went to (a name set since does not count, and no folder is made for it).
void SetLogLevel(int ALevel) noexcept;
int LogLevel() noexcept;
void SetLogEncoding(int AEncoding) noexcept;
int LogEncoding() noexcept;

// The file (UTF-8). An absolute path is used as it is (its folder is not created); anything
// else names the default file under common application data + "Quorvel".
void SetLogFileName(std::string_view AFileName);
std::string LogFileName();

// The file a line written now goes to ("" when there is none: the line is dropped).
std::string CurrentFileName();

// What the start banner shows about the system and this module.
std::string OSVersionText();
std::string ModuleFileName();  // with extension, without folder
std::string ModuleVersionText();  // "a.b.c.d"

// The system name of the banner from the version the system reports.
struct TOSVersion {
  bool Available = false;
  uint32_t Major = 0, Minor = 0, Build = 0;
  bool NTPlatform = true;
  std::string ServicePack;
};
std::string FormatOSVersion(const TOSVersion& AVersion);

// Test seam: the common application-data folder the default path starts from ("" when the
// system has none). An empty function restores the system's own.
void SetCommonAppDataLookup(std::function<std::string()> ALookup);

inline constexpr std::string_view CompanyFolderName = "Quorvel";

}  // namespace ExchangeLog

// Platform seams (uExchangeLog.win.cpp, uExchangeLog.native.cpp).
namespace ExchangeLogPlatform {

struct TLocalTime {
  int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
};
TLocalTime Now() noexcept;
bool IsAbsolutePath(std::string_view APath) noexcept;
char PathDelimiter() noexcept;
// Base name of a path (no folder, no extension).
std::string BaseName(std::string_view APath);
std::string SystemCommonAppData();
// Creates the folder with its parents when missing and gives Everyone inherited full access
// to a folder it created; false when the folder cannot be had.
bool EnsureSharedFolder(const std::string& AFolder) noexcept;
// UTF-8 to the system's ANSI code page (characters it lacks replaced by the system).
std::string ToAnsi(std::string_view AUtf8);
// Appends bytes to the file under the process's log lock; false when the bytes were dropped.
// Without AWaitForLock a lock held elsewhere drops the bytes at once (the unload path).
bool AppendLine(const std::string& AFileName, std::string_view ABytes, bool AWaitForLock = true) noexcept;
std::string OSVersionText();
std::string ModulePath();  // the long form
std::string ModuleVersionText();
// The user's time separator, as the debug log writes its times.
std::string TimeSeparator();

}  // namespace ExchangeLogPlatform

}  // namespace bank
