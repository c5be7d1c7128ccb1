#include "uBaseSettingsDeviceFrm.h"

#include "host/uResultCodes.h"
#include "ufmCommonSettings.h"

HINSTANCE UiModule() noexcept {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&UiModule), &module);
  return module;
}

std::wstring WindowText(HWND Wnd) {
  const int length = GetWindowTextLengthW(Wnd);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const int got = GetWindowTextW(Wnd, text.data(), length + 1);
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return text;
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

TfrmBaseSettings::~TfrmBaseSettings() {
  if (FHandle) DestroyWindow(FHandle);
}

void TfrmBaseSettings::CreateFrm(HWND Parent, TfrmCommonSettings* Owner) {
  FOwnerFrm = Owner;
  FHandle = CreateDialogParamW(UiModule(), MAKEINTRESOURCEW(FTemplateID), Parent, &PageProc,
                               reinterpret_cast<LPARAM>(this));
  if (!FHandle) throw Exception(L"Не удалось создать страницу настроек");
  OnCreateFrm();
}

std::wstring TfrmBaseSettings::Caption() const { return FHandle ? WindowText(FHandle) : std::wstring(); }

INT_PTR CALLBACK TfrmBaseSettings::PageProc(HWND Wnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  if (Msg == WM_INITDIALOG) {
    SetWindowLongPtrW(Wnd, DWLP_USER, lParam);
    reinterpret_cast<TfrmBaseSettings*>(lParam)->FHandle = Wnd;
    return TRUE;
  }
  auto* self = reinterpret_cast<TfrmBaseSettings*>(GetWindowLongPtrW(Wnd, DWLP_USER));
  if (!self) return FALSE;
  if (Msg == WM_NCDESTROY) {
    // Gone with the dialog that held it: the handle must not be destroyed again later.
    self->FHandle = nullptr;
    return FALSE;
  }
  try {
    return self->OnMessage(Msg, wParam, lParam) ? TRUE : FALSE;
  } catch (...) {
    return FALSE;  // nothing may unwind through the window procedure
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
