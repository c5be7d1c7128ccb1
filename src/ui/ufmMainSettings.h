#pragma once
// TfrmMainSettings: the driver's own page, the five bank settings.
#include "uBaseSettingsDeviceFrm.h"

class TfrmMainSettings : public TfrmBaseSettings {
public:
  explicit TfrmMainSettings(TBaseDevice& ADeviceManager);

  void OnReadSettings() override;
  void OnSaveSettings() override;
  using TfrmBaseSettings::OnSaveSettings;

  // The page class the driver registers.
  static TSettingsPageClass PageClass();

protected:
  void OnCreateFrm() override;
};
