#pragma once
// TfrmBaseSettings: a page of the settings dialog. A page is a child dialog made for one
// device and embedded in a tab of the dialog; the dialog drives it only through this class.
#include <windows.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "device/uBaseDevice.h"
#include "uDialogWindow.h"

class TfrmCommonSettings;

class TfrmBaseSettings : public TDialogWindow {
public:
  TfrmBaseSettings(TBaseDevice& ADeviceManager, int TemplateID);

  TBaseDevice& DeviceManager() const noexcept { return FDeviceManager; }
  TfrmCommonSettings* OwnerFrm() const noexcept { return FOwnerFrm; }
  // The page's caption, the caption of its tab.
  std::wstring Caption() const;

  // Makes the page's window inside Parent; then OnCreateFrm.
  void CreateFrm(HWND Parent, TfrmCommonSettings* Owner);

  // A page vetoes OK (and the device test) by setting AllowClose to false.
  virtual void OnSaveSettings(bool& AllowClose) { AllowClose = true; }
  virtual void OnSaveSettings() {}
  virtual void OnReadSettings() {}
  virtual void OnCreateFrm() {}
  virtual void OnNotify(const std::wstring& Msg, const std::wstring& Data) { (void)Msg, (void)Data; }

  // The hint of one of the page's own controls (tool tip and context help); empty for none.
  virtual std::wstring Hint(int ControlID) const { (void)ControlID; return {}; }

  // OnNotify on every page of the same dialog, this one included.
  void NotifyOwner(const std::wstring& Msg, const std::wstring& Data);

  // Try the page's current values on the live device: snapshot, save (with the veto step for
  // the forms without a list of settings), Enable. 1020 when the page vetoes.
  int32_t EnableDevice(std::wstring& ResultDescription);
  int32_t EnableDevice();
  int32_t EnableDevice(const std::vector<std::wstring>& Settings, std::wstring& ResultDescription);
  int32_t EnableDevice(const std::vector<std::wstring>& Settings);
  // Disable, then the snapshot back.
  void DisableDevice();

  static constexpr int32_t kBadDeviceParameters = 1020;

protected:
  // The page's own window procedure for messages of its controls; true when handled.
  virtual bool OnMessage(UINT Msg, WPARAM wParam, LPARAM lParam) { (void)Msg, (void)wParam, (void)lParam; return false; }
  std::wstring ItemText(int ID) const;
  void SetItemText(int ID, const std::wstring& Text) const;
  // Widens the controls so that their right edges stay MarginDlu dialog units from the page's
  // right edge; for WM_SIZE.
  void StretchToRight(std::initializer_list<int> IDs, int MarginDlu) const;

private:
  INT_PTR OnDialogMessage(UINT Msg, WPARAM wParam, LPARAM lParam) final;

  TBaseDevice& FDeviceManager;
  TfrmCommonSettings* FOwnerFrm = nullptr;
  int FTemplateID;
};

// Text of a dialog item of any length.
std::wstring WindowText(HWND Wnd);

// Dialog units to pixels for a dialog window (its font and the screen's DPI).
int DluToPixelsX(HWND Dialog, int Dlu);
int DluToPixelsY(HWND Dialog, int Dlu);
