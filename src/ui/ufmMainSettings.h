#pragma once
// TfrmMainSettings: the driver's own page, the five bank settings.
#include "uBaseSettingsDeviceFrm.h"

class TfrmMainSettings : public TfrmBaseSettings {
public:
  explicit TfrmMainSettings(TBaseDevice& ADeviceManager);

  void OnReadSettings() override;
  // Refuses a number box that does not hold a whole number, naming the field.
  void OnSaveSettings(bool& AllowClose) override;
  void OnSaveSettings() override;
  std::wstring Hint(int ControlID) const override;

  // The page class the driver registers.
  static TSettingsPageClass PageClass();

protected:
  void OnCreateFrm() override;
  bool OnMessage(UINT Msg, WPARAM wParam, LPARAM lParam) override;

private:
  // The setting as the box shows it; a value the host left empty or null shows as an empty box,
  // so that the page still opens and the value can be typed again.
  std::wstring SettingText(const std::wstring& ID) const;
};
