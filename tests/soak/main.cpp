// The soak program: GoogleTest, or (--hold-locked FILE READY RELEASE) the second process that
// holds a log file locked while the tests make payments.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include "SoakKit.h"

namespace soak {

int HoldLocked(const std::wstring& File, const std::wstring& Ready, const std::wstring& ReleaseEvent) {
  THandle file(CreateFileW(File.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr));
  if (!file.Valid()) return 3;
  THandle ready(OpenEventW(EVENT_MODIFY_STATE, FALSE, Ready.c_str()));
  THandle release(OpenEventW(SYNCHRONIZE, FALSE, ReleaseEvent.c_str()));
  if (!ready.Valid() || !release.Valid()) return 4;
  SetEvent(ready.Get());
  // Bounded, so that a test that died without telling us does not leave us behind.
  return WaitForSingleObject(release.Get(), 300000) == WAIT_OBJECT_0 ? 0 : 5;
}

TFileHolder::TFileHolder(const std::wstring& File) {
  const std::wstring base = L"tolvaro_soak_" + NewGuidText();
  THandle ready(CreateEventW(nullptr, TRUE, FALSE, (base + L"_ready").c_str()));
  FRelease.Reset(CreateEventW(nullptr, TRUE, FALSE, (base + L"_release").c_str()));
  std::wstring command = L"\"" + ThisModuleFileName() + L"\" --hold-locked \"" + File + L"\" " + base + L"_ready " +
                         base + L"_release";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return;
  FProcess.Reset(pi.hProcess);
  CloseHandle(pi.hThread);
  HANDLE both[2] = {ready.Get(), FProcess.Get()};
  FHolding = WaitForMultipleObjects(2, both, FALSE, 60000) == WAIT_OBJECT_0;
}

DWORD TFileHolder::Release() {
  if (!FProcess.Valid()) return 99;
  SetEvent(FRelease.Get());
  if (WaitForSingleObject(FProcess.Get(), 60000) != WAIT_OBJECT_0) TerminateProcess(FProcess.Get(), 98);
  WaitForSingleObject(FProcess.Get(), 10000);
  DWORD code = 97;
  GetExitCodeProcess(FProcess.Get(), &code);
  FProcess.Reset();
  return code;
}

TFileHolder::~TFileHolder() {
  if (!FProcess.Valid()) return;
  TerminateProcess(FProcess.Get(), 96);
  WaitForSingleObject(FProcess.Get(), 10000);
}

}  // namespace soak

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--hold-locked") {
    int n = 0;
    LPWSTR* w = CommandLineToArgvW(GetCommandLineW(), &n);
    const int code = n == 5 ? soak::HoldLocked(w[2], w[3], w[4]) : 2;
    LocalFree(w);
    return code;
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
