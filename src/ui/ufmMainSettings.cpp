#include "ufmMainSettings.h"

#include <commctrl.h>

#include "uDriverSettingIDs.h"
#include "uUiResources.h"
#include "uUiStrings.h"

namespace {

// The number boxes with the names their labels give them.
constexpr struct {
  int ID;
  const wchar_t* Field;
} kNumberBoxes[] = {{IDC_LINELENGTH, kSLineLengthField}, {IDC_TIMEOUT, kSTimeoutField}};

// Digits only, at most what the driver's integer reader takes.
bool WholeNumber(const std::wstring& Text, int32_t& Value) {
  if (Text.empty() || Text.size() > 10) return false;
  long long value = 0;
  for (wchar_t c : Text) {
    if (c < L'0' || c > L'9') return false;
    value = value * 10 + (c - L'0');
  }
  if (value > 2147483647LL) return false;
  Value = static_cast<int32_t>(value);
  return true;
}

bool IsWholeNumber(const std::wstring& Text) {
  int32_t value = 0;
  return WholeNumber(Text, value);
}

// A number box's value as the integer the setting is declared with, as GetSettings and the
// settings list give it back. A text the check let through only by another way in (a page
// saved without its check) stays text, for the driver's reader to judge at Enable.
TVariant NumberBoxValue(const std::wstring& Text) {
  int32_t value = 0;
  return WholeNumber(Text, value) ? TVariant::FromInt(value) : TVariant::FromString(Text);
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
  return ControlID == IDC_TIMEOUT_LABEL || ControlID == IDC_TIMEOUT ? kSTimeoutHint : L"";
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
  SetItemText(IDC_HOST, SettingText(kSettingHost));
  SetItemText(IDC_TERMINALKEY, SettingText(kSettingTerminalKey));
  SetItemText(IDC_PASSWORD, SettingText(kSettingPassword));
  SetItemText(IDC_LINELENGTH, SettingText(kSettingLineLength));
  SetItemText(IDC_TIMEOUT, SettingText(kSettingWaitTimeout));
}

void TfrmMainSettings::OnSaveSettings(bool& AllowClose) {
  AllowClose = true;
  // The boxes take only digits as typed, but a paste or an emptied box gets past that.
  for (const auto& box : kNumberBoxes) {
    if (IsWholeNumber(ItemText(box.ID))) continue;
    AllowClose = false;
    ErrorBox(kSNotWholeNumberBefore + std::wstring(box.Field) + kSNotWholeNumberAfter);
    HWND control = GetDlgItem(Handle(), box.ID);
    SetFocus(control);
    SendMessageW(control, EM_SETSEL, 0, -1);
    return;
  }
}

void TfrmMainSettings::OnSaveSettings() {
  TfrmBaseSettings::OnSaveSettings();
  TBaseDevice& device = DeviceManager();
  device.SetSettingValue(kSettingHost, TVariant::FromString(ItemText(IDC_HOST)));
  device.SetSettingValue(kSettingPassword, TVariant::FromString(ItemText(IDC_PASSWORD)));
  device.SetSettingValue(kSettingTerminalKey, TVariant::FromString(ItemText(IDC_TERMINALKEY)));
  device.SetSettingValue(kSettingLineLength, NumberBoxValue(ItemText(IDC_LINELENGTH)));
  device.SetSettingValue(kSettingWaitTimeout, NumberBoxValue(ItemText(IDC_TIMEOUT)));
}
