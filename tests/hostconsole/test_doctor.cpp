// The connection check's steps in-process, where a seam shows what the console cannot: the
// Windows version the TLS choice reads, and the tcp step's bound over several addresses.
// Against the tree's sandbox over HTTPS (its CA trusted by the prefix).
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <winhttp.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "kit/ScopedHook.h"
#include "kit/uSandbox.h"
#include "uDoctor.h"
#include "uHTTPClient.h"
#include "uHostConsole.h"
#include "uWinHttpSession.h"

using namespace hostconsole;

namespace {

constexpr unsigned long kUpToTls12 =
    WINHTTP_FLAG_SECURE_PROTOCOL_TLS1 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_1 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;

// The user's proxy settings (HKCU ...\Internet Settings\Connections, DefaultConnectionSettings)
// for the test's length: direct, auto-detection off, so no check here starts WPAD (Wine's
// default is "detect" when the value is absent). What was there is put back.
class TDirectUserProxy {
 public:
  TDirectUserProxy() {
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &FKey,
                        nullptr) != ERROR_SUCCESS) {
      FKey = nullptr;
      return;
    }
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(FKey, kValue, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
      FOld.resize(size);
      FHadOld = RegQueryValueExW(FKey, kValue, nullptr, &FOldType, FOld.data(), &size) == ERROR_SUCCESS;
      FOld.resize(size);
    }
    // Magic 0x46, a change counter, flags 1 (direct), then the lengths of the proxy, the bypass
    // list and the script's URL: all empty.
    const DWORD blob[] = {0x46, 0, 1, 0, 0, 0};
    RegSetValueExW(FKey, kValue, 0, REG_BINARY, reinterpret_cast<const BYTE*>(blob), sizeof blob);
  }
  ~TDirectUserProxy() {
    if (!FKey) return;
    if (FHadOld)
      RegSetValueExW(FKey, kValue, 0, FOldType, FOld.data(), static_cast<DWORD>(FOld.size()));
    else
      RegDeleteValueW(FKey, kValue);
    RegCloseKey(FKey);
  }
  TDirectUserProxy(const TDirectUserProxy&) = delete;
  TDirectUserProxy& operator=(const TDirectUserProxy&) = delete;
  bool Ok() const { return FKey != nullptr; }

 private:
  static constexpr const wchar_t* kKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
  static constexpr const wchar_t* kValue = L"DefaultConnectionSettings";
  HKEY FKey = nullptr;
  bool FHadOld = false;
  DWORD FOldType = REG_BINARY;
  std::vector<BYTE> FOld;
};

const TDoctorStep* StepOf(const std::vector<TDoctorStep>& Steps, const std::wstring& Name) {
  for (const TDoctorStep& s : Steps)
    if (s.Name == Name) return &s;
  return nullptr;
}

std::wstring FieldOf(const TDoctorStep& Step, const std::wstring& Key) {
  for (const TDoctorField& f : Step.Fields)
    if (f.Key == Key) return f.Value;
  return L"(no field " + Key + L")";
}

std::string Shown(const std::vector<TDoctorStep>& Steps) {
  std::string out;
  for (const TDoctorStep& s : Steps) {
    out += Utf8(s.Name) + (s.Ok ? " OK " : " FAIL ") + Utf8(s.Text) + "\n";
    for (const TDoctorField& f : s.Fields) out += "    " + Utf8(f.Key) + ": " + Utf8(f.Value) + "\n";
  }
  return out;
}

using TVersion = std::pair<unsigned, unsigned>;

std::vector<TDoctorStep> StepsOn(TVersion AVersion, const std::wstring& AUrl) {
  TScopedHook version(bank::SetWindowsVersionLookup, [AVersion] { return AVersion; });
  return DoctorNetworkSteps(AUrl);
}

class DoctorSteps : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(Proxy.Ok()) << "the user's proxy settings cannot be written"; }
  TDirectUserProxy Proxy;
  tolvaro::test::TSandbox Sandbox;
};

}  // namespace

// On Windows 7 and 8.0 the driver asks WinHTTP for TLS 1.0 to 1.2; the check asks for the
// same through the same session opener, and its own handshake offers the same protocols.
TEST_F(DoctorSteps, OldWindowsIsCheckedWithTheDriversProtocols) {
  ASSERT_FALSE(Sandbox.HttpsBase().empty());
  const std::wstring url = Wide(Sandbox.HttpsBase()) + L"/v2";
  for (const TVersion& version : {TVersion{6, 1}, TVersion{6, 2}}) {
    const std::vector<TDoctorStep> steps = StepsOn(version, url);
    const TDoctorStep* tls = StepOf(steps, L"tls");
    ASSERT_NE(tls, nullptr) << Shown(steps);
    EXPECT_TRUE(tls->Ok) << Shown(steps);
    EXPECT_EQ(FieldOf(*tls, L"offered"), L"TLS 1.0, TLS 1.1, TLS 1.2 (asked for on Windows before 8.1)") << Shown(steps);
    // The check's own handshake enables exactly those (Schannel says which it enabled), and
    // agrees on 1.2 with a server that takes 1.3 too.
    EXPECT_EQ(FieldOf(*tls, L"handshake_offered"), L"TLS 1.0, TLS 1.1, TLS 1.2") << Shown(steps);
    EXPECT_EQ(FieldOf(*tls, L"protocol"), L"TLS 1.2") << Shown(steps);
  }
  // From 8.1 on the system's defaults, whatever they hold (Wine's add SSL 3.0; Windows 7's leave
  // TLS 1.1 and 1.2 out unless asked for, which is why the check must ask as the driver does).
  const std::vector<TDoctorStep> steps = StepsOn({10, 0}, url);
  const TDoctorStep* tls = StepOf(steps, L"tls");
  ASSERT_NE(tls, nullptr) << Shown(steps);
  EXPECT_TRUE(tls->Ok) << Shown(steps);
  EXPECT_EQ(FieldOf(*tls, L"offered"), L"the system's defaults") << Shown(steps);
  EXPECT_EQ(FieldOf(*tls, L"protocol").rfind(L"TLS 1.", 0), 0u) << Shown(steps);
  EXPECT_NE(FieldOf(*tls, L"handshake_offered").find(L"TLS 1.2"), std::wstring::npos) << Shown(steps);
}

// The one opener the transport and the check share sets the protocols on the session.
TEST_F(DoctorSteps, TheSessionOpenerAsksOldWindowsForTls12) {
  for (const TVersion& version : {TVersion{6, 1}, TVersion{6, 3}, TVersion{10, 0}}) {
    TScopedHook hook(bank::SetWindowsVersionLookup, [version] { return version; });
    bank::TWinHttpSessionInfo info;
    const HINTERNET session = bank::OpenWinHttpSession(&info);
    ASSERT_NE(session, nullptr) << GetLastError();
    const unsigned long expected = version.first < 6 || (version.first == 6 && version.second < 3) ? kUpToTls12 : 0;
    EXPECT_EQ(info.Protocols, expected) << version.first << "." << version.second;
    EXPECT_TRUE(info.ProtocolsAccepted);
    // Wine ignores the automatic mode (no proxy) but accepts it.
    EXPECT_EQ(info.Mode, bank::TWinHttpProxyMode::Automatic);
    WinHttpCloseHandle(session);
  }
}

// Several addresses that all drop the connection share one bound: the second is not tried once
// the first has spent it (with a bound per address, the step took that long for each).
TEST_F(DoctorSteps, TcpStepIsBoundedAsAWhole) {
  WSADATA wsa;
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &wsa), 0);
  // Two listeners on one port with a backlog of one, each holding one connection nobody takes:
  // a further connection is never answered.
  std::vector<SOCKET> sockets;
  struct TClose {
    std::vector<SOCKET>& List;
    ~TClose() {
      for (SOCKET s : List) closesocket(s);
      WSACleanup();
    }
  } close{sockets};
  u_short port = 0;
  for (const char* address : {"127.0.0.1", "127.0.0.2"}) {
    const SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_NE(listener, INVALID_SOCKET);
    sockets.push_back(listener);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = port;
    inet_pton(AF_INET, address, &a.sin_addr);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0) << address << " " << WSAGetLastError();
    ASSERT_EQ(listen(listener, 0), 0);
    int len = sizeof a;
    getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    port = a.sin_port;
    const SOCKET holder = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockets.push_back(holder);
    ASSERT_EQ(connect(holder, reinterpret_cast<sockaddr*>(&a), sizeof a), 0) << address;
  }
  const unsigned p = ntohs(port);
  const TDoctorStep s = DoctorTcpStep(L"bank.example", p, {L"127.0.0.1", L"127.0.0.2"}, false, 2000);
  EXPECT_FALSE(s.Ok) << Utf8(s.Text);
  EXPECT_EQ(s.Name, L"tcp");
  const std::wstring where = L"bank.example:" + std::to_wstring(p);
  EXPECT_EQ(s.Text.rfind(L"no connection to " + where + L" within 2 s (127.0.0.1:" + std::to_wstring(p) + L": (10060)", 0), 0u)
      << Utf8(s.Text);
  EXPECT_NE(s.Text.find(L"127.0.0.2:" + std::to_wstring(p) + L": not tried, no time left"), std::wstring::npos) << Utf8(s.Text);
  EXPECT_NE(s.AdviceEn.find(L"firewall"), std::wstring::npos);
}
