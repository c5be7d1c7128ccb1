// The settings dialog on a driver object, opened through ShowSettingsDlg and driven like a
// user: pages and information, OK and Cancel, the device test, the settings list, the menu.
#include <gtest/gtest.h>

#include <windows.h>
#include <commdlg.h>

#include <fstream>
#include <functional>
#include <map>
#include <set>

#include "kit/TestEquipmentManager.h"
#include "kit/DispatchTestKit.h"
#include "kit/LogTestKit.h"
#include "kit/UiTestKit.h"
#include "bank/uExchangeLog.h"
#include "fps/uDriver.h"
#include "host/uComServer.h"
#include "host/uEquipment.h"
#include "platform/uFiles.h"
#include "res/version.h"
#include "ui/uUiResources.h"
#include "ui/ufmCommonSettings.h"
#include "ui/ufmMainSettings.h"
#include "ui/ufmSettingsList.h"
#include "kit/uSandbox.h"
#include "kit/ScopedHook.h"

using namespace uitest;

namespace {

std::wstring W(const std::string& s) { return Utf8ToUtf16(s); }

class SettingsDialogFixture : public ::testing::Test {
protected:
  void SetUp() override {
    RegisterSettingsDialogs();
    RegisterDriverSettingsPages({TfrmMainSettings::PageClass()});
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
    RegisterSettingsDialog(nullptr);
    RegisterDriverSettingsPages({});
    SetHtmlHelpCall(nullptr);
  }

  // ShowSettingsDlg through Invoke while Script drives the dialog; the host's answer.
  struct TShown {
    bool Ok = false;
    int32_t Code = -1;
  };
  TShown ShowSettingsDlg(const std::function<void(HWND Dialog)>& Script) {
    TShown shown;
    RunWhileModal(
        [&] {
          TVariant in, out, timeOut = TVariant::FromInt(0);
          TInvokeResult result =
              InvokeByName(Driver, L"ShowSettingsDlg", {ByVal(in), VariantRefTo(out), ByVal(timeOut)});
          shown.Ok = result.Result.Get().boolVal == VARIANT_TRUE;
          shown.Code = shown.Ok ? 0 : ItemOf(out, 0).Get().lVal;
        },
        [&] {
          HWND dialog = WaitDialog(L"Настройки");
          ASSERT_NE(dialog, nullptr) << "the dialog did not come up";
          Script(dialog);
        });
    return shown;
  }

  // A terminal of this test's own at the sandbox, written into the settings.
  void PointAtSandbox(const std::string& password = "пароль") {
    Terminal = tolvaro::test::TSandbox::UniqueKey("ui");
    Sandbox.AddTerminal(Terminal, "пароль");
    Driver->SetSettingValue(L"Host", TVariant::FromString(W(Sandbox.HttpBase() + "/v2")));
    Driver->SetSettingValue(L"TerminalKey", TVariant::FromString(W(Terminal)));
    Driver->SetSettingValue(L"Password", TVariant::FromString(W(password)));
  }

  std::vector<std::wstring> Values() const {
    std::vector<std::wstring> values;
    for (const TSettingStruct& s : Driver->Settings()) values.push_back(SettingValueText(s.Value));
    return values;
  }

  TScratchFolder Dir;
  TDriver* Driver = nullptr;
  TTestEquipmentManager* Manager = nullptr;
  tolvaro::test::TSandbox Sandbox;
  std::string Terminal;
};

std::vector<std::wstring> TabCaptions(HWND Dialog) {
  HWND tabs = Item(Dialog, IDC_PAGES);
  std::vector<std::wstring> captions;
  const int count = static_cast<int>(SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    wchar_t text[128] = L"";
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = 128;
    SendMessageW(tabs, TCM_GETITEMW, i, reinterpret_cast<LPARAM>(&item));
    captions.push_back(text);
  }
  return captions;
}

// The captions of a menu as it is shown, submenus by their own captions.
std::vector<std::wstring> MenuCaptions(HMENU Menu) {
  std::vector<std::wstring> captions;
  for (int i = 0; i < GetMenuItemCount(Menu); ++i) {
    wchar_t text[256] = L"";
    GetMenuStringW(Menu, i, text, 256, MF_BYPOSITION);
    captions.push_back(text[0] ? text : L"-");
  }
  return captions;
}

// Paths compare without regard to case, as the file system does.
std::wstring CharLowerText(std::wstring Text) {
  if (!Text.empty()) CharLowerBuffW(Text.data(), static_cast<DWORD>(Text.size()));
  return Text;
}

// Whether "Справка" had a picture, the last time a menu was read.
bool helpImage = false;

// Opens "Дополнительно" as a click does and reads the menu that comes up, then closes it.
std::vector<std::wstring> OpenAdditionalMenu(HWND Dialog) {
  Click(Dialog, IDC_MORE);
  HWND menuWindow = WaitWindow(L"#32768", L"");
  if (!menuWindow) return {L"no menu came up"};
  HMENU menu = reinterpret_cast<HMENU>(SendMessageW(menuWindow, MN_GETHMENU, 0, 0));
  std::vector<std::wstring> captions = MenuCaptions(menu);
  MENUITEMINFOW item{};
  item.cbSize = sizeof(item);
  item.fMask = MIIM_BITMAP;
  helpImage = GetMenuItemInfoW(menu, IDM_HELP, FALSE, &item) && item.hbmpItem;
  PostMessageW(menuWindow, WM_KEYDOWN, VK_ESCAPE, 0);
  WaitGone(menuWindow);
  return captions;
}

// The Number settings as the host reads them from GetSettings through Invoke: each one's value
// and default (rows 1 and 3), by ID.
struct TNumberCell {
  VARTYPE ValueType, DefaultType;
  int32_t Value;
};
std::map<std::wstring, TNumberCell> NumberSettings(IDispatch* Driver) {
  TVariant in, out, timeOut = TVariant::FromInt(0);
  const TInvokeResult result = InvokeByName(Driver, L"GetSettings", {ByVal(in), VariantRefTo(out), ByVal(timeOut)});
  EXPECT_EQ(result.Result.Get().boolVal, VARIANT_TRUE);
  std::map<std::wstring, TNumberCell> numbers;
  if (result.Result.Get().boolVal != VARIANT_TRUE) return numbers;
  const TVariant table = ItemOf(out, 0);
  SAFEARRAY* cells = VariantSafeArray(table.Get());
  LONG low = 0, high = -1;
  SafeArrayGetLBound(cells, 2, &low);
  SafeArrayGetUBound(cells, 2, &high);
  auto cell = [&](LONG row, LONG column) {
    LONG at[2] = {row, column};
    return SafeArrayItem(cells, at);
  };
  for (LONG column = low; column <= high; ++column) {
    if (VariantToString(cell(2, column).Get()) != L"Number") continue;
    const TVariant value = cell(1, column);
    numbers[VariantToString(cell(0, column).Get())] = {value.Type(), cell(3, column).Type(),
                                                       value.Type() == VT_I4 ? value.Get().lVal : -1};
  }
  return numbers;
}

// Opens the settings list from the page, types Value into its first row (DefaultTimeOut) and
// confirms the list with OK.
void SetFirstListedSettingTo(HWND dialog, const wchar_t* value) {
  Click(dialog, IDM_SETTINGSLIST);
  HWND list = WaitDialog(L"Список настроек");
  ASSERT_NE(list, nullptr);
  HWND view = Item(list, IDC_SETTINGS);
  ListView_SetItemState(view, 0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  Key(view, VK_RETURN);
  SetItemText(view, IDC_EDEDIT, value);
  Key(Item(view, IDC_EDEDIT), VK_RETURN);
  Click(list, IDOK);
  ASSERT_TRUE(WaitGone(list));
}

}  // namespace

TEST_F(SettingsDialogFixture, ShowsThePageThenInformationAndOkStoresThePageValues) {
  PointAtSandbox();
  // What the information tab must say, written out here rather than asked of the driver; the
  // version is the one the build gives the module (major.minor.build).
  const std::wstring model = L"Quorvel: Система быстрых платежей Tolvaro";
  const std::wstring version = std::to_wstring(TOLVARO_VERSION_MAJOR) + L"." + std::to_wstring(TOLVARO_VERSION_MINOR) +
                               L"." + std::to_wstring(TOLVARO_VERSION_BUILD);
  const TShown shown = ShowSettingsDlg([&](HWND dialog) {
    EXPECT_EQ(TabCaptions(dialog), (std::vector<std::wstring>{L"Настройки", L"Информация"}));
    EXPECT_EQ(SendMessageW(Item(dialog, IDC_PAGES), TCM_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(ItemText(dialog, IDC_MODELNAME), model);
    EXPECT_EQ(ItemText(dialog, IDC_TYPEINFO), L"Cистема быстрых платежей");  // the Latin C, as hosts show it
    EXPECT_EQ(ItemText(dialog, IDC_MODELINFO), model);
    EXPECT_EQ(ItemText(dialog, IDC_VERINFO), version);
    EXPECT_EQ(ItemText(dialog, IDC_DEVELOPERINFO), L"ООО \"Quorvel\"");
    EXPECT_EQ(ItemText(dialog, IDC_DESCRIPTIONINFO), L"Драйвер системы быстрых платежей Tolvaro");
    EXPECT_EQ(ItemText(dialog, IDC_CONTACTINFO), L"E-mail:\tsupport@quorvel.example\r\nWeb:\thttps://www.quorvel.example\r\n"
                                                 L"Тел:\t+7 (000) 000-00-00\r\n"
                                                 L"Адрес:\t000000, Россия, г. Пример, ул. Примерная, д. 1\r\n");
    // The page shows the settings; the password in plain text.
    EXPECT_EQ(ItemText(dialog, IDC_PASSWORD), L"пароль");
    EXPECT_EQ(ItemText(dialog, IDC_LINELENGTH), L"48");
    EXPECT_EQ(ItemText(dialog, IDC_TIMEOUT), L"30");
    EXPECT_EQ(GetWindowLongW(Item(dialog, IDC_PASSWORD), GWL_STYLE) & ES_PASSWORD, 0);
    EXPECT_NE(GetWindowLongW(Item(dialog, IDC_TIMEOUT), GWL_STYLE) & ES_NUMBER, 0);
    SetItemText(dialog, IDC_TIMEOUT, L"45");
    Click(dialog, IDOK);
    EXPECT_TRUE(WaitGone(dialog));
  });
  EXPECT_TRUE(shown.Ok);
  EXPECT_EQ(shown.Code, 0);
  EXPECT_EQ(Driver->GetSettingValue(L"WaitTimeout", false).Type(), VT_I4);
  EXPECT_EQ(Driver->GetSettingValueInt(L"WaitTimeout"), 45);
  std::wstring description;
  ASSERT_EQ(Driver->Enable(description), 0) << Utf16ToUtf8(description);
  EXPECT_EQ(Driver->WaitTimeout(), 45);
}

TEST_F(SettingsDialogFixture, EveryNumberSettingComesBackFromGetSettingsAsAnIntegerWhoeverWroteIt) {
  // The declared defaults; then the driver's page (the two boxes) and the settings list (the
  // common timeout), confirmed by OK: the host reads VT_I4 every time, as the help says Number.
  const std::map<std::wstring, int32_t> defaults{{L"DefaultTimeOut", 120}, {L"WaitTimeout", 30}, {L"LineLength", 48}};
  const std::map<std::wstring, int32_t> edited{{L"DefaultTimeOut", 99}, {L"WaitTimeout", 45}, {L"LineLength", 40}};
  auto expectIntegers = [&](const std::map<std::wstring, int32_t>& expected) {
    const std::map<std::wstring, TNumberCell> numbers = NumberSettings(Driver);
    ASSERT_EQ(numbers.size(), expected.size());
    for (const auto& [id, value] : expected) {
      SCOPED_TRACE(Utf16ToUtf8(id));
      ASSERT_EQ(numbers.count(id), 1u);
      EXPECT_EQ(numbers.at(id).ValueType, VT_I4);
      EXPECT_EQ(numbers.at(id).DefaultType, VT_I4);
      EXPECT_EQ(numbers.at(id).Value, value);
    }
  };
  expectIntegers(defaults);
  const TShown shown = ShowSettingsDlg([&](HWND dialog) {
    ASSERT_NO_FATAL_FAILURE(SetFirstListedSettingTo(dialog, L"99"));
    SetItemText(dialog, IDC_LINELENGTH, L"40");
    SetItemText(dialog, IDC_TIMEOUT, L"45");
    Click(dialog, IDOK);
    EXPECT_TRUE(WaitGone(dialog));
  });
  ASSERT_TRUE(shown.Ok);
  expectIntegers(edited);
}

TEST_F(SettingsDialogFixture, CancelLeavesEverySettingAsBeforeTheDialog) {
  const std::vector<std::wstring> before = Values();
  const TShown shown = ShowSettingsDlg([&](HWND dialog) {
    // An edit on the page, a confirmed settings list, then the defaults: all undone by Cancel.
    SetItemText(dialog, IDC_TIMEOUT, L"77");
    ASSERT_NO_FATAL_FAILURE(SetFirstListedSettingTo(dialog, L"99"));
    EXPECT_EQ(Driver->GetSettingValueInt(L"DefaultTimeOut"), 99);
    Driver->SetSettingValue(L"LineLength", TVariant::FromString(L"64"));
    Click(dialog, IDM_RESET);
    Click(dialog, IDCANCEL);
    EXPECT_TRUE(WaitGone(dialog));
  });
  EXPECT_FALSE(shown.Ok);
  EXPECT_EQ(shown.Code, 201);
  EXPECT_EQ(Values(), before);
}

TEST_F(SettingsDialogFixture, DeviceTestSaysSuccessOrShowsTheBanksTextAndLeavesTheDeviceAsItWas) {
  const struct {
    const char* Password;
    const wchar_t* Caption;
    const wchar_t* TextStart;
    bool Success;
  } cases[] = {{"пароль", L"Информация", L"Успешно!", true}, {"не тот", L"Ошибка", L"Неверный токен", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Password);
    PointAtSandbox(c.Password);
    const std::vector<std::wstring> before = Values();
    std::wstring boxText;
    const TShown shown = ShowSettingsDlg([&](HWND dialog) {
      SetItemText(dialog, IDC_LINELENGTH, L"40");
      Click(dialog, IDM_DEVICETEST);
      HWND box = WaitDialog(c.Caption);
      ASSERT_NE(box, nullptr);
      boxText = MessageBoxText(box);
      // Success is told by the device while it is on; a failure after it is off again.
      EXPECT_EQ(Driver->GetEnabled(), c.Success);
      PostMessageW(box, WM_COMMAND, IDOK, 0);
      ASSERT_TRUE(WaitGone(box));
      // The typed value stays in the page; the device is off with the old settings.
      Sleep(200);
      EXPECT_EQ(ItemText(dialog, IDC_LINELENGTH), L"40");
      Click(dialog, IDCANCEL);
      EXPECT_TRUE(WaitGone(dialog));
    });
    EXPECT_TRUE(boxText.starts_with(c.TextStart)) << Utf16ToUtf8(boxText);
    EXPECT_FALSE(Driver->GetEnabled());
    EXPECT_EQ(Values(), before);
    EXPECT_FALSE(shown.Ok);
  }
}

TEST_F(SettingsDialogFixture, WhileTheDeviceTestsBoxIsUpTheDialogTakesNoCommandAndOkAfterItKeepsWhatWasTyped) {
  // The host's settings point at the sandbox with a terminal it does not know; the user types
  // the right terminal and password, tests them, and confirms.
  PointAtSandbox();
  const std::wstring rightKey = Driver->GetSettingValueStr(L"TerminalKey");
  Driver->SetSettingValue(L"TerminalKey", TVariant::FromString(L"old-terminal"));
  Driver->SetSettingValue(L"Password", TVariant::FromString(L"old-password"));
  const TShown shown = ShowSettingsDlg([&](HWND dialog) {
    SetItemText(dialog, IDC_TERMINALKEY, rightKey);
    SetItemText(dialog, IDC_PASSWORD, L"пароль");
    Click(dialog, IDM_DEVICETEST);
    HWND box = WaitDialog(L"Информация");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), L"Успешно!");
    // The box has no owner, yet the dialog under it takes no input ...
    EXPECT_FALSE(IsWindowEnabled(dialog));
    // ... and no command: OK, the list or a second test, as a still-live menu would send them.
    Click(dialog, IDOK);
    Click(dialog, IDM_SETTINGSLIST);
    Click(dialog, IDM_DEVICETEST);
    Sleep(500);
    EXPECT_TRUE(IsWindowVisible(dialog)) << "OK closed the dialog under the device test's box";
    EXPECT_TRUE(TopWindows(L"#32770", L"Список настроек").empty());
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(WaitGone(box));
    const auto until = std::chrono::steady_clock::now() + kBound;
    while (!IsWindowEnabled(dialog) && std::chrono::steady_clock::now() < until) Sleep(50);
    EXPECT_TRUE(IsWindowEnabled(dialog));
    EXPECT_TRUE(TopWindows(L"#32770", L"Информация").empty()) << "a second test ran";
    Click(dialog, IDOK);
    EXPECT_TRUE(WaitGone(dialog));
  });
  EXPECT_TRUE(shown.Ok);
  EXPECT_EQ(Driver->GetSettingValueStr(L"TerminalKey"), rightKey);
  EXPECT_EQ(Driver->GetSettingValueStr(L"Password"), L"пароль");
  EXPECT_FALSE(Driver->GetEnabled());
}

TEST_F(SettingsDialogFixture, ASetUpFailureReachesTheHostAs1001WithItsText) {
  // A page that cannot read its settings: the dialog cannot open, and says why.
  struct TBrokenPage : TfrmMainSettings {
    using TfrmMainSettings::TfrmMainSettings;
    void OnReadSettings() override { throw Exception(L"Страница не читается"); }
  };
  TScopedHook pages(RegisterDriverSettingsPages, {[](TBaseDevice& device) -> std::unique_ptr<TfrmBaseSettings> {
    return std::make_unique<TBrokenPage>(device);
  }});
  TVariant in, out, timeOut = TVariant::FromInt(0);
  TInvokeResult result = InvokeByName(Driver, L"ShowSettingsDlg", {ByVal(in), VariantRefTo(out), ByVal(timeOut)});
  EXPECT_EQ(result.Hr, S_OK);
  EXPECT_EQ(result.Result.Get().boolVal, VARIANT_FALSE);
  EXPECT_EQ(ItemOf(out, 0).Get().lVal, 1001);
  EXPECT_EQ(VariantToString(ItemOf(out, 1).Get()), L"Страница не читается");
  EXPECT_TRUE(TopWindows(L"#32770", L"Настройки").empty());
}

TEST_F(SettingsDialogFixture, NullSettingsFromTheHostStillOpenTheDialogToBePutRight) {
  // What a host may store through SetSettings: the page shows an empty box for Host, the menu
  // still opens (without the log entries), and OK writes the typed address.
  PointAtSandbox();
  Driver->SetSettingValue(L"Host", TVariant::Null());
  Driver->SetSettingValue(L"DebugLogEnabled", TVariant::Null());
  std::vector<std::wstring> menu;
  std::wstring host;
  const TShown shown = ShowSettingsDlg([&](HWND dialog) {
    host = ItemText(dialog, IDC_HOST);
    menu = OpenAdditionalMenu(dialog);
    SetItemText(dialog, IDC_HOST, W(Sandbox.HttpBase() + "/v2"));
    Click(dialog, IDOK);
    EXPECT_TRUE(WaitGone(dialog));
  });
  EXPECT_EQ(host, L"");
  EXPECT_EQ(menu, (std::vector<std::wstring>{L"Установить значения по-умолчанию", L"Выполнить тест устройства",
                                             L"Показать полный список настроек"}));
  EXPECT_TRUE(shown.Ok);
  EXPECT_EQ(Driver->GetSettingValueStr(L"Host"), W(Sandbox.HttpBase() + "/v2"));
}

TEST_F(SettingsDialogFixture, AFailingCommandShowsItsTextInTheErrorBox) {
  // The page reads once when the dialog opens; the reset reads again, and that read fails.
  struct TFailsOnSecondRead : TfrmMainSettings {
    using TfrmMainSettings::TfrmMainSettings;
    void OnReadSettings() override {
      if (++Reads > 1) throw Exception(L"Второе чтение не удалось");
      TfrmMainSettings::OnReadSettings();
    }
    int Reads = 0;
  };
  TScopedHook pages(RegisterDriverSettingsPages, {[](TBaseDevice& device) -> std::unique_ptr<TfrmBaseSettings> {
    return std::make_unique<TFailsOnSecondRead>(device);
  }});
  std::wstring boxText;
  ShowSettingsDlg([&](HWND dialog) {
    Click(dialog, IDM_RESET);
    HWND box = WaitDialog(L"Ошибка");
    ASSERT_NE(box, nullptr) << "the failure was swallowed";
    boxText = MessageBoxText(box);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    WaitGone(box);
    EXPECT_TRUE(IsWindowVisible(dialog));
    Click(dialog, IDCANCEL);
    WaitGone(dialog);
  });
  EXPECT_EQ(boxText, L"Второе чтение не удалось");
}

TEST_F(SettingsDialogFixture, ANumberBoxThatHoldsNoWholeNumberKeepsTheDialogOpenAndNamesTheField) {
  const struct {
    int Box;
    const wchar_t* Text;
    const wchar_t* Field;
  } cases[] = {{IDC_TIMEOUT, L"45 сек", L"Таймаут ожидания, секунд"},
               {IDC_TIMEOUT, L"", L"Таймаут ожидания, секунд"},
               {IDC_LINELENGTH, L"-1", L"Длина строки квитанции"},
               {IDC_LINELENGTH, L"99999999999", L"Длина строки квитанции"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.Text));
    const std::vector<std::wstring> before = Values();
    std::wstring boxText;
    bool stayed = false, focused = false;
    const TShown shown = ShowSettingsDlg([&](HWND dialog) {
      SetItemText(dialog, c.Box, c.Text);  // as a paste puts it, past the digits-only filter
      Click(dialog, IDOK);
      HWND box = WaitDialog(L"Ошибка");
      ASSERT_NE(box, nullptr);
      boxText = MessageBoxText(box);
      PostMessageW(box, WM_COMMAND, IDOK, 0);
      WaitGone(box);
      stayed = IsWindowVisible(dialog);
      focused = WaitFocus(dialog, Item(dialog, c.Box));
      Click(dialog, IDCANCEL);
      WaitGone(dialog);
    });
    EXPECT_EQ(boxText, std::wstring(L"Поле \"") + c.Field + L"\" должно содержать целое число от 0 до 2147483647");
    EXPECT_TRUE(stayed);
    EXPECT_TRUE(focused) << "the box in question takes the focus";
    EXPECT_FALSE(shown.Ok);
    EXPECT_EQ(Values(), before);
  }
}

TEST_F(SettingsDialogFixture, TheDebugLogMenuFollowsTheSettingAsTheMenuOpens) {
  ShowSettingsDlg([&](HWND dialog) {
    Driver->SetSettingValue(L"DebugLogEnabled", TVariant::FromBool(false));
    const std::vector<std::wstring> off = OpenAdditionalMenu(dialog);
    EXPECT_EQ(off, (std::vector<std::wstring>{L"Установить значения по-умолчанию", L"Выполнить тест устройства",
                                              L"Показать полный список настроек"}))
        << "no help file here, so no \"Справка\" and no separator before it";
    Driver->SetSettingValue(L"DebugLogEnabled", TVariant::FromBool(true));
    const std::vector<std::wstring> on = OpenAdditionalMenu(dialog);
    EXPECT_EQ(on, (std::vector<std::wstring>{L"Установить значения по-умолчанию", L"Выполнить тест устройства",
                                             L"Показать полный список настроек", L"Просмотр отладочных логов"}));
    // Today's file does not exist in this device's folder.
    Driver->SetSettingValue(L"DebugLogEnabled", TVariant::FromBool(false));
    Click(dialog, IDM_OPENCURRENTLOG);
    HWND box = WaitDialog(L"Ошибка");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), L"Отладочный лог не найден!");
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    WaitGone(box);
    Click(dialog, IDCANCEL);
    WaitGone(dialog);
  });
}

TEST_F(SettingsDialogFixture, OpenCurrentLogFindsTodaysFileWhereTheLogIsWrittenDefaultFolderIncluded) {
  // Application data and the day are the test's own, so the default folder is a fresh one.
  TScratchFolder appData;
  TLogSeams seams;
  seams.Clock({Moment(2033, 1, 2, 10, 0, 0, 0)});
  seams.SpecialFolders(appData.Path(), L"");
  const std::wstring defaultDir = appData.Path() + ExtractFileBaseName(ThisModuleFileName()) + L"\\";
  const struct {
    const wchar_t* DeviceID;  // D1 has its folder, D2 none
    bool Enabled;             // the log has written today's file
    std::wstring Opened;      // "" : not found
  } cases[] = {
      {L"D1", true, Dir.Path() + L"D1\\Debug_2033.01.02.log"},
      {L"D2", true, defaultDir + L"Debug_2033.01.02.log"},
      {L"D2", false, L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.DeviceID) + (c.Enabled ? " enabled" : " never enabled"));
    Driver->SetDebugLogEnabled(false);  // the calls below write no trace of their own
    TScratchFolder::RemoveTree(defaultDir);
    TVariant description, id = TVariant::FromString(c.DeviceID);
    ASSERT_EQ(InvokeByName(Driver, L"Open", {ByVal(id), VariantRefTo(description)}).Result.Get().boolVal,
              VARIANT_TRUE);
    Driver->SetSettingValue(L"DebugLogEnabled", TVariant::FromBool(true));
    if (c.Enabled) {
      ASSERT_EQ(Driver->Enable(), 0);
      ASSERT_EQ(Driver->Disable(), 0);
    }
    std::vector<std::wstring> opened;  // on the dialog's thread, read after it closed
    TScopedHook shell(SetShellOpenCall, [&](HWND, const std::wstring& file) { opened.push_back(file); });
    std::wstring boxText, startedIn;
    wchar_t current[MAX_PATH] = L"";
    GetCurrentDirectoryW(MAX_PATH, current);
    ShowSettingsDlg([&](HWND dialog) {
      Click(dialog, IDM_OPENCURRENTLOG);
      if (c.Opened.empty()) {
        HWND box = WaitDialog(L"Ошибка");
        ASSERT_NE(box, nullptr);
        boxText = MessageBoxText(box);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        WaitGone(box);
      }
      // The folder command's file dialog starts in the same folder.
      Click(dialog, IDM_OPENLOGFOLDER);
      HWND files = nullptr;
      const auto until = std::chrono::steady_clock::now() + kBound;
      while (!files && std::chrono::steady_clock::now() < until) {
        for (HWND w : TopWindows(L"#32770"))
          if (w != dialog) files = w;
        Sleep(50);
      }
      ASSERT_NE(files, nullptr) << "no file dialog came up";
      Sleep(200);
      wchar_t folder[MAX_PATH] = L"";
      SendMessageW(files, CDM_GETFOLDERPATH, MAX_PATH, reinterpret_cast<LPARAM>(folder));
      startedIn = IncludeTrailingPathDelimiter(folder);
      PostMessageW(files, WM_COMMAND, IDCANCEL, 0);
      WaitGone(files);
      Sleep(200);
      Click(dialog, IDCANCEL);
      WaitGone(dialog);
    });
    wchar_t after[MAX_PATH] = L"";
    GetCurrentDirectoryW(MAX_PATH, after);
    EXPECT_STREQ(after, current) << "the host's current directory";
    const auto folderOf = [](const std::wstring& file) { return file.substr(0, file.find_last_of(L'\\') + 1); };
    if (c.Opened.empty()) {
      EXPECT_TRUE(opened.empty());
      EXPECT_EQ(boxText, L"Отладочный лог не найден!");
      EXPECT_NE(CharLowerText(startedIn), CharLowerText(defaultDir));
      EXPECT_FALSE(PathExists(defaultDir)) << "looking for the log made its folder";
    } else {
      EXPECT_EQ(opened, std::vector<std::wstring>{c.Opened});
      EXPECT_TRUE(PathExists(c.Opened));
      EXPECT_EQ(CharLowerText(startedIn), CharLowerText(folderOf(c.Opened)));
    }
  }
}

// The device test on a device the host had enabled: afterwards the host's payment goes through
// with the settings the host enabled it with, not those the dialog tested and the user
// cancelled, and the process-wide exchange log is back at its level and file. A device that was
// disabled stays so.
TEST_F(SettingsDialogFixture, TheDeviceTestLeavesTheHostsDeviceAndTheExchangeLogAsItFoundThem) {
  for (const bool enabled : {true, false}) {
    SCOPED_TRACE(enabled ? "enabled" : "disabled");
    PointAtSandbox();
    Sandbox.SetBehaviour(Terminal, "CONFIRMED", 0);
    Driver->SetSettingValue(L"DebugLogEnabled", TVariant::FromBool(true));
    TVariant none, out, timeOut = TVariant::FromInt(0);
    const auto call = [&](const wchar_t* method, const TVariant& in) {
      return InvokeByName(Driver, method, {ByVal(in), VariantRefTo(out), ByVal(timeOut)}).Result.Get().boolVal ==
             VARIANT_TRUE;
    };
    ASSERT_TRUE(call(L"Enable", none));
    if (!enabled) {
      ASSERT_TRUE(call(L"Disable", none));
    }
    const int level = bank::ExchangeLog::LogLevel();
    const std::string logFile = bank::ExchangeLog::LogFileName();
    ASSERT_EQ(level, bank::ExchangeLog::LevelAll);
    const std::vector<std::wstring> before = Values();

    // The user tries another terminal, another line length and the logs off, then cancels.
    const std::string tried = tolvaro::test::TSandbox::UniqueKey("ui");
    Sandbox.AddTerminal(tried, "другой");
    int testedLevel = -1;
    const TShown shown = ShowSettingsDlg([&](HWND dialog) {
      SetItemText(dialog, IDC_TERMINALKEY, W(tried));
      SetItemText(dialog, IDC_PASSWORD, L"другой");
      SetItemText(dialog, IDC_LINELENGTH, L"20");
      Driver->SetSettingValue(L"DebugLogEnabled", TVariant::FromBool(false));  // as the settings list would
      Click(dialog, IDM_DEVICETEST);
      HWND box = WaitDialog(L"Информация");
      ASSERT_NE(box, nullptr);
      EXPECT_EQ(MessageBoxText(box), L"Успешно!");
      testedLevel = bank::ExchangeLog::LogLevel();
      PostMessageW(box, WM_COMMAND, IDOK, 0);
      ASSERT_TRUE(WaitGone(box));
      Click(dialog, IDCANCEL);
      EXPECT_TRUE(WaitGone(dialog));
    });
    EXPECT_FALSE(shown.Ok);
    EXPECT_EQ(testedLevel, bank::ExchangeLog::LevelOff) << "the test ran on the dialog's settings";
    EXPECT_EQ(Sandbox.Payments(tried).size(), 1u);

    EXPECT_EQ(Driver->GetEnabled(), enabled);
    EXPECT_EQ(Values(), before);
    EXPECT_EQ(bank::ExchangeLog::LogLevel(), level);
    EXPECT_EQ(bank::ExchangeLog::LogFileName(), logFile);
    EXPECT_TRUE(Driver->GetDebugLogEnabled());

    // The host's next payment.
    if (!enabled) {
      EXPECT_FALSE(call(L"RegisterQrCode", MakeVariantArray({TVariant::FromDouble(12.34), TVariant::FromString(L"")})));
      EXPECT_EQ(ItemOf(out, 0).Get().lVal, 70);
      continue;
    }
    ASSERT_TRUE(call(L"RegisterQrCode", MakeVariantArray({TVariant::FromDouble(12.34), TVariant::FromString(L"")})))
        << Utf16ToUtf8(VariantToString(ItemOf(out, 1).Get()));
    const TVariant qr = ItemOf(out, 0);
    ASSERT_TRUE(call(L"Pay", MakeVariantArray({TVariant::FromString(L""), qr})))
        << Utf16ToUtf8(VariantToString(ItemOf(out, 1).Get()));
    EXPECT_EQ(VariantToString(ItemOf(out, 1).Get()), VariantToString(qr.Get()));
    const std::vector<tolvaro::test::TSandboxPayment> payments = Sandbox.Payments(Terminal);
    ASSERT_EQ(payments.size(), 1u);
    EXPECT_EQ(payments[0].Status, "CONFIRMED");
    EXPECT_EQ(payments[0].Amount, 1234);
    EXPECT_EQ(Driver->LineLength(), 48);
    // Both logs go on where they were: the Pay traced, the bank's answer to it beside.
    const std::string bytes = ReadBytes(Utf8ToUtf16(logFile));
    EXPECT_NE(FromAnsi(bytes).find(L"\t> Pay: \t"), std::wstring::npos);
    EXPECT_NE(bytes.find("/v2/GetState"), std::string::npos);
  }
}

TEST_F(SettingsDialogFixture, ContextHelpPassesTheControlsTextAsAPalePopup) {
  // The viewer's popups do not exist under every system: what the dialog passes is checked.
  struct TCall {
    std::wstring File, Text;
    UINT Command;
    COLORREF Background;
    RECT Margins;
    POINT At;
  };
  std::vector<TCall> calls;
  RECT labelRect{};
  TScopedHook help(SetHtmlHelpCall, [&](HWND, const std::wstring& file, UINT command, const HH_POPUP* popup) {
    calls.push_back({file, popup && popup->pszText ? popup->pszText : L"", command,
                     popup ? popup->clrBackground : 0, popup ? popup->rcMargins : RECT{}, popup ? popup->pt : POINT{}});
  });
  ShowSettingsDlg([&](HWND dialog) {
    HWND ok = Item(dialog, IDOK);
    HELPINFO help{sizeof(help), HELPINFO_WINDOW, IDOK, ok, GetWindowContextHelpId(ok), {0, 0}};
    SendMessageW(dialog, WM_HELP, 0, reinterpret_cast<LPARAM>(&help));
    HWND more = Item(dialog, IDC_MORE);
    help = {sizeof(help), HELPINFO_WINDOW, IDC_MORE, more, GetWindowContextHelpId(more), {0, 0}};
    SendMessageW(dialog, WM_HELP, 0, reinterpret_cast<LPARAM>(&help));
    // A control inside the page has no context of its own: the hint of the one under the pointer.
    HWND label = Item(dialog, IDC_TIMEOUT_LABEL);
    GetWindowRect(label, &labelRect);
    EXPECT_TRUE(MoveCursorTo((labelRect.left + labelRect.right) / 2, (labelRect.top + labelRect.bottom) / 2));
    help = {sizeof(help), HELPINFO_WINDOW, IDC_TIMEOUT_LABEL, label, 0, {0, 0}};
    SendMessageW(dialog, WM_HELP, 0, reinterpret_cast<LPARAM>(&help));
    Click(dialog, IDCANCEL);
    WaitGone(dialog);
  });
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].Text, L"Сохранить настройки и закрыть окно");
  EXPECT_EQ(calls[0].File, L"");
  EXPECT_EQ(calls[0].Command, static_cast<UINT>(HH_DISPLAY_TEXT_POPUP));
  EXPECT_EQ(calls[0].Background, 0xEEFFFFu);
  EXPECT_EQ(calls[0].Margins.left, 5);
  EXPECT_TRUE(calls[1].Text.starts_with(L"Дополнительные функции: \r\n - Установка")) << Utf16ToUtf8(calls[1].Text);
  EXPECT_EQ(calls[2].Text, L"Таймаут ожидания выполнения оплаты");
  EXPECT_EQ(calls[2].At.x, labelRect.left);
  EXPECT_EQ(calls[2].At.y, labelRect.top);
}

TEST_F(SettingsDialogFixture, TheHelpButtonCanShowAndF1InABoxShowsTheHintOfItsLabel) {
  std::vector<std::wstring> popups;
  TScopedHook help(SetHtmlHelpCall, [&](HWND, const std::wstring&, UINT, const HH_POPUP* popup) {
    popups.push_back(popup && popup->pszText ? popup->pszText : L"");
  });
  std::vector<std::pair<HWND, std::wstring>> tips;
  HWND timeoutBox = nullptr, timeoutLabel = nullptr;
  ShowSettingsDlg([&](HWND dialog) {
    // Windows drops "?" from a caption that also has a minimise or maximise box.
    const LONG style = GetWindowLongW(dialog, GWL_STYLE), exStyle = GetWindowLongW(dialog, GWL_EXSTYLE);
    EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0);
    EXPECT_NE(style & WS_THICKFRAME, 0) << "the sizing border stays";
    EXPECT_NE(exStyle & WS_EX_CONTEXTHELP, 0);
    timeoutBox = Item(dialog, IDC_TIMEOUT);
    timeoutLabel = Item(dialog, IDC_TIMEOUT_LABEL);
    tips = ToolTips(dialog);
    // F1 from the keyboard with the focus in the box.
    PostMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(timeoutBox), TRUE);
    ASSERT_TRUE(WaitFocus(dialog, timeoutBox));
    PressKeys({VK_F1});
    const auto until = std::chrono::steady_clock::now() + kBound;
    while (popups.empty() && std::chrono::steady_clock::now() < until) Sleep(50);
    Click(dialog, IDCANCEL);
    WaitGone(dialog);
  });
  ASSERT_EQ(popups.size(), 1u) << "F1 asked for no help";
  EXPECT_EQ(popups[0], L"Таймаут ожидания выполнения оплаты");
  auto tipOf = [&](HWND control) {
    for (const auto& [wnd, text] : tips)
      if (wnd == control) return text;
    return std::wstring(L"(no tip)");
  };
  EXPECT_EQ(tipOf(timeoutLabel), L"Таймаут ожидания выполнения оплаты");
  EXPECT_EQ(tipOf(timeoutBox), L"Таймаут ожидания выполнения оплаты");
}

TEST_F(SettingsDialogFixture, APagesHintsAreThePagesOwnWhateverItsControlIDs) {
  // Another device's page that uses the same control IDs with a hint of its own.
  struct TOtherPage : TfrmMainSettings {
    using TfrmMainSettings::TfrmMainSettings;
    std::wstring Hint(int ControlID) const override { return ControlID == IDC_TIMEOUT_LABEL ? L"Подсказка другой страницы" : L""; }
  };
  TScopedHook pages(RegisterDriverSettingsPages, {[](TBaseDevice& device) -> std::unique_ptr<TfrmBaseSettings> {
    return std::make_unique<TOtherPage>(device);
  }});
  std::vector<std::wstring> popups;
  TScopedHook help(SetHtmlHelpCall, [&](HWND, const std::wstring&, UINT, const HH_POPUP* popup) {
    popups.push_back(popup && popup->pszText ? popup->pszText : L"");
  });
  std::vector<std::wstring> pageTips;
  HWND label = nullptr;
  ShowSettingsDlg([&](HWND dialog) {
    label = Item(dialog, IDC_TIMEOUT_LABEL);
    for (const auto& [wnd, text] : ToolTips(dialog))
      if (GetDlgCtrlID(wnd) >= IDC_HOST && GetDlgCtrlID(wnd) <= IDC_TIMEOUT_LABEL) pageTips.push_back(text);
    RECT r{};
    GetWindowRect(label, &r);
    EXPECT_TRUE(MoveCursorTo((r.left + r.right) / 2, (r.top + r.bottom) / 2));
    HELPINFO help{sizeof(help), HELPINFO_WINDOW, IDC_TIMEOUT_LABEL, label, 0, {0, 0}};
    SendMessageW(dialog, WM_HELP, 0, reinterpret_cast<LPARAM>(&help));
    Click(dialog, IDCANCEL);
    WaitGone(dialog);
  });
  ASSERT_EQ(popups.size(), 1u);
  EXPECT_EQ(popups[0], L"Подсказка другой страницы");
  EXPECT_EQ(pageTips, (std::vector<std::wstring>{L"Подсказка другой страницы"}));
}

TEST_F(SettingsDialogFixture, KeyboardTabOrderCtrlTabAndAccessKeys) {
  int afterCtrlTab = -1, afterCtrlPgUp = -1, afterCtrlPgDn = -1;
  HWND fromStrip = nullptr, fromLastBox = nullptr, afterAccessKey = nullptr;
  bool menuByAccessKey = false;
  HWND host = nullptr, more = nullptr, timeout = nullptr;
  ShowSettingsDlg([&](HWND dialog) {
    HWND tabs = Item(dialog, IDC_PAGES);
    host = Item(dialog, IDC_HOST);
    more = Item(dialog, IDC_MORE);
    timeout = Item(dialog, IDC_TIMEOUT);
    // Tab: the tab strip, then into the page, then out of it to the buttons.
    PostMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(tabs), TRUE);
    ASSERT_TRUE(WaitFocus(dialog, tabs));
    PostMessageW(tabs, WM_KEYDOWN, VK_TAB, 0);
    WaitFocus(dialog, host);
    fromStrip = FocusOf(dialog);
    PostMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(timeout), TRUE);
    ASSERT_TRUE(WaitFocus(dialog, timeout));
    PostMessageW(timeout, WM_KEYDOWN, VK_TAB, 0);
    WaitFocus(dialog, more);
    fromLastBox = FocusOf(dialog);
    // Alt+Т: the label's access key puts the focus into its box. The letter is sent as a capital:
    // Wine's dialog manager folds case for ASCII letters only (Windows folds every letter).
    PostMessageW(more, WM_SYSCHAR, L'Т', 1 << 29);
    WaitFocus(dialog, timeout);
    afterAccessKey = FocusOf(dialog);
    // Ctrl+Tab, Ctrl+PgUp and Ctrl+PgDn switch tabs, as from the keyboard.
    PressKeys({VK_CONTROL, VK_TAB});
    auto waitTab = [&](int expected) {
      const auto until = std::chrono::steady_clock::now() + kBound;
      while (SendMessageW(tabs, TCM_GETCURSEL, 0, 0) != expected && std::chrono::steady_clock::now() < until) Sleep(50);
      return static_cast<int>(SendMessageW(tabs, TCM_GETCURSEL, 0, 0));
    };
    afterCtrlTab = waitTab(1);
    PressKeys({VK_CONTROL, VK_PRIOR});
    afterCtrlPgUp = waitTab(0);
    PressKeys({VK_CONTROL, VK_NEXT});
    afterCtrlPgDn = waitTab(1);
    // Alt+Д presses "Дополнительно": its menu comes up.
    PostMessageW(more, WM_SYSCHAR, L'Д', 1 << 29);
    if (HWND menu = WaitWindow(L"#32768", L"")) {
      menuByAccessKey = true;
      PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
      WaitGone(menu);
    }
    Click(dialog, IDCANCEL);
    WaitGone(dialog);
  });
  EXPECT_EQ(fromStrip, host) << "Tab from the tab strip goes into the page";
  EXPECT_EQ(fromLastBox, more) << "Tab from the page's last box goes to the buttons";
  EXPECT_EQ(afterAccessKey, timeout);
  EXPECT_EQ(afterCtrlTab, 1);
  EXPECT_EQ(afterCtrlPgUp, 0);
  EXPECT_EQ(afterCtrlPgDn, 1);
  EXPECT_TRUE(menuByAccessKey);
}

namespace {

// The product's help.chm next to the module that shows the dialog (here the test program),
// for as long as it lives; the other tests see the folder without it.
class THelpFileNextToModule {
public:
  THelpFileNextToModule() {
    const std::wstring module = ThisModuleFileName();
    Path = module.substr(0, module.find_last_of(L"\\/") + 1) + L"help.chm";
    // Over one an interrupted run may have left, which then goes with this one.
    Placed = CopyFileW(W(TOLVARO_HELP_CHM).c_str(), Path.c_str(), FALSE) != 0;
  }
  ~THelpFileNextToModule() {
    if (Placed) DeleteFileW(Path.c_str());
  }
  THelpFileNextToModule(const THelpFileNextToModule&) = delete;
  THelpFileNextToModule& operator=(const THelpFileNextToModule&) = delete;
  std::wstring Path;
  bool Placed = false;
};

// Every help context from 1 to 999 on the dialog's windows, the dialog's own included.
std::set<DWORD> PopupContexts(HWND Dialog) {
  std::set<DWORD> contexts;
  auto note = [&](HWND wnd) {
    const DWORD id = GetWindowContextHelpId(wnd);
    if (id >= 1 && id <= 999) contexts.insert(id);
  };
  note(Dialog);
  struct TEnum {
    static BOOL CALLBACK Proc(HWND wnd, LPARAM param) {
      (*reinterpret_cast<std::function<void(HWND)>*>(param))(wnd);
      return TRUE;
    }
  };
  std::function<void(HWND)> visit = note;
  EnumChildWindows(Dialog, &TEnum::Proc, reinterpret_cast<LPARAM>(&visit));
  return contexts;
}

// The ".topic N" numbers of the help file's text popups, from its source.
std::set<DWORD> PopupTopics() {
  std::set<DWORD> topics;
  std::ifstream in(TOLVARO_HELP_SOURCE_DIR "/popups.txt");
  std::string line;
  while (std::getline(in, line))
    if (line.starts_with(".topic ")) topics.insert(static_cast<DWORD>(std::stoul(line.substr(7))));
  return topics;
}

}  // namespace

TEST_F(SettingsDialogFixture, WithTheHelpFileNextToTheModuleHelpOpensItAndContextsHaveTheirPopups) {
  THelpFileNextToModule help;
  ASSERT_TRUE(help.Placed) << "could not put " << TOLVARO_HELP_CHM << " next to the test program";
  struct TCall {
    std::wstring File;
    UINT Command;
    UINT Topic;
  };
  std::vector<TCall> calls;
  TScopedHook helpCall(SetHtmlHelpCall, [&](HWND, const std::wstring& file, UINT command, const HH_POPUP* popup) {
    calls.push_back({file, command, popup ? popup->idString : 0u});
  });
  std::set<DWORD> contexts;
  ShowSettingsDlg([&](HWND dialog) {
    const std::vector<std::wstring> menu = OpenAdditionalMenu(dialog);
    ASSERT_GE(menu.size(), 2u);
    EXPECT_EQ(menu.back(), L"Справка");
    EXPECT_EQ(menu[menu.size() - 2], L"-");
    EXPECT_TRUE(helpImage) << "\"Справка\" has its picture";
    // Sent, not posted: the viewer is the recording seam here, and the order of the two calls
    // below is what the test reads.
    Command(dialog, IDM_HELP);
    // A context below 1000 is a topic of the file's text popups.
    contexts = PopupContexts(dialog);
    HWND ok = Item(dialog, IDOK);
    HELPINFO info{sizeof(info), HELPINFO_WINDOW, IDOK, ok, 1, {0, 0}};
    SendMessageW(dialog, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
    Click(dialog, IDCANCEL);
    WaitGone(dialog);
  });
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].File, help.Path);
  EXPECT_EQ(calls[0].Command, static_cast<UINT>(HH_DISPLAY_TOPIC));
  EXPECT_EQ(calls[1].File, help.Path + L"::/popups.txt");
  EXPECT_EQ(calls[1].Command, static_cast<UINT>(HH_DISPLAY_TEXT_POPUP));
  EXPECT_EQ(calls[1].Topic, 1u);
  // The file answers every context a control of the dialog carries, and the one asked above.
  contexts.insert(1);
  const std::set<DWORD> topics = PopupTopics();
  for (DWORD id : contexts) EXPECT_TRUE(topics.contains(id)) << "popups.txt has no .topic " << id;
}
