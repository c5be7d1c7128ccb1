#pragma once
// The host console's pieces that need no driver: command-line words, amounts, exit codes,
// the settings file, text output. Kept apart so they read (and are tested) on their own.
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace hostconsole {

// A mistake on the command line or in a file the user gave: a message, exit code 2.
class TUsageError : public std::runtime_error {
public:
  explicit TUsageError(const std::string& Message) : std::runtime_error(Message) {}
};

// Exit codes: 0 success; otherwise the class of what went wrong.
enum TExitCode : int {
  exOK = 0,
  exFailed = 1,       // the operation failed (1001, or any code not below)
  exUsage = 2,        // bad command line or settings file
  exDeviceState = 3,  // the device is not enabled (70), or the settings dialog was cancelled (201)
  exBadRequest = 4,   // the driver refused the input or the command (1003, 1004)
  exNoDriver = 5,     // the driver could not be created or called
  exConnection = 6,   // doctor: the way to the bank failed (address, proxy, name, connection, TLS, HTTP, clock)
};

int ExitCodeOfResult(int32_t ResultCode) noexcept;

// "123.45", "123,45", "123": a positive amount with at most two decimals, in ten-thousandths
// (the host's Currency). Anything else raises TUsageError.
int64_t ParseAmount(const std::wstring& Text);
// Ten-thousandths as "123.45" (two decimals, more when the value has them).
std::wstring FormatAmount(int64_t TenThousandths);

// One command line split into words: blanks separate, double quotes group.
std::vector<std::wstring> SplitWords(const std::wstring& Line);

// "Id=Value"; raises TUsageError without '=' or with an empty Id.
std::pair<std::wstring, std::wstring> ParseAssignment(const std::wstring& Text);

// The settings file: UTF-8 lines "Id=Value", '#' starts a comment line. Kept in the order
// first seen; Ids compare case-insensitively (ASCII), as the driver's do.
class TSettingsFile {
public:
  void Set(const std::wstring& Id, const std::wstring& Value);
  const std::vector<std::pair<std::wstring, std::wstring>>& Items() const { return FItems; }
  void Parse(const std::string& Utf8Text, const std::wstring& Name);  // raises TUsageError
  std::string Format() const;

private:
  std::vector<std::pair<std::wstring, std::wstring>> FItems;
};

std::string Utf8(const std::wstring& Text);
std::wstring Wide(const std::string& Utf8Text);
std::string JsonString(const std::wstring& Text);

// The receipt's lines inside a box of line-drawing characters.
std::wstring Boxed(const std::wstring& Title, const std::wstring& Text);

}  // namespace hostconsole
