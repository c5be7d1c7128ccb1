// The product as COM and the host's files meet it: its registry entries, its class object,
// independent objects, what the module (not the host program) reports, and the session's
// debug log.
#include <algorithm>
#include <map>
#include <set>

#include "kit/E2EKit.h"
#include "platform/uRegistry.h"

namespace {

using namespace e2e;

const std::wstring kClassKey = std::wstring(L"CLSID\\") + kClassGuidText;

// What the product owns under one classes root (HKLM or HKCU "Software\Classes").
regtest::TTree OurEntries(HKEY Root) { return regtest::ClassEntries(Root, kClassKey, kProgID); }

regtest::TTree ExpectedEntries() {
  return regtest::ExpectedClassEntries(regtest::kClasses, kClassKey, kProgID, kClassGuidText,
                                       L"8.2 Equipment Driver 2.0", DllPath());
}

using regtest::Show;

// ------------------------------------------------------------------------------------------

TEST(Server, RegistrationMachineWideAndPerUserWritesItsEntriesOnlyAndUnregistrationRemovesThem) {
  // The run registers machine-wide; this test starts from nothing and puts that back.
  ASSERT_EQ(Regsvr32(L"/u"), 0);
  ASSERT_TRUE(OurEntries(HKEY_LOCAL_MACHINE).empty());
  const struct {
    const wchar_t* Install;
    const wchar_t* Uninstall;
    HKEY Root, Other;
  } forms[] = {
      {L"", L"/u", HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER},
      {L"/i:user /n", L"/u /i:user /n", HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE},
  };
  for (const auto& form : forms) {
    SCOPED_TRACE(U8(std::wstring(L"regsvr32 ") + form.Install));
    for (int time = 0; time < 2; ++time) {  // twice: the same entries
      ASSERT_EQ(Regsvr32(form.Install), 0);
      EXPECT_EQ(OurEntries(form.Root), ExpectedEntries()) << Show(OurEntries(form.Root));
      EXPECT_TRUE(OurEntries(form.Other).empty()) << Show(OurEntries(form.Other));
    }
    ASSERT_EQ(Regsvr32(form.Uninstall), 0);
    EXPECT_TRUE(OurEntries(form.Root).empty()) << Show(OurEntries(form.Root));
  }
  ASSERT_EQ(Regsvr32(L""), 0);
}

TEST(Server, TheClassObjectServesTheDriverOnly) {
  void* out = reinterpret_cast<void*>(0x1234);
  const CLSID other = {0x18F8590B, 0x060A, 0x45ED, {0xA6, 0xB6, 0x7E, 0x31, 0x83, 0xBF, 0x72, 0xC4}};
  EXPECT_EQ(Product().GetClassObject(other, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr);
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromString(kClassGuidText, &clsid), S_OK);
  TComPtr<IClassFactory> factory;
  EXPECT_EQ(Product().GetClassObject(clsid, IID_IClassFactory, factory.OutVoid()), S_OK);
}

TEST(Server, TwoObjectsByProgIDHaveTheirOwnStateAndInstanceInTheSharedLogFile) {
  TSession::TOptions options;
  options.DebugLog = false;
  TSession first(options);
  TSession second(options);
  // Both devices log into one folder's day file.
  const std::wstring shared = TSession::Scratch().Path() + L"devices\\shared\\";
  CreateDirectoryW(shared.c_str(), nullptr);
  TVariant out;
  for (TSession* s : {&first, &second}) {
    TVariant id = TVariant::FromString(L"shared"), description;
    ASSERT_TRUE(IsTrue(InvokeByName(s->Disp(), L"Open", {ByVal(id), VariantRefTo(description)})));
    ASSERT_TRUE(IsTrue(s->Call(L"SetSettings", SettingsInData({{L"DebugLogEnabled", TVariant::FromBool(true)}}), out)));
    ASSERT_TRUE(IsTrue(s->Call(L"Enable", TVariant(), out)));
  }
  // Settings are per object.
  ASSERT_TRUE(IsTrue(first.Call(L"SetSettings", SettingsInData({{L"LineLength", TVariant::FromInt(21)}}), out)));
  for (TSession* s : {&first, &second}) {
    ASSERT_TRUE(IsTrue(s->Call(L"GetSettings", TVariant(), out)));
    const TVariant table = ItemOf(out, 0);
    for (LONG column = 0;; ++column) {
      LONG id[2] = {0, column}, value[2] = {1, column};
      if (Str(SafeArrayItem(VariantSafeArray(table.Get()), id)) != L"LineLength") continue;
      EXPECT_EQ(VariantToInt(SafeArrayItem(VariantSafeArray(table.Get()), value).Get()), s == &first ? 21 : 40);
      break;
    }
  }

  std::set<std::wstring> instances;
  for (const std::wstring& line : DebugLogLines(shared)) {
    const size_t at = line.find(L" Inst.: {");
    if (at != std::wstring::npos && line.find(L"device ID: \tshared") != std::wstring::npos)
      instances.insert(line.substr(at + 8, 38));
  }
  EXPECT_EQ(instances.size(), 2u);
  EXPECT_EQ(FilesIn(shared, L"*").size(), 1u);
}

// ------------------------------------------------------------------------------------------

TEST(Server, VersionAndDefaultLogFolderAreTheModulesNotTheHostProgramsWhichHasNoVersion) {
  // This program has no version resource of its own.
  DWORD handle = 0;
  EXPECT_EQ(GetFileVersionInfoSizeW(ThisModuleFileName().c_str(), &handle), 0u);

  TSession::TOptions options;
  options.DebugLog = false;
  TSession s(options);
  TVariant out;
  ASSERT_TRUE(IsTrue(s.Call(L"GetDeviceInfo", TVariant(), out)));
  EXPECT_EQ(Str(ItemOf(out, 0)), L"FastPaymentSystem");
  EXPECT_EQ(Str(ItemOf(out, 1)), L"973CB31E-3A3E-4B58-B93D-262E5857EFC4");
  EXPECT_EQ(Str(ItemOf(out, 2)), L"Quorvel: Система быстрых платежей Tolvaro");
  EXPECT_EQ(ItemOf(out, 3).Get().lVal, 1);
  EXPECT_EQ(ItemOf(out, 4).Get().lVal, 0);
  EXPECT_EQ(ItemOf(out, 5).Get().lVal, 17);
  EXPECT_EQ(Str(ItemOf(out, 6)), L"Qelm.tolvaro");
  EXPECT_EQ(ItemOf(out, 8).Get().boolVal, VARIANT_TRUE);
  EXPECT_EQ(Str(ItemOf(out, 9)), L"Драйвер системы быстрых платежей Tolvaro");

  // A device folder that does not exist: the logs go to the module's default folder, named
  // after the DLL, and the exchange lines with them.
  const std::wstring device = L"nofolder-" + NewGuidText().substr(1, 8);
  TVariant id = TVariant::FromString(device), description;
  ASSERT_TRUE(IsTrue(InvokeByName(s.Disp(), L"Open", {ByVal(id), VariantRefTo(description)})));
  ASSERT_TRUE(IsTrue(s.Call(L"SetSettings", SettingsInData({{L"DebugLogEnabled", TVariant::FromBool(true)}}), out)));
  ASSERT_TRUE(IsTrue(s.Call(L"Enable", TVariant(), out)));
  ASSERT_FALSE(s.Register(3).empty());
  const std::wstring folder = DefaultLogFolders()[0];
  bool header = false, exchange = false;
  for (const std::wstring& line : DebugLogLines(folder)) {
    header |= line.find(L"device ID: \t" + device) != std::wstring::npos;
    exchange |= line.find(W("> POST " + s.Sandbox.HttpBase() + "/v2/Init")) != std::wstring::npos &&
                line.find(W(s.Key)) != std::wstring::npos;
  }
  EXPECT_TRUE(header) << U8(folder);
  EXPECT_TRUE(exchange);
  const std::wstring common = IncludeTrailingPathDelimiter(SpecialFolderPath(CSIDL_COMMON_APPDATA, false));
  EXPECT_TRUE(FilesIn(common + L"e2e_tests\\", L"*").empty());
}

TEST(Server, TheDebugLogOfASessionHasTheHeaderTracesAndExchangeInOneDayFileWithThePasswordMasked) {
  TSession s;
  s.Sandbox.SetBehaviour(s.Key, "CONFIRMED", 0);
  const std::wstring id = s.Register(7.77);
  TVariant out;
  ASSERT_TRUE(IsTrue(s.Call(L"Pay", Args({TVariant::FromString(L""), TVariant::FromString(id)}), out)));
  ASSERT_TRUE(IsTrue(s.Call(L"GetSettings", TVariant(), out)));

  ASSERT_EQ(FilesIn(s.DeviceFolder, L"*").size(), 1u);
  const std::vector<std::wstring> lines = DebugLogLines(s.DeviceFolder);
  auto has = [&lines](const std::wstring& text) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::wstring& l) { return l.find(text) != std::wstring::npos; });
  };
  EXPECT_TRUE(has(L"============Begin debug log============="));
  EXPECT_TRUE(has(L"\tPassword: \t'***'") || has(L"\tPassword: \t***")) << "header";
  EXPECT_TRUE(has(L"\tTerminalKey: \t'" + W(s.Key) + L"'") || has(L"\tTerminalKey: \t" + W(s.Key)));
  EXPECT_TRUE(has(L"\t> RegisterQrCode: \tInData: "));
  EXPECT_TRUE(has(L"\t< Pay: \tResult="));
  EXPECT_TRUE(has(L"> POST " + s.HostURL + L"/Init content-type: application/json;  {"));
  EXPECT_TRUE(has(L"< StatusCode: 200 POST " + s.HostURL + L"/GetState "));
  EXPECT_TRUE(has(L"\t< GetSettings: "));
  // Settings exchanged while the log is on: their trace lines carry the table, and the
  // session's end looks for the password in every file.
  ASSERT_TRUE(IsTrue(s.Call(L"SetSettings", SettingsInData({{L"Password", TVariant::FromString(s.Password)},
                                                             {L"LineLength", TVariant::FromInt(40)}}),
                            out)));
  const std::vector<std::wstring> traced = DebugLogLines(s.DeviceFolder);
  EXPECT_TRUE(std::any_of(traced.begin(), traced.end(),
                          [](const std::wstring& l) { return l.find(L"\t> SetSettings: ") != std::wstring::npos; }));
  // Request tokens are written as ***: with a logged one anyone who reads the log could repeat
  // the request (withdraw the payment, refund again).
  ASSERT_TRUE(IsTrue(s.Call(L"Refund",
                            Args({TVariant::FromDouble(1), TVariant::FromString(L""), TVariant::FromString(id)}), out)));
  const std::vector<std::wstring> after = DebugLogLines(s.DeviceFolder);
  size_t tokens = 0;
  for (const auto& q : s.Sandbox.Requests(s.Key)) {
    const size_t at = q.Body.find("\"Token\":\"");
    if (at == std::string::npos) continue;
    const std::string token = q.Body.substr(at + 9, q.Body.find('"', at + 9) - (at + 9));
    ASSERT_GE(token.size(), 32u) << q.Body;
    for (const std::wstring& line : after) EXPECT_EQ(line.find(W(token)), std::wstring::npos) << U8(line);
    ++tokens;
  }
  EXPECT_GE(tokens, 3u);  // GetQr, GetState, Cancel (Init has none)
  EXPECT_TRUE(std::any_of(after.begin(), after.end(),
                          [](const std::wstring& l) { return l.find(L"/Cancel ") != std::wstring::npos &&
                                                             l.find(L"\"Token\":\"***\"") != std::wstring::npos; }));
  // ~TSession checks that the password is in no file.
}

TEST(Server, AUserNameAndPasswordInTheHostAddressAreRefusedAndNeverWritten) {
  const std::wstring secret = L"Sekret" + NewGuidText().substr(1, 8);
  const std::wstring hostPort = W(tolvaro::test::TSandbox().HttpBase().substr(7));  // 127.0.0.1:PORT
  const struct {
    std::wstring Host;
    bool Refused;  // false: the "@" is not user information; the call goes to the bank
  } rows[] = {
      {L"alice:" + secret + L"@" + hostPort + L"/v2", true},  // typed without a scheme
      {L"http://alice:" + secret + L"@" + hostPort + L"/v2", true},
      {L"https://alice:" + secret + L"@" + hostPort + L"/v2", true},
      {L"ftp://alice:" + secret + L"@" + hostPort + L"/v2", true},
      {L"HTTP://" + secret + L"@" + hostPort + L"/v2", true},
      {L"http://" + hostPort + L"/v2/x@" + secret, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(U8(row.Host));
    TSession::TOptions options;
    options.Host = row.Host;
    TSession s(options);
    TVariant out;
    ASSERT_TRUE(IsTrue(s.Call(L"GetSettings", TVariant(), out)));
    const TInvokeResult r =
        s.Call(L"RegisterQrCode", Args({TVariant::FromDouble(1), TVariant::FromString(L"Заказ")}), out);
    if (row.Refused) {
      EXPECT_FALSE(IsTrue(r));
      ASSERT_EQ(CountOf(out), 2);
      EXPECT_EQ(ItemOf(out, 0).Get().lVal, 1001);
      EXPECT_EQ(Str(ItemOf(out, 1)), L"Invalid URL: a user name or password in the address is not allowed");
      EXPECT_TRUE(s.Sandbox.Requests(s.Key).empty());
      // Every file of the run: the debug log (settings, calls, exchange) and anything else.
      std::vector<std::wstring> files = FilesUnder(TSession::Scratch().Path());
      for (const std::wstring& folder : DefaultLogFolders())
        for (const std::wstring& file : FilesUnder(folder)) files.push_back(file);
      for (const std::wstring& file : files) EXPECT_FALSE(FileHolds(file, secret)) << U8(file);
      const std::vector<std::wstring> lines = DebugLogLines(s.DeviceFolder);
      EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::wstring& l) {
        return l.find(L"\tHost: \t") != std::wstring::npos && l.find(L"***@") != std::wstring::npos;
      }));
    } else {
      EXPECT_FALSE(s.Sandbox.Requests(s.Key).empty());  // sent: the sandbox serves any path prefix
    }
  }
}

}  // namespace
