#include "uBaseSettingsDeviceFrm.h"

#include <algorithm>

#include "host/uResultCodes.h"
#include "platform/uExceptions.h"
#include "uUiStrings.h"
#include "ufmCommonSettings.h"

std::wstring WindowText(HWND Wnd) {
  const int length = GetWindowTextLengthW(Wnd);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const int got = GetWindowTextW(Wnd, text.data(), length + 1);
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return text;
}

int DluToPixelsX(HWND Dialog, int Dlu) {
  RECT r{0, 0, Dlu, 0};
  MapDialogRect(Dialog, &r);
  return r.right;
}

int DluToPixelsY(HWND Dialog, int Dlu) {
  RECT r{0, 0, 0, Dlu};
  MapDialogRect(Dialog, &r);
  return r.bottom;
}

namespace {

// Hourglass while a page tries its values on the device.
struct TWaitCursor {
  HCURSOR Old = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  ~TWaitCursor() { SetCursor(Old); }
};

}  // namespace

TfrmBaseSettings::TfrmBaseSettings(TBaseDevice& ADeviceManager, int TemplateID)
    : FDeviceManager(ADeviceManager), FTemplateID(TemplateID) {}

void TfrmBaseSettings::CreateFrm(HWND Parent, TfrmCommonSettings* Owner) {
  FOwnerFrm = Owner;
  if (!CreateModeless(FTemplateID, Parent)) throw Exception(kSPageNotCreated);
  OnCreateFrm();
}

std::wstring TfrmBaseSettings::Caption() const { return FHandle ? WindowText(FHandle) : std::wstring(); }

INT_PTR TfrmBaseSettings::OnDialogMessage(UINT Msg, WPARAM wParam, LPARAM lParam) {
  return OnMessage(Msg, wParam, lParam) ? TRUE : FALSE;
}

void TfrmBaseSettings::StretchToRight(std::initializer_list<int> IDs, int MarginDlu) const {
  RECT client{};
  GetClientRect(FHandle, &client);
  const int right = client.right - DluToPixelsX(FHandle, MarginDlu);
  for (int id : IDs) {
    HWND control = GetDlgItem(FHandle, id);
    if (!control) continue;
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, FHandle, reinterpret_cast<POINT*>(&r), 2);
    // Never narrower than the control's own height: a page squeezed below its design size.
    const int width = std::max<int>(right - r.left, r.bottom - r.top);
    SetWindowPos(control, nullptr, 0, 0, width, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

std::wstring TfrmBaseSettings::ItemText(int ID) const { return WindowText(GetDlgItem(FHandle, ID)); }

void TfrmBaseSettings::SetItemText(int ID, const std::wstring& Text) const { SetDlgItemTextW(FHandle, ID, Text.c_str()); }

void TfrmBaseSettings::NotifyOwner(const std::wstring& Msg, const std::wstring& Data) {
  if (FOwnerFrm) FOwnerFrm->NotifyPages(Msg, Data);
}

int32_t TfrmBaseSettings::EnableDevice(std::wstring& ResultDescription) {
  TWaitCursor cursor;
  FDeviceManager.StoreSettings();
  bool allowClose = true;
  OnSaveSettings(allowClose);
  if (!allowClose) {
    ResultDescription = DescribeResult(kBadDeviceParameters, L"");
    return kBadDeviceParameters;
  }
  OnSaveSettings();
  return FDeviceManager.Enable(ResultDescription);
}

int32_t TfrmBaseSettings::EnableDevice() {
  std::wstring description;
  return EnableDevice(description);
}

int32_t TfrmBaseSettings::EnableDevice(const std::vector<std::wstring>& Settings, std::wstring& ResultDescription) {
  TWaitCursor cursor;
  FDeviceManager.StoreSettings(Settings);
  OnSaveSettings();
  return FDeviceManager.Enable(ResultDescription);
}

int32_t TfrmBaseSettings::EnableDevice(const std::vector<std::wstring>& Settings) {
  std::wstring description;
  return EnableDevice(Settings, description);
}

void TfrmBaseSettings::DisableDevice() {
  FDeviceManager.Disable();
  FDeviceManager.RestoreSettings();
  SetCursor(LoadCursorW(nullptr, IDC_ARROW));
}
