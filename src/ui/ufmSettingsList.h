#pragma once
// TfrmSettingsList: every setting of a device in one owner-data list, edited in place.
#include <windows.h>

#include <string>

#include "device/uBaseDevice.h"

class TfrmSettingsList {
public:
  explicit TfrmSettingsList(TBaseDevice& ADeviceManager);
  TfrmSettingsList(const TfrmSettingsList&) = delete;
  TfrmSettingsList& operator=(const TfrmSettingsList&) = delete;

  // Modal over Owner; IDOK or IDCANCEL. The values stay as edited either way.
  INT_PTR ShowModal(HWND Owner);

  void BeginEdit();
  void EndEdit(bool Discard);

  HWND Handle() const noexcept { return FHandle; }

private:
  static INT_PTR CALLBACK DialogProc(HWND Wnd, UINT Msg, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK ListProc(HWND Wnd, UINT Msg, WPARAM wParam, LPARAM lParam, UINT_PTR Id, DWORD_PTR Data);
  static LRESULT CALLBACK EditorProc(HWND Wnd, UINT Msg, WPARAM wParam, LPARAM lParam, UINT_PTR Id, DWORD_PTR Data);
  void InitDialog();
  bool OnNotify(NMHDR* Header, LRESULT& Result);
  void OnCommand(int ID);
  int SelectedIndex() const;
  void RefreshRow(int Index);
  void RefreshAll();
  void ShowStatus(int Index);

  TBaseDevice& FDeviceManager;
  HWND FHandle = nullptr;
  HWND FList = nullptr;
  HWND FEdEdit = nullptr;
  HWND FCbEdit = nullptr;
  HWND FEditControl = nullptr;  // the current in-place editor
  int FEditIndex = -1;          // the row the editor was opened on
  bool FEnding = false;
  std::wstring FCellText;  // the text the list asked for last
};

// A setting value as the list shows it: Booleans "True"/"False", empty as "".
std::wstring SettingValueText(const TVariant& Value);
