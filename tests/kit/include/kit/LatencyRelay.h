#pragma once
// TLatencyRelay: the test-side handle on a latency relay (tools/sandbox/latency_relay.cpp) that
// a fixture or ./run bench started: where it listens, its one-way delay, and its control line,
// which counts the connections it relayed, closes them and makes new ones drip on demand.
// Both trees. Failures throw
// std::runtime_error with the reason.
#include <map>
#include <string>

namespace tolvaro::test {

class TLatencyRelay {
public:
  // Reads the relay's info file named by the environment variable InfoVariable.
  explicit TLatencyRelay(const char* InfoVariable);

  const std::string& Port() const noexcept { return FPort; }
  int DelayMs() const noexcept { return FDelayMs; }

  // accepted=, open=, client_closed=, dropped= as numbers (accepted and open always there).
  std::map<std::string, long> Stats() const;
  long Accepted() const { return Stats().at("accepted"); }
  // Closes every connection the relay holds, at once; the answer's count of them.
  long Drop() const;
  // The connections accepted from now on pass the server's bytes one every AMs milliseconds:
  // all of them, or (AAnswerOnly) those after the client's request, past the TLS handshake.
  // AMs 0: no more dripping for new connections.
  void Drip(int AMs, bool AAnswerOnly = false) const;

private:
  std::string Command(const std::string& Text) const;

  std::string FPort;
  int FDelayMs = -1;
  unsigned short FControlPort = 0;
};

}  // namespace tolvaro::test
