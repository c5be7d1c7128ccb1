// The fault matrix on the registered DLL: each broken bank ends the call with a result code and
// text, the exchange log still has the request, and the next call on the same object works.
// Then a log file held locked by another process while payments run.
#include <winsock2.h>

#include <iostream>

#include "SoakKit.h"

namespace {

using namespace soak;

// A loopback port nobody listens on: bound, read back, closed.
int ClosedPort() {
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int len = sizeof a;
  int port = 0;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  closesocket(s);
  WSACleanup();
  return port;
}

// Points the object at another bank (SetSettings, then Enable takes it).
void PointAt(TSession& s, const std::wstring& Host) {
  TVariant out;
  EXPECT_TRUE(IsTrue(s.Call(L"SetSettings", SettingsInData({{L"Host", TVariant::FromString(Host)}}), out)));
  EXPECT_TRUE(IsTrue(s.Call(L"Enable", TVariant(), out))) << Failure(out);
}

enum class TWhere { Script, ClosedPort, Untrusted };

struct TFault {
  const char* Name;
  TWhere Where;
  const char* Answer;  // the sandbox's scripted answer (TWhere::Script)
  bool LongOnly;       // waits for the transport's own time-out
};

const TFault kFaults[] = {
    {"sandbox not listening", TWhere::ClosedPort, "", false},
    {"untrusted certificate", TWhere::Untrusted, "", false},
    {"5xx with HTML", TWhere::Script, R"({"Kind":"raw","Status":502,"Reason":"Bad Gateway","ContentType":"text/html","Body":"<html><body>502</body></html>"})", false},
    {"200 with HTML", TWhere::Script, R"({"Kind":"raw","Status":200,"ContentType":"text/html","Body":"<html><body>maintenance</body></html>"})", false},
    {"truncated body", TWhere::Script, R"({"Kind":"truncate"})", false},
    {"reset mid-body", TWhere::Script, R"({"Kind":"reset-mid-body"})", false},
    {"reset before answer", TWhere::Script, R"({"Kind":"drop"})", false},
    {"hung past the transport time-out", TWhere::Script, R"({"Kind":"delay","Ms":75000})", true},
    // Every read gets its byte in time; the call's whole bound (120 s) ends it.
    {"answer dripped past the call's bound", TWhere::Script, R"({"Kind":"drip","Ms":2000})", true},
};

struct TOperation {
  const char* Name;
  const char* BankOperation;
};
const TOperation kOperations[] = {{"RegisterQrCode", "Init"}, {"GetQrCodeStatus", "GetState"}, {"Refund", "Cancel"}};

TEST(FaultMatrix, EveryBrokenBankEndsInAResultCodeAndTheObjectGoesOn) {
  const int closedPort = ClosedPort();
  ASSERT_NE(closedPort, 0);
  const char* untrustedInfo = std::getenv("TOLVARO_SOAK_UNTRUSTED");
  for (const TFault& f : kFaults) {
    if (f.LongOnly && !LongForm()) {
      std::cout << "[ fault ] " << f.Name << ": long form only (./run soak)" << std::endl;
      continue;
    }
    for (const TOperation& op : kOperations) {
      const std::string where = std::string(f.Name) + " / " + op.Name;
      SCOPED_TRACE(where);
      TSession::TOptions options;
      std::unique_ptr<tolvaro::test::TSandbox> untrusted;
      if (f.Where == TWhere::ClosedPort) options.Host = L"http://127.0.0.1:" + std::to_wstring(closedPort) + L"/v2";
      TSession s(options);
      if (f.Where == TWhere::Untrusted) {
        ASSERT_NE(untrustedInfo, nullptr);
        untrusted = std::make_unique<tolvaro::test::TSandbox>(tolvaro::test::TSandbox::PlatformPath(untrustedInfo));
        untrusted->AddTerminal(s.Key, U8(s.Password));
        PointAt(s, W(untrusted->HttpsBase() + "/v2"));
      }
      const std::wstring host = f.Where == TWhere::Untrusted ? W(untrusted->HttpsBase() + "/v2") : s.HostURL;

      // A paid payment to ask about and refund (made where the bank works).
      std::wstring paid = L"700000001";
      if (f.Where == TWhere::Script && std::string(op.BankOperation) != "Init") {
        paid = s.Register(50);
        s.Sandbox.SetPaymentStatus(U8(paid), "CONFIRMED");
      }
      const auto call = [&](TVariant& out) {
        if (std::string(op.BankOperation) == "Init")
          return s.Call(W(op.Name), Args({TVariant::FromDouble(12.34), TVariant::FromString(L"Заказ")}), out);
        if (std::string(op.BankOperation) == "Cancel")
          return s.Call(W(op.Name), Args({TVariant::FromDouble(1), TVariant::FromString(paid), TVariant::FromString(paid)}), out);
        return s.Call(W(op.Name), Args({TVariant::FromString(L""), TVariant::FromString(paid)}), out);
      };

      if (f.Where == TWhere::Script) s.Sandbox.Script(s.Key, op.BankOperation, f.Answer);
      TVariant out;
      const TInvokeResult r = call(out);
      EXPECT_EQ(r.Hr, S_OK);
      EXPECT_FALSE(IsTrue(r));
      ASSERT_EQ(CountOf(out), 2);
      EXPECT_EQ(ItemOf(out, 0).Get().lVal, 1001);
      const std::wstring text = Str(ItemOf(out, 1));
      EXPECT_FALSE(text.empty());
      std::cout << "[ fault ] " << where << ": " << Failure(out) << std::endl;

      // The request is in the exchange log (the day's file of the device folder).
      bool logged = false;
      for (const std::wstring& line : DebugLogLines(s.DeviceFolder)) {
        const TLogLine l = ParseLogLine(line);
        logged |= l.Kind == TLogLine::Exchange && l.Text.rfind(L"> POST " + host + L"/" + W(op.BankOperation), 0) == 0;
      }
      EXPECT_TRUE(logged);

      // The same object's next call works: against the sandbox it was meant for.
      if (f.Where == TWhere::ClosedPort || f.Where == TWhere::Untrusted) {
        PointAt(s, W(s.Sandbox.HttpBase() + "/v2"));
        if (std::string(op.BankOperation) != "Init") {
          paid = s.Register(50);
          s.Sandbox.SetPaymentStatus(U8(paid), "CONFIRMED");
        }
      }
      TVariant again;
      EXPECT_TRUE(IsTrue(call(again))) << Failure(again);
    }
  }
}

// Another process holds the day's log file with no sharing while payments run: they all
// succeed, their lines are dropped, and the log goes on once the file is free.
TEST(FaultMatrix, ALogFileLockedByAnotherProcessNeverFailsAPayment) {
  TSession s;
  s.Sandbox.SetBehaviour(s.Key, "CONFIRMED", 0);
  ASSERT_FALSE(s.Register(1).empty());
  const std::vector<std::wstring> files = FilesIn(s.DeviceFolder, L"Debug_*.log");
  ASSERT_FALSE(files.empty());
  const std::wstring file = s.DeviceFolder + files.back();
  const auto cycle = [&](const std::string& where) {
    const std::wstring id = s.Register(20);
    TVariant out;
    EXPECT_TRUE(IsTrue(s.Call(L"Pay", Args({TVariant::FromString(L""), TVariant::FromString(id)}), out))) << where << " " << Failure(out);
    EXPECT_TRUE(IsTrue(s.Call(L"GetQrCodeStatus", Args({TVariant::FromString(L""), TVariant::FromString(id)}), out))) << where << " " << Failure(out);
    EXPECT_TRUE(IsTrue(s.Call(L"Refund", Args({TVariant::FromDouble(5), TVariant::FromString(id), TVariant::FromString(id)}), out))) << where << " " << Failure(out);
  };
  int locked = 0;
  {
    TFileHolder holder(file);
    ASSERT_TRUE(holder.Holding());
    for (; locked < 2; ++locked) cycle("while locked");
    EXPECT_EQ(holder.Release(), 0u);
  }
  cycle("after");
  // Lines were dropped while locked, and those that were written are whole.
  int pays = 0;
  for (const std::wstring& line : DebugLogLines(s.DeviceFolder)) {
    const TLogLine l = ParseLogLine(line);
    EXPECT_NE(l.Kind, TLogLine::Malformed) << U8(line);
    pays += l.Kind == TLogLine::Debug && l.Caption == L"> Pay";
  }
  EXPECT_EQ(pays, 1);
  EXPECT_EQ(s.Sandbox.Payments(s.Key).size(), 4u);
  for (const auto& p : s.Sandbox.Payments(s.Key))
    if (p.Amount == 2000) {
      EXPECT_EQ(p.Status, "PARTIAL_REFUNDED") << p.PaymentId;
    }
}

}  // namespace
