#pragma once
// TfrmSettingsList: every setting of a device in one owner-data list, edited in place.
#include <windows.h>

#include <string>

#include "device/uBaseDevice.h"
#include "uDialogWindow.h"

class TfrmSettingsList : public TDialogWindow {
public:
  explicit TfrmSettingsList(TBaseDevice& ADeviceManager);

  // Modal over Owner; IDOK or IDCANCEL. The values stay as edited either way. A list that could
  // not be set up raises with the reason.
  INT_PTR ShowModal(HWND Owner);

  void BeginEdit();
  // False when the typed text was refused (a Number setting that is not a number): the value
  // stays as it was, the editor stays open, and a message says why.
  bool EndEdit(bool Discard);

private:
  void OnInitDialog() override;
  INT_PTR OnDialogMessage(UINT Msg, WPARAM wParam, LPARAM lParam) override;
  static LRESULT CALLBACK ListProc(HWND Wnd, UINT Msg, WPARAM wParam, LPARAM lParam, UINT_PTR Id,
                                   DWORD_PTR Data) noexcept;
  static LRESULT CALLBACK EditorProc(HWND Wnd, UINT Msg, WPARAM wParam, LPARAM lParam, UINT_PTR Id,
                                     DWORD_PTR Data) noexcept;
  bool OnNotify(NMHDR* Header, LRESULT& Result);
  void OnCommand(int ID);
  int SelectedIndex() const;
  void RefreshRow(int Index);
  void RefreshAll();
  void ShowStatus(int Index);
  void SizeColumns();
  void AddHints();
  void ShowRowMenu(LPARAM At);
  void OnHelp(const HELPINFO& Info);
  void SayRefused();

  TBaseDevice& FDeviceManager;
  HWND FList = nullptr;
  HWND FEdEdit = nullptr;
  HWND FCbEdit = nullptr;
  HWND FEditControl = nullptr;  // the current in-place editor
  int FEditIndex = -1;          // the row the editor was opened on
  bool FEnding = false;
  bool FRefusing = false;  // a refusal is being said: leaving the editor meanwhile is no new one
  std::wstring FCellText;  // the text the list asked for last
};

// A setting value as the list shows it: Booleans "True"/"False", empty as "".
std::wstring SettingValueText(const TVariant& Value);
