// The platform helpers where a fault would hide under the dispatcher: text conversion,
// GUID text, variant conversions and array element access.
#include <gtest/gtest.h>

#include "platform/uExceptions.h"
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
