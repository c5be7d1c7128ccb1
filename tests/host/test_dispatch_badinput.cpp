// Whatever a host puts into DISPPARAMS, the object answers with an HRESULT, never crashes,
// and stays usable afterwards.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kit/DispatchTestKit.h"
#include "host/uCOMSupport.h"

namespace {

class TProbe : public TBaseObject {
public:
  void Initialize() override {
    TBaseObject::Initialize();
    RegisterPublicMethod(L"Pub", [this](TVariant& InData, TVariant& OutData, int32_t, std::wstring&) {
      ++Calls;
      OutData = MakeVariantArray({InData, TVariant::FromString(L"out")});
      return 0;
    });
    RegisterPrivateMethod(L"Priv", [this](TVariantArray& Params) {
      ++Calls;
      return Params.AsVariant();
    });
  }
  int Calls = 0;
};

// Storage behind a typed reference, big enough for any scalar (DECIMAL is 16 bytes).
struct TStorage {
  alignas(8) unsigned char Bytes[16] = {};
};

// One kind of argument a host might pass.
struct TArgKind {
  std::string Name;
  VARTYPE Vt;  // the scalar type
  bool Ordinal;
};

const std::vector<TArgKind>& Kinds() {
  static const std::vector<TArgKind> kinds = {
      {"EMPTY", VT_EMPTY, false}, {"NULL", VT_NULL, false},       {"I2", VT_I2, true},
      {"I4", VT_I4, true},        {"R4", VT_R4, false},           {"R8", VT_R8, false},
      {"CY", VT_CY, false},       {"DATE", VT_DATE, false},       {"BSTR", VT_BSTR, false},
      {"DISPATCH", VT_DISPATCH, false}, {"ERROR", VT_ERROR, false}, {"BOOL", VT_BOOL, true},
      {"UNKNOWN", VT_UNKNOWN, false}, {"DECIMAL", VT_DECIMAL, false}, {"I1", VT_I1, true},
      {"UI1", VT_UI1, true},      {"UI2", VT_UI2, true},          {"UI4", VT_UI4, true},
      {"I8", VT_I8, true},        {"UI8", VT_UI8, true},          {"INT", VT_INT, false},
      {"UINT", VT_UINT, false},
  };
  return kinds;
}

enum class TForm { ByValue, TypedReference, VariantReference, Array, ArrayReference, TwoDimArray };

// Builds the argument and keeps everything it points to alive.
struct TArgument {
  TVariant Owned;          // the value, or the variable a reference points to
  TStorage Storage;        // typed-reference storage
  BSTR StorageBstr = nullptr;
  SAFEARRAY* StorageArray = nullptr;
  VARIANT Arg;

  TArgument(const TArgKind& kind, TForm form) {
    VariantInit(&Arg);
    Owned = Scalar(kind.Vt);
    switch (form) {
      case TForm::ByValue:
        Arg = Owned.Get();
        break;
      case TForm::VariantReference:
        Arg.vt = VT_BYREF | VT_VARIANT;
        Arg.pvarVal = &Owned.Get();
        break;
      case TForm::TypedReference:
        if (kind.Vt == VT_EMPTY || kind.Vt == VT_NULL) {  // no typed reference of these exists
          Arg = Owned.Get();
          break;
        }
        Arg.vt = VT_BYREF | kind.Vt;
        if (kind.Vt == VT_BSTR) {
          StorageBstr = SysAllocString(L"host text");
          Arg.pbstrVal = &StorageBstr;
        } else {
          std::memcpy(Storage.Bytes, &Owned.Get().lVal, 8);
          if (kind.Vt == VT_DISPATCH || kind.Vt == VT_UNKNOWN) std::memset(Storage.Bytes, 0, sizeof Storage.Bytes);
          Arg.byref = Storage.Bytes;
        }
        break;
      case TForm::Array:
      case TForm::ArrayReference:
        Owned = MakeVariantArray({Scalar(kind.Vt), TVariant::FromString(L"x")});
        if (form == TForm::Array) {
          Arg = Owned.Get();
        } else {
          StorageArray = Owned.Get().parray;
          Arg.vt = VT_BYREF | VT_ARRAY | VT_VARIANT;
          Arg.pparray = &StorageArray;
        }
        break;
      case TForm::TwoDimArray: {
        Owned = NewVariantArray({{2, 0}, {3, 1}});
        const LONG idx[2] = {1, 2};
        PutVariantArrayItem(Owned, idx, Scalar(kind.Vt).Get());
        Arg = Owned.Get();
        break;
      }
    }
  }
  ~TArgument() {
    if (StorageBstr) SysFreeString(StorageBstr);
    // A typed dispatch reference may have received an interface: release it.
    if ((Arg.vt == (VT_BYREF | VT_DISPATCH) || Arg.vt == (VT_BYREF | VT_UNKNOWN)) && *Arg.ppunkVal)
      (*Arg.ppunkVal)->Release();
    // The array reference may have been replaced by the callee; ours is owned by Owned.
  }
  TArgument(const TArgument&) = delete;
  TArgument& operator=(const TArgument&) = delete;

  static TVariant Scalar(VARTYPE vt) {
    TVariant v;
    VARIANT& r = v.Get();
    switch (vt) {
      case VT_BSTR: return TVariant::FromString(L"строка\r\nвторая");
      case VT_DECIMAL: {
        VarDecFromI4(12345, &r.decVal);
        r.vt = VT_DECIMAL;
        return v;
      }
      case VT_DISPATCH:
      case VT_UNKNOWN:
        r.vt = vt;
        r.punkVal = nullptr;
        return v;
      case VT_ERROR:
        r.vt = VT_ERROR;
        r.scode = DISP_E_PARAMNOTFOUND;  // an omitted optional argument
        return v;
      case VT_R4: r.vt = vt; r.fltVal = 2.5f; return v;
      case VT_R8: case VT_DATE: r.vt = vt; r.dblVal = 45000.25; return v;
      case VT_CY: r.vt = vt; r.cyVal.int64 = 1234500; return v;
      case VT_BOOL: r.vt = vt; r.boolVal = VARIANT_TRUE; return v;
      case VT_I8: case VT_UI8: r.vt = vt; r.llVal = 30; return v;
      default: r.vt = vt; r.lVal = 30; return v;
    }
  }
};

const char* FormName(TForm f) {
  switch (f) {
    case TForm::ByValue: return "by value";
    case TForm::TypedReference: return "typed reference";
    case TForm::VariantReference: return "variant reference";
    case TForm::Array: return "array";
    case TForm::ArrayReference: return "array reference";
    case TForm::TwoDimArray: return "2-D array";
  }
  return "?";
}

bool RefusedUpfront(const TArgKind& kind, TForm form) {
  if (form == TForm::ArrayReference) return true;
  return form == TForm::TypedReference && kind.Vt != VT_EMPTY && kind.Vt != VT_NULL &&
         !IsWritableTypedReference(kind.Vt);
}

bool IsAllowedFailure(HRESULT hr) { return hr == S_OK || hr == E_INVALIDARG || hr == DISP_E_EXCEPTION; }

// A normal public call after a bad one still works.
void ExpectUsable(TProbe* obj, const std::string& where) {
  TVariant inData = TVariant::FromString(L"ok"), outData, timeOut = TVariant::FromInt(5);
  const int before = obj->Calls;
  TInvokeResult r = InvokeByName(obj, L"Pub", {VariantRefTo(inData), VariantRefTo(outData), VariantRefTo(timeOut)});
  EXPECT_EQ(r.Hr, S_OK) << where;
  EXPECT_EQ(obj->Calls, before + 1) << where;
  EXPECT_EQ(CountOf(outData), 2) << where;
}

TEST(DispatchBadInput, EveryTypeInEveryPosition) {
  TProbe* obj = new TProbe();
  obj->Initialize();
  const TForm forms[] = {TForm::ByValue,   TForm::TypedReference, TForm::VariantReference,
                         TForm::Array,     TForm::ArrayReference, TForm::TwoDimArray};
  for (const TArgKind& kind : Kinds()) {
    for (TForm form : forms) {
      for (int position = 0; position < 3; ++position) {
        const std::string where = kind.Name + " " + FormName(form) + " at " + std::to_string(position);
        TArgument bad(kind, form);
        TVariant inData = TVariant::FromString(L"in"), outData, timeOut = TVariant::FromInt(5);
        std::vector<VARIANT> args{VariantRefTo(inData), VariantRefTo(outData), VariantRefTo(timeOut)};
        args[position] = bad.Arg;
        const int before = obj->Calls;
        TInvokeResult pub = InvokeByName(obj, L"Pub", args);
        EXPECT_TRUE(IsAllowedFailure(pub.Hr)) << where << " hr=" << std::hex << pub.Hr;
        const bool refused = RefusedUpfront(kind, form);
        if (refused) {
          EXPECT_EQ(pub.Hr, DISP_E_EXCEPTION) << where;
          EXPECT_EQ(obj->Calls, before) << where;
          EXPECT_EQ(pub.ExcepDescription(), L"Ошибка входных параметров команды") << where;
        } else if (position == 2) {
          // TimeOut decides whether the handler runs at all.
          const bool scalarForm = form == TForm::ByValue || form == TForm::TypedReference ||
                                  form == TForm::VariantReference;
          const bool ordinal = scalarForm && kind.Ordinal;
          EXPECT_EQ(obj->Calls, before + (ordinal ? 1 : 0)) << where;
          if (!ordinal) {
            EXPECT_EQ(pub.Hr, E_INVALIDARG) << where;
          }
        } else {
          EXPECT_EQ(obj->Calls, before + 1) << where;
        }
        if (pub.Hr == DISP_E_EXCEPTION) {
          EXPECT_EQ(pub.Excep.scode, 1001) << where;
          EXPECT_FALSE(pub.ExcepDescription().empty()) << where;
        }

        TArgument bad2(kind, form);
        TVariant other = TVariant::FromInt(1);
        std::vector<VARIANT> privArgs{VariantRefTo(other), VariantRefTo(other)};
        privArgs[position % 2] = bad2.Arg;
        TInvokeResult priv = InvokeByName(obj, L"Priv", privArgs);
        EXPECT_TRUE(priv.Hr == S_OK || priv.Hr == DISP_E_EXCEPTION) << where << " hr=" << std::hex << priv.Hr;
        if (refused) {
          EXPECT_EQ(priv.Hr, DISP_E_EXCEPTION) << where;
        }
        if (priv.Hr == S_OK) {
          EXPECT_EQ(CountOf(priv.Result), 2) << where;
        }
        ExpectUsable(obj, where);
      }
    }
  }
  EXPECT_EQ(obj->Release(), 0u);
}

TEST(DispatchBadInput, NullReferencesAndMissingArgumentArrays) {
  TProbe* obj = new TProbe();
  obj->Initialize();
  const DISPID pub = DispIdOf(obj, L"Pub");
  TVariant outData, timeOut = TVariant::FromInt(1);

  // A typed reference with a null pointer, and a variant reference with a null pointer.
  for (VARTYPE vt : {VARTYPE(VT_BYREF | VT_I4), VARTYPE(VT_BYREF | VT_VARIANT), VARTYPE(VT_BYREF | VT_BSTR)}) {
    VARIANT nullRef;
    VariantInit(&nullRef);
    nullRef.vt = vt;
    nullRef.byref = nullptr;
    TInvokeResult r = InvokeById(obj, pub, {nullRef, VariantRefTo(outData), VariantRefTo(timeOut)});
    EXPECT_EQ(r.Hr, DISP_E_EXCEPTION) << vt;
    EXPECT_EQ(r.ExcepDescription(), L"Ошибка входных параметров команды");
  }

  // DISPPARAMS claiming arguments without an array, and no DISPPARAMS at all.
  DISPPARAMS broken{nullptr, nullptr, 3, 0};
  TVariant result;
  EXPECT_EQ(obj->Invoke(pub, IID_NULL, 0, DISPATCH_METHOD, &broken, &result.Get(), nullptr, nullptr), E_INVALIDARG);
  EXPECT_EQ(obj->Invoke(pub, IID_NULL, 0, DISPATCH_METHOD, nullptr, &result.Get(), nullptr, nullptr), E_INVALIDARG);
  EXPECT_EQ(obj->Invoke(DispIdOf(obj, L"Priv"), IID_NULL, 0, DISPATCH_METHOD, nullptr, &result.Get(), nullptr,
                        nullptr),
            S_OK);

  // GetIDsOfNames with nothing to translate.
  DISPID id = 0;
  EXPECT_EQ(obj->GetIDsOfNames(IID_NULL, nullptr, 1, 0, &id), E_INVALIDARG);
  LPOLESTR nullName[] = {nullptr};
  EXPECT_EQ(obj->GetIDsOfNames(IID_NULL, nullName, 1, 0, &id), E_NOTIMPL);
  EXPECT_EQ(id, -1);
  ExpectUsable(obj, "after null references");
  EXPECT_EQ(obj->Release(), 0u);
}

}  // namespace
