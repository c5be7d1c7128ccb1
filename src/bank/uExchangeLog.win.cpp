// Windows seam of the exchange log: lines go through the process's one log-file writer
// (shared with the debug log), the banner reads the system's version and the module's own.
#include <windows.h>
#include <shlobj.h>

#include "platform/uFiles.h"
#include "platform/uLocale.h"
#include "platform/uSecurity.h"
#include "platform/uStrings.h"
#include "uExchangeLog.h"

namespace bank::ExchangeLogPlatform {

TLocalTime Now() noexcept {
  SYSTEMTIME t{};
  GetLocalTime(&t);
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

bool IsAbsolutePath(std::string_view APath) noexcept {
  // "C:\..." or a UNC name "\\server\share\...".
  if (APath.size() >= 3 && APath[1] == ':' && (APath[2] == '\\' || APath[2] == '/')) return true;
  return APath.size() >= 2 && (APath[0] == '\\' || APath[0] == '/') && (APath[1] == '\\' || APath[1] == '/');
}

char PathDelimiter() noexcept { return '\\'; }

std::string BaseName(std::string_view APath) { return Utf16ToUtf8(ExtractFileBaseName(Utf8ToUtf16(APath))); }

std::string SystemCommonAppData() {
  // Common first, then the user's; with neither there is no default file.
  std::wstring folder = SpecialFolderPath(CSIDL_COMMON_APPDATA, true);
  if (folder.empty()) folder = SpecialFolderPath(CSIDL_APPDATA, true);
  return Utf16ToUtf8(folder);
}

bool EnsureSharedFolder(const std::string& AFolder) noexcept {
  try {
    const std::wstring folder = Utf8ToUtf16(AFolder);
    if (DirectoryExists(folder)) return true;
    if (!ForceDirectories(folder)) return false;
    try {
      GrantEveryoneFullAccess(folder);
    } catch (...) {
      // The folder is usable with the rights it inherited.
    }
    return true;
  } catch (...) {
    return false;
  }
}

std::string ToAnsi(std::string_view AUtf8) { return Utf16ToAnsi(Utf8ToUtf16(AUtf8)); }

bool AppendLine(const std::string& AFileName, std::string_view ABytes, bool AWaitForLock) noexcept {
  try {
    return AppendToLogFile(Utf8ToUtf16(AFileName), ABytes, AWaitForLock) == ERROR_SUCCESS;
  } catch (...) {
    return false;
  }
}

std::string OSVersionText() {
  ExchangeLog::TOSVersion v;
  OSVERSIONINFOEXW info{};
  info.dwOSVersionInfoSize = sizeof info;
  // The version the system reports to this module (no manifest: as Windows 8 at most).
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
  const BOOL known = GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info));
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
  if (known) {
    v.Available = true;
    v.Major = info.dwMajorVersion;
    v.Minor = info.dwMinorVersion;
    v.Build = info.dwBuildNumber;
    v.NTPlatform = info.dwPlatformId == VER_PLATFORM_WIN32_NT;
    v.ServicePack = Utf16ToUtf8(info.szCSDVersion);
  }
  return ExchangeLog::FormatOSVersion(v);
}

std::string ModulePath() { return Utf16ToUtf8(LongPathName(ThisModuleFileName())); }

std::string TimeSeparator() { return Utf16ToUtf8(UserTimeSeparator()); }

std::string ModuleVersionText() {
  const TFileVersion v = FileVersionOf(ThisModuleFileName());
  return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." + std::to_string(v[3]);
}

}  // namespace bank::ExchangeLogPlatform
