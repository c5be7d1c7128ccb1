// The platform helpers where a fault would hide under the dispatcher: text conversion,
// GUID text, variant conversions, amounts as text and array element access.
#include <gtest/gtest.h>

#include <cfloat>
#include <optional>
#include <random>

#include "kit/FpuPrecision.h"
#include "platform/uExceptions.h"
#include "platform/uLocale.h"
#include "platform/uSafeArray.h"
#include "platform/uStrings.h"
#include "platform/uVariant.h"

namespace {

TEST(Strings, Utf8RoundTripIncludingSurrogatePairs) {
  const std::wstring text = L"Оплата / \U0001F600 \"x\"";
  const std::string utf8 = Utf16ToUtf8(text);
  EXPECT_EQ(utf8, "\xD0\x9E\xD0\xBF\xD0\xBB\xD0\xB0\xD1\x82\xD0\xB0 / \xF0\x9F\x98\x80 \"x\"");
  EXPECT_EQ(Utf8ToUtf16(utf8), text);
  EXPECT_EQ(Utf16ToUtf8(L""), "");
}

TEST(Strings, AsciiOnlyCaseFolding) {
  EXPECT_TRUE(AsciiSameText(L"RegisterQrCode", L"REGISTERQRCODE"));
  EXPECT_FALSE(AsciiSameText(L"Оплата", L"оплата"));
  EXPECT_FALSE(AsciiSameText(L"a", L"ab"));
  EXPECT_FALSE(AsciiSameText(L"[", L"{"));  // 0x5B and 0x7B differ by 32 but are not letters
}

TEST(Strings, GuidText) {
  const GUID g = {0x0123abcd, 0x4567, 0x89ef, {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef}};
  EXPECT_EQ(GuidToText(g), L"{0123ABCD-4567-89EF-0123-456789ABCDEF}");
  EXPECT_NE(NewGuidText(), NewGuidText());
}

TEST(Variants, StandardConversions) {
  EXPECT_FALSE(VariantToBool(TVariant().Get()));
  EXPECT_EQ(VariantToInt(TVariant().Get()), 0);
  EXPECT_EQ(VariantToString(TVariant().Get()), L"");
  EXPECT_EQ(VariantToInt(TVariant::FromString(L"12").Get()), 12);
  EXPECT_EQ(VariantToString(TVariant::FromBool(true).Get()), L"True");
  EXPECT_TRUE(VariantToBool(TVariant::FromString(L"True").Get()));
  EXPECT_EQ(VariantToCurrency(TVariant::FromInt(3).Get()), 30000);
  for (const TVariant& bad : {TVariant::Null(), TVariant::FromString(L"abc")}) {
    try {
      VariantToInt(bad.Get());
      ADD_FAILURE() << "no conversion error";
    } catch (const EVariantTypeCastError& e) {
      EXPECT_NE(e.Message().find(L"Could not convert variant of type ("), std::wstring::npos);
    }
  }
}

TEST(Variants, CyclicReferenceChainStops) {
  VARIANT a, b;
  a.vt = VT_BYREF | VT_VARIANT;
  b.vt = VT_BYREF | VT_VARIANT;
  a.pvarVal = &b;
  b.pvarVal = &a;
  const VARIANT* end = InnermostVariant(&a);
  EXPECT_TRUE(end == &a || end == &b);
  EXPECT_FALSE(IsOrdinalVariant(a));
}

// Amounts on a host thread whose FPU runs at 24 bits (i686 computes doubles on the x87 unit at
// the thread's precision): the debug log's text of a VT_CY is made of integers, and the system's
// conversion of a text or a decimal to currency runs at full precision, the host's state kept.
TEST(Amounts, KeepEveryDigitWhateverTheHostThreadsFpuPrecision) {
  const std::wstring sep = UserDecimalSeparator();
  struct TText {
    int64_t Raw;
    std::wstring Text;
  };
  const TText texts[] = {
      {0, L"0"},
      {1, L"0" + sep + L"0001"},
      {-100, L"-0" + sep + L"01"},
      {2000000100, L"200000" + sep + L"01"},
      {167772170100, L"16777217" + sep + L"01"},
      {9999999999900, L"999999999" + sep + L"99"},
      {200000010000, L"20000001"},
      {999999999999999, L"99999999999" + sep + L"9999"},
      {1000000000000015, L"100000000000" + sep + L"001"},  // from 16 digits on, the double's 15
      {1000000000000625, L"100000000000" + sep + L"062"},
      {9007199254740993, L"900719925474" + sep + L"099"},
      {INT64_MAX, L"922337203685478"},
      {INT64_MIN, L"-922337203685478"},
  };
  AtEachFpuPrecision([&](bool reduced) {
    for (const TText& c : texts) EXPECT_EQ(CurrencyToText(c.Raw), c.Text) << c.Raw;
    for (const int64_t raw : {int64_t{2000000100}, int64_t{167772170100}, int64_t{999999999900}}) {
      SCOPED_TRACE(raw);
      EXPECT_EQ(VariantToCurrency(TVariant::FromString(CurrencyToText(raw)).Get()), raw);
      VARIANT decimal;
      VariantInit(&decimal);
      decimal.decVal.scale = 2;
      decimal.decVal.sign = 0;
      decimal.decVal.Hi32 = 0;
      decimal.decVal.Lo64 = static_cast<ULONGLONG>(raw / 100);
      decimal.vt = VT_DECIMAL;
      EXPECT_EQ(VariantToCurrency(decimal), raw);
    }
    // The host's precision is back after the conversion.
    EXPECT_EQ(TReducedFpuPrecision::Took(), reduced);
  });
}

TEST(Amounts, CurrencyTextIsTheTextOfItsDouble) {
  if (FLT_EVAL_METHOD != 0) GTEST_SKIP() << "the double reference needs double-precision arithmetic";
  std::vector<int64_t> raws = {INT64_MIN, INT64_MAX};
  for (const int64_t edge : {int64_t{1000000000000000}, int64_t{1} << 53, INT64_MAX - 1000})
    for (int64_t d = -1000; d <= 1000; ++d) raws.push_back(edge + d);
  std::mt19937_64 random(20240302);
  for (int i = 0; i < 100000; ++i) {
    const auto any = static_cast<int64_t>(random() >> (1 + random() % 63));
    raws.push_back(i % 2 ? -any : any);
    // Dropped digits that are a tie at the 15th.
    const uint64_t digits = 1000000000000000 + random() % (uint64_t{INT64_MAX} - 1000000000000000);
    uint64_t unit = 10;
    while (digits / unit >= 1000000000000000) unit *= 10;
    raws.push_back(static_cast<int64_t>(digits - digits % unit + unit / 2));
  }
  int failures = 0;
  for (const int64_t raw : raws) {
    const std::wstring text = CurrencyToText(raw), reference = FloatToText(static_cast<double>(raw) / 10000.0);
    if (text != reference) {
      ADD_FAILURE() << raw << ": " << Utf16ToUtf8(text) << " instead of " << Utf16ToUtf8(reference);
      if (++failures == 10) break;
    }
  }
}

TEST(SafeArrays, ArraysMadeOfTakenItemsAndOfTheArguments) {
  // Taken over: the items are left Empty and the array holds what they held.
  TVariant items[] = {TVariant::FromString(L"one"), TVariant::FromInt(2), TVariant()};
  const BSTR text = items[0].Get().bstrVal;
  TVariant taken = TakeVariantArray(items);
  for (const TVariant& item : items) EXPECT_TRUE(item.IsEmpty());
  LONG lo = -1, hi = -1;
  ASSERT_TRUE(VariantArrayBounds(taken.Get(), 1, lo, hi));
  EXPECT_EQ(lo, 0);
  EXPECT_EQ(hi, 2);
  LONG first = 0, second = 1, third = 2;
  VARIANT* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(taken.Get().parray, reinterpret_cast<void**>(&data)), S_OK);
  EXPECT_EQ(data[0].bstrVal, text);  // the very string, not a copy of it
  SafeArrayUnaccessData(taken.Get().parray);
  EXPECT_EQ(VariantToString(SafeArrayItem(taken.Get().parray, &first).Get()), L"one");
  EXPECT_EQ(SafeArrayItem(taken.Get().parray, &second).Get().lVal, 2);
  EXPECT_EQ(SafeArrayItem(taken.Get().parray, &third).Type(), VT_EMPTY);
  TVariant none[1];
  TVariant empty = TakeVariantArray(none, 0);
  ASSERT_TRUE(VariantArrayBounds(empty.Get(), 1, lo, hi));
  EXPECT_EQ(hi - lo + 1, 0);

  // An argument array as a SAFEARRAY is a copy: changing one leaves the other as it was.
  TVariantArray args(2);
  args.PutItem(0, TVariant::FromString(L"arg").Get());
  TVariant whole = args.AsVariant();
  args.PutItem(0, TVariant::FromString(L"changed").Get());
  ASSERT_TRUE(VariantArrayBounds(whole.Get(), 1, lo, hi));
  EXPECT_EQ(hi - lo + 1, 2);
  EXPECT_EQ(VariantToString(SafeArrayItem(whole.Get().parray, &first).Get()), L"arg");
  EXPECT_EQ(SafeArrayItem(whole.Get().parray, &second).Type(), VT_EMPTY);
  EXPECT_EQ(VariantToString(args.GetItem(0).Get()), L"changed");
}

TEST(SafeArrays, CheckedAccessAndTypedElements) {
  TVariantArray args(2);
  args.PutItem(1, TVariant::FromInt(5).Get());
  EXPECT_EQ(args.GetItem(1).Get().lVal, 5);
  EXPECT_EQ(args.GetItem(0).Type(), VT_EMPTY);
  try {
    args.GetItem(2);
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), L"Wrong index!");
  }
  try {
    args.PutItem(-1, TVariant().Get());
    ADD_FAILURE();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), L"invalid index");
  }

  // A typed array (not of VARIANT) reads element by element as variants.
  SAFEARRAY* sa = SafeArrayCreateVector(VT_BSTR, 1, 2);
  LONG i = 2;
  BSTR s = SysAllocString(L"second");
  ASSERT_EQ(SafeArrayPutElement(sa, &i, s), S_OK);
  SysFreeString(s);
  VARIANT v;
  v.vt = VT_ARRAY | VT_BSTR;
  v.parray = sa;
  TVariant owned = TVariant::Take(v);
  LONG lo = 0, hi = 0;
  ASSERT_TRUE(VariantArrayBounds(owned.Get(), 1, lo, hi));
  EXPECT_EQ(lo, 1);
  EXPECT_EQ(hi, 2);
  EXPECT_FALSE(VariantArrayBounds(owned.Get(), 2, lo, hi));
  TVariant item = SafeArrayItem(sa, &i);
  EXPECT_EQ(item.Type(), VT_BSTR);
  EXPECT_EQ(VariantToString(item.Get()), L"second");
  LONG outside = 0;
  EXPECT_THROW(SafeArrayItem(sa, &outside), Exception);

  // The list form takes exactly one index per dimension, whatever shape the array came in.
  SAFEARRAYBOUND bounds[3] = {{1, 0}, {1, 0}, {1, 0}};
  VARIANT c;
  VariantInit(&c);
  c.vt = VT_ARRAY | VT_VARIANT;
  c.parray = SafeArrayCreate(VT_VARIANT, 3, bounds);
  TVariant cube = TVariant::Take(c);
  EXPECT_EQ(SafeArrayItem(cube.Get().parray, {0, 0, 0}).Type(), VT_EMPTY);
  for (std::initializer_list<LONG> wrong : {std::initializer_list<LONG>{0, 0}, std::initializer_list<LONG>{0, 0, 0, 0}}) {
    try {
      SafeArrayItem(cube.Get().parray, wrong);
      ADD_FAILURE() << wrong.size() << " indices";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), L"Wrong index!");
    }
  }
}

}  // namespace
