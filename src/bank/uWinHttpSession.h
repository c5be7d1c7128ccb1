#pragma once
// The one way a WinHTTP session to the bank is opened: by the driver's transport, and by every
// tool that must reach the bank as the driver does (the console's connection check). One
// function, so the proxy and TLS choices of the two cannot drift apart.
//
// The Windows version the TLS choice reads is the seam declared in uHTTPClient.h
// (WinHttpSecureProtocolsFor, SetWindowsVersionLookup).
#if defined(_WIN32)
#include <string>

namespace bank {

// How a session reaches the bank.
enum class TWinHttpProxyMode {
  Automatic,  // WinHTTP follows the system's and the user's settings (Windows 8.1 on)
  Named,      // the user's configured proxy, where the automatic mode is refused
  None        // direct
};

// What OpenWinHttpSession chose.
struct TWinHttpSessionInfo {
  TWinHttpProxyMode Mode = TWinHttpProxyMode::None;
  std::wstring Proxy, Bypass;       // Named: the proxy list and the bypass list the session got
  unsigned long Protocols = 0;      // WINHTTP_FLAG_SECURE_PROTOCOL_* asked for; 0: the system's defaults
  bool ProtocolsAccepted = true;    // false: WinHTTP refused them and its defaults apply
};

// The user's proxy settings as WinHttpGetIEProxyConfigForCurrentUser gives them.
struct TWinHttpUserProxy {
  bool Read = false;  // false: the settings could not be read (all else empty)
  bool AutoDetect = false;
  std::wstring AutoConfigUrl, Proxy, Bypass;
};
TWinHttpUserProxy WinHttpUserProxy();

// A session with the system proxy: the automatic mode where the system has it (Windows 8.1
// on), else the user's named proxy, else none; with the secure protocols this Windows version
// needs (WinHttpSecureProtocolsFor). WPAD detection is never started here. The session's
// time-outs are the caller's to set. Null when WinHTTP opens none (GetLastError says why);
// AInfo, when given, says what was chosen; AFlags are WinHttpOpen's (WINHTTP_FLAG_ASYNC for the
// transport, whose calls are ended as a whole; 0, synchronous, for the console's probes). The
// caller closes the handle (WinHttpCloseHandle).
void* OpenWinHttpSession(TWinHttpSessionInfo* AInfo = nullptr, unsigned long AFlags = 0);

// WinHttpSecureProtocolsFor the running system's version (or the one SetWindowsVersionLookup
// put in its place).
unsigned long WinHttpSecureProtocols();

}  // namespace bank
#endif
