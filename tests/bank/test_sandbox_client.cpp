// The bank client (TDevice, ITolvaro, the bridge and the platform transport) against the
// sandbox over loopback HTTP: the payment life cycle, real error answers, several threads
// on one interface. The sandbox is the test run's fixture (TOLVARO_SANDBOX).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "uBankExceptions.h"
#include "uDevice.h"
#include "uDeviceCommon.h"
#include "kit/uSandbox.h"

namespace {

using bank::Currency;
using testing::HasSubstr;
using tolvaro::test::TSandbox;

Currency Minor(int64_t AMinor) { return Currency::FromRaw(AMinor * Currency::Scale); }
int64_t ToMinor(Currency A) { return A.Raw / Currency::Scale; }

class SandboxClient : public testing::Test {
 protected:
  void SetUp() override {
    // Until the default transport falls back to the platform's by itself.
    if (!bank::DefaultHTTPClientFactory()) bank::SetDefaultHTTPClientFactory(bank::PlatformHTTPClientFactory());
    Key = TSandbox::UniqueKey("client");
    Sandbox.AddTerminal(Key, Password);
    Device.SetBaseURL(Sandbox.HttpBase() + "/v2");
    Api = Device.GetApi();
  }

  std::string NewPayment(int64_t AMinor) {
    bank::TInitRequest init{Minor(AMinor), "ORDER-" + std::to_string(AMinor), Key};
    const bank::TInitResponse r = Api->Init(init);
    EXPECT_EQ(r.Status, "NEW");
    EXPECT_EQ(ToMinor(r.Amount), AMinor);
    return r.PaymentId;
  }
  bank::TStateRequest State(const std::string& AId, const std::string& APassword = {}) const {
    bank::TStateRequest s{AId, Key, ""};
    s.Token = bank::MakeToken(s, APassword.empty() ? Password : APassword);
    return s;
  }

  TSandbox Sandbox;
  std::string Key;
  const std::string Password = "Пароль-1";  // non-ASCII: the token is over UTF-8 bytes
  bank::TDevice Device;
  std::shared_ptr<bank::ITolvaro> Api;
};

TEST_F(SandboxClient, PaymentLifeCycleFromQrToFullRefund) {
  const std::string id = NewPayment(10050);

  bank::TQrRequest qr{id, Key, ""};
  qr.Token = bank::MakeToken(qr, Password);
  const bank::TQrResponse q = Api->GetQr(qr);
  EXPECT_EQ(q.PaymentId, id);
  EXPECT_FALSE(q.Data.empty());

  // The customer pays on the second poll.
  Sandbox.SetBehaviour(Key, "CONFIRMED", 1);
  EXPECT_EQ(Api->GetState(State(id)).Status, "FORM_SHOWED");
  const bank::TStateResponse paid = Api->GetState(State(id));
  EXPECT_EQ(bank::StatusFromText(paid.Status), bank::CONFIRMED);
  EXPECT_EQ(ToMinor(paid.Amount), 10050);

  bank::TCancelRequest part{Minor(5000), id, Key, ""};
  part.Token = bank::MakeToken(part, Password);
  const bank::TCancelResponse r1 = Api->Cancel(part);
  EXPECT_EQ(r1.Status, "PARTIAL_REFUNDED");
  EXPECT_EQ(r1.PaymentId, id);
  EXPECT_EQ(ToMinor(r1.OriginalAmount - r1.NewAmount), 5000);

  // More than is left is refused; the rest is not.
  bank::TCancelRequest tooMuch{Minor(5051), id, Key, ""};
  tooMuch.Token = bank::MakeToken(tooMuch, Password);
  EXPECT_THROW(Api->Cancel(tooMuch), bank::Exception);
  bank::TCancelRequest rest{Minor(5050), id, Key, ""};
  rest.Token = bank::MakeToken(rest, Password);
  const bank::TCancelResponse r2 = Api->Cancel(rest);
  EXPECT_EQ(r2.Status, "REFUNDED");
  EXPECT_EQ(ToMinor(r2.NewAmount), 0);

  const auto ledger = Sandbox.Payments(Key);
  ASSERT_EQ(ledger.size(), 1u);
  EXPECT_EQ(ledger[0].Status, "REFUNDED");
  EXPECT_EQ(ledger[0].Refunded, 10050);
  EXPECT_EQ(ledger[0].Polls, 2);
}

TEST_F(SandboxClient, WithdrawnQrAndRejectedPaymentAreNotPaid) {
  const std::string withdrawn = NewPayment(100);
  bank::TCancelQrRequest cq{withdrawn, Key, ""};
  cq.Token = bank::MakeToken(cq, Password);
  EXPECT_EQ(Api->CancelQr(cq).Status, "CANCELED");

  const std::string rejected = NewPayment(200);
  Sandbox.SetPaymentStatus(rejected, "REJECTED");
  EXPECT_EQ(Api->GetState(State(rejected)).Status, "REJECTED");

  // A refund of a payment that was never paid is an error answer.
  bank::TCancelRequest refund{Minor(100), withdrawn, Key, ""};
  refund.Token = bank::MakeToken(refund, Password);
  EXPECT_THROW(Api->Cancel(refund), bank::Exception);
}

TEST_F(SandboxClient, WrongTokenAndUnknownTerminalAreBankErrors) {
  const std::string id = NewPayment(300);
  try {
    Api->GetState(State(id, "wrong password"));
    FAIL() << "a wrong token was accepted";
  } catch (const bank::Exception& e) {
    EXPECT_EQ(e.Message(), "Неверный токен Токен не совпадает с ожидаемым");
  }
  bank::TInitRequest init{Minor(100), "O", Key + "-unknown"};
  EXPECT_THROW(Api->Init(init), bank::Exception);
}

TEST_F(SandboxClient, RequestReachesTheBankAsSent) {
  const std::string id = NewPayment(4242);
  const auto requests = Sandbox.Requests(Key);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Method, "POST");
  EXPECT_EQ(requests[0].Path, "/v2/Init");
  EXPECT_EQ(requests[0].Header("content-type"), "application/json");
  EXPECT_EQ(requests[0].Body, "{\"Amount\":4242,\"OrderId\":\"ORDER-4242\",\"TerminalKey\":\"" + Key + "\"}");

  // A base URL ending in a slash gives a double slash before the operation.
  Device.SetBaseURL(Sandbox.HttpBase() + "/v2/");
  Device.GetApi()->GetState(State(id));
  EXPECT_EQ(Sandbox.Requests(Key).back().Path, "/v2//GetState");
}

// The response check on answers that really travelled over HTTP.
TEST_F(SandboxClient, ErrorAnswersFailTheCallWithTheirText) {
  const std::string id = NewPayment(500);
  struct Case {
    const char* Answer;
    const char* Message;  // empty: the call succeeds
  } cases[] = {
      {R"({"Kind":"error","ErrorCode":"14","Message":"M","Details":"D"})", "M D"},
      {R"({"Kind":"error","ErrorCode":14,"Message":"Отказ"})", "Отказ "},
      {R"({"Kind":"error","ErrorCode":"0","Message":"ignored"})", ""},
      {R"({"Kind":"error","ErrorCode":null})", "'null' is not a valid integer value"},
      {R"({"Kind":"error","ErrorCode":1e400,"Message":"M"})", "'1e400' is not a valid integer value"},
      {R"({"Kind":"raw","Status":502,"Reason":"Bad Gateway","ContentType":"text/html","Body":"<html>502</html>"})",
       "Некорректная структура ответа. Ожидается application/json"},
      {R"({"Kind":"raw","Status":404,"Reason":"Not Found","Body":""})", "Not Found"},
      {R"({"Kind":"raw","Status":200,"ContentType":"application/json","Body":"{\"errorcode\":\"7\",\"Status\":\"X\"}"})", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Answer);
    Sandbox.Script(Key, "GetState", c.Answer);
    if (*c.Message == '\0') {
      EXPECT_NO_THROW(Api->GetState(State(id)));
    } else {
      try {
        Api->GetState(State(id));
        ADD_FAILURE() << "no exception";
      } catch (const bank::Exception& e) {
        EXPECT_EQ(e.Message(), c.Message);
      }
    }
  }
  // Lower-case errorcode passes the check but still fills the record.
  Sandbox.Script(Key, "GetState", R"({"Kind":"raw","Status":200,"ContentType":"application/json","Body":"{\"errorcode\":\"7\"}"})");
  EXPECT_EQ(Api->GetState(State(id)).ErrorCode, 7);
  // An empty 200 fails in the converter.
  Sandbox.Script(Key, "GetState", R"({"Kind":"raw","Status":200,"Body":""})");
  EXPECT_THROW(Api->GetState(State(id)), bank::Exception);
}

// The payment wait polls while the host calls: one interface, several threads, each call
// gets its own answer.
TEST_F(SandboxClient, ThreadsSharingOneInterfaceGetTheirOwnAnswers) {
  constexpr int Threads = 6, Calls = 15;
  std::vector<std::string> ids;
  for (int t = 0; t < Threads; ++t) ids.push_back(NewPayment(1000 + t));
  std::vector<int> wrong(Threads, 0), failed(Threads, 0);
  std::vector<std::thread> pool;
  for (int t = 0; t < Threads; ++t)
    pool.emplace_back([&, t] {
      for (int i = 0; i < Calls; ++i) {
        try {
          const bank::TStateResponse r = Api->GetState(State(ids[t]));
          if (r.PaymentId != ids[t] || ToMinor(r.Amount) != 1000 + t) ++wrong[t];
        } catch (...) {
          ++failed[t];
        }
      }
    });
  for (auto& th : pool) th.join();
  for (int t = 0; t < Threads; ++t) {
    EXPECT_EQ(wrong[t], 0) << "thread " << t;
    EXPECT_EQ(failed[t], 0) << "thread " << t;
  }
}

TEST(SandboxSupport, MissingSandboxIsAClearError) {
  try {
    TSandbox s("/nonexistent/sandbox.info");
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_THAT(e.what(), HasSubstr("cannot read the info file"));
  }
#ifdef _WIN32
  EXPECT_EQ(TSandbox::PlatformPath("/work/b/sandbox.info"), "Z:\\work\\b\\sandbox.info");
#else
  EXPECT_EQ(TSandbox::PlatformPath("/work/b/sandbox.info"), "/work/b/sandbox.info");
#endif
}

}  // namespace
