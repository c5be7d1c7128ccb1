// The dispatch object as a host sees it: names to DISPIDs, Invoke with real DISPPARAMS,
// result codes, exceptions, write-back into the host's variables.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kit/DispatchTestKit.h"
#include "host/uCOMSupport.h"
#include "host/uResultCodes.h"

namespace {

// A dispatch object with handlers whose behaviour the tests set.
class TTestObject : public TBaseObject {
public:
  explicit TTestObject(bool* destroyed = nullptr) : FDestroyed(destroyed) {}

  void Initialize() override {
    TBaseObject::Initialize();
    RegisterPublicMethod(L"Echo", [this](TVariant& InData, TVariant& OutData, int32_t TimeOut, std::wstring&) {
      ++Calls;
      LastInData = InData;
      LastTimeOut = TimeOut;
      LastOutDataWasEmpty = OutData.IsEmpty();
      OutData = NextOutData;
      InData = TVariant::FromString(L"changed by handler");
      return NextCode;
    });
    RegisterPublicMethod(L"Fail", [this](TVariant&, TVariant& OutData, int32_t, std::wstring& Description) {
      ++Calls;
      OutData = TVariant::FromString(L"partial");
      Description = NextDescription;
      return NextCode;
    });
    RegisterPublicMethod(L"Throw", [this](TVariant&, TVariant&, int32_t, std::wstring&) -> int32_t {
      ++Calls;
      throw Exception(L"Нет связи с банком");
    });
    RegisterPublicMethod(L"ThrowStd", [this](TVariant&, TVariant&, int32_t, std::wstring&) -> int32_t {
      ++Calls;
      throw std::runtime_error("not ours");
    });
    RegisterPrivateMethod(L"Private", [this](TVariantArray& Params) {
      ++Calls;
      LastParamCount = Params.Count();
      if (Params.Count() > 0) Params.PutItem(0, TVariant::FromString(L"written").Get());
      return TVariant::FromInt(42);
    });
    RegisterPrivateMethod(L"PrivateThrow", [this](TVariantArray&) -> TVariant {
      ++Calls;
      throw EVariantTypeCastError(L"Could not convert variant of type (Null) into type (Boolean)");
    });
    RegisterSpecificMethod(L"Оплата", [this](TVariant&, TVariant&, int32_t, std::wstring&) { return ++Calls, 0; });
  }

  using TBaseObject::FExtData;
  using TBaseObject::FMethodList;
  using TBaseObject::FOnExtMethod;
  using TBaseObject::RegisterPrivateMethod;
  using TBaseObject::RegisterPublicMethod;
  using TBaseObject::RegisterSpecificMethod;

  int Calls = 0;
  int32_t NextCode = 0;
  std::wstring NextDescription;
  TVariant NextOutData;
  TVariant LastInData;
  int32_t LastTimeOut = -1;
  bool LastOutDataWasEmpty = false;
  LONG LastParamCount = -1;

protected:
  ~TTestObject() override {
    if (FDestroyed) *FDestroyed = true;
  }

private:
  bool* FDestroyed;
};

// Holds one reference, as a host does.
class DispatchTest : public ::testing::Test {
protected:
  void SetUp() override {
    Obj = new TTestObject();
    Obj->Initialize();
  }
  void TearDown() override { Obj->Release(); }
  IDispatch* Disp() { return Obj; }

  TTestObject* Obj = nullptr;
};

VARIANT Typed(VARTYPE vt, void* storage) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BYREF | vt;
  v.byref = storage;
  return v;
}

TEST_F(DispatchTest, NamesResolveInRegistrationOrderWithAsciiOnlyCaseFolding) {
  struct Case {
    std::wstring Name;
    DISPID Expected;
    HRESULT Hr;
  } cases[] = {
      {L"Echo", 0, S_OK},     {L"ECHO", 0, S_OK},       {L"echo", 0, S_OK},        {L"Fail", 1, S_OK},
      {L"Private", 4, S_OK},  {L"Оплата", 6, S_OK},     {L"оплата", -1, E_NOTIMPL}, {L"ОПЛАТА", -1, E_NOTIMPL},
      {L"Missing", -1, E_NOTIMPL}, {L"", -1, E_NOTIMPL}, {L"Echo ", -1, E_NOTIMPL},
  };
  for (const Case& c : cases) {
    HRESULT hr = S_OK;
    EXPECT_EQ(DispIdOf(Disp(), c.Name, &hr), c.Expected) << std::string(c.Name.begin(), c.Name.end());
    EXPECT_EQ(hr, c.Hr);
  }
}

TEST_F(DispatchTest, OnlyTheFirstNameIsTranslated) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"Fail"), const_cast<LPOLESTR>(L"Named")};
  DISPID ids[2] = {777, 777};
  EXPECT_EQ(Disp()->GetIDsOfNames(IID_NULL, names, 2, 0, ids), S_OK);
  EXPECT_EQ(ids[0], 1);
  EXPECT_EQ(ids[1], 777);
}

TEST_F(DispatchTest, ReRegisteringANameKeepsItsDispIdAndTakesTheNewKind) {
  Obj->RegisterPrivateMethod(L"FAIL", [](TVariantArray&) { return TVariant::FromInt(7); });
  EXPECT_EQ(DispIdOf(Disp(), L"Fail"), 1);
  EXPECT_EQ(Obj->FMethodList.size(), 7u);
  EXPECT_EQ(Obj->FMethodList[1].Name, L"Fail");  // the first spelling stays
  TInvokeResult r = InvokeByName(Disp(), L"fail", {});
  EXPECT_EQ(r.Hr, S_OK);
  EXPECT_EQ(r.Result.Type(), VT_I4);
  EXPECT_EQ(r.Result.Get().lVal, 7);
}

TEST_F(DispatchTest, RegisteredEntriesStayWhereTheyAreWhileTheTableGrows) {
  TMethodStruct& first = Obj->RegisterPublicMethod(L"Early", nullptr);
  for (int i = 0; i < 200; ++i) Obj->RegisterPublicMethod(L"Later" + std::to_wstring(i), nullptr);
  // The reference handed out first is still the table's entry (a moved table would leave it dangling).
  EXPECT_EQ(&Obj->RegisterSpecificMethod(L"EARLY", nullptr), &first);
  first.IsSpecific = false;
  EXPECT_FALSE(Obj->FMethodList[7].IsSpecific);
  EXPECT_EQ(DispIdOf(Disp(), L"Early"), 7);
}

TEST_F(DispatchTest, TypeInfoIsNotProvided) {
  UINT count = 5;
  EXPECT_EQ(Disp()->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 0u);
  ITypeInfo* info = nullptr;
  EXPECT_EQ(Disp()->GetTypeInfo(0, 0, &info), E_NOTIMPL);
}

TEST_F(DispatchTest, PublicCallSucceedsWithByReferenceOutData) {
  TVariant inData = MakeVariantArray({TVariant::FromString(L"Q1"), TVariant::FromInt(5)});
  TVariant outData = TVariant::FromString(L"stale host value");
  TVariant timeOut = TVariant::FromInt(30);
  Obj->NextOutData = MakeVariantArray({TVariant::FromString(L"QR payload")});
  TInvokeResult r = InvokeByName(Disp(), L"Echo", {VariantRefTo(inData), VariantRefTo(outData), ByVal(timeOut)});
  ASSERT_EQ(r.Hr, S_OK);
  EXPECT_EQ(r.Result.Type(), VT_BOOL);
  EXPECT_EQ(r.Result.Get().boolVal, VARIANT_TRUE);
  EXPECT_TRUE(Obj->LastOutDataWasEmpty);  // the host's old OutData never reaches the handler
  EXPECT_EQ(Obj->LastTimeOut, 30);
  EXPECT_EQ(CountOf(Obj->LastInData), 2);
  ASSERT_EQ(outData.Type(), VT_ARRAY | VT_VARIANT);
  EXPECT_EQ(VariantToString(ItemOf(outData, 0).Get()), L"QR payload");
  // InData comes back as the host passed it: the handler's change is not put back.
  ASSERT_EQ(inData.Type(), VT_ARRAY | VT_VARIANT);
  EXPECT_EQ(VariantToString(ItemOf(inData, 0).Get()), L"Q1");
}

TEST_F(DispatchTest, HandlerThatLeavesOutDataAloneEmptiesTheHostVariable) {
  TVariant inData, outData = TVariant::FromInt(99), timeOut = TVariant::FromInt(0);
  TInvokeResult r = InvokeByName(Disp(), L"Echo", {VariantRefTo(inData), VariantRefTo(outData), VariantRefTo(timeOut)});
  ASSERT_EQ(r.Hr, S_OK);
  EXPECT_EQ(r.Result.Get().boolVal, VARIANT_TRUE);
  EXPECT_EQ(outData.Type(), VT_EMPTY);
}

TEST_F(DispatchTest, FailureCodesBecomeFalseAndTheErrorArray) {
  struct Case {
    const wchar_t* Method;
    int32_t Code;
    std::wstring Description;
    int32_t ExpectedCode;
    std::wstring ExpectedText;
  } cases[] = {
      {L"Fail", 1004, L"", 1004, L"Ошибка входных параметров команды"},
      {L"Fail", 1004, L"Сумма не задана", 1004, L"Сумма не задана"},
      {L"Fail", 70, L"", 70, L"Устройство не включено"},
      {L"Fail", 3016, L"", 3016, L"Неизвестная ошибка"},
      {L"Fail", -1, L"", -1, L"Неизвестная ошибка"},
      {L"Throw", 0, L"", 1001, L"Нет связи с банком"},
  };
  for (const Case& c : cases) {
    Obj->NextCode = c.Code;
    Obj->NextDescription = c.Description;
    TVariant inData, outData = TVariant::FromString(L"old"), timeOut = TVariant::FromInt(10);
    TInvokeResult r =
        InvokeByName(Disp(), c.Method, {VariantRefTo(inData), VariantRefTo(outData), VariantRefTo(timeOut)});
    ASSERT_EQ(r.Hr, S_OK) << c.Code;
    EXPECT_EQ(r.Result.Type(), VT_BOOL);
    EXPECT_EQ(r.Result.Get().boolVal, VARIANT_FALSE);
    ASSERT_EQ(outData.Type(), VT_ARRAY | VT_VARIANT);
    ASSERT_EQ(CountOf(outData), 2);
    TVariant code = ItemOf(outData, 0), text = ItemOf(outData, 1);
    EXPECT_EQ(code.Type(), VT_I4);
    EXPECT_EQ(code.Get().lVal, c.ExpectedCode);
    EXPECT_EQ(text.Type(), VT_BSTR);
    EXPECT_EQ(VariantToString(text.Get()), c.ExpectedText);
  }
}

TEST_F(DispatchTest, ExtraErrorDataIsAppendedWhenSet) {
  Obj->RegisterPublicMethod(L"WithExtra", [this](TVariant&, TVariant&, int32_t, std::wstring&) {
    Obj->FExtData = TVariant::FromString(L"extra");
    return 1003;
  });
  TVariant inData, outData, timeOut = TVariant::FromInt(1);
  TInvokeResult r =
      InvokeByName(Disp(), L"WithExtra", {VariantRefTo(inData), VariantRefTo(outData), VariantRefTo(timeOut)});
  ASSERT_EQ(r.Hr, S_OK);
  ASSERT_EQ(CountOf(outData), 3);
  EXPECT_EQ(VariantToString(ItemOf(outData, 1).Get()), L"Команда не поддерживается устройством");
  EXPECT_EQ(VariantToString(ItemOf(outData, 2).Get()), L"extra");
  // Cleared before the next public call.
  r = InvokeByName(Disp(), L"Fail", {VariantRefTo(inData), VariantRefTo(outData), VariantRefTo(timeOut)});
  Obj->NextCode = 1004;
  r = InvokeByName(Disp(), L"Fail", {VariantRefTo(inData), VariantRefTo(outData), VariantRefTo(timeOut)});
  EXPECT_EQ(CountOf(outData), 2);
}

TEST_F(DispatchTest, TimeOutMustBePresentAndOrdinal) {
  struct Case {
    const char* What;
    TVariant TimeOut;
    bool Accepted;
    int32_t Expected;
  };
  TVariant i2;
  i2.Get().vt = VT_I2;
  i2.Get().iVal = -3;
  TVariant ui1;
  ui1.Get().vt = VT_UI1;
  ui1.Get().bVal = 200;
  TVariant i8;
  i8.Get().vt = VT_I8;
  i8.Get().llVal = 77;
  std::vector<Case> cases;
  cases.push_back({"I4", TVariant::FromInt(30), true, 30});
  cases.push_back({"I2", std::move(i2), true, -3});
  cases.push_back({"UI1", std::move(ui1), true, 200});
  cases.push_back({"I8", std::move(i8), true, 77});
  cases.push_back({"Bool true", TVariant::FromBool(true), true, -1});
  cases.push_back({"string 30", TVariant::FromString(L"30"), false, 0});
  cases.push_back({"double", TVariant::FromDouble(30.0), false, 0});
  cases.push_back({"Empty", TVariant(), false, 0});
  cases.push_back({"Null", TVariant::Null(), false, 0});
  for (Case& c : cases) {
    Obj->Calls = 0;
    TVariant inData, outData = TVariant::FromString(L"keep");
    TInvokeResult r =
        InvokeByName(Disp(), L"Echo", {VariantRefTo(inData), VariantRefTo(outData), VariantRefTo(c.TimeOut)});
    if (c.Accepted) {
      EXPECT_EQ(r.Hr, S_OK) << c.What;
      EXPECT_EQ(Obj->Calls, 1) << c.What;
      EXPECT_EQ(Obj->LastTimeOut, c.Expected) << c.What;
    } else {
      EXPECT_EQ(r.Hr, E_INVALIDARG) << c.What;
      EXPECT_EQ(Obj->Calls, 0) << c.What;
      EXPECT_EQ(r.Result.Type(), VT_EMPTY) << c.What;
      EXPECT_EQ(VariantToString(outData.Get()), L"keep") << c.What;  // no write-back
    }
  }
}

TEST_F(DispatchTest, PublicCallsWithFewerThanThreeArgumentsAreRejected) {
  TVariant a, b;
  for (std::vector<VARIANT> args : {std::vector<VARIANT>{}, {VariantRefTo(a)}, {VariantRefTo(a), VariantRefTo(b)}}) {
    Obj->Calls = 0;
    TInvokeResult r = InvokeByName(Disp(), L"Echo", args);
    EXPECT_EQ(r.Hr, E_INVALIDARG);
    EXPECT_EQ(Obj->Calls, 0);
  }
}

TEST_F(DispatchTest, ShortIntegersReachTheHandlerAsLongIntegers) {
  TVariant inData;
  inData.Get().vt = VT_I2;
  inData.Get().iVal = 12;
  TVariant outData, timeOut = TVariant::FromInt(1);
  ASSERT_EQ(InvokeByName(Disp(), L"Echo", {ByVal(inData), VariantRefTo(outData), VariantRefTo(timeOut)}).Hr, S_OK);
  EXPECT_EQ(Obj->LastInData.Type(), VT_I4);
  EXPECT_EQ(Obj->LastInData.Get().lVal, 12);
}

TEST_F(DispatchTest, ReferencesAreFollowedToTheInnermostVariable) {
  TVariant inner = TVariant::FromString(L"deep");
  VARIANT middle = VariantRefTo(inner);
  VARIANT outer;
  VariantInit(&outer);
  outer.vt = VT_BYREF | VT_VARIANT;
  outer.pvarVal = &middle;
  TVariant outData, timeOut = TVariant::FromInt(1);
  Obj->NextOutData = TVariant::FromInt(5);
  // InData through two references; OutData too: its innermost variable takes the value.
  TVariant outTarget;
  VARIANT outMiddle = VariantRefTo(outTarget);
  VARIANT outOuter;
  VariantInit(&outOuter);
  outOuter.vt = VT_BYREF | VT_VARIANT;
  outOuter.pvarVal = &outMiddle;
  ASSERT_EQ(InvokeByName(Disp(), L"Echo", {outer, outOuter, VariantRefTo(timeOut)}).Hr, S_OK);
  EXPECT_EQ(VariantToString(Obj->LastInData.Get()), L"deep");
  EXPECT_EQ(outTarget.Type(), VT_I4);
  EXPECT_EQ(outTarget.Get().lVal, 5);
}

TEST_F(DispatchTest, TypedReferencesReceiveConvertedValues) {
  // The handler's OutData goes into a typed host variable of each supported kind.
  struct Case {
    VARTYPE Vt;
    TVariant Value;
  };
  short i2 = 0;
  unsigned short ui2 = 0;
  LONG i4 = 0;
  ULONG ui4 = 0;
  float r4 = 0;
  double r8 = 0, date = 0;
  CY cy{};
  BSTR bstr = SysAllocString(L"old");
  VARIANT_BOOL b = VARIANT_FALSE;
  BYTE ui1 = 0;
  struct Target {
    VARTYPE Vt;
    void* Storage;
    TVariant Value;
  };
  std::vector<Target> targets;
  targets.push_back({VT_I2, &i2, TVariant::FromInt(-12)});
  targets.push_back({VT_UI2, &ui2, TVariant::FromInt(12)});
  targets.push_back({VT_I4, &i4, TVariant::FromString(L"123456")});
  targets.push_back({VT_UI4, &ui4, TVariant::FromInt(7)});
  targets.push_back({VT_R4, &r4, TVariant::FromDouble(1.5)});
  targets.push_back({VT_R8, &r8, TVariant::FromDouble(100.25)});
  targets.push_back({VT_DATE, &date, TVariant::FromDate(45000.5)});
  targets.push_back({VT_CY, &cy, TVariant::FromDouble(12.3456)});
  targets.push_back({VT_BSTR, &bstr, TVariant::FromString(L"новая строка")});
  targets.push_back({VT_BOOL, &b, TVariant::FromBool(true)});
  targets.push_back({VT_UI1, &ui1, TVariant::FromInt(200)});
  unsigned short ui2Full = 0;
  ULONG ui4Full = 0;
  TVariant big2, big4;
  big2.Get().vt = VT_UI2;
  big2.Get().uiVal = 40000;
  big4.Get().vt = VT_UI4;
  big4.Get().ulVal = 3000000000u;
  targets.push_back({VT_UI2, &ui2Full, big2});  // unsigned values beyond the signed range
  targets.push_back({VT_UI4, &ui4Full, big4});
  for (Target& t : targets) {
    Obj->NextOutData = t.Value;
    TVariant inData, timeOut = TVariant::FromInt(1);
    TInvokeResult r =
        InvokeByName(Disp(), L"Echo", {VariantRefTo(inData), Typed(t.Vt, t.Storage), VariantRefTo(timeOut)});
    EXPECT_EQ(r.Hr, S_OK) << t.Vt;
  }
  EXPECT_EQ(i2, -12);
  EXPECT_EQ(ui2, 12);
  EXPECT_EQ(i4, 123456);
  EXPECT_EQ(ui4, 7u);
  EXPECT_FLOAT_EQ(r4, 1.5f);
  EXPECT_DOUBLE_EQ(r8, 100.25);
  EXPECT_DOUBLE_EQ(date, 45000.5);
  EXPECT_EQ(cy.int64, 123456);
  EXPECT_STREQ(bstr, L"новая строка");
  EXPECT_EQ(b, VARIANT_TRUE);  // -1, not 1
  EXPECT_EQ(ui1, 200);
  EXPECT_EQ(ui2Full, 40000);
  EXPECT_EQ(ui4Full, 3000000000u);
  SysFreeString(bstr);
}

TEST_F(DispatchTest, TypedBooleanVariableReceivesTheResultOfAFailedCall) {
  // The error array cannot go into a Boolean: the call fails as an exception, never silently.
  Obj->NextCode = 1004;
  VARIANT_BOOL b = VARIANT_TRUE;
  TVariant inData, timeOut = TVariant::FromInt(1);
  TInvokeResult r = InvokeByName(Disp(), L"Fail", {VariantRefTo(inData), Typed(VT_BOOL, &b), VariantRefTo(timeOut)});
  EXPECT_EQ(r.Hr, DISP_E_EXCEPTION);
  EXPECT_EQ(r.Excep.scode, 1001);
}

TEST_F(DispatchTest, UnsupportedTypedReferenceFailsBeforeTheHandlerRuns) {
  // It could never take its value back: the operation must not happen and then be reported
  // as failed.
  LONGLONG i8 = 5;
  TVariant inData, outData = TVariant::FromString(L"keep");
  Obj->NextOutData = TVariant::FromInt(1);
  TInvokeResult r = InvokeByName(Disp(), L"Echo", {VariantRefTo(inData), VariantRefTo(outData), Typed(VT_I8, &i8)});
  EXPECT_EQ(r.Hr, DISP_E_EXCEPTION);
  EXPECT_EQ(r.Excep.scode, 1001);
  EXPECT_EQ(r.ExcepDescription(), L"Ошибка входных параметров команды");
  EXPECT_EQ(r.ExcepSource(), L"Exception");
  EXPECT_EQ(r.Result.Type(), VT_EMPTY);
  EXPECT_EQ(Obj->Calls, 0);
  EXPECT_EQ(VariantToString(outData.Get()), L"keep");
}

TEST_F(DispatchTest, FailedWriteBackLeavesEveryHostVariableUnchanged) {
  // Element 0 would take a new value, element 1 cannot: neither changes.
  Obj->RegisterPrivateMethod(L"TwoOutputs", [](TVariantArray& Params) {
    Params.PutItem(0, TVariant::FromString(L"new").Get());
    Params.PutItem(1, TVariant::FromString(L"not a number").Get());
    return TVariant::FromBool(true);
  });
  TVariant first = TVariant::FromString(L"old");
  LONG second = 7;
  TInvokeResult r = InvokeByName(Disp(), L"TwoOutputs", {VariantRefTo(first), Typed(VT_I4, &second)});
  EXPECT_EQ(r.Hr, DISP_E_EXCEPTION);
  EXPECT_EQ(r.Excep.scode, 1001);
  EXPECT_EQ(VariantToString(first.Get()), L"old");
  EXPECT_EQ(second, 7);
}

TEST_F(DispatchTest, HostVariablesGetValuesOfTheirOwn) {
  // OutData reaches the host without a copy: it must still be the host's alone, never shared
  // with what the handler keeps, another call's answer or a variable of the handler's.
  Obj->NextOutData = MakeVariantArray({TVariant::FromString(L"first")});
  TVariant inData, first, second, timeOut = TVariant::FromInt(1);
  ASSERT_EQ(InvokeByName(Disp(), L"Echo", {VariantRefTo(inData), VariantRefTo(first), VariantRefTo(timeOut)}).Hr, S_OK);
  Obj->NextOutData = MakeVariantArray({TVariant::FromString(L"second")});
  ASSERT_EQ(InvokeByName(Disp(), L"Echo", {VariantRefTo(inData), VariantRefTo(second), VariantRefTo(timeOut)}).Hr,
            S_OK);
  EXPECT_EQ(VariantToString(ItemOf(first, 0).Get()), L"first");
  EXPECT_EQ(VariantToString(ItemOf(second, 0).Get()), L"second");
  EXPECT_NE(VariantSafeArray(second.Get()), VariantSafeArray(Obj->NextOutData.Get()));
  EXPECT_EQ(VariantToString(ItemOf(Obj->NextOutData, 0).Get()), L"second");

  // One variable passed as InData and as OutData ends with OutData.
  TVariant both = TVariant::FromString(L"in");
  Obj->NextOutData = TVariant::FromString(L"out");
  ASSERT_EQ(InvokeByName(Disp(), L"Echo", {VariantRefTo(both), VariantRefTo(both), VariantRefTo(timeOut)}).Hr, S_OK);
  EXPECT_EQ(VariantToString(both.Get()), L"out");

  // A reference a private handler stores gives the host the value, not the reference.
  TVariant handlersOwn = TVariant::FromString(L"behind a reference");
  Obj->RegisterPrivateMethod(L"StoresAReference", [&handlersOwn](TVariantArray& Params) {
    Params.PutItem(0, VariantRefTo(handlersOwn));
    return TVariant::FromBool(true);
  });
  TVariant target = TVariant::FromInt(1);
  ASSERT_EQ(InvokeByName(Disp(), L"StoresAReference", {VariantRefTo(target)}).Hr, S_OK);
  handlersOwn = TVariant::FromString(L"changed afterwards");
  ASSERT_EQ(target.Type(), VT_BSTR);
  EXPECT_EQ(VariantToString(target.Get()), L"behind a reference");

  // A result variable that held a value is cleared before it takes the result.
  TVariant result = TVariant::FromString(L"the host's old result");
  VARIANT argument = VariantRefTo(target);
  DISPPARAMS params{&argument, nullptr, 1, 0};
  ASSERT_EQ(Disp()->Invoke(DispIdOf(Disp(), L"StoresAReference"), IID_NULL, 0, DISPATCH_METHOD, &params,
                           &result.Get(), nullptr, nullptr),
            S_OK);
  EXPECT_EQ(result.Type(), VT_BOOL);
  EXPECT_EQ(result.Get().boolVal, VARIANT_TRUE);
}

TEST_F(DispatchTest, TimeOutBeyondThirtyTwoBitsFailsAsACode) {
  // (VT_I8 rather than VT_UI4 0xFFFFFFFF: Wine's VariantChangeType turns that into -1
  // where Windows reports an overflow.)
  TVariant timeOut;
  timeOut.Get().vt = VT_I8;
  timeOut.Get().llVal = 1LL << 40;
  TVariant inData, outData;
  TInvokeResult r = InvokeByName(Disp(), L"Echo", {VariantRefTo(inData), VariantRefTo(outData), VariantRefTo(timeOut)});
  ASSERT_EQ(r.Hr, S_OK);
  EXPECT_EQ(r.Result.Get().boolVal, VARIANT_FALSE);
  EXPECT_EQ(Obj->Calls, 0);
  ASSERT_EQ(CountOf(outData), 2);
  EXPECT_EQ(ItemOf(outData, 0).Get().lVal, 1001);
  EXPECT_NE(VariantToString(ItemOf(outData, 1).Get()).find(L"Could not convert"), std::wstring::npos);
}

TEST_F(DispatchTest, ThreadErrorInfoDescribesTheLatestFailedCallOnly) {
  TVariant arg = TVariant::FromInt(1);
  VARIANT a = VariantRefTo(arg);
  DISPPARAMS params{&a, nullptr, 1, 0};
  ASSERT_EQ(Disp()->Invoke(DispIdOf(Disp(), L"PrivateThrow"), IID_NULL, 0, DISPATCH_METHOD, &params, nullptr,
                           nullptr, nullptr),
            DISP_E_EXCEPTION);
  IErrorInfo* info = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  ASSERT_NE(info, nullptr);
  BSTR description = nullptr, source = nullptr;
  info->GetDescription(&description);
  info->GetSource(&source);
  EXPECT_STREQ(description, L"Could not convert variant of type (Null) into type (Boolean)");
  EXPECT_STREQ(source, L"EVariantTypeCastError");
  SysFreeString(description);
  SysFreeString(source);
  info->Release();

  ASSERT_EQ(Disp()->Invoke(DispIdOf(Disp(), L"PrivateThrow"), IID_NULL, 0, DISPATCH_METHOD, &params, nullptr,
                           nullptr, nullptr),
            DISP_E_EXCEPTION);
  TInvokeResult ok = InvokeByName(Disp(), L"Private", {});
  ASSERT_EQ(ok.Hr, S_OK);
  info = nullptr;
  EXPECT_EQ(GetErrorInfo(0, &info), S_FALSE);
  EXPECT_EQ(info, nullptr);
}

TEST_F(DispatchTest, ByValueArgumentsAreNotOverwritten) {
  TVariant inData = TVariant::FromString(L"host string"), outData = TVariant::FromString(L"by value");
  TVariant timeOut = TVariant::FromInt(1);
  std::vector<VARIANT> args{ByVal(inData), ByVal(outData), ByVal(timeOut)};
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPPARAMS params{reversed.data(), nullptr, 3, 0};
  Obj->NextOutData = TVariant::FromInt(5);
  TVariant result;
  ASSERT_EQ(Disp()->Invoke(DispIdOf(Disp(), L"Echo"), IID_NULL, 0, DISPATCH_METHOD, &params, &result.Get(), nullptr,
                           nullptr),
            S_OK);
  // The entries still hold the caller's own strings, which the caller frees.
  EXPECT_EQ(reversed[2].bstrVal, inData.Get().bstrVal);
  EXPECT_EQ(reversed[1].bstrVal, outData.Get().bstrVal);
}

TEST_F(DispatchTest, NullResultPointerStillRunsAndWritesBack) {
  TVariant inData, outData, timeOut = TVariant::FromInt(1);
  Obj->NextOutData = TVariant::FromString(L"x");
  TInvokeResult r =
      InvokeByName(Disp(), L"Echo", {VariantRefTo(inData), VariantRefTo(outData), VariantRefTo(timeOut)}, false);
  EXPECT_EQ(r.Hr, S_OK);
  EXPECT_EQ(Obj->Calls, 1);
  EXPECT_EQ(VariantToString(outData.Get()), L"x");
}

TEST_F(DispatchTest, PublicHandlerRaisingANonGeneralExceptionBecomesDispException) {
  TVariant inData, outData, timeOut = TVariant::FromInt(1);
  TInvokeResult r =
      InvokeByName(Disp(), L"ThrowStd", {VariantRefTo(inData), VariantRefTo(outData), VariantRefTo(timeOut)});
  EXPECT_EQ(r.Hr, DISP_E_EXCEPTION);
  EXPECT_EQ(r.Excep.scode, 1001);
  EXPECT_EQ(r.ExcepDescription(), L"not ours");
}

TEST_F(DispatchTest, PrivateCallGetsTheWholeArrayAndWritesBack) {
  TVariant first = TVariant::FromInt(1), second = TVariant::FromString(L"b");
  TInvokeResult r = InvokeByName(Disp(), L"Private", {VariantRefTo(first), VariantRefTo(second)});
  ASSERT_EQ(r.Hr, S_OK);
  EXPECT_EQ(Obj->LastParamCount, 2);
  EXPECT_EQ(r.Result.Get().lVal, 42);
  EXPECT_EQ(VariantToString(first.Get()), L"written");
  EXPECT_EQ(VariantToString(second.Get()), L"b");

  r = InvokeByName(Disp(), L"Private", {});
  EXPECT_EQ(r.Hr, S_OK);
  EXPECT_EQ(Obj->LastParamCount, 0);
}

TEST_F(DispatchTest, PrivateHandlerExceptionBecomesDispExceptionWithExcepInfo) {
  TVariant arg = TVariant::FromInt(1);
  TInvokeResult r = InvokeByName(Disp(), L"PrivateThrow", {VariantRefTo(arg)});
  EXPECT_EQ(r.Hr, DISP_E_EXCEPTION);
  EXPECT_EQ(r.Excep.scode, 1001);
  EXPECT_EQ(r.ExcepDescription(), L"Could not convert variant of type (Null) into type (Boolean)");
  EXPECT_EQ(r.ExcepSource(), L"EVariantTypeCastError");
  EXPECT_EQ(r.Result.Type(), VT_EMPTY);
  // A null EXCEPINFO is fine too.
  TVariant result;
  VARIANT a = VariantRefTo(arg);
  DISPPARAMS params{&a, nullptr, 1, 0};
  EXPECT_EQ(Disp()->Invoke(DispIdOf(Disp(), L"PrivateThrow"), IID_NULL, 0, DISPATCH_METHOD, &params, &result.Get(),
                           nullptr, nullptr),
            DISP_E_EXCEPTION);
}

TEST_F(DispatchTest, InvokeRejectsUnknownDispIdsAndNonMethodCalls) {
  TVariant a, b, c = TVariant::FromInt(1);
  struct Case {
    DISPID Id;
    WORD Flags;
    HRESULT Expected;
  } cases[] = {
      {100000, DISPATCH_METHOD, E_FAIL},
      {0x7fffffff, DISPATCH_METHOD, E_FAIL},
      {0, DISPATCH_PROPERTYGET, E_FAIL},
      {0, DISPATCH_PROPERTYPUT, E_FAIL},
      {-1, DISPATCH_METHOD, DISP_E_MEMBERNOTFOUND},
      {-5, DISPATCH_METHOD, DISP_E_MEMBERNOTFOUND},
      {7, DISPATCH_METHOD, DISP_E_MEMBERNOTFOUND},
      {65535, DISPATCH_METHOD, DISP_E_MEMBERNOTFOUND},
      {99999, DISPATCH_METHOD, DISP_E_MEMBERNOTFOUND},
  };
  for (const Case& k : cases) {
    TInvokeResult r = InvokeById(Disp(), k.Id, {VariantRefTo(a), VariantRefTo(b), VariantRefTo(c)}, true, k.Flags);
    EXPECT_EQ(r.Hr, k.Expected) << k.Id;
  }
  EXPECT_EQ(Obj->Calls, 0);
  // Method flags combined with a property flag still call.
  TInvokeResult r = InvokeById(Disp(), 0, {VariantRefTo(a), VariantRefTo(b), VariantRefTo(c)}, true,
                               DISPATCH_METHOD | DISPATCH_PROPERTYGET);
  EXPECT_EQ(r.Hr, S_OK);
  EXPECT_EQ(Obj->Calls, 1);
}

TEST_F(DispatchTest, ExtensionHandlerServesUnknownNames) {
  std::vector<std::wstring> seen;
  Obj->FOnExtMethod = [&seen](const std::wstring& Name, TVariant&, TVariant& OutData, int32_t, std::wstring&) {
    seen.push_back(Name);
    OutData = TVariant::FromString(L"ext");
    return Name == L"Bad" ? 1003 : 0;
  };
  EXPECT_EQ(DispIdOf(Disp(), L"Custom"), 65535);
  EXPECT_EQ(DispIdOf(Disp(), L"Other"), 65536);
  EXPECT_EQ(DispIdOf(Disp(), L"CUSTOM"), 65535);
  EXPECT_EQ(DispIdOf(Disp(), L"echo"), 0);  // the table comes first
  TVariant inData, outData, timeOut = TVariant::FromInt(1);
  TInvokeResult r = InvokeById(Disp(), 65536, {VariantRefTo(inData), VariantRefTo(outData), VariantRefTo(timeOut)});
  ASSERT_EQ(r.Hr, S_OK);
  EXPECT_EQ(r.Result.Get().boolVal, VARIANT_TRUE);
  EXPECT_EQ(VariantToString(outData.Get()), L"ext");
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], L"Other");
  EXPECT_EQ(InvokeById(Disp(), 65537, {VariantRefTo(inData), VariantRefTo(outData), VariantRefTo(timeOut)}).Hr,
            DISP_E_MEMBERNOTFOUND);
}

TEST_F(DispatchTest, InstanceIdIsARegistryFormatGuid) {
  const std::wstring& id = Obj->InstanceID();
  ASSERT_EQ(id.size(), 38u);
  EXPECT_EQ(id.front(), L'{');
  EXPECT_EQ(id.back(), L'}');
  for (size_t i = 1; i < 37; ++i) {
    if (i == 9 || i == 14 || i == 19 || i == 24)
      EXPECT_EQ(id[i], L'-');
    else
      EXPECT_TRUE((id[i] >= L'0' && id[i] <= L'9') || (id[i] >= L'A' && id[i] <= L'F')) << i;
  }
  TTestObject* other = new TTestObject();
  other->Initialize();
  EXPECT_NE(other->InstanceID(), id);
  other->Release();
}

TEST_F(DispatchTest, DebugLogSwitchCallsBeginOnlyWhenTurnedOn) {
  struct TCounting : TTestObject {
    int Begins = 0;
    void BeginDebugLog() override { ++Begins; }
  };
  TCounting* o = new TCounting();
  o->Initialize();
  o->SetDebugLogEnabled(false);
  o->SetDebugLogEnabled(true);
  o->SetDebugLogEnabled(true);
  o->SetDebugLogEnabled(false);
  o->SetDebugLogEnabled(true);
  EXPECT_EQ(o->Begins, 2);
  EXPECT_TRUE(o->GetDebugLogEnabled());
  o->Release();
}

TEST(DispatchLifetime, ReferenceCountingIsExact) {
  bool destroyed = false;
  const long before = TComObject::ObjectCount();
  TTestObject* obj = new TTestObject(&destroyed);
  obj->Initialize();
  EXPECT_EQ(TComObject::ObjectCount(), before + 1);
  IDispatch* disp = nullptr;
  ASSERT_EQ(obj->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&disp)), S_OK);
  IUnknown* unk = nullptr;
  ASSERT_EQ(obj->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unk)), S_OK);
  ISupportErrorInfo* sei = nullptr;
  ASSERT_EQ(obj->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&sei)), S_OK);
  EXPECT_EQ(sei->InterfaceSupportsErrorInfo(IID_IDispatch), S_OK);
  void* none = reinterpret_cast<void*>(1);
  EXPECT_EQ(obj->QueryInterface(IID_IClassFactory, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(sei->Release(), 3u);
  EXPECT_EQ(unk->Release(), 2u);
  EXPECT_EQ(disp->Release(), 1u);
  EXPECT_FALSE(destroyed);
  EXPECT_EQ(obj->Release(), 0u);
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(TComObject::ObjectCount(), before);
}

TEST(ArrayItems, AssignedAndStringReading) {
  TVariant arr = MakeVariantArray({TVariant::FromString(L"a"), TVariant(), TVariant::Null(), TVariant::FromDouble(2.5),
                                   TVariant::FromBool(true)});
  EXPECT_TRUE(TBaseObject::ArrayItemAssigned(arr.Get(), 0));
  EXPECT_FALSE(TBaseObject::ArrayItemAssigned(arr.Get(), 1));
  EXPECT_FALSE(TBaseObject::ArrayItemAssigned(arr.Get(), 2));
  EXPECT_TRUE(TBaseObject::ArrayItemAssigned(arr.Get(), 3));
  EXPECT_FALSE(TBaseObject::ArrayItemAssigned(arr.Get(), 5));
  EXPECT_FALSE(TBaseObject::ArrayItemAssigned(arr.Get(), -1));
  EXPECT_FALSE(TBaseObject::ArrayItemAssigned(TVariant().Get(), 0));
  EXPECT_FALSE(TBaseObject::ArrayItemAssigned(TVariant::FromString(L"not an array").Get(), 0));
  EXPECT_EQ(TBaseObject::ArrayItemStr(arr.Get(), 0, L"def"), L"a");
  EXPECT_EQ(TBaseObject::ArrayItemStr(arr.Get(), 1, L"def"), L"def");
  EXPECT_EQ(TBaseObject::ArrayItemStr(arr.Get(), 9, L"def"), L"def");
  EXPECT_EQ(TBaseObject::ArrayItemStr(arr.Get(), 4, L""), L"True");
}

// A number is read with the user locale's decimal separator; this suite also runs under en-US.
TEST(ArrayItemsLocale, NumberUsesTheUserDecimalSeparator) {
  const LANGID lang = PRIMARYLANGID(LANGIDFROMLCID(GetUserDefaultLCID()));
  ASSERT_TRUE(lang == LANG_RUSSIAN || lang == LANG_ENGLISH) << "expectations exist for ru-RU and en-US only";
  TVariant arr = MakeVariantArray({TVariant::FromDouble(2.5), TVariant::FromCurrency(-15000)});
  EXPECT_EQ(TBaseObject::ArrayItemStr(arr.Get(), 0, L""), lang == LANG_RUSSIAN ? L"2,5" : L"2.5");
  EXPECT_EQ(TBaseObject::ArrayItemStr(arr.Get(), 1, L""), lang == LANG_RUSSIAN ? L"-1,5" : L"-1.5");
}

TEST(ErrorOutData, HasTwoOrThreeElements) {
  TVariant two = TBaseObject::MakeErrorOutData(1004, L"", TVariant());
  ASSERT_EQ(CountOf(two), 2);
  EXPECT_EQ(ItemOf(two, 0).Get().lVal, 1004);
  EXPECT_EQ(VariantToString(ItemOf(two, 1).Get()), L"Ошибка входных параметров команды");
  TVariant three = TBaseObject::MakeErrorOutData(5, L"своё", TVariant::FromInt(9));
  ASSERT_EQ(CountOf(three), 3);
  EXPECT_EQ(VariantToString(ItemOf(three, 1).Get()), L"своё");
  EXPECT_EQ(ItemOf(three, 2).Get().lVal, 9);
}

}  // namespace
