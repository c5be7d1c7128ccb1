// The page protocol: a page that vetoes keeps the dialog open and fails EnableDevice; a dialog
// without device pages has only the information tab and no reset; DisableDevice undoes.
#include <gtest/gtest.h>

#include "UiTestKit.h"
#include "fps/uDriver.h"
#include "host/uComServer.h"
#include "ui/uUiResources.h"
#include "ui/ufmCommonSettings.h"
#include "ui/ufmMainSettings.h"

using namespace uitest;

namespace {

// The driver's page, refusing to save while Veto is set; counts its saves.
class TVetoPage : public TfrmMainSettings {
public:
  explicit TVetoPage(TBaseDevice& Device) : TfrmMainSettings(Device) {}
  void OnSaveSettings(bool& AllowClose) override { AllowClose = !Veto; }
  void OnSaveSettings() override {
    ++Saves;
    TfrmMainSettings::OnSaveSettings();
  }
  static inline bool Veto = false;
  static inline int Saves = 0;
};

class PageProtocolFixture : public ::testing::Test {
protected:
  void SetUp() override {
    RegisterSettingsDialogs();
    Driver = static_cast<TDriver*>(CreateComObject<TDriver>());
    TVetoPage::Veto = false;
    TVetoPage::Saves = 0;
  }
  void TearDown() override {
    Driver->Release();
    RegisterSettingsDialog(nullptr);
  }
  TDriver* Driver = nullptr;
};

TSettingsPageClass VetoPageClass() {
  return [](TBaseDevice& device) -> std::unique_ptr<TfrmBaseSettings> { return std::make_unique<TVetoPage>(device); };
}

}  // namespace

TEST_F(PageProtocolFixture, AVetoingPageKeepsTheDialogOpenUntilItAllowsOk) {
  bool confirmed = false;
  RunWhileModal([&] { confirmed = Driver->ExecuteSettingsDialog({VetoPageClass()}, false); },
                [&] {
                  HWND dialog = WaitDialog(L"Настройки");
                  ASSERT_NE(dialog, nullptr);
                  TVetoPage::Veto = true;
                  SetItemText(dialog, IDC_TIMEOUT, L"50");
                  Command(dialog, IDOK);
                  EXPECT_TRUE(IsWindowVisible(dialog)) << "a veto keeps the dialog open";
                  EXPECT_EQ(TVetoPage::Saves, 0);
                  TVetoPage::Veto = false;
                  Click(dialog, IDOK);
                  EXPECT_TRUE(WaitGone(dialog));
                });
  EXPECT_TRUE(confirmed);
  EXPECT_EQ(TVetoPage::Saves, 1);
  EXPECT_EQ(Driver->GetSettingValueStr(L"WaitTimeout"), L"50");
}

TEST_F(PageProtocolFixture, WithoutDevicePagesOnlyInformationAndNoReset) {
  std::vector<std::wstring> tabs, menu;
  RunWhileModal([&] { Driver->ExecuteSettingsDialog({}, true); },
                [&] {
                  HWND dialog = WaitDialog(L"Настройки");
                  ASSERT_NE(dialog, nullptr);
                  HWND pages = Item(dialog, IDC_PAGES);
                  EXPECT_EQ(SendMessageW(pages, TCM_GETITEMCOUNT, 0, 0), 1);
                  Click(dialog, IDC_MORE);
                  if (HWND menuWindow = WaitWindow(L"#32768", L"")) {
                    HMENU m = reinterpret_cast<HMENU>(SendMessageW(menuWindow, MN_GETHMENU, 0, 0));
                    for (int i = 0; i < GetMenuItemCount(m); ++i) {
                      wchar_t text[256] = L"";
                      GetMenuStringW(m, i, text, 256, MF_BYPOSITION);
                      menu.push_back(text);
                    }
                    PostMessageW(menuWindow, WM_KEYDOWN, VK_ESCAPE, 0);
                    WaitGone(menuWindow);
                  }
                  Click(dialog, IDCANCEL);
                  WaitGone(dialog);
                });
  // No device test either: the caller asked for none.
  EXPECT_EQ(menu, (std::vector<std::wstring>{L"Показать полный список настроек", L""}));
}

TEST_F(PageProtocolFixture, EnableDeviceRefusesAVetoAndDisableDeviceRestoresTheSettings) {
  TVetoPage page(*Driver);  // never shown: its boxes read as empty
  TVetoPage::Veto = true;
  std::wstring description;
  EXPECT_EQ(page.EnableDevice(description), 1020);
  EXPECT_EQ(description, L"Неверные параметры устройства");
  EXPECT_EQ(TVetoPage::Saves, 0);

  // The forms with a list of settings skip the veto; DisableDevice brings the named ones back.
  const std::wstring host = Driver->GetSettingValueStr(L"Host");
  page.EnableDevice({L"Host", L"WaitTimeout"}, description);
  EXPECT_EQ(TVetoPage::Saves, 1);
  EXPECT_EQ(Driver->GetSettingValueStr(L"Host"), L"") << "the page's empty box was written";
  page.DisableDevice();
  EXPECT_FALSE(Driver->GetEnabled());
  EXPECT_EQ(Driver->GetSettingValueStr(L"Host"), host);
  EXPECT_EQ(Driver->GetSettingValueStr(L"WaitTimeout"), L"30");
}

namespace {

// A driver with two device commands; the second one fails with its own text.
class TActionDriver : public TDriver {
public:
  TActionDriver() {
    FAdditionalActions.push_back({L"Ping", L"Проверить связь"});
    FAdditionalActions.push_back({L"Break", L"Сломать"});
  }
  int32_t RunAdditionalAction(const std::wstring& ID, std::wstring& ResultDescription) override {
    Ran.push_back(ID);
    ResultDescription = ID == L"Break" ? L"Не получилось" : L"";
    return ID == L"Break" ? 1 : 0;
  }
  std::vector<std::wstring> Ran;

protected:
  ~TActionDriver() override = default;
};

}  // namespace

TEST_F(PageProtocolFixture, DeviceCommandsFollowTheMenuAndAFailureShowsItsText) {
  auto* device = static_cast<TActionDriver*>(CreateComObject<TActionDriver>());
  std::vector<std::wstring> menu;
  std::wstring boxText;
  RunWhileModal([&] { device->ExecuteSettingsDialog({}, false); },
                [&] {
                  HWND dialog = WaitDialog(L"Настройки");
                  ASSERT_NE(dialog, nullptr);
                  Click(dialog, IDC_MORE);
                  if (HWND menuWindow = WaitWindow(L"#32768", L"")) {
                    HMENU m = reinterpret_cast<HMENU>(SendMessageW(menuWindow, MN_GETHMENU, 0, 0));
                    for (int i = 0; i < GetMenuItemCount(m); ++i) {
                      wchar_t text[256] = L"";
                      GetMenuStringW(m, i, text, 256, MF_BYPOSITION);
                      menu.push_back(text);
                    }
                    PostMessageW(menuWindow, WM_KEYDOWN, VK_ESCAPE, 0);
                    WaitGone(menuWindow);
                  }
                  Command(dialog, IDM_ACTION_FIRST);  // succeeds: no box
                  Click(dialog, IDM_ACTION_FIRST + 1);
                  if (HWND box = WaitDialog(L"Ошибка")) {
                    boxText = MessageBoxText(box);
                    PostMessageW(box, WM_COMMAND, IDOK, 0);
                    WaitGone(box);
                  }
                  Click(dialog, IDCANCEL);
                  WaitGone(dialog);
                });
  EXPECT_EQ(menu, (std::vector<std::wstring>{L"Выполнить тест устройства", L"Показать полный список настроек", L"",
                                             L"", L"Проверить связь", L"Сломать"}));
  EXPECT_EQ(device->Ran, (std::vector<std::wstring>{L"Ping", L"Break"}));
  EXPECT_EQ(boxText, L"Не получилось");
  device->Release();
}

TEST_F(PageProtocolFixture, TheDialogResizesWithItsButtonsAtTheCornerAndNeverBelowItsMinimum) {
  auto rectOf = [](HWND wnd) {
    RECT r{};
    GetWindowRect(wnd, &r);
    return r;
  };
  RunWhileModal([&] { Driver->ExecuteSettingsDialog({TfrmMainSettings::PageClass()}, false); },
                [&] {
                  HWND dialog = WaitDialog(L"Настройки");
                  ASSERT_NE(dialog, nullptr);
                  const RECT before = rectOf(dialog), ok = rectOf(Item(dialog, IDOK)), tabs = rectOf(Item(dialog, IDC_PAGES));
                  SetWindowPos(dialog, nullptr, 0, 0, before.right - before.left + 100, before.bottom - before.top + 50,
                               SWP_NOMOVE | SWP_NOZORDER);
                  const RECT after = rectOf(dialog), okAfter = rectOf(Item(dialog, IDOK));
                  EXPECT_EQ(after.right - okAfter.right, before.right - ok.right) << "OK keeps to the right edge";
                  EXPECT_EQ(after.bottom - okAfter.bottom, before.bottom - ok.bottom) << "and to the bottom";
                  const RECT tabsAfter = rectOf(Item(dialog, IDC_PAGES));
                  EXPECT_EQ(tabsAfter.right - tabsAfter.left, tabs.right - tabs.left + 100);
                  // The sizing border stops at 320 x 400.
                  MINMAXINFO limits{};
                  SendMessageW(dialog, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
                  EXPECT_EQ(limits.ptMinTrackSize.x, 320);
                  EXPECT_EQ(limits.ptMinTrackSize.y, 400);
                  Click(dialog, IDCANCEL);
                  WaitGone(dialog);
                });
}
