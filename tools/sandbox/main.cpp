// tolvaro_sandbox: a stand-in for the bank's API over HTTP and HTTPS, with a control
// interface that scripts what a test needs. See README.md.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <linux/sockios.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <httplib.h>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bank.h"
#include "endpoint.h"
#include "info_file.h"

namespace {

using sandbox::Answer;
using sandbox::Bank;

const char kUsage[] =
    "Usage: tolvaro_sandbox [options]\n"
    "A bank API sandbox for the payment driver's tests and for integrators.\n"
    "\n"
    "  --http HOST:PORT        plain HTTP listener: bank operations and the control interface\n"
    "                          (default 127.0.0.1:0; port 0 picks a free port); repeatable\n"
    "  --https HOST:PORT       HTTPS listener (bank operations only); repeatable. Port 0 on the\n"
    "                          first picks a free port; port 0 on later ones reuses that port,\n"
    "                          so 127.0.0.1 and ::1 can share it (IPv6 hosts in brackets: [::1]:0)\n"
    "  --kept-http HOST:PORT   a plain HTTP listener that keeps connections open between\n"
    "                          requests (HTTP/1.1 keep-alive, idle ones closed after 30 s); for\n"
    "                          clients behind the latency relay (README); repeatable\n"
    "  --kept-https HOST:PORT  the same over TLS; repeatable\n"
    "  --cert FILE --key FILE  server certificate and private key (PEM) for --https\n"
    "  --terminal KEY:PASSWORD a terminal known from the start; repeatable\n"
    "  --info-file FILE        written once every listener is up: http=, http6=, https=, pid= lines\n"
    "  --info KEY=VALUE        an extra line for the info file; repeatable\n"
    "  --log FILE              append a line for every request (default: standard output)\n"
    "  --threads N             worker threads per listener (default 32)\n"
    "  --date-offset SECONDS   the Date header of every answer is this far from the real time\n"
    "                          (negative: behind), for clients that check their clock\n"
    "  --help                  this text\n"
    "\n"
    "Bank operations: POST <any prefix>/Init, /GetQr, /GetState, /Cancel, /SbpPayTest.\n"
    "Control interface: /_control/... on the HTTP listener; redirects: /_redirect/N/<path>.\n"
    "SIGTERM or SIGINT stops it.\n";

using sandbox::Endpoint;
using sandbox::ParseEndpoint;

// Binding once ourselves gives the system's own reason (address in use, not available).
std::string BindProblem(const Endpoint& e) {
  sockaddr_storage ss{};
  socklen_t len = 0;
  int family = AF_INET;
  if (e.Host.find(':') != std::string::npos) {
    family = AF_INET6;
    auto* a = reinterpret_cast<sockaddr_in6*>(&ss);
    a->sin6_family = AF_INET6;
    a->sin6_port = htons(static_cast<uint16_t>(e.Port));
    if (inet_pton(AF_INET6, e.Host.c_str(), &a->sin6_addr) != 1) return "not an IPv6 address";
    len = sizeof(sockaddr_in6);
  } else {
    auto* a = reinterpret_cast<sockaddr_in*>(&ss);
    a->sin_family = AF_INET;
    a->sin_port = htons(static_cast<uint16_t>(e.Port));
    if (inet_pton(AF_INET, e.Host == "localhost" ? "127.0.0.1" : e.Host.c_str(), &a->sin_addr) != 1)
      return "not an IPv4 address (give a numeric address)";
    len = sizeof(sockaddr_in);
  }
  const int fd = socket(family, SOCK_STREAM, 0);
  if (fd < 0) return std::strerror(errno);
  int yes = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  std::string problem;
  if (bind(fd, reinterpret_cast<sockaddr*>(&ss), len) != 0) problem = std::strerror(errno);
  close(fd);
  return problem;
}

std::string OpenSslError() {
  const unsigned long e = ERR_get_error();
  if (e == 0) return "unknown error";
  char buf[256];
  ERR_error_string_n(e, buf, sizeof buf);
  return buf;
}

// Checks the certificate and key before any listener starts, for a clear message.
std::string CertificateProblem(const std::string& cert, const std::string& key) {
  std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> ctx(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
  if (!ctx) return "cannot create a TLS context: " + OpenSslError();
  if (SSL_CTX_use_certificate_chain_file(ctx.get(), cert.c_str()) != 1)
    return "cannot load the certificate " + cert + ": " + OpenSslError();
  if (SSL_CTX_use_PrivateKey_file(ctx.get(), key.c_str(), SSL_FILETYPE_PEM) != 1)
    return "cannot load the private key " + key + ": " + OpenSslError();
  if (SSL_CTX_check_private_key(ctx.get()) != 1)
    return "the private key " + key + " does not match the certificate " + cert;
  return {};
}

// Seconds added to the real time in every answer's Date header (--date-offset).
long long gDateOffset = 0;

// The Date header's value (RFC 9110's IMF-fixdate), shifted by --date-offset.
std::string HttpDate() {
  const std::time_t t = std::time(nullptr) + static_cast<std::time_t>(gDateOffset);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[64];
  std::strftime(buf, sizeof buf, "%a, %d %b %Y %H:%M:%S GMT", &tm);  // the C locale's names: never setlocale'd
  return buf;
}

// Stops delays early on shutdown.
std::mutex gStopLock;
std::condition_variable gStopCv;
bool gStopping = false;

// Returns the time actually waited, in ms.
long long Delay(int ms) {
  const auto start = std::chrono::steady_clock::now();
  std::unique_lock<std::mutex> lock(gStopLock);
  gStopCv.wait_for(lock, std::chrono::milliseconds(ms), [] { return gStopping; });
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

// The socket a request came on: the one whose peer is the request's remote address and
// port. cpp-httplib does not hand handlers the socket. -1 if not found.
int FindSocket(const httplib::Request& req) {
  for (int fd = 3; fd < 65536; ++fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0) {
      if (errno == EBADF && fd > 4096) break;
      continue;
    }
    if (!S_ISSOCK(st.st_mode)) continue;
    sockaddr_storage peer{}, local{};
    socklen_t plen = sizeof peer, llen = sizeof local;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &plen) != 0) continue;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &llen) != 0) continue;
    auto port = [](const sockaddr_storage& s) {
      return s.ss_family == AF_INET6 ? ntohs(reinterpret_cast<const sockaddr_in6&>(s).sin6_port)
                                     : ntohs(reinterpret_cast<const sockaddr_in&>(s).sin_port);
    };
    if (port(peer) == req.remote_port && port(local) == req.local_port) return fd;
  }
  return -1;
}

// Closes the connection a request came on without answering.
void DropConnection(const httplib::Request& req) {
  const int fd = FindSocket(req);
  if (fd < 0) return;
  linger lg{1, 0};  // reset, so the client sees the connection go at once
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
  shutdown(fd, SHUT_RDWR);
}

// Resets a connection in the middle of an answer: once what was written has left (bounded),
// a disconnect of the TCP socket sends RST at once. The descriptor stays the server's, which
// then closes it as usual; its own orderly close has nothing left to close.
void ResetConnection(const httplib::Request& req) {
  const int fd = FindSocket(req);
  if (fd < 0) return;
  for (int i = 0; i < 100; ++i) {
    int queued = 0;
    if (ioctl(fd, SIOCOUTQ, &queued) != 0 || queued == 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  sockaddr none{};
  none.sa_family = AF_UNSPEC;
  connect(fd, &none, sizeof none);
}

// Answers on the plain socket with a reason phrase of our own (cpp-httplib always sends the
// standard one), then closes the connection.
bool WriteRawAnswer(const httplib::Request& req, const Answer& a) {
  const int fd = FindSocket(req);
  if (fd < 0) return false;
  std::string text = "HTTP/1.1 " + std::to_string(a.Status) + " " + a.Reason + "\r\n";
  if (!a.ContentType.empty()) text += "Content-Type: " + a.ContentType + "\r\n";
  for (const auto& [name, value] : a.Headers) text += name + ": " + value + "\r\n";
  text += "Date: " + HttpDate() + "\r\n";
  text += "Content-Length: " + std::to_string(a.Body.size()) + "\r\nConnection: close\r\n\r\n" + a.Body;
  for (size_t sent = 0; sent < text.size();) {
    const ssize_t n = send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  shutdown(fd, SHUT_RDWR);
  return true;
}

class RequestLog {
 public:
  explicit RequestLog(const std::string& path) {
    if (!path.empty()) {
      FFile.open(path, std::ios::app);
      FOk = FFile.is_open();
    }
  }
  bool Ok() const { return FOk; }
  void Write(const std::string& line) {
    std::lock_guard<std::mutex> lock(FLock);
    std::ostream& out = FFile.is_open() ? static_cast<std::ostream&>(FFile) : std::cout;
    out << line << std::endl;
  }

 private:
  std::mutex FLock;
  std::ofstream FFile;
  bool FOk = true;
};

std::string Now() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms));
  return buf;
}

std::string Printable(const std::string& s, size_t max) {
  std::string out;
  for (size_t i = 0; i < s.size() && i < max; ++i) {
    const unsigned char c = s[i];
    out += (c < 0x20 || c == 0x7f) ? ' ' : static_cast<char>(c);
  }
  if (s.size() > max) out += "...(" + std::to_string(s.size()) + " bytes)";
  return out;
}

struct Listener {
  std::unique_ptr<httplib::Server> Server;
  Endpoint Where;
  bool Tls = false;
  bool Kept = false;
  std::thread Thread;
};

void Install(httplib::Server& srv, Bank& bank, RequestLog& log, bool tls, int threads, bool kept = false) {
  srv.new_task_queue = [threads] { return new httplib::ThreadPool(static_cast<size_t>(threads)); };
  const bool control = !tls;
  auto handler = [&bank, &log, tls, control](const httplib::Request& req, httplib::Response& res) {
    sandbox::Request r;
    r.Method = req.method;
    r.Path = req.path;
    for (const auto& [name, value] : req.headers)
      if (name != "REMOTE_ADDR" && name != "REMOTE_PORT" && name != "LOCAL_ADDR" && name != "LOCAL_PORT")
        r.Headers.emplace_back(name, value);
    r.Body = req.body;
    r.Scheme = tls ? "https" : "http";
    r.Host = req.get_header_value("Host");
    Answer a = bank.Handle(r, control);
    const long long waited = a.DelayMs > 0 ? Delay(a.DelayMs) : 0;
    const char* what = "";
    res.set_header("Date", HttpDate());
    if (a.K == Answer::Kind::Drop) {
      DropConnection(req);
      what = " (dropped)";
      res.status = 500;  // never reaches the client
    } else if (a.K == Answer::Kind::Truncate) {
      // Announce the whole body, send half of it, then close.
      auto body = std::make_shared<std::string>(a.Body);
      res.status = 200;
      res.set_content_provider(body->size() * 2, "application/json",
                               [body](size_t offset, size_t, httplib::DataSink& sink) {
                                 if (offset == 0) sink.write(body->data(), body->size());
                                 return offset == 0;
                               });
      what = " (truncated)";
    } else if (a.K == Answer::Kind::ResetMidBody) {
      // The whole body announced, half of it sent, then a reset instead of an orderly end.
      auto body = std::make_shared<std::string>(a.Body);
      res.status = 200;
      res.set_content_provider(body->size(), "application/json",
                               [body, &req](size_t offset, size_t, httplib::DataSink& sink) {
                                 if (offset != 0) return false;
                                 sink.write(body->data(), body->size() / 2);
                                 ResetConnection(req);
                                 return false;
                               });
      what = " (reset mid-body)";
    } else if (a.K == Answer::Kind::Drip) {
      // Headers at once, then the body a byte at a time: every read gets something well within
      // any read time-out, and the whole answer takes as long as the script says.
      auto body = std::make_shared<std::string>(a.Body);
      const int pause = a.DripMs;
      res.status = 200;
      res.set_content_provider(body->size(), "application/json",
                               [body, pause](size_t offset, size_t, httplib::DataSink& sink) {
                                 if (offset > 0) {
                                   Delay(pause);
                                   std::lock_guard<std::mutex> lock(gStopLock);
                                   if (gStopping) return false;
                                 }
                                 sink.write(body->data() + offset, 1);
                                 return true;
                               });
      what = " (dripped)";
    } else if (!tls && !a.Reason.empty() && WriteRawAnswer(req, a)) {
      what = " (own reason phrase)";
      res.status = a.Status;  // already sent
    } else {
      // Over TLS the reason phrase is the standard one.
      res.status = a.Status;
      res.reason = a.Reason;
      for (const auto& [name, value] : a.Headers) res.set_header(name, value);
      if (!a.ContentType.empty() || !a.Body.empty()) res.set_content(a.Body, a.ContentType);
    }
    log.Write(Now() + " " + (tls ? "https " : "http ") + req.remote_addr + ":" + std::to_string(req.remote_port) +
              " " + req.method + " " + req.path + " -> " + std::to_string(a.K == Answer::Kind::Normal ? a.Status : 0) +
              what + (a.DelayMs ? " after " + std::to_string(waited) + " of " + std::to_string(a.DelayMs) + " ms" : "") + " | " +
              Printable(req.body, 2048) + " | " + Printable(a.Body, 512));
  };
  const std::string any = ".*";
  srv.Get(any, handler);
  srv.Post(any, handler);
  srv.Put(any, handler);
  srv.Delete(any, handler);
  srv.Patch(any, handler);
  srv.Options(any, handler);
  srv.set_keep_alive_timeout(kept ? 30 : 1);
  // A kept listener answers many requests per connection, as a bank does; its clients come
  // through the latency relay, which acknowledges what it receives at once. Elsewhere:
  // one answer per connection (Connection: close). A client that writes a request's headers
  // and body separately with Nagle on (WinHTTP under Wine does) holds the body until the
  // headers are acknowledged, and on a kept-alive connection this server's delayed ACK takes
  // 40 ms: every request after a connection's first would wait that long, which no real bank
  // adds. A fresh connection is acknowledged at once.
  srv.set_keep_alive_max_count(kept ? 100000 : 1);
  // Answers leave at once. cpp-httplib writes an answer's headers and body separately, and with
  // Nagle the body would wait for the client's delayed ACK of the headers: 40 ms added to every
  // request on a kept-alive connection, which no real bank adds. Accepted sockets inherit the
  // option from the listening one; the library's own options (address reuse) stay.
  srv.set_socket_options([](socket_t sock) {
    httplib::default_socket_options(sock);
    int yes = 1;
    setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
  });
  // A handler that throws answers 500 instead of ending the process.
  srv.set_exception_handler([&log](const httplib::Request& req, httplib::Response& res, std::exception_ptr ep) {
    std::string what = "unknown";
    try {
      std::rethrow_exception(ep);
    } catch (const std::exception& e) {
      what = e.what();
    } catch (...) {
    }
    res.status = 500;
    res.set_content("{\"Error\":\"internal\"}", "application/json");
    log.Write(Now() + " error in " + req.method + " " + req.path + ": " + what);
  });
}

int Fail(const std::string& message) {
  std::cerr << "tolvaro_sandbox: " << message << std::endl;
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<Endpoint> http, https, keptHttp, keptHttps;
  std::string cert, key, infoFile, logFile;
  std::vector<std::pair<std::string, std::string>> terminals;
  std::vector<std::string> infoExtra;
  int threads = 32;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::string v;
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (arg == "--http" || arg == "--https") {
      if (!value(v)) return Fail(arg + " needs HOST:PORT");
      auto e = ParseEndpoint(v);
      if (!e) return Fail("bad " + arg + " value '" + v + "' (expected HOST:PORT or [IPv6]:PORT)");
      (arg == "--http" ? http : https).push_back(*e);
    } else if (arg == "--kept-http" || arg == "--kept-https") {
      if (!value(v)) return Fail(arg + " needs HOST:PORT");
      auto e = ParseEndpoint(v);
      if (!e) return Fail("bad " + arg + " value '" + v + "' (expected HOST:PORT or [IPv6]:PORT)");
      (arg == "--kept-http" ? keptHttp : keptHttps).push_back(*e);
    } else if (arg == "--cert") {
      if (!value(cert)) return Fail("--cert needs a file");
    } else if (arg == "--key") {
      if (!value(key)) return Fail("--key needs a file");
    } else if (arg == "--terminal") {
      if (!value(v)) return Fail("--terminal needs KEY:PASSWORD");
      const size_t colon = v.find(':');
      if (colon == std::string::npos || colon == 0) return Fail("bad --terminal value '" + v + "' (expected KEY:PASSWORD)");
      terminals.emplace_back(v.substr(0, colon), v.substr(colon + 1));
    } else if (arg == "--info-file") {
      if (!value(infoFile)) return Fail("--info-file needs a file");
    } else if (arg == "--info") {
      if (!value(v) || v.find('=') == std::string::npos) return Fail("--info needs KEY=VALUE");
      infoExtra.push_back(v);
    } else if (arg == "--log") {
      if (!value(logFile)) return Fail("--log needs a file");
    } else if (arg == "--date-offset") {
      if (!value(v)) return Fail("--date-offset needs SECONDS");
      const auto n = sandbox::ParseInteger(v);
      if (!n || *n > 100LL * 365 * 86400 || *n < -100LL * 365 * 86400)
        return Fail("--date-offset takes whole seconds, at most 100 years either way");
      gDateOffset = *n;
    } else if (arg == "--threads") {
      if (!value(v)) return Fail("--threads needs a number");
      const auto n = sandbox::ParseInteger(v);
      if (!n || *n < 1 || *n > 1024) return Fail("--threads must be 1..1024");
      threads = static_cast<int>(*n);
    } else {
      return Fail("unknown option '" + arg + "' (see --help)");
    }
  }
  if (http.empty()) http.push_back(Endpoint{"127.0.0.1", 0});
  if ((!https.empty() || !keptHttps.empty()) && (cert.empty() || key.empty()))
    return Fail("--https and --kept-https need --cert and --key");
  if (!https.empty() || !keptHttps.empty()) {
    if (std::string p = CertificateProblem(cert, key); !p.empty()) return Fail(p);
  }

  // Signals go to one thread that waits for them; every other thread blocks them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  RequestLog log(logFile);
  if (!log.Ok()) return Fail("cannot open the log file " + logFile);
  Bank bank;
  for (const auto& [k, p] : terminals) bank.AddTerminal(k, p);

  std::vector<Listener> listeners;
  auto bindOne = [&](Listener& l) -> std::string {
    if (l.Where.Port == 0) {
      const int port = l.Server->bind_to_any_port(l.Where.Host);
      if (port <= 0) {
        std::string why = BindProblem(l.Where);
        return "cannot listen on " + l.Where.Text() + (why.empty() ? "" : ": " + why);
      }
      l.Where.Port = port;
      return {};
    }
    // cpp-httplib binds with SO_REUSEPORT, which would let a second sandbox share a port in
    // use (and split the traffic); a plain bind first refuses that.
    if (std::string why = BindProblem(l.Where); !why.empty())
      return "cannot listen on " + l.Where.Text() + ": " + why;
    if (!l.Server->bind_to_port(l.Where.Host, l.Where.Port)) {
      std::string why = BindProblem(l.Where);
      return "cannot listen on " + l.Where.Text() + ": " + (why.empty() ? "address not available" : why);
    }
    return {};
  };
  for (const Endpoint& e : http) {
    Listener l;
    l.Server = std::make_unique<httplib::Server>();
    l.Where = e;
    Install(*l.Server, bank, log, false, threads);
    if (std::string p = bindOne(l); !p.empty()) return Fail(p);
    listeners.push_back(std::move(l));
  }
  for (int tls = 0; tls < 2; ++tls) {
    for (const Endpoint& e : tls ? keptHttps : keptHttp) {
      Listener l;
      if (tls) {
        l.Server = std::make_unique<httplib::SSLServer>(cert.c_str(), key.c_str());
        if (!l.Server->is_valid()) return Fail("cannot use the certificate " + cert + " with the key " + key);
      } else {
        l.Server = std::make_unique<httplib::Server>();
      }
      l.Tls = tls != 0;
      l.Kept = true;
      l.Where = e;
      Install(*l.Server, bank, log, l.Tls, threads, true);
      if (std::string p = bindOne(l); !p.empty()) return Fail(p);
      listeners.push_back(std::move(l));
    }
  }
  // The HTTPS listeners with port 0 after the first share the first one's port; when that
  // port is taken on another address, all of them try again with a new one.
  for (int attempt = 0; !https.empty(); ++attempt) {
    std::vector<Listener> group;
    std::string problem;
    int shared = 0;
    for (const Endpoint& e : https) {
      Listener l;
      l.Server = std::make_unique<httplib::SSLServer>(cert.c_str(), key.c_str());
      if (!l.Server->is_valid()) return Fail("cannot use the certificate " + cert + " with the key " + key);
      l.Tls = true;
      l.Where = e;
      if (e.Port == 0 && shared != 0) l.Where.Port = shared;
      Install(*l.Server, bank, log, true, threads);
      problem = bindOne(l);
      if (!problem.empty()) break;
      if (e.Port == 0 && shared == 0) shared = l.Where.Port;
      group.push_back(std::move(l));
    }
    if (problem.empty()) {
      for (auto& l : group) listeners.push_back(std::move(l));
      break;
    }
    if (shared == 0 || attempt >= 20) return Fail(problem);
  }

  for (const Listener& l : listeners)
    log.Write(Now() + " listening on " + (l.Tls ? "https://" : "http://") + l.Where.Text());

  if (!infoFile.empty()) {
    std::string text;
    const Listener* firstHttp = nullptr;
    const Listener* firstHttps = nullptr;
    for (const Listener& l : listeners) {
      if (!l.Tls && !l.Kept && !firstHttp) firstHttp = &l;
      if (l.Tls && !l.Kept && !firstHttps) firstHttps = &l;
    }
    Endpoint h = firstHttp->Where;
    if (h.Host == "0.0.0.0") h.Host = "127.0.0.1";
    if (h.Host == "::") h.Host = "::1";
    text += "http=http://" + h.Text() + "\n";
    // The first plain listener on an IPv6 address, for clients that test IPv6 literals.
    for (const Listener& l : listeners)
      if (!l.Tls && !l.Kept && &l != firstHttp && l.Where.Host.find(':') != std::string::npos) {
        text += "http6=http://" + l.Where.Text() + "\n";
        break;
      }
    // The certificate names the host localhost, so that is the name to reach it by.
    if (firstHttps) text += "https=https://localhost:" + std::to_string(firstHttps->Where.Port) + "\n";
    // The first kept listener of each kind, by its address (the relay's target).
    for (int tls = 0; tls < 2; ++tls)
      for (const Listener& l : listeners)
        if (l.Kept && l.Tls == (tls != 0)) {
          text += std::string(tls ? "kept_https=" : "kept_http=") + l.Where.Text() + "\n";
          break;
        }
    for (const std::string& line : infoExtra) text += line + "\n";
    text += "pid=" + std::to_string(getpid()) + "\n";
    if (const std::string why = sandbox::WriteInfoFile(infoFile, text); !why.empty()) return Fail(why);
  }

  // Serving starts once nothing can fail any more (the sockets are bound: a client that comes
  // before accept waits in the backlog), so every later return has threads to join.
  for (Listener& l : listeners) {
    httplib::Server* srv = l.Server.get();
    l.Thread = std::thread([srv] { srv->listen_after_bind(); });
  }
  int sig = 0;
  sigwait(&stopSignals, &sig);
  log.Write(Now() + " stopping on signal " + std::to_string(sig));
  {
    std::lock_guard<std::mutex> lock(gStopLock);
    gStopping = true;
  }
  gStopCv.notify_all();
  for (Listener& l : listeners) l.Server->stop();
  for (Listener& l : listeners) l.Thread.join();
  if (!infoFile.empty()) std::remove(infoFile.c_str());
  log.Write(Now() + " stopped");
  return 0;
}
