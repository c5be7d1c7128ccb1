#pragma once
// Helpers for tests that read the debug log back: a scratch folder, the files in it, a fixed
// clock.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "host/uDebugLog.h"
#include "platform/uStrings.h"

// A fresh folder under the temporary folder, removed with everything in it afterwards.
class TScratchFolder {
public:
  TScratchFolder() {
    wchar_t base[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, base);
    FPath = std::wstring(base) + L"tolvaro_test_" + NewGuidText() + L"\\";
    CreateDirectoryW(FPath.c_str(), nullptr);
  }
  TScratchFolder(const TScratchFolder&) = delete;
  TScratchFolder& operator=(const TScratchFolder&) = delete;
  ~TScratchFolder() { RemoveTree(FPath); }

  // With a trailing backslash.
  const std::wstring& Path() const { return FPath; }

  static void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW((folder + L"*").c_str(), &fd);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..") continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
          RemoveTree(folder + name + L"\\");
        else
          DeleteFileW((folder + name).c_str());
      } while (FindNextFileW(find, &fd));
      FindClose(find);
    }
    RemoveDirectoryW(folder.c_str());
  }

private:
  std::wstring FPath;
};

inline bool PathExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Names (without folder) of the files matching a pattern in a folder, sorted.
inline std::vector<std::wstring> FilesIn(const std::wstring& folder, const std::wstring& pattern = L"*") {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW fd;
  HANDLE find = FindFirstFileW((folder + pattern).c_str(), &fd);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(fd.cFileName);
    } while (FindNextFileW(find, &fd));
    FindClose(find);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The file's bytes as they are on disk ("" when it cannot be read).
inline std::string ReadBytes(const std::wstring& file) {
  std::string bytes;
  HANDLE h = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return bytes;
  char buffer[4096];
  DWORD n = 0;
  while (ReadFile(h, buffer, sizeof(buffer), &n, nullptr) && n > 0) bytes.append(buffer, n);
  CloseHandle(h);
  return bytes;
}

// Bytes in the ANSI code page, back to UTF-16.
inline std::wstring FromAnsi(const std::string& bytes) {
  if (bytes.empty()) return {};
  const int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(), n);
  return out;
}

// Every "Debug_*.log" of a folder, in date order, as text split into lines (CR LF removed).
inline std::vector<std::wstring> DebugLogLines(const std::wstring& folder) {
  std::vector<std::wstring> lines;
  for (const std::wstring& name : FilesIn(folder, L"Debug_*.log")) {
    const std::wstring text = FromAnsi(ReadBytes(folder + name));
    size_t start = 0;
    for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2)
      lines.push_back(text.substr(start, end - start));
    if (start < text.size()) lines.push_back(text.substr(start) + L"<no CR LF>");
  }
  return lines;
}

// Replaces the log's clock (and optionally its special folders) for one test.
class TLogSeams {
public:
  TLogSeams() = default;
  TLogSeams(const TLogSeams&) = delete;
  TLogSeams& operator=(const TLogSeams&) = delete;
  ~TLogSeams() {
    SetDebugLogClock(nullptr);
    SetDebugLogSpecialFolders(nullptr);
  }
  // Each reading returns the next time of the list (the last one repeats).
  void Clock(std::vector<SYSTEMTIME> times) {
    FTimes = std::move(times);
    FNext = 0;
    SetDebugLogClock([this] { return FTimes[std::min(FNext++, FTimes.size() - 1)]; });
  }
  void SpecialFolders(std::wstring common, std::wstring user) {
    SetDebugLogSpecialFolders([common, user](int csidl) { return csidl == 0x23 ? common : csidl == 0x1A ? user : L""; });
  }

private:
  std::vector<SYSTEMTIME> FTimes;
  size_t FNext = 0;
};

inline SYSTEMTIME Moment(WORD y, WORD mo, WORD d, WORD h, WORD mi, WORD s, WORD ms) {
  SYSTEMTIME t{};
  t.wYear = y;
  t.wMonth = mo;
  t.wDay = d;
  t.wHour = h;
  t.wMinute = mi;
  t.wSecond = s;
  t.wMilliseconds = ms;
  return t;
}
