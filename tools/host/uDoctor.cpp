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
#include <cstdio>
#include <cwchar>

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

struct TIeProxy {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG D{};
  bool Read = false;
  TIeProxy() { Read = WinHttpGetIEProxyConfigForCurrentUser(&D) != FALSE; }
  TIeProxy(const TIeProxy&) = delete;
  TIeProxy& operator=(const TIeProxy&) = delete;
  ~TIeProxy() {
    if (D.lpszAutoConfigUrl) GlobalFree(D.lpszAutoConfigUrl);
    if (D.lpszProxy) GlobalFree(D.lpszProxy);
    if (D.lpszProxyBypass) GlobalFree(D.lpszProxyBypass);
  }
};

constexpr wchar_t kAgent[] = L"Tolvaro/1.0";

// A session opened as the driver's transport opens it (src/bank, uHTTPClient.win.cpp): the
// automatic mode where the system has it (Windows 8.1 on), else the user's named proxy, else
// none. Mode says which, for the proxy step.
HINTERNET OpenDriverSession(std::wstring* Mode, std::wstring* Named, std::wstring* Bypass) {
  HINTERNET s = WinHttpOpen(kAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  if (s) {
    if (Mode) *Mode = L"automatic";
    return s;
  }
  TIeProxy ie;
  if (ie.Read && ie.D.lpszProxy && *ie.D.lpszProxy) {
    s = WinHttpOpen(kAgent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, ie.D.lpszProxy,
                    ie.D.lpszProxyBypass ? ie.D.lpszProxyBypass : WINHTTP_NO_PROXY_BYPASS, 0);
    if (s) {
      if (Mode) *Mode = L"named";
      if (Named) *Named = ie.D.lpszProxy;
      if (Bypass && ie.D.lpszProxyBypass) *Bypass = ie.D.lpszProxyBypass;
      return s;
    }
  }
  s = WinHttpOpen(kAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  if (s && Mode) *Mode = L"none";
  return s;
}

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

TDoctorStep ProxyStep(const TDoctorTarget& t, std::wstring& Through) {
  TDoctorStep s{L"proxy"};
  std::wstring mode, named, bypass;
  THandle session(OpenDriverSession(&mode, &named, &bypass));
  if (!session.H) {
    const DWORD e = GetLastError();
    Fail(s, L"WinHTTP opens no session: " + SystemText(e),
         L"Системная библиотека WinHTTP не работает: переустановите обновления Windows или обратитесь к администратору.",
         L"The system's WinHTTP does not work: repair the Windows updates or ask the administrator.");
    return s;
  }
  s.Fields.push_back({L"mode", mode});
  if (mode == L"named") {
    Through = DoctorProxyFor(named, bypass, t.Secure, t.Host);
    s.Text = L"named proxy " + named + (Through.empty() ? L" (bypassed for " + t.Host + L": direct)" : L"");
  } else if (mode == L"none") {
    s.Text = L"none: direct connection";
  } else {
    // The automatic mode follows the system's and the user's settings; say what they hold.
    TIeProxy ie;
    if (ie.Read && ie.D.lpszProxy && *ie.D.lpszProxy) {
      Through = DoctorProxyFor(ie.D.lpszProxy, ie.D.lpszProxyBypass ? ie.D.lpszProxyBypass : L"", t.Secure, t.Host);
      s.Text = L"automatic: the user's proxy " + std::wstring(ie.D.lpszProxy) +
               (Through.empty() ? L" (bypassed for " + t.Host + L": direct)" : L"");
    } else if (ie.Read && ie.D.lpszAutoConfigUrl && *ie.D.lpszAutoConfigUrl) {
      s.Text = L"automatic: proxy script " + std::wstring(ie.D.lpszAutoConfigUrl) + L" (the steps below go direct)";
    } else if (ie.Read && ie.D.fAutoDetect) {
      s.Text = L"automatic: proxy auto-detection is on (the steps below go direct)";
    } else {
      s.Text = L"automatic: no proxy configured, direct connection";
    }
  }
  if (!Through.empty()) s.Fields.push_back({L"proxy", Through});
  return s;
}

TDoctorStep NameStep(const std::wstring& Host, std::vector<sockaddr_storage>& Addresses, std::vector<int>& Lengths) {
  TDoctorStep s{L"name"};
  ADDRINFOW hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  ADDRINFOW* list = nullptr;
  const int rc = GetAddrInfoW(Host.c_str(), nullptr, &hints, &list);
  if (rc != 0 || !list) {
    Fail(s, L"the name " + Host + L" does not resolve: " + SystemText(static_cast<DWORD>(rc)),
         L"Имя " + Host + L" не найдено. Проверьте адрес в настройке Host (нет ли опечатки) и DNS этого компьютера: "
             L"nslookup " + Host + L".",
         L"The name " + Host + L" does not resolve. Check the Host setting for a typing mistake and this computer's DNS: "
             L"nslookup " + Host + L".");
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
  s.Text = Host + L" is " + text;
  s.Fields.push_back({L"addresses", text});
  return s;
}

TDoctorStep TcpStep(const std::wstring& Host, unsigned Port, std::vector<sockaddr_storage>& Addresses,
                    const std::vector<int>& Lengths) {
  TDoctorStep s{L"tcp"};
  std::wstring tried;
  bool timedOut = false;
  for (size_t i = 0; i < Addresses.size(); ++i) {
    sockaddr_storage& ss = Addresses[i];
    if (ss.ss_family == AF_INET6)
      reinterpret_cast<sockaddr_in6&>(ss).sin6_port = htons(static_cast<u_short>(Port));
    else
      reinterpret_cast<sockaddr_in&>(ss).sin_port = htons(static_cast<u_short>(Port));
    SOCKET sock = socket(ss.ss_family, SOCK_STREAM, IPPROTO_TCP);
    if (sock == INVALID_SOCKET) continue;
    u_long nonBlocking = 1;
    ioctlsocket(sock, FIONBIO, &nonBlocking);
    const ULONGLONG start = GetTickCount64();
    int error = 0;
    if (connect(sock, reinterpret_cast<sockaddr*>(&ss), Lengths[i]) != 0) {
      error = WSAGetLastError();
      if (error == WSAEWOULDBLOCK) {
        fd_set w, x;
        FD_ZERO(&w);
        FD_ZERO(&x);
        FD_SET(sock, &w);
        FD_SET(sock, &x);
        timeval tv{static_cast<long>(kWaitMs / 1000), 0};
        const int n = select(0, nullptr, &w, &x, &tv);
        if (n == 0) {
          error = WSAETIMEDOUT;
        } else {
          int soError = 0, len = sizeof soError;
          getsockopt(sock, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &len);
          error = FD_ISSET(sock, &w) && soError == 0 ? 0 : (soError ? soError : WSAECONNREFUSED);
        }
      }
    }
    closesocket(sock);
    wchar_t buf[INET6_ADDRSTRLEN + 8] = {};
    DWORD n = INET6_ADDRSTRLEN + 8;
    WSAAddressToStringW(reinterpret_cast<sockaddr*>(&ss), static_cast<DWORD>(Lengths[i]), nullptr, buf, &n);
    if (error == 0) {
      s.Text = L"connected to " + std::wstring(buf) + L" in " + Num(static_cast<long long>(GetTickCount64() - start)) + L" ms";
      s.Fields.push_back({L"address", buf});
      return s;
    }
    timedOut = timedOut || error == WSAETIMEDOUT;
    tried += (tried.empty() ? L"" : L"; ") + std::wstring(buf) + L": " + SystemText(static_cast<DWORD>(error));
  }
  const std::wstring where = HostPort(Host, Port);
  if (timedOut)
    Fail(s, L"no connection to " + where + L" within " + Num(kWaitMs / 1000) + L" s (" + tried + L")",
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

// What one request through a driver-like session gave.
struct TProbe {
  DWORD Error = 0;
  DWORD SecureFailure = 0;  // WINHTTP_CALLBACK_STATUS_FLAG_*, when the system reports them
  PCCERT_CONTEXT Cert = nullptr;
  bool HasDate = false;
  SYSTEMTIME Date{};
  ~TProbe() {
    if (Cert) CertFreeCertificateContext(Cert);
  }
};

void CALLBACK OnStatus(HINTERNET, DWORD_PTR Context, DWORD Status, LPVOID Info, DWORD Length) {
  if (Status == WINHTTP_CALLBACK_STATUS_SECURE_FAILURE && Info && Length >= sizeof(DWORD))
    reinterpret_cast<TProbe*>(Context)->SecureFailure |= *static_cast<DWORD*>(Info);
}

// A GET of the Host URL. Lenient: certificate errors ignored so the certificate can be read
// and judged here (nothing of a payment is sent). Protocols 0: the system's.
void Probe(const TDoctorTarget& t, bool Lenient, DWORD Protocols, TProbe& p) {
  THandle session(OpenDriverSession(nullptr, nullptr, nullptr));
  if (!session.H) {
    p.Error = GetLastError();
    return;
  }
  WinHttpSetTimeouts(session.H, kWaitMs, kWaitMs, kWaitMs, kWaitMs);
  if (Protocols) WinHttpSetOption(session.H, WINHTTP_OPTION_SECURE_PROTOCOLS, &Protocols, sizeof Protocols);
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
  WinHttpSetStatusCallback(request.H, OnStatus, WINHTTP_CALLBACK_FLAG_SECURE_FAILURE, 0);
  if (Lenient && t.Secure) {
    DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                  SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
    WinHttpSetOption(request.H, WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
  }
  if (!WinHttpSendRequest(request.H, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
      !WinHttpReceiveResponse(request.H, nullptr)) {
    p.Error = GetLastError();
    return;
  }
  if (t.Secure) {
    PCCERT_CONTEXT cert = nullptr;
    DWORD size = sizeof cert;
    if (WinHttpQueryOption(request.H, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &cert, &size)) p.Cert = cert;
  }
  DWORD size = sizeof p.Date;
  p.HasDate = WinHttpQueryHeaders(request.H, WINHTTP_QUERY_DATE | WINHTTP_QUERY_FLAG_SYSTEMTIME,
                                  WINHTTP_HEADER_NAME_BY_INDEX, &p.Date, &size, WINHTTP_NO_HEADER_INDEX) != FALSE;
}

std::wstring CertName(PCCERT_CONTEXT c, DWORD Which) {
  wchar_t buf[512] = {};
  DWORD type = CERT_X500_NAME_STR;
  CertGetNameStringW(c, CERT_NAME_RDN_TYPE, Which, &type, buf, 512);
  return buf;
}

// The protocol the system's TLS agrees on with the server, by its own handshake on a socket
// (WinHTTP tells it only from Windows 10 build 20348 on). Certificates are judged elsewhere.
std::wstring HandshakeProtocol(const TDoctorTarget& t) {
  std::wstring result = L"unknown";
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return result;
  ADDRINFOW hints{};
  hints.ai_socktype = SOCK_STREAM;
  ADDRINFOW* list = nullptr;
  SOCKET sock = INVALID_SOCKET;
  if (GetAddrInfoW(t.Host.c_str(), std::to_wstring(t.Port).c_str(), &hints, &list) == 0) {
    for (ADDRINFOW* a = list; a && sock == INVALID_SOCKET; a = a->ai_next) {
      sock = socket(a->ai_family, SOCK_STREAM, IPPROTO_TCP);
      if (sock == INVALID_SOCKET) continue;
      DWORD wait = kWaitMs;
      setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&wait), sizeof wait);
      setsockopt(sock, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&wait), sizeof wait);
      if (connect(sock, a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0) {
        closesocket(sock);
        sock = INVALID_SOCKET;
      }
    }
    FreeAddrInfoW(list);
  }
  if (sock == INVALID_SOCKET) {
    WSACleanup();
    return result;
  }
  SCHANNEL_CRED cred{};
  cred.dwVersion = SCHANNEL_CRED_VERSION;
  cred.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
  CredHandle credentials{};
  TimeStamp expiry{};
  if (AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr, &cred, nullptr,
                                nullptr, &credentials, &expiry) == SEC_E_OK) {
    CtxtHandle context{};
    bool haveContext = false;
    std::wstring name = t.Host;
    std::string in;
    const ULONG want = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY |
                       ISC_REQ_STREAM | ISC_REQ_MANUAL_CRED_VALIDATION;
    SECURITY_STATUS status = SEC_I_CONTINUE_NEEDED;
    // A handshake takes a few round trips; a server that never finishes one (or drips it) is
    // cut off after one wait's length in all.
    const ULONGLONG started = GetTickCount64();
    for (int round = 0; round < 32 && GetTickCount64() - started < kWaitMs &&
                        (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_INCOMPLETE_MESSAGE);
         ++round) {
      if (haveContext && (in.empty() || status == SEC_E_INCOMPLETE_MESSAGE)) {
        char buf[16384];
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
        if (outBuffer.cbBuffer) send(sock, static_cast<const char*>(outBuffer.pvBuffer), static_cast<int>(outBuffer.cbBuffer), 0);
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
        if (p & 0x3000) result = L"TLS 1.3";  // SP_PROT_TLS1_3
        else if (p & SP_PROT_TLS1_2) result = L"TLS 1.2";
        else if (p & SP_PROT_TLS1_1) result = L"TLS 1.1";
        else if (p & SP_PROT_TLS1_0) result = L"TLS 1.0";
        else if (p & SP_PROT_SSL3) result = L"SSL 3.0";
      }
    }
    if (haveContext) DeleteSecurityContext(&context);
    FreeCredentialsHandle(&credentials);
  }
  closesocket(sock);
  WSACleanup();
  return result;
}

TDoctorStep TlsStep(const TDoctorTarget& t, const std::wstring& Through, TProbe& lenient) {
  TDoctorStep s{L"tls"};
  if (!t.Secure) {
    s.Text = L"not used: the Host URL is plain http (nothing is encrypted; banks take https only)";
    return s;
  }
  Probe(t, true, 0, lenient);
  if (lenient.Error) {
    const bool handshake = lenient.Error == ERROR_WINHTTP_SECURE_FAILURE || lenient.Error == ERROR_WINHTTP_SECURE_CHANNEL_ERROR ||
                           (lenient.SecureFailure & WINHTTP_CALLBACK_STATUS_FLAG_SECURITY_CHANNEL_ERROR);
    if (handshake)
      Fail(s, L"the TLS handshake with " + HostPort(t.Host, t.Port) + L" failed: " + SystemText(lenient.Error),
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

  // The protocol, from a handshake of our own with the system's TLS (Schannel) and its
  // defaults, which the driver's requests use too. Not through a named proxy.
  std::wstring protocol = Through.empty() ? HandshakeProtocol(t) : L"not checked (through a proxy)";
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

bool DoctorParseUrl(const std::wstring& Url, TDoctorTarget& t, TDoctorStep& s) {
  s.Name = L"url";
  const auto bad = [&](const std::wstring& why) {
    Fail(s, L"the Host setting '" + Url + L"' " + why,
         L"Исправьте настройку Host: адрес API банка вида https://bank.example/v2, без имени пользователя и пароля.",
         L"Fix the Host setting: the bank API's address, like https://bank.example/v2, without a user name or password.");
    return false;
  };
  if (Url.empty()) return bad(L"is empty");
  const size_t colon = Url.find(L"://");
  if (colon == std::wstring::npos) return bad(L"has no scheme (https://)");
  const std::wstring scheme = Lower(Url.substr(0, colon));
  if (scheme != L"https" && scheme != L"http") return bad(L"has the scheme '" + scheme + L"': only https and http are used");
  t.Secure = scheme == L"https";
  size_t end = Url.find_first_of(L"/?#", colon + 3);
  if (end == std::wstring::npos) end = Url.size();
  const std::wstring authority = Url.substr(colon + 3, end - colon - 3);
  // The credentials themselves are never repeated.
  if (authority.find(L'@') != std::wstring::npos) {
    Fail(s, L"the Host setting carries a user name or password",
         L"Уберите имя пользователя и пароль из настройки Host: драйвер не отправляет такой адрес; данные терминала "
             L"задаются настройками TerminalKey и Password.",
         L"Remove the user name and password from the Host setting: the driver refuses such an address; the terminal's "
             L"credentials are the settings TerminalKey and Password.");
    return false;
  }
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

std::vector<TDoctorStep> DoctorNetworkSteps(const std::wstring& Url) {
  std::vector<TDoctorStep> steps;
  TDoctorTarget t;
  steps.emplace_back();
  if (!DoctorParseUrl(Url, t, steps.back())) return steps;

  std::wstring through;
  steps.push_back(ProxyStep(t, through));
  if (!steps.back().Ok) return steps;

  // Through a named proxy the computer connects to the proxy, not to the bank.
  std::wstring host = t.Host;
  unsigned port = t.Port;
  if (!through.empty()) {
    TDoctorTarget proxy;
    TDoctorStep ignored;
    if (DoctorParseUrl(L"http://" + through, proxy, ignored)) {
      host = proxy.Host;
      port = proxy.Port;
    }
  }
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  std::vector<sockaddr_storage> addresses;
  std::vector<int> lengths;
  steps.push_back(NameStep(host, addresses, lengths));
  if (steps.back().Ok) steps.push_back(TcpStep(host, port, addresses, lengths));
  WSACleanup();
  if (!steps.back().Ok) return steps;

  TProbe probe;
  steps.push_back(TlsStep(t, through, probe));
  if (!steps.back().Ok) return steps;
  if (!t.Secure) Probe(t, false, 0, probe);
  if (probe.Error) {
    TDoctorStep s{L"clock"};
    Fail(s, L"no answer over HTTP from " + HostPort(t.Host, t.Port) + L": " + SystemText(probe.Error),
         L"Сервер принимает соединение, но не отвечает по HTTP: проверьте схему и порт в настройке Host.",
         L"The server takes the connection but does not answer HTTP: check the scheme and port in the Host setting.");
    steps.push_back(s);
    return steps;
  }
  steps.push_back(ClockStep(probe));
  return steps;
}

}  // namespace hostconsole
