#include "ufmMainSettings.h"

#include <commctrl.h>

#include "uUiResources.h"

TfrmMainSettings::TfrmMainSettings(TBaseDevice& ADeviceManager)
    : TfrmBaseSettings(ADeviceManager, IDD_MAIN_SETTINGS) {}

TSettingsPageClass TfrmMainSettings::PageClass() {
  return [](TBaseDevice& device) -> std::unique_ptr<TfrmBaseSettings> { return std::make_unique<TfrmMainSettings>(device); };
}

void TfrmMainSettings::OnCreateFrm() {
  SetItemText(IDC_TIMEOUT, L"0");
}

void TfrmMainSettings::OnReadSettings() {
  TfrmBaseSettings::OnReadSettings();
  TBaseDevice& device = DeviceManager();
  SetItemText(IDC_HOST, device.GetSettingValueStr(L"Host"));
  SetItemText(IDC_TERMINALKEY, device.GetSettingValueStr(L"TerminalKey"));
  SetItemText(IDC_PASSWORD, device.GetSettingValueStr(L"Password"));
  SetItemText(IDC_LINELENGTH, device.GetSettingValueStr(L"LineLength"));
  SetItemText(IDC_TIMEOUT, device.GetSettingValueStr(L"WaitTimeout"));
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
