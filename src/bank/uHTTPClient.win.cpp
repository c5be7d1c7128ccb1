// The WinHTTP transport of the DLL: one session, connection and request per call; every
// time-out and the redirect limit set explicitly (Wine's defaults differ from Windows');
// certificate checks always on; the system proxy.
#include <windows.h>
#include <winhttp.h>

#include <limits>
#include <memory>
#include <string>

#include "platform/uStrings.h"
#include "uBankExceptions.h"
#include "uBankStrings.h"
#include "uHTTPClient.h"

namespace bank {

namespace {

class TInternetHandle {
 public:
  explicit TInternetHandle(HINTERNET AHandle = nullptr) noexcept : FHandle(AHandle) {}
  TInternetHandle(const TInternetHandle&) = delete;
  TInternetHandle& operator=(const TInternetHandle&) = delete;
  ~TInternetHandle() {
    if (FHandle) WinHttpCloseHandle(FHandle);
  }
  HINTERNET Get() const noexcept { return FHandle; }
  explicit operator bool() const noexcept { return FHandle != nullptr; }

 private:
  HINTERNET FHandle;
};

// Strings WinHttpGetIEProxyConfigForCurrentUser hands out.
struct TProxyConfig {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG Data{};
  TProxyConfig() = default;
  TProxyConfig(const TProxyConfig&) = delete;
  TProxyConfig& operator=(const TProxyConfig&) = delete;
  ~TProxyConfig() {
    if (Data.lpszAutoConfigUrl) GlobalFree(Data.lpszAutoConfigUrl);
    if (Data.lpszProxy) GlobalFree(Data.lpszProxy);
    if (Data.lpszProxyBypass) GlobalFree(Data.lpszProxyBypass);
  }
};

// "(code) system text" of a WinHTTP or system error.
std::string ErrorText(DWORD AError) {
  wchar_t* text = nullptr;
  DWORD n = 0;
  if (AError >= WINHTTP_ERROR_BASE && AError <= WINHTTP_ERROR_LAST) {
    n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
                       GetModuleHandleW(L"winhttp.dll"), AError, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  }
  if (n == 0)
    n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, AError, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = n != 0 && text ? std::wstring(text, n) : std::wstring();
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' || message.back() == L' ' ||
                              message.back() == L'.'))
    message.pop_back();
  std::string out = "(" + std::to_string(AError) + ")";
  if (!message.empty()) out += " " + Utf16ToUtf8(message);
  return out;
}

[[noreturn]] void Fail(const char* AStep, DWORD AError) {
  throw EHTTPClientException(FormatText(AStep, ErrorText(AError)));
}

// A session with the system proxy: the automatic mode where the system has it (Windows 8.1
// on), else the user's configured proxy, else none. WPAD detection is never started here.
HINTERNET OpenSession() {
  static const wchar_t* Agent = L"Tolvaro/1.0";
  HINTERNET session = WinHttpOpen(Agent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                  WINHTTP_NO_PROXY_BYPASS, 0);
  if (session) return session;
  TProxyConfig ie;
  if (WinHttpGetIEProxyConfigForCurrentUser(&ie.Data) && ie.Data.lpszProxy && *ie.Data.lpszProxy)
    session = WinHttpOpen(Agent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, ie.Data.lpszProxy,
                          ie.Data.lpszProxyBypass ? ie.Data.lpszProxyBypass : WINHTTP_NO_PROXY_BYPASS, 0);
  if (!session)
    session = WinHttpOpen(Agent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  return session;
}

std::wstring QueryHeaderText(HINTERNET ARequest, DWORD AInfo) {
  DWORD size = 0;
  WinHttpQueryHeaders(ARequest, AInfo, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &size,
                      WINHTTP_NO_HEADER_INDEX);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return {};
  std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
  if (!WinHttpQueryHeaders(ARequest, AInfo, WINHTTP_HEADER_NAME_BY_INDEX, text.data(), &size, WINHTTP_NO_HEADER_INDEX))
    return {};
  text.resize(size / sizeof(wchar_t));
  return text;
}

// The response headers in order, without the status line.
THeaderList ParseRawHeaders(const std::wstring& ARaw) {
  THeaderList out;
  size_t start = ARaw.find(L"\r\n");  // past the status line
  while (start != std::wstring::npos) {
    start += 2;
    const size_t end = ARaw.find(L"\r\n", start);
    const std::wstring line = ARaw.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
    const size_t colon = line.find(L':');
    if (colon != std::wstring::npos && colon > 0) {
      size_t v = colon + 1;
      while (v < line.size() && (line[v] == L' ' || line[v] == L'\t')) ++v;
      out.push_back({Utf16ToUtf8(line.substr(0, colon)), Utf16ToUtf8(line.substr(v))});
    }
    start = end;
  }
  return out;
}

class TWinHTTPClient final : public IHTTPClient {
 public:
  explicit TWinHTTPClient(const THTTPClientOptions& AOptions) : FOptions(AOptions) {}

  THTTPResponse Execute(const std::string& AMethod, const std::string& AURL, const THeaderList& AHeaders,
                        const TStream* ASource, TStream& AContent) override {
    std::wstring url = Utf8ToUtf16(AURL);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength =
        static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts))
      throw EHTTPClientException(FormatText(SHTTPBadURL, AURL + " " + ErrorText(GetLastError())));
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring object(parts.lpszUrlPath, parts.dwUrlPathLength);
    object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (object.empty()) object = L"/";
    const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;

    const TInternetHandle session(OpenSession());
    if (!session) Fail(SHTTPSessionFailed, GetLastError());
    const int connect = FOptions.ConnectionTimeout, response = FOptions.ResponseTimeout;
    if (!WinHttpSetTimeouts(session.Get(), connect, connect, response, response))
      Fail(SHTTPSessionFailed, GetLastError());
    DWORD redirects = static_cast<DWORD>(FOptions.MaxRedirects);
    WinHttpSetOption(session.Get(), WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS, &redirects, sizeof redirects);

    // An IPv6 literal comes out of the URL without its brackets.
    const TInternetHandle connection(WinHttpConnect(session.Get(), host.c_str(), parts.nPort, 0));
    if (!connection) Fail(SHTTPConnectFailed, GetLastError());

    const TInternetHandle request(WinHttpOpenRequest(connection.Get(), Utf8ToUtf16(AMethod).c_str(), object.c_str(),
                                                     nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                     secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request) Fail(SHTTPConnectFailed, GetLastError());
    // Options on the request too: Wine reads some of them there only.
    WinHttpSetTimeouts(request.Get(), connect, connect, response, response);
    DWORD receiveResponse = static_cast<DWORD>(response);
    WinHttpSetOption(request.Get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &receiveResponse, sizeof receiveResponse);
    WinHttpSetOption(request.Get(), WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS, &redirects, sizeof redirects);
    if (FOptions.MaxRedirects <= 0) {
      DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
      WinHttpSetOption(request.Get(), WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof policy);
    }

    if (!AHeaders.empty()) {
      std::wstring headers;
      for (const auto& h : AHeaders) headers += Utf8ToUtf16(h.Name) + L": " + Utf8ToUtf16(h.Value) + L"\r\n";
      if (!WinHttpAddRequestHeaders(request.Get(), headers.c_str(), static_cast<DWORD>(headers.size()),
                                    WINHTTP_ADDREQ_FLAG_ADD))
        Fail(SHTTPSendFailed, GetLastError());
    }

    const std::string* body = ASource ? &ASource->Bytes() : nullptr;
    if (body && body->size() > std::numeric_limits<DWORD>::max()) Fail(SHTTPSendFailed, ERROR_INVALID_PARAMETER);
    const DWORD bodySize = body ? static_cast<DWORD>(body->size()) : 0;
    if (!WinHttpSendRequest(request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                            bodySize ? const_cast<char*>(body->data()) : WINHTTP_NO_REQUEST_DATA, bodySize, bodySize,
                            0))
      Fail(SHTTPSendFailed, GetLastError());
    if (!WinHttpReceiveResponse(request.Get(), nullptr)) Fail(SHTTPReceiveFailed, GetLastError());

    THTTPResponse result;
    DWORD status = 0, size = sizeof status;
    if (!WinHttpQueryHeaders(request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
      Fail(SHTTPReceiveFailed, GetLastError());
    result.StatusCode = static_cast<int>(status);
    result.StatusText = Utf16ToUtf8(QueryHeaderText(request.Get(), WINHTTP_QUERY_STATUS_TEXT));
    result.Headers = ParseRawHeaders(QueryHeaderText(request.Get(), WINHTTP_QUERY_RAW_HEADERS_CRLF));

    // A declared length past the stream's limit is refused before anything is read.
    DWORD64 declared = 0;
    for (const auto& h : result.Headers) {
      if (_stricmp(h.Name.c_str(), "Content-Length") == 0) declared = _strtoui64(h.Value.c_str(), nullptr, 10);
    }
    if (declared > AContent.Limit()) throw EHTTPBridgeException(SResponseTooLarge);

    std::string chunk;
    for (;;) {
      DWORD available = 0;
      if (!WinHttpQueryDataAvailable(request.Get(), &available)) Fail(SHTTPReceiveFailed, GetLastError());
      if (available == 0) break;
      chunk.resize(std::min<DWORD>(available, 1u << 16));
      DWORD read = 0;
      if (!WinHttpReadData(request.Get(), chunk.data(), static_cast<DWORD>(chunk.size()), &read))
        Fail(SHTTPReceiveFailed, GetLastError());
      if (read == 0) break;
      AContent.Write(std::string_view(chunk.data(), read));  // raises past the limit
    }
    return result;
  }

 private:
  THTTPClientOptions FOptions;
};

class TWinHTTPClientFactory final : public IHTTPClientFactory {
 public:
  std::unique_ptr<IHTTPClient> CreateClient(const THTTPClientOptions& AOptions) override {
    return std::make_unique<TWinHTTPClient>(AOptions);
  }
};

}  // namespace

std::shared_ptr<IHTTPClientFactory> PlatformHTTPClientFactory() {
  static const std::shared_ptr<IHTTPClientFactory> Factory = std::make_shared<TWinHTTPClientFactory>();
  return Factory;
}

}  // namespace bank
