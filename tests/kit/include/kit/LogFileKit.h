#pragma once
// Shared by the tests that read the exchange log back: a scratch folder per test, the file's
// lines, and the log switched off and pointed nowhere again afterwards.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "uExchangeLog.h"

namespace logkit {

inline std::string ReadBytes(const std::filesystem::path& AFile) {
  std::ifstream in(AFile, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Lines split at CR LF (the last, empty piece after the final CR LF is dropped).
inline std::vector<std::string> ReadLines(const std::filesystem::path& AFile) {
  const std::string bytes = ReadBytes(AFile);
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < bytes.size()) {
    const size_t end = bytes.find("\r\n", at);
    if (end == std::string::npos) {
      lines.push_back(bytes.substr(at));
      break;
    }
    lines.push_back(bytes.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

inline std::string PathText(const std::filesystem::path& APath) {
  const auto u8 = APath.u8string();
  return std::string(u8.begin(), u8.end());
}

class ExchangeLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    Dir = std::filesystem::temp_directory_path() /
          ("tolvaro-xlog-" + std::to_string(Pid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(Dir);
    std::filesystem::create_directories(Dir);
    File = Dir / "Debug_test.log";
    bank::ExchangeLog::SetLogLevel(0);
    bank::ExchangeLog::SetLogEncoding(bank::ExchangeLog::EncodingUtf8);
    bank::ExchangeLog::SetLogFileName(PathText(File));
  }
  void TearDown() override {
    bank::ExchangeLog::SetLogLevel(0);
    bank::ExchangeLog::SetLogFileName("");
    bank::ExchangeLog::SetCommonAppDataLookup(nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(Dir, ignored);
  }

 public:
  static long Pid();

 protected:
  std::filesystem::path Dir, File;
};

}  // namespace logkit

#if defined(_WIN32)
#include <windows.h>
inline long logkit::ExchangeLogTest::Pid() { return static_cast<long>(GetCurrentProcessId()); }
#else
#include <unistd.h>
inline long logkit::ExchangeLogTest::Pid() { return static_cast<long>(getpid()); }
#endif
