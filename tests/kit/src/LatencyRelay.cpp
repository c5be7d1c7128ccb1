#include "kit/LatencyRelay.h"

#if defined(_WIN32)
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "kit/uSandbox.h"

namespace tolvaro::test {

TLatencyRelay::TLatencyRelay(const char* InfoVariable) {
  const char* info = std::getenv(InfoVariable);
  if (!info) throw std::runtime_error(std::string(InfoVariable) + " is not set (the relay's fixture or ./run bench sets it)");
  std::ifstream in(TSandbox::PlatformPath(info));
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("port=", 0) == 0) FPort = line.substr(5);
    if (line.rfind("delay_ms=", 0) == 0) FDelayMs = std::stoi(line.substr(9));
    if (line.rfind("control=", 0) == 0)
      FControlPort = static_cast<unsigned short>(std::stoi(line.substr(line.rfind(':') + 1)));
  }
  if (FPort.empty() || FControlPort == 0) throw std::runtime_error(std::string("no port in the relay's info file ") + info);
#if defined(_WIN32)
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  if (!started) throw std::runtime_error("WSAStartup failed");
#endif
}

std::map<std::string, long> TLatencyRelay::Stats() const {
  std::map<std::string, long> out;
  std::istringstream words(Command("stats"));
  for (std::string w; words >> w;)
    if (const size_t eq = w.find('='); eq != std::string::npos) out[w.substr(0, eq)] = std::stol(w.substr(eq + 1));
  if (!out.count("accepted") || !out.count("open")) throw std::runtime_error("the relay's stats could not be read");
  return out;
}

long TLatencyRelay::Drop() const {
  const std::string answer = Command("drop");
  if (answer.rfind("dropped=", 0) != 0) throw std::runtime_error("the relay answered drop with " + answer);
  return std::stol(answer.substr(8));
}

void TLatencyRelay::Drip(int AMs, bool AAnswerOnly) const {
  const std::string command =
      AMs > 0 ? "drip " + std::to_string(AMs) + (AAnswerOnly ? " answer" : "") : std::string("drip off");
  const std::string answer = Command(command);
  if (answer.rfind("drip=", 0) != 0) throw std::runtime_error("the relay answered " + command + " with " + answer);
}

std::string TLatencyRelay::Command(const std::string& Text) const {
#if defined(_WIN32)
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) throw std::runtime_error("socket failed");
  DWORD wait = 10000;  // bounded: a relay that does not answer fails the caller
#else
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  if (s < 0) throw std::runtime_error("socket failed");
  timeval wait{10, 0};  // bounded: a relay that does not answer fails the caller
  const auto closesocket = [](int AFd) { close(AFd); };
#endif
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&wait), sizeof wait);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(FControlPort);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  if (connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
    const std::string line = Text + "\n";
    send(s, line.data(), static_cast<int>(line.size()), 0);
    char buf[256];
    for (int n; (n = recv(s, buf, sizeof buf, 0)) > 0;) answer.append(buf, static_cast<size_t>(n));
  }
  closesocket(s);
  if (answer.empty()) throw std::runtime_error("the relay's control line did not answer " + Text);
  return answer;
}

}  // namespace tolvaro::test
