// Pictures of the settings dialogs for the documentation: opens them on a driver object and
// saves each window as a BMP into the folder given as the argument (the script makes PNGs).
// Needs a display; tools/screenshots/make-screenshots.sh runs it under the tree's Xvfb.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "kit/UiTestKit.h"
#include "fps/uDriver.h"
#include "host/uComServer.h"
#include "ui/uUiResources.h"
#include "ui/ufmCommonSettings.h"
#include "ui/ufmMainSettings.h"

using namespace uitest;

namespace {

bool SaveScreenRect(const RECT& r, const std::wstring& File) {
  const int w = r.right - r.left, h = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  SelectObject(memory, old);
  BITMAPINFOHEADER info{};
  info.biSize = sizeof(info);
  info.biWidth = w;
  info.biHeight = h;
  info.biPlanes = 1;
  info.biBitCount = 24;
  const int stride = (w * 3 + 3) & ~3;
  std::vector<BYTE> pixels(static_cast<size_t>(stride) * h);
  GetDIBits(memory, bitmap, 0, h, pixels.data(), reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  BITMAPFILEHEADER header{};
  header.bfType = 0x4D42;
  header.bfOffBits = sizeof(header) + sizeof(info);
  header.bfSize = header.bfOffBits + static_cast<DWORD>(pixels.size());
  FILE* out = _wfopen(File.c_str(), L"wb");
  if (!out) return false;
  fwrite(&header, sizeof(header), 1, out);
  fwrite(&info, sizeof(info), 1, out);
  fwrite(pixels.data(), 1, pixels.size(), out);
  fclose(out);
  return true;
}

bool HelpFileHere() {
  wchar_t exe[MAX_PATH] = L"";
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring help = exe;
  help = help.substr(0, help.find_last_of(L'\\') + 1) + L"help.chm";
  return GetFileAttributesW(help.c_str()) != INVALID_FILE_ATTRIBUTES;
}

RECT WindowRect(HWND Wnd) {
  RECT r{};
  GetWindowRect(Wnd, &r);
  return r;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    fwprintf(stderr, L"usage: ui_screenshots OUTPUT_FOLDER [NAME_SUFFIX]\n");
    return 2;
  }
  const std::wstring folder = std::wstring(argv[1]) + L"\\";
  // A suffix for every file name (the run at another screen scale).
  const std::wstring suffix = argc > 2 ? argv[2] : L"";
  CoInitialize(nullptr);
  RegisterSettingsDialogs();
  RegisterDriverSettingsPages({TfrmMainSettings::PageClass()});
  auto* driver = static_cast<TDriver*>(CreateComObject<TDriver>());
  int failures = 0;
  auto save = [&](const RECT& r, const wchar_t* name) {
    Sleep(500);  // let the window paint
    std::wstring file = name;
    file.insert(file.size() - 4, suffix);
    if (!SaveScreenRect(r, folder + file)) ++failures;
  };
  RunWhileModal([&] { driver->ExecuteSettingsDialog({TfrmMainSettings::PageClass()}, false); },
                [&] {
                  HWND dialog = WaitDialog(L"Настройки");
                  if (!dialog) {
                    ++failures;
                    return;
                  }
                  save(WindowRect(dialog), L"settings-dialog.bmp");
                  // The information tab, as a click on it selects it.
                  HWND tabs = Item(dialog, IDC_PAGES);
                  SendMessageW(tabs, TCM_SETCURSEL, 1, 0);
                  NMHDR change{tabs, static_cast<UINT_PTR>(IDC_PAGES), static_cast<UINT>(TCN_SELCHANGE)};
                  SendMessageW(dialog, WM_NOTIFY, IDC_PAGES, reinterpret_cast<LPARAM>(&change));
                  save(WindowRect(dialog), L"settings-information.bmp");
                  SendMessageW(tabs, TCM_SETCURSEL, 0, 0);
                  SendMessageW(dialog, WM_NOTIFY, IDC_PAGES, reinterpret_cast<LPARAM>(&change));
                  // The menu of "Дополнительно" with the debug-log entry shown.
                  driver->SetSettingValue(L"DebugLogEnabled", TVariant::FromBool(true));
                  Click(dialog, IDC_MORE);
                  if (HWND menu = WaitWindow(L"#32768", L"")) {
                    RECT r = WindowRect(dialog), m = WindowRect(menu);
                    UnionRect(&r, &r, &m);
                    save(r, L"settings-menu.bmp");
                    PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
                    WaitGone(menu);
                  } else {
                    ++failures;
                  }
                  driver->SetSettingValue(L"DebugLogEnabled", TVariant::FromBool(false));
                  Click(dialog, IDM_SETTINGSLIST);
                  if (HWND list = WaitDialog(L"Список настроек")) {
                    HWND view = Item(list, IDC_SETTINGS);
                    LVITEMW item{};
                    item.stateMask = item.state = LVIS_SELECTED | LVIS_FOCUSED;
                    SendMessageW(view, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&item));
                    save(WindowRect(list), L"settings-list.bmp");
                    Click(list, IDCANCEL);
                    WaitGone(list);
                  } else {
                    ++failures;
                  }
                  // The help file opened from "Справка", when the script put help.chm next to
                  // this program (the dialog offers the item only then).
                  if (HelpFileHere()) {
                    Click(dialog, IDM_HELP);
                    if (HWND viewer = WaitWindow(L"HH Parent", L"")) {
                      // Side by side: the dialog at the left, the viewer next to it.
                      SetWindowPos(dialog, nullptr, 8, 40, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
                      const RECT placed = WindowRect(dialog);
                      const int left = placed.right + 8, width = GetSystemMetrics(SM_CXSCREEN) - 8 - left;
                      SetWindowPos(viewer, HWND_TOP, left, 40, width, placed.bottom - 40 + 120, 0);
                      RedrawWindow(viewer, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
                      Sleep(1500);  // the viewer fills its contents tree after it shows
                      RECT r = WindowRect(dialog), v = WindowRect(viewer);
                      UnionRect(&r, &r, &v);
                      save(r, L"help.bmp");
                      PostMessageW(viewer, WM_CLOSE, 0, 0);
                      WaitGone(viewer);
                    } else {
                      ++failures;
                    }
                  }
                  Click(dialog, IDCANCEL);
                  WaitGone(dialog);
                });
  driver->Release();
  CoUninitialize();
  return failures == 0 ? 0 : 1;
}
