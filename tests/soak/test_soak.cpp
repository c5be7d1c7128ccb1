// Four driver objects on four apartment threads, each with a terminal of its own, taking
// payments over and over with the debug log on; the objects share one device folder and so
// the day's file that the debug log and the exchange log both write.
#include <atomic>
#include <map>
#include <set>

#include "SoakKit.h"

namespace {

using namespace soak;

constexpr int kThreads = 4;

struct TPaid {
  std::wstring Id;
  int64_t Amount = 0;    // minor units
  int64_t Refunded = 0;  // minor units
};

struct TWorker {
  std::string Key;
  int AfterPolls = 1;
  std::vector<TPaid> Paid;
  int Calls = 0;  // cycles begun
};

const wchar_t kSharedDevice[] = L"SoakDevice";

// Cycles, or (Until set) cycles until then. Alive counts the objects that exist.
void RunCycles(TWorker& w, int Index, int Cycles, std::chrono::steady_clock::time_point Until, std::atomic<int>& Alive) {
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  {
    TSession::TOptions options;
    options.DeviceID = kSharedDevice;
    options.WaitTimeout = 60;
    TSession s(options);
    w.Key = s.Key;
    ++Alive;
    w.AfterPolls = 1 + Index % 2;
    s.Sandbox.SetBehaviour(s.Key, "CONFIRMED", w.AfterPolls);
    const bool timed = Until != std::chrono::steady_clock::time_point{};
    for (int c = 0; timed ? std::chrono::steady_clock::now() < Until : c < Cycles; ++c) {
      ++w.Calls;
      const std::string where = "thread " + std::to_string(Index) + " cycle " + std::to_string(c);
      // Amounts differ between threads and cycles, so a wait that answered another's shows.
      const int64_t minor = 10000 * (Index + 1) + 7 * (c % 1000) + 1;
      const std::wstring id = s.Register(static_cast<double>(minor) / 100.0);
      if (id.empty()) {
        ADD_FAILURE() << where << ": register failed";
        continue;
      }
      TVariant out;
      const TInvokeResult paid = s.Call(L"Pay", Args({TVariant::FromString(L""), TVariant::FromString(id)}), out);
      EXPECT_TRUE(IsTrue(paid)) << where << ": " << Failure(out);
      if (!IsTrue(paid)) continue;
      EXPECT_EQ(ItemOf(out, 0).Get().cyVal.int64, minor * 100) << where;
      EXPECT_EQ(OutText(out, 1), id) << where;

      const TInvokeResult status =
          s.Call(L"GetQrCodeStatus", Args({TVariant::FromString(L""), TVariant::FromString(id)}), out);
      EXPECT_TRUE(IsTrue(status)) << where << ": " << Failure(out);
      if (IsTrue(status)) {
        EXPECT_EQ(ItemOf(out, 0).Get().cyVal.int64, minor * 100) << where;
        EXPECT_EQ(OutText(out, 1), id) << where;
        EXPECT_EQ(ItemOf(out, 4).Get().lVal, 2) << where;  // paid
      }

      // Every other payment is refunded in full, the others by 1.00.
      const int64_t refund = c % 2 ? minor : 100;
      const TInvokeResult refunded =
          s.Call(L"Refund",
                 Args({TVariant::FromDouble(static_cast<double>(refund) / 100.0), TVariant::FromString(id),
                       TVariant::FromString(id), TVariant::FromString(id)}),
                 out);
      EXPECT_TRUE(IsTrue(refunded)) << where << ": " << Failure(out);
      if (IsTrue(refunded)) {
        EXPECT_EQ(OutText(out, 0), id) << where;
      }
      w.Paid.push_back({id, minor, IsTrue(refunded) ? refund : 0});
    }
    --Alive;
  }
  CoUninitialize();
}

// A line count per kind: debug lines by instance and caption, exchange requests by terminal
// and operation.
struct TLogCounts {
  std::map<std::wstring, std::map<std::wstring, int>> ByInstance;
  std::map<std::string, std::map<std::string, int>> RequestsByKey;
  int Requests = 0, Answers = 0, Malformed = 0;
  std::vector<std::wstring> BadLines;
};

TLogCounts CountLines(const std::wstring& Folder, const std::vector<TWorker>& Workers) {
  TLogCounts n;
  for (const std::wstring& line : DebugLogLines(Folder)) {
    const TLogLine l = ParseLogLine(line);
    switch (l.Kind) {
      case TLogLine::Debug:
        ++n.ByInstance[l.Instance][l.Caption];
        break;
      case TLogLine::Exchange:
        if (l.Text.rfind(L"> POST ", 0) == 0) {
          ++n.Requests;
          const size_t path = l.Text.find(L"/v2/");
          const std::wstring op = path == std::wstring::npos ? L"?" : l.Text.substr(path + 4, l.Text.find(L' ', path) - path - 4);
          for (const TWorker& w : Workers)
            if (l.Text.find(W("\"TerminalKey\":\"" + w.Key + "\"")) != std::wstring::npos) ++n.RequestsByKey[w.Key][U8(op)];
        } else if (l.Text.rfind(L"< StatusCode: ", 0) == 0) {
          ++n.Answers;
        }
        break;
      case TLogLine::Banner:
        break;
      case TLogLine::Malformed:
        ++n.Malformed;
        if (n.BadLines.size() < 5) n.BadLines.push_back(line);
        break;
    }
  }
  return n;
}

TEST(Soak, FourObjectsOnFourApartmentsPayWithoutLosingALineOrAPayment) {
  const int minutes = EnvNumber("TOLVARO_SOAK_MINUTES", 0);
  const int cycles = EnvNumber("TOLVARO_SOAK_CYCLES", minutes ? 0 : LongForm() ? 200 : 5);
  const auto until = minutes ? std::chrono::steady_clock::now() + std::chrono::minutes(minutes)
                             : std::chrono::steady_clock::time_point{};
  const auto started = std::chrono::steady_clock::now();

  // DllCanUnloadNow is asked all along from a thread that is no apartment: the module must
  // never be unloadable while an object lives.
  std::atomic<bool> running{true};
  std::atomic<int> unloadableWhileRunning{0};
  std::vector<TWorker> workers(kThreads);
  std::vector<std::thread> threads;
  std::atomic<int> alive{0};
  std::thread monitor([&] {
    while (running) {
      if (alive > 0 && Product().CanUnloadNow() == S_OK) ++unloadableWhileRunning;
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
  });
  for (int i = 0; i < kThreads; ++i)
    threads.emplace_back([&, i] { RunCycles(workers[i], i, cycles, until, alive); });
  for (std::thread& t : threads) t.join();
  running = false;
  monitor.join();
  EXPECT_EQ(Product().WaitForUnloadable(), S_OK);
  std::cout << "[ soak ] " << kThreads << " threads, "
            << std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started).count()
            << " s, cycles per thread:";
  for (const TWorker& w : workers) std::cout << " " << w.Calls;
  std::cout << std::endl;

  // The ledger: every payment made, with the status and the refunded amount the test caused.
  tolvaro::test::TSandbox sandbox;
  for (const TWorker& w : workers) {
    ASSERT_FALSE(w.Key.empty());
    const auto ledger = sandbox.Payments(w.Key);
    EXPECT_EQ(ledger.size(), static_cast<size_t>(w.Calls)) << w.Key;
    std::map<std::string, tolvaro::test::TSandboxPayment> byId;
    for (const auto& p : ledger) byId[p.PaymentId] = p;
    for (const TPaid& p : w.Paid) {
      const auto it = byId.find(U8(p.Id));
      if (it == byId.end()) {
        ADD_FAILURE() << w.Key << ": payment " << U8(p.Id) << " missing from the ledger";
        continue;
      }
      EXPECT_EQ(it->second.Amount, p.Amount) << U8(p.Id);
      EXPECT_EQ(it->second.Refunded, p.Refunded) << U8(p.Id);
      EXPECT_EQ(it->second.Status, p.Refunded == p.Amount ? "REFUNDED" : "PARTIAL_REFUNDED") << U8(p.Id);
      // The wait's polls (AfterPolls + 1) and the status query.
      EXPECT_EQ(it->second.Polls, w.AfterPolls + 2) << U8(p.Id);
    }
  }

  // The shared file: every line whole, and as many of each kind as calls were made.
  const std::wstring folder = TSession::Scratch().Path() + L"devices\\" + kSharedDevice + L"\\";
  const TLogCounts n = CountLines(folder, workers);
  EXPECT_EQ(n.Malformed, 0);
  for (const std::wstring& bad : n.BadLines) ADD_FAILURE() << "malformed log line: " << U8(bad);
  EXPECT_EQ(n.ByInstance.size(), static_cast<size_t>(kThreads));
  std::multiset<int> payCounts, expectedPayCounts;
  for (const TWorker& w : workers) expectedPayCounts.insert(w.Calls);
  for (const auto& [instance, captions] : n.ByInstance) {
    const auto count = [&](const wchar_t* c) {
      const auto it = captions.find(c);
      return it == captions.end() ? 0 : it->second;
    };
    for (const wchar_t* method : {L"RegisterQrCode", L"Pay", L"GetQrCodeStatus", L"Refund"})
      EXPECT_EQ(count((std::wstring(L"> ") + method).c_str()), count((std::wstring(L"< ") + method).c_str()))
          << U8(instance) << " " << U8(method);
    payCounts.insert(count(L"> RegisterQrCode"));
  }
  EXPECT_EQ(payCounts, expectedPayCounts);
  EXPECT_EQ(n.Requests, n.Answers);
  for (const TWorker& w : workers) {
    std::map<std::string, int> atBank;
    for (const auto& q : sandbox.Requests(w.Key)) ++atBank[q.Path.substr(q.Path.rfind('/') + 1)];
    const auto logged = n.RequestsByKey.count(w.Key) ? n.RequestsByKey.at(w.Key) : std::map<std::string, int>{};
    EXPECT_EQ(logged, atBank) << w.Key;
    EXPECT_EQ(atBank["Init"], w.Calls) << w.Key;
  }
  EXPECT_EQ(unloadableWhileRunning.load(), 0);
}

}  // namespace
