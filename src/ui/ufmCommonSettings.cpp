#include "ufmCommonSettings.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <uxtheme.h>

#include <algorithm>

#include "host/uDebugLog.h"
#include "host/uEquipment.h"
#include "host/uResultCodes.h"
#include "platform/uExceptions.h"
#include "platform/uFiles.h"
#include "uUiResources.h"
#include "uUiStrings.h"
#include "ufmSettingsList.h"

namespace {

constexpr int kPagesHelpContext = 10000;

THtmlHelpCall& HtmlHelpCall() {
  static THtmlHelpCall call;
  return call;
}

TShellOpenCall& ShellOpenCall() {
  static TShellOpenCall call;
  return call;
}

void ShellOpen(HWND Caller, const std::wstring& File) {
  if (const TShellOpenCall& call = ShellOpenCall()) {
    call(Caller, File);
    return;
  }
  ShellExecuteW(Caller, nullptr, File.c_str(), nullptr, nullptr, SW_RESTORE);
}

void CallHtmlHelp(HWND Caller, const std::wstring& File, UINT Command, const HH_POPUP* Popup) {
  if (const THtmlHelpCall& call = HtmlHelpCall()) {
    call(Caller, File, Command, Popup);
    return;
  }
  // The viewer is loaded only when help is asked for.
  using THtmlHelpW = HWND(WINAPI*)(HWND, LPCWSTR, UINT, DWORD_PTR);
  static HMODULE viewer = LoadLibraryW(L"hhctrl.ocx");
  if (!viewer) return;
  auto htmlHelp = reinterpret_cast<THtmlHelpW>(reinterpret_cast<void*>(GetProcAddress(viewer, "HtmlHelpW")));
  if (htmlHelp)
    htmlHelp(Caller, File.empty() ? nullptr : File.c_str(), Command, reinterpret_cast<DWORD_PTR>(Popup));
}

// The information tab: six bold captions and their values; the contact row takes the rest of
// the height.
class TfrmInfoPage : public TfrmBaseSettings {
public:
  explicit TfrmInfoPage(TBaseDevice& Device) : TfrmBaseSettings(Device, IDD_INFO_PAGE) {}
  void OnCreateFrm() override {
    FBold.Reset(CreateBoldFontOf(Handle()));
    for (int i = 0; i < 6; ++i)
      SendDlgItemMessageW(Handle(), IDC_INFO_CAPTION_FIRST + i, WM_SETFONT, reinterpret_cast<WPARAM>(FBold.Get()), FALSE);
  }
  bool OnMessage(UINT Msg, WPARAM, LPARAM) override {
    if (Msg != WM_SIZE) return false;
    StretchToRight({IDC_TYPEINFO, IDC_MODELINFO, IDC_VERINFO, IDC_DEVELOPERINFO, IDC_DESCRIPTIONINFO, IDC_CONTACTINFO}, 6);
    HWND contact = GetDlgItem(Handle(), IDC_CONTACTINFO);
    RECT client{}, r{};
    GetClientRect(Handle(), &client);
    GetWindowRect(contact, &r);
    MapWindowPoints(nullptr, Handle(), reinterpret_cast<POINT*>(&r), 2);
    const int bottom = client.bottom - DluToPixelsY(Handle(), 4);
    SetWindowPos(contact, nullptr, 0, 0, r.right - r.left, std::max<int>(bottom - r.top, DluToPixelsY(Handle(), 10)),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    return false;
  }
  void Fill() {
    const TDeviceInfoStruct& info = DeviceManager().DeviceInfo();
    SetItemText(IDC_TYPEINFO, EquipmentTypeCaption(info.TypeName));
    SetItemText(IDC_MODELINFO, info.ModelName);
    SetItemText(IDC_VERINFO, DeviceManager().GetDeviceVersion());
    SetItemText(IDC_DEVELOPERINFO, info.DeveloperName);
    SetItemText(IDC_DESCRIPTIONINFO, info.Description);
    SetItemText(IDC_CONTACTINFO, ContactText(info));
  }

private:
  TGdiObject FBold;
};

struct TWaitCursor {
  HCURSOR Old = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  ~TWaitCursor() { SetCursor(Old); }
};

// Common controls 6 for the dialogs, from the manifest in this module's resources.
class TControlsContext {
public:
  TControlsContext() {
    ACTCTXW context{};
    context.cbSize = sizeof(context);
    context.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
    context.hModule = UiModule();
    context.lpResourceName = MAKEINTRESOURCEW(IDR_UI_MANIFEST);
    FContext = CreateActCtxW(&context);
    if (FContext != INVALID_HANDLE_VALUE && !ActivateActCtx(FContext, &FCookie)) FCookie = 0;
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
  }
  ~TControlsContext() {
    if (FCookie) DeactivateActCtx(0, FCookie);
    if (FContext != INVALID_HANDLE_VALUE) ReleaseActCtx(FContext);
  }
  TControlsContext(const TControlsContext&) = delete;
  TControlsContext& operator=(const TControlsContext&) = delete;

private:
  HANDLE FContext = INVALID_HANDLE_VALUE;
  ULONG_PTR FCookie = 0;
};

// The hints of the controls that have one (shown as tool tips and as context help).
std::wstring HintOf(int ID) {
  switch (ID) {
    case IDC_PAGES: return kSPagesHint;
    case IDC_MORE: return kSMoreHint;
    case IDOK: return kSSaveAndCloseHint;
    case IDCANCEL: return kSCloseWithoutSavingHint;
    default: return {};
  }
}

// The dialog whose keys the thread's message filter looks at (one settings dialog per thread).
thread_local TfrmCommonSettings* tKeyDialog = nullptr;

// A small copy of a system icon as a menu item's picture (32 bits with alpha).
HBITMAP MenuImageOf(LPCWSTR Icon) {
  const int cx = GetSystemMetrics(SM_CXSMICON), cy = GetSystemMetrics(SM_CYSMICON);
  HICON icon = static_cast<HICON>(LoadImageW(nullptr, Icon, IMAGE_ICON, cx, cy, LR_SHARED));
  if (!icon) return nullptr;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = cx;
  info.bmiHeader.biHeight = -cy;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC dc = CreateCompatibleDC(screen);
  ReleaseDC(nullptr, screen);
  if (bitmap && dc) {
    HGDIOBJ old = SelectObject(dc, bitmap);
    DrawIconEx(dc, 0, 0, icon, cx, cy, 0, nullptr, DI_NORMAL);
    SelectObject(dc, old);
  }
  if (dc) DeleteDC(dc);
  return bitmap;
}

// The page's background as the themed tab draws it (uxtheme may be missing: then plain).
void EnableTabTexture(HWND Page) {
  using TEnableThemeDialogTexture = HRESULT(WINAPI*)(HWND, DWORD);
  static HMODULE theme = LoadLibraryW(L"uxtheme.dll");
  if (!theme) return;
  auto enable = reinterpret_cast<TEnableThemeDialogTexture>(
      reinterpret_cast<void*>(GetProcAddress(theme, "EnableThemeDialogTexture")));
  if (enable) enable(Page, ETDT_ENABLETAB);
}


}  // namespace

void SetHtmlHelpCall(THtmlHelpCall Call) { HtmlHelpCall() = std::move(Call); }

void SetShellOpenCall(TShellOpenCall Call) { ShellOpenCall() = std::move(Call); }

void ShowHelpPopup(HWND Caller, const std::wstring& Text, POINT At) {
  HH_POPUP popup{};
  popup.cbStruct = sizeof(popup);
  popup.clrForeground = RGB(0, 0, 0);
  popup.clrBackground = 0xEEFFFF;
  popup.rcMargins = {5, 5, 5, 5};
  popup.pt = At;
  popup.pszText = Text.empty() ? nullptr : Text.c_str();
  CallHtmlHelp(Caller, L"", HH_DISPLAY_TEXT_POPUP, &popup);
}

HFONT CreateBoldFontOf(HWND Wnd) {
  LOGFONTW bold{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(Wnd, WM_GETFONT, 0, 0)), sizeof(bold), &bold);
  bold.lfWeight = FW_BOLD;
  return CreateFontIndirectW(&bold);
}

void RegisterSettingsDialogs() {
  RegisterSettingsDialog([](TBaseDevice& device, const std::vector<TSettingsPageClass>& pages, bool noDeviceTest) {
    TControlsContext controls;
    TfrmCommonSettings dialog(device, pages);
    dialog.SetCapDeviceTest(!noDeviceTest);
    return dialog.ShowModal() == IDOK;
  });
}

TfrmCommonSettings::TfrmCommonSettings(TBaseDevice& ADeviceManager, const std::vector<TSettingsPageClass>& PageClasses)
    : FDeviceManager(ADeviceManager), FPageClasses(PageClasses) {}

TfrmCommonSettings::~TfrmCommonSettings() {
  if (FKeyFilter) UnhookWindowsHookEx(FKeyFilter);
  if (tKeyDialog == this) tKeyDialog = nullptr;
}

INT_PTR TfrmCommonSettings::ShowModal() {
  return RunModal(IDD_COMMON_SETTINGS, nullptr);
}

TfrmCommonSettings::TBusy::TBusy(TfrmCommonSettings& Dialog) : FDialog(Dialog), FFocus(GetFocus()) {
  FDialog.FBusy = true;
  EnableWindow(FDialog.FHandle, FALSE);
}

TfrmCommonSettings::TBusy::~TBusy() {
  EnableWindow(FDialog.FHandle, TRUE);
  FDialog.FBusy = false;
  // A box without an owner hands the activation elsewhere when it closes.
  SetForegroundWindow(FDialog.FHandle);
  if (FFocus && IsChild(FDialog.FHandle, FFocus)) SetFocus(FFocus);
}

void TfrmCommonSettings::OnInitDialog() {
  // Cancel brings back every value as it was now, whatever the dialog did in between.
  FOpenSnapshot.clear();
  for (int i = 0; i < FDeviceManager.SettingsCount(); ++i)
    FOpenSnapshot.push_back({FDeviceManager.Settings(i)->ID, FDeviceManager.Settings(i)->Value});

  FTabs = GetDlgItem(FHandle, IDC_PAGES);
  SetWindowContextHelpId(FTabs, kPagesHelpContext);
  SetWindowContextHelpId(GetDlgItem(FHandle, IDC_MORE), 1000);
  SetWindowContextHelpId(GetDlgItem(FHandle, IDOK), 1001);
  SetWindowContextHelpId(GetDlgItem(FHandle, IDCANCEL), 1002);

  for (const TSettingsPageClass& pageClass : FPageClasses) {
    if (!pageClass) continue;
    std::unique_ptr<TfrmBaseSettings> page = pageClass(FDeviceManager);
    page->CreateFrm(FHandle, this);
    AddPage(std::move(page));
  }
  // The information tab, always last.
  auto info = std::make_unique<TfrmInfoPage>(FDeviceManager);
  info->CreateFrm(FHandle, nullptr);
  info->Fill();
  TCITEMW item{};
  item.mask = TCIF_TEXT;
  std::wstring caption = info->Caption();
  item.pszText = caption.data();
  TabCtrl_InsertItem(FTabs, TabCtrl_GetItemCount(FTabs), &item);
  FInfoPage = std::move(info);

  const TDeviceInfoStruct& deviceInfo = FDeviceManager.DeviceInfo();
  SetDlgItemTextW(FHandle, IDC_MODELNAME, deviceInfo.ModelName.c_str());
  SetDlgItemTextW(FHandle, IDC_DRIVERVERSION, FDeviceManager.GetDeviceVersion().c_str());
  FCI_www = deviceInfo.CI_www;
  // The model name in bold.
  FBoldFont.Reset(CreateBoldFontOf(FHandle));
  SendDlgItemMessageW(FHandle, IDC_MODELNAME, WM_SETFONT, reinterpret_cast<WPARAM>(FBoldFont.Get()), FALSE);
  EnableTabTexture(FInfoPage->Handle());

  AddHints();
  ReadPages();
  Layout();
  // Everything fits at the size the template (in dialog units) and the pages give: the least.
  RECT window{};
  GetWindowRect(FHandle, &window);
  FMinTrack = {window.right - window.left, window.bottom - window.top};
  TabCtrl_SetCurSel(FTabs, 0);
  ShowPage(0);
  if (TabCtrl_GetItemCount(FTabs) == 1) FCapSetDefault = false;
  FHelpEnabled = HelpFileExists();
  FCapShowHelp = FHelpEnabled;
  MakeMenuImages();
  // Ctrl+Tab and Ctrl+PgDn/PgUp switch tabs, as in a property sheet: the dialog's own modal
  // loop passes its messages through the thread's message filter.
  tKeyDialog = this;
  FKeyFilter = SetWindowsHookExW(WH_MSGFILTER, &KeyFilter, nullptr, GetCurrentThreadId());

  SetForegroundWindow(FHandle);
}

void TfrmCommonSettings::MakeMenuImages() {
  FHelpImage.Reset(MenuImageOf(IDI_QUESTION));
  FActionImage.Reset(MenuImageOf(IDI_APPLICATION));
}

LRESULT CALLBACK TfrmCommonSettings::KeyFilter(int Code, WPARAM wParam, LPARAM lParam) noexcept {
  TfrmCommonSettings* self = tKeyDialog;
  if (Code == MSGF_DIALOGBOX && self && !self->FBusy) {
    const MSG* msg = reinterpret_cast<const MSG*>(lParam);
    const bool ours = msg->hwnd == self->FHandle || IsChild(self->FHandle, msg->hwnd);
    if (ours && msg->message == WM_KEYDOWN && GetKeyState(VK_CONTROL) < 0 &&
        (msg->wParam == VK_TAB || msg->wParam == VK_NEXT || msg->wParam == VK_PRIOR)) {
      const bool back = msg->wParam == VK_PRIOR || (msg->wParam == VK_TAB && GetKeyState(VK_SHIFT) < 0);
      // The hook runs inside Windows' modal loop: a failure is said, as the dialog says its own.
      try {
        const int count = TabCtrl_GetItemCount(self->FTabs);
        if (count > 0) self->SelectTab((TabCtrl_GetCurSel(self->FTabs) + (back ? count - 1 : 1)) % count);
      } catch (...) {
        try {
          self->ErrorBox(CaughtErrorText());
        } catch (...) {
        }
      }
      return TRUE;
    }
  }
  return CallNextHookEx(nullptr, Code, wParam, lParam);
}

void TfrmCommonSettings::SelectTab(int Index) {
  HWND focus = GetFocus();
  const bool inPage = focus && focus != FTabs && IsChild(FHandle, focus) && GetParent(focus) != FHandle;
  TabCtrl_SetCurSel(FTabs, Index);
  ShowPage(Index);
  // Focus that was in the page now hidden goes to the first control of the page shown.
  if (inPage) {
    HWND page = Index < static_cast<int>(FPages.size()) ? FPages[Index]->Handle() : FInfoPage ? FInfoPage->Handle() : nullptr;
    HWND first = page ? GetNextDlgTabItem(page, nullptr, FALSE) : nullptr;
    SetFocus(first ? first : FTabs);
  }
}

void TfrmCommonSettings::AddHints() {
  HWND tips = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, 0, 0, 0,
                              0, FHandle, nullptr, UiModule(), nullptr);
  if (!tips) return;
  auto add = [&](HWND control) {
    std::wstring hint = ControlHint(control);
    if (hint.empty()) return;
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = GetParent(control);
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.lpszText = hint.data();
    SendMessageW(tips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  };
  for (int id : {IDC_PAGES, IDC_MORE, IDOK, IDCANCEL}) add(GetDlgItem(FHandle, id));
  for (const auto& page : FPages)
    for (HWND control = GetWindow(page->Handle(), GW_CHILD); control; control = GetWindow(control, GW_HWNDNEXT))
      add(control);
}

void TfrmCommonSettings::AddPage(std::unique_ptr<TfrmBaseSettings> Page) {
  TCITEMW item{};
  item.mask = TCIF_TEXT;
  std::wstring caption = Page->Caption();
  item.pszText = caption.data();
  TabCtrl_InsertItem(FTabs, static_cast<int>(FPages.size()), &item);
  SetWindowContextHelpId(Page->Handle(), 0);
  EnableTabTexture(Page->Handle());
  FPages.push_back(std::move(Page));
}

// Remembers where the template put the shell's controls, for Arrange.
void TfrmCommonSettings::RecordAnchors() {
  RECT client{};
  GetClientRect(FHandle, &client);
  FBaseClient = {client.right, client.bottom};
  for (TAnchor& anchor : FAnchors) {
    GetWindowRect(GetDlgItem(FHandle, anchor.ID), &anchor.Base);
    MapWindowPoints(nullptr, FHandle, reinterpret_cast<POINT*>(&anchor.Base), 2);
  }
  FAnchored = true;
}

// Places the shell's controls for the current client size and the pages in the tab area.
void TfrmCommonSettings::Arrange() {
  if (!FAnchored) return;
  RECT client{};
  GetClientRect(FHandle, &client);
  const LONG dw = client.right - FBaseClient.x, dh = client.bottom - FBaseClient.y;
  for (const TAnchor& anchor : FAnchors) {
    RECT r = anchor.Base;
    if (anchor.Right) r.left += dw;
    if (anchor.Right || anchor.StretchX) r.right += dw;
    if (anchor.Bottom) r.top += dh;
    if (anchor.Bottom || anchor.StretchY) r.bottom += dh;
    SetWindowPos(GetDlgItem(FHandle, anchor.ID), nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  RECT display{};
  GetWindowRect(FTabs, &display);
  MapWindowPoints(nullptr, FHandle, reinterpret_cast<POINT*>(&display), 2);
  TabCtrl_AdjustRect(FTabs, FALSE, &display);
  // Right after the tab strip in the order of the dialog's children, so that Tab goes from the
  // strip into the page and then to the buttons (the strip clips itself around the page).
  auto place = [&](const TfrmBaseSettings& page) {
    SetWindowPos(page.Handle(), FTabs, display.left, display.top, display.right - display.left,
                 display.bottom - display.top, SWP_NOACTIVATE);
  };
  for (const auto& page : FPages) place(*page);
  if (FInfoPage) place(*FInfoPage);
  InvalidateRect(FHandle, nullptr, TRUE);
}

// Grows the dialog (never shrinks it) so that the largest page fits the tab area.
void TfrmCommonSettings::Layout() {
  RecordAnchors();
  RECT display{};
  GetClientRect(FTabs, &display);
  TabCtrl_AdjustRect(FTabs, FALSE, &display);
  LONG needW = 0, needH = 0;
  auto measure = [&](const TfrmBaseSettings& page) {
    RECT r{};
    GetClientRect(page.Handle(), &r);
    needW = std::max(needW, r.right);
    needH = std::max(needH, r.bottom);
  };
  for (const auto& page : FPages) measure(*page);
  if (FInfoPage) measure(*FInfoPage);
  const LONG dw = std::max<LONG>(0, needW - (display.right - display.left));
  const LONG dh = std::max<LONG>(0, needH - (display.bottom - display.top));
  if (dw || dh) {
    RECT window{};
    GetWindowRect(FHandle, &window);
    const LONG width = window.right - window.left + dw, height = window.bottom - window.top + dh;
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    // Centred again with the new size.
    SetWindowPos(FHandle, nullptr, work.left + (work.right - work.left - width) / 2,
                 work.top + (work.bottom - work.top - height) / 2, width, height, SWP_NOZORDER);
  }
  Arrange();
}

void TfrmCommonSettings::ShowPage(int Index) {
  for (size_t i = 0; i < FPages.size(); ++i)
    ShowWindow(FPages[i]->Handle(), static_cast<int>(i) == Index ? SW_SHOW : SW_HIDE);
  if (FInfoPage) ShowWindow(FInfoPage->Handle(), Index == static_cast<int>(FPages.size()) ? SW_SHOW : SW_HIDE);
}

void TfrmCommonSettings::NotifyPages(const std::wstring& Msg, const std::wstring& Data) {
  for (const auto& page : FPages) page->OnNotify(Msg, Data);
}

void TfrmCommonSettings::ReadPages() {
  for (const auto& page : FPages) page->OnReadSettings();
}

bool TfrmCommonSettings::SavePages() {
  for (const auto& page : FPages) {
    bool allowClose = true;
    page->OnSaveSettings(allowClose);
    if (!allowClose) return false;
    page->OnSaveSettings();
  }
  return true;
}

bool TfrmCommonSettings::HelpFileExists() {
  std::wstring module = ThisModuleFileName();
  const size_t slash = module.find_last_of(L"\\/");
  FHelpFile = (slash == std::wstring::npos ? std::wstring() : module.substr(0, slash + 1)) + L"help" + L".chm";
  const DWORD attributes = GetFileAttributesW(FHelpFile.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring TfrmCommonSettings::GetHelpByID(int ID) {
  switch (ID) {
    case 1000:
      return kSMoreHelp;
    case 1001: return kSOkHelp;
    case 1002: return kSCancelHelp;
    case 1003: return kSPagesHint;
    default: return {};
  }
}

std::wstring TfrmCommonSettings::GetControlHintByPos() {
  HWND control = nullptr;
  if (GetKeyState(VK_F1) < 0) {
    control = GetFocus();
  } else {
    POINT at{};
    GetCursorPos(&at);
    // The page shown lies over the tab strip, which comes first among the dialog's children.
    auto under = [&](const TfrmBaseSettings* page) {
      RECT r{};
      if (!control && page && IsWindowVisible(page->Handle()) && GetWindowRect(page->Handle(), &r) && PtInRect(&r, at))
        control = page->Handle();
    };
    for (const auto& page : FPages) under(page.get());
    under(FInfoPage.get());
    // Disabled controls count too (no CWP_SKIPDISABLED).
    POINT client = at;
    ScreenToClient(FHandle, &client);
    if (!control) control = ChildWindowFromPointEx(FHandle, client, CWP_SKIPINVISIBLE | CWP_SKIPTRANSPARENT);
    // Into a page, down to its control.
    for (int depth = 0; control && control != FHandle && depth < 4; ++depth) {
      POINT inner = at;
      ScreenToClient(control, &inner);
      HWND child = ChildWindowFromPointEx(control, inner, CWP_SKIPINVISIBLE | CWP_SKIPTRANSPARENT);
      if (!child || child == control) break;
      control = child;
    }
    if (control == FHandle) control = nullptr;
  }
  if (!control) return {};
  RECT r{};
  GetWindowRect(control, &r);
  FPopupPos = {r.left, r.top};
  return ControlHint(control);
}

std::wstring TfrmCommonSettings::ControlHint(HWND Control) const {
  // A page's control is the page's to name: another device's page may reuse any control ID.
  for (const auto& page : FPages)
    if (IsChild(page->Handle(), Control)) return page->Hint(GetDlgCtrlID(Control));
  if (FInfoPage && IsChild(FInfoPage->Handle(), Control)) return FInfoPage->Hint(GetDlgCtrlID(Control));
  return GetParent(Control) == FHandle ? HintOf(GetDlgCtrlID(Control)) : L"";
}

bool TfrmCommonSettings::FormHelp(UINT Command, DWORD_PTR Data) {
  if (Command == 13) {  // the position of the next popup
    FPopupPos = {static_cast<LONG>(static_cast<short>(LOWORD(Data))), static_cast<LONG>(static_cast<short>(HIWORD(Data)))};
    return true;
  }
  if (Command != 8) return true;  // every other command is handled by doing nothing
  const int id = static_cast<int>(Data);
  if (id >= 1000 || !FHelpEnabled || id <= 0) {
    const std::wstring text = id == kPagesHelpContext ? GetControlHintByPos() : id >= 1000 ? GetHelpByID(id) : L"";
    ShowHelpPopup(FHandle, text, FPopupPos);
    return true;
  }
  // A topic of the help file's text popups.
  HH_POPUP popup{};
  popup.cbStruct = sizeof(popup);
  popup.clrForeground = RGB(0, 0, 0);
  popup.clrBackground = 0xEEFFFF;
  popup.rcMargins = {5, 5, 5, 5};
  popup.idString = static_cast<UINT>(id);
  popup.pt = FPopupPos;
  CallHtmlHelp(FHandle, FHelpFile + L"::/popups.txt", HH_DISPLAY_TEXT_POPUP, &popup);
  return true;
}

HMENU TfrmCommonSettings::BuildAdditionalMenu() {
  // Asked again each time the menu opens. A value the host left unreadable (Null, say) hides
  // the log entries; the menu still opens, so the settings list can put the value right.
  try {
    FCapOpenDebugLog = FDeviceManager.GetSettingValueBool(kSettingDebugLogEnabled);
  } catch (const Exception&) {
    FCapOpenDebugLog = false;
  }
  HMENU menu = CreatePopupMenu();
  if (FCapSetDefault) AppendMenuW(menu, MF_STRING, IDM_RESET, kSMenuReset);
  if (FCapDeviceTest) AppendMenuW(menu, MF_STRING, IDM_DEVICETEST, kSMenuDeviceTest);
  AppendMenuW(menu, MF_STRING, IDM_SETTINGSLIST, kSMenuSettingsList);
  if (FCapOpenDebugLog) {
    HMENU logs = CreatePopupMenu();
    AppendMenuW(logs, MF_STRING, IDM_OPENCURRENTLOG, kSMenuCurrentDebugLog);
    AppendMenuW(logs, MF_STRING, IDM_OPENLOGFOLDER, kSMenuDebugLogFolder);
    AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(logs), kSMenuDebugLogs);
  }
  // The pictures share the check marks' column (the menu has no check marks).
  MENUINFO style{};
  style.cbSize = sizeof(style);
  style.fMask = MIM_STYLE;
  style.dwStyle = MNS_CHECKORBMP;
  SetMenuInfo(menu, &style);
  // A picture beside an item (its bitmap stays the dialog's: the menu is made anew each time).
  auto withImage = [&](UINT ID, const TGdiObject& Image) {
    MENUITEMINFOW item{};
    item.cbSize = sizeof(item);
    item.fMask = MIIM_BITMAP;
    item.hbmpItem = static_cast<HBITMAP>(Image.Get());
    if (item.hbmpItem) SetMenuItemInfoW(menu, ID, FALSE, &item);
  };
  // A separator only before what follows it.
  if (FCapShowHelp) {
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, IDM_HELP, kSMenuHelp);
    withImage(IDM_HELP, FHelpImage);
  }
  if (FDeviceManager.AddActionsCount() > 0) {
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    for (int i = 0; i < FDeviceManager.AddActionsCount(); ++i) {
      AppendMenuW(menu, MF_STRING, IDM_ACTION_FIRST + i, FDeviceManager.AddActions(i)->Caption.c_str());
      withImage(IDM_ACTION_FIRST + i, FActionImage);
    }
  }
  return menu;
}

void TfrmCommonSettings::RunDeviceTest() {
  std::wstring message, restored;
  bool ok = false;
  int32_t again = TBaseDevice::kOK;
  {
    TWaitCursor cursor;
    // The device ends as the test found it (enabled again with the host's own settings when
    // it was enabled): the host's next payment must not meet a device switched off, or one
    // running on values nobody confirmed.
    TDeviceTrial trial(FDeviceManager);
    ok = SavePages();
    if (ok) {
      std::wstring description;
      const int32_t code = FDeviceManager.Enable(description);
      message = DescribeResult(code, description);
      ok = code == 0;
    } else {
      message = kSSettingsNotWritten;
    }
    if (ok) ok = FDeviceManager.DeviceTest(message);
    again = trial.Finish(restored);
  }
  if (!ok) ErrorBox(message);
  if (again != TBaseDevice::kOK) ErrorBox(DescribeResult(again, restored));
}

void TfrmCommonSettings::ShowSettingsList() {
  FDeviceManager.StoreSettings();
  TfrmSettingsList list(FDeviceManager);
  if (list.ShowModal(FHandle) == IDOK)
    ReadPages();  // the snapshot stays pending: Cancel of the dialog undoes the list too
  else
    FDeviceManager.RestoreSettings();
}

void TfrmCommonSettings::OpenCurrentDebugLog() {
  // Today's file where the log writer puts it: the device folder, else the default folder.
  // Looking for it never makes a folder.
  const std::wstring file = DebugLogFile(FDeviceManager.DeviceFolder, DebugLogNow(), false);
  const DWORD attributes = file.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(file.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    ErrorBox(kSDebugLogNotFound);
    return;
  }
  ShellOpen(FHandle, file);
}

void TfrmCommonSettings::OpenDebugLogDirectory() {
  wchar_t file[MAX_PATH] = L"";
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof(dialog);
  dialog.hwndOwner = FHandle;
  dialog.lpstrFilter = kSLogFileFilter;
  dialog.lpstrFile = file;
  dialog.nMaxFile = MAX_PATH;
  // The folder the log writer uses, as for the current log.
  const std::wstring folder = DebugLogFolder(FDeviceManager.DeviceFolder, DebugLogNow(), false);
  dialog.lpstrInitialDir = DirectoryExists(folder) ? folder.c_str() : nullptr;
  dialog.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  // The file dialog moves the process's current directory to the folder it browses (the flag
  // does not stop that for an open dialog): the host's own is put back, whatever the user did.
  struct TKeepCurrentDirectory {
    std::wstring Folder;
    TKeepCurrentDirectory() {
      const DWORD size = GetCurrentDirectoryW(0, nullptr);
      if (size == 0) return;
      Folder.resize(size);
      const DWORD length = GetCurrentDirectoryW(size, Folder.data());
      Folder.resize(length < size ? length : 0);
    }
    ~TKeepCurrentDirectory() {
      if (!Folder.empty()) SetCurrentDirectoryW(Folder.c_str());
    }
  } keep;
  if (GetOpenFileNameW(&dialog)) ShellOpen(FHandle, file);
}

void TfrmCommonSettings::ActionItemClick(int Index) {
  if (Index < 0 || Index >= FDeviceManager.AddActionsCount()) return;
  std::wstring description;
  if (FDeviceManager.RunAdditionalAction(FDeviceManager.AddActions(Index)->ID, description) != 0) ErrorBox(description);
}

void TfrmCommonSettings::CloseWith(int Result) {
  if (Result == IDOK) {
    if (!SavePages()) return;  // a page vetoed: the dialog stays open
  } else {
    FDeviceManager.RestoreSettings();
    for (const TShortSettingStruct& entry : FOpenSnapshot)
      if (TSettingStruct* s = FDeviceManager.FindSetting(entry.ID)) s->Value = entry.Value;
  }
  EndDialog(FHandle, Result);
}

void TfrmCommonSettings::OnCommand(int ID, int Code) {
  if (FBusy) return;
  switch (ID) {
    case IDOK:
    case IDCANCEL:
      CloseWith(ID);
      break;
    case IDC_MORE: {
      HMENU menu = BuildAdditionalMenu();
      RECT r{};
      GetWindowRect(GetDlgItem(FHandle, IDC_MORE), &r);
      TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_TOPALIGN, r.left, r.bottom, 0, FHandle, nullptr);
      DestroyMenu(menu);
      break;
    }
    case IDC_LOGO:
      if (Code == STN_CLICKED && !FCI_www.empty()) {
        TWaitCursor cursor;
        ShellExecuteW(FHandle, L"open", FCI_www.c_str(), nullptr, nullptr, SW_SHOWMAXIMIZED);
      }
      break;
    case IDM_RESET:
      FDeviceManager.SetAllSettingsDefault();
      ReadPages();
      break;
    case IDM_DEVICETEST: {
      TBusy busy(*this);
      RunDeviceTest();
      break;
    }
    case IDM_SETTINGSLIST: {
      TBusy busy(*this);
      ShowSettingsList();
      break;
    }
    case IDM_OPENCURRENTLOG: {
      TBusy busy(*this);
      OpenCurrentDebugLog();
      break;
    }
    case IDM_OPENLOGFOLDER: {
      TBusy busy(*this);
      OpenDebugLogDirectory();
      break;
    }
    case IDM_HELP:
      if (FHelpEnabled) CallHtmlHelp(FHandle, FHelpFile, HH_DISPLAY_TOPIC, nullptr);
      break;
    default:
      if (ID >= IDM_ACTION_FIRST && ID < IDM_ACTION_FIRST + 1000) {
        TBusy busy(*this);
        ActionItemClick(ID - IDM_ACTION_FIRST);
      }
      break;
  }
}

INT_PTR TfrmCommonSettings::OnDialogMessage(UINT Msg, WPARAM wParam, LPARAM lParam) {
  switch (Msg) {
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    case WM_CLOSE:
      if (!FBusy) CloseWith(IDCANCEL);
      return TRUE;
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      if (header->hwndFrom == FTabs && header->code == TCN_SELCHANGE) {
        ShowPage(TabCtrl_GetCurSel(FTabs));
        return TRUE;
      }
      return FALSE;
    }
    case WM_SETCURSOR:
      if (reinterpret_cast<HWND>(wParam) == GetDlgItem(FHandle, IDC_LOGO)) {
        SetCursor(LoadCursorW(nullptr, IDC_HAND));
        SetMessageResult(TRUE);
        return TRUE;
      }
      return FALSE;
    case WM_HELP: {
      auto* info = reinterpret_cast<HELPINFO*>(lParam);
      FormHelp(13, MAKELONG(static_cast<WORD>(info->MousePos.x), static_cast<WORD>(info->MousePos.y)));
      DWORD context = static_cast<DWORD>(info->dwContextId);
      // Controls inside a page have context 0: the page control's context stands for them.
      if (context == 0) context = kPagesHelpContext;
      FormHelp(8, context);
      return TRUE;
    }
    case WM_SIZE:
      Arrange();
      return TRUE;
    case WM_GETMINMAXINFO: {
      auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
      limits->ptMinTrackSize = {std::max<LONG>(320, FMinTrack.cx), std::max<LONG>(400, FMinTrack.cy)};
      return TRUE;
    }
    case WM_DESTROY:
      if (FKeyFilter) UnhookWindowsHookEx(FKeyFilter);
      FKeyFilter = nullptr;
      if (tKeyDialog == this) tKeyDialog = nullptr;
      return FALSE;
    default:
      return FALSE;
  }
}
