// The payment wait's hard cases: a wait the host gave up on, a new Pay right after it, the
// object released while its wait thread still runs, and the module kept loaded meanwhile.
#include "kit/E2EKit.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <vector>

namespace {

using namespace e2e;

// Threads of this process that started in the product module (the wait threads).
int ThreadsStartedInProduct() {
  using TQuery = LONG(NTAPI*)(HANDLE, int, PVOID, ULONG, PULONG);
  const auto query = reinterpret_cast<TQuery>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationThread")));
  const auto base = reinterpret_cast<const BYTE*>(Product().Module);
  const auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const BYTE* end = base + nt->OptionalHeader.SizeOfImage;
  int count = 0;
  THandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot.Get(), &entry); more; more = Thread32Next(snapshot.Get(), &entry)) {
    if (entry.th32OwnerProcessID != GetCurrentProcessId()) continue;
    THandle thread(OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID));
    void* start = nullptr;
    constexpr int kThreadQuerySetWin32StartAddress = 9;
    if (thread.Valid() && query &&
        query(thread.Get(), kThreadQuerySetWin32StartAddress, &start, sizeof start, nullptr) == 0 &&
        static_cast<const BYTE*>(start) >= base && static_cast<const BYTE*>(start) < end)
      ++count;
  }
  return count;
}

// Waits (bounded generously) until no thread of the product runs.
int WaitForNoProductThread() {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  int n = ThreadsStartedInProduct();
  while (n != 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    n = ThreadsStartedInProduct();
  }
  return n;
}

size_t PollsOf(const TSession& s) {
  size_t n = 0;
  for (const auto& q : s.Sandbox.Requests(s.Key)) n += q.Path == "/v2/GetState";
  return n;
}

TEST(PaymentWait, ATimedOutWaitDoesNotDecideTheNextPay) {
  TSession::TOptions options;
  options.WaitTimeout = 5;
  TSession s(options);
  // A: already rejected, but the bank's answer to its first poll comes only after 7 s, when
  // the host has given up on it and a second Pay waits.
  const std::wstring a = s.Register(10);
  s.Sandbox.SetPaymentStatus(U8(a), "REJECTED");
  s.Sandbox.Script(s.Key, "GetState", R"({"Kind":"delay","Ms":7000})");
  // B: the customer pays at B's seventh poll, well after A's late answer.
  s.Sandbox.SetBehaviour(s.Key, "CONFIRMED", 6);
  const std::wstring b = s.Register(25);

  TVariant out;
  TInvokeResult first = s.Call(L"Pay", Args({TVariant::FromString(L""), TVariant::FromString(a)}), out);
  EXPECT_FALSE(IsTrue(first));
  ASSERT_EQ(CountOf(out), 2);
  EXPECT_EQ(ItemOf(out, 0).Get().lVal, 1001);
  EXPECT_EQ(Str(ItemOf(out, 1)), L"Превышение времени выполнения операции");
  EXPECT_EQ(Product().CanUnloadNow(), S_FALSE);  // A's thread is still in its request

  TInvokeResult second = s.Call(L"Pay", Args({TVariant::FromString(L""), TVariant::FromString(b)}), out);
  ASSERT_TRUE(IsTrue(second)) << U8(CountOf(out) > 1 ? Str(ItemOf(out, 1)) : L"");
  EXPECT_EQ(ItemOf(out, 0).Get().cyVal.int64, 250000);
  EXPECT_EQ(Str(ItemOf(out, 1)), b);

  // A's thread got its answer during B's wait and then stopped: one poll of A in all.
  EXPECT_EQ(WaitForNoProductThread(), 0);
  size_t pollsOfA = 0;
  for (const auto& q : s.Sandbox.Requests(s.Key))
    pollsOfA += q.Path == "/v2/GetState" && q.Body.find("\"PaymentId\":\"" + U8(a) + "\"") != std::string::npos;
  EXPECT_EQ(pollsOfA, 1u);

  // The race the test is about did happen: A's late answer went out while B was being polled
  // (polls of B answered before it and after it). The sandbox's request log has one line per
  // answer, in the order they were sent.
  const char* info = std::getenv("TOLVARO_SANDBOX");
  ASSERT_NE(info, nullptr);
  std::string logPath = tolvaro::test::TSandbox::PlatformPath(info);
  logPath = logPath.substr(0, logPath.find_last_of("\\/") + 1) + "requests.log";
  std::ifstream log(logPath);
  ASSERT_TRUE(log) << logPath;
  std::vector<char> order;  // 'A' or 'B' per GetState answer of this terminal, in sending order
  for (std::string line; std::getline(log, line);) {
    if (line.find(" /v2/GetState -> ") == std::string::npos || line.find(s.Key) == std::string::npos) continue;
    if (line.find("\"PaymentId\":\"" + U8(a) + "\"") != std::string::npos) order.push_back('A');
    if (line.find("\"PaymentId\":\"" + U8(b) + "\"") != std::string::npos) order.push_back('B');
  }
  const auto at = std::find(order.begin(), order.end(), 'A');
  ASSERT_NE(at, order.end()) << "no answer to A's poll in " << logPath;
  EXPECT_NE(std::find(order.begin(), at, 'B'), at) << "A's answer came before B's wait began";
  EXPECT_NE(std::find(at + 1, order.end(), 'B'), order.end()) << "A's answer came after B's wait ended";

  // The time-out is in the debug log.
  bool logged = false;
  for (const std::wstring& line : DebugLogLines(s.DeviceFolder))
    logged |= line.find(L"\tTDriver: \tПревышение времени выполнения операции") != std::wstring::npos;
  EXPECT_TRUE(logged);
}

TEST(PaymentWait, TheObjectGoesWhileItsWaitThreadRunsAndTheModuleStaysUntilTheThreadEnds) {
  ASSERT_EQ(WaitForNoProductThread(), 0);
  TSession::TOptions options;
  options.WaitTimeout = 5;
  TSession s(options);
  const std::wstring id = s.Register(10);
  // The first poll's answer comes 4 s after the host has given up on the wait.
  s.Sandbox.Script(s.Key, "GetState", R"({"Kind":"delay","Ms":9000})");
  TVariant out;
  EXPECT_FALSE(IsTrue(s.Call(L"Pay", Args({TVariant::FromString(L""), TVariant::FromString(id)}), out)));
  EXPECT_EQ(Str(ItemOf(out, 1)), L"Превышение времени выполнения операции");

  // The host lets go of the object at once: it goes now, without waiting for the request.
  const auto released = std::chrono::steady_clock::now();
  s.Release();
  EXPECT_LT(std::chrono::steady_clock::now() - released, std::chrono::seconds(3));
  EXPECT_EQ(ThreadsStartedInProduct(), 1);
  EXPECT_EQ(Product().CanUnloadNow(), S_FALSE);

  // The thread finishes its request, ends, and lets the module go.
  EXPECT_EQ(Product().WaitForUnloadable(), S_OK);
  EXPECT_EQ(WaitForNoProductThread(), 0);
  EXPECT_EQ(Product().CanUnloadNow(), S_OK);
  EXPECT_EQ(PollsOf(s), 1u);
}

}  // namespace
