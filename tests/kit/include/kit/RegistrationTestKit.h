#pragma once
// What the COM server tests and the product's end-to-end tests share: the prefix's regsvr32,
// the registry read back as a tree, and telling Wine from Windows.
#include <windows.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <utility>

#include "platform/uFiles.h"
#include "platform/uHandles.h"
#include "platform/uRegistry.h"
#include "platform/uStrings.h"

namespace regtest {

using TValues = std::map<std::wstring, std::pair<DWORD, std::wstring>>;  // name -> (type, text)
using TTree = std::map<std::wstring, TValues>;                           // key path -> values

// The machine's classes under HKEY_LOCAL_MACHINE, the user's under HKEY_CURRENT_USER.
inline const std::wstring kClasses = L"Software\\Classes";

// The folder of the test program, with a trailing backslash: the DLLs under test lie there.
inline std::wstring ExeFolder() {
  const std::wstring exe = ThisModuleFileName();
  return exe.substr(0, exe.find_last_of(L'\\') + 1);
}

// Waits (bounded generously) until a module's DllCanUnloadNow lets it unload; its last answer.
inline HRESULT WaitForUnloadable(HRESULT(STDAPICALLTYPE* CanUnloadNow)()) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  HRESULT hr = CanUnloadNow();
  while (hr != S_OK && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    hr = CanUnloadNow();
  }
  return hr;
}

// Runs the prefix's regsvr32 silently; its exit code, or -1 when it did not end in time.
inline int Regsvr32(const std::wstring& Args, const std::wstring& Dll) {
  std::wstring command = L"regsvr32.exe /s " + Args + (Args.empty() ? L"" : L" ") + L"\"" + Dll + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return -2;
  THandle process(pi.hProcess), thread(pi.hThread);
  if (WaitForSingleObject(process.Get(), 120000) != WAIT_OBJECT_0) {
    TerminateProcess(process.Get(), 99);
    return -1;
  }
  DWORD code = 0;
  GetExitCodeProcess(process.Get(), &code);
  return static_cast<int>(code);
}

inline bool RunningOnWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// Every key and value of Root\Path\..., keyed by the path relative to Root. View: 0 for the
// program's own registry view, or KEY_WOW64_32KEY / KEY_WOW64_64KEY.
inline void ReadTree(HKEY Root, const std::wstring& Path, TTree& Tree, REGSAM View = 0) {
  const TRegKey key = TRegKey::Open(Root, Path, KEY_READ | View);
  if (!key) return;
  TValues& values = Tree[Path];
  for (DWORD i = 0;; ++i) {
    wchar_t name[512];
    DWORD nameLen = 512, type = 0;
    if (RegEnumValueW(key.Get(), i, name, &nameLen, nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS) break;
    std::wstring text;
    key.ReadString(name, text);
    values[name] = {type, text};
  }
  for (DWORD i = 0;; ++i) {
    wchar_t name[512];
    DWORD nameLen = 512;
    if (RegEnumKeyExW(key.Get(), i, name, &nameLen, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    ReadTree(Root, Path + L"\\" + name, Tree, View);
  }
}

// What a class owns under one classes root: its CLSID key and its ProgID key.
inline TTree ClassEntries(HKEY Root, const std::wstring& ClassKey, const std::wstring& ProgID, REGSAM View = 0) {
  TTree tree;
  ReadTree(Root, kClasses + L"\\" + ClassKey, tree, View);
  ReadTree(Root, kClasses + L"\\" + ProgID, tree, View);
  return tree;
}

// The entries registration writes for a class, as ReadTree reads them back.
inline TTree ExpectedClassEntries(const std::wstring& Classes, const std::wstring& ClassKey, const std::wstring& ProgID,
                                  const std::wstring& GuidText, const std::wstring& Description,
                                  const std::wstring& ServerPath) {
  const std::wstring c = Classes + L"\\";
  return {
      {c + ClassKey, {{L"", {REG_SZ, Description}}}},
      {c + ClassKey + L"\\InprocServer32", {{L"", {REG_SZ, ServerPath}}, {L"ThreadingModel", {REG_SZ, L"Apartment"}}}},
      {c + ClassKey + L"\\ProgID", {{L"", {REG_SZ, ProgID}}}},
      {c + ProgID, {{L"", {REG_SZ, Description}}}},
      {c + ProgID + L"\\Clsid", {{L"", {REG_SZ, GuidText}}}},
  };
}

inline std::string Show(const TTree& Tree) {
  std::wstring text;
  for (const auto& [path, values] : Tree) {
    text += path + L"\n";
    for (const auto& [name, value] : values)
      text += L"  [" + name + L"] (" + std::to_wstring(value.first) + L") " + value.second + L"\n";
  }
  return Utf16ToUtf8(text);
}

}  // namespace regtest
