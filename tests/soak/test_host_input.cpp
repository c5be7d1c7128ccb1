// The host input matrix on the registered DLL: every automation type by value, by reference
// and in arrays, in every argument position of every host method. No call may crash or leak;
// a by-value argument stays as the host passed it; each call ends in its documented answer:
// a reference that cannot take a value back -> DISP_E_EXCEPTION before the handler; a TimeOut
// that is no ordinal -> E_INVALIDARG; otherwise a VT_BOOL result with [code, text] on failure.
#include <cstring>
#include <iostream>
#include <map>
#include <memory>

#include "SoakKit.h"

namespace {

using namespace soak;

// One automation type as a host passes it.
struct TKind {
  const char* Name;
  VARTYPE Vt;
  int Variant;  // 0 the usual value, 1 the null or zero one (null BSTR, null interface)
};

const TKind kKinds[] = {
    {"EMPTY", VT_EMPTY, 0},       {"NULL", VT_NULL, 0},         {"I1", VT_I1, 0},       {"I2", VT_I2, 0},
    {"I4", VT_I4, 0},             {"I8", VT_I8, 0},             {"UI1", VT_UI1, 0},     {"UI2", VT_UI2, 0},
    {"UI4", VT_UI4, 0},           {"UI8", VT_UI8, 0},           {"INT", VT_INT, 0},     {"UINT", VT_UINT, 0},
    {"R4", VT_R4, 0},             {"R8", VT_R8, 0},             {"CY", VT_CY, 0},       {"DATE", VT_DATE, 0},
    {"BSTR", VT_BSTR, 0},         {"null BSTR", VT_BSTR, 1},    {"DISPATCH", VT_DISPATCH, 0},
    {"null DISPATCH", VT_DISPATCH, 1}, {"ERROR", VT_ERROR, 0}, {"BOOL", VT_BOOL, 0},
    {"UNKNOWN", VT_UNKNOWN, 0},   {"null UNKNOWN", VT_UNKNOWN, 1}, {"DECIMAL", VT_DECIMAL, 0},
};

bool Ordinal(VARTYPE vt) {
  switch (vt) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_I8: case VT_UI8: case VT_BOOL:
      return true;
    default:
      return false;
  }
}

enum class TForm { ByValue, TypedRef, VariantRef, Array1D, TypedArray1D, Array2D, TypedArray2D, ArrayRef };
const TForm kForms[] = {TForm::ByValue, TForm::TypedRef,     TForm::VariantRef, TForm::Array1D,
                        TForm::TypedArray1D, TForm::Array2D, TForm::TypedArray2D, TForm::ArrayRef};
const char* FormName(TForm f) {
  static const char* const names[] = {"by value", "typed ref", "variant ref", "1-D variant array",
                                      "1-D typed array", "2-D variant array", "2-D typed array", "array ref"};
  return names[static_cast<int>(f)];
}
bool ByValueForm(TForm f) {
  return f == TForm::ByValue || f == TForm::Array1D || f == TForm::TypedArray1D || f == TForm::Array2D ||
         f == TForm::TypedArray2D;
}
bool ScalarForm(TForm f) { return f == TForm::ByValue || f == TForm::TypedRef || f == TForm::VariantRef; }

// A small COM object for the interface kinds (the host's own objects).
IDispatch* HostObject() {
  static TTestEquipmentManager* manager = TTestEquipmentManager::Create();
  return manager;
}

TVariant Scalar(const TKind& k) {
  TVariant v;
  VARIANT& r = v.Get();
  r.vt = k.Vt;
  switch (k.Vt) {
    case VT_EMPTY: case VT_NULL: break;
    case VT_BSTR:
      if (k.Variant) r.bstrVal = nullptr; else return TVariant::FromString(L"12,5 строка\r\nвторая");
      break;
    case VT_DISPATCH: case VT_UNKNOWN:
      r.pdispVal = k.Variant ? nullptr : HostObject();
      if (r.pdispVal) r.pdispVal->AddRef();
      break;
    case VT_DECIMAL: VarDecFromI4(1234, &r.decVal); r.vt = VT_DECIMAL; break;
    case VT_ERROR: r.scode = DISP_E_PARAMNOTFOUND; break;
    case VT_R4: r.fltVal = 12.5f; break;
    case VT_R8: case VT_DATE: r.dblVal = 12.5; break;
    case VT_CY: r.cyVal.int64 = 125000; break;
    case VT_BOOL: r.boolVal = VARIANT_TRUE; break;
    case VT_I8: case VT_UI8: r.llVal = 12; break;
    default: r.lVal = 12; break;
  }
  return v;
}

// A SAFEARRAY of the kind's elements (VT_VARIANT holding them, or typed), one or two dimensions.
TVariant ArrayOf(const TKind& k, bool Typed, int Dims) {
  const VARTYPE element = Typed ? k.Vt : static_cast<VARTYPE>(VT_VARIANT);
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
  SAFEARRAY* sa = SafeArrayCreate(element, static_cast<UINT>(Dims), bounds);
  if (!sa) return TVariant();
  TVariant item = Scalar(k);
  for (LONG i = 0; i < 2; ++i)
    for (LONG j = 0; j < (Dims == 2 ? 2 : 1); ++j) {
      LONG idx[2] = {i, j};
      void* p = nullptr;
      if (!Typed) p = &item.Get();
      else if (element == VT_BSTR || element == VT_DISPATCH || element == VT_UNKNOWN) p = item.Get().bstrVal;
      else if (element == VT_DECIMAL) p = &item.Get().decVal;
      else p = &item.Get().lVal;
      SafeArrayPutElement(sa, idx, p);
    }
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_ARRAY | element;
  v.parray = sa;
  return TVariant::Take(v);
}

bool TypedArrayPossible(VARTYPE vt) { return vt != VT_EMPTY && vt != VT_NULL; }

// What a host variable looked like: its type and every byte and element it holds.
std::string Fingerprint(const VARIANT& v) {
  std::string f = std::to_string(v.vt) + ":";
  if (v.vt & VT_BYREF) return f + std::to_string(reinterpret_cast<uintptr_t>(v.byref));
  if (v.vt & VT_ARRAY) {
    SAFEARRAY* sa = v.parray;
    if (!sa) return f + "null";
    f += std::to_string(reinterpret_cast<uintptr_t>(sa)) + "/" + std::to_string(sa->cDims) + "/" +
         std::to_string(sa->cbElements) + "/";
    ULONG n = 1;
    for (UINT d = 0; d < sa->cDims; ++d) n *= sa->rgsabound[d].cElements;
    if ((v.vt & VT_TYPEMASK) == VT_VARIANT) {
      for (ULONG i = 0; i < n; ++i) f += Fingerprint(static_cast<const VARIANT*>(sa->pvData)[i]) + ",";
    } else {
      f.append(static_cast<const char*>(sa->pvData), n * sa->cbElements);
      if ((v.vt & VT_TYPEMASK) == VT_BSTR)
        for (ULONG i = 0; i < n; ++i) {
          const BSTR s = static_cast<const BSTR*>(sa->pvData)[i];
          if (s) f += U8(std::wstring(s, SysStringLen(s)));
        }
    }
    return f;
  }
  f.append(reinterpret_cast<const char*>(&v) + 8, 8);
  if (v.vt == VT_DECIMAL) f.append(reinterpret_cast<const char*>(&v), 16);
  if (v.vt == VT_BSTR && v.bstrVal) f += U8(std::wstring(v.bstrVal, SysStringLen(v.bstrVal)));
  return f;
}

// One argument and everything it points to.
struct TArg {
  TVariant Owned;
  alignas(8) unsigned char Storage[16] = {};
  BSTR StorageBstr = nullptr;
  SAFEARRAY* StorageArray = nullptr;
  VARIANT Arg;

  TArg(const TKind& k, TForm form) {
    VariantInit(&Arg);
    switch (form) {
      case TForm::ByValue: Owned = Scalar(k); Arg = Owned.Get(); break;
      case TForm::VariantRef:
        Owned = Scalar(k);
        Arg.vt = VT_BYREF | VT_VARIANT;
        Arg.pvarVal = &Owned.Get();
        break;
      case TForm::TypedRef:
        Owned = Scalar(k);
        if (k.Vt == VT_EMPTY || k.Vt == VT_NULL) {  // no such reference exists: the value itself
          Arg = Owned.Get();
          break;
        }
        Arg.vt = VT_BYREF | k.Vt;
        if (k.Vt == VT_BSTR) {
          StorageBstr = k.Variant ? nullptr : SysAllocString(L"host text");
          Arg.pbstrVal = &StorageBstr;
        } else if (k.Vt == VT_DECIMAL) {
          std::memcpy(Storage, &Owned.Get(), 16);
          Arg.byref = Storage;
        } else if (k.Vt == VT_DISPATCH || k.Vt == VT_UNKNOWN) {
          Arg.byref = Storage;  // a null interface variable
        } else {
          std::memcpy(Storage, &Owned.Get().lVal, 8);
          Arg.byref = Storage;
        }
        break;
      case TForm::Array1D: Owned = ArrayOf(k, false, 1); Arg = Owned.Get(); break;
      case TForm::TypedArray1D: Owned = ArrayOf(k, true, 1); Arg = Owned.Get(); break;
      case TForm::Array2D: Owned = ArrayOf(k, false, 2); Arg = Owned.Get(); break;
      case TForm::TypedArray2D: Owned = ArrayOf(k, true, 2); Arg = Owned.Get(); break;
      case TForm::ArrayRef:
        Owned = ArrayOf(k, false, 1);
        StorageArray = Owned.Get().parray;
        Arg.vt = VT_BYREF | VT_ARRAY | VT_VARIANT;
        Arg.pparray = &StorageArray;
        break;
    }
  }
  ~TArg() {
    SysFreeString(StorageBstr);
    if ((Arg.vt == (VT_BYREF | VT_DISPATCH) || Arg.vt == (VT_BYREF | VT_UNKNOWN)) && *Arg.ppunkVal)
      (*Arg.ppunkVal)->Release();
  }
  TArg(const TArg&) = delete;
  TArg& operator=(const TArg&) = delete;
};

// A host method: its name, whether it has the (InData, OutData, TimeOut) form, its positions,
// and a valid InData (or first argument).
struct TMethod {
  const wchar_t* Name;
  bool Public;
  int Positions;
};

const TMethod kMethods[] = {
    {L"Init", false, 2},          {L"Open", false, 2},          {L"Close", false, 1},
    {L"Enable", true, 3},         {L"Disable", true, 3},        {L"CheckHealth", true, 3},
    {L"GetDeviceInfo", true, 3},  {L"GetSettings", true, 3},    {L"SetSettings", true, 3},
    {L"ShowSettingsDlg", true, 3}, {L"RegisterQrCode", true, 3}, {L"Pay", true, 3},
    {L"GetQrCodeStatus", true, 3}, {L"Refund", true, 3},       {L"UnregisterQrCode", true, 3},
};

struct TTally {
  int Calls = 0, Skipped = 0;
  long long Ms = 0;
  std::map<std::string, int> Outcomes;  // "hr" or "code" -> count
  int WrittenBackAfterHandler = 0;      // DISP_E_EXCEPTION from a typed reference in the second place
};

class TMatrix {
public:
  TMatrix() {
    FSession = std::make_unique<TSession>();
    FSession->Sandbox.SetBehaviour(FSession->Key, "CONFIRMED", 0);
    FPaid = FSession->Register(30);
    FPayable = FSession->Register(31);
    FManager = TTestEquipmentManager::Create();
  }
  ~TMatrix() {
    FSession.reset();
    if (FManager) FManager->Release();
  }

  // The valid first argument of a method (its InData, or Init's manager, Open's device ID).
  // Cheap: a method that reaches the bank gets an InData its handler refuses (1004), so that
  // its OutData and TimeOut cases exercise the dispatch without a bank request or a wait.
  TVariant ValidFirst(const std::wstring& Method, bool Cheap) {
    const bool bank = Method == L"RegisterQrCode" || Method == L"Refund" || Method == L"Pay" ||
                      Method == L"GetQrCodeStatus" || Method == L"UnregisterQrCode";
    if (bank && Cheap) return TVariant();
    if (Method == L"Init") return FManager->AsVariant();
    if (Method == L"Open") return TVariant::FromString(FSession->DeviceID);
    if (Method == L"SetSettings") return SettingsInData({{L"LineLength", TVariant::FromInt(40)}});
    if (Method == L"RegisterQrCode") return Args({TVariant::FromDouble(12.5), TVariant::FromString(L"Заказ")});
    if (Method == L"Refund")
      return Args({TVariant::FromDouble(0.01), TVariant::FromString(FPaid), TVariant::FromString(FPaid)});
    // Pay's own payment is never refunded: the wait ends on a paid payment only.
    if (Method == L"Pay") return Args({TVariant::FromString(L""), TVariant::FromString(FPayable)});
    if (Method == L"GetQrCodeStatus" || Method == L"UnregisterQrCode")
      return Args({TVariant::FromString(L""), TVariant::FromString(FPaid)});
    return TVariant();
  }

  // Brings the object back to an enabled device after a case that may have closed or changed it.
  void Restore(const std::wstring& Method) {
    if (Method != L"Init" && Method != L"Open" && Method != L"Close" && Method != L"Disable" && Method != L"SetSettings" &&
        Method != L"Enable")
      return;
    TVariant manager = FManager->AsVariant(), description, id = TVariant::FromString(FSession->DeviceID), out;
    IDispatch* d = FSession->Disp();
    EXPECT_TRUE(IsTrue(InvokeByName(d, L"Init", {ByVal(manager), VariantRefTo(description)})));
    EXPECT_TRUE(IsTrue(InvokeByName(d, L"Open", {ByVal(id), VariantRefTo(description)})));
    EXPECT_TRUE(IsTrue(FSession->Call(L"SetSettings", SettingsInData({{L"Host", TVariant::FromString(FSession->HostURL)},
                                                                       {L"TerminalKey", TVariant::FromString(W(FSession->Key))},
                                                                       {L"Password", TVariant::FromString(FSession->Password)},
                                                                       {L"DebugLogEnabled", TVariant::FromBool(true)}}),
                                      out)));
    EXPECT_TRUE(IsTrue(FSession->Call(L"Enable", TVariant(), out))) << Failure(out);
    // The manager records every call it receives (Init and Open make three here, about 800
    // bytes); the matrix never reads the record, and kept it would be this program's growth
    // measured as the driver's.
    FManager->ClearCalls();
  }

  void Run(const TMethod& m, const TKind& k, TForm form, int position, TTally& tally) {
    const std::string where = U8(m.Name) + " " + k.Name + " " + FormName(form) + " at " + std::to_string(position);
    if ((form == TForm::TypedArray1D || form == TForm::TypedArray2D) && !TypedArrayPossible(k.Vt)) return;
    const bool typedRef = form == TForm::TypedRef && k.Vt != VT_EMPTY && k.Vt != VT_NULL;
    // The operations that answer with an array take no typed OutData reference.
    const std::wstring name = m.Name;
    const bool arrayOutData =
        name == L"RegisterQrCode" || name == L"Pay" || name == L"Refund" || name == L"GetQrCodeStatus";
    const bool refusedUpfront =
        form == TForm::ArrayRef || (typedRef && !IsWritableTypedReference(k.Vt)) || (typedRef && arrayOutData && position == 1);
    const bool timeOutRefused = m.Public && position == 2 && !(ScalarForm(form) && Ordinal(k.Vt));
    // The settings dialog is modal: only arguments that keep it from opening are tried.
    if (std::wstring(m.Name) == L"ShowSettingsDlg" && !refusedUpfront && !timeOutRefused) {
      ++tally.Skipped;
      return;
    }
    // Pay's InData is read as GetQrCodeStatus' is; a Pay that reaches the bank costs at least
    // the half-second pause after its answer, so its array InData goes to the bank in the long
    // form only.
    if (std::wstring(m.Name) == L"Pay" && position == 0 && (!LongForm() || FQuick) &&
        (form == TForm::Array1D || form == TForm::TypedArray1D)) {
      ++tally.Skipped;
      return;
    }
    TArg bad(k, form);
    const std::string before = ByValueForm(form) ? Fingerprint(bad.Arg) : "";
    // Bank requests (and Pay's half-second pause after any answer) for the OutData and TimeOut
    // cases only in the long form.
    const bool cheap = position != 0 && (!LongForm() || FQuick);
    TVariant first = ValidFirst(m.Name, cheap), out,
             timeOut = TVariant::FromInt(0), description;
    std::vector<VARIANT> args;
    if (m.Public)
      args = {ByVal(first), VariantRefTo(out), ByVal(timeOut)};
    else if (m.Positions == 2)
      args = {ByVal(first), VariantRefTo(description)};
    else args = {ByVal(first)};
    args[static_cast<size_t>(position)] = bad.Arg;

    ++tally.Calls;
    const TInvokeResult r = InvokeByName(FSession->Disp(), m.Name, args);
    if (ByValueForm(form)) {
      EXPECT_EQ(Fingerprint(bad.Arg), before) << where << ": a by-value argument changed";
    }
    std::string outcome;
    if (refusedUpfront) {
      EXPECT_EQ(r.Hr, DISP_E_EXCEPTION) << where;
      EXPECT_EQ(r.Excep.scode, 1001) << where;
      EXPECT_EQ(r.ExcepDescription(), L"Ошибка входных параметров команды") << where;
      outcome = "DISP_E_EXCEPTION before the handler";
    } else if (timeOutRefused) {
      EXPECT_EQ(r.Hr, E_INVALIDARG) << where;
      outcome = "E_INVALIDARG (TimeOut)";
    } else if (r.Hr == DISP_E_EXCEPTION) {
      // Only a typed reference in the second place that cannot take what comes back (Init's and
      // Open's description, the array of GetDeviceInfo and GetSettings, UnregisterQrCode's
      // failure) fails after the handler, which did nothing at the bank.
      EXPECT_EQ(form, TForm::TypedRef) << where << ": " << U8(r.ExcepDescription());
      EXPECT_EQ(position, 1) << where;
      EXPECT_EQ(r.Excep.scode, 1001) << where;
      ++tally.WrittenBackAfterHandler;
      outcome = "DISP_E_EXCEPTION writing back";
    } else {
      EXPECT_EQ(r.Hr, S_OK) << where;
      EXPECT_EQ(r.Result.Type(), VT_BOOL) << where;
      if (m.Public && position != 1 && !IsTrue(r)) {
        EXPECT_EQ(CountOf(out), 2) << where;
        if (CountOf(out) >= 2) {
          EXPECT_NE(ItemOf(out, 0).Get().lVal, 0) << where;
          EXPECT_FALSE(Str(ItemOf(out, 1)).empty()) << where;
          outcome = "false " + std::to_string(ItemOf(out, 0).Get().lVal);
        }
      } else {
        outcome = IsTrue(r) ? "true" : "false";
      }
    }
    ++tally.Outcomes[outcome];
    Restore(m.Name);
  }

  void RunMethod(const TMethod& m, TTally& tally) {
    const auto started = std::chrono::steady_clock::now();
    for (const TKind& k : kKinds)
      for (TForm form : kForms)
        for (int position = 0; position < m.Positions; ++position) Run(m, k, form, position, tally);
    // The object still works for this method's valid call (dialogs aside).
    if (std::wstring(m.Name) == L"ShowSettingsDlg") return;
    TVariant out;
    if (m.Public) {
      const TInvokeResult ok = FSession->Call(m.Name, ValidFirst(m.Name, false), out);
      if (std::wstring(m.Name) != L"UnregisterQrCode" && std::wstring(m.Name) != L"Refund") {
        EXPECT_TRUE(IsTrue(ok)) << U8(m.Name) << ": " << Failure(out);
      }
    }
    tally.Ms += std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
  }

  // The short form's choices in the long form too (its repeated passes).
  bool FQuick = false;

private:
  std::unique_ptr<TSession> FSession;
  std::wstring FPaid, FPayable;
  TTestEquipmentManager* FManager = nullptr;
};

TEST(HostInputMatrix, EveryTypeInEveryPositionOfEveryMethodEndsInItsDocumentedAnswer) {
  // In the emulated 32-bit machine (tools/vm32) every Wine server round trip costs many times
  // what it costs natively, and the matrix's thousands of calls, each with its log lines, take
  // well over a quarter of an hour there (three minutes natively): ./run test leaves it to the
  // 64-bit tree. Any of the long form's sizes runs it in the machine too.
  if (std::getenv("TOLVARO_IN_VM") != nullptr && !LongForm())
    GTEST_SKIP() << "in the emulated 32-bit machine the matrix runs in the long form only (TOLVARO_SOAK_CYCLES)";
  TMatrix matrix;
  TTally warmUp;
  // A warm-up over two methods: what the process allocates once (caches, the log's state) is
  // not a leak.
  matrix.RunMethod(kMethods[6], warmUp);
  matrix.RunMethod(kMethods[10], warmUp);
  // The long form repeats the matrix (its later passes in the short form's way): a leak per
  // call grows with every pass, a cache filled once does not.
  const int passes = EnvNumber("TOLVARO_SOAK_MATRIX_PASSES", LongForm() ? 3 : 1);
  for (int pass = 0; pass < passes; ++pass) {
    matrix.FQuick = pass > 0;
    const TProcessMetrics before = TProcessMetrics::Now();
    const auto started = std::chrono::steady_clock::now();
    std::map<std::wstring, TTally> tallies;
    std::string growth;
    for (const TMethod& m : kMethods) {
      const TProcessMetrics was = TProcessMetrics::Now();
      matrix.RunMethod(m, tallies[m.Name]);
      const TProcessMetrics now = TProcessMetrics::Now();
      const long long grew = static_cast<long long>(now.PrivateBytes) - static_cast<long long>(was.PrivateBytes);
      const long long heap = static_cast<long long>(now.LiveHeapBytes) - static_cast<long long>(was.LiveHeapBytes);
      growth += " " + U8(m.Name) + " " + std::to_string(grew / 1024) + " KiB (heap " + std::to_string(heap / 1024) +
                " KiB, threads " + std::to_string(now.Threads) + ");";
    }
    const TProcessMetrics after = TProcessMetrics::Now();
    std::cout << "[ input ] pass " << pass + 1 << " private bytes by method:" << growth << std::endl;

    int calls = 0;
    for (const auto& [name, t] : tallies) {
      calls += t.Calls;
      if (pass > 0) continue;
      std::cout << "[ input ] " << U8(name) << ":";
      for (const auto& [outcome, n] : t.Outcomes) std::cout << " [" << outcome << "] x" << n << ";";
      if (t.Skipped) std::cout << " skipped x" << t.Skipped << ";";
      std::cout << " " << t.Ms << " ms";
      std::cout << std::endl;
    }
    std::cout << "[ input ] pass " << pass + 1 << ": " << calls << " calls in "
              << std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started).count()
              << " s; handles " << before.Handles << " -> " << after.Handles << ", private bytes " << before.PrivateBytes
              << " -> " << after.PrivateBytes << ", live heap bytes " << before.LiveHeapBytes << " -> "
              << after.LiveHeapBytes << ", threads " << before.Threads << " -> " << after.Threads << std::endl;
    if (pass + 1 < passes) continue;
    // Generous: a leak per call would be thousands of handles or many megabytes.
    EXPECT_LT(static_cast<long>(after.Handles) - static_cast<long>(before.Handles), 200);
    EXPECT_LT(static_cast<long long>(after.PrivateBytes) - static_cast<long long>(before.PrivateBytes), 32ll << 20);
    // The heaps' live bytes leave out thread stacks and free space: a pass adds a few KiB
    // (first-time allocations), a leak of 40 bytes a call adds 300 KiB.
    EXPECT_LT(static_cast<long long>(after.LiveHeapBytes) - static_cast<long long>(before.LiveHeapBytes), 256ll << 10);
  }
}

// A host that passes OutData as a typed reference cannot take the answer: the call is refused
// before the bank is asked, instead of a payment registered or refunded and then reported as a
// failed call (which a host would retry).
TEST(HostInputMatrix, ATypedOutDataReferenceIsRefusedBeforeTheBankIsAsked) {
  TSession s;
  const std::wstring paid = s.Register(40);
  s.Sandbox.SetPaymentStatus(U8(paid), "CONFIRMED");
  const struct {
    const wchar_t* Method;
    TVariant InData;
  } cases[] = {
      {L"RegisterQrCode", Args({TVariant::FromDouble(12.5), TVariant::FromString(L"Заказ")})},
      {L"Refund", Args({TVariant::FromDouble(1), TVariant::FromString(paid), TVariant::FromString(paid)})},
      {L"GetQrCodeStatus", Args({TVariant::FromString(L""), TVariant::FromString(paid)})},
  };
  for (const auto& c : cases) {
    for (VARTYPE vt : {VT_BSTR, VT_I4, VT_DISPATCH}) {
      const std::string where = U8(c.Method) + " OutData typed " + std::to_string(vt);
      const size_t requests = s.Sandbox.Requests(s.Key).size();
      alignas(8) unsigned char storage[16] = {};
      BSTR text = SysAllocString(L"host text");
      VARIANT out;
      VariantInit(&out);
      out.vt = VT_BYREF | vt;
      out.byref = vt == VT_BSTR ? static_cast<void*>(&text) : storage;
      TVariant timeOut = TVariant::FromInt(0);
      const TInvokeResult r = InvokeByName(s.Disp(), c.Method, {ByVal(c.InData), out, ByVal(timeOut)});
      EXPECT_EQ(r.Hr, DISP_E_EXCEPTION) << where;
      EXPECT_EQ(r.ExcepDescription(), L"Ошибка входных параметров команды") << where;
      EXPECT_EQ(s.Sandbox.Requests(s.Key).size(), requests) << where;
      EXPECT_EQ(std::wstring(text), L"host text") << where;
      SysFreeString(text);
    }
  }
  const auto ledger = s.Sandbox.Payments(s.Key);
  ASSERT_EQ(ledger.size(), 1u);
  EXPECT_EQ(ledger[0].Refunded, 0);
}

}  // namespace
