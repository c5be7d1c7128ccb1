// TDevice over the scripted transport: what GetApi sends, the exchange-log lines of a call,
// the response check, and that a log that cannot be written never fails a call.
#include <gtest/gtest.h>

#include "kit/BankTestKit.h"
#include "kit/LogFileKit.h"
#include "uDevice.h"
#include "uFakeHTTPClient.h"

using namespace bank;

namespace {

class DeviceTest : public logkit::ExchangeLogTest {
 protected:
  void SetUp() override {
    ExchangeLogTest::SetUp();
    SetDefaultHTTPClientFactory(Transport);
    Device.SetBaseURL("https://bank.example/v2");
  }
  void TearDown() override {
    SetDefaultHTTPClientFactory(nullptr);
    ExchangeLogTest::TearDown();
  }
  // The log's lines after the banner, without their time stamps.
  std::vector<std::string> LoggedLines() {
    auto lines = logkit::ReadLines(File);
    std::vector<std::string> out;
    for (size_t i = 6; i < lines.size(); ++i) {
      const bool stamped = lines[i].size() > 23 && lines[i][0] >= '0' && lines[i][0] <= '9';
      out.push_back(stamped ? lines[i].substr(23) : lines[i]);
    }
    return out;
  }

  std::shared_ptr<TFakeHTTPClientFactory> Transport = std::make_shared<TFakeHTTPClientFactory>();
  TDevice Device;
};

TEST_F(DeviceTest, GetApiSendsTheJsonHeaderItselfAndLogsRequestAndResponse) {
  ExchangeLog::SetLogLevel(3);
  const auto api = Device.GetApi();
  Transport->Push({200, "OK", R"({"Success":true,"ErrorCode":"0","PaymentId":"13660"})"});
  const TInitResponse r = api->Init({Currency::FromRaw(100500000), "A", "T"});
  EXPECT_EQ(r.PaymentId, "13660");
  ExchangeLog::SetLogLevel(0);

  const auto req = Transport->LastRequest();
  EXPECT_EQ(req.URL, "https://bank.example/v2/Init");
  EXPECT_EQ(req.Headers, (THeaderList{{"content-type", "application/json"}}));
  EXPECT_EQ(req.Options.ConnectionTimeout, 60000);
  EXPECT_EQ(req.Options.ResponseTimeout, 60000);
  EXPECT_EQ(req.Options.MaxRedirects, 5);

  const auto lines = LoggedLines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0],
            "\tDEBUG\tTDevice: \t> POST https://bank.example/v2/Init content-type: application/json;  "
            R"({"Amount":10050,"OrderId":"A","TerminalKey":"T"})");
  EXPECT_EQ(lines[1], "\tDEBUG\tTDevice: \t< StatusCode: 200 POST https://bank.example/v2/Init "
                      R"({"Success":true,"ErrorCode":"0","PaymentId":"13660"})");
}

TEST_F(DeviceTest, TheLogWritesRequestTokensAsStarsAndTheRestAsSent) {
  ExchangeLog::SetLogLevel(3);
  Transport->Push({200, "OK", R"({"Status":"FORM_SHOWED","Amount":100})"});
  Device.GetApi()->GetState({"P", "T", "0f1e2d3c"});
  ExchangeLog::SetLogLevel(0);
  std::string sent = Transport->LastRequest().Body.value_or("");
  ASSERT_NE(sent.find(R"("Token":"0f1e2d3c")"), std::string::npos) << sent;  // the bank gets it
  sent.replace(sent.find("0f1e2d3c"), 8, "***");
  const auto lines = LoggedLines();
  ASSERT_GE(lines.size(), 1u);
  EXPECT_EQ(lines[0], "\tDEBUG\tTDevice: \t> POST https://bank.example/v2/GetState content-type: application/json;  " + sent);
}

TEST_F(DeviceTest, EachApiKeepsTheUrlOfItsMomentAndASlashIsNotRemoved) {
  const auto first = Device.GetApi();
  Device.SetBaseURL("https://other.example/v2/");
  const auto second = Device.GetApi();
  first->GetState({"P", "T", "k"});
  EXPECT_EQ(Transport->LastRequest().URL, "https://bank.example/v2/GetState");
  second->GetState({"P", "T", "k"});
  EXPECT_EQ(Transport->LastRequest().URL, "https://other.example/v2//GetState");
}

TEST_F(DeviceTest, UnwritableLogNeverFailsTheCall) {
  ExchangeLog::SetLogFileName(logkit::PathText(Dir / "missing" / "x.log"));
  ExchangeLog::SetLogLevel(3);
  Transport->Push({200, "OK", R"({"Status":"PARTIAL_REFUNDED","OriginalAmount":10050,"NewAmount":5025})"});
  TCancelResponse r;
  EXPECT_NO_THROW(r = Device.GetApi()->Cancel({Currency::FromRaw(50250000), "P", "T", "k"}));
  EXPECT_EQ(r.Status, "PARTIAL_REFUNDED");
  ExchangeLog::SetLogLevel(0);
}

TEST(ResponseCheck, FirstCaseSensitiveErrorCodeDecides) {
  struct TCase {
    int Status;
    std::string Reason, Body, Expected;  // "" = acceptable
  };
  const std::string notJson = "Exception: Некорректная структура ответа. Ожидается application/json";
  const std::vector<TCase> cases = {
      {200, "OK", R"({"ErrorCode":"7","Message":"M","Details":"D"})", "Exception: M D"},
      {200, "OK", R"({"ErrorCode":7})", "Exception:  "},
      // Outside 2xx a JSON body without a non-zero ErrorCode is a gateway's, whatever it holds:
      // the answer of each operation's shape fails with the status text.
      {500, "Internal", R"({"ErrorCode":"0","Message":"M"})", "Exception: Internal"},
      {502, "Bad Gateway", R"({"message":"Service Unavailable"})", "Exception: Bad Gateway"},
      {503, "Service Unavailable", R"({"Success":true,"ErrorCode":"0","PaymentId":"1","Amount":100})",
       "Exception: Service Unavailable"},  // Init
      {504, "Gateway Timeout", R"({"Success":true,"ErrorCode":"0","Data":"https://qr.example/1"})",
       "Exception: Gateway Timeout"},  // GetQr
      {502, "Bad Gateway", R"({"Success":true,"Status":"CONFIRMED","PaymentId":"1","Amount":100})",
       "Exception: Bad Gateway"},  // GetState
      {503, "Service Unavailable", R"({"Success":true,"Status":"REFUNDED","OriginalAmount":100,"NewAmount":0})",
       "Exception: Service Unavailable"},  // Cancel
      {302, "Found", R"({})", "Exception: Found"},
      {199, "Odd", R"({})", "Exception: Odd"},
      {502, "Bad Gateway", R"({"ErrorCode":"9","Message":"M","Details":"D"})", "Exception: M D"},  // the bank's own
      {201, "Created", R"({"ErrorCode":"0"})", ""},
      {299, "Odd", R"({})", ""},
      {503, "", R"({})", "Exception: HTTP 503"},  // no reason phrase (HTTP/2)
      {404, "", "", "Exception: HTTP 404"},
      {200, "OK", R"({"ErrorCode":0,"Success":false})", ""},
      {200, "OK", R"({"errorcode":"7","ERRORCODE":7})", ""},
      {200, "OK", R"({"ErrorCode":"0","ErrorCode":"7"})", ""},
      {200, "OK", R"({"ErrorCode":"7","ErrorCode":"0","Message":"first"})", "Exception: first "},
      {200, "OK", R"({"Inner":{"ErrorCode":"7"}})", ""},
      {200, "OK", R"([{"ErrorCode":"7"}])", ""},
      {200, "OK", R"({"ErrorCode":null})", "EConvertError: 'null' is not a valid integer value"},
      {200, "OK", R"({"ErrorCode":true})", "EConvertError: 'true' is not a valid integer value"},
      {200, "OK", R"({"ErrorCode":"7a"})", "EConvertError: '7a' is not a valid integer value"},
      {200, "OK", R"({"ErrorCode":1.5})", "EConvertError: '1.5' is not a valid integer value"},
      {200, "OK", R"({"ErrorCode":"9","Message":null,"Details":12.50})", "Exception: null 12.50"},
      {200, "OK", R"({"ErrorCode":"0","Ignored":1e400})", ""},
      {502, "Bad Gateway", "<html><body>Bad Gateway</body></html>", notJson},
      {200, "OK", R"({"ErrorCode":"7")", notJson},
      {404, "Not Found", "", "Exception: Not Found"},
      {200, "OK", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Body);
    const std::string got = Failure([&] { CheckBankResponse(c.Status, c.Reason, c.Body); });
    EXPECT_EQ(got, c.Expected.empty() ? "no exception" : c.Expected);
  }
}

}  // namespace
