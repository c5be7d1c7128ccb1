#pragma once
// TfrmCommonSettings: the modal settings dialog. A header with the logo, model and version;
// a tab per settings page and the information tab last; "Дополнительно", "ОК", "Отмена".
#include <windows.h>
#include <htmlhelp.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "device/uBaseDevice.h"
#include "uBaseSettingsDeviceFrm.h"
#include "uUiResources.h"

// What the dialog hands to the HTML Help viewer (file "" for a text popup); the product calls
// HtmlHelpW, tests record the call (the viewer's popups do not exist under every system).
using THtmlHelpCall = std::function<void(HWND Caller, const std::wstring& File, UINT Command, const HH_POPUP* Popup)>;
void SetHtmlHelpCall(THtmlHelpCall Call);

// Opens a log file with the shell's default action, shown restored (the debug-log commands);
// the product calls ShellExecuteW, tests record the file instead of starting a viewer.
using TShellOpenCall = std::function<void(HWND Caller, const std::wstring& File)>;
void SetShellOpenCall(TShellOpenCall Call);

// A pale text popup at a screen position, as every window of the dialogs shows context help.
void ShowHelpPopup(HWND Caller, const std::wstring& Text, POINT At);

// A GDI object that the dialogs own for their lifetime (fonts, menu images).
class TGdiObject {
public:
  TGdiObject() = default;
  ~TGdiObject() { Reset(nullptr); }
  TGdiObject(const TGdiObject&) = delete;
  TGdiObject& operator=(const TGdiObject&) = delete;
  void Reset(HGDIOBJ Object) noexcept {
    if (FObject) DeleteObject(FObject);
    FObject = Object;
  }
  HGDIOBJ Get() const noexcept { return FObject; }

private:
  HGDIOBJ FObject = nullptr;
};

// A bold copy of a window's font.
HFONT CreateBoldFontOf(HWND Wnd);

// Registers the dialog as the device layer's settings dialog.
void RegisterSettingsDialogs();

class TfrmCommonSettings : public TDialogWindow {
public:
  TfrmCommonSettings(TBaseDevice& ADeviceManager, const std::vector<TSettingsPageClass>& PageClasses);
  ~TfrmCommonSettings() override;

  // Modal on the calling thread; IDOK or IDCANCEL. A dialog that could not be set up raises
  // with the reason, so the host hears it instead of a cancel.
  INT_PTR ShowModal();

  void SetCapSetDefault(bool Value) noexcept { FCapSetDefault = Value; }
  void SetCapDeviceTest(bool Value) noexcept { FCapDeviceTest = Value; }
  void SetCapShowHelp(bool Value) noexcept { FCapShowHelp = Value; }
  void SetCapOpenDebugLog(bool Value) noexcept { FCapOpenDebugLog = Value; }

  void NotifyPages(const std::wstring& Msg, const std::wstring& Data);
  void ReadPages();
  bool SavePages();

  bool HelpFileExists();
  // The help texts of the dialog's own controls.
  static std::wstring GetHelpByID(int ID);
  // The hint of any control of the dialog: the shell's own, or a page's (asked of the page).
  std::wstring ControlHint(HWND Control) const;
  // Acts on a help command: 13 remembers the popup position, 8 shows the popup for a context.
  bool FormHelp(UINT Command, DWORD_PTR Data);

  // The menu of "Дополнительно" as it is when it opens (visibility rules applied).
  HMENU BuildAdditionalMenu();

private:
  void OnInitDialog() override;
  INT_PTR OnDialogMessage(UINT Msg, WPARAM wParam, LPARAM lParam) override;
  void AddPage(std::unique_ptr<TfrmBaseSettings> Page);
  void Layout();
  void RecordAnchors();
  void Arrange();
  void ShowPage(int Index);
  void OnCommand(int ID, int Code);
  void CloseWith(int Result);
  void RunDeviceTest();
  void ShowSettingsList();
  void OpenCurrentDebugLog();
  void OpenDebugLogDirectory();
  void ActionItemClick(int Index);
  std::wstring GetControlHintByPos();
  void AddHints();
  void SelectTab(int Index);
  void MakeMenuImages();
  static LRESULT CALLBACK KeyFilter(int Code, WPARAM wParam, LPARAM lParam) noexcept;

  // While a command shows a window of its own (the device test's box has no owner, so the
  // dialog would stay live under it), the dialog takes no input and ignores commands: nothing
  // can be confirmed, or started again, under a command that has not ended.
  class TBusy {
  public:
    explicit TBusy(TfrmCommonSettings& Dialog);
    ~TBusy();
    TBusy(const TBusy&) = delete;
    TBusy& operator=(const TBusy&) = delete;

  private:
    TfrmCommonSettings& FDialog;
    HWND FFocus;
  };

  TBaseDevice& FDeviceManager;
  std::vector<TSettingsPageClass> FPageClasses;
  std::vector<std::unique_ptr<TfrmBaseSettings>> FPages;
  std::unique_ptr<TfrmBaseSettings> FInfoPage;
  std::vector<TShortSettingStruct> FOpenSnapshot;  // every value as the dialog found it
  HWND FTabs = nullptr;
  std::wstring FCI_www;
  std::wstring FHelpFile;
  bool FHelpEnabled = false;
  bool FCapSetDefault = true;
  bool FCapDeviceTest = true;
  bool FCapShowHelp = true;
  bool FCapOpenDebugLog = false;
  POINT FPopupPos{};
  bool FBusy = false;
  SIZE FMinTrack{};         // the size the dialog opened with: everything fits there
  TGdiObject FBoldFont;
  TGdiObject FHelpImage, FActionImage;  // the menu's images 0 and 1
  HHOOK FKeyFilter = nullptr;

  // How the shell's controls follow the dialog's size.
  struct TAnchor {
    int ID;
    bool Right, Bottom, StretchX, StretchY;
    RECT Base;
  };
  TAnchor FAnchors[8] = {{IDC_MODELNAME, false, false, true, false, {}},
                         {IDC_DRIVERVERSION, false, false, true, false, {}},
                         {IDC_HEADER_LINE, false, false, true, false, {}},
                         {IDC_PAGES, false, false, true, true, {}},
                         {IDC_FOOTER_LINE, false, true, true, false, {}},
                         {IDC_MORE, false, true, false, false, {}},
                         {IDOK, true, true, false, false, {}},
                         {IDCANCEL, true, true, false, false, {}}};
  POINT FBaseClient{};
  bool FAnchored = false;
};
