// The bank interface over the bridge: paths, bodies, records, statuses and tokens.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "uDeviceCommon.h"
#include "uFakeHTTPClient.h"
#include "uJsonConverterFactory.h"
#include "uSha256.h"

using namespace bank;

namespace {

const std::string Base = "https://bank.example/v2";

class TolvaroTest : public ::testing::Test {
 protected:
  std::shared_ptr<TFakeHTTPClientFactory> Transport = std::make_shared<TFakeHTTPClientFactory>();
  std::shared_ptr<ITolvaro> Api = [this] {
    auto b = HTTPBridge::Builder<ITolvaro>();
    b->SetUrl(Base)
        .AddHeader("content-type: application/json")
        .SetConverter(std::make_shared<TJsonConverterFactory>())
        .SetHTTPClientFactory(Transport);
    return b->Build();
  }();
};

Currency Minor(int64_t AUnits) { return Currency::FromRaw(AUnits * Currency::Scale); }

TEST_F(TolvaroTest, EachOperationPostsItsRecordToItsPath) {
  struct TCase {
    std::function<void(ITolvaro&)> Call;
    std::string Path, Body;
  };
  const std::vector<TCase> cases = {
      {[](ITolvaro& a) { a.Init({Minor(10050), "A", "T"}); }, "/Init",
       R"({"Amount":10050,"OrderId":"A","TerminalKey":"T"})"},
      {[](ITolvaro& a) { a.GetQr({"P", "T", "k"}); }, "/GetQr", R"({"PaymentId":"P","TerminalKey":"T","Token":"k"})"},
      {[](ITolvaro& a) { a.GetState({"P", "T", "k"}); }, "/GetState",
       R"({"PaymentId":"P","TerminalKey":"T","Token":"k"})"},
      {[](ITolvaro& a) { a.Cancel({Minor(500), "P", "T", "k"}); }, "/Cancel",
       R"({"Amount":500,"PaymentId":"P","TerminalKey":"T","Token":"k"})"},
      {[](ITolvaro& a) { a.CancelQr({"P", "T", "k"}); }, "/Cancel",
       R"({"PaymentId":"P","TerminalKey":"T","Token":"k"})"},
      {[](ITolvaro& a) { a.SbpPayTest({"P", "T", "k"}); }, "/SbpPayTest",
       R"({"PaymentId":"P","TerminalKey":"T","Token":"k"})"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Path);
    c.Call(*Api);
    const auto req = Transport->LastRequest();
    EXPECT_EQ(req.Method, "POST");
    EXPECT_EQ(req.URL, Base + c.Path);
    EXPECT_EQ(req.Headers, (THeaderList{{"content-type", "application/json"}}));
    EXPECT_EQ(req.Body, c.Body);
  }
}

TEST_F(TolvaroTest, ResponsesFillTheirRecords) {
  Transport->Push({200, "OK",
                   R"({"Success":true,"ErrorCode":"0","TerminalKey":"T","Status":"NEW","PaymentId":"13660",)"
                   R"("OrderId":"A","Amount":10050,"PaymentURL":"https:\/\/pay.example\/1","Extra":[1]})"});
  const TInitResponse init = Api->Init({Minor(10050), "A", "T"});
  EXPECT_TRUE(init.Success);
  EXPECT_EQ(init.PaymentId, "13660");
  EXPECT_EQ(init.Amount / 100, Currency::FromDouble(100.5));
  EXPECT_EQ(init.PaymentURL, "https://pay.example/1");

  Transport->Push({200, "OK", R"({"Status":"PARTIAL_REFUNDED","OriginalAmount":10050,"NewAmount":"5025"})"});
  const TCancelResponse cancel = Api->Cancel({Minor(5025), "13660", "T", "k"});
  EXPECT_EQ((cancel.OriginalAmount - cancel.NewAmount) / 100, Currency::FromDouble(50.25));

  Transport->Push({200, "OK", R"({"Success":true,"ErrorCode":"0","Status":"confirmed","PaymentId":"13660",)"
                               R"("Amount":"10050"})"});
  const TStateResponse state = Api->GetState({"13660", "T", "k"});
  EXPECT_EQ(StatusFromText(state.Status), CONFIRMED);
  EXPECT_EQ(state.Amount / 100, Currency::FromDouble(100.5));

  // No Success and no ErrorCode member: false and 0.
  Transport->Push({200, "OK", R"({"Data":"https:\/\/qr.example\/x"})"});
  const TQrResponse qr = Api->GetQr({"13660", "T", "k"});
  EXPECT_FALSE(qr.Success);
  EXPECT_EQ(qr.ErrorCode, 0);
  EXPECT_EQ(qr.Data, "https://qr.example/x");
}

TEST(TStatusMapping, NamesMatchIgnoringAsciiCase) {
  struct TCase {
    const char* Text;
    int Value;
  };
  for (const auto& c : std::vector<TCase>{{"UNKNOWN", 0},
                                          {"form_showed", 1},
                                          {"Rejected", 2},
                                          {"CANCELED", 3},
                                          {"REVERSED", 4},
                                          {"partial_refunded", 5},
                                          {"REFUNDED", 6},
                                          {"confirmed", 7},
                                          {"", -1},
                                          {"NEW", -1},
                                          {"CONFIRMED ", -1},
                                          {"CANCELLED", -1}})
    EXPECT_EQ(StatusFromText(c.Text), c.Value) << c.Text;
  EXPECT_EQ(StatusName(CONFIRMED), "CONFIRMED");
}

TEST(Tokens, Sha256OfUtf8Text) {
  // FIPS 180-4 examples.
  EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(Sha256Hex(std::string(1000000, 'a')),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");

  // Password + PaymentId + TerminalKey, non-ASCII as UTF-8 bytes.
  EXPECT_EQ(MakeToken(TQrRequest{"P1", "Терминал", ""}, "пароль"),
            "bb65d43dc0491228ef80ee361b30dac4f87d06c11741916b2027836c32a7660c");
  EXPECT_EQ(MakeToken(TStateRequest{"P", "T", ""}, "pw"), Sha256Hex("pwPT"));
  EXPECT_EQ(MakeToken(TCancelQrRequest{"P", "T", ""}, "pw"), Sha256Hex("pwPT"));
  // A Token already in the record (a stale one) never enters its own hash.
  EXPECT_EQ(MakeToken(TStateRequest{"P", "T", "stale"}, "pw"), Sha256Hex("pwPT"));
  EXPECT_EQ(MakeToken(TCancelRequest{Currency::FromDouble(100.50) * 100, "P", "T", "stale"}, "pw"),
            Sha256Hex("10050pwPT"));
  // Refund: the amount text as in the body comes first ("10050pwPT", "1234.5pwPT").
  EXPECT_EQ(MakeToken(TCancelRequest{Currency::FromDouble(100.50) * 100, "P", "T", ""}, "pw"),
            "ba74594be15497a61bd4133dc3dd77b735af770d16c595cd8edc153ec97085a5");
  EXPECT_EQ(MakeToken(TCancelRequest{Currency::FromDouble(12.345) * 100, "P", "T", ""}, "pw"),
            "37374626c80161a43e34812711a88ac20ac0e37dea6ad24c7f00ea7e9db3bac6");
}

}  // namespace
