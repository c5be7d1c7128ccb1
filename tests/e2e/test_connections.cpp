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
#include "kit/LatencyRelay.h"

namespace e2e {
namespace {

// The relay the test run started (TOLVARO_RELAY: its info file).
class TRelay : public tolvaro::test::TLatencyRelay {
public:
  TRelay() : TLatencyRelay("TOLVARO_RELAY") {}
  std::wstring BankURL() const { return W("http://127.0.0.1:" + Port() + "/v2"); }
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
