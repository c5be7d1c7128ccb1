// TDriver from the inside: its settings and identity, what Enable takes from the settings,
// the guard of every bank call, the self-test and the settings dialog it asks for.
#include <gtest/gtest.h>

#include "kit/TestEquipmentManager.h"
#include "kit/DispatchTestKit.h"
#include "kit/LogTestKit.h"
#include "bank/uExchangeLog.h"
#include "bank/uFakeHTTPClient.h"
#include "fps/uDriver.h"
#include "host/uComServer.h"
#include "host/uDebugLog.h"
#include "kit/uSandbox.h"
#include "platform/uFiles.h"
#include "kit/ScopedHook.h"

namespace {

std::wstring W(const std::string& s) { return Utf8ToUtf16(s); }

class DriverFixture : public ::testing::Test {
protected:
  void SetUp() override {
    Driver = static_cast<TDriver*>(CreateComObject<TDriver>());
    Manager = TTestEquipmentManager::Create();
    Manager->SetAppProperty(L"DevicesFolder", Dir.Path());
    CreateDirectoryW((Dir.Path() + L"D1").c_str(), nullptr);
    TVariant manager = Manager->AsVariant(), description, id = TVariant::FromString(L"D1");
    ASSERT_EQ(InvokeByName(Driver, L"Init", {ByVal(manager), VariantRefTo(description)}).Result.Get().boolVal,
              VARIANT_TRUE);
    ASSERT_EQ(InvokeByName(Driver, L"Open", {ByVal(id), VariantRefTo(description)}).Result.Get().boolVal, VARIANT_TRUE);
  }
  void TearDown() override {
    if (Driver) Driver->Release();
    Manager->Release();
    SetDeviceTestNotifier(nullptr);
    RegisterSettingsDialog(nullptr);
  }
  // A terminal of this test's own at the sandbox, configured and enabled.
  void EnableAtSandbox(const std::string& password = "пароль") {
    Key = tolvaro::test::TSandbox::UniqueKey("drv");
    Sandbox.AddTerminal(Key, "пароль");
    Driver->SetSettingValue(L"Host", TVariant::FromString(W(Sandbox.HttpBase() + "/v2")));
    Driver->SetSettingValue(L"TerminalKey", TVariant::FromString(W(Key)));
    Driver->SetSettingValue(L"Password", TVariant::FromString(W(password)));
    std::wstring description;
    ASSERT_EQ(Driver->Enable(description), 0) << Utf16ToUtf8(description);
  }

  TScratchFolder Dir;
  TDriver* Driver = nullptr;
  TTestEquipmentManager* Manager = nullptr;
  tolvaro::test::TSandbox Sandbox;
  std::string Key;
};

TEST_F(DriverFixture, SettingsAndDeviceInformation) {
  const struct {
    const wchar_t* ID;
    TDataType Type;
    const wchar_t* Name;
  } expected[] = {{L"DefaultTimeOut", dtNumber, nullptr},
                  {L"EventLogEnabled", dtBoolean, nullptr},
                  {L"DebugLogEnabled", dtBoolean, nullptr},
                  {L"Host", dtString, L"Хост"},
                  {L"TerminalKey", dtString, L"Номер терминала"},
                  {L"Password", dtString, L"Пароль"},
                  {L"WaitTimeout", dtNumber, L"Таймаут ожидания выполнения операции, секунд"},
                  {L"LineLength", dtNumber, L"Длина строки квитанции"}};
  const auto& settings = Driver->Settings();
  ASSERT_EQ(settings.size(), std::size(expected));
  for (size_t i = 0; i < settings.size(); ++i) {
    EXPECT_EQ(settings[i].ID, expected[i].ID);
    EXPECT_EQ(settings[i].ValueType, expected[i].Type);
    EXPECT_FALSE(settings[i].ReadOnly);
    if (expected[i].Name) {
      EXPECT_EQ(settings[i].Name, expected[i].Name);
    }
  }
  EXPECT_EQ(settings[3].Description, L"Адрес хоста");
  const std::wstring host = VariantToString(settings[3].Default.Get());
  EXPECT_TRUE(host.starts_with(L"https://") && host.ends_with(L"/v2")) << Utf16ToUtf8(host);
  EXPECT_EQ(VariantToInt(settings[6].Default.Get()), 30);
  EXPECT_EQ(VariantToInt(settings[7].Default.Get()), 48);
  EXPECT_TRUE(Driver->IsSettingSecret(L"Password"));
  EXPECT_FALSE(Driver->IsSettingSecret(L"TerminalKey"));

  const TDeviceInfoStruct& info = Driver->DeviceInfo();
  EXPECT_EQ(info.TypeName, L"FastPaymentSystem");
  EXPECT_EQ(info.ModelID, L"973CB31E-3A3E-4B58-B93D-262E5857EFC4");
  EXPECT_EQ(info.ProcessorName, L"Qelm.tolvaro");
  EXPECT_TRUE(info.IsSettingsDlgExist);
}

TEST_F(DriverFixture, EnableTakesTheSettingsOfItsMomentAndABadWaitTimeoutIsThirtySeconds) {
  const struct {
    int32_t Setting, Used;
  } waits[] = {{4, 30}, {5, 5}, {0, 30}, {-7, 30}, {120, 120}};
  for (const auto& w : waits) {
    Driver->SetSettingValue(L"WaitTimeout", TVariant::FromInt(w.Setting));
    Driver->SetSettingValue(L"LineLength", TVariant::FromInt(-3));  // taken as it is
    ASSERT_EQ(Driver->Enable(), 0);
    EXPECT_EQ(Driver->WaitTimeout(), w.Used) << w.Setting;
    EXPECT_EQ(Driver->LineLength(), -3);
  }

  // A changed Host counts from the next Enable on.
  EnableAtSandbox();
  Driver->SetSettingValue(L"Host", TVariant::FromString(L"http://127.0.0.1:1/v2"));
  std::wstring qr, data, url, order, description;
  EXPECT_EQ(Driver->RegisterQrCode(10000, L"", qr, data, url, order, description), 0) << Utf16ToUtf8(description);
  ASSERT_EQ(Driver->Enable(), 0);
  EXPECT_EQ(Driver->RegisterQrCode(10000, L"", qr, data, url, order, description), 1001);
  EXPECT_FALSE(description.empty());
  EXPECT_TRUE(qr.empty() && data.empty() && url.empty() && order.empty());
}

TEST_F(DriverFixture, EnableWithTheLogsOffMakesNoDefaultLogFolder) {
  // The default log folder is opened to every user: it must not appear for a device that logs
  // nothing. Application data is a fresh folder here; the device's own folder does not exist.
  TScratchFolder appData;
  TScopedHook folders(SetDebugLogSpecialFolders, [&](int) { return appData.Path(); });
  TDriver* driver = static_cast<TDriver*>(CreateComObject<TDriver>());
  TVariant manager = Manager->AsVariant(), description, id = TVariant::FromString(L"NoFolderOfItsOwn");
  ASSERT_EQ(InvokeByName(driver, L"Init", {ByVal(manager), VariantRefTo(description)}).Result.Get().boolVal,
            VARIANT_TRUE);
  ASSERT_EQ(InvokeByName(driver, L"Open", {ByVal(id), VariantRefTo(description)}).Result.Get().boolVal, VARIANT_TRUE);
  const auto entries = [&] {
    size_t n = 0;
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileW((appData.Path() + L"*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return n;
    do n += wcscmp(data.cFileName, L".") != 0 && wcscmp(data.cFileName, L"..") != 0;
    while (FindNextFileW(find, &data));
    FindClose(find);
    return n;
  };
  driver->SetSettingValue(L"DebugLogEnabled", TVariant::FromBool(false));
  EXPECT_EQ(driver->Enable(), 0);
  EXPECT_EQ(entries(), 0u);
  // With the log on, the folder comes with the log's first lines.
  driver->SetSettingValue(L"DebugLogEnabled", TVariant::FromBool(true));
  EXPECT_EQ(driver->Enable(), 0);
  EXPECT_EQ(entries(), 1u);
  driver->SetSettingValue(L"DebugLogEnabled", TVariant::FromBool(false));
  EXPECT_EQ(driver->Enable(), 0);
  driver->Release();
}

TEST_F(DriverFixture, SwitchingTheLogsOffMakesNoFolderAndStopsTheExchangeLogInItsFile) {
  // A host with no device folder: both logs write into the default folder, under a fresh
  // application-data folder here (the exchange log's own default under it too). The exchange
  // log has lines from a bank call; switching off closes them in that file and makes nothing.
  TScratchFolder appData;
  TScopedHook folders(SetDebugLogSpecialFolders, [&](int) { return appData.Path(); });
  const std::string appDataU8 = Utf16ToUtf8(appData.Path());
  TScopedHook exchangeAppData(bank::ExchangeLog::SetCommonAppDataLookup, [appDataU8] { return appDataU8; });
  TDriver* driver = static_cast<TDriver*>(CreateComObject<TDriver>());
  struct TRelease {
    TDriver* Object;
    ~TRelease() { Object->Release(); }
  } release{driver};
  TVariant manager = Manager->AsVariant(), description, id = TVariant::FromString(L"NoFolderOfItsOwn");
  ASSERT_EQ(InvokeByName(driver, L"Init", {ByVal(manager), VariantRefTo(description)}).Result.Get().boolVal,
            VARIANT_TRUE);
  ASSERT_EQ(InvokeByName(driver, L"Open", {ByVal(id), VariantRefTo(description)}).Result.Get().boolVal, VARIANT_TRUE);
  Key = tolvaro::test::TSandbox::UniqueKey("drv");
  Sandbox.AddTerminal(Key, "пароль");
  driver->SetSettingValue(L"Host", TVariant::FromString(W(Sandbox.HttpBase() + "/v2")));
  driver->SetSettingValue(L"TerminalKey", TVariant::FromString(W(Key)));
  driver->SetSettingValue(L"Password", TVariant::FromString(L"пароль"));
  const std::wstring defaultDir = appData.Path() + ExtractFileBaseName(ThisModuleFileName()) + L"\\";
  const auto logOnWithABankCall = [&] {
    driver->SetSettingValue(L"DebugLogEnabled", TVariant::FromBool(true));
    std::wstring text, qr, data, url, order;
    ASSERT_EQ(driver->Enable(text), 0) << Utf16ToUtf8(text);
    ASSERT_EQ(driver->RegisterQrCode(10000, L"", qr, data, url, order, text), 0) << Utf16ToUtf8(text);
  };
  const auto logOff = [&] {
    driver->SetSettingValue(L"DebugLogEnabled", TVariant::FromBool(false));
    EXPECT_EQ(driver->Enable(), 0);
  };

  logOnWithABankCall();
  const std::vector<std::wstring> files = FilesIn(defaultDir, L"Debug_*.log");
  ASSERT_EQ(files.size(), 1u);
  logOff();
  const std::vector<std::wstring> lines = DebugLogLines(defaultDir);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], L"============Stop log===============");
  EXPECT_EQ(lines.back(), L"");
  EXPECT_EQ(FilesIn(defaultDir, L"*"), files);
  EXPECT_FALSE(PathExists(appData.Path() + L"Quorvel")) << "the exchange log's own default folder";

  // The folder cleared away while the log was on: switching off does not bring it back.
  logOnWithABankCall();
  TScratchFolder::RemoveTree(defaultDir);
  logOff();
  EXPECT_FALSE(PathExists(defaultDir));
  EXPECT_FALSE(PathExists(appData.Path() + L"Quorvel"));
}

TEST_F(DriverFixture, EveryBankOperationNeedsTheEnabledDevice) {
  try {
    Driver->GetApi();
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), L"Устройство не включено");
  }
  // Called directly, as the self-test does, not through the host methods that answer 70.
  const std::wstring notEnabled = L"Устройство не включено";
  std::wstring a = L"x", b = L"x", c = L"x", d = L"x", description;
  int64_t amount = 0;
  double date = 0;
  int32_t status = 0;
  EXPECT_EQ(Driver->RegisterQrCode(10000, L"", a, b, c, d, description), 1001);
  EXPECT_EQ(description, notEnabled);
  EXPECT_TRUE(a.empty() && b.empty() && c.empty() && d.empty());
  EXPECT_EQ(Driver->UnregisterQrCode(L"1", description), 1001);
  EXPECT_EQ(description, notEnabled);
  EXPECT_EQ(Driver->Pay(L"", L"1", amount, a, date, b, description), 1001);
  EXPECT_EQ(description, notEnabled);
  EXPECT_EQ(Driver->Refund(10000, L"", L"1", L"", a, b, description), 1001);
  EXPECT_EQ(description, notEnabled);
  EXPECT_EQ(Driver->GetQrCodeStatus(L"", L"1", amount, a, date, b, status, description), 1001);
  EXPECT_EQ(description, notEnabled);

  // Disabled after an enable: the interface (and its bank session) goes, the operations
  // still refuse.
  EnableAtSandbox();
  ASSERT_EQ(Driver->Disable(), 0);
  EXPECT_THROW(Driver->GetApi(), Exception);
  EXPECT_EQ(Driver->RegisterQrCode(10000, L"", a, b, c, d, description), 1001);
  EXPECT_EQ(description, notEnabled);
}

TEST_F(DriverFixture, DeviceTestRegistersAThousandWithdrawsItAndSaysSoOrReturnsTheBanksText) {
  std::vector<std::pair<std::wstring, std::wstring>> shown;
  TScopedHook notifier(SetDeviceTestNotifier, [&shown](const std::wstring& text, const std::wstring& caption) {
    shown.emplace_back(text, caption);
  });
  EnableAtSandbox();
  std::wstring description = L"stale";
  EXPECT_TRUE(Driver->DeviceTest(description));
  EXPECT_EQ(description, L"");
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].first, L"Успешно!");
  EXPECT_EQ(shown[0].second, L"Информация");
  const auto ledger = Sandbox.Payments(Key);
  ASSERT_EQ(ledger.size(), 1u);
  EXPECT_EQ(ledger[0].Amount, 100000);
  EXPECT_EQ(ledger[0].Status, "CANCELED");  // withdrawn: nothing is left open at the bank

  // The withdrawal refused: the test still passed, and the message says what failed.
  shown.clear();
  Sandbox.Script(Key, "Cancel", R"({"Kind":"error","ErrorCode":"9","Message":"Сбой","Details":"отмены"})");
  EXPECT_TRUE(Driver->DeviceTest(description));
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].first, L"Успешно!\r\nСбой отмены");
  EXPECT_EQ(Sandbox.Payments(Key).back().Status, "FORM_SHOWED");

  // A wrong password: the bank refuses GetQr; no message, the bank's text.
  shown.clear();
  EnableAtSandbox("не тот");
  EXPECT_FALSE(Driver->DeviceTest(description));
  EXPECT_TRUE(description.starts_with(L"Неверный токен")) << Utf16ToUtf8(description);
  EXPECT_TRUE(shown.empty());
}

TEST_F(DriverFixture, ShowSettingsDlgOpensTheDialogWithTheDeviceTestOffered) {
  bool offeredTest = false;
  bool answer = true;
  TScopedHook dialog(RegisterSettingsDialog, [&](TBaseDevice& device, const std::vector<TSettingsPageClass>&, bool noDeviceTest) {
    EXPECT_EQ(&device, Driver);
    offeredTest = !noDeviceTest;
    return answer;
  });
  TVariant out, timeOut = TVariant::FromInt(0);
  TVariant in;
  TInvokeResult ok = InvokeByName(Driver, L"ShowSettingsDlg", {ByVal(in), VariantRefTo(out), ByVal(timeOut)});
  EXPECT_EQ(ok.Result.Get().boolVal, VARIANT_TRUE);
  EXPECT_TRUE(offeredTest);
  answer = false;
  TInvokeResult cancelled = InvokeByName(Driver, L"ShowSettingsDlg", {ByVal(in), VariantRefTo(out), ByVal(timeOut)});
  EXPECT_EQ(cancelled.Result.Get().boolVal, VARIANT_FALSE);
  EXPECT_EQ(ItemOf(out, 0).Get().lVal, 201);
}

TEST_F(DriverFixture, AnAnswerThatCameInTimeDecidesThePayEvenWhenTheDeadlineFallsInThePauseAfterIt) {
  // The pause after each poll (normally 500 ms) outlasts the whole wait here, so the deadline
  // always falls inside it: the bank's answer to the first poll came long before.
  Driver->SetSettingValue(L"WaitTimeout", TVariant::FromInt(5));
  EnableAtSandbox();
  Driver->SetPollPause(60000);
  Sandbox.SetBehaviour(Key, "CONFIRMED", 0);
  std::wstring qr, data, url, order, description;
  ASSERT_EQ(Driver->RegisterQrCode(123400, L"", qr, data, url, order, description), 0) << Utf16ToUtf8(description);
  int64_t amount = 0;
  double date = 0;
  std::wstring paymentID, receipt;
  EXPECT_EQ(Driver->Pay(L"", qr, amount, paymentID, date, receipt, description), 0) << Utf16ToUtf8(description);
  EXPECT_EQ(amount, 123400);
  EXPECT_EQ(paymentID, qr);
  EXPECT_FALSE(receipt.empty());

  // Rejected in time: the rejection, not a time-out.
  Sandbox.SetBehaviour(Key, "REJECTED", 0);
  ASSERT_EQ(Driver->RegisterQrCode(10000, L"", qr, data, url, order, description), 0) << Utf16ToUtf8(description);
  EXPECT_EQ(Driver->Pay(L"", qr, amount, paymentID, date, receipt, description), 1001);
  EXPECT_EQ(description, L"Операция отклонена");
  EXPECT_TRUE(paymentID.empty() && receipt.empty());
}

// The bank client of an Enable (one HTTP session, whose connections its requests share) lives
// from the first bank call to Disable, Close or the object's end, and a running payment wait
// keeps its own until it finishes. The fake transport counts the clients alive.
class DriverSessionFixture : public DriverFixture {
protected:
  void SetUp() override {
    bank::SetDefaultHTTPClientFactory(Transport);
    DriverFixture::SetUp();
    Driver->SetSettingValue(L"Host", TVariant::FromString(L"https://bank.example/v2"));
    Driver->SetSettingValue(L"TerminalKey", TVariant::FromString(L"T1"));
    Driver->SetSettingValue(L"Password", TVariant::FromString(L"p"));
  }
  void TearDown() override {
    DriverFixture::TearDown();
    bank::SetDefaultHTTPClientFactory(nullptr);
  }
  void Enable() {
    std::wstring description;
    ASSERT_EQ(Driver->Enable(description), 0) << Utf16ToUtf8(description);
  }
  // Two bank requests of one host call (the fake's empty answers fail it after the first).
  void Register() {
    Transport->Push({200, "OK", R"({"Success":true,"ErrorCode":"0","PaymentId":"7","Status":"NEW"})"});
    std::wstring qr, data, url, order, description;
    Driver->RegisterQrCode(100, L"", qr, data, url, order, description);
  }
  std::shared_ptr<bank::TFakeHTTPClientFactory> Transport = std::make_shared<bank::TFakeHTTPClientFactory>();
};

TEST_F(DriverSessionFixture, OneClientPerEnableEndedByDisableCloseAndRelease) {
  Enable();
  EXPECT_EQ(Transport->ClientsAlive(), 0);  // made by the first request, not by Enable
  Register();
  Register();
  ASSERT_GE(Transport->Requests().size(), 3u);
  EXPECT_EQ(Transport->ClientsCreated(), 1);  // every request of the Enable on one session
  EXPECT_EQ(Transport->ClientsAlive(), 1);

  ASSERT_EQ(Driver->Disable(), 0);
  EXPECT_EQ(Transport->ClientsAlive(), 0);

  Enable();
  Register();
  EXPECT_EQ(Transport->ClientsCreated(), 2);
  EXPECT_EQ(InvokeByName(Driver, L"Close", {}).Result.Get().boolVal, VARIANT_TRUE);
  EXPECT_EQ(Transport->ClientsAlive(), 0);
  // Still enabled after Close: a bank call opens a session again.
  Register();
  EXPECT_EQ(Transport->ClientsCreated(), 3);
  EXPECT_EQ(Transport->ClientsAlive(), 1);

  Driver->Release();
  Driver = nullptr;
  EXPECT_EQ(Transport->ClientsAlive(), 0);
}

TEST(DriverStatus, HostStatusCodes) {
  EXPECT_EQ(HostStatusCode(bank::FORM_SHOWED), 1);
  EXPECT_EQ(HostStatusCode(bank::REJECTED), 3);
  EXPECT_EQ(HostStatusCode(bank::CANCELED), 3);
  for (bank::TStatus s : {bank::REVERSED, bank::PARTIAL_REFUNDED, bank::REFUNDED, bank::CONFIRMED})
    EXPECT_EQ(HostStatusCode(s), 2) << s;
  EXPECT_EQ(HostStatusCode(bank::UNKNOWN), 0);
  EXPECT_EQ(HostStatusCode(-1), 0);
}

}  // namespace
