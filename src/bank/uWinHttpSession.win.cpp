// The WinHTTP session opener shared by the transport and the console's connection check, and
// the Windows version the TLS choice reads.
#include <windows.h>
#include <winhttp.h>

#include <functional>
#include <utility>

#include "uHTTPClient.h"
#include "uWinHttpSession.h"

namespace bank {

namespace {

constexpr wchar_t kAgent[] = L"Tolvaro/1.0";

// Owns the strings WinHttpGetIEProxyConfigForCurrentUser hands out.
struct TUserProxyConfig {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG Data{};
  TUserProxyConfig() = default;
  TUserProxyConfig(const TUserProxyConfig&) = delete;
  TUserProxyConfig& operator=(const TUserProxyConfig&) = delete;
  ~TUserProxyConfig() {
    if (Data.lpszAutoConfigUrl) GlobalFree(Data.lpszAutoConfigUrl);
    if (Data.lpszProxy) GlobalFree(Data.lpszProxy);
    if (Data.lpszProxyBypass) GlobalFree(Data.lpszProxyBypass);
  }
};

std::function<std::pair<unsigned, unsigned>()>& VersionLookup() {
  static std::function<std::pair<unsigned, unsigned>()> lookup;
  return lookup;
}

std::pair<unsigned, unsigned> SystemWindowsVersion() {
  static const std::pair<unsigned, unsigned> version = [] {
    using TRtlGetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto get = ntdll ? reinterpret_cast<TRtlGetVersion>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")))
                           : nullptr;
    if (!get || get(&info) != 0) return std::pair<unsigned, unsigned>(10, 0);  // not known: leave the defaults
    return std::pair<unsigned, unsigned>(info.dwMajorVersion, info.dwMinorVersion);
  }();
  return version;
}

}  // namespace

unsigned long WinHttpSecureProtocolsFor(unsigned AMajor, unsigned AMinor) noexcept {
  const bool before81 = AMajor < 6 || (AMajor == 6 && AMinor < 3);
  return before81 ? WINHTTP_FLAG_SECURE_PROTOCOL_TLS1 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_1 |
                        WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2
                  : 0;
}

void SetWindowsVersionLookup(std::function<std::pair<unsigned, unsigned>()> ALookup) {
  VersionLookup() = std::move(ALookup);
}

unsigned long WinHttpSecureProtocols() {
  const auto [major, minor] = VersionLookup() ? VersionLookup()() : SystemWindowsVersion();
  return WinHttpSecureProtocolsFor(major, minor);
}

TWinHttpUserProxy WinHttpUserProxy() {
  TWinHttpUserProxy out;
  TUserProxyConfig ie;
  if (!WinHttpGetIEProxyConfigForCurrentUser(&ie.Data)) return out;
  out.Read = true;
  out.AutoDetect = ie.Data.fAutoDetect != FALSE;
  if (ie.Data.lpszAutoConfigUrl) out.AutoConfigUrl = ie.Data.lpszAutoConfigUrl;
  if (ie.Data.lpszProxy) out.Proxy = ie.Data.lpszProxy;
  if (ie.Data.lpszProxyBypass) out.Bypass = ie.Data.lpszProxyBypass;
  return out;
}

void* OpenWinHttpSession(TWinHttpSessionInfo* AInfo, unsigned long AFlags) {
  TWinHttpSessionInfo info;
  HINTERNET session =
      WinHttpOpen(kAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, AFlags);
  if (session) {
    info.Mode = TWinHttpProxyMode::Automatic;
  } else {
    // Before Windows 8.1 the automatic mode is refused: the user's named proxy, else none.
    // A proxy script or auto-detection of the user's settings is not followed there.
    const TWinHttpUserProxy user = WinHttpUserProxy();
    if (!user.Proxy.empty()) {
      session = WinHttpOpen(kAgent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, user.Proxy.c_str(),
                            user.Bypass.empty() ? WINHTTP_NO_PROXY_BYPASS : user.Bypass.c_str(), AFlags);
      if (session) {
        info.Mode = TWinHttpProxyMode::Named;
        info.Proxy = user.Proxy;
        info.Bypass = user.Bypass;
      }
    }
    if (!session) {
      session = WinHttpOpen(kAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, AFlags);
      info.Mode = TWinHttpProxyMode::None;
    }
  }
  if (!session) return nullptr;  // WinHttpOpen's error stays the thread's last error
  // WinHTTP on Windows 7 and 8.0 offers TLS 1.0 at most unless asked for more. Where the option
  // is refused the defaults stay: the handshake then tells whether the bank accepts them.
  DWORD protocols = WinHttpSecureProtocols();
  info.Protocols = protocols;
  if (protocols != 0)
    info.ProtocolsAccepted = WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols) != FALSE;
  if (AInfo) *AInfo = std::move(info);
  return session;
}

}  // namespace bank
