// The native transport: cpp-httplib with OpenSSL. It serves the native tests of the bank
// client against the sandbox, so it behaves as the product's transport does: one request
// per client, every time-out set and the whole call bounded by their sum, redirects followed
// up to the limit (never from https down to http), certificates always verified. Name
// resolution is the library's blocking getaddrinfo: only the system resolver bounds it.
//
// The packaged library was built with TLS; its header needs to know.
#define CPPHTTPLIB_OPENSSL_SUPPORT
#include <fcntl.h>
#include <httplib.h>
#include <openssl/err.h>
#include <openssl/x509.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "uBankExceptions.h"
#include "uBankStrings.h"
#include "uHTTPClient.h"

namespace bank {

namespace {

struct TUrl {
  bool Https = false;
  std::string Host;  // without brackets
  int Port = 0;
  std::string Target;  // path and query, never empty

  std::string HostHeader() const {
    const std::string host = Host.find(':') != std::string::npos ? "[" + Host + "]" : Host;
    return Port == (Https ? 443 : 80) ? host : host + ":" + std::to_string(Port);
  }
  std::string Origin() const { return (Https ? "https://" : "http://") + HostHeader(); }
};

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::optional<TUrl> ParseUrl(const std::string& AUrl) {
  TUrl u;
  const size_t colon = AUrl.find("://");
  if (colon == std::string::npos) return std::nullopt;
  const std::string scheme = Lower(AUrl.substr(0, colon));
  if (scheme == "https")
    u.Https = true;
  else if (scheme != "http")
    return std::nullopt;
  const size_t start = colon + 3;
  const size_t end = std::min(AUrl.find_first_of("/?#", start), AUrl.size());
  std::string authority = AUrl.substr(start, end - start);
  if (authority.find('@') != std::string::npos) return std::nullopt;  // no credentials in URLs
  std::string port;
  if (!authority.empty() && authority[0] == '[') {
    const size_t close = authority.find(']');
    if (close == std::string::npos) return std::nullopt;
    u.Host = authority.substr(1, close - 1);
    if (close + 1 < authority.size()) {
      if (authority[close + 1] != ':') return std::nullopt;
      port = authority.substr(close + 2);
    }
  } else {
    const size_t c = authority.find(':');
    u.Host = authority.substr(0, c);
    if (c != std::string::npos) port = authority.substr(c + 1);
  }
  if (u.Host.empty()) return std::nullopt;
  u.Port = u.Https ? 443 : 80;
  if (!port.empty()) {
    int p = 0;
    for (char c : port) {
      if (c < '0' || c > '9' || p > 65535) return std::nullopt;
      p = p * 10 + (c - '0');
    }
    if (p < 1 || p > 65535) return std::nullopt;
    u.Port = p;
  }
  u.Target = AUrl.substr(end);
  const size_t hash = u.Target.find('#');
  if (hash != std::string::npos) u.Target.resize(hash);
  if (u.Target.empty() || u.Target[0] == '?') u.Target = "/" + u.Target;
  return u;
}

// A Location header against the URL it came from.
std::string Resolve(const TUrl& ABase, const std::string& ALocation) {
  if (ALocation.find("://") != std::string::npos) return ALocation;
  if (ALocation.rfind("//", 0) == 0) return (ABase.Https ? "https:" : "http:") + ALocation;
  if (!ALocation.empty() && ALocation[0] == '/') return ABase.Origin() + ALocation;
  std::string dir = ABase.Target.substr(0, ABase.Target.find('?'));
  dir.resize(dir.rfind('/') + 1);
  return ABase.Origin() + dir + ALocation;
}

std::string OpenSslError() {
  const unsigned long e = ERR_get_error();
  if (e == 0) return "unknown error";
  char buf[256];
  ERR_error_string_n(e, buf, sizeof buf);
  return buf;
}

// The system's trusted roots, plus the CA file named by TOLVARO_CA_FILE (tests trust their
// throw-away CA that way, for this process only).
X509_STORE* TrustStore() {
  X509_STORE* store = X509_STORE_new();
  if (store == nullptr) throw EHTTPClientException("TLS: cannot create a certificate store");
  X509_STORE_set_default_paths(store);
  const char* file = std::getenv("TOLVARO_CA_FILE");
  if (file != nullptr && *file != '\0' && X509_STORE_load_locations(store, file, nullptr) != 1) {
    const std::string why = OpenSslError();
    X509_STORE_free(store);
    throw EHTTPClientException(std::string("TLS: cannot read the CA file ") + file + ": " + why);
  }
  return store;
}

void SetTimeout(int AMs, const std::function<void(time_t, time_t)>& ASet) {
  const int ms = AMs > 0 ? AMs : 1;
  ASet(ms / 1000, (ms % 1000) * 1000);
}

std::string Describe(httplib::Error AError, const TUrl& AUrl, bool ATimedOut, int ATimeoutMs) {
  const std::string where = AUrl.Origin();
  switch (AError) {
    case httplib::Error::Connection:
      return ATimedOut ? "Connection to " + where + " timed out after " + std::to_string(ATimeoutMs) + " ms"
                       : "Cannot connect to " + where;
    case httplib::Error::ConnectionTimeout:
      return "Connection to " + where + " timed out after " + std::to_string(ATimeoutMs) + " ms";
    case httplib::Error::Read:
      return ATimedOut ? "No answer from " + where + " within " + std::to_string(ATimeoutMs) + " ms"
                       : "The connection to " + where + " was closed before the answer was complete";
    case httplib::Error::Write: return "Cannot send the request to " + where;
    case httplib::Error::SSLConnection: return "TLS connection to " + where + " failed";
    case httplib::Error::SSLLoadingCerts: return "TLS: cannot load the trusted certificates";
    case httplib::Error::SSLServerVerification:
      return "TLS: the certificate of " + where + " is not trusted or does not name the host";
    default: return "HTTP request to " + where + " failed: " + httplib::to_string(AError);
  }
}

// A peer that closes the connection while we write must not raise SIGPIPE: the library
// writes without MSG_NOSIGNAL, and the process is not ours to change signal dispositions in.
// The signal is blocked for this thread while the request runs, and one it raised is taken.
class TNoSigPipe {
 public:
  TNoSigPipe() {
    sigset_t pending;
    sigemptyset(&FPipe);
    sigaddset(&FPipe, SIGPIPE);
    sigpending(&pending);
    FWasPending = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &FPipe, &FOld);
  }
  ~TNoSigPipe() {
    sigset_t pending;
    sigpending(&pending);
    if (!FWasPending && sigismember(&pending, SIGPIPE) == 1) {
      const timespec zero{0, 0};
      sigtimedwait(&FPipe, nullptr, &zero);
    }
    pthread_sigmask(SIG_SETMASK, &FOld, nullptr);
  }
  TNoSigPipe(const TNoSigPipe&) = delete;
  TNoSigPipe& operator=(const TNoSigPipe&) = delete;

 private:
  sigset_t FPipe, FOld;
  bool FWasPending = false;
};

// Ends a call whose budget is spent: shuts down every socket the call opened, so that the
// library's connect, TLS handshake, write or read under way fails at once. (The library's own
// stop() does the same to a request in flight, but waits for a lock that its connect and TLS
// handshake hold.) It shuts down its own duplicate of each socket: never a descriptor number
// that the library closed and the process gave to someone else meanwhile.
class TCallWatchdog {
 public:
  explicit TCallWatchdog(std::chrono::steady_clock::time_point ADeadline)
      : FThread([this, ADeadline] { Run(ADeadline); }) {}
  ~TCallWatchdog() {
    {
      const std::lock_guard<std::mutex> lock(FLock);
      FDone = true;
    }
    FWake.notify_all();
    FThread.join();
    for (const int fd : FSockets) close(fd);
  }
  TCallWatchdog(const TCallWatchdog&) = delete;
  TCallWatchdog& operator=(const TCallWatchdog&) = delete;

  // A socket of the call, as the library creates it (before it connects).
  void Watch(int ASocket) noexcept {
    const int own = fcntl(ASocket, F_DUPFD_CLOEXEC, 0);
    if (own < 0) return;
    const std::lock_guard<std::mutex> lock(FLock);
    try {
      FSockets.push_back(own);
    } catch (...) {
      close(own);
      return;
    }
    if (FExpired) shutdown(own, SHUT_RDWR);
  }
  bool Expired() const {
    const std::lock_guard<std::mutex> lock(FLock);
    return FExpired;
  }

 private:
  void Run(std::chrono::steady_clock::time_point ADeadline) {
    std::unique_lock<std::mutex> lock(FLock);
    if (FWake.wait_until(lock, ADeadline, [this] { return FDone; })) return;
    FExpired = true;
    for (const int fd : FSockets) shutdown(fd, SHUT_RDWR);
  }

  mutable std::mutex FLock;
  std::condition_variable FWake;
  bool FDone = false, FExpired = false;
  std::vector<int> FSockets;
  std::thread FThread;  // last: it starts with everything above in place
};

class TNativeHTTPClient final : public IHTTPClient {
 public:
  explicit TNativeHTTPClient(const THTTPClientOptions& AOptions) : FOptions(AOptions) {}

  THTTPResponse Execute(const std::string& AMethod, const std::string& AURL, const THeaderList& AHeaders,
                        const TStream* ASource, TStream& AContent) override {
    const TNoSigPipe noSigPipe;
    std::string method = AMethod;
    std::string url = AURL;
    bool hasBody = ASource != nullptr;
    // The time-outs are per step and per read; the whole call, from here to the answer's last
    // byte with every redirect, gets connect + response time-out (a server that drips its
    // bytes, in the TLS handshake or in the answer, is cut off there).
    const auto budget = std::chrono::milliseconds(std::max(FOptions.ConnectionTimeout, 0)) +
                        std::chrono::milliseconds(std::max(FOptions.ResponseTimeout, 0));
    TCallWatchdog watchdog(std::chrono::steady_clock::now() + budget);
    const auto tooLong = [&] {
      return EHTTPClientException(FormatText(SHTTPCallTooLong, std::to_string(budget.count())));
    };
    for (int followed = 0;; ++followed) {
      if (watchdog.Expired()) throw tooLong();
      if (UrlHasCredentials(url)) throw EHTTPClientException(SHTTPCredentialsInURL);
      const std::optional<TUrl> u = ParseUrl(url);
      if (!u) throw EHTTPClientException(FormatText(SHTTPBadURL, MaskUrlCredentials(url)));
      std::unique_ptr<httplib::ClientImpl> client;
      if (u->Https) {
        auto ssl = std::make_unique<httplib::SSLClient>(u->Host, u->Port);
        ssl->enable_server_certificate_verification(true);
        ssl->set_ca_cert_store(TrustStore());  // the client owns it from here
        client = std::move(ssl);
      } else {
        client = std::make_unique<httplib::ClientImpl>(u->Host, u->Port);
      }
      SetTimeout(FOptions.ConnectionTimeout, [&](time_t s, time_t us) { client->set_connection_timeout(s, us); });
      SetTimeout(FOptions.ResponseTimeout, [&](time_t s, time_t us) { client->set_read_timeout(s, us); });
      SetTimeout(FOptions.ResponseTimeout, [&](time_t s, time_t us) { client->set_write_timeout(s, us); });
      client->set_follow_location(false);
      client->set_keep_alive(false);
      client->set_socket_options([&watchdog](socket_t ASocket) { watchdog.Watch(ASocket); });

      httplib::Request req;
      req.method = method;
      req.path = u->Target;
      req.headers.emplace("Host", u->HostHeader());
      for (const THTTPHeader& h : AHeaders) req.headers.emplace(h.Name, h.Value);
      // The library adds Host (set above), Accept, User-Agent, Content-Length, and for a body
      // without a content type "text/plain"; the bank calls always name theirs.
      if (hasBody) req.body = ASource->Bytes();
      AContent.Clear();
      std::exception_ptr writeFailure;
      req.content_receiver = [&](const char* AData, size_t ALength, uint64_t, uint64_t) {
        try {
          AContent.Write(std::string_view(AData, ALength));
          return true;
        } catch (...) {
          writeFailure = std::current_exception();  // e.g. the size cap; never thrown through the library
          return false;
        }
      };

      httplib::Response res;
      httplib::Error error = httplib::Error::Success;
      const auto started = std::chrono::steady_clock::now();
      const bool ok = client->send(req, res, error);
      if (writeFailure) std::rethrow_exception(writeFailure);
      // Cut off: whatever the library made of its shut-down socket (an answer read up to the
      // cut may even look whole) is not the answer.
      if (watchdog.Expired()) throw tooLong();
      if (!ok) {
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
        const int limit = error == httplib::Error::Connection ? FOptions.ConnectionTimeout : FOptions.ResponseTimeout;
        throw EHTTPClientException(Describe(error, *u, elapsed + 50 >= limit, limit));
      }

      const bool redirect = res.status == 301 || res.status == 302 || res.status == 303 || res.status == 307 ||
                            res.status == 308;
      if (redirect && res.has_header("Location")) {
        if (followed >= FOptions.MaxRedirects)
          throw EHTTPClientException("Too many redirects (more than " + std::to_string(FOptions.MaxRedirects) +
                                     ") from " + AURL);
        const std::string next = Resolve(*u, res.get_header_value("Location"));
        const std::optional<TUrl> nu = ParseUrl(next);
        if (!nu) throw EHTTPClientException("Invalid redirect location: " + next);
        if (u->Https && !nu->Https) throw EHTTPClientException("Redirect from https to http refused: " + next);
        // As browsers and the system's client do: 303, and 301/302 after a POST, continue with GET.
        if (res.status == 303 || ((res.status == 301 || res.status == 302) && method == "POST")) {
          if (method != "HEAD") method = "GET";
          hasBody = false;
        }
        url = next;
        continue;
      }

      THTTPResponse out;
      out.StatusCode = res.status;
      out.StatusText = res.reason;
      for (const auto& [name, value] : res.headers) out.Headers.push_back(THTTPHeader{name, value});
      return out;
    }
  }

 private:
  THTTPClientOptions FOptions;
};

class TNativeHTTPClientFactory final : public IHTTPClientFactory {
 public:
  std::unique_ptr<IHTTPClient> CreateClient(const THTTPClientOptions& AOptions) override {
    return std::make_unique<TNativeHTTPClient>(AOptions);
  }
};

}  // namespace

std::shared_ptr<IHTTPClientFactory> PlatformHTTPClientFactory() {
  static const std::shared_ptr<IHTTPClientFactory> Factory = std::make_shared<TNativeHTTPClientFactory>();
  return Factory;
}

}  // namespace bank
