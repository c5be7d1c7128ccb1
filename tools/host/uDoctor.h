#pragma once
// The console's connection check: the steps between the driver's Host setting and the bank,
// each with what it found and, when it fails, what to do (in Russian and English).
#include <string>
#include <utility>
#include <vector>

namespace hostconsole {

struct TDoctorField {
  std::wstring Key, Value;
};

struct TDoctorStep {
  TDoctorStep() = default;
  explicit TDoctorStep(std::wstring AName) : Name(std::move(AName)) {}
  std::wstring Name;  // url, proxy, name, tcp, tls, http, clock, bank
  bool Ok = true;
  std::wstring Text;                // what was found, one line
  std::wstring AdviceRu, AdviceEn;  // what to do, when it failed
  std::vector<TDoctorField> Fields;
};

// The parts of a Host URL the driver connects to.
struct TDoctorTarget {
  bool Secure = false;
  std::wstring Host;  // an IPv6 literal without brackets
  unsigned Port = 0;
  std::wstring Path;
};

// Reads Host as the driver's transport does: http or https, a host, a port 1..65535, no user
// name or password. False with the step's failure otherwise.
// A Host URL as the console shows it: its user name and password written as ***@.
std::wstring ShownUrl(const std::wstring& Url);
bool DoctorParseUrl(const std::wstring& Url, TDoctorTarget& Target, TDoctorStep& Step);

// The proxy a named-proxy list (WinHTTP's "host:port" or "http=a:1;https=b:2" form) gives for
// the scheme and host, bypass list considered; empty: go direct.
std::wstring DoctorProxyFor(const std::wstring& ProxyList, const std::wstring& Bypass, bool Secure,
                            const std::wstring& Host);

// The tcp step on its own: a connection to Port at the first of Addresses (numeric, in the
// order given) that takes one, within ABudgetMs for the whole step (15 s in the check).
// AProxy: the addresses are the proxy's.
TDoctorStep DoctorTcpStep(const std::wstring& Host, unsigned Port, const std::vector<std::wstring>& Addresses,
                          bool AProxy, unsigned ABudgetMs);

// Every network step in order, stopping at the first one that leaves the next without ground
// (the clock's failure does not). The steps' failures are the connection's, never the driver's.
// The way is the driver's: its WinHTTP session (bank's OpenWinHttpSession: proxy, TLS
// protocols), and where that session follows a proxy script, the name and tcp steps go to
// the proxy the script gives for the Host URL.
std::vector<TDoctorStep> DoctorNetworkSteps(const std::wstring& Url);

}  // namespace hostconsole
