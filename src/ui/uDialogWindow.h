#pragma once
// TDialogWindow: what every dialog and page of the UI shares. The object is bound to its
// window at WM_INITDIALOG and let go at WM_NCDESTROY. A failed set-up is kept and raised by
// RunModal, so the host hears why the dialog did not open instead of a cancel. A failure in a
// later handler is said in an error box: nothing may unwind through a window procedure, and
// nothing is swallowed.
#include <windows.h>

#include <string>

class TDialogWindow {
public:
  TDialogWindow(const TDialogWindow&) = delete;
  TDialogWindow& operator=(const TDialogWindow&) = delete;

  HWND Handle() const noexcept { return FHandle; }

protected:
  TDialogWindow() = default;
  virtual ~TDialogWindow();

  // Modal over Owner, from this module's templates; the value EndDialog gave. A set-up failure
  // raises with its text, as does a template that could not be shown.
  INT_PTR RunModal(int TemplateID, HWND Owner);
  // Modeless inside Parent (a page of a dialog): the window, or nullptr when none could be
  // made. A set-up failure raises with its text.
  HWND CreateModeless(int TemplateID, HWND Parent);

  // WM_INITDIALOG's work. A throw ends a modal dialog, and RunModal raises it.
  virtual void OnInitDialog() {}
  // Every later message up to WM_NCDESTROY, answered as a dialog procedure answers: TRUE when
  // handled; a result for the sender goes through SetMessageResult.
  virtual INT_PTR OnDialogMessage(UINT Msg, WPARAM wParam, LPARAM lParam) = 0;

  void SetMessageResult(LRESULT Result) const { SetWindowLongPtrW(FHandle, DWLP_MSGRESULT, Result); }
  // An error box over the top-level window that holds this one.
  void ErrorBox(const std::wstring& Text) const;

  HWND FHandle = nullptr;

private:
  // Nothing unwinds into Windows: on i686 the DWARF unwinder cannot cross its frames (the
  // process would end there), while x86_64 would unwind through them.
  static INT_PTR CALLBACK Proc(HWND Wnd, UINT Msg, WPARAM wParam, LPARAM lParam) noexcept;
  // Raises a failed set-up after the window is gone.
  void RaiseInitFailure() const;

  bool FModal = false;
  bool FInitFailed = false;
  std::wstring FInitError;  // why the set-up failed, for RunModal to raise
};

// The module whose resources hold the dialog templates (the product DLL or a test program).
HINSTANCE UiModule() noexcept;

// The text of whatever the caller caught, for an error box.
std::wstring CaughtErrorText();
