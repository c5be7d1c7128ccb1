#include "uDialogWindow.h"

#include "platform/uExceptions.h"
#include "uUiStrings.h"

HINSTANCE UiModule() noexcept {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&UiModule), &module);
  return module;
}

std::wstring CaughtErrorText() {
  TExceptionText e = DescribeCurrentException();
  return e.Message.empty() ? e.ClassName : e.Message;
}

TDialogWindow::~TDialogWindow() {
  // A modeless window outlives its object only as long as this: let go of it first, since the
  // object's handlers are gone already, then destroy it.
  if (FHandle && !FModal) {
    SetWindowLongPtrW(FHandle, DWLP_USER, 0);
    DestroyWindow(FHandle);
  }
}

INT_PTR TDialogWindow::RunModal(int TemplateID, HWND Owner) {
  FModal = true;
  FInitFailed = false;
  FInitError.clear();
  const INT_PTR result =
      DialogBoxParamW(UiModule(), MAKEINTRESOURCEW(TemplateID), Owner, &Proc, reinterpret_cast<LPARAM>(this));
  RaiseInitFailure();
  if (result == -1) RaiseOSError(GetLastError());
  return result;
}

HWND TDialogWindow::CreateModeless(int TemplateID, HWND Parent) {
  FModal = false;
  FInitFailed = false;
  FInitError.clear();
  HWND wnd = CreateDialogParamW(UiModule(), MAKEINTRESOURCEW(TemplateID), Parent, &Proc, reinterpret_cast<LPARAM>(this));
  if (FInitFailed && wnd) DestroyWindow(wnd);
  RaiseInitFailure();
  return wnd;
}

void TDialogWindow::RaiseInitFailure() const {
  if (FInitFailed) throw Exception(FInitError.empty() ? std::wstring(L"Exception") : FInitError);
}

void TDialogWindow::ErrorBox(const std::wstring& Text) const {
  MessageBoxW(GetAncestor(FHandle, GA_ROOT), Text.c_str(), kSErrorCaption, MB_OK | MB_ICONERROR);
}

INT_PTR CALLBACK TDialogWindow::Proc(HWND Wnd, UINT Msg, WPARAM wParam, LPARAM lParam) noexcept {
  if (Msg == WM_INITDIALOG) {
    auto* self = reinterpret_cast<TDialogWindow*>(lParam);
    SetWindowLongPtrW(Wnd, DWLP_USER, lParam);
    self->FHandle = Wnd;
    try {
      self->OnInitDialog();
    } catch (...) {
      // Nothing here may throw: the text is kept only when it could be made.
      self->FInitFailed = true;
      try {
        self->FInitError = CaughtErrorText();
      } catch (...) {
      }
      if (self->FModal) EndDialog(Wnd, IDCANCEL);
    }
    return TRUE;
  }
  auto* self = reinterpret_cast<TDialogWindow*>(GetWindowLongPtrW(Wnd, DWLP_USER));
  if (!self) return FALSE;
  if (Msg == WM_NCDESTROY) {
    // Gone with its window: the handle must not be used or destroyed again later.
    SetWindowLongPtrW(Wnd, DWLP_USER, 0);
    self->FHandle = nullptr;
    return FALSE;
  }
  try {
    return self->OnDialogMessage(Msg, wParam, lParam);
  } catch (...) {
    try {
      self->ErrorBox(CaughtErrorText());
    } catch (...) {
    }
    return TRUE;
  }
}
