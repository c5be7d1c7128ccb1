// The settings dialog on a driver object, opened through ShowSettingsDlg and driven like a
// user: pages and information, OK and Cancel, the device test, the settings list, the menu.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <set>

#include "../device/TestEquipmentManager.h"
#include "DispatchTestKit.h"
#include "LogTestKit.h"
#include "UiTestKit.h"
#include "fps/uDriver.h"
#include "host/uComServer.h"
#include "host/uEquipment.h"
#include "platform/uFiles.h"
#include "res/version.h"
#include "ui/uUiResources.h"
#include "ui/ufmCommonSettings.h"
#include "ui/ufmMainSettings.h"
#include "ui/ufmSettingsList.h"
#include "uSandbox.h"

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
    ASSERT_EQ(InvokeByName(Driver, L"Init", {ByVal(manager), RefTo(description)}).Result.Get().boolVal, VARIANT_TRUE);
    ASSERT_EQ(InvokeByName(Driver, L"Open", {ByVal(id), RefTo(description)}).Result.Get().boolVal, VARIANT_TRUE);
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
          TInvokeResult result = InvokeByName(Driver, L"ShowSettingsDlg", {ByVal(in), RefTo(out), ByVal(timeOut)});
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

// Opens "Дополнительно" as a click does and reads the menu that comes up, then closes it.
std::vector<std::wstring> OpenAdditionalMenu(HWND Dialog) {
  Click(Dialog, IDC_MORE);
  HWND menuWindow = WaitWindow(L"#32768", L"");
  if (!menuWindow) return {L"no menu came up"};
  HMENU menu = reinterpret_cast<HMENU>(SendMessageW(menuWindow, MN_GETHMENU, 0, 0));
  std::vector<std::wstring> captions = MenuCaptions(menu);
  PostMessageW(menuWindow, WM_KEYDOWN, VK_ESCAPE, 0);
  WaitGone(menuWindow);
  return captions;
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
  EXPECT_EQ(Driver->GetSettingValueStr(L"WaitTimeout"), L"45");
  std::wstring description;
  ASSERT_EQ(Driver->Enable(description), 0) << Utf16ToUtf8(description);
  EXPECT_EQ(Driver->WaitTimeout(), 45);
}

TEST_F(SettingsDialogFixture, CancelLeavesEverySettingAsBeforeTheDialog) {
  const std::vector<std::wstring> before = Values();
  const TShown shown = ShowSettingsDlg([&](HWND dialog) {
    // An edit on the page, a confirmed settings list, then the defaults: all undone by Cancel.
    SetItemText(dialog, IDC_TIMEOUT, L"77");
    Click(dialog, IDM_SETTINGSLIST);
    HWND list = WaitDialog(L"Список настроек");
    ASSERT_NE(list, nullptr);
    HWND view = Item(list, IDC_SETTINGS);
    ListView_SetItemState(view, 0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    Key(view, VK_RETURN);
    SetItemText(view, IDC_EDEDIT, L"99");
    Key(Item(view, IDC_EDEDIT), VK_RETURN);
    Click(list, IDOK);
    ASSERT_TRUE(WaitGone(list));
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

TEST_F(SettingsDialogFixture, TheDebugLogMenuFollowsTheSettingAsTheMenuOpens) {
  ShowSettingsDlg([&](HWND dialog) {
    Driver->SetSettingValue(L"DebugLogEnabled", TVariant::FromBool(false));
    const std::vector<std::wstring> off = OpenAdditionalMenu(dialog);
    EXPECT_EQ(off, (std::vector<std::wstring>{L"Установить значения по-умолчанию", L"Выполнить тест устройства",
                                              L"Показать полный список настроек", L"-"}))
        << "no help file here, so no \"Справка\"";
    Driver->SetSettingValue(L"DebugLogEnabled", TVariant::FromBool(true));
    const std::vector<std::wstring> on = OpenAdditionalMenu(dialog);
    EXPECT_EQ(on, (std::vector<std::wstring>{L"Установить значения по-умолчанию", L"Выполнить тест устройства",
                                             L"Показать полный список настроек", L"Просмотр отладочных логов", L"-"}));
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
  SetHtmlHelpCall([&](HWND, const std::wstring& file, UINT command, const HH_POPUP* popup) {
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
  SetHtmlHelpCall([&](HWND, const std::wstring& file, UINT command, const HH_POPUP* popup) {
    calls.push_back({file, command, popup ? popup->idString : 0u});
  });
  std::set<DWORD> contexts;
  ShowSettingsDlg([&](HWND dialog) {
    const std::vector<std::wstring> menu = OpenAdditionalMenu(dialog);
    ASSERT_FALSE(menu.empty());
    EXPECT_EQ(menu.back(), L"Справка");
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
