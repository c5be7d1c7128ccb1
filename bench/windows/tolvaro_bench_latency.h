// Part of tolvaro_bench.cpp (included inside its namespace, after the helpers it uses): a bank
// that is far away, and the connections the driver keeps.
//
// 5. Latency: the sandbox's kept-alive HTTPS listener behind the latency relay
//    (tools/sandbox, TOLVARO_RELAY_FAR: its info file), at the relay's one-way delay. Figures in
//    round trips (2 x the delay): RegisterQrCode and one status poll warm, the first call of an
//    object with no connection open, Pay after the bank's CONFIRMED answer, and the debug log
//    on against off.
// 6. Connections: the same object's register + status cycles and objects created, used and
//    released, through the relay with no delay (TOLVARO_RELAY_NEAR, plain HTTP): the process's
//    TCP connections (GetExtendedTcpTable, owner PID) and handles before and after, and the
//    connections the relay accepted.
// Its headers are tolvaro_bench.cpp's (winsock2.h, iphlpapi.h, kit/LatencyRelay.h).

// The relay the run started: where it listens, its delay, its control line.
using TRelay = tolvaro::test::TLatencyRelay;

// The TCP connections this process owns (IPv4 and IPv6, any state but listening); -1 when the
// table cannot be read.
long ProcessTcpConnections() {
  long n = 0;
  for (const ULONG family : {AF_INET, AF_INET6}) {
    std::vector<char> buf(1 << 16);
    DWORD size = static_cast<DWORD>(buf.size());
    DWORD rc = 0;
    for (int attempt = 0; attempt < 8; ++attempt) {
      rc = GetExtendedTcpTable(buf.data(), &size, FALSE, family, TCP_TABLE_OWNER_PID_CONNECTIONS, 0);
      if (rc != ERROR_INSUFFICIENT_BUFFER) break;
      buf.resize(size + 4096);
      size = static_cast<DWORD>(buf.size());
    }
    if (rc != NO_ERROR) return -1;
    const DWORD self = GetCurrentProcessId();
    if (family == AF_INET) {
      const auto* t = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(buf.data());
      for (DWORD i = 0; i < t->dwNumEntries; ++i) n += t->table[i].dwOwningPid == self ? 1 : 0;
    } else {
      const auto* t = reinterpret_cast<const MIB_TCP6TABLE_OWNER_PID*>(buf.data());
      for (DWORD i = 0; i < t->dwNumEntries; ++i) n += t->table[i].dwOwningPid == self ? 1 : 0;
    }
  }
  return n;
}

void BenchLatency(const TSandbox& Sandbox, const std::wstring& Devices, const std::wstring& SandboxLog, int Rounds) {
  const TRelay relay("TOLVARO_RELAY_FAR");
  if (relay.DelayMs() <= 0) Fail("the far relay has no delay");
  const double rtt = 2.0 * relay.DelayMs();
  std::printf("5. a bank %d ms away (one way), over HTTPS through the latency relay; figures in round trips of %.0f ms\n",
              relay.DelayMs(), rtt);
  if (Rounds <= 0) Fail("--rounds must be at least 1");
  const std::string host = "https://localhost:" + relay.Port() + "/v2";
  const std::string key = TSandbox::UniqueKey("bench-far"), password = "far";
  Sandbox.AddTerminal(key, password);
  const TVariant registerIn = MakeVariantArray({TVariant::FromDouble(10), TVariant::FromString(L"Заказ")});
  auto registerOn = [&](const TDriver& d) {
    TVariant out;
    if (!IsTrue(d.Call(DispIdOf(d.Disp(), L"RegisterQrCode"), registerIn, out)))
      Fail("RegisterQrCode failed: " + U8(Failure(out)));
    return Text(ItemOf(out, 0));
  };
  auto timed = [](const std::function<void()>& ACall) {
    const double start = NowMs();
    ACall();
    return NowMs() - start;
  };

  // The first call of an object, with no connection open in the process: TCP and TLS
  // handshakes before the two requests.
  std::vector<double> cold;
  for (int i = 0; i < 3; ++i) {
    relay.Drop();
    TDriver d(key, password, host, Devices, TOptions{30, false}, true);
    cold.push_back(timed([&] { registerOn(d); }));
  }
  Note("first RegisterQrCode of an object, no connection open: median " + Fixed(Median(cold), 1) + " ms (" +
       Fixed(Median(cold) / rtt, 2) + " round trips)");

  // Warm: the objects' connections open. Each round runs every variant once, in its own order.
  TDriver quiet(key, password, host, Devices, TOptions{30, false}, true);
  TDriver logged(key, password, host, Devices, TOptions{30, true}, true);
  const DISPID status = quiet.Id(L"GetQrCodeStatus");
  std::wstring lastId = registerOn(quiet);
  registerOn(logged);
  TVariant ignored;
  struct TRun {
    const char* Name;
    std::function<void()> Prepare, Run;
    std::vector<double> Ms;
  };
  std::vector<TRun> runs = {
      {"RegisterQrCode, debug log off", [&] { quiet.MustCall(L"Enable", TVariant(), ignored); },
       [&] { lastId = registerOn(quiet); }, {}},
      {"RegisterQrCode, debug log on", [&] { logged.MustCall(L"Enable", TVariant(), ignored); },
       [&] { registerOn(logged); }, {}},
      {"GetQrCodeStatus, debug log off", [&] { quiet.MustCall(L"Enable", TVariant(), ignored); },
       [&] {
         TVariant out;
         if (!IsTrue(quiet.Call(status, MakeVariantArray({TVariant::FromString(L"QR"), TVariant::FromString(lastId)}), out)))
           Fail("GetQrCodeStatus failed: " + U8(Failure(out)));
       },
       {}},
  };
  const int rounds = std::min(Rounds, 40);  // each round is half a second at 25 ms
  std::mt19937 shuffle(20261211);
  std::vector<size_t> order(runs.size());
  for (size_t k = 0; k < order.size(); ++k) order[k] = k;
  for (int r = -2; r < rounds; ++r) {
    std::shuffle(order.begin(), order.end(), shuffle);
    for (const size_t k : order) {
      runs[k].Prepare();
      const double ms = timed(runs[k].Run);
      if (r >= 0) runs[k].Ms.push_back(ms);
    }
  }
  for (const TRun& v : runs)
    Note(std::string(v.Name) + ": median " + Fixed(Median(v.Ms), 1) + " ms, max " + Fixed(Max(v.Ms), 1) + " ms over " +
         std::to_string(v.Ms.size()) + " rounds");
  std::vector<double> logRatio;
  for (size_t i = 0; i < runs[0].Ms.size() && i < runs[1].Ms.size(); ++i) logRatio.push_back(runs[1].Ms[i] / runs[0].Ms[i]);
  // A request and its answer cross the relay once each way: a figure under the floor of whole
  // round trips means the relay did not hold the data, and nothing was measured.
  constexpr double kFloorShare = 0.98;
  const double reg = Median(runs[0].Ms) / rtt, poll = Median(runs[2].Ms) / rtt, onOff = Median(logRatio);
  AddRow("Far bank: RegisterQrCode, warm", Fixed(reg, 2) + " round trips (median " + Fixed(Median(runs[0].Ms), 1) + " ms)",
         "2 to 2.5 round trips", reg >= kFloorShare * 2 && reg <= 2.5);
  AddRow("Far bank: one status poll, warm", Fixed(poll, 2) + " round trips (median " + Fixed(Median(runs[2].Ms), 1) + " ms)",
         "1 to 1.25 round trips", poll >= kFloorShare && poll <= 1.25);
  AddRow("Far bank: RegisterQrCode, first call of an object", Fixed(Median(cold) / rtt, 2) + " round trips (median " +
         Fixed(Median(cold), 1) + " ms of 3)", "reported (connection and TLS set-up; at least 2)", Median(cold) / rtt >= kFloorShare * 2);
  AddRow("Far bank: RegisterQrCode, debug log on / off", Fixed(onOff, 3) + "x (medians " + Fixed(Median(runs[1].Ms), 1) +
         " ms / " + Fixed(Median(runs[0].Ms), 1) + " ms)", "<= 1.05x", onOff <= 1.05);

  // Pay: confirmed on its second poll; from the bank's answer to Pay's return.
  if (SandboxLog.empty()) Fail("--sandbox-log is needed for the Pay figure");
  quiet.MustCall(L"Enable", TVariant(), ignored);
  const DISPID pay = quiet.Id(L"Pay");
  Sandbox.SetBehaviour(key, "CONFIRMED", 1);
  std::vector<double> latency;
  for (int i = 0; i < 5; ++i) {
    const std::wstring id = registerOn(quiet);
    TVariant payOut;
    const bool paid =
        IsTrue(quiet.Call(pay, MakeVariantArray({TVariant::FromString(L"QR"), TVariant::FromString(id)}), payOut));
    const double returned = WallMs();
    if (!paid) Fail("Pay failed: " + U8(Failure(payOut)));
    const double answered =
        LastLogTime(SandboxLog, {"/v2/GetState", "\"PaymentId\":\"" + U8(id) + "\"", "\"Status\":\"CONFIRMED\""});
    if (answered < 0) Fail("no CONFIRMED answer for " + U8(id) + " in the sandbox's log");
    latency.push_back(returned - answered);
  }
  Sandbox.SetBehaviour(key, "NONE", 0);
  const double payBound = 500 + 1.5 * rtt;
  Note("CONFIRMED answer -> Pay returns: median " + Fixed(Median(latency), 1) + " ms, max " + Fixed(Max(latency), 1) +
       " ms over " + std::to_string(latency.size()) + " payments (poll pause 500 ms)");
  AddRow("Far bank: CONFIRMED answer -> Pay returns (max of 5)", Fixed(Max(latency), 0) + " ms (median " +
         Fixed(Median(latency), 0) + " ms)", "0 to 500 ms + 1.5 round trips (" + Fixed(payBound, 0) + " ms), every run",
         Min(latency) >= 0 && Max(latency) <= payBound);
}

void BenchConnections(const TSandbox& Sandbox, const std::wstring& Devices, int Cycles, int Objects) {
  const TRelay relay("TOLVARO_RELAY_NEAR");
  std::printf("6. connections: %d register + status cycles on one object, %d objects created, used and released, "
              "through the relay (no delay, kept-alive HTTP)\n", Cycles, Objects);
  if (Cycles <= 0 || Objects <= 0) Fail("--cycles and --objects must be at least 1");
  const std::string host = "http://127.0.0.1:" + relay.Port() + "/v2";
  const std::string key = TSandbox::UniqueKey("bench-near"), password = "near";
  Sandbox.AddTerminal(key, password);
  const TVariant registerIn = MakeVariantArray({TVariant::FromDouble(10), TVariant::FromString(L"Заказ")});
  struct TCount {
    long Tcp;
    DWORD Handles;
    long Accepted, Open;
  };
  auto count = [&] {
    const auto stats = relay.Stats();
    const TCount c{ProcessTcpConnections(), HandlesInSystemTable(), stats.at("accepted"), stats.at("open")};
    if (c.Tcp < 0) Fail("the process's TCP connections cannot be read (GetExtendedTcpTable)");
    if (c.Handles == 0) Fail("the process's handles cannot be read");
    return c;
  };
  auto show = [](const TCount& c) {
    return std::to_string(c.Tcp) + " TCP, " + std::to_string(c.Handles) + " handles, relay " + std::to_string(c.Open) +
           " open";
  };
  {
    TDriver d(key, password, host, Devices, TOptions{30, false}, true);
    const DISPID reg = d.Id(L"RegisterQrCode"), status = d.Id(L"GetQrCodeStatus");
    auto cycle = [&] {
      TVariant out;
      if (!IsTrue(d.Call(reg, registerIn, out))) Fail("RegisterQrCode failed: " + U8(Failure(out)));
      TVariant statusOut;
      if (!IsTrue(d.Call(status, MakeVariantArray({TVariant::FromString(L"QR"), ItemOf(out, 0)}), statusOut)))
        Fail("GetQrCodeStatus failed: " + U8(Failure(statusOut)));
    };
    for (int i = 0; i < 50; ++i) cycle();
    const TCount before = count();
    if (before.Tcp == 0 && before.Open > 0) Fail("the TCP table shows none of this process's connections");
    const double start = NowMs();
    for (int i = 0; i < Cycles; ++i) cycle();
    const double took = NowMs() - start;
    const TCount after = count();
    Note(std::to_string(Cycles) + " cycles in " + Fixed(took / 1000.0, 1) + " s: before " + show(before) + "; after " +
         show(after) + "; the relay accepted " + std::to_string(after.Accepted - before.Accepted) + " connections");
    AddRow("Connections: " + std::to_string(Cycles) + " register+status cycles, the process's TCP connections and handles",
           std::to_string(before.Tcp) + " -> " + std::to_string(after.Tcp) + " TCP, " + std::to_string(before.Handles) +
               " -> " + std::to_string(after.Handles) + " handles, " + std::to_string(after.Accepted - before.Accepted) +
               " new",
           "no growth", after.Tcp <= before.Tcp && after.Handles <= before.Handles);
  }
  {
    auto lifecycle = [&] {
      TDriver d(key, password, host, Devices, TOptions{30, false}, true);
      TVariant out;
      d.MustCall(L"RegisterQrCode", registerIn, out);
    };
    for (int i = 0; i < 20; ++i) lifecycle();
    const TCount before = count();
    const double start = NowMs();
    for (int i = 0; i < Objects; ++i) lifecycle();
    const double took = NowMs() - start;
    const TCount after = count();
    Note(std::to_string(Objects) + " objects (create, Enable, RegisterQrCode, release) in " + Fixed(took / 1000.0, 1) +
         " s: before " + show(before) + "; after " + show(after) + "; the relay accepted " +
         std::to_string(after.Accepted - before.Accepted) + " connections");
    AddRow("Connections: " + std::to_string(Objects) + " objects used and released, the process's TCP connections and handles",
           std::to_string(before.Tcp) + " -> " + std::to_string(after.Tcp) + " TCP, " + std::to_string(before.Handles) +
               " -> " + std::to_string(after.Handles) + " handles",
           "no growth", after.Tcp <= before.Tcp && after.Handles <= before.Handles);
  }
}
