// The product's costs as a host meets them: tolvaro.dll registered in the prefix, created by
// ProgID and driven through IDispatch::Invoke against the bank sandbox, each figure beside
// what a minimal hand-written equivalent costs in the same process. Compared variants run
// interleaved, and figures are medians, so that drift on a busy machine hits both sides.
//
//   tolvaro_bench [--cycles N] [--objects N] [--rounds N] [--sandbox-log FILE] [--only PART]
//
// The parts: dispatch, bank, pay, steady, and latency and connections (tolvaro_bench_latency.h,
// which need the relays of TOLVARO_RELAY_FAR and TOLVARO_RELAY_NEAR).
//
// TOLVARO_SANDBOX names the sandbox's info file; --sandbox-log its request log (for the time
// the sandbox answered). Prints one Markdown table (figure, target, met) and, before it, the
// raw samples' spread; exit code 0 when every target is met, 1 when one is missed, 2 on error.
// A figure is never made of nothing: a count option that is not a whole number of at least 1,
// an unknown part, a statistic of no samples or a counter that cannot be read exits 2 with
// the reason. Every row checks its figure against both ends of its target.
#include <winsock2.h>  // before windows.h: the latency part talks to the relay
#include <iphlpapi.h>
#include <windows.h>
#include <bcrypt.h>
#include <oaidl.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <winhttp.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "kit/TestEquipmentManager.h"
#include "kit/DispatchTestKit.h"
#include "platform/uComPtr.h"
#include "platform/uFiles.h"
#include "platform/uSafeArray.h"
#include "platform/uStrings.h"
#include "platform/uVariant.h"
#include "kit/LatencyRelay.h"
#include "kit/uSandbox.h"

namespace {

using tolvaro::test::TSandbox;

// ---------------------------------------------------------------------------------------------
// Clocks and statistics

double NowMs() {
  static const double Frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart) / 1000.0;
  }();
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) / Frequency;
}

// Milliseconds since 1601, UTC, from the wall clock the sandbox's log also uses.
double WallMs() {
  FILETIME ft;
  GetSystemTimePreciseAsFileTime(&ft);
  ULARGE_INTEGER u{{ft.dwLowDateTime, ft.dwHighDateTime}};
  return static_cast<double>(u.QuadPart) / 10000.0;
}

[[noreturn]] void Fail(const std::string& What) { throw std::runtime_error(What); }

// An empty sample list has no median: a figure made of nothing must never pass for one, so
// every statistic refuses it (the program then exits 2 and says which figure it was).
const std::vector<double>& Samples(const std::vector<double>& v, const std::string& What) {
  if (v.empty()) Fail("no samples of " + What + ": nothing was measured");
  return v;
}

double Median(std::vector<double> v) {
  if (v.empty()) Fail("a median of no samples");
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double Max(const std::vector<double>& v) {
  if (v.empty()) Fail("a maximum of no samples");
  return *std::max_element(v.begin(), v.end());
}

double Min(const std::vector<double>& v) {
  if (v.empty()) Fail("a minimum of no samples");
  return *std::min_element(v.begin(), v.end());
}

// Whether every sample lies within [Low, High]: both ends are checked, and a sample that is
// not a number (0/0) is outside.
bool AllWithin(const std::vector<double>& v, double Low, double High) {
  for (const double x : v)
    if (!(x >= Low && x <= High)) return false;
  return !v.empty();
}

std::string U8(const std::wstring& s) { return Utf16ToUtf8(s); }
std::wstring W(const std::string& s) { return Utf8ToUtf16(s); }

std::string Fixed(double v, int decimals) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

// ---------------------------------------------------------------------------------------------
// The table

struct TRow {
  std::string Figure, Value, Target;
  bool Met = false;
};
std::vector<TRow> GRows;

void AddRow(const std::string& Figure, const std::string& Value, const std::string& Target, bool Met) {
  GRows.push_back({Figure, Value, Target, Met});
  std::printf("  %s: %s (target %s) %s\n", Figure.c_str(), Value.c_str(), Target.c_str(), Met ? "met" : "MISSED");
  std::fflush(stdout);
}

void Note(const std::string& Text) {
  std::printf("  %s\n", Text.c_str());
  std::fflush(stdout);
}

// ---------------------------------------------------------------------------------------------
// The driver as a host holds it

const wchar_t kProgID[] = L"Qelm.tolvaro";

bool IsTrue(const TInvokeResult& r) { return r.Result.Type() == VT_BOOL && r.Result.Get().boolVal == VARIANT_TRUE; }

std::wstring Text(const TVariant& v) { return VariantToString(v.Get()); }

std::wstring Failure(const TVariant& Out) {
  return CountOf(Out) > 1 ? Text(ItemOf(Out, 1)) : L"(no description)";
}

struct TOptions {
  int WaitTimeout = 30;
  bool DebugLog = false;
};

class TDriver {
 public:
  TDriver(const TSandbox& Sandbox, const std::wstring& DevicesFolder, TOptions Options, bool Enable = true)
      : Key(TSandbox::UniqueKey("bench")), Password("bench-" + U8(NewGuidText().substr(1, 8))) {
    Sandbox.AddTerminal(Key, Password);
    Create(DevicesFolder, Sandbox.HttpBase() + "/v2", Options, Enable);
  }
  // An object on a terminal the caller made.
  TDriver(const std::string& AKey, const std::string& APassword, const std::string& Host,
          const std::wstring& DevicesFolder, TOptions Options, bool Enable)
      : Key(AKey), Password(APassword) {
    Create(DevicesFolder, Host, Options, Enable);
  }
  ~TDriver() {
    if (Obj) Obj->Release();
    *Obj.OutPtr() = nullptr;
    if (Manager) Manager->Release();
  }
  TDriver(const TDriver&) = delete;
  TDriver& operator=(const TDriver&) = delete;

  IDispatch* Disp() const { return Obj.Get(); }
  size_t ManagerCalls() const { return Manager ? Manager->Calls().size() : 0; }
  DISPID Id(const std::wstring& Name) {
    HRESULT hr = S_OK;
    const DISPID id = DispIdOf(Disp(), Name, &hr);
    if (FAILED(hr)) Fail("no method " + U8(Name));
    return id;
  }
  TInvokeResult Call(DISPID Method, const TVariant& InData, TVariant& OutData) const {
    TVariant timeOut = TVariant::FromInt(0);
    return InvokeById(Disp(), Method, {ByVal(InData), VariantRefTo(OutData), ByVal(timeOut)});
  }
  void MustCall(const std::wstring& Name, const TVariant& InData, TVariant& OutData) {
    if (!IsTrue(Call(Id(Name), InData, OutData))) Fail(U8(Name) + " failed: " + U8(Failure(OutData)));
  }

  std::string Key, Password;

 private:
  void Create(const std::wstring& DevicesFolder, const std::string& Host, TOptions Options, bool Enable) {
    CLSID clsid{};
    if (FAILED(CLSIDFromProgID(kProgID, &clsid))) Fail("the product is not registered");
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, Obj.OutVoid())))
      Fail("CoCreateInstance failed");
    Manager = TTestEquipmentManager::Create();
    Manager->SetAppProperty(L"ModelsFolder", DevicesFolder + L"models");
    Manager->SetAppProperty(L"Language", L"ru");
    Manager->SetAppProperty(L"DevicesFolder", DevicesFolder);
    const std::wstring deviceID = W(Key);
    CreateDirectoryW((DevicesFolder + deviceID).c_str(), nullptr);
    TVariant manager = Manager->AsVariant(), description, id = TVariant::FromString(deviceID);
    if (!IsTrue(InvokeByName(Disp(), L"Init", {ByVal(manager), VariantRefTo(description)}))) Fail("Init failed");
    if (!IsTrue(InvokeByName(Disp(), L"Open", {ByVal(id), VariantRefTo(description)}))) Fail("Open failed");
    TVariant out;
    MustCall(L"SetSettings",
             SettingsInData({
                 {L"Host", TVariant::FromString(W(Host))},
                 {L"TerminalKey", TVariant::FromString(W(Key))},
                 {L"Password", TVariant::FromString(W(Password))},
                 {L"WaitTimeout", TVariant::FromInt(Options.WaitTimeout)},
                 {L"LineLength", TVariant::FromInt(40)},
                 {L"DebugLogEnabled", TVariant::FromBool(Options.DebugLog)},
             }),
             out);
    if (Enable) MustCall(L"Enable", TVariant(), out);
  }

  TComPtr<IDispatch> Obj;
  TTestEquipmentManager* Manager = nullptr;
};

// ---------------------------------------------------------------------------------------------
// 1. Dispatch overhead

// The least code that answers the same calls with the same kind of result. GetDeviceInfo
// makes a fifteen-element vector, fills it in place with copies of the driver's own values
// (taken once from it; the caller owns what it gets, so every call makes new strings), and
// moves it into the caller's variable; Close only sets a VT_BOOL result.
class TMinimalDevice final : public IDispatch {
 public:
  enum : DISPID { idGetDeviceInfo = 1, idClose = 2 };
  explicit TMinimalDevice(std::vector<TVariant> Info) : FInfo(std::move(Info)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch) {
      *ppv = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++FRefs; }
  ULONG STDMETHODCALLTYPE Release() override { return --FRefs; }  // lives on the stack
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* Names, UINT Count, LCID, DISPID* Ids) override {
    if (Count != 1) return DISP_E_UNKNOWNNAME;
    if (_wcsicmp(Names[0], L"GetDeviceInfo") == 0)
      Ids[0] = idGetDeviceInfo;
    else if (_wcsicmp(Names[0], L"Close") == 0)
      Ids[0] = idClose;
    else
      return DISP_E_UNKNOWNNAME;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID Id, REFIID, LCID, WORD, DISPPARAMS* Params, VARIANT* Result, EXCEPINFO*,
                                   UINT*) override {
    if (Id == idGetDeviceInfo) {
      if (!Params || Params->cArgs != 3) return DISP_E_BADPARAMCOUNT;
      VARIANT& out = Params->rgvarg[1];  // right to left: TimeOut, OutData, InData
      if (out.vt != (VT_BYREF | VT_VARIANT)) return DISP_E_TYPEMISMATCH;
      SAFEARRAY* sa = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(FInfo.size()));
      if (!sa) return E_OUTOFMEMORY;
      VARIANT* items = nullptr;
      if (FAILED(SafeArrayAccessData(sa, reinterpret_cast<void**>(&items)))) {
        SafeArrayDestroy(sa);
        return E_UNEXPECTED;
      }
      for (size_t i = 0; i < FInfo.size(); ++i) VariantCopy(&items[i], const_cast<VARIANT*>(&FInfo[i].Get()));
      SafeArrayUnaccessData(sa);
      VariantClear(out.pvarVal);
      out.pvarVal->vt = VT_ARRAY | VT_VARIANT;
      out.pvarVal->parray = sa;
    } else if (Id != idClose) {
      return DISP_E_MEMBERNOTFOUND;
    }
    if (Result) {
      VariantInit(Result);
      Result->vt = VT_BOOL;
      Result->boolVal = VARIANT_TRUE;
    }
    return S_OK;
  }

 private:
  ULONG FRefs = 1;
  std::vector<TVariant> FInfo;
};

// Mean time per call (ns) of Count calls.
double TimeCalls(int Count, const std::function<void()>& Call) {
  const double start = NowMs();
  for (int i = 0; i < Count; ++i) Call();
  return (NowMs() - start) * 1e6 / Count;
}

void BenchDispatch(const TSandbox& Sandbox, const std::wstring& Devices) {
  std::printf("1. dispatch overhead (GetDeviceInfo, Close) against a minimal IDispatch\n");
  TDriver driver(Sandbox, Devices, TOptions{}, false);
  std::vector<TVariant> values;
  {
    TVariant in, out;
    driver.MustCall(L"GetDeviceInfo", in, out);
    for (LONG i = 0; i < CountOf(out); ++i) values.push_back(ItemOf(out, i));
    if (values.size() != 15) Fail("GetDeviceInfo did not answer fifteen values");
  }
  TMinimalDevice minimal(std::move(values));
  IDispatch* const drv = driver.Disp();
  IDispatch* const min = &minimal;
  const DISPID drvInfo = DispIdOf(drv, L"GetDeviceInfo"), drvClose = DispIdOf(drv, L"Close");
  const DISPID minInfo = DispIdOf(min, L"GetDeviceInfo"), minClose = DispIdOf(min, L"Close");
  TVariant in, timeOut = TVariant::FromInt(0);

  auto info = [&](IDispatch* d, DISPID id) {
    TVariant out;
    TInvokeResult r = InvokeById(d, id, {ByVal(in), VariantRefTo(out), ByVal(timeOut)});
    if (!IsTrue(r) || CountOf(out) != 15) Fail("GetDeviceInfo did not answer its fifteen values");
  };
  auto close = [&](IDispatch* d, DISPID id) {
    TInvokeResult r = InvokeById(d, id, {});
    if (!IsTrue(r)) Fail("Close did not answer True");
  };

  const int rounds = 31, batch = 2000;
  std::vector<double> dInfo, mInfo, dClose, mClose, rInfo, rClose;
  for (int r = 0; r < rounds; ++r) {
    // The order alternates, so neither side always runs first after the other's garbage.
    const bool flip = r % 2;
    double a, b, c, d;
    if (!flip) {
      a = TimeCalls(batch, [&] { info(drv, drvInfo); });
      b = TimeCalls(batch, [&] { info(min, minInfo); });
      c = TimeCalls(batch, [&] { close(drv, drvClose); });
      d = TimeCalls(batch, [&] { close(min, minClose); });
    } else {
      b = TimeCalls(batch, [&] { info(min, minInfo); });
      a = TimeCalls(batch, [&] { info(drv, drvInfo); });
      d = TimeCalls(batch, [&] { close(min, minClose); });
      c = TimeCalls(batch, [&] { close(drv, drvClose); });
    }
    if (r == 0) continue;  // warm-up
    dInfo.push_back(a);
    mInfo.push_back(b);
    dClose.push_back(c);
    mClose.push_back(d);
    rInfo.push_back(a / b);
    rClose.push_back(c / d);
  }
  Note("GetDeviceInfo: driver " + Fixed(Median(dInfo), 0) + " ns, minimal " + Fixed(Median(mInfo), 0) +
       " ns per call (median of " + std::to_string(dInfo.size()) + " batches of " + std::to_string(batch) + ")");
  Note("Close: driver " + Fixed(Median(dClose), 0) + " ns, minimal " + Fixed(Median(mClose), 0) + " ns per call");
  // The ratio is the median of the rounds' own ratios: the load drifts between rounds, and
  // both sides of one round share it.
  const double ri = Median(Samples(rInfo, "GetDeviceInfo's ratio")), rc = Median(Samples(rClose, "Close's ratio"));
  auto spread = [](std::vector<double> v) {
    Samples(v, "a round's ratio");
    std::sort(v.begin(), v.end());
    return Fixed(v.front(), 2) + "x .. " + Fixed(v[v.size() / 2], 2) + "x .. " + Fixed(v.back(), 2) + "x";
  };
  Note("rounds' ratios (least .. median .. most): GetDeviceInfo " + spread(rInfo) + ", Close " + spread(rClose));
  AddRow("Dispatch: GetDeviceInfo, driver / minimal IDispatch",
         Fixed(ri, 2) + "x (medians " + Fixed(Median(dInfo), 0) + " ns / " + Fixed(Median(mInfo), 0) + " ns)", "<= 3x",
         AllWithin({ri}, 0, 3.0));
  AddRow("Dispatch: Close (private), driver / minimal IDispatch",
         Fixed(rc, 2) + "x (medians " + Fixed(Median(dClose), 0) + " ns / " + Fixed(Median(mClose), 0) + " ns)", "<= 3x",
         AllWithin({rc}, 0, 3.0));
}

// ---------------------------------------------------------------------------------------------
// 2. Bank call overhead

class TInternet {
 public:
  explicit TInternet(HINTERNET h = nullptr) : FH(h) {}
  ~TInternet() {
    if (FH) WinHttpCloseHandle(FH);
  }
  TInternet(const TInternet&) = delete;
  TInternet& operator=(const TInternet&) = delete;
  HINTERNET Get() const { return FH; }

 private:
  HINTERNET FH;
};

std::string Sha256Hex(const std::string& Data) {
  BCRYPT_ALG_HANDLE alg = nullptr;
  if (BCryptOpenAlgorithmProvider(&alg, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) Fail("no SHA-256");
  unsigned char hash[32];
  BCRYPT_HASH_HANDLE h = nullptr;
  BCryptCreateHash(alg, &h, nullptr, 0, nullptr, 0, 0);
  BCryptHashData(h, reinterpret_cast<PUCHAR>(const_cast<char*>(Data.data())), static_cast<ULONG>(Data.size()), 0);
  BCryptFinishHash(h, hash, sizeof hash, 0);
  BCryptDestroyHash(h);
  BCryptCloseAlgorithmProvider(alg, 0);
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : hash) {
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  return hex;
}

// The JSON string member Name of a flat answer ("" when absent).
std::string Member(const std::string& Json, const std::string& Name) {
  const std::string tag = "\"" + Name + "\"";
  size_t p = Json.find(tag);
  if (p == std::string::npos) return {};
  p = Json.find('"', Json.find(':', p + tag.size()) + 1);
  if (p == std::string::npos) return {};
  const size_t e = Json.find('"', p + 1);
  return e == std::string::npos ? std::string() : Json.substr(p + 1, e - p - 1);
}

// Replaces the value of the string member Name in a flat JSON body.
std::string WithMember(std::string Json, const std::string& Name, const std::string& Value) {
  const std::string tag = "\"" + Name + "\"";
  const size_t p = Json.find(tag);
  if (p == std::string::npos) Fail("the driver's body has no " + Name + ": " + Json);
  const size_t b = Json.find('"', Json.find(':', p + tag.size()) + 1);
  const size_t e = Json.find('"', b + 1);
  return Json.replace(b + 1, e - b - 1, Value);
}

// What a minimal hand-written client does for one POST: the handles, the headers, the body,
// the answer read to its end. With Session null, it opens a session of its own for the call.
class TRawClient {
 public:
  // TimeoutsMs: 0 leaves WinHTTP's defaults alone (a minimal client sets none); else the
  // time-outs are set to it as the driver does, the name resolution's too when ResolveToo.
  TRawClient(std::wstring Agent, std::wstring Host, INTERNET_PORT Port, std::wstring Headers, bool KeepSession,
             int TimeoutsMs = 0, bool ResolveToo = true)
      : FAgent(std::move(Agent)), FHost(std::move(Host)), FPort(Port), FHeaders(std::move(Headers)),
        FTimeoutsMs(TimeoutsMs), FResolveToo(ResolveToo) {
    if (KeepSession) FSession = std::make_unique<TInternet>(Open());
  }

  std::string Post(const std::wstring& Path, const std::string& Body) const {
    std::unique_ptr<TInternet> own;
    if (!FSession) own = std::make_unique<TInternet>(Open());
    const HINTERNET session = FSession ? FSession->Get() : own->Get();
    TInternet connection(WinHttpConnect(session, FHost.c_str(), FPort, 0));
    TInternet request(WinHttpOpenRequest(connection.Get(), L"POST", Path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                         WINHTTP_DEFAULT_ACCEPT_TYPES, 0));
    if (!request.Get()) Fail("WinHttpOpenRequest failed");
    if (!WinHttpSendRequest(request.Get(), FHeaders.c_str(), static_cast<DWORD>(FHeaders.size()),
                            const_cast<char*>(Body.data()), static_cast<DWORD>(Body.size()),
                            static_cast<DWORD>(Body.size()), 0) ||
        !WinHttpReceiveResponse(request.Get(), nullptr))
      Fail("raw POST failed: " + std::to_string(GetLastError()));
    std::string answer;
    char buf[4096];
    DWORD read = 0;
    while (WinHttpReadData(request.Get(), buf, sizeof buf, &read) && read > 0) answer.append(buf, read);
    return answer;
  }

 private:
  HINTERNET Open() const {
    HINTERNET s = WinHttpOpen(FAgent.c_str(), WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                              WINHTTP_NO_PROXY_BYPASS, 0);
    if (!s) Fail("WinHttpOpen failed");
    if (FTimeoutsMs) WinHttpSetTimeouts(s, FResolveToo ? FTimeoutsMs : 0, FTimeoutsMs, FTimeoutsMs, FTimeoutsMs);
    return s;
  }
  std::wstring FAgent, FHost;
  INTERNET_PORT FPort;
  std::wstring FHeaders;
  int FTimeoutsMs;
  bool FResolveToo;
  std::unique_ptr<TInternet> FSession;
};

// Not a baseline: the minimal client in WinHTTP's asynchronous mode, as the driver's session is
// (so that a call can be ended as a whole): each step started and its completion waited for,
// one kept session. What that mode costs by itself, beside what the driver's own code does.
class TRawAsyncClient {
 public:
  TRawAsyncClient(const std::wstring& Agent, std::wstring Host, INTERNET_PORT Port, std::wstring Headers)
      : FSession(WinHttpOpen(Agent.c_str(), WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                             WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC)),
        FHost(std::move(Host)), FPort(Port), FHeaders(std::move(Headers)) {
    if (!FSession.Get()) Fail("WinHttpOpen (asynchronous) failed");
  }

  std::string Post(const std::wstring& Path, const std::string& Body) const {
    TInternet connection(WinHttpConnect(FSession.Get(), FHost.c_str(), FPort, 0));
    TInternet request(WinHttpOpenRequest(connection.Get(), L"POST", Path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                         WINHTTP_DEFAULT_ACCEPT_TYPES, 0));
    if (!request.Get()) Fail("WinHttpOpenRequest failed");
    // Freed by the handle's last callback: WinHTTP may call back after the handle closed.
    auto* state = new TState;
    state->Body = Body;
    DWORD_PTR context = reinterpret_cast<DWORD_PTR>(state);
    WinHttpSetOption(request.Get(), WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context);
    WinHttpSetStatusCallback(request.Get(), &Callback, WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES, 0);
    const auto step = [&](BOOL AStarted) {
      if (!AStarted || state->Wait() == WINHTTP_CALLBACK_STATUS_REQUEST_ERROR) Fail("raw asynchronous POST failed");
    };
    state->Arm();
    step(WinHttpSendRequest(request.Get(), FHeaders.c_str(), static_cast<DWORD>(FHeaders.size()), state->Body.data(),
                            static_cast<DWORD>(Body.size()), static_cast<DWORD>(Body.size()), context));
    state->Arm();
    step(WinHttpReceiveResponse(request.Get(), nullptr));
    std::string answer;
    for (;;) {
      state->Arm();
      step(WinHttpReadData(request.Get(), state->Buffer, sizeof state->Buffer, nullptr));
      if (state->Bytes == 0) break;
      answer.append(state->Buffer, state->Bytes);
    }
    return answer;
  }

 private:
  struct TState {
    std::string Body;
    char Buffer[4096];
    SRWLOCK Lock = SRWLOCK_INIT;
    CONDITION_VARIABLE Done = CONDITION_VARIABLE_INIT;
    DWORD Status = 0, Bytes = 0;
    void Arm() {
      AcquireSRWLockExclusive(&Lock);
      Status = 0;
      ReleaseSRWLockExclusive(&Lock);
    }
    DWORD Wait() {
      AcquireSRWLockExclusive(&Lock);
      while (Status == 0) SleepConditionVariableSRW(&Done, &Lock, INFINITE, 0);
      const DWORD got = Status;
      ReleaseSRWLockExclusive(&Lock);
      return got;
    }
  };
  static void CALLBACK Callback(HINTERNET, DWORD_PTR Context, DWORD Status, LPVOID, DWORD Length) noexcept {
    auto* state = reinterpret_cast<TState*>(Context);
    if (!state) return;
    if (Status == WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING) {
      delete state;
      return;
    }
    if (Status != WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE && Status != WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE &&
        Status != WINHTTP_CALLBACK_STATUS_READ_COMPLETE && Status != WINHTTP_CALLBACK_STATUS_REQUEST_ERROR)
      return;
    AcquireSRWLockExclusive(&state->Lock);
    if (Status == WINHTTP_CALLBACK_STATUS_READ_COMPLETE) state->Bytes = Length;
    state->Status = Status;
    ReleaseSRWLockExclusive(&state->Lock);
    WakeAllConditionVariable(&state->Done);
  }

  TInternet FSession;
  std::wstring FHost;
  INTERNET_PORT FPort;
  std::wstring FHeaders;
};

// The driver's bank calls as a minimal client makes them: the bodies the driver sent (taken
// from the sandbox's record of its first RegisterQrCode) with a new order, payment and token.
class TRawBank {
 public:
  TRawBank(const TSandbox& Sandbox, const TDriver& Driver) : FKey(Driver.Key), FPassword(Driver.Password) {
    const std::vector<tolvaro::test::TSandboxRequest> seen = Sandbox.Requests(Driver.Key);
    if (seen.size() != 2) Fail("RegisterQrCode made " + std::to_string(seen.size()) + " requests, not 2");
    for (const auto& [name, value] : seen[0].Headers) {
      if (_stricmp(name.c_str(), "User-Agent") == 0) FAgent = W(value);
      // What WinHTTP writes by itself.
      if (_stricmp(name.c_str(), "Host") == 0 || _stricmp(name.c_str(), "Content-Length") == 0 ||
          _stricmp(name.c_str(), "Connection") == 0 || _stricmp(name.c_str(), "User-Agent") == 0 ||
          _stricmp(name.c_str(), "Cache-Control") == 0)
        continue;
      FHeaders += W(name) + L": " + W(value) + L"\r\n";
    }
    FInit = seen[0].Body;
    FQr = seen[1].Body;
    const std::string base = Sandbox.HttpBase();  // http://127.0.0.1:PORT
    const size_t colon = base.rfind(':');
    FHost = W(base.substr(7, colon - 7));
    FPort = static_cast<INTERNET_PORT>(std::stoi(base.substr(colon + 1)));
    Note("driver's headers copied by the raw client: " +
         U8(FHeaders.empty() ? L"(none)" : FHeaders.substr(0, FHeaders.size() - 2)));
  }
  TRawClient Client(bool KeepSession, int TimeoutsMs = 0, bool ResolveToo = true) const {
    return TRawClient(FAgent, FHost, FPort, FHeaders, KeepSession, TimeoutsMs, ResolveToo);
  }
  TRawAsyncClient AsyncClient() const { return TRawAsyncClient(FAgent, FHost, FPort, FHeaders); }

  // Init and GetQr; the new payment's identifier.
  template <class TClient>
  std::string Register(const TClient& c) const {
    const std::string order = U8(NewGuidText().substr(1, 36));
    const std::string init = c.Post(L"/v2/Init", WithMember(FInit, "OrderId", order));
    const std::string paymentId = Member(init, "PaymentId");
    if (paymentId.empty()) Fail("raw Init got no PaymentId: " + init);
    const std::string answer = c.Post(L"/v2/GetQr", Signed(paymentId));
    if (Member(answer, "Data").empty()) Fail("raw GetQr got no Data: " + answer);
    return paymentId;
  }
  // GetState: the same members as GetQr.
  void State(const TRawClient& c, const std::string& PaymentId) const {
    const std::string answer = c.Post(L"/v2/GetState", Signed(PaymentId));
    if (Member(answer, "Status").empty()) Fail("raw GetState got no Status: " + answer);
  }

 private:
  std::string Signed(const std::string& PaymentId) const {
    const std::string body = WithMember(FQr, "PaymentId", PaymentId);
    return WithMember(body, "Token", Sha256Hex(FPassword + PaymentId + FKey));
  }
  std::string FKey, FPassword, FInit, FQr;
  std::wstring FAgent = L"Tolvaro/1.0", FHeaders, FHost;
  INTERNET_PORT FPort = 0;
};

void BenchBankCalls(const TSandbox& Sandbox, const std::wstring& Devices, int Rounds) {
  std::printf("2. RegisterQrCode (Init + GetQr) against two raw WinHTTP POSTs, sandbox over HTTP on 127.0.0.1\n");
  TDriver quiet(Sandbox, Devices, TOptions{30, false});
  TDriver logged(Sandbox, Devices, TOptions{30, true});
  const DISPID quietRegister = quiet.Id(L"RegisterQrCode"), loggedRegister = logged.Id(L"RegisterQrCode");
  const TVariant registerIn = MakeVariantArray({TVariant::FromDouble(123.45), TVariant::FromString(L"Заказ")});
  auto registerOn = [&](const TDriver& d, DISPID id) {
    TVariant out;
    if (!IsTrue(d.Call(id, registerIn, out))) Fail("RegisterQrCode failed: " + U8(Failure(out)));
  };

  // The driver's requests as the sandbox received them: the bodies and headers to copy.
  registerOn(quiet, quietRegister);
  const TRawBank bank(Sandbox, quiet);
  const TRawClient rawCall = bank.Client(false), rawKept = bank.Client(true);
  // Not a baseline: the minimal client with the driver's time-outs (60 s each), to tell what
  // those settings cost from what the driver's own code does.
  const TRawClient rawTimeouts = bank.Client(false, 60000), rawNoResolve = bank.Client(false, 60000, false);
  const TRawAsyncClient rawAsync = bank.AsyncClient();
  auto rawRegister = [&](const auto& c) { bank.Register(c); };

  // The exchange log's level is process-wide and follows the object enabled last: each
  // driver variant is enabled again (untimed) before it runs, so its own setting applies.
  TVariant ignored;
  struct TVariantRun {
    const char* Name;
    std::function<void()> Prepare, Run;
    std::vector<double> Ms;
  };
  std::vector<TVariantRun> runs = {
      {"driver, debug log off", [&] { quiet.MustCall(L"Enable", TVariant(), ignored); },
       [&] { registerOn(quiet, quietRegister); }, {}},
      {"driver, debug log on", [&] { logged.MustCall(L"Enable", TVariant(), ignored); },
       [&] { registerOn(logged, loggedRegister); }, {}},
      {"raw WinHTTP, session per call", [] {}, [&] { rawRegister(rawCall); }, {}},
      {"raw WinHTTP, one kept session", [] {}, [&] { rawRegister(rawKept); }, {}},
      {"raw WinHTTP, session per call, the driver's time-outs (not a baseline)", [] {},
       [&] { rawRegister(rawTimeouts); }, {}},
      {"raw WinHTTP, session per call, the driver's time-outs but none for name resolution (not a baseline)", [] {},
       [&] { rawRegister(rawNoResolve); }, {}},
      {"raw WinHTTP, asynchronous as the driver's session, one kept session (not a baseline)", [] {},
       [&] { rawRegister(rawAsync); }, {}},
  };
  // Each round runs every variant once, in an order of its own (a fixed seed: runs compare).
  std::mt19937 shuffle(20261210);
  std::vector<size_t> order(runs.size());
  for (size_t k = 0; k < order.size(); ++k) order[k] = k;
  for (int r = -5; r < Rounds; ++r) {
    std::shuffle(order.begin(), order.end(), shuffle);
    for (const size_t k : order) {
      TVariantRun& v = runs[k];
      v.Prepare();
      const double start = NowMs();
      v.Run();
      if (r >= 0) v.Ms.push_back(NowMs() - start);
    }
  }
  for (const TVariantRun& v : runs)
    Note(std::string(v.Name) + ": median " + Fixed(Median(Samples(v.Ms, v.Name)), 2) + " ms, max " + Fixed(Max(v.Ms), 2) + " ms");
  // The baseline is the faster of the two ways a minimal client is written; the ratio is the
  // median of the rounds' own ratios, each taken within one round (the same moment's load).
  const bool perCallFaster = Median(runs[2].Ms) <= Median(runs[3].Ms);
  const std::vector<double>& raw = perCallFaster ? runs[2].Ms : runs[3].Ms;
  const std::string rawName = perCallFaster ? "raw, session per call" : "raw, kept session";
  auto ratio = [&raw](const std::vector<double>& Driver) {
    std::vector<double> r;
    for (size_t i = 0; i < Driver.size() && i < raw.size(); ++i) r.push_back(Driver[i] / raw[i]);
    return Median(r);
  };
  const double off = ratio(runs[0].Ms), on = ratio(runs[1].Ms);
  AddRow("RegisterQrCode / 2 raw POSTs, debug log off",
         Fixed(off, 2) + "x (medians " + Fixed(Median(runs[0].Ms), 2) + " ms / " + Fixed(Median(raw), 2) + " ms " + rawName + ")",
         "<= 1.10x", off <= 1.10);
  AddRow("RegisterQrCode / 2 raw POSTs, debug log on",
         Fixed(on, 2) + "x (medians " + Fixed(Median(runs[1].Ms), 2) + " ms / " + Fixed(Median(raw), 2) + " ms)", "<= 1.25x",
         on <= 1.25);
}

// ---------------------------------------------------------------------------------------------
// 3. Pay latency and the time-out's precision

std::string ReadBytes(const std::wstring& File) {
  const HANDLE h = CreateFileW(File.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) Fail("cannot read " + U8(File));
  std::string bytes;
  char buf[65536];
  DWORD read = 0;
  while (ReadFile(h, buf, sizeof buf, &read, nullptr) && read > 0) bytes.append(buf, read);
  CloseHandle(h);
  return bytes;
}

// The wall time (ms since 1601, UTC) of the last line of the sandbox's log that holds every
// one of Needles; -1 when none does. The sandbox writes a line as it sends the answer.
double LastLogTime(const std::wstring& LogFile, const std::vector<std::string>& Needles) {
  const std::string text = ReadBytes(LogFile);
  double found = -1;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    bool all = true;
    for (const std::string& n : Needles) all = all && line.find(n) != std::string::npos;
    if (!all || line.size() < 23) continue;
    SYSTEMTIME st{};
    int y, mo, d, h, mi, s, ms;
    if (std::sscanf(line.c_str(), "%d-%d-%d %d:%d:%d.%d", &y, &mo, &d, &h, &mi, &s, &ms) != 7) continue;
    st.wYear = static_cast<WORD>(y);
    st.wMonth = static_cast<WORD>(mo);
    st.wDay = static_cast<WORD>(d);
    st.wHour = static_cast<WORD>(h);
    st.wMinute = static_cast<WORD>(mi);
    st.wSecond = static_cast<WORD>(s);
    st.wMilliseconds = static_cast<WORD>(ms);
    // The sandbox writes local time; so does this process see it (one machine, one TZ).
    SYSTEMTIME utc{};
    if (!TzSpecificLocalTimeToSystemTime(nullptr, &st, &utc)) continue;
    FILETIME ft;
    SystemTimeToFileTime(&utc, &ft);
    ULARGE_INTEGER u{{ft.dwLowDateTime, ft.dwHighDateTime}};
    found = static_cast<double>(u.QuadPart) / 10000.0;
  }
  return found;
}

void BenchPay(const TSandbox& Sandbox, const std::wstring& Devices, const std::wstring& SandboxLog) {
  std::printf("3. Pay: from the sandbox's CONFIRMED answer to Pay's return; the time-out's precision\n");
  {
    TDriver d(Sandbox, Devices, TOptions{30, false});
    const DISPID reg = d.Id(L"RegisterQrCode"), pay = d.Id(L"Pay");
    // Every payment is confirmed on its third poll: a second and more of waiting first.
    Sandbox.SetBehaviour(d.Key, "CONFIRMED", 2);
    std::vector<double> latency;
    for (int i = 0; i < 7; ++i) {
      TVariant out;
      if (!IsTrue(d.Call(reg, MakeVariantArray({TVariant::FromDouble(10), TVariant::FromString(L"Заказ")}), out)))
        Fail("RegisterQrCode failed: " + U8(Failure(out)));
      const std::string id = U8(Text(ItemOf(out, 0)));
      TVariant payOut;
      const bool paid =
          IsTrue(d.Call(pay, MakeVariantArray({TVariant::FromString(L"QR"), TVariant::FromString(W(id))}), payOut));
      const double returned = WallMs();
      if (!paid) Fail("Pay failed: " + U8(Failure(payOut)));
      const double answered = LastLogTime(SandboxLog, {"/v2/GetState", "\"PaymentId\":\"" + id + "\"", "\"Status\":\"CONFIRMED\""});
      if (answered < 0) Fail("no CONFIRMED answer for " + id + " in the sandbox's log");
      latency.push_back(returned - answered);
    }
    Samples(latency, "Pay's latency");
    Note("answer -> return: least " + Fixed(Min(latency), 1) + " ms, median " + Fixed(Median(latency), 1) + " ms, max " +
         Fixed(Max(latency), 1) + " ms over " + std::to_string(latency.size()) + " payments (poll pause 500 ms)");
    // Both ends: Pay cannot return before the answer it reports (a negative figure is a clock
    // or log-matching fault of the measure, never a fast driver).
    AddRow("Pay: CONFIRMED answer -> Pay returns (each of 7)",
           Fixed(Min(latency), 0) + " .. " + Fixed(Max(latency), 0) + " ms (median " + Fixed(Median(latency), 0) + " ms)",
           "0 .. 600 ms", AllWithin(latency, 0, 600));
  }
  {
    const int seconds = 5;  // the least WaitTimeout the driver takes as it is
    TDriver d(Sandbox, Devices, TOptions{seconds, false});
    const DISPID reg = d.Id(L"RegisterQrCode"), pay = d.Id(L"Pay");
    std::vector<double> excess;
    for (int i = 0; i < 3; ++i) {
      TVariant out;
      if (!IsTrue(d.Call(reg, MakeVariantArray({TVariant::FromDouble(10), TVariant::FromString(L"Заказ")}), out)))
        Fail("RegisterQrCode failed: " + U8(Failure(out)));
      const std::wstring id = Text(ItemOf(out, 0));
      TVariant payOut;
      const double start = NowMs();
      const bool paid = IsTrue(d.Call(pay, MakeVariantArray({TVariant::FromString(L"QR"), TVariant::FromString(id)}), payOut));
      const double took = NowMs() - start;
      if (paid) Fail("Pay succeeded on a payment nobody paid");
      excess.push_back(took - seconds * 1000.0);
    }
    Samples(excess, "Pay's time-out");
    Note("Pay with WaitTimeout " + std::to_string(seconds) + " s on an undecided payment: over by least " +
         Fixed(Min(excess), 1) + " ms, median " + Fixed(Median(excess), 1) + " ms, max " + Fixed(Max(excess), 1) + " ms");
    // Every run: none may return before its time-out, none more than 100 ms after it.
    auto plus = [](double v) { return (v >= 0 ? "+" : "") + Fixed(v, 0); };
    AddRow("Pay time-out: return after WaitTimeout (each of 3)", plus(Min(excess)) + " .. " + plus(Max(excess)) + " ms",
           "0 .. +100 ms", AllWithin(excess, 0, 100));
  }
}

// ---------------------------------------------------------------------------------------------
// 4. Steady state

struct TProcessUse {
  double PrivateBytes = 0;
  DWORD Handles = 0;
};

// The handles of this process in the system's handle table (Wine's GetProcessHandleCount
// answers 0 without failing); 0 when the table cannot be read.
DWORD HandlesInSystemTable() {
  struct TEntry {
    ULONG OwnerPid;
    BYTE ObjectType;
    BYTE HandleFlags;
    USHORT HandleValue;
    PVOID ObjectPointer;
    ULONG AccessMask;
  };
  struct TInfo {
    ULONG Count;
    TEntry Handles[1];
  };
  using TQuery = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
  const auto query = reinterpret_cast<TQuery>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  if (!query) return 0;
  std::vector<char> buf(1 << 16);
  for (;;) {
    ULONG need = 0;
    const LONG status = query(16 /* SystemHandleInformation */, buf.data(), static_cast<ULONG>(buf.size()), &need);
    if (status == static_cast<LONG>(0xC0000004L) && buf.size() < (64u << 20)) {  // STATUS_INFO_LENGTH_MISMATCH
      buf.resize(buf.size() * 2);
      continue;
    }
    if (status != 0) return 0;
    break;
  }
  const auto* info = reinterpret_cast<const TInfo*>(buf.data());
  const DWORD self = GetCurrentProcessId();
  DWORD n = 0;
  for (ULONG i = 0; i < info->Count; ++i)
    if (info->Handles[i].OwnerPid == self) ++n;
  return n;
}

DWORD ThreadCount() {
  const HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snap == INVALID_HANDLE_VALUE) return 0;
  THREADENTRY32 e{};
  e.dwSize = sizeof e;
  DWORD n = 0;
  for (BOOL more = Thread32First(snap, &e); more; more = Thread32Next(snap, &e))
    if (e.th32OwnerProcessID == GetCurrentProcessId()) ++n;
  CloseHandle(snap);
  return n;
}

std::string ThreadsText() {
  const DWORD n = ThreadCount();
  return std::to_string(n) + (n == 1 ? " thread" : " threads");
}

// A process always has private memory and handles (this one holds a COM object, a sandbox
// connection, its console): a counter read as 0 was not read, and growth from it would be
// no measure at all. Such a reading stops the program (exit code 2) with the reason.
TProcessUse ProcessUse() {
  PROCESS_MEMORY_COUNTERS_EX m{};
  m.cb = sizeof m;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&m), sizeof m))
    Fail("GetProcessMemoryInfo failed (" + std::to_string(GetLastError()) + "): private bytes cannot be read");
  TProcessUse u;
  // Wine leaves PrivateUsage 0 and keeps the private commit in PagefileUsage, which Windows
  // defines as the same figure.
  u.PrivateBytes = static_cast<double>(m.PrivateUsage ? m.PrivateUsage : m.PagefileUsage);
  if (u.PrivateBytes <= 0) Fail("private bytes read as 0 (PrivateUsage and PagefileUsage): the counter cannot be read");
  if (!GetProcessHandleCount(GetCurrentProcess(), &u.Handles)) u.Handles = 0;
  if (u.Handles == 0) u.Handles = HandlesInSystemTable();
  if (u.Handles == 0)
    Fail("the handle count read as 0 (GetProcessHandleCount and the system handle table): the counter cannot be read");
  return u;
}

std::string Growth(const TProcessUse& Before, const TProcessUse& After) {
  const double kb = (After.PrivateBytes - Before.PrivateBytes) / 1024.0;
  const double pct = Before.PrivateBytes > 0 ? 100.0 * (After.PrivateBytes - Before.PrivateBytes) / Before.PrivateBytes : 0;
  const double hpct = Before.Handles ? 100.0 * (static_cast<double>(After.Handles) - Before.Handles) / Before.Handles : 0;
  return "private " + Fixed(Before.PrivateBytes / 1048576.0, 1) + " -> " + Fixed(After.PrivateBytes / 1048576.0, 1) +
         " MiB (" + (kb >= 0 ? "+" : "") + Fixed(kb, 0) + " KiB, " + Fixed(pct, 2) + "%), handles " +
         std::to_string(Before.Handles) + " -> " + std::to_string(After.Handles) + " (" + Fixed(hpct, 2) + "%)";
}

void BenchSteadyState(const TSandbox& Sandbox, const std::wstring& Devices, int Cycles, int Objects) {
  std::printf("4. steady state: %d register + status cycles on one object; %d objects created and released\n", Cycles,
              Objects);
  {
    TDriver d(Sandbox, Devices, TOptions{30, false});
    const DISPID reg = d.Id(L"RegisterQrCode"), status = d.Id(L"GetQrCodeStatus");
    const TVariant in = MakeVariantArray({TVariant::FromDouble(10), TVariant::FromString(L"Заказ")});
    auto cycle = [&] {
      TVariant out;
      if (!IsTrue(d.Call(reg, in, out))) Fail("RegisterQrCode failed: " + U8(Failure(out)));
      TVariant statusOut;
      if (!IsTrue(d.Call(status, MakeVariantArray({TVariant::FromString(L"QR"), ItemOf(out, 0)}), statusOut)))
        Fail("GetQrCodeStatus failed: " + U8(Failure(statusOut)));
    };
    // Warm-up: a fixed number of cycles, then on until neither the private bytes nor the
    // thread count moved over the last 100 (at most a fifth of the cycles more), so that the
    // measure starts from the steady state and not from what the platform still builds up
    // (a worker thread of its own shows as a step of its stack, about 1 MiB).
    const int warmUp = std::max(50, Cycles / 50);
    for (int i = 0; i < warmUp; ++i) cycle();
    int settling = 0;
    bool settled = false;
    for (const int most = std::max(100, Cycles / 5); !settled && settling < most; settling += 100) {
      const TProcessUse was = ProcessUse();
      const DWORD threads = ThreadCount();
      for (int i = 0; i < 100; ++i) cycle();
      settled = ProcessUse().PrivateBytes == was.PrivateBytes && ThreadCount() == threads;
    }
    Note("warm-up: " + std::to_string(warmUp + settling) + " cycles" +
         (settled ? "" : " (private bytes or threads still moving at its end)"));
    const DWORD threadsBefore = ThreadCount();
    const TProcessUse before = ProcessUse();
    const double start = NowMs();
    std::string trend = " before " + Fixed(before.PrivateBytes / 1024.0, 0) + " (" + ThreadsText() + "), then";
    for (int i = 1; i <= Cycles; ++i) {
      cycle();
      if (i % std::max(1, Cycles / 5) == 0)
        trend += " " + Fixed(ProcessUse().PrivateBytes / 1024.0, 0) + " (" + ThreadsText() + ")";
    }
    const double took = NowMs() - start;
    const TProcessUse after = ProcessUse();
    const DWORD threadsAfter = ThreadCount();
    Note(std::to_string(Cycles) + " cycles in " + Fixed(took / 1000.0, 1) + " s (" + Fixed(took / Cycles, 2) +
         " ms a cycle, 3 requests)");
    Note(Growth(before, after));
    Note("private KiB" + trend + "; the equipment manager recorded " +
         std::to_string(d.ManagerCalls()) + " calls");
    // Where growth comes from: the same three requests made by the minimal client, in this
    // process, for a fifth of the cycles. Growth there is the platform's, not the driver's.
    {
      TDriver probe(Sandbox, Devices, TOptions{30, false});
      TVariant out;
      probe.MustCall(L"RegisterQrCode", in, out);
      const TRawBank bank(Sandbox, probe);
      const TRawClient raw = bank.Client(false);
      const int rawCycles = std::max(1, Cycles / 5);
      for (int i = 0; i < warmUp; ++i) bank.State(raw, bank.Register(raw));
      const TProcessUse rawBefore = ProcessUse();
      for (int i = 0; i < rawCycles; ++i) bank.State(raw, bank.Register(raw));
      const TProcessUse rawAfter = ProcessUse();
      Note("per cycle: driver " + Fixed((after.PrivateBytes - before.PrivateBytes) / Cycles, 0) +
           " bytes; minimal client (Init, GetQr, GetState; session per request), " + std::to_string(rawCycles) +
           " cycles: " + Fixed((rawAfter.PrivateBytes - rawBefore.PrivateBytes) / rawCycles, 0) + " bytes");
    }
    const double pct = 100.0 * (after.PrivateBytes - before.PrivateBytes) / before.PrivateBytes;
    const double hpct = 100.0 * (static_cast<double>(after.Handles) - before.Handles) / before.Handles;
    AddRow("Steady: " + std::to_string(Cycles) + " register+status cycles, private bytes growth",
           Fixed(pct, 2) + "% (" + Fixed((after.PrivateBytes - before.PrivateBytes) / 1024.0, 0) + " KiB; threads " +
               std::to_string(threadsBefore) + " -> " + std::to_string(threadsAfter) + ")",
           "< 1%", pct < 1.0);
    AddRow("Steady: " + std::to_string(Cycles) + " register+status cycles, handle count growth",
           Fixed(hpct, 2) + "% (" + std::to_string(before.Handles) + " -> " + std::to_string(after.Handles) + ")",
           "< 1%", hpct < 1.0);
  }
  {
    // One terminal for all of them: the sandbox is not what is measured here.
    const std::string key = TSandbox::UniqueKey("bench-objects"), password = "objects";
    Sandbox.AddTerminal(key, password);
    auto lifecycle = [&] {
      TDriver d(key, password, Sandbox.HttpBase() + "/v2", Devices, TOptions{30, false}, true);
      TVariant in, out;
      d.MustCall(L"GetDeviceInfo", in, out);
      // Used against the bank too: whatever a bank client holds (its connections) must go
      // with the object.
      TVariant registered;
      d.MustCall(L"RegisterQrCode", MakeVariantArray({TVariant::FromDouble(10), TVariant::FromString(L"Заказ")}),
                 registered);
    };
    for (int i = 0; i < 50; ++i) lifecycle();
    const TProcessUse before = ProcessUse();
    const double start = NowMs();
    for (int i = 0; i < Objects; ++i) lifecycle();
    const double took = NowMs() - start;
    const TProcessUse after = ProcessUse();
    Note(std::to_string(Objects) + " objects (create, Init, Open, SetSettings, Enable, GetDeviceInfo, RegisterQrCode, release) in " +
         Fixed(took / 1000.0, 1) + " s");
    Note(Growth(before, after));
    // A page of heap either way is noise, not growth.
    const double kb = (after.PrivateBytes - before.PrivateBytes) / 1024.0;
    AddRow("Objects: " + std::to_string(Objects) + " created and released, private bytes",
           (kb >= 0 ? "+" : "") + Fixed(kb, 0) + " KiB", "no growth (<= 64 KiB)", kb <= 64);
    AddRow("Objects: " + std::to_string(Objects) + " created and released, handles",
           std::to_string(before.Handles) + " -> " + std::to_string(after.Handles), "no growth",
           after.Handles <= before.Handles);
  }
}

// The parts a run can be limited to (--only); a part the program does not know is refused,
// never run as nothing.
const wchar_t* const kSections[] = {L"dispatch", L"bank", L"pay", L"steady", L"latency", L"connections"};

void Usage(const std::string& Why) {
  std::string sections;
  for (const wchar_t* name : kSections) sections += (sections.empty() ? "" : "|") + U8(name);
  std::fprintf(stderr, "tolvaro_bench: %s\nusage: tolvaro_bench [--cycles N] [--objects N] [--rounds N] "
               "[--sandbox-log FILE] [--only %s]\n", Why.c_str(), sections.c_str());
}

// A count option: decimal digits only, at least 1 (a count of 0 would measure nothing and
// still print a figure), at most Max. False when Text is anything else.
bool ParseCount(const std::wstring& Text, int Max, int& Value) {
  if (Text.empty() || Text.size() > 9) return false;
  long long v = 0;
  for (const wchar_t c : Text) {
    if (c < L'0' || c > L'9') return false;
    v = v * 10 + (c - L'0');
  }
  if (v < 1 || v > Max) return false;
  Value = static_cast<int>(v);
  return true;
}

#include "tolvaro_bench_latency.h"

int Run(int argc, wchar_t** argv) {
  int cycles = 10000, objects = 1000, rounds = 300;
  std::wstring sandboxLog, only;
  for (int i = 1; i < argc; ++i) {
    const std::wstring a = argv[i];
    if (i + 1 >= argc) {
      Usage(a.rfind(L"--", 0) == 0 ? U8(a) + " needs a value" : "unknown argument " + U8(a));
      return 2;
    }
    const std::wstring value = argv[++i];
    struct TCountOption {
      const wchar_t* Name;
      int* Value;
      int Max;
    } counts[] = {{L"--cycles", &cycles, 10000000}, {L"--objects", &objects, 1000000}, {L"--rounds", &rounds, 1000000}};
    bool known = false;
    for (const TCountOption& o : counts) {
      if (a != o.Name) continue;
      known = true;
      if (!ParseCount(value, o.Max, *o.Value)) {
        Usage(U8(a) + " takes a whole number from 1 to " + std::to_string(o.Max) + ", not \"" + U8(value) + "\"");
        return 2;
      }
    }
    if (known) continue;
    if (a == L"--sandbox-log") {
      sandboxLog = value;
    } else if (a == L"--only") {
      if (std::find_if(std::begin(kSections), std::end(kSections), [&](const wchar_t* n) { return value == n; }) ==
          std::end(kSections)) {
        Usage("no part \"" + U8(value) + "\" to run");
        return 2;
      }
      only = value;
    } else {
      Usage("unknown argument " + U8(a));
      return 2;
    }
  }
  const TSandbox sandbox;
  // The devices' folders (debug logs) next to the program.
  const std::wstring exe = ThisModuleFileName();
  const std::wstring devices = exe.substr(0, exe.find_last_of(L'\\') + 1) + L"bench-devices\\";
  CreateDirectoryW(devices.c_str(), nullptr);
  const double start = NowMs();
  if (only.empty() || only == L"dispatch") BenchDispatch(sandbox, devices);
  if (only.empty() || only == L"bank") BenchBankCalls(sandbox, devices, rounds);
  if (only.empty() || only == L"pay") {
    if (sandboxLog.empty()) Fail("--sandbox-log is needed for the Pay figures");
    BenchPay(sandbox, devices, sandboxLog);
  }
  if (only.empty() || only == L"steady") BenchSteadyState(sandbox, devices, cycles, objects);
  if (only.empty() || only == L"latency") BenchLatency(sandbox, devices, sandboxLog, rounds);
  if (only.empty() || only == L"connections") BenchConnections(sandbox, devices, cycles, objects);
  const double took = (NowMs() - start) / 1000.0;

  if (GRows.empty()) Fail("no figure was measured");
  std::printf("\n| figure | measured | target | met |\n|---|---|---|---|\n");
  bool all = true;
  for (const TRow& r : GRows) {
    std::printf("| %s | %s | %s | %s |\n", r.Figure.c_str(), r.Value.c_str(), r.Target.c_str(), r.Met ? "yes" : "**no**");
    all = all && r.Met;
  }
  std::printf("\nbenchmark time: %.0f s\n", took);
  return all ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
  int code = 2;
  try {
    code = Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tolvaro_bench: %s\n", e.what());
  }
  CoUninitialize();
  return code;
}
