#include "uDoctor.h"

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <winhttp.h>
#include <wincrypt.h>
#define SECURITY_WIN32
#include <security.h>
#include <schannel.h>
// clang-format on

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/uStrings.h"
#include "uHTTPClient.h"
#include "uWinHttpSession.h"

namespace hostconsole {

namespace {

constexpr DWORD kWaitMs = 15000;     // every network wait of the check
constexpr long long kClockSlack = 300;  // seconds the till may differ from the bank

std::wstring Lower(std::wstring s) {
  for (auto& c : s)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  return s;
}

std::wstring Num(long long v) { return std::to_wstring(v); }

std::wstring HostPort(const std::wstring& Host, unsigned Port) {
  return (Host.find(L':') != std::wstring::npos ? L"[" + Host + L"]" : Host) + L":" + Num(Port);
}

void Fail(TDoctorStep& s, std::wstring Text, std::wstring Ru, std::wstring En) {
  s.Ok = false;
  s.Text = std::move(Text);
  s.AdviceRu = std::move(Ru);
  s.AdviceEn = std::move(En);
}

std::wstring SystemText(DWORD Error) {
  wchar_t* text = nullptr;
  DWORD n = 0;
  if (Error >= WINHTTP_ERROR_BASE && Error <= WINHTTP_ERROR_LAST)
    n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
                       GetModuleHandleW(L"winhttp.dll"), Error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  if (n == 0)
    n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       Error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring m = n && text ? std::wstring(text, n) : std::wstring();
  if (text) LocalFree(text);
  while (!m.empty() && (m.back() == L'\r' || m.back() == L'\n' || m.back() == L' ' || m.back() == L'.')) m.pop_back();
  return L"(" + Num(Error) + L")" + (m.empty() ? L"" : L" " + m);
}

std::wstring TimeText(const FILETIME& ft) {
  SYSTEMTIME t{};
  FileTimeToSystemTime(&ft, &t);
  wchar_t buf[64];
  swprintf(buf, 64, L"%04u-%02u-%02u %02u:%02u:%02u UTC", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
  return buf;
}

long long Seconds(const FILETIME& ft) {
  ULARGE_INTEGER u;
  u.LowPart = ft.dwLowDateTime;
  u.HighPart = ft.dwHighDateTime;
  return static_cast<long long>(u.QuadPart / 10000000ULL);
}

class THandle {
public:
  explicit THandle(HINTERNET h = nullptr) : H(h) {}
  THandle(const THandle&) = delete;
  THandle& operator=(const THandle&) = delete;
  ~THandle() {
    if (H) WinHttpCloseHandle(H);
  }
  HINTERNET H;
};

std::vector<std::wstring> Split(const std::wstring& s, const wchar_t* seps) {
  std::vector<std::wstring> out;
  size_t i = 0;
  while (i < s.size()) {
    const size_t b = s.find_first_not_of(seps, i);
    if (b == std::wstring::npos) break;
    size_t e = s.find_first_of(seps, b);
    if (e == std::wstring::npos) e = s.size();
    out.push_back(s.substr(b, e - b));
    i = e;
  }
  return out;
}

bool WildMatch(const std::wstring& pattern, const std::wstring& text) {
  if (pattern.empty()) return text.empty();
  if (pattern[0] == L'*') {
    for (size_t i = 0; i <= text.size(); ++i)
      if (WildMatch(pattern.substr(1), text.substr(i))) return true;
    return false;
  }
  return !text.empty() && pattern[0] == text[0] && WildMatch(pattern.substr(1), text.substr(1));
}

// ---------------------------------------------------------------------------------------------

// The URL the driver asks for, as a proxy script sees it.
std::wstring TargetUrl(const TDoctorTarget& t) {
  const bool defaultPort = t.Port == (t.Secure ? 443u : 80u);
  const std::wstring host = t.Host.find(L':') != std::wstring::npos ? L"[" + t.Host + L"]" : t.Host;
  return (t.Secure ? L"https://" : L"http://") + host + (defaultPort ? L"" : L":" + Num(t.Port)) + t.Path;
}

// What a proxy script (the user's, or one auto-detection finds) gives for a URL.
struct TScriptAnswer {
  bool Answered = false;  // false: no answer within kWaitMs
  DWORD Error = 0;        // WinHttpGetProxyForUrl's failure
  std::wstring Proxy;     // empty: direct
};

// WinHttpGetProxyForUrl for Url with the user's automatic settings, as WinHTTP's automatic
// mode follows them: auto-detection (WPAD) first when it is on, then the script's URL.
// Auto-detection may wait on DHCP and DNS for long, and the call has no time-out of its own:
// it runs on a thread of its own, which is left to finish alone after kWaitMs.
TScriptAnswer ScriptProxyFor(const std::wstring& Url, const bank::TWinHttpUserProxy& User) {
  struct TShared {
    std::mutex Lock;
    std::condition_variable Done;
    TScriptAnswer Answer;
  };
  const auto shared = std::make_shared<TShared>();
  try {
    std::thread([shared, Url, User] {
      TScriptAnswer a;
      a.Answered = true;
      // The script is fetched directly, as the samples of the API do.
      THandle session(WinHttpOpen(L"Tolvaro/1.0", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                  WINHTTP_NO_PROXY_BYPASS, 0));
      if (!session.H) {
        a.Error = GetLastError();
      } else {
        WinHttpSetTimeouts(session.H, static_cast<int>(kWaitMs), static_cast<int>(kWaitMs), static_cast<int>(kWaitMs),
                           static_cast<int>(kWaitMs));
        WINHTTP_AUTOPROXY_OPTIONS options{};
        if (User.AutoDetect) {
          options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
          options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
        }
        if (!User.AutoConfigUrl.empty()) {
          options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
          options.lpszAutoConfigUrl = User.AutoConfigUrl.c_str();
        }
        options.fAutoLogonIfChallenged = TRUE;
        WINHTTP_PROXY_INFO info{};
        if (WinHttpGetProxyForUrl(session.H, Url.c_str(), &options, &info)) {
          if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && info.lpszProxy)
            a.Proxy = DoctorProxyFor(info.lpszProxy, L"", Url.rfind(L"https:", 0) == 0, L"");
        } else {
          a.Error = GetLastError();
        }
        if (info.lpszProxy) GlobalFree(info.lpszProxy);
        if (info.lpszProxyBypass) GlobalFree(info.lpszProxyBypass);
      }
      const std::lock_guard<std::mutex> lock(shared->Lock);
      shared->Answer = std::move(a);
      shared->Done.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return TScriptAnswer{true, ERROR_NOT_ENOUGH_MEMORY, {}};  // no thread to run it on
  }
  std::unique_lock<std::mutex> lock(shared->Lock);
  shared->Done.wait_for(lock, std::chrono::milliseconds(kWaitMs), [&] { return shared->Answer.Answered; });
  return shared->Answer;
}

TDoctorStep ProxyStep(const TDoctorTarget& t, std::wstring& Through) {
  TDoctorStep s{L"proxy"};
  bank::TWinHttpSessionInfo info;
  THandle session(bank::OpenWinHttpSession(&info));
  if (!session.H) {
    const DWORD e = GetLastError();
    Fail(s, L"WinHTTP opens no session: " + SystemText(e),
         L"Системная библиотека WinHTTP не работает: переустановите обновления Windows или обратитесь к администратору.",
         L"The system's WinHTTP does not work: repair the Windows updates or ask the administrator.");
    return s;
  }
  const auto named = [&](const std::wstring& List, const std::wstring& Bypass, const std::wstring& What) {
    Through = DoctorProxyFor(List, Bypass, t.Secure, t.Host);
    s.Text = What + List + (Through.empty() ? L" (bypassed for " + t.Host + L": direct)" : L"");
  };
  if (info.Mode != bank::TWinHttpProxyMode::Automatic) {
    if (info.Mode == bank::TWinHttpProxyMode::Named) {
      s.Fields.push_back({L"mode", L"named"});
      named(info.Proxy, info.Bypass, L"named proxy ");
    } else {
      s.Fields.push_back({L"mode", L"none"});
      s.Text = L"none: direct connection";
    }
    // Before Windows 8.1 the driver's session has no automatic mode: a proxy script in the
    // user's settings is not followed, which is worth saying where the network needs it.
    const bank::TWinHttpUserProxy user = bank::WinHttpUserProxy();
    if (!user.AutoConfigUrl.empty()) {
      s.Text += L" (the proxy script " + user.AutoConfigUrl + L" of the user's settings is not followed on this Windows)";
      s.Fields.push_back({L"script", user.AutoConfigUrl});
    }
  } else {
    // The automatic mode follows the user's settings: a proxy script (found by auto-detection,
    // or at its URL) decides first; where there is none or it gives no answer, the user's
    // proxy, else none. The steps below go where the script sends the bank's URL.
    s.Fields.push_back({L"mode", L"automatic"});
    const bank::TWinHttpUserProxy user = bank::WinHttpUserProxy();
    const std::wstring direct = L": direct connection";
    std::wstring script;
    if (user.AutoDetect || !user.AutoConfigUrl.empty()) {
      const std::wstring source = user.AutoConfigUrl.empty() ? L"proxy auto-detection"
                                  : user.AutoDetect     ? L"proxy auto-detection, else the script " + user.AutoConfigUrl
                                                        : L"proxy script " + user.AutoConfigUrl;
      if (user.AutoDetect) s.Fields.push_back({L"autodetect", L"on"});
      if (!user.AutoConfigUrl.empty()) s.Fields.push_back({L"script", user.AutoConfigUrl});
      const TScriptAnswer a = ScriptProxyFor(TargetUrl(t), user);
      if (a.Answered && !a.Error) {
        Through = a.Proxy;
        s.Text = L"automatic: " + source + L" gives " + (Through.empty() ? L"DIRECT for " + t.Host + direct
                                                                         : L"proxy " + Through + L" for " + t.Host);
        if (!Through.empty()) s.Fields.push_back({L"proxy", Through});
        return s;
      }
      if (!a.Answered)
        script = L"automatic: " + source + L" gave no answer within " + Num(kWaitMs / 1000) + L" s";
      else if (a.Error == ERROR_WINHTTP_AUTODETECTION_FAILED && user.AutoConfigUrl.empty())
        script = L"automatic: proxy auto-detection found no proxy script";
      else
        script = L"automatic: " + source + L" gave no proxy: " + SystemText(a.Error);
      s.Fields.push_back({L"script_error", a.Answered ? Num(a.Error) : L"timeout"});
    }
    if (!user.Proxy.empty()) {
      named(user.Proxy, user.Bypass, (script.empty() ? L"automatic:" : script + L";") + L" the user's proxy ");
    } else {
      s.Text = (script.empty() ? L"automatic: no proxy configured" : script) + direct;
    }
  }
  if (!Through.empty()) s.Fields.push_back({L"proxy", Through});
  return s;
}

// The addresses a name resolves to. AProxy: the name is the proxy's the driver goes through.
TDoctorStep NameStep(const std::wstring& Host, bool AProxy, std::vector<sockaddr_storage>& Addresses,
                     std::vector<int>& Lengths) {
  TDoctorStep s{L"name"};
  ADDRINFOW hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  ADDRINFOW* list = nullptr;
  const int rc = GetAddrInfoW(Host.c_str(), nullptr, &hints, &list);
  if (rc != 0 || !list) {
    if (AProxy)
      Fail(s, L"the proxy's name " + Host + L" does not resolve: " + SystemText(static_cast<DWORD>(rc)),
           L"Имя прокси-сервера " + Host + L" не найдено. Проверьте настройки прокси этого компьютера (или скрипт "
               L"автоматической настройки) и DNS: nslookup " + Host + L".",
           L"The proxy's name " + Host + L" does not resolve. Check this computer's proxy settings (or its proxy script) "
               L"and DNS: nslookup " + Host + L".");
    else
      Fail(s, L"the name " + Host + L" does not resolve: " + SystemText(static_cast<DWORD>(rc)),
           L"Имя " + Host + L" не найдено. Проверьте адрес в настройке Host (нет ли опечатки) и DNS этого компьютера: "
               L"nslookup " + Host + L".",
           L"The name " + Host + L" does not resolve. Check the Host setting for a typing mistake and this computer's DNS: "
               L"nslookup " + Host + L".");
    if (list) FreeAddrInfoW(list);
    return s;
  }
  std::wstring text;
  for (ADDRINFOW* a = list; a; a = a->ai_next) {
    wchar_t buf[INET6_ADDRSTRLEN + 8] = {};
    DWORD n = INET6_ADDRSTRLEN + 8;
    sockaddr_storage ss{};
    memcpy(&ss, a->ai_addr, std::min<size_t>(a->ai_addrlen, sizeof ss));
    reinterpret_cast<sockaddr_in&>(ss).sin_port = 0;
    WSAAddressToStringW(reinterpret_cast<sockaddr*>(&ss), static_cast<DWORD>(a->ai_addrlen), nullptr, buf, &n);
    const std::wstring addr = buf;
    if (text.find(addr) != std::wstring::npos) continue;
    text += (text.empty() ? L"" : L", ") + addr;
    Addresses.push_back(ss);
    Lengths.push_back(static_cast<int>(a->ai_addrlen));
  }
  FreeAddrInfoW(list);
  s.Text = (AProxy ? L"the proxy " : L"") + Host + L" is " + text;
  s.Fields.push_back({L"addresses", text});
  return s;
}

std::wstring AddressText(const sockaddr_storage& Address, int Length) {
  wchar_t buf[INET6_ADDRSTRLEN + 8] = {};
  DWORD n = INET6_ADDRSTRLEN + 8;
  sockaddr_storage copy = Address;
  WSAAddressToStringW(reinterpret_cast<sockaddr*>(&copy), static_cast<DWORD>(Length), nullptr, buf, &n);
  return buf;
}

// Milliseconds left until ADeadline (GetTickCount64), 0 once it has passed.
DWORD LeftUntil(ULONGLONG ADeadline) {
  const ULONGLONG now = GetTickCount64();
  return now >= ADeadline ? 0 : static_cast<DWORD>(ADeadline - now);
}

// Connects ASocket (non-blocking) to AAddress within AWaitMs; 0 or the socket's error.
int ConnectWithin(SOCKET ASocket, const sockaddr_storage& AAddress, int ALength, DWORD AWaitMs) {
  u_long nonBlocking = 1;
  ioctlsocket(ASocket, FIONBIO, &nonBlocking);
  if (connect(ASocket, reinterpret_cast<const sockaddr*>(&AAddress), ALength) == 0) return 0;
  const int error = WSAGetLastError();
  if (error != WSAEWOULDBLOCK) return error;
  fd_set w, x;
  FD_ZERO(&w);
  FD_ZERO(&x);
  FD_SET(ASocket, &w);
  FD_SET(ASocket, &x);
  timeval tv{static_cast<long>(AWaitMs / 1000), static_cast<long>(AWaitMs % 1000) * 1000};
  const int n = select(0, nullptr, &w, &x, &tv);
  if (n == 0) return WSAETIMEDOUT;
  if (n < 0) return WSAGetLastError();
  int soError = 0, len = sizeof soError;
  getsockopt(ASocket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &len);
  return FD_ISSET(ASocket, &w) && soError == 0 ? 0 : (soError ? soError : WSAECONNREFUSED);
}

// A TCP connection to the first address that takes one, kWaitMs for the whole step (not for
// each address: a name with several addresses that all drop the connection would otherwise
// hold the check that many times as long). AConnected: the address that took it.
TDoctorStep TcpStep(const std::wstring& Host, unsigned Port, bool AProxy, std::vector<sockaddr_storage>& Addresses,
                    const std::vector<int>& Lengths, sockaddr_storage& AConnected, int& AConnectedLength,
                    DWORD ABudgetMs = kWaitMs) {
  TDoctorStep s{L"tcp"};
  std::wstring tried;
  bool timedOut = false;
  const ULONGLONG deadline = GetTickCount64() + ABudgetMs;
  for (size_t i = 0; i < Addresses.size(); ++i) {
    sockaddr_storage& ss = Addresses[i];
    if (ss.ss_family == AF_INET6)
      reinterpret_cast<sockaddr_in6&>(ss).sin6_port = htons(static_cast<u_short>(Port));
    else
      reinterpret_cast<sockaddr_in&>(ss).sin_port = htons(static_cast<u_short>(Port));
    const std::wstring address = AddressText(ss, Lengths[i]);
    const DWORD left = LeftUntil(deadline);
    if (left == 0) {
      tried += (tried.empty() ? L"" : L"; ") + address + L": not tried, no time left";
      continue;
    }
    const SOCKET sock = socket(ss.ss_family, SOCK_STREAM, IPPROTO_TCP);
    if (sock == INVALID_SOCKET) {
      tried += (tried.empty() ? L"" : L"; ") + address + L": " + SystemText(static_cast<DWORD>(WSAGetLastError()));
      continue;
    }
    const ULONGLONG start = GetTickCount64();
    const int error = ConnectWithin(sock, ss, Lengths[i], left);
    closesocket(sock);
    if (error == 0) {
      s.Text = L"connected to " + address + L" in " + Num(static_cast<long long>(GetTickCount64() - start)) + L" ms" +
               (AProxy ? L" (the proxy)" : L"");
      s.Fields.push_back({L"address", address});
      AConnected = ss;
      AConnectedLength = Lengths[i];
      return s;
    }
    timedOut = timedOut || error == WSAETIMEDOUT;
    tried += (tried.empty() ? L"" : L"; ") + address + L": " + SystemText(static_cast<DWORD>(error));
  }
  const std::wstring where = HostPort(Host, Port);
  if (AProxy && timedOut)
    Fail(s, L"no connection to the proxy " + where + L" within " + Num(ABudgetMs / 1000) + L" s (" + tried + L")",
         L"Прокси-сервер " + where + L" не отвечает. Попросите администратора проверить, работает ли он и открыт ли к "
             L"нему путь с этого компьютера (TCP, порт " + Num(Port) + L").",
         L"The proxy " + where + L" does not answer. Ask the administrator whether it runs and whether this computer "
             L"may reach it (TCP, port " + Num(Port) + L").");
  else if (AProxy)
    Fail(s, L"connection to the proxy " + where + L" refused (" + tried + L")",
         L"Прокси-сервер " + where + L" не принимает соединения: проверьте его адрес и порт в настройках прокси этого "
             L"компьютера (или в скрипте автоматической настройки).",
         L"The proxy " + where + L" takes no connections: check its address and port in this computer's proxy "
             L"settings (or in its proxy script).");
  else if (timedOut)
    Fail(s, L"no connection to " + where + L" within " + Num(ABudgetMs / 1000) + L" s (" + tried + L")",
         L"Сервер " + where + L" не отвечает: соединение блокирует брандмауэр или сеть. Попросите администратора открыть "
             L"исходящие соединения TCP на порт " + Num(Port) + L" к " + Host + L".",
         L"No answer from " + where + L": a firewall or the network drops the connection. Ask the administrator to allow "
             L"outgoing TCP to port " + Num(Port) + L" of " + Host + L".");
  else
    Fail(s, L"connection to " + where + L" refused (" + tried + L")",
         L"На " + where + L" никто не принимает соединения: проверьте порт в настройке Host и доступность сервера банка; "
             L"соединение может отклонять брандмауэр.",
         L"Nothing accepts connections at " + where + L": check the port in the Host setting and whether the bank's "
             L"server is up; a firewall may refuse the connection.");
  return s;
}

// What one request through a session of the driver's kind gave.
struct TProbe {
  DWORD Error = 0;
  DWORD SecureFailure = 0;  // WINHTTP_CALLBACK_STATUS_FLAG_*, when the system reports them
  bool Sent = false;        // the request went out: the connection (and its TLS) stood
  DWORD Status = 0;         // the answer's HTTP status
  ULONGLONG Ms = 0;         // from the request's start to its answer's headers
  bank::TWinHttpSessionInfo Session;
  PCCERT_CONTEXT Cert = nullptr;
  bool HasDate = false;
  SYSTEMTIME Date{};
  TProbe() = default;
  TProbe(const TProbe&) = delete;
  TProbe& operator=(const TProbe&) = delete;
  ~TProbe() {
    if (Cert) CertFreeCertificateContext(Cert);
  }
};

void CALLBACK OnStatus(HINTERNET, DWORD_PTR Context, DWORD Status, LPVOID Info, DWORD Length) {
  TProbe& p = *reinterpret_cast<TProbe*>(Context);
  if (Status == WINHTTP_CALLBACK_STATUS_SECURE_FAILURE && Info && Length >= sizeof(DWORD))
    p.SecureFailure |= *static_cast<DWORD*>(Info);
  if (Status == WINHTTP_CALLBACK_STATUS_REQUEST_SENT) p.Sent = true;
}

// A GET of the Host URL through a session opened as the driver's transport opens it (its
// proxy and its TLS protocols). Lenient: certificate errors ignored so the certificate can be
// read and judged here (nothing of a payment is sent).
void Probe(const TDoctorTarget& t, bool Lenient, TProbe& p) {
  THandle session(bank::OpenWinHttpSession(&p.Session));
  if (!session.H) {
    p.Error = GetLastError();
    return;
  }
  WinHttpSetTimeouts(session.H, kWaitMs, kWaitMs, kWaitMs, kWaitMs);
  THandle connection(WinHttpConnect(session.H, t.Host.c_str(), static_cast<INTERNET_PORT>(t.Port), 0));
  if (!connection.H) {
    p.Error = GetLastError();
    return;
  }
  THandle request(WinHttpOpenRequest(connection.H, L"GET", t.Path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                     WINHTTP_DEFAULT_ACCEPT_TYPES, t.Secure ? WINHTTP_FLAG_SECURE : 0));
  if (!request.H) {
    p.Error = GetLastError();
    return;
  }
  WinHttpSetTimeouts(request.H, kWaitMs, kWaitMs, kWaitMs, kWaitMs);
  DWORD none = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
  WinHttpSetOption(request.H, WINHTTP_OPTION_REDIRECT_POLICY, &none, sizeof none);
  DWORD_PTR context = reinterpret_cast<DWORD_PTR>(&p);
  WinHttpSetOption(request.H, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context);
  WinHttpSetStatusCallback(request.H, OnStatus, WINHTTP_CALLBACK_FLAG_SECURE_FAILURE | WINHTTP_CALLBACK_FLAG_SEND_REQUEST, 0);
  if (Lenient && t.Secure) {
    DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                  SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
    WinHttpSetOption(request.H, WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
  }
  const ULONGLONG start = GetTickCount64();
  const bool answered = WinHttpSendRequest(request.H, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
                        WinHttpReceiveResponse(request.H, nullptr);
  if (!answered) p.Error = GetLastError();
  p.Ms = GetTickCount64() - start;
  // The certificate also when the answer failed after the handshake: the TLS step judges it.
  if (t.Secure) {
    PCCERT_CONTEXT cert = nullptr;
    DWORD size = sizeof cert;
    if (WinHttpQueryOption(request.H, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &cert, &size)) p.Cert = cert;
  }
  if (!answered) return;
  p.Sent = true;  // where the system reports no send, an answer says it all the same
  DWORD size = sizeof p.Status;
  WinHttpQueryHeaders(request.H, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                      &p.Status, &size, WINHTTP_NO_HEADER_INDEX);
  size = sizeof p.Date;
  p.HasDate = WinHttpQueryHeaders(request.H, WINHTTP_QUERY_DATE | WINHTTP_QUERY_FLAG_SYSTEMTIME,
                                  WINHTTP_HEADER_NAME_BY_INDEX, &p.Date, &size, WINHTTP_NO_HEADER_INDEX) != FALSE;
}

std::wstring CertName(PCCERT_CONTEXT c, DWORD Which) {
  wchar_t buf[512] = {};
  DWORD type = CERT_X500_NAME_STR;
  CertGetNameStringW(c, CERT_NAME_RDN_TYPE, Which, &type, buf, 512);
  return buf;
}

// The Schannel protocols (SP_PROT_*_CLIENT) of WinHTTP's protocol flags: what WinHTTP asks
// Schannel for when the session carries them. 0: the system's defaults.
DWORD SchannelProtocols(unsigned long WinHttpProtocols) {
  DWORD out = 0;
  if (WinHttpProtocols & WINHTTP_FLAG_SECURE_PROTOCOL_SSL2) out |= SP_PROT_SSL2_CLIENT;
  if (WinHttpProtocols & WINHTTP_FLAG_SECURE_PROTOCOL_SSL3) out |= SP_PROT_SSL3_CLIENT;
  if (WinHttpProtocols & WINHTTP_FLAG_SECURE_PROTOCOL_TLS1) out |= SP_PROT_TLS1_CLIENT;
  if (WinHttpProtocols & WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_1) out |= SP_PROT_TLS1_1_CLIENT;
  if (WinHttpProtocols & WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2) out |= SP_PROT_TLS1_2_CLIENT;
  if (WinHttpProtocols & 0x2000) out |= 0x2000;  // WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3 -> SP_PROT_TLS1_3_CLIENT
  return out;
}

// "TLS 1.0, TLS 1.1, TLS 1.2" of WinHTTP's protocol flags; empty for none.
std::wstring ProtocolNames(unsigned long WinHttpProtocols) {
  const struct {
    unsigned long Flag;
    const wchar_t* Name;
  } names[] = {{WINHTTP_FLAG_SECURE_PROTOCOL_SSL2, L"SSL 2.0"}, {WINHTTP_FLAG_SECURE_PROTOCOL_SSL3, L"SSL 3.0"},
               {WINHTTP_FLAG_SECURE_PROTOCOL_TLS1, L"TLS 1.0"}, {WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_1, L"TLS 1.1"},
               {WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2, L"TLS 1.2"}, {0x2000, L"TLS 1.3"}};
  std::wstring out;
  for (const auto& n : names)
    if (WinHttpProtocols & n.Flag) out += (out.empty() ? L"" : L", ") + std::wstring(n.Name);
  return out;
}

// The protocol the system's TLS agrees on with the server, by its own handshake on a socket
// to the address the tcp step reached (WinHTTP tells it only from Windows 10 build 20348 on),
// offering what the driver's WinHTTP offers: AProtocols (WinHTTP's flags), 0 the system's
// defaults. kWaitMs in all, the connect included. Certificates are judged elsewhere.
struct THandshake {
  std::wstring Protocol = L"unknown";  // what was agreed on
  std::wstring Enabled;                // what Schannel enabled for it (empty: not told)
};

THandshake HandshakeProtocol(const TDoctorTarget& t, const sockaddr_storage& AAddress, int ALength,
                             unsigned long AProtocols) {
  THandshake result;
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return result;
  const ULONGLONG deadline = GetTickCount64() + kWaitMs;
  SOCKET sock = socket(AAddress.ss_family, SOCK_STREAM, IPPROTO_TCP);
  if (sock != INVALID_SOCKET && ConnectWithin(sock, AAddress, ALength, kWaitMs) != 0) {
    closesocket(sock);
    sock = INVALID_SOCKET;
  }
  if (sock == INVALID_SOCKET) {
    WSACleanup();
    return result;
  }
  u_long blocking = 0;
  ioctlsocket(sock, FIONBIO, &blocking);
  // Each send and receive waits at most what is left of the handshake's time.
  const auto bound = [&] {
    DWORD wait = std::max<DWORD>(LeftUntil(deadline), 1);
    setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&wait), sizeof wait);
    setsockopt(sock, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&wait), sizeof wait);
  };
  SCHANNEL_CRED cred{};
  cred.dwVersion = SCHANNEL_CRED_VERSION;
  cred.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
  cred.grbitEnabledProtocols = SchannelProtocols(AProtocols);
  CredHandle credentials{};
  TimeStamp expiry{};
  if (AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr, &cred, nullptr,
                                nullptr, &credentials, &expiry) == SEC_E_OK) {
    // The protocols this handshake may use: those asked for, or the system's defaults. The
    // client bits of SP_PROT_* are WinHTTP's protocol flags.
    SecPkgCred_SupportedProtocols supported{};
    if (QueryCredentialsAttributesW(&credentials, SECPKG_ATTR_SUPPORTED_PROTOCOLS, &supported) == SEC_E_OK)
      result.Enabled = ProtocolNames(supported.grbitProtocol & (SP_PROT_SSL2_CLIENT | SP_PROT_SSL3_CLIENT |
                                                                SP_PROT_TLS1_CLIENT | SP_PROT_TLS1_1_CLIENT |
                                                                SP_PROT_TLS1_2_CLIENT | 0x2000));
    CtxtHandle context{};
    bool haveContext = false;
    std::wstring name = t.Host;
    std::string in;
    const ULONG want = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY |
                       ISC_REQ_STREAM | ISC_REQ_MANUAL_CRED_VALIDATION;
    SECURITY_STATUS status = SEC_I_CONTINUE_NEEDED;
    // A handshake takes a few round trips; a server that never finishes one (or drips it) is
    // cut off after one wait's length in all.
    for (int round = 0; round < 32 && LeftUntil(deadline) > 0 &&
                        (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_INCOMPLETE_MESSAGE);
         ++round) {
      if (haveContext && (in.empty() || status == SEC_E_INCOMPLETE_MESSAGE)) {
        char buf[16384];
        bound();
        const int n = recv(sock, buf, sizeof buf, 0);
        if (n <= 0) break;
        in.append(buf, static_cast<size_t>(n));
      }
      SecBuffer inBuffers[2] = {{static_cast<ULONG>(in.size()), SECBUFFER_TOKEN, in.data()}, {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc inDesc{SECBUFFER_VERSION, 2, inBuffers};
      SecBuffer outBuffer{0, SECBUFFER_TOKEN, nullptr};
      SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &outBuffer};
      ULONG got = 0;
      status = InitializeSecurityContextW(&credentials, haveContext ? &context : nullptr, name.data(), want, 0, 0,
                                          haveContext ? &inDesc : nullptr, 0, &context, &outDesc, &got, nullptr);
      haveContext = true;
      if (outBuffer.pvBuffer) {
        if (outBuffer.cbBuffer) {
          bound();
          send(sock, static_cast<const char*>(outBuffer.pvBuffer), static_cast<int>(outBuffer.cbBuffer), 0);
        }
        FreeContextBuffer(outBuffer.pvBuffer);
      }
      if (status == SEC_E_INCOMPLETE_MESSAGE) continue;
      if (inBuffers[1].BufferType == SECBUFFER_EXTRA && inBuffers[1].cbBuffer <= in.size())
        in = in.substr(in.size() - inBuffers[1].cbBuffer);
      else
        in.clear();
    }
    if (status == SEC_E_OK) {
      SecPkgContext_ConnectionInfo info{};
      if (QueryContextAttributesW(&context, SECPKG_ATTR_CONNECTION_INFO, &info) == SEC_E_OK) {
        const DWORD p = info.dwProtocol;
        if (p & 0x3000) result.Protocol = L"TLS 1.3";  // SP_PROT_TLS1_3
        else if (p & SP_PROT_TLS1_2) result.Protocol = L"TLS 1.2";
        else if (p & SP_PROT_TLS1_1) result.Protocol = L"TLS 1.1";
        else if (p & SP_PROT_TLS1_0) result.Protocol = L"TLS 1.0";
        else if (p & SP_PROT_SSL3) result.Protocol = L"SSL 3.0";
      }
    }
    if (haveContext) DeleteSecurityContext(&context);
    FreeCredentialsHandle(&credentials);
  }
  closesocket(sock);
  WSACleanup();
  return result;
}

// The TLS step: a lenient request through a session of the driver's kind (its proxy and its
// protocols), the certificate judged here, the protocol from a handshake of our own offering
// what that session offers. AAddress: where the tcp step connected (the bank, when direct).
TDoctorStep TlsStep(const TDoctorTarget& t, const std::wstring& Through, const sockaddr_storage& AAddress, int ALength,
                    TProbe& lenient) {
  TDoctorStep s{L"tls"};
  if (!t.Secure) {
    s.Text = L"not used: the Host URL is plain http (nothing is encrypted; banks take https only)";
    return s;
  }
  Probe(t, true, lenient);
  const bank::TWinHttpSessionInfo& session = lenient.Session;
  const unsigned long protocols = session.ProtocolsAccepted ? session.Protocols : 0;
  const std::wstring offered =
      session.Protocols == 0 ? L"the system's defaults"
      : session.ProtocolsAccepted
          ? ProtocolNames(session.Protocols) + L" (asked for on Windows before 8.1)"
          : ProtocolNames(session.Protocols) + L" refused by this Windows' WinHTTP: its defaults apply";
  // A failure after the request went out is the http step's: the handshake itself stood.
  if (lenient.Error && !lenient.Sent) {
    s.Fields.push_back({L"offered", offered});
    const bool handshake = lenient.Error == ERROR_WINHTTP_SECURE_FAILURE || lenient.Error == ERROR_WINHTTP_SECURE_CHANNEL_ERROR ||
                           (lenient.SecureFailure & WINHTTP_CALLBACK_STATUS_FLAG_SECURITY_CHANNEL_ERROR);
    if (handshake)
      Fail(s, L"the TLS handshake with " + HostPort(t.Host, t.Port) + L" failed (offered: " + offered + L"): " +
                  SystemText(lenient.Error),
           L"Windows и сервер банка не договорились о протоколе: вероятно, TLS 1.2 выключен в этой Windows. Установите "
               L"обновления Windows (для Windows 7 — поддержку TLS 1.2 в WinHTTP) и включите TLS 1.2 в настройках "
               L"SCHANNEL, затем перезагрузите компьютер.",
           L"Windows and the bank's server agree on no protocol: TLS 1.2 is probably off on this Windows. Install the "
               L"Windows updates (on Windows 7, TLS 1.2 for WinHTTP), turn TLS 1.2 on in the SCHANNEL settings and "
               L"restart the computer.");
    else
      Fail(s, L"no answer over TLS from " + HostPort(t.Host, t.Port) + L": " + SystemText(lenient.Error),
           Through.empty() ? L"Сервер принимает соединение, но не отвечает по HTTPS: проверьте порт в настройке Host "
                             L"(не указан ли порт HTTP)."
                           : L"Прокси-сервер " + Through + L" не пропускает соединение к банку: попросите администратора "
                             L"разрешить HTTPS к " + t.Host + L".",
           Through.empty() ? L"The server takes the connection but does not answer HTTPS: check the port in the Host "
                             L"setting (is it the HTTP port?)."
                           : L"The proxy " + Through + L" does not pass the connection to the bank: ask the administrator "
                             L"to allow HTTPS to " + t.Host + L".");
    return s;
  }
  if (!lenient.Cert) {
    s.Fields.push_back({L"offered", offered});
    Fail(s, L"the handshake succeeded, but the system shows no server certificate",
         L"Windows не показывает сертификат сервера: обратитесь в поддержку с этим отчётом.",
         L"Windows does not show the server's certificate: send this report to support.");
    return s;
  }
  PCCERT_CONTEXT cert = lenient.Cert;
  const std::wstring subject = CertName(cert, 0), issuer = CertName(cert, CERT_NAME_ISSUER_FLAG);
  const std::wstring expires = TimeText(cert->pCertInfo->NotAfter);
  s.Fields.push_back({L"subject", subject});
  s.Fields.push_back({L"issuer", issuer});
  s.Fields.push_back({L"expires", expires});

  // The protocol, from a handshake of our own with the system's TLS (Schannel), offering what
  // the driver's WinHTTP offers. Not through a proxy.
  THandshake handshake;
  if (Through.empty())
    handshake = HandshakeProtocol(t, AAddress, ALength, protocols);
  else
    handshake.Protocol = L"not checked (through a proxy)";
  const std::wstring& protocol = handshake.Protocol;
  s.Fields.insert(s.Fields.begin(), TDoctorField{L"protocol", protocol});

  // Judged as the driver's requests judge it: the system's chain and the SSL policy for this name.
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const bool leafExpired = CompareFileTime(&now, &cert->pCertInfo->NotAfter) > 0;
  const bool early = CompareFileTime(&now, &cert->pCertInfo->NotBefore) < 0;
  DWORD policyError = 0, chainStatus = 0;
  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof para;
  LPSTR serverAuth = const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH);
  para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  para.RequestedUsage.Usage.cUsageIdentifier = 1;
  para.RequestedUsage.Usage.rgpszUsageIdentifier = &serverAuth;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  if (CertGetCertificateChain(nullptr, cert, nullptr, cert->hCertStore, &para, 0, nullptr, &chain) && chain) {
    chainStatus = chain->TrustStatus.dwErrorStatus;
    std::wstring name = t.Host;
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.pwszServerName = name.data();
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    if (CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status)) policyError = status.dwError;
    CertFreeCertificateChain(chain);
  } else {
    policyError = GetLastError() ? GetLastError() : static_cast<DWORD>(CERT_E_CHAINING);
  }
  // The chain's own word on time too: a certificate in it (an intermediate) may be the expired one.
  const bool expired = !early && (leafExpired || policyError == static_cast<DWORD>(CERT_E_EXPIRED) ||
                       (chainStatus & CERT_TRUST_IS_NOT_TIME_VALID));
  const bool untrusted = policyError == static_cast<DWORD>(CERT_E_UNTRUSTEDROOT) ||
                         policyError == static_cast<DWORD>(CERT_E_CHAINING) ||
                         (chainStatus & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN));
  std::wstring trusted = L"yes";
  if (expired || early)
    trusted = L"no: " + std::wstring(expired ? L"expired" : L"not valid yet");
  else if (untrusted)
    trusted = L"no: its issuer is not a trusted root of this Windows";
  else if (policyError == static_cast<DWORD>(CERT_E_CN_NO_MATCH))
    trusted = L"no: it is not for the name " + t.Host;
  else if (policyError)
    trusted = L"no: " + SystemText(policyError);
  s.Fields.push_back({L"trusted", trusted});
  s.Fields.push_back({L"offered", offered});
  if (!handshake.Enabled.empty()) s.Fields.push_back({L"handshake_offered", handshake.Enabled});
  const std::wstring facts = protocol + L", certificate " + subject + L", issued by " + issuer + L", expires " + expires;
  if (expired || early) {
    Fail(s, facts + L": " + (expired ? L"the certificate has expired" : L"the certificate is not valid yet"),
         expired ? L"Сертификат сервера банка просрочен (" + expires + L"). Если часы этого компьютера верны, сообщите "
                       L"банку: сертификат должен заменить банк."
                 : L"Сертификат сервера ещё не действует: проверьте дату и часы этого компьютера.",
         expired ? L"The bank server's certificate expired on " + expires + L". If this computer's clock is right, tell the "
                       L"bank: only the bank can replace it."
                 : L"The server's certificate is not valid yet: check this computer's date and clock.");
  } else if (untrusted) {
    Fail(s, facts + L": the issuer is not trusted by this Windows",
         L"Windows не доверяет издателю сертификата (" + issuer + L"). Установите корневые сертификаты, которые требует "
             L"банк (например, через обновление корневых сертификатов Windows), в хранилище «Доверенные корневые центры "
             L"сертификации» компьютера. Если сертификат подменяет прокси или антивирус, добавьте их корневой сертификат "
             L"туда же или исключите адрес банка из проверки.",
         L"Windows does not trust the certificate's issuer (" + issuer + L"). Install the root certificates the bank "
             L"requires (for example through the Windows root certificate update) into the computer's Trusted Root "
             L"Certification Authorities store. If a proxy or antivirus replaces the certificate, add its root there "
             L"too or exclude the bank's address from its inspection.");
  } else if (policyError == static_cast<DWORD>(CERT_E_CN_NO_MATCH)) {
    Fail(s, facts + L": " + trusted,
         L"Сертификат сервера не подходит для адреса " + t.Host + L": проверьте имя в настройке Host (оно должно совпадать "
             L"с именем в сертификате банка).",
         L"The server's certificate does not fit the address " + t.Host + L": check the name in the Host setting (it must "
             L"be the name in the bank's certificate).");
  } else if (policyError) {
    Fail(s, facts + L": " + trusted,
         L"Windows не принимает сертификат сервера банка (" + SystemText(policyError) + L"): передайте этот отчёт в "
             L"поддержку банка.",
         L"Windows does not accept the bank server's certificate (" + SystemText(policyError) + L"): send this report to "
             L"the bank's support.");
  } else {
    s.Text = facts + L", trusted";
  }
  return s;
}

// The answer to the Host URL's GET: any HTTP status will do (the bank's operations are POST
// requests); no answer fails here, and the bank is not asked.
TDoctorStep HttpStep(const TDoctorTarget& t, const std::wstring& Through, const TProbe& p) {
  TDoctorStep s{L"http"};
  const std::wstring where = HostPort(t.Host, t.Port);
  const std::wstring scheme = t.Secure ? L"HTTPS" : L"HTTP";
  if (!p.Error) {
    s.Text = where + L" answers over " + scheme + L": status " + Num(p.Status) + L" to GET " + t.Path + L" in " +
             Num(static_cast<long long>(p.Ms)) + L" ms";
    s.Fields.push_back({L"status", Num(p.Status)});
    return s;
  }
  const std::wstring text = L"no answer over " + scheme + L" from " + where + L": " + SystemText(p.Error);
  if (!Through.empty())
    Fail(s, text,
         L"Прокси-сервер " + Through + L" не передаёт ответ банка: попросите администратора разрешить " + scheme +
             L" к " + t.Host + L" через прокси.",
         L"The proxy " + Through + L" passes no answer of the bank: ask the administrator to allow " + scheme + L" to " +
             t.Host + L" through it.");
  else if (t.Secure)
    Fail(s, text,
         L"Сервер принял соединение TLS, но не ответил на запрос. Повторите проверку позже; если ошибка повторяется, "
             L"передайте этот отчёт в поддержку банка (а если соединения проверяет антивирус, — и его администратору).",
         L"The server took the TLS connection but did not answer the request. Try again later; if it happens again, "
             L"send this report to the bank's support (and to the administrator of an antivirus that inspects "
             L"connections).");
  else
    Fail(s, text, L"Сервер принимает соединение, но не отвечает по HTTP: проверьте схему и порт в настройке Host.",
         L"The server takes the connection but does not answer HTTP: check the scheme and port in the Host setting.");
  return s;
}

TDoctorStep ClockStep(const TProbe& p) {
  TDoctorStep s{L"clock"};
  if (!p.HasDate) {
    s.Text = L"not checked: the server sent no Date header";
    return s;
  }
  FILETIME server{}, local{};
  SystemTimeToFileTime(&p.Date, &server);
  GetSystemTimeAsFileTime(&local);
  const long long offset = Seconds(local) - Seconds(server);  // positive: this computer is ahead
  const long long a = offset < 0 ? -offset : offset;
  s.Fields.push_back({L"server", TimeText(server)});
  s.Fields.push_back({L"offset", Num(offset)});
  const std::wstring amount = a >= 120 ? Num((a + 30) / 60) + L" min" : Num(a) + L" s";
  if (a <= kClockSlack) {
    s.Text = L"this computer's clock is within " + Num(a) + L" s of the server's (" + TimeText(server) + L")";
    return s;
  }
  const std::wstring ru = a >= 120 ? Num((a + 30) / 60) + L" мин" : Num(a) + L" с";
  Fail(s, L"the clock is " + amount + (offset > 0 ? L" ahead of" : L" behind") + L" the server's (" + TimeText(server) + L")",
       L"Часы этого компьютера " + std::wstring(offset > 0 ? L"спешат" : L"отстают") + L" на " + ru +
           L". Включите синхронизацию времени (Параметры → Время и язык → «Установить время автоматически») и проверьте "
           L"часовой пояс.",
       L"This computer's clock is " + amount + (offset > 0 ? L" fast" : L" slow") +
           L". Turn on time synchronisation (Settings → Time & language → Set time automatically) and check the time zone.");
  return s;
}

}  // namespace

std::wstring ShownUrl(const std::wstring& Url) {
  try {
    return Utf8ToUtf16(bank::MaskUrlCredentials(Utf16ToUtf8(Url)));
  } catch (...) {
    return L"***";  // a text that does not convert is not shown
  }
}

bool DoctorParseUrl(const std::wstring& Url, TDoctorTarget& t, TDoctorStep& s) {
  s.Name = L"url";
  const auto bad = [&](const std::wstring& why) {
    Fail(s, L"the Host setting '" + ShownUrl(Url) + L"' " + why,
         L"Исправьте настройку Host: адрес API банка вида https://bank.example/v2, без имени пользователя и пароля.",
         L"Fix the Host setting: the bank API's address, like https://bank.example/v2, without a user name or password.");
    return false;
  };
  if (Url.empty()) return bad(L"is empty");
  // The credentials themselves are never repeated; with a scheme or without one.
  if (bank::UrlHasCredentials(Utf16ToUtf8(Url))) {
    Fail(s, L"the Host setting carries a user name or password",
         L"Уберите имя пользователя и пароль из настройки Host: драйвер не отправляет такой адрес; данные терминала "
             L"задаются настройками TerminalKey и Password.",
         L"Remove the user name and password from the Host setting: the driver refuses such an address; the terminal's "
             L"credentials are the settings TerminalKey and Password.");
    return false;
  }
  const size_t colon = Url.find(L"://");
  if (colon == std::wstring::npos) return bad(L"has no scheme (https://)");
  const std::wstring scheme = Lower(Url.substr(0, colon));
  if (scheme != L"https" && scheme != L"http") return bad(L"has the scheme '" + scheme + L"': only https and http are used");
  t.Secure = scheme == L"https";
  size_t end = Url.find_first_of(L"/?#", colon + 3);
  if (end == std::wstring::npos) end = Url.size();
  const std::wstring authority = Url.substr(colon + 3, end - colon - 3);
  std::wstring host, port;
  if (!authority.empty() && authority[0] == L'[') {
    const size_t close = authority.find(L']');
    if (close == std::wstring::npos) return bad(L"has an unclosed '['");
    host = authority.substr(1, close - 1);
    if (close + 1 < authority.size()) {
      if (authority[close + 1] != L':') return bad(L"has text after ']'");
      port = authority.substr(close + 2);
    }
  } else {
    const size_t c = authority.find(L':');
    host = authority.substr(0, c);
    if (c != std::wstring::npos) port = authority.substr(c + 1);
  }
  if (host.empty()) return bad(L"has no host name");
  t.Host = host;
  t.Port = t.Secure ? 443 : 80;
  if (!port.empty()) {
    unsigned long v = 0;
    for (wchar_t c : port) {
      if (c < L'0' || c > L'9' || v > 65535) return bad(L"has a bad port '" + port + L"'");
      v = v * 10 + static_cast<unsigned long>(c - L'0');
    }
    if (v == 0 || v > 65535) return bad(L"has a bad port '" + port + L"'");
    t.Port = static_cast<unsigned>(v);
  }
  t.Path = Url.substr(end);
  if (const size_t hash = t.Path.find(L'#'); hash != std::wstring::npos) t.Path.erase(hash);
  if (t.Path.empty() || t.Path[0] != L'/') t.Path.insert(t.Path.begin(), L'/');
  s.Text = scheme + L", host " + host + L", port " + Num(t.Port) + L", path " + t.Path;
  s.Fields = {{L"scheme", scheme}, {L"host", host}, {L"port", Num(t.Port)}, {L"path", t.Path}};
  return true;
}

std::wstring DoctorProxyFor(const std::wstring& List, const std::wstring& Bypass, bool Secure, const std::wstring& Host) {
  const std::wstring host = Lower(Host);
  for (const std::wstring& b : Split(Lower(Bypass), L"; \t")) {
    if (b == L"<local>" ? host.find(L'.') == std::wstring::npos : WildMatch(b, host)) return {};
  }
  std::wstring any;
  for (std::wstring entry : Split(List, L"; \t")) {
    std::wstring scheme;
    if (const size_t eq = entry.find(L'='); eq != std::wstring::npos) {
      scheme = Lower(entry.substr(0, eq));
      entry = entry.substr(eq + 1);
    }
    if (const size_t sep = entry.find(L"://"); sep != std::wstring::npos) entry = entry.substr(sep + 3);
    if (entry.empty()) continue;
    if (scheme == (Secure ? L"https" : L"http")) return entry;
    if (scheme.empty() && any.empty()) any = entry;
  }
  return any;
}

TDoctorStep DoctorTcpStep(const std::wstring& Host, unsigned Port, const std::vector<std::wstring>& Addresses,
                          bool AProxy, unsigned ABudgetMs) {
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  std::vector<sockaddr_storage> list;
  std::vector<int> lengths;
  for (const std::wstring& a : Addresses) {
    sockaddr_storage ss{};
    int len = sizeof ss;
    std::wstring text = a;
    if (WSAStringToAddressW(text.data(), a.find(L':') != std::wstring::npos ? AF_INET6 : AF_INET, nullptr,
                            reinterpret_cast<sockaddr*>(&ss), &len) == 0) {
      list.push_back(ss);
      lengths.push_back(len);
    }
  }
  sockaddr_storage connected{};
  int connectedLength = 0;
  TDoctorStep s = TcpStep(Host, Port, AProxy, list, lengths, connected, connectedLength, ABudgetMs);
  WSACleanup();
  return s;
}

std::vector<TDoctorStep> DoctorNetworkSteps(const std::wstring& Url) {
  std::vector<TDoctorStep> steps;
  TDoctorTarget t;
  steps.emplace_back();
  if (!DoctorParseUrl(Url, t, steps.back())) return steps;

  std::wstring through;
  steps.push_back(ProxyStep(t, through));
  if (!steps.back().Ok) return steps;

  // Through a proxy the computer connects to the proxy, not to the bank.
  std::wstring host = t.Host;
  unsigned port = t.Port;
  bool viaProxy = false;
  if (!through.empty()) {
    TDoctorTarget proxy;
    TDoctorStep ignored;
    if (DoctorParseUrl(L"http://" + through, proxy, ignored)) {
      host = proxy.Host;
      port = proxy.Port;
      viaProxy = true;
    }
  }
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  std::vector<sockaddr_storage> addresses;
  std::vector<int> lengths;
  sockaddr_storage connected{};
  int connectedLength = 0;
  steps.push_back(NameStep(host, viaProxy, addresses, lengths));
  if (steps.back().Ok) steps.push_back(TcpStep(host, port, viaProxy, addresses, lengths, connected, connectedLength));
  WSACleanup();
  if (!steps.back().Ok) return steps;

  TProbe probe;
  steps.push_back(TlsStep(t, through, connected, connectedLength, probe));
  if (!steps.back().Ok) return steps;
  if (!t.Secure) Probe(t, false, probe);
  steps.push_back(HttpStep(t, through, probe));
  if (!steps.back().Ok) return steps;
  steps.push_back(ClockStep(probe));
  return steps;
}

}  // namespace hostconsole
