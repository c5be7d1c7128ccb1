#include "uExchangeLog.h"

#include <atomic>
#include <cstdio>
#include <mutex>

#include "uTextUtils.h"

namespace bank {

namespace {

constexpr std::string_view LevelNames[] = {"INFO", "DEBUG", "ERROR"};
constexpr std::string_view StopBanner = "============Stop log===============\r\n";

std::string TwoDigits(int AValue, int AWidth = 2) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*d", AWidth, AValue);
  return buf;
}

std::string DateText(const ExchangeLogPlatform::TLocalTime& T) {
  return TwoDigits(T.Year, 4) + "." + TwoDigits(T.Month) + "." + TwoDigits(T.Day);
}

// Process-wide state. Its destructor runs when the module unloads: the stop banner then
// goes out if the log is still on.
class TExchangeLogState {
 public:
  // At process exit the system has already killed the other threads; one of them may have
  // died holding a lock, which then stays taken. So unloading never waits for a lock: a busy
  // one costs the stop banner, not a host that hangs on its way out.
  ~TExchangeLogState() {
    try {
      std::unique_lock<std::mutex> guard(FLock, std::try_to_lock);
      if (guard.owns_lock() && FLevel.load() != 0 && FBannerWritten) WriteStopBanner(false);
    } catch (...) {
    }
  }

  std::atomic<int> FLevel{0};
  std::atomic<int> FEncoding{ExchangeLog::EncodingUtf8};
  // Guards the fields below and orders the lines with the banners and the level changes. The
  // file writer's own lock is always taken inside this one, never the other way round.
  std::mutex FLock;
  bool FBannerWritten = false;
  std::string FFileName;
  // The file the lines since the start banner went to: the stop banner closes them there,
  // whatever the name is set to since. Resolving the name again could make the default
  // folder (opened to every user) just to say the log stopped.
  std::string FFileInUse;
  std::function<std::string()> FAppData;

  std::string FileNameLocked(const ExchangeLogPlatform::TLocalTime& ANow) {
    if (ExchangeLogPlatform::IsAbsolutePath(FFileName)) return FFileName;
    const std::string name = ExchangeLogPlatform::BaseName(FFileName.empty() ? ExchangeLogPlatform::ModulePath()
                                                                             : FFileName);
    const std::string appData = FAppData ? FAppData() : ExchangeLogPlatform::SystemCommonAppData();
    if (appData.empty() || name.empty()) return {};
    const char d = ExchangeLogPlatform::PathDelimiter();
    std::string folder = appData;
    if (folder.back() != d && folder.back() != '/') folder += d;
    folder += std::string(ExchangeLog::CompanyFolderName) + d + name + d;
    if (!ExchangeLogPlatform::EnsureSharedFolder(folder)) return {};
    return folder + name + "_" + DateText(ANow) + ".log";
  }

  void WriteRaw(const std::string& AFile, std::string_view ALine, bool AWaitForLock = true) {
    if (AFile.empty()) return;
    std::string bytes(ALine);
    bytes += "\r\n";
    if (FEncoding.load() == ExchangeLog::EncodingAnsi) bytes = ExchangeLogPlatform::ToAnsi(bytes);
    ExchangeLogPlatform::AppendLine(AFile, bytes, AWaitForLock);  // a line that cannot be written is dropped
  }

  void WriteStartBanner(const std::string& AFile) {
    const std::string blanks(40, ' ');
    WriteRaw(AFile, blanks);
    WriteRaw(AFile, "============Start log=============");
    WriteRaw(AFile, "OS version:\t" + ExchangeLog::OSVersionText());
    WriteRaw(AFile, "Application:\t" + ExchangeLog::ModuleFileName());
    WriteRaw(AFile, "App. version:\t" + ExchangeLog::ModuleVersionText());
    WriteRaw(AFile, blanks);
  }

  void WriteStopBanner(bool AWaitForLock = true) {
    WriteRaw(FFileInUse, StopBanner, AWaitForLock);
    FFileInUse.clear();
  }
};

TExchangeLogState& State() {
  static TExchangeLogState S;
  return S;
}
// Created while the module loads, so that the state outlives every caller and its destructor
// runs at unload.
[[maybe_unused]] TExchangeLogState& InitialState = State();

bool LevelSelects(int ALevel, TLogMessageLevel AMessageLevel) {
  switch (ALevel) {
    case 1: return AMessageLevel == lmlError;
    case 2: return AMessageLevel == lmlInfo || AMessageLevel == lmlError;
    case 3: return AMessageLevel >= lmlInfo && AMessageLevel <= lmlError;
    default: return false;
  }
}

}  // namespace

namespace ExchangeLog {

bool Selects(TLogMessageLevel AMessageLevel) noexcept { return LevelSelects(State().FLevel.load(), AMessageLevel); }

void Log(std::string_view ASource, std::string_view AMessage, TLogMessageLevel AMessageLevel) noexcept {
  try {
    TExchangeLogState& s = State();
    if (!LevelSelects(s.FLevel.load(), AMessageLevel)) return;
    const ExchangeLogPlatform::TLocalTime now = ExchangeLogPlatform::Now();
    const std::string colon = ExchangeLogPlatform::TimeSeparator();
    std::string line = DateText(now) + " " + TwoDigits(now.Hour) + colon + TwoDigits(now.Minute) + colon +
                       TwoDigits(now.Second) + "." + TwoDigits(now.Millisecond, 3);
    line += '\t';
    line += LevelNames[AMessageLevel];
    line += '\t';
    line += Trim(ASource);
    if (!AMessage.empty()) {
      line += ": \t";
      line += Trim(AMessage);
    }
    // The line goes out under the lock too, and the level is asked again there: a switch-off
    // between the first look and here has written the stop banner, and neither this line nor
    // a new start banner may follow it.
    std::lock_guard<std::mutex> guard(s.FLock);
    if (!LevelSelects(s.FLevel.load(), AMessageLevel)) return;
    const std::string file = s.FileNameLocked(now);
    if (!s.FBannerWritten) {
      s.WriteStartBanner(file);
      s.FBannerWritten = true;
    }
    s.FFileInUse = file;
    s.WriteRaw(file, line);
  } catch (...) {
    // Out of memory while building the line: the line is dropped.
  }
}

void SetLogLevel(int ALevel) noexcept {
  try {
    TExchangeLogState& s = State();
    std::lock_guard<std::mutex> guard(s.FLock);
    const int old = s.FLevel.exchange(ALevel);
    if (old != 0 && ALevel == 0 && s.FBannerWritten) {
      s.WriteStopBanner();
      s.FBannerWritten = false;
    }
  } catch (...) {
  }
}

int LogLevel() noexcept { return State().FLevel.load(); }

void SetLogEncoding(int AEncoding) noexcept { State().FEncoding.store(AEncoding); }
int LogEncoding() noexcept { return State().FEncoding.load(); }

void SetLogFileName(std::string_view AFileName) {
  TExchangeLogState& s = State();
  std::lock_guard<std::mutex> guard(s.FLock);
  s.FFileName.assign(AFileName);
}

std::string LogFileName() {
  TExchangeLogState& s = State();
  std::lock_guard<std::mutex> guard(s.FLock);
  return s.FFileName;
}

std::string CurrentFileName() {
  TExchangeLogState& s = State();
  std::lock_guard<std::mutex> guard(s.FLock);
  return s.FileNameLocked(ExchangeLogPlatform::Now());
}

void SetCommonAppDataLookup(std::function<std::string()> ALookup) {
  TExchangeLogState& s = State();
  std::lock_guard<std::mutex> guard(s.FLock);
  s.FAppData = std::move(ALookup);
}

std::string OSVersionText() { return ExchangeLogPlatform::OSVersionText(); }

std::string ModuleFileName() {
  const std::string path = ExchangeLogPlatform::ModulePath();
  const size_t cut = path.find_last_of("\\/:");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string ModuleVersionText() { return ExchangeLogPlatform::ModuleVersionText(); }

std::string FormatOSVersion(const TOSVersion& V) {
  std::string name = "Unknown";
  if (V.Available) {
    if (V.Major == 3)
      name = "Windows NT 3";
    else if (V.Major == 4 && V.Minor == 0)
      name = V.NTPlatform ? "Windows NT 4" : "Windows 95";
    else if (V.Major == 4 && V.Minor == 10)
      name = "Windows 98";
    else if (V.Major == 4 && V.Minor == 90)
      name = "Windows ME";
    else if (V.Major == 5 && V.Minor <= 2)
      name = V.Minor == 0 ? "Windows 2000" : V.Minor == 1 ? "Windows XP" : "Windows 2003";
    else if (V.Major == 6 && V.Minor <= 3)
      name = V.Minor == 0 ? "Windows Vista" : V.Minor == 1 ? "Windows 7" : V.Minor == 2 ? "Windows 8.0" : "Windows 8.1";
    else if (V.Major == 10 && V.Minor == 0)
      name = "Windows 10";
  }
  std::string out = name + " ";
  if (!V.ServicePack.empty()) out += V.ServicePack + " ";
  out += "(" + std::to_string(V.Major) + "." + std::to_string(V.Minor) + "." + std::to_string(V.Build) + ")";
  return out;
}

}  // namespace ExchangeLog

}  // namespace bank
