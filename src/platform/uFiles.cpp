#include "uFiles.h"

#include <shlobj.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "uHandles.h"

bool DirectoryExists(const std::wstring& Path) noexcept {
  if (Path.empty()) return false;
  const DWORD attributes = GetFileAttributesW(Path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

static bool IsPathDelimiter(wchar_t c) noexcept { return c == L'\\' || c == L'/'; }

bool ForceDirectories(const std::wstring& Path) noexcept {
  try {
    std::wstring path = Path;
    while (!path.empty() && IsPathDelimiter(path.back())) path.pop_back();
    if (path.empty()) return false;
    if (DirectoryExists(path)) return true;
    const size_t cut = path.find_last_of(L"\\/");
    // A drive root ("C:") or a bare name has no parent of ours to create.
    if (cut != std::wstring::npos && cut > 0 && path[cut - 1] != L':' && !IsPathDelimiter(path[cut - 1]) &&
        !ForceDirectories(path.substr(0, cut)))
      return false;
    return CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
  } catch (...) {
    return false;
  }
}

std::wstring IncludeTrailingPathDelimiter(std::wstring Path) {
  if (Path.empty() || !IsPathDelimiter(Path.back())) Path += L'\\';
  return Path;
}

std::wstring ExtractFileBaseName(std::wstring_view Path) {
  const size_t slash = Path.find_last_of(L"\\/:");
  std::wstring_view name = slash == std::wstring_view::npos ? Path : Path.substr(slash + 1);
  const size_t dot = name.find_last_of(L'.');
  if (dot != std::wstring_view::npos) name = name.substr(0, dot);
  return std::wstring(name);
}

std::wstring SpecialFolderPath(int Csidl, bool Create) noexcept {
  try {
    wchar_t buffer[MAX_PATH + 1] = {};
    if (!SHGetSpecialFolderPathW(nullptr, buffer, Csidl, Create ? TRUE : FALSE)) return {};
    return buffer;
  } catch (...) {
    return {};
  }
}

std::wstring ThisModuleFileName() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&ThisModuleFileName), &module))
    return {};
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return std::wstring(buffer.data(), n);
    buffer.resize(buffer.size() * 2);  // truncated: long path
  }
}

std::wstring LongPathName(const std::wstring& Path) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (int attempt = 0; attempt < 4; ++attempt) {
    const DWORD n = GetLongPathNameW(Path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return Path;
    if (n < buffer.size()) return std::wstring(buffer.data(), n);
    buffer.resize(n + 1);
  }
  return Path;
}

TFileVersion FileVersionOf(const std::wstring& FileName) noexcept {
  TFileVersion parts{};
  try {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(FileName.c_str(), &ignored);
    if (size == 0) return parts;
    std::vector<unsigned char> block(size);
    if (!GetFileVersionInfoW(FileName.c_str(), 0, size, block.data())) return parts;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &length) || !info ||
        length < sizeof(VS_FIXEDFILEINFO))
      return parts;
    parts = {HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS), HIWORD(info->dwFileVersionLS),
             LOWORD(info->dwFileVersionLS)};
  } catch (...) {
  }
  return parts;
}

namespace {
std::mutex& LogFileLock() noexcept {
  static std::mutex lock;
  return lock;
}

// Another process (or a handle of ours) holding the file without write sharing is
// usually gone within moments; a line is not worth more than this wait.
constexpr int kOpenAttempts = 10;
constexpr DWORD kRetryPauseMs = 15;
}  // namespace

DWORD AppendToLogFile(const std::wstring& FileName, std::string_view Bytes, bool WaitForLock) noexcept {
  try {
    std::unique_lock<std::mutex> guard(LogFileLock(), std::defer_lock);
    if (WaitForLock) {
      guard.lock();
    } else if (!guard.try_lock()) {
      return ERROR_BUSY;
    }
    THandle file;
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
      // Append-only access: every write lands at the current end, whoever else appends.
      file.Reset(CreateFileW(FileName.c_str(), FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (file.Valid()) break;
      error = GetLastError();
      if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) return error;
      Sleep(kRetryPauseMs);
    }
    if (!file.Valid()) return error;
    size_t done = 0;
    while (done < Bytes.size()) {
      DWORD written = 0;
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(Bytes.size() - done, 1u << 20));
      if (!WriteFile(file.Get(), Bytes.data() + done, chunk, &written, nullptr)) return GetLastError();
      if (written == 0) return ERROR_WRITE_FAULT;
      done += written;
    }
    if (!file.Reset()) return GetLastError();
    return ERROR_SUCCESS;
  } catch (...) {
    return ERROR_NOT_ENOUGH_MEMORY;  // the lock could not be taken, or a copy failed
  }
}
