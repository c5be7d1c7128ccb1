// The page protocol: a page that vetoes keeps the dialog open and fails EnableDevice; a dialog
// without device pages has only the information tab and no reset; DisableDevice undoes.
#include <gtest/gtest.h>

#include "kit/UiTestKit.h"
#include "fps/uDriver.h"
#include "host/uComServer.h"
#include "platform/uStrings.h"
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
                  menu = TakeMenuCaptions();
                  Click(dialog, IDCANCEL);
                  WaitGone(dialog);
                });
  // No device test either: the caller asked for none.
  EXPECT_EQ(menu, (std::vector<std::wstring>{L"Показать полный список настроек"})) << "no separator left dangling";
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
  std::vector<bool> images;
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
                      MENUITEMINFOW item{};
                      item.cbSize = sizeof(item);
                      item.fMask = MIIM_BITMAP;
                      images.push_back(GetMenuItemInfoW(m, i, TRUE, &item) && item.hbmpItem);
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
                                             L"Проверить связь", L"Сломать"}));
  EXPECT_EQ(images, (std::vector<bool>{false, false, false, true, true})) << "the actions have their picture";
  EXPECT_EQ(device->Ran, (std::vector<std::wstring>{L"Ping", L"Break"}));
  EXPECT_EQ(boxText, L"Не получилось");
  device->Release();
}

namespace {

// Whether the text of a static or button fits its window (word-wrapped where the style says so).
bool TextFits(HWND Control) {
  const std::wstring text = Text(Control);
  if (text.empty()) return true;
  RECT client{};
  GetClientRect(Control, &client);
  HDC dc = GetDC(Control);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(Control, WM_GETFONT, 0, 0)));
  const bool isButton = ClassOf(Control) == L"Button";
  RECT need = client;
  if (isButton) need.right -= 2 * GetSystemMetrics(SM_CXEDGE) + 2;  // the button's own frame
  DrawTextW(dc, text.c_str(), -1, &need, DT_CALCRECT | (isButton ? DT_SINGLELINE : DT_WORDBREAK));
  SelectObject(dc, old);
  ReleaseDC(Control, dc);
  return need.right <= client.right && need.bottom <= client.bottom;
}

bool Overlap(HWND A, HWND B) {
  RECT a{}, b{}, both{};
  GetWindowRect(A, &a);
  GetWindowRect(B, &b);
  return IntersectRect(&both, &a, &b);
}

int FontWeight(HWND Control) {
  LOGFONTW font{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(Control, WM_GETFONT, 0, 0)), sizeof(font), &font);
  return font.lfWeight;
}

}  // namespace

TEST_F(PageProtocolFixture, AtItsLeastSizeNothingOverlapsOrIsCutAndThePagesFollowTheSize) {
  auto rectOf = [](HWND wnd) {
    RECT r{};
    GetWindowRect(wnd, &r);
    return r;
  };
  RunWhileModal([&] { Driver->ExecuteSettingsDialog({TfrmMainSettings::PageClass()}, false); },
                [&] {
                  HWND dialog = WaitDialog(L"Настройки");
                  ASSERT_NE(dialog, nullptr);
                  const RECT opened = rectOf(dialog);
                  // The least size is the one it opened with (computed from dialog units).
                  SetWindowPos(dialog, nullptr, 0, 0, 100, 100, SWP_NOMOVE | SWP_NOZORDER);
                  const RECT least = rectOf(dialog);
                  EXPECT_EQ(least.right - least.left, opened.right - opened.left);
                  EXPECT_EQ(least.bottom - least.top, opened.bottom - opened.top);
                  HWND buttons[] = {Item(dialog, IDC_MORE), Item(dialog, IDOK), Item(dialog, IDCANCEL)};
                  RECT client{};
                  GetClientRect(dialog, &client);
                  MapWindowPoints(dialog, nullptr, reinterpret_cast<POINT*>(&client), 2);
                  for (HWND button : buttons) {
                    EXPECT_TRUE(TextFits(button)) << Utf16ToUtf8(Text(button));
                    RECT r = rectOf(button), inside{};
                    EXPECT_TRUE(IntersectRect(&inside, &r, &client) && EqualRect(&inside, &r)) << Utf16ToUtf8(Text(button));
                  }
                  EXPECT_FALSE(Overlap(buttons[0], buttons[1]));
                  EXPECT_FALSE(Overlap(buttons[1], buttons[2]));
                  // Every label of the page and of the information tab shows whole.
                  for (int id : {IDC_TIMEOUT_LABEL, IDC_INFO_CAPTION_FIRST, IDC_INFO_CAPTION_FIRST + 5, IDC_TYPEINFO,
                                 IDC_DESCRIPTIONINFO, IDC_CONTACTINFO})
                    EXPECT_TRUE(TextFits(Item(dialog, id))) << id;
                  for (HWND c = GetWindow(GetParent(Item(dialog, IDC_HOST)), GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
                    if (ClassOf(c) == L"Static") {
                      EXPECT_TRUE(TextFits(c)) << Utf16ToUtf8(Text(c));
                    }
                  for (int i = 0; i < 6; ++i) EXPECT_EQ(FontWeight(Item(dialog, IDC_INFO_CAPTION_FIRST + i)), FW_BOLD);
                  EXPECT_NE(FontWeight(Item(dialog, IDC_TYPEINFO)), FW_BOLD);

                  // Larger: OK keeps to the corner, the text boxes and the tabs stretch, the
                  // contact row takes the height; the number boxes keep their width.
                  const RECT ok = rectOf(Item(dialog, IDOK)), tabs = rectOf(Item(dialog, IDC_PAGES));
                  const RECT hostBox = rectOf(Item(dialog, IDC_HOST)), timeoutBox = rectOf(Item(dialog, IDC_TIMEOUT));
                  const RECT contact = rectOf(Item(dialog, IDC_CONTACTINFO));
                  SetWindowPos(dialog, nullptr, 0, 0, least.right - least.left + 100, least.bottom - least.top + 50,
                               SWP_NOMOVE | SWP_NOZORDER);
                  const RECT after = rectOf(dialog), okAfter = rectOf(Item(dialog, IDOK));
                  EXPECT_EQ(after.right - okAfter.right, least.right - ok.right) << "OK keeps to the right edge";
                  EXPECT_EQ(after.bottom - okAfter.bottom, least.bottom - ok.bottom) << "and to the bottom";
                  const RECT tabsAfter = rectOf(Item(dialog, IDC_PAGES));
                  EXPECT_EQ(tabsAfter.right - tabsAfter.left, tabs.right - tabs.left + 100);
                  for (int id : {IDC_HOST, IDC_TERMINALKEY, IDC_PASSWORD}) {
                    const RECT box = rectOf(Item(dialog, id));
                    EXPECT_EQ(box.right - box.left, hostBox.right - hostBox.left + 100) << id;
                  }
                  const RECT timeoutAfter = rectOf(Item(dialog, IDC_TIMEOUT));
                  EXPECT_EQ(timeoutAfter.right - timeoutAfter.left, timeoutBox.right - timeoutBox.left);
                  const RECT contactAfter = rectOf(Item(dialog, IDC_CONTACTINFO));
                  EXPECT_EQ(contactAfter.bottom - contactAfter.top, contact.bottom - contact.top + 50);
                  EXPECT_EQ(contactAfter.right - contactAfter.left, contact.right - contact.left + 100);
                  // The pages have the themed tab background where the system draws themes.
                  using TEnabled = BOOL(WINAPI*)(HWND);
                  HMODULE theme = LoadLibraryW(L"uxtheme.dll");
                  auto enabled = theme ? reinterpret_cast<TEnabled>(reinterpret_cast<void*>(
                                             GetProcAddress(theme, "IsThemeDialogTextureEnabled")))
                                       : nullptr;
                  ASSERT_NE(enabled, nullptr);
                  EXPECT_TRUE(enabled(GetParent(Item(dialog, IDC_HOST))));
                  EXPECT_TRUE(enabled(GetParent(Item(dialog, IDC_CONTACTINFO))));
                  Click(dialog, IDCANCEL);
                  WaitGone(dialog);
                });
}
