#pragma once
// Drives modal windows of this process the way a user does, through window messages, from a
// second thread while the test's own thread sits in the modal loop. Every wait is bounded;
// whatever the script leaves open is cancelled, so a failing test never hangs.
#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

namespace uitest {

inline constexpr auto kBound = std::chrono::seconds(30);

inline std::wstring Text(HWND Wnd) {
  wchar_t buffer[4096] = L"";
  // WM_GETTEXT, not GetWindowText: the window belongs to another thread of this process.
  SendMessageW(Wnd, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer));
  return buffer;
}

inline std::wstring ClassOf(HWND Wnd) {
  wchar_t name[256] = L"";
  GetClassNameW(Wnd, name, 256);
  return name;
}

// Visible top-level windows of this process with the class and, when given, the caption.
inline std::vector<HWND> TopWindows(const std::wstring& Class, const std::wstring& Caption = L"") {
  struct TQuery {
    std::wstring Class, Caption;
    std::vector<HWND> Found;
  } query{Class, Caption, {}};
  struct TEnum {
    static BOOL CALLBACK Proc(HWND wnd, LPARAM param) {
      auto* q = reinterpret_cast<TQuery*>(param);
      DWORD pid = 0;
      GetWindowThreadProcessId(wnd, &pid);
      if (pid == GetCurrentProcessId() && IsWindowVisible(wnd) && ClassOf(wnd) == q->Class &&
          (q->Caption.empty() || Text(wnd) == q->Caption))
        q->Found.push_back(wnd);
      return TRUE;
    }
  };
  EnumWindows(&TEnum::Proc, reinterpret_cast<LPARAM>(&query));
  return query.Found;
}

// Waits (bounded) for a visible top-level window; null when none came.
inline HWND WaitWindow(const std::wstring& Class, const std::wstring& Caption) {
  const auto until = std::chrono::steady_clock::now() + kBound;
  while (std::chrono::steady_clock::now() < until) {
    std::vector<HWND> found = TopWindows(Class, Caption);
    if (!found.empty()) return found.front();
    Sleep(50);
  }
  return nullptr;
}
inline HWND WaitDialog(const std::wstring& Caption) { return WaitWindow(L"#32770", Caption); }

// Waits (bounded) until the window is gone.
inline bool WaitGone(HWND Wnd) {
  const auto until = std::chrono::steady_clock::now() + kBound;
  while (std::chrono::steady_clock::now() < until) {
    if (!IsWindow(Wnd) || !IsWindowVisible(Wnd)) return true;
    Sleep(50);
  }
  return false;
}

// Puts the pointer at a screen position and waits (bounded) until it reads back there twice in
// a row. Under Wine the warp reaches the X server on one thread's display connection while
// another thread may still read the old position and write it back.
inline bool MoveCursorTo(int X, int Y) {
  const auto until = std::chrono::steady_clock::now() + kBound;
  int agreed = 0;
  while (std::chrono::steady_clock::now() < until) {
    POINT at{};
    if (GetCursorPos(&at) && at.x == X && at.y == Y) {
      if (++agreed == 2) return true;
    } else {
      agreed = 0;
      SetCursorPos(X, Y);
    }
    Sleep(50);
  }
  return false;
}

// The first descendant with the control ID (pages are child dialogs of the dialog).
inline HWND Item(HWND Parent, int ID) {
  struct TQuery {
    int ID;
    HWND Found;
  } query{ID, nullptr};
  struct TEnum {
    static BOOL CALLBACK Proc(HWND wnd, LPARAM param) {
      auto* q = reinterpret_cast<TQuery*>(param);
      if (GetDlgCtrlID(wnd) == q->ID) {
        q->Found = wnd;
        return FALSE;
      }
      return TRUE;
    }
  };
  EnumChildWindows(Parent, &TEnum::Proc, reinterpret_cast<LPARAM>(&query));
  return query.Found;
}

inline std::wstring ItemText(HWND Parent, int ID) { return Text(Item(Parent, ID)); }
inline void SetItemText(HWND Parent, int ID, const std::wstring& Value) {
  SendMessageW(Item(Parent, ID), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Value.c_str()));
}
// A click as the button sends it; posted, because the command may open a modal window.
inline void Click(HWND Dialog, int ID) {
  PostMessageW(Dialog, WM_COMMAND, MAKEWPARAM(ID, BN_CLICKED), reinterpret_cast<LPARAM>(Item(Dialog, ID)));
}
// A command that opens no window, sent: done when this returns.
inline void Command(HWND Dialog, int ID) { SendMessageW(Dialog, WM_COMMAND, MAKEWPARAM(ID, 0), 0); }
inline void Key(HWND Wnd, UINT VirtualKey) { SendMessageW(Wnd, WM_KEYDOWN, VirtualKey, 0); }

// The window with the keyboard focus on the thread that owns Wnd (GetFocus answers only for the
// calling thread).
inline HWND FocusOf(HWND Wnd) {
  GUITHREADINFO info{};
  info.cbSize = sizeof(info);
  return GetGUIThreadInfo(GetWindowThreadProcessId(Wnd, nullptr), &info) ? info.hwndFocus : nullptr;
}

// Waits (bounded) until the focus on Wnd's thread is Expected.
inline bool WaitFocus(HWND Wnd, HWND Expected) {
  const auto until = std::chrono::steady_clock::now() + kBound;
  while (std::chrono::steady_clock::now() < until) {
    if (FocusOf(Wnd) == Expected) return true;
    Sleep(50);
  }
  return false;
}

// Keys as the keyboard sends them (the system's input queue, so the key state that handlers
// read with GetKeyState is real): every key of Chord down in order, then up in reverse.
inline void PressKeys(std::initializer_list<WORD> Chord) {
  std::vector<INPUT> inputs;
  for (WORD key : Chord) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = key;
    inputs.push_back(in);
  }
  for (auto it = Chord.end(); it != Chord.begin();) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = *--it;
    in.ki.dwFlags = KEYEVENTF_KEYUP;
    inputs.push_back(in);
  }
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

// The tool tips of an owner window: the tool's window and its text.
inline std::vector<std::pair<HWND, std::wstring>> ToolTips(HWND Owner) {
  std::vector<std::pair<HWND, std::wstring>> tools;
  struct TEnum {
    static BOOL CALLBACK Proc(HWND wnd, LPARAM param) {
      auto* q = reinterpret_cast<std::pair<HWND, std::vector<HWND>*>*>(param);
      if (ClassOf(wnd) == L"tooltips_class32" && GetWindow(wnd, GW_OWNER) == q->first) q->second->push_back(wnd);
      return TRUE;
    }
  };
  std::vector<HWND> windows;
  std::pair<HWND, std::vector<HWND>*> query{Owner, &windows};
  EnumThreadWindows(GetWindowThreadProcessId(Owner, nullptr), &TEnum::Proc, reinterpret_cast<LPARAM>(&query));
  for (HWND tips : windows) {
    const int count = static_cast<int>(SendMessageW(tips, TTM_GETTOOLCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
      wchar_t text[1024] = L"";
      TTTOOLINFOW tool{};
      tool.cbSize = sizeof(tool);
      tool.lpszText = text;
      if (SendMessageW(tips, TTM_ENUMTOOLSW, i, reinterpret_cast<LPARAM>(&tool)))
        tools.push_back({reinterpret_cast<HWND>(tool.uId), text});
    }
  }
  return tools;
}

// Waits (bounded) for a popup menu, reads its captions ("" for a separator) and closes it with
// Escape; empty when none came up.
inline std::vector<std::wstring> TakeMenuCaptions() {
  std::vector<std::wstring> captions;
  HWND menuWindow = WaitWindow(L"#32768", L"");
  if (!menuWindow) return captions;
  HMENU menu = reinterpret_cast<HMENU>(SendMessageW(menuWindow, MN_GETHMENU, 0, 0));
  for (int i = 0; i < GetMenuItemCount(menu); ++i) {
    wchar_t text[256] = L"";
    GetMenuStringW(menu, i, text, 256, MF_BYPOSITION);
    captions.push_back(text);
  }
  PostMessageW(menuWindow, WM_KEYDOWN, VK_ESCAPE, 0);
  WaitGone(menuWindow);
  return captions;
}

// A message box's text (its static has ID 0xFFFF).
inline std::wstring MessageBoxText(HWND Box) { return ItemText(Box, 0xFFFF); }

// Runs Modal on this thread and Script on a second one; then cancels whatever of this
// process's dialogs is still up until Modal has returned.
inline void RunWhileModal(const std::function<void()>& Modal, const std::function<void()>& Script) {
  std::atomic<bool> done{false};
  std::thread driver([&] {
    Script();
    const auto until = std::chrono::steady_clock::now() + kBound;
    while (!done && std::chrono::steady_clock::now() < until) {
      for (HWND menu : TopWindows(L"#32768")) PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
      for (HWND dialog : TopWindows(L"#32770")) PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
      Sleep(200);
    }
  });
  struct TJoin {
    std::atomic<bool>& Done;
    std::thread& Driver;
    ~TJoin() {
      Done = true;
      Driver.join();
    }
  } join{done, driver};
  Modal();
}

}  // namespace uitest
