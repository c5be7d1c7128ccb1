// The full settings list on a driver object, driven with keys and commands like a user.
#include <gtest/gtest.h>

#include "kit/TestEquipmentManager.h"
#include "kit/UiTestKit.h"
#include "fps/uDriver.h"
#include "host/uComServer.h"
#include "platform/uStrings.h"
#include "ui/uUiResources.h"
#include "ui/ufmCommonSettings.h"
#include "ui/ufmSettingsList.h"
#include "kit/ScopedHook.h"

using namespace uitest;

namespace {

class SettingsListFixture : public ::testing::Test {
protected:
  void SetUp() override { Driver = static_cast<TDriver*>(CreateComObject<TDriver>()); }
  void TearDown() override {
    if (Driver) Driver->Release();
    SetHtmlHelpCall(nullptr);
  }

  // Shows the list over nothing while Script drives it; the modal result.
  INT_PTR Show(const std::function<void(HWND List, HWND View)>& Script) {
    INT_PTR result = 0;
    RunWhileModal(
        [&] {
          TfrmSettingsList list(*Driver);
          result = list.ShowModal(nullptr);
        },
        [&] {
          HWND list = WaitDialog(L"Список настроек");
          ASSERT_NE(list, nullptr) << "the list did not come up";
          Script(list, Item(list, IDC_SETTINGS));
        });
    return result;
  }

  int IndexOf(const std::wstring& ID) const {
    for (int i = 0; i < Driver->SettingsCount(); ++i)
      if (Driver->Settings(i)->ID == ID) return i;
    return -1;
  }

  TDriver* Driver = nullptr;
};

std::wstring Cell(HWND View, int Row, int Column) {
  wchar_t text[512] = L"";
  LVITEMW item{};
  item.iSubItem = Column;
  item.pszText = text;
  item.cchTextMax = 512;
  SendMessageW(View, LVM_GETITEMTEXTW, Row, reinterpret_cast<LPARAM>(&item));
  return text;
}

void Select(HWND View, int Row) {
  LVITEMW item{};
  item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  item.state = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageW(View, LVM_SETITEMSTATE, Row, reinterpret_cast<LPARAM>(&item));
}

// Opens the editor on the row with Enter, types the text and ends with the key (0: none).
void EditRow(HWND View, int Row, const std::wstring& Text, UINT EndKey) {
  Select(View, Row);
  Key(View, VK_RETURN);
  HWND editor = Item(View, IDC_EDEDIT);
  SendMessageW(editor, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Text.c_str()));
  if (EndKey) Key(editor, EndKey);
}

}  // namespace

TEST_F(SettingsListFixture, RowsInDeclarationOrderWithValueDefaultAndDescription) {
  Show([&](HWND list, HWND view) {
    ASSERT_EQ(SendMessageW(view, LVM_GETITEMCOUNT, 0, 0), Driver->SettingsCount());
    for (int i = 0; i < Driver->SettingsCount(); ++i) {
      const TSettingStruct& s = *Driver->Settings(i);
      EXPECT_EQ(Cell(view, i, 0), s.Name);
      EXPECT_EQ(Cell(view, i, 1), SettingValueText(s.Value));
      EXPECT_EQ(Cell(view, i, 2), SettingValueText(s.Default));
    }
    EXPECT_EQ(Cell(view, 0, 0), L"Таймаут по умолчанию");
    EXPECT_EQ(Cell(view, 0, 1), L"120");
    EXPECT_EQ(Cell(view, 0, 2), L"120");
    const int host = IndexOf(L"Host");
    Select(view, host);
    EXPECT_EQ(ItemText(list, IDC_STATUS), Driver->Settings(host)->Description);
    Click(list, IDOK);
  });
}

TEST_F(SettingsListFixture, InPlaceEditingCommitsOnEnterAndLeavingAndDiscardsOnEscape) {
  const int eventLog = IndexOf(L"EventLogEnabled");
  const int host = IndexOf(L"Host");
  ASSERT_GE(eventLog, 0);
  const INT_PTR result = Show([&](HWND list, HWND view) {
    EditRow(view, 0, L"60", VK_RETURN);
    const VARIANT& value = Driver->Settings(0)->Value.Get();
    EXPECT_EQ(value.vt, VT_I4) << "the integer the default is, not the text or a double";
    EXPECT_EQ(Driver->GetSettingValueInt(L"DefaultTimeOut"), 60);
    EXPECT_EQ(Cell(view, 0, 1), L"60");
    EXPECT_FALSE(IsWindowVisible(Item(view, IDC_EDEDIT)));

    EditRow(view, 0, L"75", VK_ESCAPE);
    EXPECT_EQ(Driver->GetSettingValueInt(L"DefaultTimeOut"), 60) << "Escape keeps the old value";

    // Moving to another row keeps the typed value, in the row it was typed in.
    EditRow(view, 0, L"61", 0);
    Select(view, host);
    EXPECT_EQ(Driver->GetSettingValueInt(L"DefaultTimeOut"), 61);
    EXPECT_EQ(Driver->GetSettingValueStr(L"Host"), SettingValueText(Driver->Settings(host)->Default));

    // A Boolean goes through the False/True list, never free text.
    Select(view, eventLog);
    Key(view, VK_RETURN);
    HWND combo = Item(view, IDC_CBEDIT);
    EXPECT_TRUE(IsWindowVisible(combo));
    EXPECT_FALSE(IsWindowVisible(Item(view, IDC_EDEDIT)));
    EXPECT_EQ(SendMessageW(combo, CB_GETCOUNT, 0, 0), 2);
    const bool before = Driver->GetSettingValueBool(L"EventLogEnabled");
    SendMessageW(combo, CB_SETCURSEL, before ? 0 : 1, 0);
    Key(combo, VK_RETURN);
    EXPECT_EQ(Driver->Settings(eventLog)->Value.Get().vt, VT_BOOL);
    EXPECT_EQ(Driver->GetSettingValueBool(L"EventLogEnabled"), !before);
    EXPECT_EQ(Cell(view, eventLog, 1), before ? L"False" : L"True");
    Click(list, IDCANCEL);
  });
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_EQ(Driver->GetSettingValueInt(L"DefaultTimeOut"), 61) << "the list leaves undoing to its caller";
}

TEST_F(SettingsListFixture, TextThatIsNoWholeNumberIsRefusedInANumberRowAndTheEditorStaysWithIt) {
  wchar_t separator[8] = {};
  GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, separator, 8);
  // No number; a fraction the driver's integer reader would round unseen; beyond 32 bits.
  const std::wstring texts[] = {L"abc", L"1" + std::wstring(separator) + L"5", L"2147483648"};
  const INT_PTR result = Show([&](HWND list, HWND view) {
    HWND editor = Item(view, IDC_EDEDIT);
    // Enter, and OK with the editor still open: each refused, nothing stored.
    for (const std::wstring& text : texts) {
      for (bool byOk : {false, true}) {
        SCOPED_TRACE(Utf16ToUtf8(text) + (byOk ? " OK" : " Enter"));
        EditRow(view, 0, text, byOk ? 0 : VK_RETURN);
        if (byOk) Click(list, IDOK);
        HWND box = WaitDialog(L"Ошибка");
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(MessageBoxText(box), L"Значение настройки \"Таймаут по умолчанию\" должно быть целым числом");
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        ASSERT_TRUE(WaitGone(box));
        EXPECT_EQ(Driver->GetSettingValueInt(L"DefaultTimeOut"), 120);
        EXPECT_TRUE(IsWindowVisible(list));
        EXPECT_TRUE(IsWindowVisible(editor));
        EXPECT_TRUE(WaitFocus(list, editor)) << "the editor has the focus back";
        EXPECT_EQ(Text(editor), text);
        Key(editor, VK_ESCAPE);
      }
    }
    Click(list, IDCANCEL);
  });
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_EQ(Driver->GetSettingValueInt(L"DefaultTimeOut"), 120);
}

TEST_F(SettingsListFixture, TabLeavesTheEditorAndTheRowMenuOpensFromTheKeyboard) {
  std::vector<std::wstring> menu;
  Show([&](HWND list, HWND view) {
    HWND editor = Item(view, IDC_EDEDIT);
    EditRow(view, 0, L"61", 0);
    ASSERT_TRUE(WaitFocus(list, editor));
    // As the keyboard sends it, through the dialog's own loop.
    PostMessageW(editor, WM_KEYDOWN, VK_TAB, 0);
    const auto until = std::chrono::steady_clock::now() + kBound;
    while (IsWindowVisible(editor) && std::chrono::steady_clock::now() < until) Sleep(50);
    EXPECT_FALSE(IsWindowVisible(editor)) << "Tab stayed in the editor";
    EXPECT_EQ(Driver->GetSettingValueInt(L"DefaultTimeOut"), 61) << "leaving by Tab commits";
    EXPECT_NE(FocusOf(list), editor);
    // Shift+F10 and the Menu key arrive as WM_CONTEXTMENU without a position.
    Select(view, 0);
    PostMessageW(view, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(view), -1);
    menu = TakeMenuCaptions();
    Click(list, IDOK);
  });
  EXPECT_EQ(menu, (std::vector<std::wstring>{L"Редактировать", L"По-умолчанию"}));
}

TEST_F(SettingsListFixture, HintsHelpAndColumnsThatShowTheirHeadersAndNames) {
  std::vector<std::wstring> popups;
  TScopedHook help(SetHtmlHelpCall, [&](HWND, const std::wstring& file, UINT, const HH_POPUP* popup) {
    EXPECT_EQ(file, L"");
    popups.push_back(popup && popup->pszText ? popup->pszText : L"");
  });
  std::vector<std::pair<int, std::wstring>> tips;
  const int host = IndexOf(L"Host");
  Show([&](HWND list, HWND view) {
    for (const auto& [wnd, text] : ToolTips(list)) tips.push_back({GetDlgCtrlID(wnd), text});
    EXPECT_EQ(GetWindowContextHelpId(Item(list, IDOK)), 1001u);
    EXPECT_EQ(GetWindowContextHelpId(Item(list, IDCANCEL)), 1002u);
    // The list answers its own "?": the buttons' texts, and the selected setting's description.
    Select(view, host);
    for (int id : {IDOK, IDCANCEL, IDC_DEFAULT, IDC_SETTINGS}) {
      HWND control = Item(list, id);
      HELPINFO help{sizeof(help), HELPINFO_WINDOW, id, control, GetWindowContextHelpId(control), {0, 0}};
      SendMessageW(list, WM_HELP, 0, reinterpret_cast<LPARAM>(&help));
    }
    // Every header and every name shows whole, in the screen's scale; the last column reaches
    // the list's right edge.
    HWND header = reinterpret_cast<HWND>(SendMessageW(view, LVM_GETHEADER, 0, 0));
    const wchar_t* captions[] = {L"Наименование", L"Значение", L"По-умолчанию"};
    int right = 0;
    for (int i = 0; i < 3; ++i) {
      const int width = static_cast<int>(SendMessageW(view, LVM_GETCOLUMNWIDTH, i, 0));
      const int text = static_cast<int>(SendMessageW(view, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(captions[i])));
      EXPECT_GT(width, text + 8) << "header " << i << " is cut";
      right += width;
    }
    for (int i = 0; i < Driver->SettingsCount(); ++i) {
      const int text = static_cast<int>(
          SendMessageW(view, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(Driver->Settings(i)->Name.c_str())));
      EXPECT_GT(SendMessageW(view, LVM_GETCOLUMNWIDTH, 0, 0), text + 8) << Utf16ToUtf8(Driver->Settings(i)->Name);
    }
    RECT client{};
    GetClientRect(header, &client);
    EXPECT_GE(right, client.right - 2) << "the last column fills the width";
    Click(list, IDOK);
  });
  EXPECT_EQ(tips, (std::vector<std::pair<int, std::wstring>>{{IDC_DEFAULT, L"Установить все значения по-умолчанию"},
                                                              {IDOK, L"Сохранить и закрыть"},
                                                              {IDCANCEL, L"Закрыть без сохранения"}}));
  EXPECT_EQ(popups, (std::vector<std::wstring>{L"Сохранить настройки и закрыть окно", L"Закрыть окно без сохранения настроек",
                                               L"Установить все значения по-умолчанию", Driver->Settings(host)->Description}));
}

TEST_F(SettingsListFixture, PopupResetsTheSelectedRowAndTheButtonResetsAll) {
  Driver->SetSettingValue(L"DefaultTimeOut", TVariant::FromInt(5));
  Driver->SetSettingValue(L"Host", TVariant::FromString(L"http://127.0.0.1:1/v2"));
  const int host = IndexOf(L"Host");
  Show([&](HWND list, HWND view) {
    Select(view, 0);
    Command(list, IDM_ROWDEFAULT);
    EXPECT_EQ(Driver->GetSettingValueInt(L"DefaultTimeOut"), 120);
    EXPECT_EQ(Driver->GetSettingValueStr(L"Host"), L"http://127.0.0.1:1/v2");
    Command(list, IDC_DEFAULT);
    EXPECT_EQ(Cell(view, host, 1), Cell(view, host, 2));
    Click(list, IDOK);
  });
  EXPECT_EQ(Driver->GetSettingValueStr(L"Host"), SettingValueText(Driver->Settings(host)->Default));
}
