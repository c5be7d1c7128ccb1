#pragma once
// HOST:PORT on the sandbox's and the relay's command lines: IPv4 or a name as it stands, IPv6 in
// brackets ([::1]:0), the port a decimal number from 0 to 65535.
#include <optional>
#include <string>

namespace sandbox {

struct Endpoint {
  std::string Host;  // without brackets
  int Port = 0;
  std::string Text() const {
    return (Host.find(':') != std::string::npos ? "[" + Host + "]" : Host) + ":" + std::to_string(Port);
  }
};

inline std::optional<Endpoint> ParseEndpoint(const std::string& s) {
  Endpoint e;
  std::string port;
  if (!s.empty() && s[0] == '[') {
    const size_t close = s.find(']');
    if (close == std::string::npos || close + 1 >= s.size() || s[close + 1] != ':') return std::nullopt;
    e.Host = s.substr(1, close - 1);
    port = s.substr(close + 2);
  } else {
    const size_t colon = s.rfind(':');
    if (colon == std::string::npos || colon == 0) return std::nullopt;
    e.Host = s.substr(0, colon);
    port = s.substr(colon + 1);
    if (e.Host.find(':') != std::string::npos) return std::nullopt;  // IPv6 needs brackets
  }
  if (e.Host.empty() || port.empty() || port.size() > 9) return std::nullopt;
  int value = 0;
  for (const char c : port) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value > 65535) return std::nullopt;
  e.Port = value;
  return e;
}

}  // namespace sandbox
