// The driver's connections to the bank, as a server sees them: the requests of an object share
// one kept-alive connection, a connection the server closed between requests is opened again,
// and no request reaches the bank twice, even when the server closes the connection under it.
// The bank is the sandbox's kept-alive listener behind the latency relay (no delay), whose
// control line counts the connections it accepted and closes them on demand.
//
// Under Wine, connections are pooled per process, not per WinHTTP session, and a closed
// session leaves its connections in that pool for half a minute: what the server sees does not
// tell whether the driver keeps one session or opens one per request, nor when it ends one.
// The session's life (Disable, Close, release, the payment wait's reference) is tested on the
// driver with a counting transport (tests/driver).
#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "kit/E2EKit.h"

namespace e2e {
namespace {

// The relay the test run started (TOLVARO_RELAY: its info file).
class TRelay {
public:
  TRelay() {
    const char* info = std::getenv("TOLVARO_RELAY");
    if (!info) throw std::runtime_error("TOLVARO_RELAY is not set (run the test through ctest)");
    std::ifstream in(tolvaro::test::TSandbox::PlatformPath(info));
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("port=", 0) == 0) FPort = line.substr(5);
      if (line.rfind("control=", 0) == 0) {
        const std::string where = line.substr(8);
        FControlPort = static_cast<u_short>(std::stoi(where.substr(where.rfind(':') + 1)));
      }
    }
    if (FPort.empty() || FControlPort == 0) throw std::runtime_error(std::string("no port in ") + info);
    static const bool started = [] {
      WSADATA data;
      return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started) throw std::runtime_error("WSAStartup failed");
  }

  std::wstring BankURL() const { return W("http://127.0.0.1:" + FPort + "/v2"); }

  // accepted=, open=, client_closed=, dropped=
  std::map<std::string, long> Stats() const {
    std::map<std::string, long> out;
    std::istringstream words(Command("stats"));
    for (std::string w; words >> w;) {
      const size_t eq = w.find('=');
      if (eq != std::string::npos) out[w.substr(0, eq)] = std::stol(w.substr(eq + 1));
    }
    return out;
  }
  long Accepted() const { return Stats().at("accepted"); }
  // Closes every connection it relays, at once.
  void Drop() const { EXPECT_EQ(Command("drop").rfind("dropped=", 0), 0u); }

private:
  std::string Command(const std::string& AText) const {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) throw std::runtime_error("socket failed");
    DWORD wait = 10000;  // bounded: a relay that does not answer fails the test
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&wait), sizeof wait);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(FControlPort);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    if (connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
      const std::string line = AText + "\n";
      send(s, line.data(), static_cast<int>(line.size()), 0);
      char buf[256];
      for (int n; (n = recv(s, buf, sizeof buf, 0)) > 0;) answer.append(buf, static_cast<size_t>(n));
    }
    closesocket(s);
    if (answer.empty()) throw std::runtime_error("the relay's control line did not answer " + AText);
    return answer;
  }

  std::string FPort;
  u_short FControlPort = 0;
};

// The operations the sandbox received from a terminal, in order (the last part of each path).
std::vector<std::string> Operations(const TSession& s) {
  std::vector<std::string> out;
  for (const auto& r : s.Sandbox.Requests(s.Key)) out.push_back(r.Path.substr(r.Path.rfind('/') + 1));
  return out;
}

TInvokeResult Status(const TSession& s, const std::wstring& Id, TVariant& Out) {
  return s.Call(L"GetQrCodeStatus", Args({TVariant::FromString(L"QR"), TVariant::FromString(Id)}), Out);
}

TSession::TOptions ThroughRelay(const TRelay& ARelay) {
  TSession::TOptions o;
  o.Host = ARelay.BankURL();
  o.DebugLog = false;
  return o;
}

TEST(Connections, TheRequestsOfAnObjectShareOneKeptConnection) {
  TRelay relay;
  relay.Drop();  // no connection of an earlier test left in the process's pool
  TSession s(ThroughRelay(relay));
  const long before = relay.Accepted();

  const std::wstring id = s.Register(100.5);  // Init and GetQr
  ASSERT_FALSE(id.empty());
  TVariant out;
  EXPECT_TRUE(IsTrue(Status(s, id, out)));
  EXPECT_TRUE(IsTrue(Status(s, id, out)));

  EXPECT_EQ(relay.Accepted() - before, 1);
  EXPECT_EQ(Operations(s), (std::vector<std::string>{"Init", "GetQr", "GetState", "GetState"}));
  EXPECT_EQ(relay.Stats().at("open"), 1);  // kept for the next request
}

TEST(Connections, AConnectionTheServerClosedIsOpenedAgainAndNoRequestIsSentTwice) {
  TRelay relay;
  relay.Drop();
  TSession s(ThroughRelay(relay));
  const long before = relay.Accepted();
  const std::wstring id = s.Register(10);
  ASSERT_FALSE(id.empty());

  // Closed between requests: the next one goes on a new connection, once.
  relay.Drop();
  TVariant out;
  EXPECT_TRUE(IsTrue(Status(s, id, out))) << U8(Str(out));
  EXPECT_EQ(relay.Accepted() - before, 2);
  EXPECT_EQ(Operations(s), (std::vector<std::string>{"Init", "GetQr", "GetState"}));

  // Closed under a request, on the kept connection, after the bank received it and before it
  // answered: the host sees a failure, and the request is not sent again (a second attempt
  // would have been answered: the drop is scripted for one request).
  s.Sandbox.Script(s.Key, "GetState", R"({"Kind":"drop"})");
  EXPECT_FALSE(IsTrue(Status(s, id, out)));
  EXPECT_EQ(Operations(s), (std::vector<std::string>{"Init", "GetQr", "GetState", "GetState"}));
  // The same for a payment operation: Init dropped once fails RegisterQrCode, sent once.
  s.Sandbox.Script(s.Key, "Init", R"({"Kind":"drop"})");
  EXPECT_FALSE(IsTrue(s.Call(L"RegisterQrCode", Args({TVariant::FromDouble(20), TVariant::FromString(L"Заказ")}), out)));
  EXPECT_EQ(Operations(s), (std::vector<std::string>{"Init", "GetQr", "GetState", "GetState", "Init"}));

  // And the next request works again on a new connection.
  EXPECT_TRUE(IsTrue(Status(s, id, out))) << U8(Str(out));
  EXPECT_EQ(Operations(s).size(), 6u);
}

}  // namespace
}  // namespace e2e
