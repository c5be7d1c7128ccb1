// tolvaro_latency_relay: a TCP relay that puts a network's distance between a client and the
// sandbox. Every chunk of data is held for the one-way delay in each direction, and a new
// connection costs one round trip before its first byte leaves (the TCP handshake a real
// network charges), so a TLS handshake costs its real round trips too. On command it also
// drips what the server sends, a byte at a time, to show a client that never gets a whole
// answer in time. See README.md.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "endpoint.h"
#include "info_file.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const char kUsage[] =
    "Usage: tolvaro_latency_relay --listen HOST:PORT --to HOST:PORT [options]\n"
    "Relays TCP connections to --to, holding every chunk for a one-way delay each way.\n"
    "\n"
    "  --listen HOST:PORT   where clients connect; repeatable. Port 0 on the first picks a free\n"
    "                       port; port 0 on later ones reuses it (IPv6 hosts in brackets)\n"
    "  --to HOST:PORT       the server (a numeric address)\n"
    "  --delay-ms N         one-way delay in milliseconds (default 0); a new connection's first\n"
    "                       byte to the server leaves one round trip (2N) after it was accepted\n"
    "  --control HOST:PORT  a line interface (default 127.0.0.1:0): 'stats' answers\n"
    "                       'accepted=A open=O client_closed=C dropped=D', 'drop' closes every\n"
    "                       relayed connection at once and answers 'dropped=N'; 'drip MS' makes\n"
    "                       the connections accepted from then on pass the server's bytes one\n"
    "                       every MS milliseconds, 'drip MS answer' only those after the client's\n"
    "                       request (after the TLS handshake), 'drip off' ends that for new ones\n"
    "  --info-file FILE     written once listening: port=, listen=, control=, pid= lines\n"
    "  --log FILE           a line per connection event (default: standard output)\n"
    "SIGTERM or SIGINT stops it.\n";

using sandbox::Endpoint;
using sandbox::ParseEndpoint;

bool ToAddress(const Endpoint& e, sockaddr_storage& sa, socklen_t& len) {
  std::memset(&sa, 0, sizeof sa);
  auto* v4 = reinterpret_cast<sockaddr_in*>(&sa);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&sa);
  if (inet_pton(AF_INET, e.Host.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<uint16_t>(e.Port));
    len = sizeof *v4;
    return true;
  }
  if (inet_pton(AF_INET6, e.Host.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(static_cast<uint16_t>(e.Port));
    len = sizeof *v6;
    return true;
  }
  return false;
}

void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL, 0) | O_NONBLOCK); }

void NoDelay(int fd) {
  int yes = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
}

// Listens on e; port 0 picks one (written back). -1 with errno on failure.
int Listen(Endpoint& e) {
  sockaddr_storage sa;
  socklen_t len = 0;
  if (!ToAddress(e, sa, len)) {
    errno = EINVAL;
    return -1;
  }
  const int fd = socket(sa.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int yes = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  if (sa.ss_family == AF_INET6) setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &yes, sizeof yes);
  if (bind(fd, reinterpret_cast<sockaddr*>(&sa), len) != 0 || listen(fd, 128) != 0) {
    const int err = errno;
    close(fd);
    errno = err;
    return -1;
  }
  if (e.Port == 0) {
    sockaddr_storage got;
    socklen_t gl = sizeof got;
    getsockname(fd, reinterpret_cast<sockaddr*>(&got), &gl);
    e.Port = ntohs(got.ss_family == AF_INET ? reinterpret_cast<sockaddr_in*>(&got)->sin_port
                                            : reinterpret_cast<sockaddr_in6*>(&got)->sin6_port);
  }
  SetNonBlocking(fd);
  return fd;
}

std::string Now() {
  const auto t = std::chrono::system_clock::now();
  const std::time_t s = std::chrono::system_clock::to_time_t(t);
  std::tm tm{};
  gmtime_r(&s, &tm);
  char buf[96];
  const long ms = static_cast<long>(
      std::chrono::duration_cast<milliseconds>(t.time_since_epoch()).count() % 1000);
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
  return buf;
}

struct Chunk {
  Clock::time_point Due;
  std::string Data;
  size_t Done = 0;
  bool Drip = false;  // leaves a byte at a time
};

// Which of the server's bytes a connection drips.
struct DripMode {
  int Ms = 0;  // 0: none
  bool AnswerOnly = false;  // only those after the client's request
};

// One direction of a relayed connection.
struct Pipe {
  int From = -1, To = -1;
  std::deque<Chunk> Queue;
  size_t Queued = 0;
  bool Eof = false;  // From has nothing more to send
  Clock::time_point EofDue;
  bool ShutDown = false;  // To was told there is no more
  bool WantWrite = false;
  Clock::time_point NextDrip;  // a dripped byte leaves no earlier
};

// Where the client's request starts. Over TLS that is its first application-data record (the
// handshake is done); in plain HTTP, its first byte.
struct RequestWatch {
  bool Seen = false;     // a request has started
  bool Started = false;  // the first byte was looked at
  std::string Header;    // of the TLS record being read
  size_t Skip = 0;       // what is left of that record's body

  void Feed(const char* AData, size_t ALength) {
    for (size_t i = 0; i < ALength && !Seen;) {
      if (!Started) {
        Started = true;
        if (static_cast<unsigned char>(AData[i]) != 22) {  // not a TLS handshake record
          Seen = true;
          return;
        }
      }
      if (Skip > 0) {
        const size_t n = std::min(Skip, ALength - i);
        Skip -= n;
        i += n;
        continue;
      }
      Header.push_back(AData[i++]);
      if (Header.size() == 5) {
        if (static_cast<unsigned char>(Header[0]) == 23) Seen = true;  // application data
        Skip = (static_cast<size_t>(static_cast<unsigned char>(Header[3])) << 8) |
               static_cast<unsigned char>(Header[4]);
        Header.clear();
      }
    }
  }
};

struct Connection {
  long Id = 0;
  int Client = -1, Server = -1;
  Clock::time_point Accepted;
  Pipe Up, Down;  // client -> server, server -> client
  bool Dead = false;
  DripMode Drip;
  RequestWatch Request;
};

constexpr size_t kMaxQueued = 4u << 20;  // stop reading a side while this much waits

class Relay {
 public:
  Relay(Endpoint ATo, int ADelayMs, std::ostream& ALog) : FTo(std::move(ATo)), FDelay(ADelayMs), FLog(ALog) {}

  std::vector<int> Listeners;
  int Control = -1;
  int Signals = -1;

  void Run() {
    for (;;) {
      std::vector<pollfd> fds;
      for (int l : Listeners) fds.push_back({l, POLLIN, 0});
      fds.push_back({Control, POLLIN, 0});
      fds.push_back({Signals, POLLIN, 0});
      const size_t fixed = fds.size();
      for (const auto& c : FControlClients) fds.push_back({c.Fd, POLLIN, 0});
      const size_t controlEnd = fds.size();
      for (const auto& c : FConnections) {
        short cev = 0, sev = 0;
        if (!c->Up.Eof && c->Up.Queued < kMaxQueued) cev |= POLLIN;
        if (!c->Down.Eof && c->Down.Queued < kMaxQueued) sev |= POLLIN;
        if (c->Down.WantWrite) cev |= POLLOUT;
        if (c->Up.WantWrite) sev |= POLLOUT;
        // A side with nothing to wait for is left out: its hang-up would wake the loop for ever.
        fds.push_back({cev ? c->Client : -1, cev, 0});
        fds.push_back({sev ? c->Server : -1, sev, 0});
      }
      poll(fds.data(), fds.size(), NextTimeout());

      for (size_t i = 0; i < Listeners.size(); ++i)
        if (fds[i].revents & POLLIN) Accept(Listeners[i]);
      if (fds[Listeners.size()].revents & POLLIN) AcceptControl();
      if (fds[Listeners.size() + 1].revents & POLLIN) {
        signalfd_siginfo si{};
        if (read(Signals, &si, sizeof si) > 0) {
          Log("stopping on signal " + std::to_string(si.ssi_signo));
          for (auto& c : FConnections) Close(*c, "stopped");
          return;
        }
      }
      // Control clients and connections added above keep their slots in order.
      for (size_t i = fixed, k = 0; i < controlEnd; ++i, ++k)
        if (fds[i].revents) ServeControl(FControlClients[k]);
      for (size_t i = controlEnd, k = 0; i < fds.size(); i += 2, ++k) {
        Connection& c = *FConnections[k];
        if (c.Dead) continue;
        if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) Read(c, c.Up, true);
        if (!c.Dead && (fds[i + 1].revents & (POLLIN | POLLHUP | POLLERR))) Read(c, c.Down, false);
        if (fds[i].revents & POLLOUT) c.Down.WantWrite = false;
        if (fds[i + 1].revents & POLLOUT) c.Up.WantWrite = false;
      }
      const auto now = Clock::now();
      for (auto& c : FConnections) {
        if (!c->Dead) Flush(*c, c->Up, now);
        if (!c->Dead) Flush(*c, c->Down, now);
        if (!c->Dead && c->Up.ShutDown && c->Down.ShutDown) Close(*c, "closed");
      }
      std::erase_if(FConnections, [](const auto& c) { return c->Dead; });
      std::erase_if(FControlClients, [](const auto& c) { return c.Fd < 0; });
    }
  }

 private:
  struct ControlClient {
    int Fd;
    std::string In;
  };

  void Log(const std::string& AText) { FLog << Now() << " " << AText << std::endl; }

  milliseconds Delay() const { return milliseconds(FDelay); }

  int NextTimeout() const {
    std::optional<Clock::time_point> next;
    auto consider = [&](const Pipe& p) {
      if (p.WantWrite) return;
      if (!p.Queue.empty()) {
        const Chunk& k = p.Queue.front();
        const Clock::time_point due = k.Drip ? std::max(k.Due, p.NextDrip) : k.Due;
        next = next ? std::min(*next, due) : due;
      } else if (p.Eof && !p.ShutDown) {
        next = next ? std::min(*next, p.EofDue) : p.EofDue;
      }
    };
    for (const auto& c : FConnections) {
      consider(c->Up);
      consider(c->Down);
    }
    if (!next) return -1;
    const auto wait = std::chrono::duration_cast<milliseconds>(*next - Clock::now()).count();
    return wait <= 0 ? 0 : static_cast<int>(wait) + 1;
  }

  // When what the client sent now reaches the server: not before the connection would have
  // been set up (one round trip after the accept), then one way.
  Clock::time_point UpDue(Clock::time_point ANow, const Connection& c) const {
    return std::max(ANow, c.Accepted + 2 * Delay()) + Delay();
  }

  void Accept(int AListener) {
    for (;;) {
      const int fd = accept4(AListener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (fd < 0) return;
      sockaddr_storage sa;
      socklen_t len = 0;
      ToAddress(FTo, sa, len);
      const int up = socket(sa.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
      // The server is on this machine: a blocking connect takes no time worth a poll.
      if (up < 0 || connect(up, reinterpret_cast<sockaddr*>(&sa), len) != 0) {
        Log("refused " + std::to_string(++FAccepted) + ": cannot connect to " + FTo.Text() + ": " +
            std::strerror(errno));
        if (up >= 0) close(up);
        close(fd);
        continue;
      }
      SetNonBlocking(up);
      NoDelay(fd);
      NoDelay(up);
      auto c = std::make_unique<Connection>();
      c->Id = ++FAccepted;
      c->Client = fd;
      c->Server = up;
      c->Accepted = Clock::now();
      c->Up.From = fd;
      c->Up.To = up;
      c->Down.From = up;
      c->Down.To = fd;
      c->Drip = FDrip;
      Log("accepted " + std::to_string(c->Id) +
          (FDrip.Ms ? " dripping " + std::string(FDrip.AnswerOnly ? "the answer" : "everything") + " every " +
                          std::to_string(FDrip.Ms) + " ms"
                    : ""));
      FConnections.push_back(std::move(c));
    }
  }

  void Read(Connection& c, Pipe& p, bool AFromClient) {
    if (p.Eof) return;
    char buf[65536];
    const ssize_t n = recv(p.From, buf, sizeof buf, 0);
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;
      Close(c, std::string(AFromClient ? "client" : "server") + " failed: " + std::strerror(errno));
      return;
    }
    const auto now = Clock::now();
    if (AFromClient) {
      // Acknowledged at once, as a fresh connection is: a client that writes a request's
      // headers and its body in two sends with Nagle on (WinHTTP under Wine) otherwise holds
      // the body for this side's delayed ACK (40 ms), which the real bank's network adds in
      // its own measure and this relay's loopback must not add on top.
      int yes = 1;
      setsockopt(p.From, IPPROTO_TCP, TCP_QUICKACK, &yes, sizeof yes);
    }
    const Clock::time_point due = AFromClient ? UpDue(now, c) : now + Delay();
    if (n == 0) {
      p.Eof = true;
      p.EofDue = due;
      if (AFromClient) ++FClientClosed;
      Log(std::string(AFromClient ? "client" : "server") + " closed " + std::to_string(c.Id));
      return;
    }
    if (AFromClient && c.Drip.AnswerOnly) c.Request.Feed(buf, static_cast<size_t>(n));
    const bool drip = !AFromClient && c.Drip.Ms > 0 && (!c.Drip.AnswerOnly || c.Request.Seen);
    p.Queue.push_back(Chunk{due, std::string(buf, static_cast<size_t>(n)), 0, drip});
    p.Queued += static_cast<size_t>(n);
  }

  void Flush(Connection& c, Pipe& p, Clock::time_point ANow) {
    while (!p.WantWrite && !p.Queue.empty() && p.Queue.front().Due <= ANow) {
      Chunk& k = p.Queue.front();
      if (k.Drip && p.NextDrip > ANow) return;
      const size_t want = k.Drip ? 1 : k.Data.size() - k.Done;
      const ssize_t n = send(p.To, k.Data.data() + k.Done, want, MSG_NOSIGNAL);
      if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
          p.WantWrite = true;
          return;
        }
        if (errno == EINTR) continue;
        Close(c, std::string("send failed: ") + std::strerror(errno));
        return;
      }
      k.Done += static_cast<size_t>(n);
      p.Queued -= static_cast<size_t>(n);
      if (k.Drip) p.NextDrip = ANow + milliseconds(c.Drip.Ms);
      if (k.Done == k.Data.size()) p.Queue.pop_front();
    }
    if (p.Queue.empty() && p.Eof && !p.ShutDown && p.EofDue <= ANow) {
      shutdown(p.To, SHUT_WR);
      p.ShutDown = true;
    }
  }

  void Close(Connection& c, const std::string& AWhy) {
    if (c.Dead) return;
    c.Dead = true;
    close(c.Client);
    close(c.Server);
    Log(AWhy + " " + std::to_string(c.Id));
  }

  void AcceptControl() {
    const int fd = accept4(Control, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd >= 0) FControlClients.push_back({fd, {}});
  }

  void ServeControl(ControlClient& AClient) {
    char buf[256];
    const ssize_t n = recv(AClient.Fd, buf, sizeof buf, 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (n > 0) AClient.In.append(buf, static_cast<size_t>(n));
    const size_t eol = AClient.In.find('\n');
    if (eol == std::string::npos && n > 0 && AClient.In.size() < 64) return;
    std::string command = AClient.In.substr(0, eol);
    if (!command.empty() && command.back() == '\r') command.pop_back();
    std::string answer;
    if (command == "stats") {
      long open = 0;
      for (const auto& c : FConnections) open += c->Dead ? 0 : 1;
      answer = "accepted=" + std::to_string(FAccepted) + " open=" + std::to_string(open) +
               " client_closed=" + std::to_string(FClientClosed) + " dropped=" + std::to_string(FDropped);
    } else if (command.rfind("drip ", 0) == 0) {
      answer = SetDrip(command.substr(5));
    } else if (command == "drop") {
      long dropped = 0;
      for (auto& c : FConnections)
        if (!c->Dead) {
          Close(*c, "dropped");
          ++dropped;
        }
      FDropped += dropped;
      answer = "dropped=" + std::to_string(dropped);
    } else {
      answer = "error unknown command";
    }
    answer += "\n";
    // A few bytes on a fresh socket: the whole line goes at once.
    (void)!send(AClient.Fd, answer.data(), answer.size(), MSG_NOSIGNAL);
    close(AClient.Fd);
    AClient.Fd = -1;
  }

  // "off", "MS" or "MS answer": the drip of the connections accepted from now on.
  std::string SetDrip(const std::string& AArgs) {
    if (AArgs == "off") {
      FDrip = {};
      Log("drip off");
      return "drip=off";
    }
    const size_t space = AArgs.find(' ');
    const std::string ms = AArgs.substr(0, space), from = space == std::string::npos ? "" : AArgs.substr(space + 1);
    if (ms.empty() || ms.size() > 6 || ms.find_first_not_of("0123456789") != std::string::npos || ms == "0" ||
        (!from.empty() && from != "answer"))
      return "error drip takes off, MS or MS answer";
    FDrip = {std::stoi(ms), from == "answer"};
    Log("drip " + AArgs);
    return "drip=" + ms + " from=" + (FDrip.AnswerOnly ? "answer" : "first");
  }

  Endpoint FTo;
  int FDelay;
  DripMode FDrip;
  std::ostream& FLog;
  std::vector<std::unique_ptr<Connection>> FConnections;
  std::vector<ControlClient> FControlClients;
  long FAccepted = 0, FClientClosed = 0, FDropped = 0;
};

int Fail(const std::string& message) {
  std::cerr << "tolvaro_latency_relay: " << message << std::endl;
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<Endpoint> listen;
  std::optional<Endpoint> to;
  Endpoint control{"127.0.0.1", 0};
  std::string infoFile, logFile;
  int delay = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    std::string v;
    auto value = [&] {
      if (i + 1 >= argc) return false;
      v = argv[++i];
      return true;
    };
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (arg == "--listen" || arg == "--to" || arg == "--control") {
      if (!value()) return Fail(arg + " needs HOST:PORT");
      auto e = ParseEndpoint(v);
      if (!e) return Fail("bad " + arg + " value '" + v + "' (expected HOST:PORT or [IPv6]:PORT)");
      if (arg == "--listen") listen.push_back(*e);
      else if (arg == "--to") to = *e;
      else control = *e;
    } else if (arg == "--delay-ms") {
      if (!value() || v.empty() || v.size() > 6 || v.find_first_not_of("0123456789") != std::string::npos)
        return Fail("--delay-ms takes whole milliseconds, 0..999999");
      delay = std::stoi(v);
    } else if (arg == "--info-file") {
      if (!value()) return Fail("--info-file needs a file");
      infoFile = v;
    } else if (arg == "--log") {
      if (!value()) return Fail("--log needs a file");
      logFile = v;
    } else {
      return Fail("unknown option '" + arg + "' (see --help)");
    }
  }
  if (listen.empty() || !to) return Fail("--listen and --to are required (see --help)");
  {
    sockaddr_storage sa;
    socklen_t len = 0;
    if (!ToAddress(*to, sa, len) || to->Port == 0) return Fail("--to needs a numeric address and a port");
  }

  // Signals arrive through a descriptor the loop polls.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  sigprocmask(SIG_BLOCK, &stop, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::ofstream logStream;
  if (!logFile.empty()) {
    logStream.open(logFile, std::ios::app);
    if (!logStream) return Fail("cannot open the log file " + logFile);
  }
  std::ostream& log = logFile.empty() ? std::cout : logStream;

  Relay relay(*to, delay, log);
  // Port 0 after the first listener shares the first one's port; when that port is taken on
  // another address, all of them try again with a new one.
  for (int attempt = 0;; ++attempt) {
    std::vector<int> fds;
    std::string problem;
    int shared = 0;
    for (Endpoint& e : listen) {
      Endpoint where = e;
      if (where.Port == 0 && shared != 0) where.Port = shared;
      const int fd = Listen(where);
      if (fd < 0) {
        problem = "cannot listen on " + where.Text() + ": " + std::strerror(errno);
        break;
      }
      if (e.Port == 0 && shared == 0) shared = where.Port;
      fds.push_back(fd);
    }
    if (problem.empty()) {
      for (size_t k = 0; k < listen.size(); ++k)
        if (listen[k].Port == 0) listen[k].Port = shared;
      relay.Listeners = fds;
      break;
    }
    for (int fd : fds) close(fd);
    if (shared == 0 || attempt >= 20) return Fail(problem);
  }
  relay.Control = Listen(control);
  if (relay.Control < 0) return Fail("cannot listen on " + control.Text() + ": " + std::strerror(errno));
  relay.Signals = signalfd(-1, &stop, SFD_CLOEXEC);
  if (relay.Signals < 0) return Fail(std::string("signalfd: ") + std::strerror(errno));

  log << Now() << " relaying to " << to->Text() << " with " << delay << " ms each way" << std::endl;
  if (!infoFile.empty()) {
    std::string text = "port=" + std::to_string(listen.front().Port) + "\n";
    for (const Endpoint& e : listen) text += "listen=" + e.Text() + "\n";
    text += "control=" + control.Text() + "\n";
    text += "delay_ms=" + std::to_string(delay) + "\n";
    text += "pid=" + std::to_string(getpid()) + "\n";
    if (const std::string why = sandbox::WriteInfoFile(infoFile, text); !why.empty()) return Fail(why);
  }
  relay.Run();
  if (!infoFile.empty()) std::remove(infoFile.c_str());
  log << Now() << " stopped" << std::endl;
  return 0;
}
