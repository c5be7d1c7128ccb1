// TDevice over the platform's transport against the bank sandbox on loopback: the exchange log
// of real calls, answers that only a real server gives (empty, huge, cut off, dripped), and
// under Wine the WinHTTP transport itself: HTTPS with the test CA, redirects, the time-out,
// status line and headers. The sandbox is the test run's fixture (TOLVARO_SANDBOX); the drip
// relay (TOLVARO_DRIP_RELAY) stands in front of its HTTPS listener.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <thread>

#include "kit/BankTestKit.h"
#include "kit/LatencyRelay.h"
#include "kit/LogFileKit.h"
#include "kit/ScopedHook.h"
#include "uBankStrings.h"
#include "uDevice.h"
#include "kit/uSandbox.h"

#if defined(_WIN32)
#include <windows.h>
#include <winhttp.h>
#endif

using namespace bank;
using tolvaro::test::TSandbox;

namespace {

Currency Minor(int64_t AMinor) { return Currency::FromRaw(AMinor * Currency::Scale); }
int64_t ToMinor(Currency A) { return A.Raw / Currency::Scale; }

// The same transport with other options: tests shorten the time-out this way, the product's
// default stays.
class TOptionsFactory final : public IHTTPClientFactory {
 public:
  TOptionsFactory(std::shared_ptr<IHTTPClientFactory> AInner, THTTPClientOptions AOptions)
      : FInner(std::move(AInner)), FOptions(AOptions) {}
  std::unique_ptr<IHTTPClient> CreateClient(const THTTPClientOptions&) override {
    return FInner->CreateClient(FOptions);
  }

 private:
  std::shared_ptr<IHTTPClientFactory> FInner;
  THTTPClientOptions FOptions;
};

class SandboxDevice : public logkit::ExchangeLogTest {
 protected:
  void SetUp() override {
    ExchangeLogTest::SetUp();
    Key = TSandbox::UniqueKey("device");
    Sandbox.AddTerminal(Key, Password);
    Device.SetBaseURL(Sandbox.HttpBase() + "/v2");
  }

  std::string NewPayment(ITolvaro& AApi, int64_t AMinor) {
    const TInitResponse r = AApi.Init({Minor(AMinor), "ORDER-" + std::to_string(AMinor), Key});
    EXPECT_EQ(ToMinor(r.Amount), AMinor);
    return r.PaymentId;
  }
  TStateRequest State(const std::string& AId) const {
    TStateRequest s{AId, Key, ""};
    s.Token = MakeToken(s, Password);
    return s;
  }
  // The log's lines after the banner, without their time stamps.
  std::vector<std::string> LoggedLines() const {
    const auto lines = logkit::ReadLines(File);
    std::vector<std::string> out;
    for (size_t i = 6; i < lines.size(); ++i) {
      const bool stamped = lines[i].size() > 23 && lines[i][0] >= '0' && lines[i][0] <= '9';
      out.push_back(stamped ? lines[i].substr(23) : lines[i]);
    }
    return out;
  }

  TSandbox Sandbox;
  std::string Key;
  const std::string Password = "секрет";
  TDevice Device;
};

TEST_F(SandboxDevice, InitWritesItsRequestAndTheBanksAnswerToTheLog) {
  ExchangeLog::SetLogLevel(3);
  const auto api = Device.GetApi();
  const std::string id = NewPayment(*api, 10050);
  ExchangeLog::SetLogLevel(0);

  const auto requests = Sandbox.Requests(Key);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Header("content-type"), "application/json");
  const std::string url = Sandbox.HttpBase() + "/v2/Init";
  const auto lines = LoggedLines();
  ASSERT_EQ(lines.size(), 4u);
  // The headers text ends in "; ", so two blanks stand before the body.
  EXPECT_EQ(lines[0], "\tDEBUG\tTDevice: \t> POST " + url + " content-type: application/json;  " + requests[0].Body);
  const std::string answer = "\tDEBUG\tTDevice: \t< StatusCode: 200 POST " + url + " {";
  EXPECT_EQ(lines[1].substr(0, answer.size()), answer);
  EXPECT_NE(lines[1].find("\"PaymentId\":\"" + id + "\""), std::string::npos) << lines[1];
  EXPECT_EQ(lines[2], "============Stop log===============");
}

TEST_F(SandboxDevice, AnswersOnlyARealServerGives) {
  const auto api = Device.GetApi();
  const std::string id = NewPayment(*api, 700);
  struct TCase {
    std::string Answer, Expected;  // Expected ending in '*': a prefix
  };
  const std::vector<TCase> cases = {
      {R"({"Kind":"raw","Status":200,"Reason":"OK","ContentType":"application/json","Body":""})",
       "EJSONException: Value '' not found"},
      {R"({"Kind":"raw","Status":503,"Reason":"Сервис недоступен","Body":""})", "Exception: Сервис недоступен"},
      {R"({"Kind":"error","Message":"no code"})", "no exception"},  // no ErrorCode member: acceptable
      {R"({"Kind":"raw","Status":200,"ContentType":"application/json",)"
       R"("Body":"{\"ErrorCode\":\"0\",\"Status\":\"CONFIRMED\",\"Rate\":1e400,\"Big\":)" +
           std::string(400, '7') + R"(}"})",
       "no exception"},
      {R"({"Kind":"huge","Bytes":5242880})", "EHTTPBridgeException: " + std::string(SResponseTooLarge)},
      {R"({"Kind":"drop"})", "EHTTPClientException: *"},
      {R"({"Kind":"truncate"})", "EHTTPClientException: *"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Answer.substr(0, 80));
    Sandbox.Script(Key, "GetState", c.Answer);
    const std::string got = Failure([&] { api->GetState(State(id)); });
    if (!c.Expected.empty() && c.Expected.back() == '*')
      EXPECT_EQ(got.substr(0, c.Expected.size() - 1), c.Expected.substr(0, c.Expected.size() - 1)) << got;
    else
      EXPECT_EQ(got, c.Expected);
  }
  // Nothing of that leaves the interface unusable.
  EXPECT_EQ(ToMinor(api->GetState(State(id)).Amount), 700);
}

TEST_F(SandboxDevice, ThreadsShareOneInterfaceAndTheLogWithoutMixingLines) {
  constexpr int Threads = 6, Calls = 10;
  ExchangeLog::SetLogLevel(3);
  const auto api = Device.GetApi();
  std::vector<std::string> ids;
  for (int t = 0; t < Threads; ++t) ids.push_back(NewPayment(*api, 2000 + t));
  std::vector<int> wrong(Threads, 0);
  std::vector<std::thread> pool;
  for (int t = 0; t < Threads; ++t)
    pool.emplace_back([&, t] {
      for (int i = 0; i < Calls; ++i) {
        try {
          const TStateResponse r = api->GetState(State(ids[t]));
          if (r.PaymentId != ids[t] || ToMinor(r.Amount) != 2000 + t) ++wrong[t];
        } catch (...) {
          ++wrong[t];
        }
      }
    });
  for (auto& th : pool) th.join();
  ExchangeLog::SetLogLevel(0);
  for (int t = 0; t < Threads; ++t) EXPECT_EQ(wrong[t], 0) << "thread " << t;

  // Every request and response of the threads is one whole line.
  const auto lines = LoggedLines();
  ASSERT_EQ(lines.size(), 2u * Threads + 2u * Threads * Calls + 2u);
  const std::regex request("\tDEBUG\tTDevice: \t> POST [^ ]+/v2/GetState content-type: application/json;  "
                           R"(\{"PaymentId":"[^"]+","TerminalKey":"[^"]+","Token":"\*\*\*"\})");  // tokens are never logged
  const std::regex response(R"(\tDEBUG\tTDevice: \t< StatusCode: 200 POST [^ ]+/v2/GetState \{.*"PaymentId":"[^"]+".*\})");
  int requests = 0, responses = 0;
  for (size_t i = 2 * Threads; i < lines.size() - 2; ++i) {
    if (std::regex_match(lines[i], request))
      ++requests;
    else if (std::regex_match(lines[i], response))
      ++responses;
    else
      ADD_FAILURE() << lines[i];
  }
  EXPECT_EQ(requests, Threads * Calls);
  EXPECT_EQ(responses, Threads * Calls);
}

// An IPv6 literal in the base URL, when the fixture has an HTTP listener on ::1.
TEST_F(SandboxDevice, Ipv6LiteralBaseUrl) {
  std::string http6;
  const char* info = std::getenv("TOLVARO_SANDBOX");
  if (info != nullptr) {
    std::ifstream in(TSandbox::PlatformPath(info));
    for (std::string line; std::getline(in, line);)
      if (line.rfind("http6=", 0) == 0) http6 = line.substr(6);
  }
  if (http6.empty()) GTEST_SKIP() << "the sandbox has no HTTP listener on ::1";
  SCOPED_TRACE(http6);
  Device.SetBaseURL(http6 + "/v2");
  const auto api = Device.GetApi();
  const std::string id = NewPayment(*api, 606);
  EXPECT_EQ(api->GetState(State(id)).PaymentId, id);
}

// ---- Both transports -------------------------------------------------------------------

TEST_F(SandboxDevice, AnAnswerThatDripsEndsAtTheBoundOfTheWholeCall) {
  // 1 s to connect and 1.5 s to answer: 2.5 s for the whole call. The answer comes a byte
  // every 300 ms (about 27 s in all): each read gets its byte well within its time-out.
  SetDefaultHTTPClientFactory(
      std::make_shared<TOptionsFactory>(PlatformHTTPClientFactory(), THTTPClientOptions{1000, 1500, 5}));
  const auto api = Device.GetApi();
  SetDefaultHTTPClientFactory(nullptr);
  const std::string id = NewPayment(*api, 100);
  Sandbox.Script(Key, "GetState", R"({"Kind":"drip","Ms":300})");
  const auto start = std::chrono::steady_clock::now();
  const std::string got = Failure([&] { api->GetState(State(id)); });
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(got, "EHTTPClientException: " + FormatText(SHTTPCallTooLong, "2500"));
  EXPECT_LT(took, std::chrono::seconds(15));  // bounded by the call's time-outs, not by the server
  // The interface is still good for the next call.
  EXPECT_EQ(ToMinor(api->GetState(State(id)).Amount), 100);
}

// The sandbox's HTTPS listener behind the drip relay, which makes the connections it accepts
// after a Drip command pass the server's bytes one every 1.5 s. A call gets 3 s to connect
// (cpp-httplib waits that long for each step of a TLS handshake) and 4 s for each step of the
// answer, so every wait sees a byte in time: only the bound of the whole call, 7 s, ends it.
class SandboxDripDevice : public SandboxDevice {
 protected:
  static constexpr int DripMs = 1500;

  void SetUp() override {
    SandboxDevice::SetUp();
#if !defined(_WIN32)
    setenv("TOLVARO_CA_FILE", Sandbox.CaPemPath().c_str(), 1);  // the prefix trusts it under Wine
#endif
    Device.SetBaseURL("https://localhost:" + Relay.Port() + "/v2");
    SetDefaultHTTPClientFactory(
        std::make_shared<TOptionsFactory>(PlatformHTTPClientFactory(), THTTPClientOptions{3000, 4000, 5}));
    Api = Device.GetApi();
    SetDefaultHTTPClientFactory(nullptr);
  }
  void TearDown() override {
    // Whatever still drips ends with its connection.
    Relay.Drip(0);
    Relay.Drop();
#if !defined(_WIN32)
    unsetenv("TOLVARO_CA_FILE");
#endif
    SandboxDevice::TearDown();
  }
  // Every connection the relay accepts from now on drips (no kept one is used again).
  void DripFromNow(bool AAnswerOnly) {
    Relay.Drip(DripMs, AAnswerOnly);
    Relay.Drop();
  }
  // The call's failure and how long it took.
  std::pair<std::string, std::chrono::steady_clock::duration> TimedFailure(const std::function<void()>& ACall) {
    const auto start = std::chrono::steady_clock::now();
    std::string got = Failure(ACall);
    return {got, std::chrono::steady_clock::now() - start};
  }

  const std::string TooLong = "EHTTPClientException: " + FormatText(SHTTPCallTooLong, "7000");
  tolvaro::test::TLatencyRelay Relay{"TOLVARO_DRIP_RELAY"};
  std::shared_ptr<ITolvaro> Api;
};

TEST_F(SandboxDripDevice, EveryCallEndsAtItsBoundWhereverTheServerDripsAndTheNextCallIsServed) {
  const std::string id = NewPayment(*Api, 300);
  const struct {
    bool AnswerOnly;
    size_t Reached;  // requests the bank got
    const char* What;
  } cases[] = {
      {false, 0, "from the first byte: the TLS handshake never finishes"},
      {true, 1, "the answer only: the request reaches the bank, its headers never come whole"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    DripFromNow(c.AnswerOnly);
    const size_t before = Sandbox.Requests(Key).size();
    const auto [got, took] = TimedFailure([&] { Api->GetState(State(id)); });
    EXPECT_EQ(got, TooLong);
    // The handshake's or the answer's few hundred bytes would take many minutes.
    EXPECT_LT(took, std::chrono::seconds(60));
    EXPECT_EQ(Sandbox.Requests(Key).size(), before + c.Reached);

    Relay.Drip(0);
    EXPECT_EQ(ToMinor(Api->GetState(State(id)).Amount), 300);
  }
}

TEST_F(SandboxDevice, AUrlWithCredentialsIsRefusedBeforeAnythingIsSentOrLogged) {
  const std::string withUser = "http://user:secret@" + Sandbox.HttpBase().substr(7);
  const std::string refused = "EHTTPClientException: " + std::string(SHTTPCredentialsInURL);
  ExchangeLog::SetLogLevel(3);
  Device.SetBaseURL(withUser + "/v2");
  const auto api = Device.GetApi();
  EXPECT_EQ(Failure([&] { api->Init({Minor(100), "ORDER", Key}); }), refused);
  ExchangeLog::SetLogLevel(0);
  for (const auto& line : logkit::ReadLines(File)) EXPECT_EQ(line.find("secret"), std::string::npos) << line;
  // The transport itself refuses it too, for a caller past the bridge.
  const auto client = PlatformHTTPClientFactory()->CreateClient(THTTPClientOptions{});
  TStringStream body(R"({"PaymentId":"1","TerminalKey":")" + Key + R"(","Token":"x"})");
  TStringStream content;
  EXPECT_EQ(Failure([&] { client->Execute("POST", withUser + "/v2/GetState", {}, &body, content); }), refused);
  EXPECT_TRUE(Sandbox.Requests(Key).empty());
}

#if defined(_WIN32)
// ---- WinHTTP ------------------------------------------------------------------------------

TEST_F(SandboxDevice, HttpsWithTheTestCaTrustedByThePrefix) {
  ASSERT_FALSE(Sandbox.HttpsBase().empty());
  Device.SetBaseURL(Sandbox.HttpsBase() + "/v2");
  const auto api = Device.GetApi();
  const std::string id = NewPayment(*api, 4400);
  EXPECT_EQ(api->GetState(State(id)).PaymentId, id);
  EXPECT_EQ(Sandbox.Requests(Key).size(), 2u);
}

TEST_F(SandboxDevice, TlsOneToOneTwoAreAskedForExplicitlyOnlyBeforeWindows81) {
  const unsigned long upTo12 =
      WINHTTP_FLAG_SECURE_PROTOCOL_TLS1 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_1 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
  const struct {
    unsigned Major, Minor;
    unsigned long Protocols;
  } rows[] = {{6, 0, upTo12}, {6, 1, upTo12}, {6, 2, upTo12}, {6, 3, 0}, {10, 0, 0}, {11, 0, 0}};
  for (const auto& row : rows) EXPECT_EQ(WinHttpSecureProtocolsFor(row.Major, row.Minor), row.Protocols) << row.Major << "." << row.Minor;
  // With the option set, as on Windows 7, HTTPS still works.
  struct TRestore {
    ~TRestore() { SetWindowsVersionLookup(nullptr); }
  } restore;
  SetWindowsVersionLookup([] { return std::pair<unsigned, unsigned>(6, 1); });
  Device.SetBaseURL(Sandbox.HttpsBase() + "/v2");
  const auto api = Device.GetApi();
  const std::string id = NewPayment(*api, 4500);
  EXPECT_EQ(api->GetState(State(id)).PaymentId, id);
}

// Runs as its own ctest entry before the fixture trusts this run's CA in the prefix.
TEST_F(SandboxDevice, UntrustedCertificateFailsWithTheTransportError) {
  Device.SetBaseURL(Sandbox.HttpsBase() + "/v2");
  const std::string got = Failure([&] { Device.GetApi()->Init({Minor(1), "O", Key}); });
  // ERROR_WINHTTP_SECURE_FAILURE on Windows, ERROR_WINHTTP_SECURE_CHANNEL_ERROR under Wine.
  EXPECT_TRUE(std::regex_search(got, std::regex(R"(^EHTTPClientException: Error sending data: \((12175|12157)\))")))
      << got;
  EXPECT_TRUE(Sandbox.Requests(Key).empty());
}

TEST_F(SandboxDevice, FiveRedirectsAreFollowedTheSixthIsNot) {
  Device.SetBaseURL(Sandbox.HttpBase() + "/_redirect/5/v2");
  const std::string id = NewPayment(*Device.GetApi(), 5005);
  EXPECT_FALSE(id.empty());
  Device.SetBaseURL(Sandbox.HttpBase() + "/_redirect/6/v2");
  const std::string got = Failure([&] { NewPayment(*Device.GetApi(), 6006); });
  EXPECT_NE(got, "no exception");
  EXPECT_EQ(Sandbox.Payments(Key).size(), 1u) << got;  // the sixth hop never reached Init
}

TEST_F(SandboxDevice, HungServerEndsInTheTimeOut) {
  SetDefaultHTTPClientFactory(
      std::make_shared<TOptionsFactory>(PlatformHTTPClientFactory(), THTTPClientOptions{60000, 1500, 5}));
  const auto api = Device.GetApi();
  SetDefaultHTTPClientFactory(nullptr);
  Sandbox.Script(Key, "Init", R"({"Kind":"delay","Ms":120000})");
  const auto start = std::chrono::steady_clock::now();
  const std::string got = Failure([&] { NewPayment(*api, 1); });
  const auto took = std::chrono::steady_clock::now() - start;
  // ERROR_WINHTTP_TIMEOUT
  EXPECT_EQ(got.substr(0, 51), "EHTTPClientException: Error receiving data: (12002)") << got;
  EXPECT_LT(took, std::chrono::seconds(60));  // bounded by the time-out, not by the server
}

TEST_F(SandboxDevice, TransportReportsStatusLineAndHeaders) {
  Sandbox.Script(Key, "GetState",
                 R"({"Kind":"raw","Status":418,"Reason":"Чайник ИШ Reason","ContentType":"text/plain","Body":"teapot"})");
  const auto client = PlatformHTTPClientFactory()->CreateClient(THTTPClientOptions{});
  TStringStream body(R"({"PaymentId":"1","TerminalKey":")" + Key + R"(","Token":"x"})");
  TStringStream content;
  const THTTPResponse r = client->Execute("POST", Sandbox.HttpBase() + "/v2/GetState",
                                          {{"content-type", "application/json"}, {"X-Twice", "1"}, {"X-Twice", "2"}},
                                          &body, content);
  EXPECT_EQ(r.StatusCode, 418);
  EXPECT_EQ(r.StatusText, "Чайник ИШ Reason");
  EXPECT_EQ(content.Bytes(), "teapot");
  std::string type;
  for (const auto& h : r.Headers)
    if (_stricmp(h.Name.c_str(), "Content-Type") == 0) type = h.Value;
  EXPECT_EQ(type.substr(0, 10), "text/plain");
  const auto seen = Sandbox.Requests(Key).back();
  EXPECT_EQ(seen.Header("content-type"), "application/json");
  EXPECT_FALSE(seen.Header("user-agent").empty());
}

// WinHTTP may call back for a request after its call gave up on it: under Wine the step under
// way goes on until the server ends it. Until its last callback the request holds the module
// (in the DLL: DllCanUnloadNow answers S_FALSE).
TEST_F(SandboxDripDevice, ARequestGivenUpOnHoldsTheModuleUntilItsLastCallback) {
  static std::atomic<int> locks{0};
  const TScopedHook<TTransportModuleLock> hook(
      SetTransportModuleLock, {[]() noexcept { ++locks; }, []() noexcept { --locks; }});
  const auto settled = [](int AExpected) {  // the count, once it stops changing or in 30 s
    for (int i = 0; i < 300 && locks != AExpected; ++i) Sleep(100);
    return locks.load();
  };
  const std::string id = NewPayment(*Api, 400);
  EXPECT_EQ(settled(0), 0);  // a request that ended lets go when its handle closes

  DripFromNow(false);
  EXPECT_EQ(Failure([&] { Api->GetState(State(id)); }), TooLong);
  EXPECT_EQ(locks, 1);  // Wine's step still reads the dripping handshake
  Relay.Drop();          // the server ends it: the last callback comes
  EXPECT_EQ(settled(0), 0);
}

// Per-request cost of the WinHTTP transport: 1,000 sequential GetState calls through TDevice
// with the exchange log off and on, beside raw WinHTTP requests of the same bodies. Figures
// only; run by hand with --gtest_also_run_disabled_tests.
TEST_F(SandboxDevice, DISABLED_Throughput) {
  constexpr int N = 1000;
  const auto api = Device.GetApi();
  const std::string id = NewPayment(*api, 100);
  const TStateRequest state = State(id);
  const auto rate = [](auto AFn) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < N; ++i) AFn();
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return N / s;
  };
  const double logOff = rate([&] { api->GetState(state); });
  ExchangeLog::SetLogLevel(3);
  const double logOn = rate([&] { api->GetState(state); });
  ExchangeLog::SetLogLevel(0);

  const std::string bodyText =
      R"({"PaymentId":")" + id + R"(","TerminalKey":")" + Key + R"(","Token":")" + state.Token + R"("})";
  const std::wstring host = L"127.0.0.1";
  const INTERNET_PORT port =
      static_cast<INTERNET_PORT>(std::stoi(Sandbox.HttpBase().substr(Sandbox.HttpBase().rfind(':') + 1)));
  const auto raw = [&](HINTERNET ASession) {
    HINTERNET c = WinHttpConnect(ASession, host.c_str(), port, 0);
    HINTERNET r = WinHttpOpenRequest(c, L"POST", L"/v2/GetState", nullptr, WINHTTP_NO_REFERER,
                                     WINHTTP_DEFAULT_ACCEPT_TYPES, 0);
    const wchar_t* hdr = L"content-type: application/json\r\n";
    bool ok = WinHttpSendRequest(r, hdr, static_cast<DWORD>(-1), const_cast<char*>(bodyText.data()),
                                 static_cast<DWORD>(bodyText.size()), static_cast<DWORD>(bodyText.size()), 0) &&
              WinHttpReceiveResponse(r, nullptr);
    char buf[4096];
    DWORD got = 0;
    while (ok && WinHttpReadData(r, buf, sizeof buf, &got) && got > 0) {
    }
    WinHttpCloseHandle(r);
    WinHttpCloseHandle(c);
    EXPECT_TRUE(ok);
  };
  const double rawPerCall = rate([&] {
    HINTERNET s = WinHttpOpen(L"raw", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0);
    raw(s);
    WinHttpCloseHandle(s);
  });
  HINTERNET shared = WinHttpOpen(L"raw", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0);
  const double rawShared = rate([&] { raw(shared); });
  WinHttpCloseHandle(shared);
  std::printf("GetState requests/s over %d sequential calls:\n"
              "  TDevice, exchange log off: %.0f\n  TDevice, exchange log on:  %.0f\n"
              "  raw WinHTTP, session per request: %.0f\n  raw WinHTTP, one session (keep-alive): %.0f\n",
              N, logOff, logOn, rawPerCall, rawShared);
}
#endif

}  // namespace
