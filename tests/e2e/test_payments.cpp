// Payments end to end: the registered driver, driven through Invoke, against the sandbox.
#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "kit/E2EKit.h"
#include "kit/FpuPrecision.h"
#include "platform/uLocale.h"
#include "uSha256.h"

namespace {

using namespace e2e;

std::wstring Pad(size_t n) { return std::wstring(n, L' '); }

// The receipt as the cashier's printer gets it: value pushed to the right edge of Width.
std::wstring Line(const std::wstring& label, const std::wstring& value, size_t width) {
  const size_t used = label.size() + value.size();
  return label + (used < width ? Pad(width - used) : L"") + value + L"\r\n";
}

std::wstring ExpectedReceipt(const std::wstring& operation, const std::wstring& id, const std::wstring& amount,
                             double date, size_t width) {
  SYSTEMTIME t{};
  VariantTimeToSystemTime(date, &t);
  wchar_t sep[8] = {};
  GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIME, sep, 8);
  wchar_t d[32], tm[32];
  swprintf(d, 32, L"%02u.%02u.%02u", t.wDay, t.wMonth, t.wYear % 100);
  swprintf(tm, 32, L"%02u%s%02u", t.wHour, sep, t.wMinute);
  std::wstring text = Line(std::wstring(L"Дата: ") + d, std::wstring(L"Время: ") + tm, width) +
                      Line(L"Операция:", operation, width) + Line(L"Сумма:", amount, width);
  if (!id.empty()) text += Line(L"ID:", L"", width) + Line(L"", id, width);
  return text;
}

double Now() {
  SYSTEMTIME t{};
  GetLocalTime(&t);
  t.wMilliseconds = 0;
  double d = 0;
  SystemTimeToVariantTime(&t, &d);
  return d;
}

std::string OrderIdOf(const TSession& s, const std::wstring& paymentId) {
  for (const auto& p : s.Sandbox.Payments(s.Key))
    if (W(p.PaymentId) == paymentId) return p.OrderId;
  return {};
}

bool IsUpperGuid(const std::string& text) {
  if (text.size() != 36) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (c != '-') return false;
    } else if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) {
      return false;
    }
  }
  return true;
}

// ------------------------------------------------------------------------------------------
// Registration and withdrawal of QR codes

TEST(Payments, RegisterQrCodeCreatesThePaymentAndAnswersTheBanksIdentifierAndPayload) {
  TSession s;
  TVariant out;
  TInvokeResult r =
      s.Call(L"RegisterQrCode", Args({TVariant::FromDouble(123.45), TVariant::FromString(L"Заказ 1")}), out);
  ASSERT_TRUE(IsTrue(r));
  ASSERT_EQ(CountOf(out), 4);
  for (LONG i = 0; i < 4; ++i) EXPECT_EQ(ItemOf(out, i).Type(), VT_BSTR) << i;
  const std::wstring id = Str(ItemOf(out, 0));
  ASSERT_FALSE(id.empty());
  EXPECT_EQ(Str(ItemOf(out, 3)), id);
  EXPECT_FALSE(Str(ItemOf(out, 1)).empty());
  EXPECT_EQ(Str(ItemOf(out, 2)), Str(ItemOf(out, 1)));

  const auto requests = s.Sandbox.Requests(s.Key);
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].Path, "/v2/Init");
  EXPECT_NE(requests[0].Body.find("\"Amount\":12345,"), std::string::npos) << requests[0].Body;
  EXPECT_NE(requests[0].Body.find("\"TerminalKey\":\"" + s.Key + "\""), std::string::npos);
  EXPECT_EQ(requests[0].Body.find("Token"), std::string::npos);
  EXPECT_EQ(requests[1].Path, "/v2/GetQr");
  const std::string token = bank::Sha256Hex(U8(s.Password) + U8(id) + s.Key);
  EXPECT_NE(requests[1].Body.find("\"Token\":\"" + token + "\""), std::string::npos) << requests[1].Body;
  EXPECT_EQ(requests[1].Header("content-type"), "application/json");

  const std::string order1 = OrderIdOf(s, id);
  EXPECT_TRUE(IsUpperGuid(order1)) << order1;
  EXPECT_NE(requests[0].Body.find("\"OrderId\":\"" + order1 + "\""), std::string::npos);

  // The same amount again: another order, another payment.
  const std::wstring id2 = s.Register(123.45);
  EXPECT_NE(id2, id);
  const std::string order2 = OrderIdOf(s, id2);
  EXPECT_TRUE(IsUpperGuid(order2));
  EXPECT_NE(order2, order1);
  const auto ledger = s.Sandbox.Payments(s.Key);
  ASSERT_EQ(ledger.size(), 2u);
  EXPECT_EQ(ledger[0].Amount, 12345);
  EXPECT_EQ(ledger[0].Status, "FORM_SHOWED");
}

TEST(Payments, AFailingGetQrGivesTheBanksTextAndNoIdentifiers) {
  TSession s;
  s.Sandbox.Script(s.Key, "GetQr", R"({"Kind":"error","ErrorCode":"77","Message":"Сбой QR","Details":"Повторите"})");
  TVariant out = TVariant::FromString(L"host's");
  TInvokeResult r = s.Call(L"RegisterQrCode", Args({TVariant::FromDouble(5), TVariant::FromString(L"")}), out);
  ASSERT_EQ(r.Hr, S_OK);
  EXPECT_FALSE(IsTrue(r));
  ASSERT_EQ(CountOf(out), 2);
  EXPECT_EQ(ItemOf(out, 0).Get().lVal, 1001);
  EXPECT_EQ(Str(ItemOf(out, 1)), L"Сбой QR Повторите");
  // Init went through: the payment stays at the bank, as it does when its QR code fails.
  EXPECT_EQ(s.Sandbox.Payments(s.Key).size(), 1u);
}

TEST(Payments, UnregisterQrCodeWithdrawsThePayment) {
  TSession s;
  const std::wstring id = s.Register(10);
  TVariant out = TVariant::FromString(L"host's");
  ASSERT_TRUE(IsTrue(s.Call(L"UnregisterQrCode", Args({TVariant::FromString(id)}), out)));
  EXPECT_EQ(out.Type(), VT_EMPTY);
  EXPECT_EQ(s.Sandbox.Payments(s.Key)[0].Status, "CANCELED");
  const auto requests = s.Sandbox.Requests(s.Key);
  EXPECT_EQ(requests.back().Path, "/v2/Cancel");
  EXPECT_EQ(requests.back().Body.find("Amount"), std::string::npos);

  // Twice: the bank's refusal is the answer.
  TInvokeResult again = s.Call(L"UnregisterQrCode", Args({TVariant::FromString(id)}), out);
  EXPECT_FALSE(IsTrue(again));
  EXPECT_EQ(ItemOf(out, 0).Get().lVal, 1001);
  EXPECT_TRUE(Str(ItemOf(out, 1)).starts_with(L"Операция невозможна")) << U8(Str(ItemOf(out, 1)));
}

// ------------------------------------------------------------------------------------------
// Pay and the payment state

TEST(Payments, PayReturnsTheBanksAmountAndAReceiptOnceTheCustomerHasPaid) {
  TSession::TOptions options;
  options.LineLength = 36;
  TSession s(options);
  s.Sandbox.SetBehaviour(s.Key, "CONFIRMED", 2);
  const std::wstring id = s.Register(123.45);
  const double before = Now();
  TVariant out;
  TInvokeResult r = s.Call(L"Pay", Args({TVariant::FromString(L"QR"), TVariant::FromString(id)}), out);
  const double after = Now() + 1.0 / 86400;
  ASSERT_TRUE(IsTrue(r)) << U8(CountOf(out) > 1 ? Str(ItemOf(out, 1)) : L"");
  ASSERT_EQ(CountOf(out), 4);
  ASSERT_EQ(ItemOf(out, 0).Type(), VT_CY);
  EXPECT_EQ(ItemOf(out, 0).Get().cyVal.int64, 1234500);
  EXPECT_EQ(Str(ItemOf(out, 1)), id);
  ASSERT_EQ(ItemOf(out, 2).Type(), VT_DATE);
  const double date = ItemOf(out, 2).Get().date;
  EXPECT_GE(date, before);
  EXPECT_LE(date, after);
  EXPECT_EQ(Str(ItemOf(out, 3)), ExpectedReceipt(L"оплата", id, L"123.45", date, 36));
  // Two answers FORM_SHOWED, the third CONFIRMED.
  EXPECT_EQ(s.Sandbox.Payments(s.Key)[0].Polls, 3);
}

TEST(Payments, ALogSettingChangedAfterEnableNeverFailsAPay) {
  // Null or a text that is no boolean: the log stays as Enable switched it, the customer's
  // payment is still seen.
  for (const TVariant& value : {TVariant::Null(), TVariant::FromString(L"abc")}) {
    TSession s;
    s.Sandbox.SetBehaviour(s.Key, "CONFIRMED", 0);
    const std::wstring id = s.Register(7.5);
    TVariant out;
    ASSERT_TRUE(IsTrue(s.Call(L"SetSettings", SettingsInData({{L"DebugLogEnabled", value}}), out)));
    TInvokeResult r = s.Call(L"Pay", Args({TVariant::FromString(L"QR"), TVariant::FromString(id)}), out);
    ASSERT_TRUE(IsTrue(r)) << U8(CountOf(out) > 1 ? Str(ItemOf(out, 1)) : L"");
    EXPECT_EQ(ItemOf(out, 0).Get().cyVal.int64, 75000);
    EXPECT_EQ(s.Sandbox.Payments(s.Key)[0].Polls, 1);
  }
}

struct TPayFailure {
  const char* Name;
  const char* Outcome;   // the terminal's behaviour, after one poll
  bool ErrorAtThirdPoll;
  bool EmptyOrderID;
  const wchar_t* Text;   // what the host reads (a prefix for the bank's own texts)
  const char* Settled = nullptr;  // the payment's status at the bank before Pay starts
};

TEST(Payments, PayFailsWithTheReasonWhenTheBankDecidesOtherwiseOrAPollFails) {
  const TPayFailure cases[] = {
      {"rejected", "REJECTED", false, false, L"Операция отклонена"},
      {"cancelled: never reported as paid", "CANCELED", false, false, L"Операция отменена"},
      {"bank error at the third poll", "NONE", true, false, L"Сбой банка Подробности"},
      {"empty OrderID", "NONE", false, true, L"Платеж не найден"},
      // The money already went back: no wait for a payment that cannot come.
      {"refunded", "NONE", false, false, L"Платеж уже возвращен", "REFUNDED"},
      {"partly refunded", "NONE", false, false, L"Платеж уже возвращен", "PARTIAL_REFUNDED"},
      {"reversed", "NONE", false, false, L"Платеж уже возвращен", "REVERSED"},
  };
  for (const TPayFailure& c : cases) {
    SCOPED_TRACE(c.Name);
    TSession s;
    s.Sandbox.SetBehaviour(s.Key, c.Outcome, 1);
    if (c.ErrorAtThirdPoll)
      s.Sandbox.Script(s.Key, "GetState",
                       R"({"Kind":"error","ErrorCode":"9","Message":"Сбой банка","Details":"Подробности"})", 2);
    const std::wstring id = c.EmptyOrderID ? L"" : s.Register(20);
    if (c.Settled) s.Sandbox.SetPaymentStatus(U8(id), c.Settled);
    TVariant out;
    // OrderID Null reads as empty, as it does when absent.
    const TVariant orderID = c.EmptyOrderID ? TVariant::Null() : TVariant::FromString(id);
    TInvokeResult r = s.Call(L"Pay", Args({TVariant::FromString(L"QR"), orderID}), out);
    ASSERT_EQ(r.Hr, S_OK);
    EXPECT_FALSE(IsTrue(r));
    ASSERT_EQ(CountOf(out), 2);
    EXPECT_EQ(ItemOf(out, 0).Get().lVal, 1001);
    EXPECT_TRUE(Str(ItemOf(out, 1)).starts_with(c.Text)) << U8(Str(ItemOf(out, 1)));
    size_t polls = 0;
    for (const auto& q : s.Sandbox.Requests(s.Key)) polls += q.Path == "/v2/GetState";
    // The decision ends the wait at once; a failed poll is not retried.
    EXPECT_EQ(polls, c.ErrorAtThirdPoll ? 3u : c.EmptyOrderID || c.Settled ? 1u : 2u);
  }
}

TEST(Payments, GetQrCodeStatusAnswersTheStatusCodeOfEveryBankStatus) {
  const struct {
    const char* BankStatus;
    int32_t Code;
  } rows[] = {{"FORM_SHOWED", 1}, {"REJECTED", 3},         {"CANCELED", 3}, {"REVERSED", 2},
              {"PARTIAL_REFUNDED", 2}, {"REFUNDED", 2}, {"CONFIRMED", 2}, {"UNKNOWN", 0},
              {"NEW", 0},              {"AUTHORIZED", 0}};  // the last two: texts the driver does not know
  TSession s;
  const std::wstring id = s.Register(42.5);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.BankStatus);
    s.Sandbox.SetPaymentStatus(U8(id), row.BankStatus);
    TVariant out;
    ASSERT_TRUE(IsTrue(s.Call(L"GetQrCodeStatus", Args({TVariant::FromString(L"QR"), TVariant::FromString(id)}), out)));
    ASSERT_EQ(CountOf(out), 5);
    EXPECT_EQ(ItemOf(out, 0).Get().cyVal.int64, 425000);
    EXPECT_EQ(Str(ItemOf(out, 1)), id);
    ASSERT_EQ(ItemOf(out, 4).Type(), VT_I4);
    EXPECT_EQ(ItemOf(out, 4).Get().lVal, row.Code);
    // A receipt whatever the status.
    EXPECT_EQ(Str(ItemOf(out, 3)), ExpectedReceipt(L"оплата", id, L"42.50", ItemOf(out, 2).Get().date, 40));
  }
  // The bank's failure is the answer.
  s.Sandbox.Script(s.Key, "GetState", R"({"Kind":"raw","Status":502,"Reason":"Bad Gateway","ContentType":"text/html","Body":"<html>"})");
  TVariant out;
  EXPECT_FALSE(IsTrue(s.Call(L"GetQrCodeStatus", Args({TVariant::FromString(L"QR"), TVariant::FromString(id)}), out)));
  EXPECT_EQ(Str(ItemOf(out, 1)), L"Некорректная структура ответа. Ожидается application/json");
}

// ------------------------------------------------------------------------------------------
// Refunds

TEST(Payments, RefundsSendTheAmountAndReceiptTheBanksAmounts) {
  TSession s;
  const std::wstring id = s.Register(10);
  s.Sandbox.SetPaymentStatus(U8(id), "CONFIRMED");

  // Partial: 3.00 of 10.00.
  TVariant out;
  const double before = Now();
  TInvokeResult r = s.Call(L"Refund",
                           Args({TVariant::FromDouble(3), TVariant::FromString(L"order"), TVariant::FromString(id),
                                 TVariant::FromString(id)}),
                           out);
  const double after = Now();
  ASSERT_TRUE(IsTrue(r)) << U8(CountOf(out) > 1 ? Str(ItemOf(out, 1)) : L"");
  ASSERT_EQ(CountOf(out), 2);
  EXPECT_EQ(Str(ItemOf(out, 0)), id);  // the payment the refund was made on
  const std::wstring receipt = Str(ItemOf(out, 1));
  // Made at the local time of the call (the minute may turn meanwhile).
  EXPECT_TRUE(receipt == ExpectedReceipt(L"возврат", id, L"3.00", before, 40) ||
              receipt == ExpectedReceipt(L"возврат", id, L"3.00", after, 40))
      << U8(receipt);
  const auto requests = s.Sandbox.Requests(s.Key);
  EXPECT_EQ(requests.back().Path, "/v2/Cancel");
  EXPECT_TRUE(requests.back().Body.starts_with("{\"Amount\":300,")) << requests.back().Body;
  // The sandbox checks the token, whose text begins with the amount "300".
  const std::string token = bank::Sha256Hex("300" + U8(s.Password) + U8(id) + s.Key);
  EXPECT_NE(requests.back().Body.find(token), std::string::npos);

  // The rest, with three elements only: the receipt has no identifier lines.
  ASSERT_TRUE(IsTrue(s.Call(
      L"Refund", Args({TVariant::FromDouble(7), TVariant::FromString(L"order"), TVariant::FromString(id)}), out)));
  const std::wstring rest = Str(ItemOf(out, 1));
  EXPECT_NE(rest.find(Line(L"Сумма:", L"7.00", 40)), std::wstring::npos) << U8(rest);
  EXPECT_EQ(std::count(rest.begin(), rest.end(), L'\n'), 3);
  EXPECT_EQ(rest.find(L"ID:"), std::wstring::npos);
  const auto ledger = s.Sandbox.Payments(s.Key);
  EXPECT_EQ(ledger[0].Status, "REFUNDED");
  EXPECT_EQ(ledger[0].Refunded, 1000);

  // Full refund of another payment; then more than is left is the bank's refusal.
  const std::wstring id2 = s.Register(12.34);
  s.Sandbox.SetPaymentStatus(U8(id2), "CONFIRMED");
  ASSERT_TRUE(IsTrue(s.Call(
      L"Refund", Args({TVariant::FromDouble(12.34), TVariant::FromString(L""), TVariant::FromString(id2)}), out)));
  EXPECT_NE(Str(ItemOf(out, 1)).find(Line(L"Сумма:", L"12.34", 40)), std::wstring::npos);
  EXPECT_FALSE(IsTrue(s.Call(
      L"Refund", Args({TVariant::FromDouble(1), TVariant::FromString(L""), TVariant::FromString(id2)}), out)));
  EXPECT_EQ(ItemOf(out, 0).Get().lVal, 1001);
}

TEST(Payments, ARefundsReceiptShowsWhatTheBankRefundedNotWhatWasAsked) {
  TSession s;
  const std::wstring id = s.Register(10);
  // The bank answers that 3.00 of 10.00 went back, whatever the request said.
  const std::string answer = R"({\"Success\":true,\"ErrorCode\":\"0\",\"Status\":\"PARTIAL_REFUNDED\",\"PaymentId\":\")" +
                             U8(id) + R"(\",\"OriginalAmount\":1000,\"NewAmount\":700})";
  s.Sandbox.Script(s.Key, "Cancel", R"({"Kind":"raw","Status":200,"ContentType":"application/json","Body":")" +
                                        answer + R"("})");
  // 12.345 as the host's currency: a fraction of a hundredth travels as it is.
  TVariant out;
  ASSERT_TRUE(IsTrue(s.Call(L"Refund",
                            Args({TVariant::FromCurrency(123450), TVariant::FromString(L""), TVariant::FromString(id),
                                  TVariant::FromString(id)}),
                            out)))
      << U8(CountOf(out) > 1 ? Str(ItemOf(out, 1)) : L"");
  const std::wstring receipt = Str(ItemOf(out, 1));
  EXPECT_NE(receipt.find(Line(L"Сумма:", L"3.00", 40)), std::wstring::npos) << U8(receipt);
  const auto requests = s.Sandbox.Requests(s.Key);
  EXPECT_TRUE(requests.back().Body.starts_with("{\"Amount\":1234.5,")) << requests.back().Body;
  const std::string token = bank::Sha256Hex("1234.5" + U8(s.Password) + U8(id) + s.Key);
  EXPECT_NE(requests.back().Body.find("\"Token\":\"" + token + "\""), std::string::npos) << requests.back().Body;
}

TEST(Payments, AGatewaysJsonErrorIsNoRefund) {
  TSession s;
  const std::wstring id = s.Register(10);
  s.Sandbox.SetPaymentStatus(U8(id), "CONFIRMED");
  // A proxy in front of the bank answers for it, in JSON, and the bank never sees the refund.
  s.Sandbox.Script(s.Key, "Cancel",
                   R"({"Kind":"raw","Status":502,"Reason":"Bad Gateway","ContentType":"application/json",)"
                   R"("Body":"{\"message\":\"Service Unavailable\"}"})");
  TVariant out;
  EXPECT_FALSE(IsTrue(s.Call(L"Refund",
                             Args({TVariant::FromDouble(4), TVariant::FromString(L""), TVariant::FromString(id),
                                   TVariant::FromString(id)}),
                             out)));
  EXPECT_EQ(ItemOf(out, 0).Get().lVal, 1001);
  EXPECT_EQ(Str(ItemOf(out, 1)), L"Bad Gateway");
  const auto ledger = s.Sandbox.Payments(s.Key);
  EXPECT_EQ(ledger[0].Status, "CONFIRMED");
  EXPECT_EQ(ledger[0].Refunded, 0);
}

// ------------------------------------------------------------------------------------------
// Amounts on a host thread with reduced FPU precision

std::string LastBodyTo(const TSession& s, const std::string& path) {
  const auto requests = s.Sandbox.Requests(s.Key);
  for (auto r = requests.rbegin(); r != requests.rend(); ++r)
    if (r->Path == path) return r->Body;
  return {};
}

// Some hosts run their thread's FPU at 24 bits, and the i686 build computes doubles on the x87
// unit at the thread's precision. Register, the payment state and refunds run on the host's
// thread (Pay's wait has one of its own): every amount must still reach the bank, the host and
// the receipt digit for digit, whichever way the host passes it.
TEST(Payments, AmountsKeepEveryDigitOnAHostThreadWithReducedFpuPrecision) {
  struct TAmount {
    int64_t Raw;             // the host's currency value
    std::string Kopecks;     // the bank's Amount
    std::wstring Receipt;
    std::optional<double> Double;  // also passed as a double and as text (where a double holds it)
  };
  const TAmount amounts[] = {
      {100, "1", L"0.01", 0.01},
      {2000000100, "20000001", L"200000.01", 200000.01},
      {167772170100, "1677721701", L"16777217.01", 16777217.01},
      {999999999900, "9999999999", L"99999999.99", 99999999.99},
      // Near the most the driver can ask for: the amount in kopecks must fit Currency.
      {90071992547409900, "900719925474099", L"9007199254740.99", std::nullopt},
  };
  TSession s;
  s.Sandbox.SetBehaviour(s.Key, "CONFIRMED", 0);
  const std::wstring separator = UserDecimalSeparator();
  [[maybe_unused]] TReducedFpuPrecision precision;
  if (TReducedFpuPrecision::Reduced) {
    ASSERT_TRUE(TReducedFpuPrecision::Took());
  }

  for (const TAmount& a : amounts) {
    std::vector<std::pair<std::string, TVariant>> forms;
    forms.emplace_back("currency", TVariant::FromCurrency(a.Raw));
    if (a.Double) {
      // Where the x87 itself changes the host's double (see CopiesDoublesExactly) there is no
      // double to pass: the other forms still run.
      if (TReducedFpuPrecision::CopiesDoublesExactly())
        forms.emplace_back("double", TVariant::FromDouble(*a.Double));
      else
        std::printf("note: this x87 changes a double it merely moves at 24 bits: the double form is left out\n");
      std::wstring text = a.Receipt;
      text.replace(text.find(L'.'), 1, separator);
      forms.emplace_back("text", TVariant::FromString(text));
    }
    for (const auto& [form, amount] : forms) {
      SCOPED_TRACE(form + " " + a.Kopecks);
      TVariant out;
      TInvokeResult r = s.Call(L"RegisterQrCode", Args({amount, TVariant::FromString(L"")}), out);
      ASSERT_TRUE(IsTrue(r)) << U8(CountOf(out) > 1 ? Str(ItemOf(out, 1)) : L"");
      const std::wstring id = Str(ItemOf(out, 0));
      EXPECT_TRUE(LastBodyTo(s, "/v2/Init").starts_with("{\"Amount\":" + a.Kopecks + ",")) << LastBodyTo(s, "/v2/Init");

      if (form == "currency") {
        r = s.Call(L"Pay", Args({TVariant::FromString(L"QR"), TVariant::FromString(id)}), out);
        ASSERT_TRUE(IsTrue(r)) << U8(CountOf(out) > 1 ? Str(ItemOf(out, 1)) : L"");
        EXPECT_EQ(ItemOf(out, 0).Get().cyVal.int64, a.Raw);
      } else {
        s.Sandbox.SetPaymentStatus(U8(id), "CONFIRMED");
      }
      // The bank's amount, read on the host's thread.
      ASSERT_TRUE(IsTrue(s.Call(L"GetQrCodeStatus", Args({TVariant::FromString(L"QR"), TVariant::FromString(id)}), out)));
      EXPECT_EQ(ItemOf(out, 0).Get().cyVal.int64, a.Raw);

      // All of it back: the request's amount and its token's, and the bank's answer on the receipt.
      r = s.Call(L"Refund",
                 Args({amount, TVariant::FromString(L""), TVariant::FromString(id), TVariant::FromString(id)}), out);
      ASSERT_TRUE(IsTrue(r)) << U8(CountOf(out) > 1 ? Str(ItemOf(out, 1)) : L"");
      const std::string cancel = LastBodyTo(s, "/v2/Cancel");
      EXPECT_TRUE(cancel.starts_with("{\"Amount\":" + a.Kopecks + ",")) << cancel;
      const std::string token = bank::Sha256Hex(a.Kopecks + U8(s.Password) + U8(id) + s.Key);
      EXPECT_NE(cancel.find("\"Token\":\"" + token + "\""), std::string::npos) << cancel;
      EXPECT_NE(Str(ItemOf(out, 1)).find(Line(L"Сумма:", a.Receipt, 40)), std::wstring::npos) << U8(Str(ItemOf(out, 1)));
    }
  }

  // A fraction of a kopeck travels as it is: the bank refuses it, but its text is what counts.
  TVariant out;
  EXPECT_FALSE(IsTrue(s.Call(L"RegisterQrCode", Args({TVariant::FromCurrency(1234567), TVariant::FromString(L"")}), out)));
  EXPECT_TRUE(LastBodyTo(s, "/v2/Init").starts_with("{\"Amount\":12345.67,")) << LastBodyTo(s, "/v2/Init");
}

TEST(Payments, OverHttpsToLocalhostWithTheTrustedTestCA) {
  TSession::TOptions options;
  options.Https = true;
  TSession s(options);
  ASSERT_TRUE(s.HostURL.starts_with(L"https://localhost:")) << U8(s.HostURL);
  s.Sandbox.SetBehaviour(s.Key, "CONFIRMED", 0);
  const std::wstring id = s.Register(1.5);
  ASSERT_FALSE(id.empty());
  TVariant out;
  ASSERT_TRUE(IsTrue(s.Call(L"Pay", Args({TVariant::FromString(L""), TVariant::FromString(id)}), out)));
  EXPECT_EQ(ItemOf(out, 0).Get().cyVal.int64, 15000);
}

}  // namespace
