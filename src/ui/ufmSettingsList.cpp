#include "ufmSettingsList.h"

#include <commctrl.h>

#include <algorithm>

#include "platform/uExceptions.h"
#include "platform/uLocale.h"
#include "uBaseSettingsDeviceFrm.h"
#include "uUiResources.h"
#include "uUiStrings.h"
#include "ufmCommonSettings.h"

namespace {

// Posted to the list when a refused value must be said (never from inside a focus change).
constexpr UINT WM_SAY_REFUSED = WM_APP + 1;
// The help contexts of the buttons: the texts of the settings dialog's OK and Cancel.
constexpr int kOkHelpContext = 1001;
constexpr int kCancelHelpContext = 1002;

std::wstring HintOf(int ID) {
  switch (ID) {
    case IDC_DEFAULT: return kSResetAllHint;
    case IDOK: return kSSaveAndCloseHint;
    case IDCANCEL: return kSCloseWithoutSavingHint;
    default: return {};
  }
}

// A failure inside a window procedure of the list, said over the list (nothing may unwind
// through the procedure, and nothing is swallowed).
void SayCaughtError(HWND Wnd) noexcept {
  try {
    MessageBoxW(GetAncestor(Wnd, GA_ROOT), CaughtErrorText().c_str(), kSErrorCaption, MB_OK | MB_ICONERROR);
  } catch (...) {
  }
}

}  // namespace

std::wstring SettingValueText(const TVariant& Value) {
  const VARIANT* v = InnermostVariant(&Value.Get());
  if (v->vt == VT_BOOL) return v->boolVal ? L"True" : L"False";
  if (v->vt == VT_EMPTY || v->vt == VT_NULL) return {};
  try {
    return VariantToString(*v);
  } catch (...) {
    return {};
  }
}

TfrmSettingsList::TfrmSettingsList(TBaseDevice& ADeviceManager) : FDeviceManager(ADeviceManager) {}

INT_PTR TfrmSettingsList::ShowModal(HWND Owner) {
  return RunModal(IDD_SETTINGS_LIST, Owner);
}

void TfrmSettingsList::OnInitDialog() {
  SendMessageW(FHandle, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(LoadIconW(nullptr, IDI_APPLICATION)));
  FList = GetDlgItem(FHandle, IDC_SETTINGS);
  ListView_SetExtendedListViewStyle(FList, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_FLATSB);
  const wchar_t* captions[] = {kSColumnName, kSColumnValue, kSColumnDefault};
  for (int i = 0; i < 3; ++i) {
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = const_cast<wchar_t*>(captions[i]);
    column.cx = DluToPixelsX(FHandle, 60);
    ListView_InsertColumn(FList, i, &column);
  }
  // The editors live inside the list, over the value cell.
  const HFONT font = reinterpret_cast<HFONT>(SendMessageW(FHandle, WM_GETFONT, 0, 0));
  FEdEdit = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_BORDER | ES_AUTOHSCROLL, 0, 0, 10, 10, FList,
                            reinterpret_cast<HMENU>(IDC_EDEDIT), UiModule(), nullptr);
  FCbEdit = CreateWindowExW(0, L"COMBOBOX", L"", WS_CHILD | WS_VSCROLL | CBS_DROPDOWNLIST, 0, 0, 10, 10, FList,
                            reinterpret_cast<HMENU>(IDC_CBEDIT), UiModule(), nullptr);
  for (HWND editor : {FEdEdit, FCbEdit}) {
    SendMessageW(editor, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    SetWindowSubclass(editor, &EditorProc, 1, reinterpret_cast<DWORD_PTR>(this));
  }
  SendMessageW(FCbEdit, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"False"));
  SendMessageW(FCbEdit, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"True"));
  FEditControl = FEdEdit;
  SetWindowSubclass(FList, &ListProc, 1, reinterpret_cast<DWORD_PTR>(this));
  ListView_SetItemCountEx(FList, FDeviceManager.SettingsCount(), 0);
  SizeColumns();
  SetWindowContextHelpId(GetDlgItem(FHandle, IDOK), kOkHelpContext);
  SetWindowContextHelpId(GetDlgItem(FHandle, IDCANCEL), kCancelHelpContext);
  AddHints();
  RefreshAll();
}

// Widths in the screen's scale: the names as wide as the longest one needs, the values a fixed
// share in dialog units, the defaults the rest of the width.
void TfrmSettingsList::SizeColumns() {
  const int padding = DluToPixelsX(FHandle, 8);
  int names = ListView_GetStringWidth(FList, kSColumnName);
  for (int i = 0; i < FDeviceManager.SettingsCount(); ++i)
    names = std::max(names, ListView_GetStringWidth(FList, FDeviceManager.Settings(i)->Name.c_str()));
  RECT client{};
  GetClientRect(FList, &client);
  const int scroll = GetSystemMetrics(SM_CXVSCROLL);
  const int values = DluToPixelsX(FHandle, 70);
  const int defaults = ListView_GetStringWidth(FList, kSColumnDefault) + padding;
  // The names give way first, down to their header, so the other two headers are never cut.
  const int room = client.right - scroll - values - defaults;
  ListView_SetColumnWidth(FList, 0, std::max(std::min(names + padding, room), ListView_GetStringWidth(FList, kSColumnName) + padding));
  ListView_SetColumnWidth(FList, 1, values);
  ListView_SetColumnWidth(FList, 2, LVSCW_AUTOSIZE_USEHEADER);
}

void TfrmSettingsList::AddHints() {
  HWND tips = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, 0, 0, 0,
                              0, FHandle, nullptr, UiModule(), nullptr);
  if (!tips) return;
  for (int id : {IDC_DEFAULT, IDOK, IDCANCEL}) {
    std::wstring hint = HintOf(id);
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = FHandle;
    tool.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(FHandle, id));
    tool.lpszText = hint.data();
    SendMessageW(tips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  }
}

// The list's own context help: the buttons' texts, or the selected setting's description.
void TfrmSettingsList::OnHelp(const HELPINFO& Info) {
  HWND control = static_cast<HWND>(Info.hItemHandle);
  const int context = static_cast<int>(Info.dwContextId);
  std::wstring text;
  if (context >= 1000)
    text = TfrmCommonSettings::GetHelpByID(context);
  else if (control == FList || (control && IsChild(FList, control)))
    text = FDeviceManager.Settings(SelectedIndex()) ? FDeviceManager.Settings(SelectedIndex())->Description : L"";
  else if (control)
    text = HintOf(GetDlgCtrlID(control));
  POINT at = Info.MousePos;
  if (control) {
    RECT r{};
    GetWindowRect(control, &r);
    at = {r.left, r.top};
  }
  ShowHelpPopup(FHandle, text, at);
}

// The row menu, at the pointer or, from the keyboard (Shift+F10, the Menu key), under the row.
void TfrmSettingsList::ShowRowMenu(LPARAM At) {
  POINT at{static_cast<short>(LOWORD(At)), static_cast<short>(HIWORD(At))};
  if (At == -1) {
    RECT row{};
    const int index = SelectedIndex();
    if (index < 0 || !ListView_GetItemRect(FList, index, &row, LVIR_LABEL)) GetClientRect(FList, &row);
    at = {row.left, row.bottom};
    ClientToScreen(FList, &at);
  }
  HMENU menu = CreatePopupMenu();
  AppendMenuW(menu, MF_STRING, IDM_EDIT, kSMenuEdit);
  AppendMenuW(menu, MF_STRING, IDM_ROWDEFAULT, kSMenuRowDefault);
  TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_TOPALIGN, at.x, at.y, 0, FHandle, nullptr);
  DestroyMenu(menu);
}

void TfrmSettingsList::SayRefused() {
  const TSettingStruct* setting = FDeviceManager.Settings(FEditIndex);
  const std::wstring name = setting ? setting->Name : L"";
  MessageBoxW(FHandle, (kSNotANumberBefore + name + kSNotANumberAfter).c_str(), kSErrorCaption,
              MB_OK | MB_ICONERROR);
  FRefusing = false;
  if (IsWindowVisible(FEdEdit)) {
    SetFocus(FEdEdit);
    SendMessageW(FEdEdit, EM_SETSEL, 0, -1);
  }
}

int TfrmSettingsList::SelectedIndex() const { return ListView_GetNextItem(FList, -1, LVNI_SELECTED); }

void TfrmSettingsList::RefreshRow(int Index) {
  if (Index >= 0) ListView_RedrawItems(FList, Index, Index);
}

void TfrmSettingsList::RefreshAll() {
  if (FDeviceManager.SettingsCount() > 0) ListView_RedrawItems(FList, 0, FDeviceManager.SettingsCount() - 1);
  InvalidateRect(FList, nullptr, TRUE);
}

void TfrmSettingsList::ShowStatus(int Index) {
  const TSettingStruct* setting = FDeviceManager.Settings(Index);
  SetDlgItemTextW(FHandle, IDC_STATUS, setting ? setting->Description.c_str() : L"");
}

void TfrmSettingsList::BeginEdit() {
  if (IsWindowVisible(FEditControl)) return;
  const int index = SelectedIndex();
  if (index < 0) return;
  const TSettingStruct* setting = FDeviceManager.Settings(index);
  if (!setting) return;
  if (setting->ValueType == dtBoolean) {
    FEditControl = FCbEdit;
    const VARIANT* v = InnermostVariant(&setting->Value.Get());
    const bool isTrue = v->vt == VT_BOOL && v->boolVal;
    SendMessageW(FCbEdit, CB_SETCURSEL, isTrue ? 1 : 0, 0);
  } else {
    FEditControl = FEdEdit;
    SetWindowTextW(FEdEdit, SettingValueText(setting->Value).c_str());
  }
  FEditIndex = index;
  const int focused = ListView_GetNextItem(FList, -1, LVNI_FOCUSED);
  // Over the value cell, in the screen's scale.
  RECT cell{};
  ListView_GetSubItemRect(FList, focused >= 0 ? focused : index, 1, LVIR_BOUNDS, &cell);
  const int left = cell.left + DluToPixelsX(FHandle, 2);
  const int height = cell.bottom - cell.top + DluToPixelsY(FHandle, 4);
  const int width = ListView_GetColumnWidth(FList, 1);
  // A drop-down list's window height includes its list.
  const int windowHeight = FEditControl == FCbEdit ? height * 4 : height;
  SetWindowPos(FEditControl, HWND_TOP, left, cell.top, width, windowHeight, SWP_SHOWWINDOW);
  // The editor takes the focus, so typing goes into it at once.
  SetFocus(FEditControl);
  if (FEditControl == FEdEdit) SendMessageW(FEdEdit, EM_SETSEL, 0, -1);
}

bool TfrmSettingsList::EndEdit(bool Discard) {
  if (FEnding || !IsWindowVisible(FEditControl)) return true;
  // The row the editor was opened on: when the selection moves, the new row is already selected.
  const int index = FEditIndex;
  TSettingStruct* setting = FDeviceManager.Settings(index);
  if (setting && !Discard && FEditControl == FEdEdit && setting->ValueType == dtNumber) {
    // The driver reads its numbers as 32-bit integers: a fraction would be rounded unseen.
    int32_t number = 0;
    if (!TryTextToInt32(WindowText(FEdEdit), number)) {
      // Not silently 0: the value stays, the text stays in the editor, and the user is told.
      if (!FRefusing) {
        FRefusing = true;
        PostMessageW(FHandle, WM_SAY_REFUSED, 0, 0);
      }
      return false;
    }
  }
  FEnding = true;
  if (setting && !Discard) {
    if (FEditControl == FCbEdit)
      setting->Value = TVariant::FromBool(SendMessageW(FCbEdit, CB_GETCURSEL, 0, 0) == 1);
    else
      setting->Value = TBaseObject::TextToSettingValue(setting->ValueType, WindowText(FEdEdit));
    RefreshRow(index);
  }
  ShowWindow(FEditControl, SW_HIDE);
  SetFocus(FList);
  FEnding = false;
  return true;
}

bool TfrmSettingsList::OnNotify(NMHDR* Header, LRESULT& Result) {
  if (Header->hwndFrom != FList) return false;
  switch (Header->code) {
    case LVN_GETDISPINFOW: {
      auto* info = reinterpret_cast<NMLVDISPINFOW*>(Header);
      const TSettingStruct* setting = FDeviceManager.Settings(info->item.iItem);
      if (setting && (info->item.mask & LVIF_TEXT)) {
        switch (info->item.iSubItem) {
          case 0: FCellText = setting->Name; break;
          case 1: FCellText = SettingValueText(setting->Value); break;
          case 2: FCellText = SettingValueText(setting->Default); break;
          default: FCellText.clear();
        }
        lstrcpynW(info->item.pszText, FCellText.c_str(), info->item.cchTextMax);
      }
      return true;
    }
    case LVN_ITEMCHANGED: {
      auto* change = reinterpret_cast<NMLISTVIEW*>(Header);
      EndEdit(false);
      if (change->iItem >= 0 && (change->uNewState & LVIS_SELECTED)) ShowStatus(change->iItem);
      return true;
    }
    case NM_DBLCLK:
      BeginEdit();
      return true;
    default:
      break;
  }
  (void)Result;
  return false;
}

void TfrmSettingsList::OnCommand(int ID) {
  switch (ID) {
    case IDM_EDIT:
      BeginEdit();
      break;
    case IDM_ROWDEFAULT: {
      const int index = SelectedIndex();
      if (TSettingStruct* setting = FDeviceManager.Settings(index)) {
        setting->Value = setting->Default;
        RefreshRow(index);
      }
      break;
    }
    case IDC_DEFAULT:
      EndEdit(true);
      FDeviceManager.SetAllSettingsDefault();
      RefreshAll();
      break;
    case IDOK:
    case IDCANCEL:
      if (!EndEdit(ID == IDCANCEL)) break;  // a refused value keeps the list open
      EndDialog(FHandle, ID);
      break;
    default:
      break;
  }
}

INT_PTR TfrmSettingsList::OnDialogMessage(UINT Msg, WPARAM wParam, LPARAM lParam) {
  switch (Msg) {
    case WM_NOTIFY: {
      LRESULT result = 0;
      if (!OnNotify(reinterpret_cast<NMHDR*>(lParam), result)) return FALSE;
      SetMessageResult(result);
      return TRUE;
    }
    case WM_COMMAND:
      OnCommand(LOWORD(wParam));
      return TRUE;
    case WM_CLOSE:
      OnCommand(IDCANCEL);
      return TRUE;
    case WM_CONTEXTMENU:
      if (reinterpret_cast<HWND>(wParam) != FList) return FALSE;
      ShowRowMenu(lParam);
      return TRUE;
    case WM_HELP:
      OnHelp(*reinterpret_cast<HELPINFO*>(lParam));
      return TRUE;
    case WM_SAY_REFUSED:
      SayRefused();
      return TRUE;
    default:
      return FALSE;
  }
}

LRESULT CALLBACK TfrmSettingsList::ListProc(HWND Wnd, UINT Msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                            DWORD_PTR Data) noexcept {
  auto* self = reinterpret_cast<TfrmSettingsList*>(Data);
  try {
    switch (Msg) {
      case WM_GETDLGCODE:
        // Enter opens the editor instead of pressing OK.
        if (lParam && reinterpret_cast<MSG*>(lParam)->message == WM_KEYDOWN &&
            reinterpret_cast<MSG*>(lParam)->wParam == VK_RETURN)
          return DLGC_WANTALLKEYS;
        break;
      case WM_KEYDOWN:
        if (wParam == VK_RETURN || wParam == VK_F2) {
          self->BeginEdit();
          return 0;
        }
        if (wParam == VK_ESCAPE && IsWindowVisible(self->FEditControl)) {
          self->EndEdit(false);
          return 0;
        }
        break;
      case WM_NCDESTROY:
        RemoveWindowSubclass(Wnd, &ListProc, 1);
        break;
      default:
        break;
    }
  } catch (...) {
    SayCaughtError(Wnd);
    return 0;
  }
  return DefSubclassProc(Wnd, Msg, wParam, lParam);
}

LRESULT CALLBACK TfrmSettingsList::EditorProc(HWND Wnd, UINT Msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                              DWORD_PTR Data) noexcept {
  auto* self = reinterpret_cast<TfrmSettingsList*>(Data);
  try {
    switch (Msg) {
      case WM_GETDLGCODE: {
        // Enter and Escape belong to the editor; Tab and the rest to the dialog, so Tab leaves
        // the editor (and leaving commits).
        const LRESULT code = DefSubclassProc(Wnd, Msg, wParam, lParam) & ~(DLGC_WANTTAB | DLGC_WANTALLKEYS);
        const MSG* msg = reinterpret_cast<const MSG*>(lParam);
        if (msg && (msg->message == WM_KEYDOWN || msg->message == WM_CHAR) &&
            (msg->wParam == VK_RETURN || msg->wParam == VK_ESCAPE))
          return code | DLGC_WANTMESSAGE;
        return code;
      }
      case WM_KEYDOWN:
        if (wParam == VK_RETURN) {
          if (IsWindowVisible(Wnd))
            self->EndEdit(false);
          else
            self->BeginEdit();
          return 0;
        }
        if (wParam == VK_ESCAPE && IsWindowVisible(Wnd)) {
          self->EndEdit(true);
          return 0;
        }
        break;
      case WM_CHAR:
        if (wParam == L'\r' || wParam == 27) return 0;  // no beep for the keys handled above
        break;
      case WM_KILLFOCUS:
        // The combo's own drop-down list takes the focus while it is open; that is not leaving.
        if (Wnd == self->FCbEdit && SendMessageW(Wnd, CB_GETDROPPEDSTATE, 0, 0)) break;
        self->EndEdit(false);
        break;
      case WM_NCDESTROY:
        RemoveWindowSubclass(Wnd, &EditorProc, 1);
        break;
      default:
        break;
    }
  } catch (...) {
    SayCaughtError(Wnd);
    return 0;
  }
  return DefSubclassProc(Wnd, Msg, wParam, lParam);
}
