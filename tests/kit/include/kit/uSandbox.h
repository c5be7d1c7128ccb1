#pragma once
// Test-side handle on the bank sandbox that the test run started (the ctest fixture of
// cmake/Sandbox.cmake): where it listens, its test CA, and its control interface.
// Talks through bank::DefaultHTTPClientFactory(), the platform's transport.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tolvaro::test {

struct TSandboxRequest {
  std::string Method;
  std::string Path;
  std::vector<std::pair<std::string, std::string>> Headers;  // as the server parsed them, sorted by name
  std::string Body;
  // The first header of that name (ASCII case ignored), or empty.
  std::string Header(const std::string& AName) const;
};

struct TSandboxPayment {
  std::string PaymentId;
  std::string OrderId;
  int64_t Amount = 0;  // minor units
  std::string Status;
  int64_t Refunded = 0;  // minor units
  int Polls = 0;
};

class TSandbox {
 public:
  // Reads the info file named by TOLVARO_SANDBOX; std::runtime_error when there is none.
  TSandbox();
  // Reads the given info file (a path of the running platform).
  explicit TSandbox(const std::string& AInfoFile);

  // The info file's path for the running platform: under Windows, Z: and the Unix path with
  // backslashes.
  static std::string PlatformPath(const std::string& AUnixPath);

  std::string HttpBase() const { return FHttp; }    // http://127.0.0.1:<port>
  std::string Http6Base() const { return FHttp6; }  // http://[::1]:<port>, empty without IPv6
  std::string HttpsBase() const { return FHttps; }  // https://localhost:<port>, empty without HTTPS
  std::string CaPemPath() const { return FCaPem; }  // paths for the running platform
  std::string CaDerPath() const { return FCaDer; }
  int Pid() const { return FPid; }

  // Creates or replaces a terminal (clears its scripts, behaviour, payments and requests).
  void AddTerminal(const std::string& AKey, const std::string& APassword) const;
  // AOutcome: CONFIRMED, REJECTED, CANCELED or NONE.
  void SetBehaviour(const std::string& AKey, const std::string& AOutcome, int AAfterPolls) const;
  void SetPaymentStatus(const std::string& APaymentId, const std::string& AStatus) const;
  // AAnswerJson: the Answer object as JSON text, e.g. {"Kind":"drop"}.
  void Script(const std::string& AKey, const std::string& AOperation, const std::string& AAnswerJson, int ASkip = 0,
              int ATimes = 1) const;
  std::vector<TSandboxRequest> Requests(const std::string& AKey) const;
  std::vector<TSandboxPayment> Payments(const std::string& AKey) const;

  // A terminal key no other test program uses at the same time (prefix + process id + counter).
  static std::string UniqueKey(const std::string& APrefix);

 private:
  // One control call; the answer body. std::runtime_error on any failure.
  std::string Control(const std::string& AMethod, const std::string& APath, const std::string& ABody) const;

  std::string FHttp, FHttp6, FHttps, FCaPem, FCaDer;
  int FPid = 0;
};

}  // namespace tolvaro::test
