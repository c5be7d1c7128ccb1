// The exchange log read back from its file: banners, levels, line format, encodings, the
// default path, dropped lines, concurrent writers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <random>
#include <regex>
#include <set>
#include <thread>

#include "kit/LogFileKit.h"
#include "uExchangeLog.h"

#if defined(_WIN32)
#include <windows.h>
#endif

using namespace bank;
using logkit::ReadLines;

namespace {

const std::string Blanks40(40, ' ');
const std::regex Stamp(R"(\d{4}\.\d{2}\.\d{2} \d{2}:\d{2}:\d{2}\.\d{3})");

// What the banner must say of the system and this program, read here without the log's own
// functions: the system's version as this program is told it (named by FormatOSVersion, whose
// table is pinned below), the program's file name, and its version resource.
struct TBannerFacts {
  std::string OS, Application, Version;
};

TBannerFacts ReadBannerFacts() {
  TBannerFacts f;
#if defined(_WIN32)
  OSVERSIONINFOEXW info{};
  info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info));
#pragma GCC diagnostic pop
  std::string servicePack;
  for (const wchar_t* c = info.szCSDVersion; *c; ++c) servicePack += static_cast<char>(*c);
  f.OS = ExchangeLog::FormatOSVersion({true, info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber,
                                       info.dwPlatformId == VER_PLATFORM_WIN32_NT, servicePack});
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  f.Application = std::filesystem::path(path).filename().string();
  DWORD handle = 0;
  std::string data(GetFileVersionInfoSizeA(path, &handle), '\0');
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT size = 0;
  if (!data.empty() && GetFileVersionInfoA(path, 0, static_cast<DWORD>(data.size()), data.data()) &&
      VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &size) && fixed)
    f.Version = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionMS)) +
                "." + std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionLS));
  else
    f.Version = "0.0.0.0";
#else
  f.OS = ExchangeLog::OSVersionText();  // no Windows version to read natively
  f.Application = std::filesystem::read_symlink("/proc/self/exe").filename().string();
  f.Version = ExchangeLog::ModuleVersionText();
#endif
  return f;
}

// The six banner lines at AAt.
void ExpectStartBanner(const std::vector<std::string>& ALines, size_t AAt) {
  static const TBannerFacts facts = ReadBannerFacts();
  ASSERT_GE(ALines.size(), AAt + 6);
  EXPECT_EQ(ALines[AAt], Blanks40);
  EXPECT_EQ(ALines[AAt + 1], "============Start log=============");
  EXPECT_EQ(ALines[AAt + 2], "OS version:\t" + facts.OS);
  EXPECT_EQ(ALines[AAt + 3], "Application:\t" + facts.Application);
  EXPECT_EQ(ALines[AAt + 4], "App. version:\t" + facts.Version);
  EXPECT_EQ(ALines[AAt + 5], Blanks40);
}

// The line's text after its time stamp.
std::string Body(const std::string& ALine) {
  std::smatch m;
  if (!std::regex_search(ALine, m, Stamp) || m.position(0) != 0) return "no time stamp: " + ALine;
  return ALine.substr(m.length(0));
}

// The names directly in AFolder.
std::set<std::filesystem::path> Entries(const std::filesystem::path& AFolder) {
  std::set<std::filesystem::path> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(AFolder, ec)) names.insert(e.path().filename());
  return names;
}

// A file under AFolder (at any depth) whose bytes hold AText, or "".
std::string FileWith(const std::filesystem::path& AFolder, const std::string& AText) {
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(AFolder, ec); !ec && it != std::filesystem::recursive_directory_iterator();
       it.increment(ec)) {
    if (it->is_regular_file(ec) && logkit::ReadBytes(it->path()).find(AText) != std::string::npos)
      return logkit::PathText(it->path());
  }
  return {};
}

using ExchangeLogFile = logkit::ExchangeLogTest;

TEST_F(ExchangeLogFile, BannerOncePerSwitchOnAndStopBannerWithItsEmptyLine) {
  ExchangeLog::Log("TDevice", "first", lmlDebug);  // off: nothing
  EXPECT_FALSE(std::filesystem::exists(File));

  ExchangeLog::SetLogLevel(3);
  ExchangeLog::Log(" TDevice\t", "  > POST x\r\n", lmlDebug);
  ExchangeLog::Log("TDevice", "", lmlInfo);
  ExchangeLog::Log("TDevice", "bad", lmlError);
  ExchangeLog::SetLogLevel(3);  // still on: no new banner
  ExchangeLog::Log("TDevice", "again", lmlDebug);
  ExchangeLog::SetLogLevel(0);
  ExchangeLog::SetLogLevel(0);  // 0 to 0: nothing
  ExchangeLog::SetLogLevel(3);
  ExchangeLog::Log("TDevice", "next", lmlDebug);
  ExchangeLog::SetLogLevel(0);

  const auto lines = ReadLines(File);
  ASSERT_EQ(lines.size(), 6u + 4u + 2u + 6u + 1u + 2u) << logkit::ReadBytes(File);
  ExpectStartBanner(lines, 0);
  EXPECT_EQ(Body(lines[6]), "\tDEBUG\tTDevice: \t> POST x");  // source and message trimmed
  EXPECT_EQ(Body(lines[7]), "\tINFO\tTDevice");               // empty message: nothing after the source
  EXPECT_EQ(Body(lines[8]), "\tERROR\tTDevice: \tbad");
  EXPECT_EQ(Body(lines[9]), "\tDEBUG\tTDevice: \tagain");
  EXPECT_EQ(lines[10], "============Stop log===============");
  EXPECT_EQ(lines[11], "");
  ExpectStartBanner(lines, 12);
  EXPECT_EQ(Body(lines[18]), "\tDEBUG\tTDevice: \tnext");
  EXPECT_EQ(lines[19], "============Stop log===============");
  EXPECT_EQ(lines[20], "");
}

TEST_F(ExchangeLogFile, LevelsSelectLinesAndTheBannerComesOnlyWithALine) {
  struct TCase {
    int Level;
    std::vector<std::string> Expected;  // level names written, in order
  };
  for (const auto& c : std::vector<TCase>{{1, {"ERROR"}},
                                          {2, {"INFO", "ERROR"}},
                                          {3, {"INFO", "DEBUG", "ERROR"}},
                                          {7, {}},
                                          {-1, {}}}) {
    SCOPED_TRACE(c.Level);
    std::filesystem::remove(File);
    ExchangeLog::SetLogLevel(c.Level);
    ExchangeLog::Log("S", "m", lmlInfo);
    ExchangeLog::Log("S", "m", lmlDebug);
    ExchangeLog::Log("S", "m", lmlError);
    ExchangeLog::SetLogLevel(0);
    const auto lines = ReadLines(File);
    if (c.Expected.empty()) {
      EXPECT_FALSE(std::filesystem::exists(File));
      continue;
    }
    ASSERT_EQ(lines.size(), 6 + c.Expected.size() + 2);
    for (size_t i = 0; i < c.Expected.size(); ++i) EXPECT_EQ(Body(lines[6 + i]), "\t" + c.Expected[i] + "\tS: \tm");
  }
  // Level 2 and only DEBUG lines: no banner either.
  std::filesystem::remove(File);
  ExchangeLog::SetLogLevel(2);
  ExchangeLog::Log("TDevice", "m", lmlDebug);
  ExchangeLog::SetLogLevel(0);
  EXPECT_FALSE(std::filesystem::exists(File));
}

TEST_F(ExchangeLogFile, Utf8WithoutByteOrderMark) {
  ExchangeLog::SetLogLevel(3);
  ExchangeLog::Log("TDevice", "Ответ", lmlDebug);
  ExchangeLog::SetLogLevel(0);
  const std::string bytes = logkit::ReadBytes(File);
  EXPECT_EQ(bytes.substr(0, 3), Blanks40.substr(0, 3));
  EXPECT_NE(bytes.find("TDevice: \t\xD0\x9E\xD1\x82\xD0\xB2\xD0\xB5\xD1\x82\r\n"), std::string::npos);
}

#if defined(_WIN32)
// The user's time separator, as the debug log in the same file writes it. The setting is the
// prefix's: this program runs alone (RUN_SERIAL), and puts the old one back.
TEST_F(ExchangeLogFile, TheTimeHasTheUsersSeparator) {
  wchar_t saved[8] = {};
  ASSERT_GT(GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIME, saved, 8), 0);
  ASSERT_TRUE(SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIME, L"."));
  struct TRestore {
    const wchar_t* Old;
    ~TRestore() { SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIME, Old); }
  } restore{saved};
  ExchangeLog::SetLogLevel(3);
  ExchangeLog::Log("TDevice", "dotted", lmlDebug);
  ExchangeLog::SetLogLevel(0);
  const auto lines = ReadLines(File);
  ASSERT_GE(lines.size(), 7u);
  EXPECT_TRUE(std::regex_match(lines[6], std::regex(R"(\d{4}\.\d{2}\.\d{2} \d{2}\.\d{2}\.\d{2}\.\d{3}\tDEBUG\tTDevice: \tdotted)")))
      << lines[6];
}
#endif

TEST_F(ExchangeLogFile, LineInAMissingFolderIsDroppedQuietly) {
  const auto missing = Dir / "no such folder" / "x.log";
  ExchangeLog::SetLogFileName(logkit::PathText(missing));
  ExchangeLog::SetLogLevel(3);
  ExchangeLog::Log("TDevice", "lost", lmlDebug);
  ExchangeLog::SetLogLevel(0);
  EXPECT_FALSE(std::filesystem::exists(missing.parent_path()));  // an absolute path's folder is not made
}

// Switching off closes the lines where they went. A name set in between (cleared, as an
// Enable with the log off does, or another file) is not resolved for the banner: the default
// name would make the default folder, opened to every user, only to say the log stopped.
TEST_F(ExchangeLogFile, TheStopBannerGoesToTheFileInUseAndMakesNoFolder) {
  const std::string appData = logkit::PathText(Dir / "appdata");
  ExchangeLog::SetCommonAppDataLookup([appData] { return appData; });
  const auto other = Dir / "other.log";
  for (const std::string& renamed : {std::string(), logkit::PathText(other)}) {
    SCOPED_TRACE("renamed to '" + renamed + "'");
    std::filesystem::remove(File);
    ExchangeLog::SetLogFileName(logkit::PathText(File));
    ExchangeLog::SetLogLevel(3);
    ExchangeLog::Log("TDevice", "in use", lmlDebug);
    ExchangeLog::SetLogFileName(renamed);
    ExchangeLog::SetLogLevel(0);
    const auto lines = ReadLines(File);
    ASSERT_EQ(lines.size(), 6u + 1u + 2u);
    EXPECT_EQ(lines[7], "============Stop log===============");
    EXPECT_FALSE(std::filesystem::exists(Dir / "appdata"));
    EXPECT_FALSE(std::filesystem::exists(other));
  }
  // The file in use gone with its folder: the banner is dropped and the folder stays gone.
  const auto gone = Dir / "gone" / "Debug.log";
  std::filesystem::create_directories(gone.parent_path());
  ExchangeLog::SetLogFileName(logkit::PathText(gone));
  ExchangeLog::SetLogLevel(3);
  ExchangeLog::Log("TDevice", "then removed", lmlDebug);
  std::filesystem::remove_all(gone.parent_path());
  ExchangeLog::SetLogFileName("");
  ExchangeLog::SetLogLevel(0);
  EXPECT_FALSE(std::filesystem::exists(gone.parent_path()));
  EXPECT_FALSE(std::filesystem::exists(Dir / "appdata"));
}

TEST_F(ExchangeLogFile, DefaultPathUnderCommonAppDataAndCompanyFolder) {
  const std::string appData = logkit::PathText(Dir / "appdata");
  ExchangeLog::SetCommonAppDataLookup([appData] { return appData; });
  struct TCase {
    std::string Set, Name;
  };
  const std::string module = ExchangeLog::ModuleFileName();
  const std::string moduleBase = module.substr(0, module.find_last_of('.'));
  for (const auto& c : std::vector<TCase>{{"", moduleBase}, {"exchange.txt", "exchange"}}) {
    SCOPED_TRACE(c.Set);
    ExchangeLog::SetLogFileName(c.Set);
    ExchangeLog::SetLogLevel(3);
    ExchangeLog::Log("TDevice", "here", lmlDebug);
    ExchangeLog::SetLogLevel(0);
    const auto folder = Dir / "appdata" / "Quorvel" / c.Name;
    ASSERT_TRUE(std::filesystem::is_directory(folder));
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(folder)) files.push_back(e.path());
    ASSERT_EQ(files.size(), 1u);
    const std::string name = logkit::PathText(files[0].filename());
    EXPECT_TRUE(std::regex_match(name, std::regex(c.Name + R"(_\d{4}\.\d{2}\.\d{2}\.log)"))) << name;
    EXPECT_EQ(ExchangeLog::CurrentFileName(), logkit::PathText(files[0]));
    const auto lines = ReadLines(files[0]);
    ASSERT_EQ(lines.size(), 6u + 1u + 2u);
    EXPECT_EQ(Body(lines[6]), "\tDEBUG\tTDevice: \there");
  }
  // No application-data folder at all: no default file, the line is dropped, and it lands in
  // no file a fallback could reach: the current folder, this test's folder, the system's
  // application data.
  ExchangeLog::SetCommonAppDataLookup([] { return std::string(); });
  ExchangeLog::SetLogFileName("");
  EXPECT_EQ(ExchangeLog::CurrentFileName(), "");
  const std::filesystem::path cwd = std::filesystem::current_path();
  const std::set<std::filesystem::path> before = Entries(cwd);
  const std::string marker = "nowhere-" + std::to_string(std::random_device{}());  // in no file before
  ExchangeLog::SetLogLevel(3);
  ExchangeLog::Log("TDevice", marker, lmlDebug);
  ExchangeLog::SetLogLevel(0);
  EXPECT_EQ(Entries(cwd), before);
  EXPECT_EQ(FileWith(cwd / ExchangeLog::CompanyFolderName, marker), "");  // a relative default folder
  EXPECT_EQ(FileWith(Dir, marker), "");
  const std::string system = ExchangeLogPlatform::SystemCommonAppData();
  if (!system.empty()) {
    EXPECT_EQ(FileWith(std::filesystem::path(system) / ExchangeLog::CompanyFolderName, marker), "");
  }
}

TEST_F(ExchangeLogFile, ConcurrentWritersNeverInterleaveWithinALine) {
  constexpr int Threads = 8, Lines = 200;
  ExchangeLog::SetLogLevel(3);
  std::vector<std::thread> writers;
  for (int t = 0; t < Threads; ++t)
    writers.emplace_back([t] {
      for (int i = 0; i < Lines; ++i)
        ExchangeLog::Log("TDevice", "T" + std::to_string(t) + "#" + std::to_string(i) + ":" +
                                        std::string(300 + 37 * t, static_cast<char>('a' + t)),
                         lmlDebug);
    });
  for (auto& w : writers) w.join();
  ExchangeLog::SetLogLevel(0);
  const auto lines = ReadLines(File);
  ASSERT_EQ(lines.size(), 6u + Threads * Lines + 2u);
  ExpectStartBanner(lines, 0);  // exactly one banner, ahead of every line
  std::set<std::string> seen;
  const std::regex line(R"(\tDEBUG\tTDevice: \tT(\d)#(\d+):([a-h]+))");
  for (size_t i = 6; i < 6 + Threads * Lines; ++i) {
    std::smatch m;
    const std::string body = Body(lines[i]);
    ASSERT_TRUE(std::regex_match(body, m, line)) << lines[i].substr(0, 80);
    const int t = std::stoi(m[1]);
    EXPECT_EQ(m[3].str(), std::string(300 + 37 * t, static_cast<char>('a' + t)));
    seen.insert(m[1].str() + "#" + m[2].str());
  }
  EXPECT_EQ(seen.size(), static_cast<size_t>(Threads * Lines));
}

// The payment wait logs while the host switches the log off and on: every line lies between
// a start banner and its stop banner, and the log ends closed.
TEST_F(ExchangeLogFile, SwitchingOffWhileThreadsWriteKeepsLinesInsideTheirBanners) {
  constexpr int Writers = 3, Switches = 100;
  std::atomic<bool> stop{false};
  std::atomic<long> calls{0};
  std::vector<std::thread> writers;
  for (int t = 0; t < Writers; ++t)
    writers.emplace_back([&stop, &calls] {
      while (!stop.load()) {
        ExchangeLog::Log("TDevice", "poll", lmlDebug);
        ++calls;
      }
    });
  for (int i = 0; i < Switches; ++i) {
    ExchangeLog::SetLogLevel(3);
    // However busy the machine, some call begins and ends while the log is on: more calls
    // end than there are writers, so at least one began after the switch-on.
    const long base = calls.load();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (calls.load() <= base + Writers && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    ExchangeLog::SetLogLevel(0);
  }
  stop = true;
  for (auto& w : writers) w.join();

  const auto lines = ReadLines(File);
  bool on = false;
  int banners = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    SCOPED_TRACE("line " + std::to_string(i));
    if (lines[i] == "============Start log=============") {
      ASSERT_FALSE(on) << "a start banner while the log is open";
      on = true;
      ++banners;
    } else if (lines[i] == "============Stop log===============") {
      ASSERT_TRUE(on) << "a stop banner without a start banner";
      on = false;
    } else if (std::regex_search(lines[i], Stamp)) {
      ASSERT_TRUE(on) << "a line outside its banners: " << lines[i];
    }
  }
  EXPECT_FALSE(on) << "the log ends without its stop banner";
  EXPECT_GT(banners, 0);
}

// The process ends with the log on: the module's unload writes the stop banner.
TEST(ExchangeLogUnload, StopBannerWhenTheModuleUnloadsWhileOn) {
  // A death test's child may run this body again in a new process (Windows): it keeps the
  // parent's file, found through the environment.
  if (std::getenv("TOLVARO_XLOG_UNLOAD_FILE") == nullptr) {
    const auto name = std::filesystem::temp_directory_path() /
                      ("tolvaro-xlog-unload-" + std::to_string(logkit::ExchangeLogTest::Pid()) + ".log");
#if defined(_WIN32)
    _putenv_s("TOLVARO_XLOG_UNLOAD_FILE", logkit::PathText(name).c_str());
#else
    setenv("TOLVARO_XLOG_UNLOAD_FILE", logkit::PathText(name).c_str(), 1);
#endif
  }
  const std::filesystem::path file = std::filesystem::u8path(std::getenv("TOLVARO_XLOG_UNLOAD_FILE"));
  std::filesystem::remove(file);
  EXPECT_EXIT(
      {
        ExchangeLog::SetLogFileName(std::getenv("TOLVARO_XLOG_UNLOAD_FILE"));
        ExchangeLog::SetLogLevel(3);
        ExchangeLog::Log("TDevice", "last", lmlDebug);
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
  const auto lines = ReadLines(file);
  std::filesystem::remove(file);
  ASSERT_EQ(lines.size(), 6u + 1u + 2u);
  EXPECT_EQ(Body(lines[6]), "\tDEBUG\tTDevice: \tlast");
  EXPECT_EQ(lines[7], "============Stop log===============");
  EXPECT_EQ(lines[8], "");
}

TEST(ExchangeLogBanner, SystemNamesByVersion) {
  struct TCase {
    ExchangeLog::TOSVersion V;
    std::string Expected;
  };
  const auto v = [](uint32_t AMajor, uint32_t AMinor, uint32_t ABuild, bool ANT = true, std::string ASP = "") {
    return ExchangeLog::TOSVersion{true, AMajor, AMinor, ABuild, ANT, ASP};
  };
  for (const auto& c : std::vector<TCase>{
           {v(3, 51, 1057), "Windows NT 3 (3.51.1057)"},
           {v(4, 0, 1381, true, "Service Pack 6"), "Windows NT 4 Service Pack 6 (4.0.1381)"},
           {v(4, 0, 950, false), "Windows 95 (4.0.950)"},
           {v(4, 10, 2222, false), "Windows 98 (4.10.2222)"},
           {v(4, 90, 3000, false), "Windows ME (4.90.3000)"},
           {v(5, 0, 2195), "Windows 2000 (5.0.2195)"},
           {v(5, 1, 2600, true, "Service Pack 3"), "Windows XP Service Pack 3 (5.1.2600)"},
           {v(5, 2, 3790), "Windows 2003 (5.2.3790)"},
           {v(6, 0, 6002), "Windows Vista (6.0.6002)"},
           {v(6, 1, 7601, true, "Service Pack 1"), "Windows 7 Service Pack 1 (6.1.7601)"},
           {v(6, 2, 9200), "Windows 8.0 (6.2.9200)"},
           {v(6, 3, 9600), "Windows 8.1 (6.3.9600)"},
           {v(10, 0, 19045), "Windows 10 (10.0.19045)"},
           {v(4, 20, 1), "Unknown (4.20.1)"},
           {v(6, 4, 1), "Unknown (6.4.1)"},
           {v(11, 0, 1), "Unknown (11.0.1)"},
           {ExchangeLog::TOSVersion{}, "Unknown (0.0.0)"}})
    EXPECT_EQ(ExchangeLog::FormatOSVersion(c.V), c.Expected);
  EXPECT_TRUE(std::regex_match(ExchangeLog::ModuleVersionText(), std::regex(R"(\d+\.\d+\.\d+\.\d+)")));
#if defined(_WIN32)
  // Wine reports a Windows version from the table.
  EXPECT_TRUE(std::regex_match(ExchangeLog::OSVersionText(), std::regex(R"(Windows [^ ]+.* \(\d+\.\d+\.\d+\))")))
      << ExchangeLog::OSVersionText();
  EXPECT_EQ(ExchangeLog::ModuleFileName(), "bank_device_tests.exe");
#endif
}

#if defined(_WIN32)
TEST_F(ExchangeLogFile, AnsiIsTheSystemCodePageAndUtf8IsNot) {
  ASSERT_EQ(GetACP(), 1251u) << "the Windows tests run with the Russian locale";
  ExchangeLog::SetLogLevel(3);
  ExchangeLog::SetLogEncoding(ExchangeLog::EncodingAnsi);
  ExchangeLog::Log("TDevice", "Ответ €", lmlDebug);
  ExchangeLog::SetLogEncoding(2);  // unknown: UTF-8
  ExchangeLog::Log("TDevice", "Ответ", lmlDebug);
  ExchangeLog::SetLogEncoding(ExchangeLog::EncodingUtf8);
  ExchangeLog::Log("TDevice", "Ответ", lmlDebug);
  ExchangeLog::SetLogLevel(0);
  const auto lines = ReadLines(File);
  ASSERT_EQ(lines.size(), 6u + 3u + 2u);
  EXPECT_EQ(Body(lines[6]), "\tDEBUG\tTDevice: \t\xCE\xF2\xE2\xE5\xF2 \x88");  // cp1251, the euro sign is 0x88
  EXPECT_EQ(Body(lines[7]), "\tDEBUG\tTDevice: \t\xD0\x9E\xD1\x82\xD0\xB2\xD0\xB5\xD1\x82");
  EXPECT_EQ(Body(lines[8]), "\tDEBUG\tTDevice: \t\xD0\x9E\xD1\x82\xD0\xB2\xD0\xB5\xD1\x82");
}

TEST_F(ExchangeLogFile, LineForAFileHeldByAnotherWriterIsDroppedAfterRetries) {
  ExchangeLog::SetLogLevel(3);
  ExchangeLog::Log("TDevice", "before", lmlDebug);
  {
    HANDLE held = CreateFileW(File.wstring().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    ExchangeLog::Log("TDevice", "while held", lmlDebug);  // returns: the line is dropped
    CloseHandle(held);
  }
  ExchangeLog::Log("TDevice", "after", lmlDebug);
  ExchangeLog::SetLogLevel(0);
  const auto lines = ReadLines(File);
  ASSERT_EQ(lines.size(), 6u + 2u + 2u);
  EXPECT_EQ(Body(lines[6]), "\tDEBUG\tTDevice: \tbefore");
  EXPECT_EQ(Body(lines[7]), "\tDEBUG\tTDevice: \tafter");
}
#endif

}  // namespace
