// tolvaro_host: a host for trying the driver without writing one. It creates the driver by
// ProgID, hands it an equipment manager that prints what the driver sends, and runs the
// payment operations from the command line.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <shellapi.h>
#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <algorithm>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/uComPtr.h"
#include "platform/uSafeArray.h"
#include "platform/uVariant.h"
#include "uDoctor.h"
#include "uHostConsole.h"

using namespace hostconsole;

namespace {

constexpr wchar_t kProgID[] = L"Qelm.tolvaro";

// ---------------------------------------------------------------------------------------------
// Output: UTF-8 bytes, so a terminal under Wine and a Windows console (code page 65001) both
// show the driver's Russian texts.

std::mutex GOutLock;
void Write(FILE* f, const std::string& bytes) {
  std::lock_guard<std::mutex> lock(GOutLock);
  fwrite(bytes.data(), 1, bytes.size(), f);
  fflush(f);
}
void Out(const std::wstring& text) { Write(stdout, Utf8(text)); }
void OutRaw(const std::string& text) { Write(stdout, text); }
void Err(const std::wstring& text) { Write(stderr, Utf8(text)); }

struct TOptions {
  bool Json = false;
  std::wstring Config = L"tolvaro_host.ini";
  std::wstring DeviceID = L"host";
  std::wstring DevicesFolder;  // empty: the current folder
  std::wstring Language = L"ru";
};

// ---------------------------------------------------------------------------------------------
// The equipment manager: answers the application properties and prints every callback.

class TConsoleManager : public IDispatch {
public:
  explicit TConsoleManager(const TOptions& Options) : FOptions(Options) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
      *ppv = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++FRefs; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG n = --FRefs;
    if (n == 0) delete this;
    return n;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
    if (!n) return E_POINTER;
    *n = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (!names || !ids || count == 0) return E_INVALIDARG;
    for (size_t i = 0; i < Methods().size(); ++i)
      if (names[0] && CompareStringOrdinal(names[0], -1, Methods()[i], -1, TRUE) == CSTR_EQUAL) {
        ids[0] = static_cast<DISPID>(i + 1);
        return S_OK;
      }
    ids[0] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                                   UINT*) override {
    if (id < 1 || static_cast<size_t>(id) > Methods().size()) return DISP_E_MEMBERNOTFOUND;
    try {
      const std::wstring method = Methods()[static_cast<size_t>(id - 1)];
      const UINT n = params ? params->cArgs : 0;
      if (n > 0 && !params->rgvarg) return E_INVALIDARG;
      std::vector<std::wstring> args;
      for (UINT i = 0; i < n; ++i) args.push_back(Text(params->rgvarg[n - 1 - i]));
      TVariant answer = TVariant::FromBool(true);
      if (method == L"GetAppProperty") {
        const std::wstring name = args.size() > 1 ? args[1] : L"";
        std::wstring value;
        bool found = true;
        if (CompareStringOrdinal(name.c_str(), -1, L"DevicesFolder", -1, TRUE) == CSTR_EQUAL)
          value = FOptions.DevicesFolder;
        else if (CompareStringOrdinal(name.c_str(), -1, L"ModelsFolder", -1, TRUE) == CSTR_EQUAL)
          value = FOptions.DevicesFolder;
        else if (CompareStringOrdinal(name.c_str(), -1, L"Language", -1, TRUE) == CSTR_EQUAL)
          value = FOptions.Language;
        else
          found = false;
        VARIANT& out = params->rgvarg[n - 3];
        if (found && n >= 3 && out.vt == (VT_BYREF | VT_BSTR)) {
          BSTR text = TBstr(value).Detach();
          SysFreeString(*out.pbstrVal);
          *out.pbstrVal = text;
        }
        answer = TVariant::FromBool(found);
      } else {
        std::wstring line = L"[host] " + method + L":";
        for (size_t i = 1; i < args.size(); ++i) line += L" " + args[i] + (i + 1 < args.size() ? L";" : L"");
        Err(line + L"\n");
        if (method == L"MessageDlg") answer = TVariant::FromInt(0);
        if (method == L"InputDataDlg") answer = TVariant::FromString(L"");
      }
      if (result) *result = answer.Detach();
      return S_OK;
    } catch (...) {
      return E_FAIL;
    }
  }

private:
  static const std::vector<const wchar_t*>& Methods() {
    static const std::vector<const wchar_t*> names = {L"GetAppProperty", L"DataEvent", L"ErrorEvent", L"MessageDlg",
                                                      L"InputDataDlg",   L"TaskState", L"WriteLog"};
    return names;
  }
  static std::wstring Text(const VARIANT& v) {
    try {
      return VariantToString(TVariant::CopyInd(v).Get());
    } catch (...) {
      return L"?";
    }
  }
  virtual ~TConsoleManager() = default;
  std::atomic<ULONG> FRefs{1};
  TOptions FOptions;
};

// ---------------------------------------------------------------------------------------------
// Calls into the driver as a host makes them.

struct TCallResult {
  int32_t Code = 0;
  std::wstring Text;
  TVariant Out;
};

TVariant Arr(std::initializer_list<TVariant> items) { return MakeVariantArray(items); }
TVariant Item(const TVariant& arr, LONG i) { return SafeArrayItem(VariantSafeArray(arr.Get()), &i); }
LONG Count(const TVariant& arr) {
  LONG lo = 0, hi = -1;
  return VariantArrayBounds(arr.Get(), 1, lo, hi) ? hi - lo + 1 : -1;
}
std::wstring Str(const TVariant& v) { return VariantToString(v.Get()); }

class TDriverHost {
public:
  explicit TDriverHost(const TOptions& Options) : FOptions(Options) {
    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(kProgID, &clsid);
    if (FAILED(hr)) throw TDriverMissing(L"the driver is not registered (ProgID " + std::wstring(kProgID) +
                                         L"); register it with: regsvr32 tolvaro.dll");
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, FDriver.OutVoid());
    if (FAILED(hr)) throw TDriverMissing(L"the driver could not be created: " + HrText(hr));
    // A host keeps a folder per device; the driver writes its debug log there.
    CreateDirectoryW(Options.DevicesFolder.c_str(), nullptr);
    CreateDirectoryW((Options.DevicesFolder + Options.DeviceID).c_str(), nullptr);
    FManager = new TConsoleManager(Options);
    TVariant manager;
    manager.Get().vt = VT_DISPATCH;
    manager.Get().pdispVal = FManager;
    FManager->AddRef();
    TVariant description, id = TVariant::FromString(Options.DeviceID);
    if (!Private(L"Init", {manager.Get(), VariantRefTo(description)}))
      throw TDriverMissing(L"Init failed: " + Str(description));
    if (!Private(L"Open", {id.Get(), VariantRefTo(description)}))
      throw TDriverMissing(L"Open failed: " + Str(description));
  }
  ~TDriverHost() {
    if (FDriver) {
      TVariant description;
      Private(L"Close", {VariantRefTo(description)});
    }
    if (FDriver) FDriver->Release();
    *FDriver.OutPtr() = nullptr;
    if (FManager) FManager->Release();
  }

  class TDriverMissing {
  public:
    explicit TDriverMissing(std::wstring Text) : Message(std::move(Text)) {}
    std::wstring Message;
  };

  // A public method: (InData, OutData by reference, TimeOut). On False OutData is [code, text].
  TCallResult Call(const std::wstring& Name, const TVariant& InData = TVariant()) {
    TCallResult r;
    TVariant timeOut = TVariant::FromInt(0);
    VARIANT args[3] = {timeOut.Get(), VariantRefTo(r.Out), InData.Get()};  // right to left
    TVariant result;
    TExcepInfo excep;
    const HRESULT hr = Invoke(Name, args, 3, result, excep.Info);
    if (FAILED(hr)) {
      r.Code = excep.Info.scode ? excep.Info.scode : 1001;
      r.Text = excep.Info.bstrDescription ? excep.Info.bstrDescription : HrText(hr);
      return r;
    }
    if (result.Type() == VT_BOOL && result.Get().boolVal == VARIANT_TRUE) return r;
    r.Code = 1001;
    if (Count(r.Out) >= 2) {
      r.Code = VariantToInt(Item(r.Out, 0).Get());
      r.Text = Str(Item(r.Out, 1));
    }
    r.Out.Clear();
    return r;
  }

  // The settings table as the driver has it.
  struct TSetting {
    std::wstring Id, Type, Name;
    TVariant Value;
    bool ReadOnly = false;
  };
  std::vector<TSetting> Settings() {
    TCallResult r = Call(L"GetSettings");
    if (r.Code) throw TDriverMissing(L"GetSettings failed: " + r.Text);
    const TVariant table = Item(r.Out, 0);
    LONG lo = 0, hi = -1;
    VariantArrayBounds(table.Get(), 2, lo, hi);
    std::vector<TSetting> list;
    SAFEARRAY* sa = VariantSafeArray(table.Get());
    for (LONG i = lo; i <= hi; ++i) {
      TSetting s;
      s.Id = Str(SafeArrayItem(sa, {0, i}));
      s.Value = SafeArrayItem(sa, {1, i});
      s.Type = Str(SafeArrayItem(sa, {2, i}));
      s.ReadOnly = VariantToBool(SafeArrayItem(sa, {4, i}).Get());
      s.Name = Str(SafeArrayItem(sa, {5, i}));
      list.push_back(std::move(s));
    }
    return list;
  }

  // Applies Id=Value pairs, typed by the driver's own table; unknown Ids and values that do
  // not fit the type are the user's mistakes.
  void Apply(const TSettingsFile& File) {
    if (File.Items().empty()) return;
    const std::vector<TSetting> known = Settings();
    std::vector<std::pair<std::wstring, TVariant>> values;
    for (const auto& [id, text] : File.Items()) {
      const TSetting* s = nullptr;
      for (const auto& k : known)
        if (CompareStringOrdinal(k.Id.c_str(), -1, id.c_str(), -1, TRUE) == CSTR_EQUAL) s = &k;
      if (!s) {
        std::wstring ids;
        for (const auto& k : known) ids += L" " + k.Id;
        throw TUsageError("unknown setting '" + Utf8(id) + "'; the driver has:" + Utf8(ids));
      }
      values.emplace_back(s->Id, Typed(*s, text));
    }
    TVariant table = NewVariantArray({{7, 0}, {static_cast<ULONG>(values.size()), 0}});
    for (LONG i = 0; i < static_cast<LONG>(values.size()); ++i) {
      const LONG idCell[2] = {0, i}, valueCell[2] = {1, i};
      PutVariantArrayItem(table, idCell, TVariant::FromString(values[i].first).Get());
      PutVariantArrayItem(table, valueCell, values[i].second.Get());
    }
    TCallResult r = Call(L"SetSettings", Arr({table}));
    if (r.Code) throw TUsageError("the driver refused the settings: " + Utf8(r.Text));
  }

  IDispatch* Driver() const { return FDriver.Get(); }

private:
  static TVariant Typed(const TSetting& s, const std::wstring& text) {
    if (s.Type == L"Number") {
      wchar_t* end = nullptr;
      const long n = wcstol(text.c_str(), &end, 10);
      if (text.empty() || *end) throw TUsageError("setting " + Utf8(s.Id) + " takes a whole number, not '" + Utf8(text) + "'");
      return TVariant::FromInt(static_cast<int32_t>(n));
    }
    if (s.Type == L"Boolean") {
      std::wstring t = text;
      for (auto& c : t) c = static_cast<wchar_t>(towlower(c));
      if (t == L"true" || t == L"1" || t == L"yes" || t == L"on") return TVariant::FromBool(true);
      if (t == L"false" || t == L"0" || t == L"no" || t == L"off") return TVariant::FromBool(false);
      throw TUsageError("setting " + Utf8(s.Id) + " takes true or false, not '" + Utf8(text) + "'");
    }
    return TVariant::FromString(text);
  }

  bool Private(const std::wstring& Name, std::vector<VARIANT> args) {
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    TVariant result;
    TExcepInfo excep;
    const HRESULT hr = Invoke(Name, reversed.data(), static_cast<UINT>(reversed.size()), result, excep.Info);
    return SUCCEEDED(hr) && result.Type() == VT_BOOL && result.Get().boolVal == VARIANT_TRUE;
  }

  HRESULT Invoke(const std::wstring& Name, VARIANT* args, UINT count, TVariant& result, EXCEPINFO& excep) {
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(Name.c_str())};
    HRESULT hr = FDriver->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) return hr;
    DISPPARAMS params{args, nullptr, count, 0};
    UINT argErr = 0;
    return FDriver->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result.Get(), &excep, &argErr);
  }

  static std::wstring HrText(HRESULT hr) {
    wchar_t buf[32];
    swprintf(buf, 32, L"0x%08lX", static_cast<unsigned long>(hr));
    return buf;
  }

  TOptions FOptions;
  TComPtr<IDispatch> FDriver;
  TConsoleManager* FManager = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Commands

struct THelp {
  const wchar_t* Name;
  const wchar_t* Args;
  const wchar_t* Text;
};
const std::vector<THelp>& Commands() {
  static const std::vector<THelp> list = {
      {L"info", L"", L"The driver's device information (GetDeviceInfo)."},
      {L"settings", L"[Id=value ...] [--load FILE]",
       L"Without arguments: the driver's settings with the values this console gives it.\n"
       L"Id=value: sets a setting (checked by the driver) and keeps it in the settings file.\n"
       L"--load FILE: takes every Id=value line of FILE."},
      {L"check", L"", L"Runs CheckHealth: whether the device enables with the settings given. No request\n"
                     L"goes to the bank: 'doctor' checks the way to the bank and the terminal's credentials."},
      {L"register", L"AMOUNT [DETAILS]", L"Registers a QR code for AMOUNT (123.45); prints its ID and payload."},
      {L"pay", L"ID [ORDER]", L"Waits until the customer pays QR code ID (at most the setting WaitTimeout); prints the receipt.\nORDER defaults to ID (this driver answers the bank's PaymentId as both)."},
      {L"status", L"ID [ORDER]", L"The status of QR code ID (GetQrCodeStatus)."},
      {L"refund", L"AMOUNT ID [QRID]",
       L"Refunds AMOUNT of payment ID; prints the refund receipt. QRID, the QR code ID the receipt\n"
       L"shows, defaults to ID (this driver answers the bank's PaymentId as both). Each refund is a\n"
       L"new one: before repeating one whose outcome is unknown, compare what 'status ID' says is left."},
      {L"unregister", L"ID", L"Withdraws QR code ID before it is paid."},
      {L"dialog", L"", L"Opens the driver's settings dialog; OK keeps the settings in the settings file."},
      {L"session", L"[COMMAND ...]",
       L"Runs several commands with one driver object, each argument one command line\n"
       L"(or one a line from standard input when none is given). $QR stands for the last\n"
       L"registered QR code ID, $PAYMENT for the last payment ID; 'sleep SECONDS' pauses.\n"
       L"Stops at the first failure and exits with its code."},
      {L"doctor", L"[PAYMENT_ID]",
       L"Checks the way to the bank with the driver's settings, one line per step: the Host URL,\n"
       L"the proxy the driver uses (with a proxy script or auto-detection, the proxy it gives for\n"
       L"the Host URL), the name and a TCP connection (to that proxy, if any; 15 s in all), the\n"
       L"TLS handshake (the protocols offered as the driver offers them, the one agreed on, the\n"
       L"server certificate's subject, issuer, expiry, and whether Windows trusts it), an HTTP\n"
       L"answer, this computer's clock against the server's Date; then the driver's device test\n"
       L"(a QR code for 1000.00 registered and withdrawn at once), or with PAYMENT_ID its status\n"
       L"instead. A failing step says what to do, in Russian and English, and the bank is asked\n"
       L"only when every step before it but the clock passed. Exit code 6 when a step before the\n"
       L"bank's failed (the clock included); the bank's own failure exits as other commands."},
  };
  return list;
}

const wchar_t kUsage[] =
    L"usage: tolvaro_host [OPTIONS] COMMAND [ARGS]\n"
    L"       tolvaro_host COMMAND --help\n"
    L"\n"
    L"A host for the fast payment driver (ProgID Qelm.tolvaro): it creates the driver, gives\n"
    L"it the settings of the settings file and calls it as an application would.\n"
    L"\n"
    L"options:\n"
    L"  --config FILE    the settings file (default tolvaro_host.ini in the current folder)\n"
    L"  --device ID      the device ID (default host); its folder is DEVICES\\ID\n"
    L"  --devices DIR    the devices folder the host reports (default the current folder)\n"
    L"  --json           one JSON object per command on standard output, for scripts\n"
    L"  --help           this text\n"
    L"\n"
    L"exit codes: 0 success, 1 the operation failed (result 1001 or another code),\n"
    L"            2 bad command line or settings file, 3 device not enabled (result 70)\n"
    L"            or dialog cancelled (201), 4 input refused (result 1003, 1004),\n"
    L"            5 the driver could not be created, 6 doctor: the way to the bank failed\n"
    L"\n"
    L"commands:\n";

void PrintUsage() {
  std::wstring text = kUsage;
  for (const THelp& c : Commands()) text += L"  " + std::wstring(c.Name) + L" " + c.Args + L"\n";
  Out(text);
}

void PrintCommandHelp(const THelp& c) {
  Out(L"usage: tolvaro_host [OPTIONS] " + std::wstring(c.Name) + L" " + c.Args + L"\n\n" + c.Text + L"\n");
}

const THelp* FindCommand(const std::wstring& name) {
  for (const THelp& c : Commands())
    if (name == c.Name) return &c;
  return nullptr;
}

std::wstring StatusName(int32_t s) {
  switch (s) {
    case 1: return L"waiting for the customer";
    case 2: return L"paid";
    case 3: return L"rejected or cancelled";
    default: return L"unknown";
  }
}

std::wstring DateText(double date) {
  SYSTEMTIME t{};
  if (!VariantTimeToSystemTime(date, &t)) return L"";
  wchar_t buf[64];
  swprintf(buf, 64, L"%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
  return buf;
}

// A command line as echoed: the value of Password=... hidden.
std::wstring MaskPassword(std::wstring line) {
  for (size_t at = 0; (at = line.find(L"Password=", at)) != std::wstring::npos;) {
    at += 9;
    size_t end = line.find_first_of(L" \t\"", at);
    if (end == std::wstring::npos) end = line.size();
    line.replace(at, end - at, L"***");
  }
  return line;
}

class TConsole {
public:
  explicit TConsole(TOptions Options) : FOptions(std::move(Options)) {}

  int Run(const std::vector<std::wstring>& words, bool inSession = false) {
    if (words.empty()) throw TUsageError("no command; try --help");
    std::wstring cmd = words[0];
    std::vector<std::wstring> args(words.begin() + 1, words.end());
    const THelp* help = FindCommand(cmd);
    if (cmd == L"sleep" && inSession) {
      if (args.size() != 1) throw TUsageError("sleep takes SECONDS");
      Sleep(static_cast<DWORD>(ParseAmount(args[0]) / 10));
      return exOK;
    }
    if (!help) throw TUsageError("unknown command '" + Utf8(cmd) + "'; try --help");
    for (const auto& a : args)
      if (a == L"--help" || a == L"-h") {
        PrintCommandHelp(*help);
        return exOK;
      }
    for (auto& a : args) {
      if (a == L"$QR") a = FLastQr;
      if (a == L"$PAYMENT") a = FLastPayment.empty() ? FLastQr : FLastPayment;
    }
    if (cmd == L"session") return Session(args);
    if (cmd == L"settings") return SettingsCommand(args);
    if (cmd == L"info") return Info(args);
    if (cmd == L"dialog") return Dialog(args);
    if (cmd == L"check") return Check(args);
    if (cmd == L"register") return Register(args);
    if (cmd == L"pay") return Pay(args);
    if (cmd == L"status") return Status(args);
    if (cmd == L"refund") return Refund(args);
    if (cmd == L"unregister") return Unregister(args);
    if (cmd == L"doctor") return Doctor(args);
    throw TUsageError("unknown command");
  }

private:
  static void Need(const std::vector<std::wstring>& args, size_t lo, size_t hi, const char* usage) {
    if (args.size() < lo || args.size() > hi) throw TUsageError(std::string("usage: tolvaro_host ") + usage);
  }

  TSettingsFile LoadConfig() {
    TSettingsFile file;
    std::ifstream in(FOptions.Config.c_str(), std::ios::binary);
    if (in) file.Parse(std::string(std::istreambuf_iterator<char>(in), {}), FOptions.Config);
    return file;
  }
  void SaveConfig(const TSettingsFile& file) {
    std::ofstream out(FOptions.Config.c_str(), std::ios::binary | std::ios::trunc);
    out << file.Format();
    if (!out) throw TUsageError("cannot write the settings file " + Utf8(FOptions.Config));
  }

  TDriverHost& Host() {
    if (!FHost) {
      const TSettingsFile file = LoadConfig();  // a broken file is reported before the driver is touched
      FHost = std::make_unique<TDriverHost>(FOptions);
      FHost->Apply(file);
    }
    return *FHost;
  }
  // Enables the device; its failure is the command's.
  int Enabled(const wchar_t* command) {
    if (FEnabled) return exOK;
    TCallResult r = Host().Call(L"Enable");
    if (r.Code) return Fail(command, r.Code, L"Enable: " + r.Text);
    FEnabled = true;
    return exOK;
  }

  int Fail(const wchar_t* command, int32_t code, const std::wstring& text) {
    if (FOptions.Json)
      OutRaw("{\"command\":" + JsonString(command) + ",\"ok\":false,\"code\":" + std::to_string(code) +
             ",\"text\":" + JsonString(text) + "}\n");
    else
      Out(std::wstring(command) + L": failed, result " + std::to_wstring(code) + L": " + text + L"\n");
    return ExitCodeOfResult(code) ? ExitCodeOfResult(code) : exFailed;
  }

  // One command's outcome: human lines, or one JSON object of the same fields.
  struct TField {
    std::wstring Key, Value;
    bool Raw = false;  // a JSON number or literal
  };
  void Report(const wchar_t* command, const std::vector<TField>& fields, const std::wstring& receipt = L"",
              const wchar_t* receiptTitle = L"") {
    if (FOptions.Json) {
      std::string json = "{\"command\":" + JsonString(command) + ",\"ok\":true";
      for (const auto& f : fields) json += "," + JsonString(f.Key) + ":" + (f.Raw ? Utf8(f.Value) : JsonString(f.Value));
      if (!receipt.empty()) json += ",\"receipt\":" + JsonString(receipt);
      OutRaw(json + "}\n");
      return;
    }
    std::wstring text = std::wstring(command) + L": OK\n";
    size_t width = 0;
    for (const auto& f : fields) width = std::max(width, f.Key.size());
    for (const auto& f : fields) text += L"  " + f.Key + L":" + std::wstring(width + 1 - f.Key.size(), L' ') + f.Value + L"\n";
    if (!receipt.empty()) text += Boxed(receiptTitle, receipt);
    Out(text);
  }

  int Session(const std::vector<std::wstring>& args) {
    std::vector<std::wstring> lines = args;
    if (lines.empty()) {
      std::string all(std::istreambuf_iterator<char>(std::cin), {});
      std::istringstream in(all);
      for (std::string line; std::getline(in, line);) lines.push_back(Wide(line));
    }
    for (const auto& line : lines) {
      const std::vector<std::wstring> words = SplitWords(line);
      if (words.empty() || words[0][0] == L'#') continue;
      if (words[0] == L"session") throw TUsageError("a session cannot hold another session");
      if (!FOptions.Json) Out(L"\n> " + MaskPassword(line) + L"\n");
      const int code = Run(words, true);
      if (code) return code;
    }
    return exOK;
  }

  int SettingsCommand(std::vector<std::wstring> args) {
    TSettingsFile file = LoadConfig();
    bool changed = false;
    for (size_t i = 0; i < args.size(); ++i) {
      if (args[i] == L"--load") {
        if (i + 1 >= args.size()) throw TUsageError("--load needs a FILE");
        std::ifstream in(args[i + 1].c_str(), std::ios::binary);
        if (!in) throw TUsageError("cannot read " + Utf8(args[i + 1]));
        TSettingsFile loaded;
        loaded.Parse(std::string(std::istreambuf_iterator<char>(in), {}), args[i + 1]);
        for (const auto& [id, value] : loaded.Items()) file.Set(id, value);
        ++i;
      } else {
        auto [id, value] = ParseAssignment(args[i]);
        file.Set(id, value);
      }
      changed = true;
    }
    if (changed) {
      // The driver checks them before they are kept.
      FHost.reset();
      FEnabled = false;
      FHost = std::make_unique<TDriverHost>(FOptions);
      FHost->Apply(file);
      SaveConfig(file);
    }
    std::vector<TField> fields;
    for (const auto& s : Host().Settings()) {
      std::wstring value;
      if (s.Id == L"Password")
        value = Str(s.Value).empty() ? L"" : L"***";
      else if (s.Id == L"Host")
        value = ShownUrl(Str(s.Value));
      else if (s.Value.Type() == VT_BOOL)
        value = s.Value.Get().boolVal ? L"true" : L"false";
      else
        value = Str(s.Value);
      fields.push_back({s.Id, value});
    }
    if (!FOptions.Json) Out(L"settings file: " + FOptions.Config + L"\n");
    Report(L"settings", fields);
    return exOK;
  }

  int Info(const std::vector<std::wstring>& args) {
    Need(args, 0, 0, "info");
    TCallResult r = Host().Call(L"GetDeviceInfo");
    if (r.Code) return Fail(L"info", r.Code, r.Text);
    static const wchar_t* names[] = {L"TypeName",      L"ModelID",        L"ModelName",     L"MajorVersion",
                                     L"MinorVersion",  L"BuildVersion",   L"ProcessorName", L"ProcessorType",
                                     L"IsSettingsDlgExist", L"Description", L"DeveloperName", L"CI_email",
                                     L"CI_www",        L"CI_Phones",      L"CI_address"};
    std::vector<TField> fields;
    for (LONG i = 0; i < Count(r.Out); ++i) {
      const TVariant v = Item(r.Out, i);
      std::wstring value = v.Type() == VT_BOOL ? (v.Get().boolVal ? L"true" : L"false") : Str(v);
      fields.push_back({i < 15 ? names[i] : L"Item" + std::to_wstring(i), value});
    }
    Report(L"info", fields);
    return exOK;
  }

  int Dialog(const std::vector<std::wstring>& args) {
    Need(args, 0, 0, "dialog");
    TCallResult r = Host().Call(L"ShowSettingsDlg");
    if (r.Code) return Fail(L"dialog", r.Code, r.Text);
    TSettingsFile file = LoadConfig();
    for (const auto& s : Host().Settings())
      if (!s.ReadOnly) file.Set(s.Id, s.Value.Type() == VT_BOOL ? (s.Value.Get().boolVal ? L"true" : L"false") : Str(s.Value));
    SaveConfig(file);
    Report(L"dialog", {{L"settings file", FOptions.Config}});
    return exOK;
  }

  int Check(const std::vector<std::wstring>& args) {
    Need(args, 0, 0, "check");
    TCallResult r = Host().Call(L"CheckHealth");
    if (r.Code) return Fail(L"check", r.Code, r.Text);
    Report(L"check", {{L"result", r.Text.empty() ? std::wstring(L"OK") : r.Text}});
    return exOK;
  }

  int Register(const std::vector<std::wstring>& args) {
    Need(args, 1, 2, "register AMOUNT [DETAILS]");
    const int64_t amount = ParseAmount(args[0]);
    if (int e = Enabled(L"register")) return e;
    TCallResult r = Host().Call(L"RegisterQrCode",
                                Arr({TVariant::FromCurrency(amount), TVariant::FromString(args.size() > 1 ? args[1] : L"")}));
    if (r.Code) return Fail(L"register", r.Code, r.Text);
    FLastQr = Str(Item(r.Out, 0));
    FLastPayment.clear();
    Report(L"register", {{L"QrCodeID", FLastQr},
                         {L"QrCodeData", Str(Item(r.Out, 1))},
                         {L"QRCodeImageUrl", Str(Item(r.Out, 2))},
                         {L"OrderID", Str(Item(r.Out, 3))},
                         {L"Amount", FormatAmount(amount), true}});
    return exOK;
  }

  int Pay(const std::vector<std::wstring>& args) {
    Need(args, 1, 2, "pay ID [ORDER]");
    if (args[0].empty()) throw TUsageError("pay needs a QR code ID");
    if (int e = Enabled(L"pay")) return e;
    int timeout = 0;
    for (const auto& s : Host().Settings())
      if (s.Id == L"WaitTimeout") timeout = VariantToInt(s.Value.Get());
    // The call blocks this thread (the driver's apartment) until the bank decides or the
    // wait ends; a second thread keeps a progress line so a person sees it is waiting.
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    std::thread progress;
    if (!FOptions.Json)
      progress = std::thread([&] {
        const auto start = std::chrono::steady_clock::now();
        std::unique_lock<std::mutex> lock(m);
        long long shown = -1;
        while (!cv.wait_for(lock, std::chrono::milliseconds(200), [&] { return done; })) {
          const auto s = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
          if (s == shown) continue;
          shown = s;
          Out(L"\r  Pay: waiting for the customer... " + std::to_wstring(s) + L" s of " + std::to_wstring(timeout) + L" s ");
        }
        Out(L"\r" + std::wstring(60, L' ') + L"\r");
      });
    TCallResult r = Host().Call(L"Pay", Arr({TVariant::FromString(args[0]), TVariant::FromString(args.size() > 1 ? args[1] : args[0])}));
    {
      std::lock_guard<std::mutex> lock(m);
      done = true;
    }
    cv.notify_all();
    if (progress.joinable()) progress.join();
    if (r.Code) return Fail(L"pay", r.Code, r.Text);
    FLastPayment = Str(Item(r.Out, 1));
    Report(L"pay",
           {{L"Amount", FormatAmount(VariantToCurrency(Item(r.Out, 0).Get())), true},
            {L"PaymentID", FLastPayment},
            {L"PaymentDate", DateText(VariantToDouble(Item(r.Out, 2).Get()))}},
           Str(Item(r.Out, 3)), L" payment receipt ");
    return exOK;
  }

  int Status(const std::vector<std::wstring>& args) {
    Need(args, 1, 2, "status ID [ORDER]");
    if (int e = Enabled(L"status")) return e;
    TCallResult r =
        Host().Call(L"GetQrCodeStatus", Arr({TVariant::FromString(args[0]), TVariant::FromString(args.size() > 1 ? args[1] : args[0])}));
    if (r.Code) return Fail(L"status", r.Code, r.Text);
    const int32_t status = VariantToInt(Item(r.Out, 4).Get());
    Report(L"status", {{L"Status", std::to_wstring(status), true},
                       {L"StatusText", StatusName(status)},
                       {L"Amount", FormatAmount(VariantToCurrency(Item(r.Out, 0).Get())), true},
                       {L"PaymentID", Str(Item(r.Out, 1))},
                       {L"PaymentDate", DateText(VariantToDouble(Item(r.Out, 2).Get()))}},
           Str(Item(r.Out, 3)), L" receipt ");
    return exOK;
  }

  int Refund(const std::vector<std::wstring>& args) {
    Need(args, 2, 3, "refund AMOUNT ID [QRID]");
    const int64_t amount = ParseAmount(args[0]);
    if (int e = Enabled(L"refund")) return e;
    TCallResult r = Host().Call(L"Refund", Arr({TVariant::FromCurrency(amount), TVariant::FromString(args[1]),
                                                TVariant::FromString(args[1]),
                                                TVariant::FromString(args.size() > 2 ? args[2] : args[1])}));
    if (r.Code) return Fail(L"refund", r.Code, r.Text);
    Report(L"refund", {{L"RefundID", Str(Item(r.Out, 0))}, {L"Amount", FormatAmount(amount), true}}, Str(Item(r.Out, 1)),
           L" refund receipt ");
    return exOK;
  }

  int Unregister(const std::vector<std::wstring>& args) {
    Need(args, 1, 1, "unregister ID");
    if (int e = Enabled(L"unregister")) return e;
    TCallResult r = Host().Call(L"UnregisterQrCode", Arr({TVariant::FromString(args[0])}));
    if (r.Code) return Fail(L"unregister", r.Code, r.Text);
    Report(L"unregister", {{L"QrCodeID", args[0]}});
    return exOK;
  }

  // The bank's step: the driver's own device test through the host's methods (Enable, a QR
  // code for 1000.00 registered and withdrawn at once), or a payment's status.
  TDoctorStep BankStep(const std::vector<std::wstring>& args, int& exit) {
    TDoctorStep s{L"bank"};
    const auto failed = [&](const std::wstring& call, const TCallResult& r) {
      s.Ok = false;
      s.Text = call + L": result " + std::to_wstring(r.Code) + L": " + r.Text;
      s.Fields.push_back({L"code", std::to_wstring(r.Code)});
      s.AdviceRu = L"Соединение с банком в порядке, но банк или драйвер отказал: «" + r.Text +
                   L"». Проверьте настройки TerminalKey и Password (их выдаёт банк); если ошибка повторяется, включите "
                   L"DebugLogEnabled, повторите проверку и передайте журнал в поддержку банка.";
      s.AdviceEn = L"The way to the bank works, but the bank or the driver refused: \"" + r.Text +
                   L"\". Check the settings TerminalKey and Password (the bank issues them); if it happens again, turn "
                   L"DebugLogEnabled on, run the check again and send the log to the bank's support.";
      exit = ExitCodeOfResult(r.Code) ? ExitCodeOfResult(r.Code) : exFailed;
      return s;
    };
    TCallResult r = Host().Call(L"Enable");
    if (r.Code) return failed(L"Enable", r);
    FEnabled = true;
    if (!args.empty()) {
      r = Host().Call(L"GetQrCodeStatus", Arr({TVariant::FromString(args[0]), TVariant::FromString(args[0])}));
      if (r.Code) return failed(L"GetQrCodeStatus " + args[0], r);
      const int32_t status = VariantToInt(Item(r.Out, 4).Get());
      s.Text = L"payment " + args[0] + L": status " + std::to_wstring(status) + L" (" + StatusName(status) + L"), amount " +
               FormatAmount(VariantToCurrency(Item(r.Out, 0).Get()));
      s.Fields.push_back({L"status", std::to_wstring(status)});
      return s;
    }
    r = Host().Call(L"RegisterQrCode", Arr({TVariant::FromCurrency(1000 * 10000), TVariant::FromString(L"")}));
    if (r.Code) return failed(L"RegisterQrCode 1000.00", r);
    const std::wstring qr = Str(Item(r.Out, 0));
    s.Fields.push_back({L"QrCodeID", qr});
    TCallResult w = Host().Call(L"UnregisterQrCode", Arr({TVariant::FromString(qr)}));
    if (w.Code) return failed(L"UnregisterQrCode " + qr + L" (the test QR code stays open at the bank)", w);
    s.Text = L"device test: QR code " + qr + L" for 1000.00 registered and withdrawn";
    return s;
  }

  int Doctor(const std::vector<std::wstring>& args) {
    Need(args, 0, 1, "doctor [PAYMENT_ID]");
    std::wstring url;
    for (const auto& s : Host().Settings())
      if (s.Id == L"Host") url = Str(s.Value);
    std::vector<TDoctorStep> steps = DoctorNetworkSteps(url);
    int exit = exOK;
    bool reachable = true;  // every step before the bank's but the clock passed: the bank can be asked
    for (const auto& s : steps)
      if (!s.Ok) {
        exit = exConnection;
        if (s.Name != L"clock") reachable = false;
      }
    if (reachable && !steps.empty() && steps.back().Name == L"clock") {
      int bankExit = exOK;
      steps.push_back(BankStep(args, bankExit));
      if (!exit) exit = bankExit;
    }
    if (FOptions.Json) {
      std::string json = "{\"command\":\"doctor\",\"ok\":" + std::string(exit ? "false" : "true") + ",\"exit\":" +
                         std::to_string(exit) + ",\"host\":" + JsonString(ShownUrl(url)) + ",\"steps\":[";
      for (size_t i = 0; i < steps.size(); ++i) {
        const TDoctorStep& s = steps[i];
        json += std::string(i ? "," : "") + "{\"step\":" + JsonString(s.Name) + ",\"ok\":" + (s.Ok ? "true" : "false") +
                ",\"text\":" + JsonString(s.Text);
        for (const auto& f : s.Fields) json += "," + JsonString(f.Key) + ":" + JsonString(f.Value);
        if (!s.Ok) json += ",\"advice_ru\":" + JsonString(s.AdviceRu) + ",\"advice_en\":" + JsonString(s.AdviceEn);
        json += "}";
      }
      OutRaw(json + "]}\n");
      return exit;
    }
    std::wstring text = L"doctor: Host " + ShownUrl(url) + L" (settings file " + FOptions.Config + L")\n";
    for (const auto& s : steps) {
      text += L"  " + s.Name + std::wstring(6 - std::min<size_t>(s.Name.size(), 5), L' ') + (s.Ok ? L"OK    " : L"FAIL  ") +
              s.Text + L"\n";
      if (!s.Ok) {
        text += L"        что делать: " + s.AdviceRu + L"\n";
        text += L"        what to do: " + s.AdviceEn + L"\n";
      }
    }
    text += exit ? L"doctor: failed at " + [&] {
      for (const auto& s : steps)
        if (!s.Ok) return s.Name;
      return std::wstring();
    }() + L" (exit " + std::to_wstring(exit) + L")\n"
                 : L"doctor: OK\n";
    Out(text);
    return exit;
  }

  TOptions FOptions;
  std::unique_ptr<TDriverHost> FHost;
  bool FEnabled = false;
  std::wstring FLastQr, FLastPayment;
};

std::wstring CurrentFolder() {
  wchar_t buf[MAX_PATH * 2] = {};
  const DWORD n = GetCurrentDirectoryW(MAX_PATH * 2, buf);
  std::wstring folder(buf, n);
  if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
  return folder;
}

int Main(std::vector<std::wstring> words) {
  TOptions options;
  size_t i = 0;
  for (; i < words.size(); ++i) {
    const std::wstring& w = words[i];
    if (w.rfind(L"--", 0) != 0) break;
    auto value = [&]() -> std::wstring {
      if (i + 1 >= words.size()) throw TUsageError(Utf8(w) + " needs a value");
      return words[++i];
    };
    if (w == L"--help") {
      PrintUsage();
      return exOK;
    } else if (w == L"--json") {
      options.Json = true;
    } else if (w == L"--config") {
      options.Config = value();
    } else if (w == L"--device") {
      options.DeviceID = value();
    } else if (w == L"--devices") {
      options.DevicesFolder = value();
    } else {
      throw TUsageError("unknown option " + Utf8(w) + "; try --help");
    }
  }
  if (i == words.size()) {
    PrintUsage();
    return exUsage;
  }
  if (options.DevicesFolder.empty()) options.DevicesFolder = CurrentFolder();
  if (options.DevicesFolder.back() != L'\\' && options.DevicesFolder.back() != L'/') options.DevicesFolder += L'\\';
  TConsole console(options);
  try {
    return console.Run(std::vector<std::wstring>(words.begin() + static_cast<std::ptrdiff_t>(i), words.end()));
  } catch (const TDriverHost::TDriverMissing& e) {
    if (options.Json)
      OutRaw("{\"ok\":false,\"error\":" + JsonString(e.Message) + "}\n");
    Err(L"tolvaro_host: " + e.Message + L"\n");
    return exNoDriver;
  }
}

}  // namespace

int main() {
  SetConsoleOutputCP(CP_UTF8);
  // Bytes as written: the receipts' own line ends, no "\r" added to ours.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<std::wstring> words;
  for (int i = 1; argv && i < argc; ++i) words.emplace_back(argv[i]);
  LocalFree(argv);
  const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  int code = exFailed;
  try {
    code = Main(words);
  } catch (const TUsageError& e) {
    Err(L"tolvaro_host: " + Wide(e.what()) + L"\n");
    code = exUsage;
  } catch (const std::exception& e) {
    Err(L"tolvaro_host: " + Wide(e.what()) + L"\n");
    code = exFailed;
  } catch (...) {
    Err(L"tolvaro_host: unexpected failure\n");
    code = exFailed;
  }
  if (SUCCEEDED(init)) CoUninitialize();
  return code;
}
