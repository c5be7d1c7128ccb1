// The five payment methods as the host calls them: the enabled check, reading InData,
// the operation's result and the OutData it gets back, with the variant types it reads.
#include <gtest/gtest.h>

#include "kit/TestDevice.h"

namespace {

const wchar_t* const kMethods[] = {L"RegisterQrCode", L"UnregisterQrCode", L"Pay", L"Refund", L"GetQrCodeStatus"};

TVariant S(const wchar_t* text) { return TVariant::FromString(text); }
TVariant Arr(std::initializer_list<TVariant> items) { return MakeVariantArray(items); }

class PaymentMethodsTest : public DeviceFixture {
protected:
  // The host's OutData after a failed call: [code, text].
  static void ExpectError(const TInvokeResult& r, const TVariant& out, int32_t code, const std::wstring& text,
                          const std::string& what) {
    EXPECT_EQ(r.Hr, S_OK) << what;
    EXPECT_TRUE(IsFalse(r)) << what;
    ASSERT_EQ(CountOf(out), 2) << what;
    EXPECT_EQ(ItemOf(out, 0).Get().lVal, code) << what;
    EXPECT_EQ(Str(ItemOf(out, 1)), text) << what;
  }
};

TEST_F(PaymentMethodsTest, EveryMethodAnswers70UntilTheDeviceIsEnabled) {
  Device->ImplementsPayments = true;
  const TVariant malformed[] = {TVariant(), S(L"not an array"), Arr({}), Arr({TVariant::Null()})};
  for (TDeviceState state : {dsCreated, dsInited}) {
    if (state == dsInited) Bring(dsInited);
    for (const wchar_t* method : kMethods) {
      for (const TVariant& inData : malformed) {
        TVariant out = S(L"host's");
        TInvokeResult r = Call(method, inData, out);
        ExpectError(r, out, 70, L"Устройство не включено", Utf16ToUtf8(method));
      }
    }
  }
  EXPECT_TRUE(Device->LastInputs.empty());  // no operation ran
}

TEST_F(PaymentMethodsTest, TheBaseLayerSupportsNoOperation) {
  Bring(dsEnabled);
  const TVariant inData = Arr({S(L"10"), S(L"2"), S(L"3"), S(L"4")});
  for (const wchar_t* method : kMethods) {
    TVariant out;
    ExpectError(Call(method, inData, out), out, 1003, L"Команда не поддерживается устройством", Utf16ToUtf8(method));
  }
}

TEST_F(PaymentMethodsTest, InDataIsReadByPositionWithRequiredAndOptionalElements) {
  Bring(dsEnabled);
  Device->ImplementsPayments = true;
  TVariant twoDimensional;
  {
    SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_ARRAY | VT_VARIANT;
    v.parray = SafeArrayCreate(VT_VARIANT, 2, bounds);
    twoDimensional = TVariant::Take(v);
  }
  struct Case {
    const wchar_t* Method;
    TVariant InData;
    int32_t Code;                       // 0: the operation ran
    int64_t Amount;                     // what it received (-1: no amount)
    std::vector<std::wstring> Inputs;   // its string inputs, then its fresh outputs
  };
  Case cases[] = {
      // Required elements: too few, not convertible, not an array at all.
      {L"RegisterQrCode", Arr({S(L"10")}), 1004, 0, {}},
      {L"RegisterQrCode", Arr({S(L"десять"), S(L"d")}), 1004, 0, {}},
      {L"RegisterQrCode", Arr({TVariant::Null(), S(L"d")}), 1004, 0, {}},
      {L"RegisterQrCode", Arr({TVariant::FromDouble(1e300), S(L"d")}), 1004, 0, {}},
      {L"RegisterQrCode", S(L"10"), 1004, 0, {}},
      {L"RegisterQrCode", twoDimensional, 1004, 0, {}},
      {L"Refund", Arr({TVariant::FromInt(1), S(L"O1")}), 1004, 0, {}},
      {L"Refund", Arr({TVariant::FromInt(1), S(L"O1"), TVariant::Null()}), 1004, 0, {}},
      {L"Pay", Arr({}), 1004, 0, {}},
      {L"UnregisterQrCode", TVariant(), 1004, 0, {}},
      // An optional element that is not text either.
      {L"Pay", Arr({S(L"Q1"), Arr({S(L"O1")})}), 1004, 0, {}},
      // Amounts: number, text in the user's format, Empty reads as 0; extra elements are ignored.
      {L"RegisterQrCode", Arr({TVariant::FromDouble(123.45), S(L"d"), S(L"extra")}), 0, 1234500,
       {L"d", L"", L"", L"", L""}},
      {L"RegisterQrCode", Arr({TVariant::FromCurrency(5), S(L"")}), 0, 5, {L"", L"", L"", L"", L""}},
      {L"RegisterQrCode", Arr({TVariant(), S(L"d")}), 0, 0, {L"d", L"", L"", L"", L""}},
      // Optional OrderID: missing, Null or Empty gives the empty text; a number reads as its text.
      {L"Pay", Arr({S(L"Q1")}), 0, 0, {L"Q1", L"", L"", L""}},
      {L"Pay", Arr({S(L"Q1"), TVariant::Null()}), 0, 0, {L"Q1", L"", L"", L""}},
      {L"Pay", Arr({S(L"Q1"), TVariant()}), 0, 0, {L"Q1", L"", L"", L""}},
      {L"Pay", Arr({S(L"Q1"), S(L"O1"), S(L"extra")}), 0, 0, {L"Q1", L"O1", L"", L""}},
      {L"GetQrCodeStatus", Arr({S(L"Q1")}), 0, 0, {L"Q1", L"", L"", L"", L"0"}},
      {L"GetQrCodeStatus", Arr({TVariant::FromInt(77), TVariant::FromInt(5)}), 0, 0, {L"77", L"5", L"", L"", L"0"}},
      // Refund: three required, the fourth optional.
      {L"Refund", Arr({TVariant::FromInt(100), S(L"O1"), S(L"P1")}), 0, 1000000, {L"O1", L"P1", L"", L"", L""}},
      {L"Refund", Arr({TVariant::FromInt(100), S(L"O1"), S(L"P1"), S(L"Q1")}), 0, 1000000,
       {L"O1", L"P1", L"Q1", L"", L""}},
      {L"UnregisterQrCode", Arr({S(L"Q1"), S(L"extra")}), 0, -1, {L"Q1"}},
  };
  for (Case& c : cases) {
    Device->LastInputs.clear();
    Device->LastAmount = -1;
    TVariant out = S(L"host's");
    TInvokeResult r = Call(c.Method, c.InData, out);
    const std::string what = Utf16ToUtf8(c.Method) + " " + Utf16ToUtf8(ArrayToText(c.InData.Get()));
    if (c.Code != 0) {
      ExpectError(r, out, c.Code, L"Ошибка входных параметров команды", what);
      EXPECT_TRUE(Device->LastInputs.empty()) << what;
      continue;
    }
    EXPECT_TRUE(IsTrue(r)) << what;
    EXPECT_EQ(Device->LastInputs, c.Inputs) << what;
    // RegisterQrCode and Refund take an amount; Pay and GetQrCodeStatus hand it out and get a fresh zero.
    const std::wstring method = c.Method;
    if (method == L"RegisterQrCode" || method == L"Refund") {
      EXPECT_EQ(Device->LastAmount, c.Amount) << what;
    } else if (method != L"UnregisterQrCode") {
      EXPECT_EQ(Device->LastAmount, 0) << what;
    }
  }
}

TEST_F(PaymentMethodsTest, SuccessfulOperationsFillOutDataWithTheirVariantTypes) {
  Bring(dsEnabled);
  Device->ImplementsPayments = true;
  struct Case {
    const wchar_t* Method;
    TVariant InData;
    std::vector<VARTYPE> Types;
    std::vector<std::wstring> Texts;  // strings; numbers by their value below
  } cases[] = {
      {L"RegisterQrCode", Arr({S(L"10"), S(L"d")}), {VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR},
       {L"QR-1", L"https://qr.example/QR-1", L"https://qr.example/img", L"QR-1"}},
      {L"Pay", Arr({S(L"QR-1")}), {VT_CY, VT_BSTR, VT_DATE, VT_BSTR}, {L"", L"P-7", L"", L"Чек"}},
      {L"Refund", Arr({S(L"10"), S(L"O"), S(L"P")}), {VT_BSTR, VT_BSTR}, {L"R-1", L"Возврат"}},
      {L"GetQrCodeStatus", Arr({S(L"QR-1")}), {VT_CY, VT_BSTR, VT_DATE, VT_BSTR, VT_I4}, {L"", L"P-8", L"", L"", L""}},
  };
  for (Case& c : cases) {
    TVariant out = S(L"host's");
    TInvokeResult r = Call(c.Method, c.InData, out);
    const std::string what = Utf16ToUtf8(c.Method);
    ASSERT_TRUE(IsTrue(r)) << what;
    ASSERT_EQ(out.Type(), VT_ARRAY | VT_VARIANT) << what;
    LONG lo = -1, hi = -1;
    ASSERT_TRUE(VariantArrayBounds(out.Get(), 1, lo, hi));
    EXPECT_EQ(lo, 0) << what;
    ASSERT_EQ(hi + 1, static_cast<LONG>(c.Types.size())) << what;
    for (LONG i = 0; i <= hi; ++i) {
      const TVariant item = ItemOf(out, i);
      EXPECT_EQ(item.Type(), c.Types[i]) << what << " element " << i;
      if (item.Type() == VT_BSTR) {
        EXPECT_EQ(Str(item), c.Texts[i]) << what << " element " << i;
      }
    }
  }
  TVariant out;
  ASSERT_TRUE(IsTrue(Call(L"Pay", Arr({S(L"QR-1")}), out)));
  EXPECT_EQ(ItemOf(out, 0).Get().cyVal.int64, 1234500);
  EXPECT_EQ(ItemOf(out, 2).Get().date, 45000.5);
  ASSERT_TRUE(IsTrue(Call(L"GetQrCodeStatus", Arr({S(L"QR-1")}), out)));
  EXPECT_EQ(ItemOf(out, 0).Get().cyVal.int64, 500);
  EXPECT_EQ(ItemOf(out, 2).Get().date, 45001.25);
  EXPECT_EQ(ItemOf(out, 4).Get().lVal, 7);
}

TEST_F(PaymentMethodsTest, UnregisterQrCodeLeavesOutDataEmpty) {
  Bring(dsEnabled);
  Device->ImplementsPayments = true;
  TVariant out = Arr({S(L"left from an earlier call")});
  TInvokeResult r = Call(L"UnregisterQrCode", Arr({S(L"QR-1")}), out);
  EXPECT_TRUE(IsTrue(r));
  EXPECT_TRUE(out.IsEmpty());
}

TEST_F(PaymentMethodsTest, ATypedOutDataReferenceStopsAllButUnregisterQrCodeBeforeTheOperation) {
  // What the help tells integrators: the four methods that answer with an array refuse a typed
  // reference before the bank; UnregisterQrCode goes to the bank, and its failure cannot be
  // written into a string, so the host hears an exception instead of [code, text].
  Bring(dsEnabled);
  Device->ImplementsPayments = true;
  const TVariant inData = Arr({S(L"10"), S(L"2"), S(L"3")});
  for (int32_t code : {0, 1001}) {
    Device->PaymentCode = code;
    for (const wchar_t* method : kMethods) {
      SCOPED_TRACE(Utf16ToUtf8(method) + " code " + std::to_string(code));
      Device->LastInputs.clear();
      BSTR text = SysAllocString(L"host's");
      VARIANT typed;
      VariantInit(&typed);
      typed.vt = VT_BYREF | VT_BSTR;
      typed.pbstrVal = &text;
      TVariant timeOut = TVariant::FromInt(0);
      const TInvokeResult r = InvokeByName(Disp(), method, {ByVal(inData), typed, ByVal(timeOut)});
      const bool unregister = std::wstring(method) == L"UnregisterQrCode";
      EXPECT_EQ(Device->LastInputs.empty(), !unregister) << "whether the operation ran";
      if (unregister && code == 0) {
        EXPECT_EQ(r.Hr, S_OK);
        EXPECT_TRUE(IsTrue(r));
        EXPECT_STREQ(text, L"");
      } else {
        EXPECT_EQ(r.Hr, DISP_E_EXCEPTION);
        EXPECT_STREQ(text, L"host's");
      }
      SysFreeString(text);
    }
  }
}

TEST_F(PaymentMethodsTest, AFailedOperationReportsItsOwnCodeAndText) {
  Bring(dsEnabled);
  Device->ImplementsPayments = true;
  Device->PaymentCode = 1001;
  for (const wchar_t* method : kMethods) {
    TVariant out;
    ExpectError(Call(method, Arr({S(L"10"), S(L"2"), S(L"3")}), out), out, 1001, L"Отказ банка", Utf16ToUtf8(method));
  }
}

TEST_F(PaymentMethodsTest, TimeOutHasNoEffect) {
  Bring(dsEnabled);
  Device->ImplementsPayments = true;
  for (int32_t timeOut : {0, 1, -1, 100000}) {
    TVariant out, t = TVariant::FromInt(timeOut);
    TInvokeResult r = InvokeByName(Disp(), L"Pay", {ByVal(Arr({S(L"Q1"), S(L"O1")})), VariantRefTo(out), ByVal(t)});
    EXPECT_TRUE(IsTrue(r)) << timeOut;
    EXPECT_EQ(CountOf(out), 4) << timeOut;
  }
}

}  // namespace
