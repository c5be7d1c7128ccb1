#pragma once
// What the soak, the fault matrix and the host input matrix share: the sizes of a run (short
// in ./run test, long behind ./run soak), the shared day's log file read back line by line,
// process metrics, and a second process that holds a file locked.
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "kit/E2EKit.h"

namespace soak {

using namespace e2e;

// A number from the environment (TOLVARO_SOAK_*), or the default when unset or not a number.
inline int EnvNumber(const char* Name, int Default) {
  const char* text = std::getenv(Name);
  if (!text || !*text) return Default;
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  return end && *end == '\0' && v > 0 ? static_cast<int>(v) : Default;
}

// The long form: any of the soak's sizes given.
inline bool LongForm() { return std::getenv("TOLVARO_SOAK_CYCLES") || std::getenv("TOLVARO_SOAK_MINUTES"); }

// OutData item i as text / its result code and text on failure.
inline std::wstring OutText(const TVariant& Out, LONG i) { return CountOf(Out) > i ? Str(ItemOf(Out, i)) : L""; }
inline std::string Failure(const TVariant& Out) {
  if (CountOf(Out) < 2) return "(no result code)";
  return std::to_string(ItemOf(Out, 0).Get().lVal) + " " + U8(Str(ItemOf(Out, 1)));
}

// A debug-log line: "yyyy.mm.dd hh:mm:ss.zzz Inst.: {GUID}\t<caption>[: \t<text>]".
// An exchange-log line: "yyyy.mm.dd hh:mm:ss.zzz\t<LEVEL>\t<source>[: \t<message>]".
struct TLogLine {
  enum TKind { Debug, Exchange, Banner, Malformed } Kind = Malformed;
  std::wstring Instance;  // debug lines
  std::wstring Caption;   // debug: the caption; exchange: the level
  std::wstring Text;      // what follows ": \t"
};

inline bool StampAt(const std::wstring& L) {
  // 2026.12.10 11:42:57.123 (the time separator is the user's)
  if (L.size() < 23) return false;
  for (size_t i : {0u, 1u, 2u, 3u, 5u, 6u, 8u, 9u, 11u, 12u, 14u, 15u, 17u, 18u, 20u, 21u, 22u})
    if (L[i] < L'0' || L[i] > L'9') return false;
  return L[4] == L'.' && L[7] == L'.' && L[10] == L' ' && L[19] == L'.';
}

inline TLogLine ParseLogLine(const std::wstring& L) {
  TLogLine r;
  static const wchar_t* const kBanner[] = {L"============Start log=============", L"============Stop log===============",
                                           L"OS version:\t", L"Application:\t", L"App. version:\t"};
  if (L == std::wstring(40, L' ')) return r.Kind = TLogLine::Banner, r;
  for (const wchar_t* b : kBanner)
    if (L.rfind(b, 0) == 0) return r.Kind = TLogLine::Banner, r;
  if (!StampAt(L) || L.find(L"<no CR LF>") != std::wstring::npos) return r;
  // A second time stamp inside a line means two writers' bytes were mixed.
  for (size_t i = 1; i + 23 < L.size(); ++i)
    if (L[i + 4] == L'.' && L[i + 10] == L' ' && StampAt(L.substr(i, 23)) &&
        (L.compare(i + 23, 8, L" Inst.: ") == 0 || L.compare(i + 23, 6, L"\tINFO\t") == 0 ||
         L.compare(i + 23, 7, L"\tDEBUG\t") == 0 || L.compare(i + 23, 7, L"\tERROR\t") == 0))
      return r;
  const size_t sep = L.find(L": \t");
  if (L.compare(23, 8, L" Inst.: ") == 0) {
    const size_t tab = L.find(L'\t', 31);
    if (tab == std::wstring::npos) return r;
    r.Instance = L.substr(31, tab - 31);
    if (r.Instance.size() != 38 || r.Instance.front() != L'{' || r.Instance.back() != L'}') return r;
    r.Caption = L.substr(tab + 1, sep == std::wstring::npos ? std::wstring::npos : sep - tab - 1);
    if (sep != std::wstring::npos) r.Text = L.substr(sep + 3);
    r.Kind = TLogLine::Debug;
    return r;
  }
  if (L[23] != L'\t') return r;
  const size_t tab = L.find(L'\t', 24);
  if (tab == std::wstring::npos) return r;
  r.Caption = L.substr(24, tab - 24);
  if (r.Caption != L"INFO" && r.Caption != L"DEBUG" && r.Caption != L"ERROR") return r;
  if (sep != std::wstring::npos) r.Text = L.substr(sep + 3);
  r.Kind = TLogLine::Exchange;
  return r;
}

// The process's open handles, private bytes, the bytes its heaps hand out and its threads.
// Private bytes also hold thread stacks (a worker thread of WinHTTP comes and goes: about 1 MiB)
// and the heaps' free space; the live heap bytes are what a leak of allocations grows.
struct TProcessMetrics {
  DWORD Handles = 0;
  SIZE_T PrivateBytes = 0;
  SIZE_T LiveHeapBytes = 0;
  int Threads = 0;
  static TProcessMetrics Now() {
    TProcessMetrics m;
    HANDLE heaps[256];
    const DWORD count = GetProcessHeaps(256, heaps);
    for (DWORD i = 0; i < count && i < 256; ++i) {
      if (!HeapLock(heaps[i])) continue;
      PROCESS_HEAP_ENTRY e{};
      while (HeapWalk(heaps[i], &e))
        if (e.wFlags & PROCESS_HEAP_ENTRY_BUSY) m.LiveHeapBytes += e.cbData;
      HeapUnlock(heaps[i]);
    }
    THandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    if (snapshot.Valid())
      for (BOOL more = Thread32First(snapshot.Get(), &entry); more; more = Thread32Next(snapshot.Get(), &entry))
        m.Threads += entry.th32OwnerProcessID == GetCurrentProcessId() ? 1 : 0;
    if (!GetProcessHandleCount(GetCurrentProcess(), &m.Handles) || m.Handles == 0) {
      // Wine answers 0: count the handle values that name an object instead.
      for (uintptr_t h = 4; h < (1u << 18); h += 4) {
        DWORD flags = 0;
        m.Handles += GetHandleInformation(reinterpret_cast<HANDLE>(h), &flags) ? 1 : 0;
      }
    }
    PROCESS_MEMORY_COUNTERS_EX pmc{};
    pmc.cb = sizeof pmc;
    if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc), sizeof pmc))
      m.PrivateBytes = pmc.PrivateUsage ? pmc.PrivateUsage : pmc.PagefileUsage;  // Wine fills only the latter
    return m;
  }
};

// Another process (this program with --hold-locked) that opens a file with no sharing until
// it is told to let go; stopped by its handle when the test ends, whatever happened.
class TFileHolder {
public:
  explicit TFileHolder(const std::wstring& File);
  ~TFileHolder();
  TFileHolder(const TFileHolder&) = delete;
  TFileHolder& operator=(const TFileHolder&) = delete;
  bool Holding() const { return FHolding; }
  // Lets go of the file and waits for the process to end; its exit code.
  DWORD Release();

private:
  THandle FProcess, FRelease;
  bool FHolding = false;
};

// The holder's side (main.cpp): opens File with no sharing, signals Ready, waits for Release.
int HoldLocked(const std::wstring& File, const std::wstring& Ready, const std::wstring& ReleaseEvent);

}  // namespace soak
