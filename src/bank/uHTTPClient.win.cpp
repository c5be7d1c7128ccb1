// The WinHTTP transport of the DLL: one session per client for the client's life (its
// connections and TLS sessions are reused from one request to the next), a connection handle
// and a request per call; every time-out and the redirect limit set explicitly (Wine's
// defaults differ from Windows'); certificate checks always on; the system proxy.
//
// Every call is bounded as a whole, from its first step, by connect + response time-out. The
// session is asynchronous for that: a synchronous WinHTTP call may not be cut short from another
// thread (closing a handle in use by a synchronous call races with the handle's reuse), while an
// asynchronous request is ended by closing its handle, the documented way. The calling thread
// starts each step, waits for its completion with what is left of the budget and, when that is
// spent, closes the request and raises. WinHTTP may still call back for a closed request (Wine's
// closing does not stop a step that is under way: the step ends by its own time-out or by the
// server), so what a step uses lives in a counted state that the last callback frees.
//
// A request is never sent twice because a kept connection was reused. WinHTTP's own retry of
// a request on a stale kept connection is an opt-in feature (WINHTTP_OPTION_FAILED_CONNECTION_
// RETRIES, condition WINHTTP_CONNECTION_RETRY_CONDITION_STALE_CONNECTION): the session sets it
// to no retries explicitly, and where the option is unknown there is nothing to opt out of.
// Wine checks a pooled connection with a non-blocking peek before it reuses it (one the server
// closed is dropped and a new one opened, before anything is sent) and resends nothing: a
// request that fails on a reused connection fails. This transport never retries either.
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <atomic>
#include <limits>
#include <memory>
#include <mutex>
#include <string>

#include "platform/uStrings.h"
#include "uBankExceptions.h"
#include "uBankStrings.h"
#include "uHTTPClient.h"
#include "uJSON.h"
#include "uWinHttpSession.h"

namespace bank {

namespace {

// Newer than the toolchain's header; values as Microsoft documents them.
constexpr DWORD OptionFailedConnectionRetries = 162;  // WINHTTP_OPTION_FAILED_CONNECTION_RETRIES
struct TFailedConnectionRetries {                     // WINHTTP_FAILED_CONNECTION_RETRIES
  DWORD dwMaxRetries;
  DWORD dwAllowedRetryConditions;
};

class TInternetHandle {
 public:
  explicit TInternetHandle(HINTERNET AHandle = nullptr) noexcept : FHandle(AHandle) {}
  TInternetHandle(const TInternetHandle&) = delete;
  TInternetHandle& operator=(const TInternetHandle&) = delete;
  ~TInternetHandle() {
    if (FHandle) WinHttpCloseHandle(FHandle);
  }
  HINTERNET Get() const noexcept { return FHandle; }
  HINTERNET Release() noexcept {
    const HINTERNET handle = FHandle;
    FHandle = nullptr;
    return handle;
  }
  explicit operator bool() const noexcept { return FHandle != nullptr; }

 private:
  HINTERNET FHandle;
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
  // Wine reports an expired receive time-out as the socket's WSAETIMEDOUT: the same failure.
  if (AError == WSAETIMEDOUT) AError = ERROR_WINHTTP_TIMEOUT;
  throw EHTTPClientException(FormatText(AStep, ErrorText(AError)));
}

std::atomic<void (*)() noexcept> GModuleLock{nullptr};
std::atomic<void (*)() noexcept> GModuleUnlock{nullptr};

// One request's asynchronous side: what its status callback shares with the call that waits,
// and the buffers a step may still use after that call gave up. Counted: one reference for the
// call, one for the request handle, dropped at WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING (the
// last callback of a handle). While it lives, the module stays loaded.
class TAsyncRequest {
 public:
  // One reference, the caller's.
  static TAsyncRequest* Create() { return new TAsyncRequest(); }
  TAsyncRequest(const TAsyncRequest&) = delete;
  TAsyncRequest& operator=(const TAsyncRequest&) = delete;

  void AddRef() noexcept { ++FRefs; }
  void Release() noexcept {
    if (--FRefs != 0) return;
    const auto unlock = FUnlock;
    delete this;
    if (unlock) unlock();  // last: nothing of this module runs for the request after it
  }

  // Makes ARequest call back here; the handle holds a reference from now until it closes.
  // Raises when the callback cannot be set (no reference is then held for the handle).
  void Attach(HINTERNET ARequest) {
    DWORD_PTR context = reinterpret_cast<DWORD_PTR>(this);
    if (!WinHttpSetOption(ARequest, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context))
      Fail(SHTTPSendFailed, GetLastError());
    AddRef();
    if (WinHttpSetStatusCallback(ARequest, &TAsyncRequest::Callback,
                                 WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES,
                                 0) == WINHTTP_INVALID_STATUS_CALLBACK) {
      const DWORD error = GetLastError();
      Release();
      Fail(SHTTPSendFailed, error);
    }
  }

  // Before a step starts: nothing completed yet.
  void Arm() noexcept {
    AcquireSRWLockExclusive(&FLock);
    FStatus = 0;
    ReleaseSRWLockExclusive(&FLock);
  }
  // The step's completion, waited for at most AMs; false when it did not come in time. A step
  // that completed inside the call that started it is not waited for at all.
  bool Wait(DWORD AMs) {
    const ULONGLONG deadline = GetTickCount64() + AMs;
    AcquireSRWLockExclusive(&FLock);
    while (FStatus == 0) {
      const ULONGLONG now = GetTickCount64();
      if (now >= deadline) break;
      if (!SleepConditionVariableSRW(&FDone, &FLock, static_cast<DWORD>(deadline - now), 0) &&
          GetLastError() != ERROR_TIMEOUT) {
        const DWORD error = GetLastError();
        ReleaseSRWLockExclusive(&FLock);
        Fail(SHTTPReceiveFailed, error);
      }
    }
    const bool done = FStatus != 0;
    ReleaseSRWLockExclusive(&FLock);
    return done;
  }
  // What the step's completion said; read after Wait returned true.
  DWORD Status() const noexcept { return FStatus; }
  DWORD Error() const noexcept { return FError; }
  DWORD_PTR FailedApi() const noexcept { return FApi; }
  DWORD Bytes() const noexcept { return FBytes; }

  std::string Body;  // sent with the request: WinHTTP reads it until the answer's headers
  std::string Buffer;  // what a read fills; grown to what the reads ask for

 private:
  TAsyncRequest() {
    // Last: nothing after it can fail, so every lock taken is released by Release.
    const auto unlock = GModuleUnlock.load();
    if (const auto lock = GModuleLock.load(); lock && unlock) {
      lock();
      FUnlock = unlock;
    }
  }
  ~TAsyncRequest() = default;

  static void CALLBACK Callback(HINTERNET, DWORD_PTR AContext, DWORD AStatus, LPVOID AInfo, DWORD AInfoLength) noexcept {
    auto* self = reinterpret_cast<TAsyncRequest*>(AContext);
    if (!self) return;
    if (AStatus == WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING) {
      self->Release();
      return;
    }
    AcquireSRWLockExclusive(&self->FLock);
    switch (AStatus) {
      case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
        if (AInfo) {
          const auto* result = static_cast<const WINHTTP_ASYNC_RESULT*>(AInfo);
          self->FApi = result->dwResult;
          self->FError = result->dwError;
        } else {
          self->FApi = API_RECEIVE_RESPONSE;
          self->FError = ERROR_WINHTTP_INTERNAL_ERROR;
        }
        break;
      case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
        self->FBytes = AInfo ? *static_cast<const DWORD*>(AInfo) : 0;
        break;
      case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
        self->FBytes = AInfoLength;
        break;
      case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
      case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
        break;
      default:
        ReleaseSRWLockExclusive(&self->FLock);
        return;  // not a completion of ours
    }
    self->FStatus = AStatus;
    ReleaseSRWLockExclusive(&self->FLock);
    // WinHTTP's last callback for the handle (HANDLE_CLOSING) comes only after this one: the
    // state is still there.
    WakeAllConditionVariable(&self->FDone);
  }

  std::atomic<long> FRefs{1};
  void (*FUnlock)() noexcept = nullptr;
  // A step's completion, under FLock. A slim lock and a condition variable rather than an
  // event: under Wine they cost no round trip to its server.
  SRWLOCK FLock = SRWLOCK_INIT;
  CONDITION_VARIABLE FDone = CONDITION_VARIABLE_INIT;
  DWORD FStatus = 0, FError = 0, FBytes = 0;
  DWORD_PTR FApi = 0;
};

// The call's reference to its request's state.
class TAsyncRequestRef {
 public:
  explicit TAsyncRequestRef(TAsyncRequest* AState) noexcept : FState(AState) {}
  ~TAsyncRequestRef() { FState->Release(); }
  TAsyncRequestRef(const TAsyncRequestRef&) = delete;
  TAsyncRequestRef& operator=(const TAsyncRequestRef&) = delete;
  TAsyncRequest* operator->() const noexcept { return FState; }
  TAsyncRequest* Get() const noexcept { return FState; }

 private:
  TAsyncRequest* FState;
};

// A header text as the server sent its bytes. WinHTTP widens header bytes with the ANSI code
// page; UTF-8 bytes (a Russian reason phrase) are taken back when that is lossless.
std::string HeaderText(const std::wstring& AText) {
  bool ascii = true;
  for (const wchar_t c : AText) ascii = ascii && c < 0x80;
  if (ascii || AText.empty()) return Utf16ToUtf8(AText);
  BOOL lossy = FALSE;
  const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, AText.data(), static_cast<int>(AText.size()),
                                    nullptr, 0, nullptr, &lossy);
  if (n > 0 && !lossy) {
    std::string bytes(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, AText.data(), static_cast<int>(AText.size()), bytes.data(), n,
                        nullptr, &lossy);
    if (!lossy && IsValidUtf8(bytes)) return bytes;
  }
  return Utf16ToUtf8(AText);
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
      out.push_back({HeaderText(line.substr(0, colon)), HeaderText(line.substr(v))});
    }
    start = end;
  }
  return out;
}

struct TTarget {
  bool Secure = false;
  std::wstring Host;    // an IPv6 literal without its brackets
  INTERNET_PORT Port = 0;
  std::wstring Object;  // path and query
};

// Scheme, host, port and path of an http(s) URL. Parsed here: Wine's WinHttpCrackUrl cuts an
// IPv6 literal ("[::1]") at its first colon.
TTarget ParseUrl(const std::string& AURL) {
  const auto bad = [&] { return EHTTPClientException(FormatText(SHTTPBadURL, MaskUrlCredentials(AURL))); };
  TTarget t;
  const size_t colon = AURL.find("://");
  if (colon == std::string::npos) throw bad();
  std::string scheme = AURL.substr(0, colon);
  for (char& c : scheme)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  if (scheme == "https")
    t.Secure = true;
  else if (scheme != "http")
    throw bad();
  const size_t hostStart = colon + 3;
  size_t end = AURL.find_first_of("/?#", hostStart);
  if (end == std::string::npos) end = AURL.size();
  const std::string authority = AURL.substr(hostStart, end - hostStart);
  if (UrlHasCredentials(AURL)) throw EHTTPClientException(SHTTPCredentialsInURL);
  std::string host, port;
  if (!authority.empty() && authority.front() == '[') {
    const size_t close = authority.find(']');
    if (close == std::string::npos) throw bad();
    host = authority.substr(1, close - 1);
    if (close + 1 < authority.size()) {
      if (authority[close + 1] != ':') throw bad();
      port = authority.substr(close + 2);
    }
  } else {
    const size_t c = authority.find(':');
    host = authority.substr(0, c);
    if (c != std::string::npos) port = authority.substr(c + 1);
  }
  if (host.empty()) throw bad();
  t.Host = Utf8ToUtf16(host);
  t.Port = t.Secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
  if (!port.empty()) {
    unsigned long value = 0;
    for (const char c : port) {
      if (c < '0' || c > '9' || value > 65535) throw bad();
      value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    if (value == 0 || value > 65535) throw bad();
    t.Port = static_cast<INTERNET_PORT>(value);
  }
  std::string object = AURL.substr(end);
  if (const size_t hash = object.find('#'); hash != std::string::npos) object.erase(hash);
  if (object.empty() || object.front() != '/') object.insert(object.begin(), '/');
  t.Object = Utf8ToUtf16(object);
  return t;
}

class TWinHTTPClient final : public IHTTPClient {
 public:
  explicit TWinHTTPClient(const THTTPClientOptions& AOptions) : FOptions(AOptions) {}
  ~TWinHTTPClient() override {
    // The last reference goes once no call runs: the session (and with it, on Windows, its
    // pooled connections) ends here.
    if (FSession) WinHttpCloseHandle(FSession);
  }
  TWinHTTPClient(const TWinHTTPClient&) = delete;
  TWinHTTPClient& operator=(const TWinHTTPClient&) = delete;

  THTTPResponse Execute(const std::string& AMethod, const std::string& AURL, const THeaderList& AHeaders,
                        const TStream* ASource, TStream& AContent) override {
    // The time-outs are per step, and a read's per read: a server that sends a byte now and
    // then would keep the host's thread here for ever. The whole call gets connect + response
    // time-out from here on: each step waits for what is left of that, and none starts once it
    // is spent.
    const ULONGLONG started = GetTickCount64();
    const int connect = FOptions.ConnectionTimeout, response = FOptions.ResponseTimeout;
    const ULONGLONG budget = std::min<ULONGLONG>(
        static_cast<ULONGLONG>(std::max(connect, 0)) + static_cast<ULONGLONG>(std::max(response, 0)), INFINITE - 1);
    const auto tooLong = [&] { return EHTTPClientException(FormatText(SHTTPCallTooLong, std::to_string(budget))); };
    const auto left = [&]() -> DWORD {
      const ULONGLONG spent = GetTickCount64() - started;
      return spent >= budget ? 0 : static_cast<DWORD>(budget - spent);
    };

    const TTarget target = ParseUrl(AURL);
    const std::wstring& host = target.Host;
    const std::wstring& object = target.Object;
    const bool secure = target.Secure;

    const HINTERNET session = Session();
    DWORD redirects = static_cast<DWORD>(FOptions.MaxRedirects);

    const TInternetHandle connection(WinHttpConnect(session, host.c_str(), target.Port, 0));
    if (!connection) Fail(SHTTPConnectFailed, GetLastError());

    const TInternetHandle request(WinHttpOpenRequest(connection.Get(), Utf8ToUtf16(AMethod).c_str(), object.c_str(),
                                                     nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                     secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request) Fail(SHTTPConnectFailed, GetLastError());
    // Options on the request too: Wine reads some of them there only.
    WinHttpSetTimeouts(request.Get(), 0, connect, response, response);
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

    // From here on the request runs asynchronously. Declared after the request handle, so the
    // call's reference goes before the handle closes; the handle's goes with its last callback.
    const TAsyncRequestRef state(TAsyncRequest::Create());
    if (body) state->Body = *body;
    state->Attach(request.Get());

    // Runs one step: AStart begins it, its completion is waited for with what is left of the
    // budget. Past the budget the request handle closes as this unwinds, which ends the
    // request: on Windows at once; under Wine the step under way goes on to its own time-out
    // or to the server's end, and nobody waits for it.
    int stepConnect = connect, stepResponse = response;  // the request's time-outs as last set
    const auto step = [&](const char* AFailure, auto AStart) {
      const DWORD remaining = left();
      if (remaining == 0) throw tooLong();
      // The step's own time-outs end a second past what is left: the call's bound comes first
      // (and says so), and a step that goes on under Wine ends soon after. Set only when that
      // shortens them: on an open connection every setting is a call into the socket.
      const auto cut = [&](int ALimit) {
        return static_cast<int>(
            std::min<ULONGLONG>(static_cast<ULONGLONG>(std::max(ALimit, 1)), static_cast<ULONGLONG>(remaining) + 1000));
      };
      if (cut(connect) != stepConnect || cut(response) != stepResponse) {
        stepConnect = cut(connect);
        stepResponse = cut(response);
        WinHttpSetTimeouts(request.Get(), 0, stepConnect, stepResponse, stepResponse);
        DWORD wait = static_cast<DWORD>(stepResponse);
        WinHttpSetOption(request.Get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &wait, sizeof wait);
      }
      state->Arm();
      if (!AStart()) Fail(AFailure, GetLastError());
      if (!state->Wait(remaining)) throw tooLong();
      if (state->Status() == WINHTTP_CALLBACK_STATUS_REQUEST_ERROR)
        Fail(state->FailedApi() == API_SEND_REQUEST ? SHTTPSendFailed : SHTTPReceiveFailed, state->Error());
    };

    // The body goes with the send call (never WinHttpWriteData after it), so WinHTTP can put
    // headers and body on the wire together. Wine writes them in two sends all the same,
    // which against a server that delays its ACK costs a wait: Wine's, not ours to bend.
    step(SHTTPSendFailed, [&] {
      return WinHttpSendRequest(request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                bodySize ? state->Body.data() : WINHTTP_NO_REQUEST_DATA, bodySize, bodySize,
                                reinterpret_cast<DWORD_PTR>(state.Get()));
    });
    step(SHTTPReceiveFailed, [&] { return WinHttpReceiveResponse(request.Get(), nullptr); });

    THTTPResponse result;
    DWORD status = 0, size = sizeof status;
    if (!WinHttpQueryHeaders(request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
      Fail(SHTTPReceiveFailed, GetLastError());
    result.StatusCode = static_cast<int>(status);
    result.StatusText = HeaderText(QueryHeaderText(request.Get(), WINHTTP_QUERY_STATUS_TEXT));
    result.Headers = ParseRawHeaders(QueryHeaderText(request.Get(), WINHTTP_QUERY_RAW_HEADERS_CRLF));

    // A declared length past the stream's limit is refused before anything is read.
    DWORD64 declared = 0;
    bool hasLength = false;
    for (const auto& h : result.Headers) {
      if (_stricmp(h.Name.c_str(), "Content-Length") == 0) {
        declared = _strtoui64(h.Value.c_str(), nullptr, 10);
        hasLength = true;
      }
    }
    if (declared > AContent.Limit()) throw EHTTPBridgeException(SResponseTooLarge);

    DWORD64 received = 0;
    for (;;) {
      // In asynchronous mode the counts come with the completions, never through the out
      // parameters (WinHTTP may write those after the call returned).
      step(SHTTPReceiveFailed, [&] { return WinHttpQueryDataAvailable(request.Get(), nullptr); });
      const DWORD available = state->Bytes();
      if (available == 0) break;
      const DWORD want = std::min<DWORD>(available, 1u << 16);
      if (state->Buffer.size() < want) state->Buffer.resize(want);
      step(SHTTPReceiveFailed, [&] { return WinHttpReadData(request.Get(), state->Buffer.data(), want, nullptr); });
      const DWORD read = state->Bytes();
      if (read == 0) break;
      AContent.Write(std::string_view(state->Buffer.data(), read));  // raises past the limit
      received += read;
    }
    // A connection closed before the declared length arrived is a broken answer, not a short one.
    if (hasLength && received < declared && AMethod != "HEAD" && status != 204 && status != 304)
      Fail(SHTTPReceiveFailed, ERROR_WINHTTP_CONNECTION_ERROR);
    return result;
  }

 private:
  // The client's session, opened by its first call (a call that fails to open it leaves the
  // next one to try again). Calls of the host's thread and of a payment wait may run at once:
  // WinHTTP serves concurrent requests of one session.
  HINTERNET Session() {
    const std::lock_guard<std::mutex> lock(FLock);
    if (FSession) return FSession;
    // The system proxy and the TLS protocols this Windows needs, as the console's check opens
    // it; asynchronous, so that a call can be ended as a whole (see Execute).
    TInternetHandle session(OpenWinHttpSession(nullptr, WINHTTP_FLAG_ASYNC));
    if (!session) Fail(SHTTPSessionFailed, GetLastError());
    // No name-resolution time-out of WinHTTP's own (0): with one, WinHTTP resolves on a worker
    // thread for every request. The system resolver bounds a lookup that hangs, and the whole
    // call is bounded below.
    const int connect = FOptions.ConnectionTimeout, response = FOptions.ResponseTimeout;
    if (!WinHttpSetTimeouts(session.Get(), 0, connect, response, response)) Fail(SHTTPSessionFailed, GetLastError());
    DWORD redirects = static_cast<DWORD>(FOptions.MaxRedirects);
    WinHttpSetOption(session.Get(), WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS, &redirects, sizeof redirects);
    // Before any connection or request of the session, as the option requires; refused where
    // the system does not have it.
    TFailedConnectionRetries noRetries{0, 0};
    WinHttpSetOption(session.Get(), OptionFailedConnectionRetries, &noRetries, sizeof noRetries);
    FSession = session.Release();
    return FSession;
  }

  THTTPClientOptions FOptions;
  std::mutex FLock;
  HINTERNET FSession = nullptr;
};

class TWinHTTPClientFactory final : public IHTTPClientFactory {
 public:
  std::unique_ptr<IHTTPClient> CreateClient(const THTTPClientOptions& AOptions) override {
    return std::make_unique<TWinHTTPClient>(AOptions);
  }
};

}  // namespace

void SetTransportModuleLock(TTransportModuleLock ALock) {
  // Unlock first on the way out, lock last on the way in: a request that starts in between
  // sees no lock and takes none.
  GModuleLock = nullptr;
  GModuleUnlock = ALock.Unlock;
  GModuleLock = ALock.Unlock ? ALock.Lock : nullptr;
}

std::shared_ptr<IHTTPClientFactory> PlatformHTTPClientFactory() {
  static const std::shared_ptr<IHTTPClientFactory> Factory = std::make_shared<TWinHTTPClientFactory>();
  return Factory;
}

}  // namespace bank
