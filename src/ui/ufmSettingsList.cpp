#include "ufmSettingsList.h"

#include <commctrl.h>

#include "uBaseSettingsDeviceFrm.h"
#include "uUiResources.h"

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
  return DialogBoxParamW(UiModule(), MAKEINTRESOURCEW(IDD_SETTINGS_LIST), Owner, &DialogProc,
                         reinterpret_cast<LPARAM>(this));
}

void TfrmSettingsList::InitDialog() {
  SendMessageW(FHandle, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(LoadIconW(nullptr, IDI_APPLICATION)));
  FList = GetDlgItem(FHandle, IDC_SETTINGS);
  ListView_SetExtendedListViewStyle(FList, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_FLATSB);
  const struct {
    const wchar_t* Caption;
    int Width;
  } columns[] = {{L"Наименование", 190}, {L"Значение", 90}, {L"По-умолчанию", 90}};
  for (int i = 0; i < 3; ++i) {
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = const_cast<wchar_t*>(columns[i].Caption);
    column.cx = columns[i].Width;
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
  RefreshAll();
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
  RECT row{};
  ListView_GetItemRect(FList, focused >= 0 ? focused : index, &row, LVIR_BOUNDS);
  const int left = ListView_GetColumnWidth(FList, 0) + row.left + 3;
  const int height = row.bottom - row.top + 7;
  const int width = ListView_GetColumnWidth(FList, 1);
  // A drop-down list's window height includes its list.
  const int windowHeight = FEditControl == FCbEdit ? height + 60 : height;
  SetWindowPos(FEditControl, HWND_TOP, left, row.top, width, windowHeight, SWP_SHOWWINDOW);
  // The editor takes the focus, so typing goes into it at once.
  SetFocus(FEditControl);
  if (FEditControl == FEdEdit) SendMessageW(FEdEdit, EM_SETSEL, 0, -1);
}

void TfrmSettingsList::EndEdit(bool Discard) {
  if (FEnding || !IsWindowVisible(FEditControl)) return;
  FEnding = true;
  // The row the editor was opened on: when the selection moves, the new row is already selected.
  const int index = FEditIndex;
  if (TSettingStruct* setting = FDeviceManager.Settings(index); setting && !Discard) {
    if (FEditControl == FCbEdit)
      setting->Value = TVariant::FromBool(SendMessageW(FCbEdit, CB_GETCURSEL, 0, 0) == 1);
    else
      setting->Value = TBaseObject::TextToSettingValue(setting->ValueType, WindowText(FEdEdit));
    RefreshRow(index);
  }
  ShowWindow(FEditControl, SW_HIDE);
  SetFocus(FList);
  FEnding = false;
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
    case NM_RCLICK: {
      HMENU menu = CreatePopupMenu();
      AppendMenuW(menu, MF_STRING, IDM_EDIT, L"Редактировать");
      AppendMenuW(menu, MF_STRING, IDM_ROWDEFAULT, L"По-умолчанию");
      POINT at{};
      GetCursorPos(&at);
      TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_TOPALIGN, at.x, at.y, 0, FHandle, nullptr);
      DestroyMenu(menu);
      return true;
    }
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
      EndEdit(ID == IDCANCEL);
      EndDialog(FHandle, ID);
      break;
    default:
      break;
  }
}

INT_PTR CALLBACK TfrmSettingsList::DialogProc(HWND Wnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  if (Msg == WM_INITDIALOG) {
    auto* self = reinterpret_cast<TfrmSettingsList*>(lParam);
    SetWindowLongPtrW(Wnd, DWLP_USER, lParam);
    self->FHandle = Wnd;
    try {
      self->InitDialog();
    } catch (...) {
      EndDialog(Wnd, IDCANCEL);
    }
    return TRUE;
  }
  auto* self = reinterpret_cast<TfrmSettingsList*>(GetWindowLongPtrW(Wnd, DWLP_USER));
  if (!self) return FALSE;
  try {
    switch (Msg) {
      case WM_NOTIFY: {
        LRESULT result = 0;
        if (!self->OnNotify(reinterpret_cast<NMHDR*>(lParam), result)) return FALSE;
        SetWindowLongPtrW(Wnd, DWLP_MSGRESULT, result);
        return TRUE;
      }
      case WM_COMMAND:
        self->OnCommand(LOWORD(wParam));
        return TRUE;
      case WM_CLOSE:
        self->OnCommand(IDCANCEL);
        return TRUE;
      default:
        return FALSE;
    }
  } catch (...) {
    return FALSE;
  }
}

LRESULT CALLBACK TfrmSettingsList::ListProc(HWND Wnd, UINT Msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR Data) {
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
    return 0;
  }
  return DefSubclassProc(Wnd, Msg, wParam, lParam);
}

LRESULT CALLBACK TfrmSettingsList::EditorProc(HWND Wnd, UINT Msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                              DWORD_PTR Data) {
  auto* self = reinterpret_cast<TfrmSettingsList*>(Data);
  try {
    switch (Msg) {
      case WM_GETDLGCODE:
        return DLGC_WANTALLKEYS | DefSubclassProc(Wnd, Msg, wParam, lParam);
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
    return 0;
  }
  return DefSubclassProc(Wnd, Msg, wParam, lParam);
}
