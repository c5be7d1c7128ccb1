// Native seam of the exchange log (tests and tools on Linux): its own writer lock, UTF-8 as
// the "ANSI" code page (the process keeps the C locale), the kernel's name in the banner.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <mutex>

#include "uExchangeLog.h"

#ifndef TOLVARO_VERSION_TEXT
#define TOLVARO_VERSION_TEXT "0.0.0.0"
#endif

namespace bank::ExchangeLogPlatform {

TLocalTime Now() noexcept {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  tm t{};
  const time_t secs = tv.tv_sec;
  localtime_r(&secs, &t);
  return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, static_cast<int>(tv.tv_usec / 1000)};
}

bool IsAbsolutePath(std::string_view APath) noexcept { return !APath.empty() && APath.front() == '/'; }

char PathDelimiter() noexcept { return '/'; }

std::string BaseName(std::string_view APath) {
  const size_t slash = APath.find_last_of('/');
  std::string_view name = slash == std::string_view::npos ? APath : APath.substr(slash + 1);
  const size_t dot = name.find_last_of('.');
  if (dot != std::string_view::npos) name = name.substr(0, dot);
  return std::string(name);
}

std::string SystemCommonAppData() {
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && *xdg == '/') return xdg;
  if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') return std::string(home) + "/.local/share";
  return {};
}

bool EnsureSharedFolder(const std::string& AFolder) noexcept {
  try {
    std::string path;
    for (size_t i = 0; i < AFolder.size(); ++i) {
      path += AFolder[i];
      if ((AFolder[i] == '/' && i > 0) || i + 1 == AFolder.size()) {
        if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) return false;
      }
    }
    struct stat st {};
    return stat(AFolder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  } catch (...) {
    return false;
  }
}

std::string ToAnsi(std::string_view AUtf8) { return std::string(AUtf8); }

bool AppendLine(const std::string& AFileName, std::string_view ABytes, bool AWaitForLock) noexcept {
  static std::mutex Lock;
  try {
    std::unique_lock<std::mutex> guard(Lock, std::defer_lock);
    if (AWaitForLock) {
      guard.lock();
    } else if (!guard.try_lock()) {
      return false;
    }
    const int fd = open(AFileName.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    size_t done = 0;
    bool ok = true;
    while (done < ABytes.size()) {
      const ssize_t n = write(fd, ABytes.data() + done, ABytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ok = false;
        break;
      }
      done += static_cast<size_t>(n);
    }
    return close(fd) == 0 && ok;
  } catch (...) {
    return false;
  }
}

std::string OSVersionText() {
  utsname u{};
  if (uname(&u) != 0) return ExchangeLog::FormatOSVersion({});
  return std::string(u.sysname) + " (" + u.release + ")";
}

std::string ModulePath() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&ModulePath), &info) != 0 && info.dli_fname != nullptr) return info.dli_fname;
  return {};
}

std::string ModuleVersionText() { return TOLVARO_VERSION_TEXT; }

std::string TimeSeparator() { return ":"; }

}  // namespace bank::ExchangeLogPlatform
