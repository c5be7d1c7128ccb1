// The native transport (cpp-httplib with OpenSSL) against the sandbox: TLS trust and host
// names, redirects up to the limit, status line and headers, time-outs, broken answers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "uBankExceptions.h"
#include "uDeviceCommon.h"
#include "uHTTPClient.h"
#include "kit/uSandbox.h"

namespace {

using testing::HasSubstr;
using tolvaro::test::TSandbox;

struct TResult {
  bank::THTTPResponse Response;
  std::string Body;
};

class NativeTransport : public testing::Test {
 protected:
  void SetUp() override {
    Key = TSandbox::UniqueKey("transport");
    Sandbox.AddTerminal(Key, "pw");
    setenv("TOLVARO_CA_FILE", Sandbox.CaPemPath().c_str(), 1);
  }
  void TearDown() override { unsetenv("TOLVARO_CA_FILE"); }

  // A GetState of this test's terminal (an error answer unless scripted: a bad token).
  TResult Call(const std::string& AUrl, bank::THTTPClientOptions AOptions = {}) {
    const auto client = bank::PlatformHTTPClientFactory()->CreateClient(AOptions);
    bank::TStringStream body("{\"PaymentId\":\"1\",\"TerminalKey\":\"" + Key + "\",\"Token\":\"x\"}");
    bank::TStringStream content;
    content.SetLimit(bank::MaxResponseSize);
    TResult r;
    r.Response = client->Execute("POST", AUrl, {{"content-type", "application/json"}}, &body, content);
    r.Body = content.DataString();
    return r;
  }
  std::string TransportError(const std::string& AUrl, bank::THTTPClientOptions AOptions = {}) {
    try {
      Call(AUrl, AOptions);
    } catch (const bank::EHTTPClientException& e) {
      return e.Message();
    }
    return "(no transport error)";
  }
  std::string HttpsPort() const { return Sandbox.HttpsBase().substr(Sandbox.HttpsBase().rfind(':') + 1); }

  TSandbox Sandbox;
  std::string Key;
};

TEST_F(NativeTransport, HttpsIsVerifiedAgainstTheTrustedCaAndTheHostName) {
  ASSERT_FALSE(Sandbox.HttpsBase().empty());
  const TResult ok = Call(Sandbox.HttpsBase() + "/v2/GetState");
  EXPECT_EQ(ok.Response.StatusCode, 200);
  EXPECT_THAT(ok.Body, HasSubstr("\"ErrorCode\":\"103\""));  // the sandbox checked the (bad) token

  // The certificate names localhost only: the same server by address is refused, also as
  // an IPv6 literal.
  EXPECT_THAT(TransportError("https://127.0.0.1:" + HttpsPort() + "/v2/GetState"), HasSubstr("TLS"));
  EXPECT_THAT(TransportError("https://[::1]:" + HttpsPort() + "/v2/GetState"), HasSubstr("TLS"));

  // Without the test CA the certificate is not trusted.
  unsetenv("TOLVARO_CA_FILE");
  EXPECT_THAT(TransportError(Sandbox.HttpsBase() + "/v2/GetState"), HasSubstr("TLS"));
  setenv("TOLVARO_CA_FILE", "/nonexistent/ca.pem", 1);
  EXPECT_THAT(TransportError(Sandbox.HttpsBase() + "/v2/GetState"), HasSubstr("cannot read the CA file"));
}

TEST_F(NativeTransport, FollowsRedirectsUpToTheLimit) {
  for (const std::string& base : {Sandbox.HttpBase(), Sandbox.HttpsBase()}) {
    SCOPED_TRACE(base);
    const TResult five = Call(base + "/_redirect/5/v2/GetState");
    EXPECT_EQ(five.Response.StatusCode, 200);
    EXPECT_THAT(five.Body, HasSubstr("\"ErrorCode\":\"103\""));  // the POST and its body went all the way (a bad token)
    EXPECT_THAT(TransportError(base + "/_redirect/6/v2/GetState"), HasSubstr("Too many redirects"));
  }
  bank::THTTPClientOptions none;
  none.MaxRedirects = 0;
  EXPECT_THAT(TransportError(Sandbox.HttpBase() + "/_redirect/1/v2/GetState", none), HasSubstr("Too many redirects"));
  // Every hop reached the sandbox as a request of the terminal: (6 + 6) per scheme, and 1.
  EXPECT_EQ(Sandbox.Requests(Key).size(), 25u);
}

TEST_F(NativeTransport, StatusLineAndHeadersReachTheCaller) {
  Sandbox.Script(Key, "GetState",
                 R"({"Kind":"raw","Status":502,"Reason":"Upstream Is Down","ContentType":"text/html","Body":"<p>x</p>"})");
  const TResult r = Call(Sandbox.HttpBase() + "/v2/GetState");
  EXPECT_EQ(r.Response.StatusCode, 502);
  EXPECT_EQ(r.Response.StatusText, "Upstream Is Down");
  EXPECT_EQ(r.Body, "<p>x</p>");
  EXPECT_THAT(r.Response.Headers, testing::Contains(bank::THTTPHeader{"Content-Type", "text/html"}));

  Sandbox.Script(Key, "GetState", R"({"Kind":"raw","Status":404,"Body":""})");
  const TResult empty = Call(Sandbox.HttpsBase() + "/v2/GetState");
  EXPECT_EQ(empty.Response.StatusCode, 404);
  EXPECT_EQ(empty.Response.StatusText, "Not Found");
  EXPECT_EQ(empty.Body, "");
}

TEST_F(NativeTransport, BrokenAnswersAreTransportErrors) {
  for (const char* answer : {R"({"Kind":"drop"})", R"({"Kind":"truncate"})", R"({"Kind":"reset-mid-body"})"}) {
    SCOPED_TRACE(answer);
    Sandbox.Script(Key, "GetState", answer);
    EXPECT_NE(TransportError(Sandbox.HttpBase() + "/v2/GetState"), "(no transport error)");
    Sandbox.Script(Key, "GetState", answer);
    EXPECT_NE(TransportError(Sandbox.HttpsBase() + "/v2/GetState"), "(no transport error)");
  }
  // Over the size cap: the stream's own error, and nothing more is read. The terminal starts
  // anew, so that a broken answer left unused above (a request that failed before it reached
  // the script, on a machine under load) cannot answer this one.
  Sandbox.AddTerminal(Key, "pw");
  Sandbox.Script(Key, "GetState", R"({"Kind":"huge","Bytes":5000000})");
  try {
    Call(Sandbox.HttpBase() + "/v2/GetState");
    FAIL() << "a body over the cap was accepted";
  } catch (const bank::EHTTPClientException& e) {
    FAIL() << "transport error instead of the size error: " << e.Message();
  } catch (const bank::Exception& e) {
    EXPECT_EQ(e.Message(), "Ответ сервера превышает допустимый размер (4 МиБ)");
  }
  // Just under the cap is fine.
  Sandbox.Script(Key, "GetState", R"({"Kind":"huge","Bytes":4194304})");
  EXPECT_EQ(Call(Sandbox.HttpBase() + "/v2/GetState").Body.size(), 4194304u);
}

TEST_F(NativeTransport, HungServerEndsInTheTimeout) {
  Sandbox.Script(Key, "GetState", R"({"Kind":"delay","Ms":60000})");
  bank::THTTPClientOptions quick;
  quick.ResponseTimeout = 700;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THAT(TransportError(Sandbox.HttpBase() + "/v2/GetState", quick), HasSubstr("within 700 ms"));
  // Far below the server's delay: the client gave up by itself.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

TEST_F(NativeTransport, IPv6LiteralsWork) {
  if (Sandbox.Http6Base().empty()) GTEST_SKIP() << "no IPv6 loopback on this host";
  const TResult r = Call(Sandbox.Http6Base() + "/v2/GetState");
  EXPECT_EQ(r.Response.StatusCode, 200);
  EXPECT_THAT(r.Body, HasSubstr("\"ErrorCode\":\"103\""));
  // The Host header names the literal in brackets.
  EXPECT_EQ(Sandbox.Requests(Key).back().Header("Host"), Sandbox.Http6Base().substr(7));
}

TEST_F(NativeTransport, NothingListeningIsATransportError) {
  // A port that was free a moment ago.
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  close(fd);
  EXPECT_THAT(TransportError("http://127.0.0.1:" + std::to_string(ntohs(a.sin_port)) + "/v2/GetState"),
              HasSubstr("Cannot connect"));
  EXPECT_THAT(TransportError("ftp://127.0.0.1/x"), HasSubstr("Invalid URL"));
}

}  // namespace
