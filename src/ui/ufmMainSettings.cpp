#include "ufmMainSettings.h"

#include <commctrl.h>

#include "uUiResources.h"

namespace {

constexpr wchar_t kTimeoutHint[] = L"Таймаут ожидания выполнения оплаты";

// The number boxes with the names their labels give them.
constexpr struct {
  int ID;
  const wchar_t* Field;
} kNumberBoxes[] = {{IDC_LINELENGTH, L"Длина строки квитанции"}, {IDC_TIMEOUT, L"Таймаут ожидания, секунд"}};

// Digits only, at most what the driver's integer reader takes.
bool IsWholeNumber(const std::wstring& Text) {
  if (Text.empty() || Text.size() > 10) return false;
  long long value = 0;
  for (wchar_t c : Text) {
    if (c < L'0' || c > L'9') return false;
    value = value * 10 + (c - L'0');
  }
  return value <= 2147483647LL;
}

}  // namespace

TfrmMainSettings::TfrmMainSettings(TBaseDevice& ADeviceManager)
    : TfrmBaseSettings(ADeviceManager, IDD_MAIN_SETTINGS) {}

TSettingsPageClass TfrmMainSettings::PageClass() {
  return [](TBaseDevice& device) -> std::unique_ptr<TfrmBaseSettings> { return std::make_unique<TfrmMainSettings>(device); };
}

void TfrmMainSettings::OnCreateFrm() {
  SetItemText(IDC_TIMEOUT, L"0");
}

bool TfrmMainSettings::OnMessage(UINT Msg, WPARAM wParam, LPARAM lParam) {
  (void)wParam, (void)lParam;
  if (Msg != WM_SIZE) return false;
  // The three text boxes keep the template's right margin.
  StretchToRight({IDC_HOST, IDC_TERMINALKEY, IDC_PASSWORD}, 9);
  return false;
}

std::wstring TfrmMainSettings::Hint(int ControlID) const {
  // The box has its label's hint, so that F1 in it says what the number is.
  return ControlID == IDC_TIMEOUT_LABEL || ControlID == IDC_TIMEOUT ? kTimeoutHint : L"";
}

std::wstring TfrmMainSettings::SettingText(const std::wstring& ID) const {
  const TSettingStruct* setting = DeviceManager().FindSetting(ID);
  if (setting) {
    const VARIANT* v = InnermostVariant(&setting->Value.Get());
    if (v->vt == VT_EMPTY || v->vt == VT_NULL) return {};
  }
  return DeviceManager().GetSettingValueStr(ID);
}

void TfrmMainSettings::OnReadSettings() {
  TfrmBaseSettings::OnReadSettings();
  SetItemText(IDC_HOST, SettingText(L"Host"));
  SetItemText(IDC_TERMINALKEY, SettingText(L"TerminalKey"));
  SetItemText(IDC_PASSWORD, SettingText(L"Password"));
  SetItemText(IDC_LINELENGTH, SettingText(L"LineLength"));
  SetItemText(IDC_TIMEOUT, SettingText(L"WaitTimeout"));
}

void TfrmMainSettings::OnSaveSettings(bool& AllowClose) {
  AllowClose = true;
  // The boxes take only digits as typed, but a paste or an emptied box gets past that.
  for (const auto& box : kNumberBoxes) {
    if (IsWholeNumber(ItemText(box.ID))) continue;
    AllowClose = false;
    ErrorBox(std::wstring(L"Поле \"") + box.Field + L"\" должно содержать целое число от 0 до 2147483647");
    HWND control = GetDlgItem(Handle(), box.ID);
    SetFocus(control);
    SendMessageW(control, EM_SETSEL, 0, -1);
    return;
  }
}

void TfrmMainSettings::OnSaveSettings() {
  TfrmBaseSettings::OnSaveSettings();
  TBaseDevice& device = DeviceManager();
  // Texts as they stand: the driver reads the numbers at Enable.
  device.SetSettingValue(L"Host", TVariant::FromString(ItemText(IDC_HOST)));
  device.SetSettingValue(L"Password", TVariant::FromString(ItemText(IDC_PASSWORD)));
  device.SetSettingValue(L"TerminalKey", TVariant::FromString(ItemText(IDC_TERMINALKEY)));
  device.SetSettingValue(L"LineLength", TVariant::FromString(ItemText(IDC_LINELENGTH)));
  device.SetSettingValue(L"WaitTimeout", TVariant::FromString(ItemText(IDC_TIMEOUT)));
}
