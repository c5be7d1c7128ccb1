// JSON converter: exact output, the reading rules, error messages, hostile bodies.
#include <gtest/gtest.h>

#include <cfenv>
#include <cfloat>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "kit/BankTestKit.h"
#include "kit/FpuPrecision.h"
#include "uBankStrings.h"
#include "uDeviceCommon.h"
#include "uJsonConverter.h"
#include "uJsonConverterFactory.h"
#include "uSha256.h"
#include "uTextUtils.h"

using namespace bank;

namespace {

struct TItem {
  int32_t A = 0;
  std::string B;
};

struct TBasket {
  std::vector<TItem> Items;
  int64_t Total = 0;
  double Ratio = 0;
};

}  // namespace

namespace bank {
BANK_DECLARE_TYPE(TItem)
BANK_DECLARE_TYPE(TBasket)
BANK_RECORD(TItem, A, B)
BANK_RECORD(TBasket, Items, Total, Ratio)
}  // namespace bank

namespace {

std::string Serialize(const TValue& AValue) {
  TJsonConverterFactory f;
  return f.Serialize(AValue)->Bytes();
}

template <class T>
T Read(const std::string& ABody) {
  TJsonConverterFactory f;
  TStringStream s(ABody);
  return f.DeSerialize<T>(s);
}

Currency Minor(int64_t AUnits) { return Currency::FromRaw(AUnits * Currency::Scale); }

TEST(JsonWriting, RecordsAreWrittenCompactInFieldOrderWithEveryField) {
  TInitRequest init{Minor(10050), "A", "T"};
  EXPECT_EQ(Serialize(TValue::Of(init)), R"({"Amount":10050,"OrderId":"A","TerminalKey":"T"})");

  TInitRequest empty{};
  EXPECT_EQ(Serialize(TValue::Of(empty)), R"({"Amount":0,"OrderId":"","TerminalKey":""})");

  // 12.345 currency units in minor units.
  TInitRequest fractional{Currency::FromDouble(12.345) * 100, "A", "T"};
  EXPECT_EQ(Serialize(TValue::Of(fractional)), R"({"Amount":1234.5,"OrderId":"A","TerminalKey":"T"})");

  TCancelQrRequest cancel{"12/я", "Терминал", "ab"};
  EXPECT_EQ(Serialize(TValue::Of(cancel)),
            R"({"PaymentId":"12\/\u044F","TerminalKey":"\u0422\u0435\u0440\u043C\u0438\u043D\u0430\u043B","Token":"ab"})");

  TBasket basket{{{1, "x"}, {-2, ""}}, -9000000000, 0.25};
  EXPECT_EQ(Serialize(TValue::Of(basket)),
            R"({"Items":[{"A":1,"B":"x"},{"A":-2,"B":""}],"Total":-9000000000,"Ratio":0.25})");
}

TEST(JsonWriting, StringEscapingIsPureAscii) {
  struct TCase {
    std::string In, Out;
  };
  const std::vector<TCase> cases = {
      {"\b\t\n\f\r\"/\\", R"("\b\t\n\f\r\"\/\\")"},
      {std::string("a\0b", 3), R"("a\u0000b")"},
      {"\x01\x1F \x7F", "\"\\u0001\\u001F \x7F\""},  // DEL (127) stays as it is
      {"\xC2\x80", R"("\u0080")"},
      {"€", R"("\u20AC")"},
      {"\xF0\x9F\x98\x80", R"("\uD83D\uDE00")"},  // beyond U+FFFF: a surrogate pair
      {"a\xFF" "b", R"("a\uFFFDb")"},              // invalid UTF-8 never leaks into the output
      {"\xED\xA0\x80", R"("\uFFFD\uFFFD\uFFFD")"},  // encoded surrogate is invalid UTF-8
  };
  for (const auto& c : cases) {
    std::string out;
    AppendJSONString(out, c.In);
    EXPECT_EQ(out, c.Out) << c.In;
  }
}

TEST(JsonWriting, NumbersAreLocaleFreeGeneralNotation) {
  struct TCase {
    double In;
    const char* Out;
  };
  for (const auto& c : std::vector<TCase>{{10050, "10050"},
                                          {100.5, "100.5"},
                                          {-3, "-3"},
                                          {0.1 + 0.2, "0.3"},
                                          {-0.0, "0"},
                                          {123456789012345678.0, "1.23456789012346E17"},
                                          {1.5e-7, "1.5E-7"}}) {
    double v = c.In;
    EXPECT_EQ(TJsonConverter::ValueToJson(TValue::Of(v))->ToJSON(), c.Out) << c.In;
  }
}

TEST(JsonWriting, UnsupportedKindsFail) {
  TTypeInfo set;
  set.Kind = TTypeKind::tkSet;
  TTypeInfo colour;  // an enumeration that is not Boolean
  colour.Kind = TTypeKind::tkEnumeration;
  int dummy = 0;
  OleVariant variant{"x"};
  double nan = std::numeric_limits<double>::quiet_NaN();

  EXPECT_EQ(Failure([&] { TJsonConverter::ValueToJson(TValue{&set, &dummy}); }),
            "Exception: Cannot convert tkSet to TJSONValue");
  EXPECT_EQ(Failure([&] { TJsonConverter::ValueToJson(TValue::Of(variant)); }),
            "Exception: Cannot convert tkVariant to TJSONValue");
  EXPECT_EQ(Failure([&] { TJsonConverter::ValueToJson(TValue{&colour, &dummy}); }),
            "EInvalidCast: Invalid class typecast");
  // JSON has no NaN: writing one would produce a body the bank cannot parse.
  EXPECT_EQ(Failure([&] { TJsonConverter::ValueToJson(TValue::Of(nan)); }),
            "EConvertError: Invalid floating point value");
}

TEST(JsonReading, MembersMapToFieldsByTheRules) {
  struct TCase {
    std::string Body;
    bool Success;
    int32_t ErrorCode;
    int64_t AmountRaw;
    std::string Status;
    std::string Message;
  };
  const std::vector<TCase> cases = {
      {R"({"errorcode":"7","SUCCESS":true})", true, 7, 0, "", ""},
      {R"({"ErrorCode":"abc"})", false, 0, 0, "", ""},
      {R"({"ErrorCode":" 7 "})", false, 7, 0, "", ""},
      {R"({"ErrorCode":-7})", false, -7, 0, "", ""},
      {R"({"ErrorCode":7.0})", false, 0, 0, "", ""},
      {R"({"ErrorCode":2147483648})", false, 0, 0, "", ""},  // beyond 32 bits: not an integer
      {R"({"ErrorCode":true})", false, 0, 0, "", ""},
      {R"({"Success":"1"})", true, 0, 0, "", ""},
      {R"({"Success":"yes"})", false, 0, 0, "", ""},
      {R"({"Success":" tRUe "})", true, 0, 0, "", ""},
      {R"({"Success":0})", false, 0, 0, "", ""},
      {R"({"Success":"-0.5"})", true, 0, 0, "", ""},
      {R"({"Amount":10050})", false, 0, 100500000, "", ""},
      {R"({"Amount":"10050"})", false, 0, 100500000, "", ""},
      {R"({"Amount":"100,5"})", false, 0, 1005000, "", ""},
      {R"({"Amount":"100.5"})", false, 0, 1005000, "", ""},
      {R"({"Amount":1.00005E2})", false, 0, 1000050, "", ""},
      {R"({"Amount":"1.000,5"})", false, 0, 0, "", ""},
      {R"({"ErrorCode":123456789012345678901234567890})", false, 0, 0, "", ""},
      {R"({"Amount":"inf"})", false, 0, 0, "", ""},
      {R"({"Status":null})", false, 0, 0, "", ""},
      {R"({"Status":"A","Other":{"deep":[1,{"x":2}]},"status":"B"})", false, 0, 0, "B", ""},
      {R"({"Message":123.50})", false, 0, 0, "", "123.50"},  // number text as written
      {R"({"Message":false})", false, 0, 0, "", "false"},
      {R"({"Message":"\u0422\/x"})", false, 0, 0, "", "Т/x"},
      {"{\"Message\":\"a\xFF" "b\"}", false, 0, 0, "", "a\xEF\xBF\xBD" "b"},  // decoded as UTF-8 reads it
      {R"({"Message":"a\u0000b"})", false, 0, 0, "", std::string("a\0b", 3)},
      {" \r\n\t{ } ", false, 0, 0, "", ""},
      // Valid numbers beyond the range of a double keep their text; as a number they read as 0.
      {R"({"Amount":1e400,"Success":true})", true, 0, 0, "", ""},
      {R"({"Amount":-1E+400,"ErrorCode":1e999999999999})", false, 0, 0, "", ""},
      {R"({"Message":)" + std::string(400, '9') + "}", false, 0, 0, "", std::string(400, '9')},
      {R"({"Other":[1e400,{"x":-2e308}],"Message":"1e400 \"2e400\"","Status":"S"})", false, 0, 0, "S",
       "1e400 \"2e400\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Body);
    TInitResponse r;
    ASSERT_NO_THROW(r = Read<TInitResponse>(c.Body));
    EXPECT_EQ(r.Success, c.Success);
    EXPECT_EQ(r.ErrorCode, c.ErrorCode);
    EXPECT_EQ(r.Amount.Raw, c.AmountRaw);
    EXPECT_EQ(r.Status, c.Status);
    EXPECT_EQ(r.Message, c.Message);
  }
}

TEST(JsonReading, BadShapesAndBodiesFailWithTheirMessages) {
  const std::string notFound = "EJSONException: Value '' not found";
  const std::string arrayToText = "EJSONException: Conversion from TJSONArray to string is not supported";
  const auto nested = [](size_t ADepth) { return std::string(ADepth, '[') + std::string(ADepth, ']'); };
  // An array holding AElements zeros: AElements + 1 nodes.
  const auto flat = [](size_t AElements) {
    std::string s = "[0";
    for (size_t i = 1; i < AElements; ++i) s += ",0";
    return s + "]";
  };
  constexpr size_t maxDepth = TJSONDocument::MaxParseDepth, maxNodes = TJSONDocument::MaxParseNodes;
  struct TCase {
    std::string Body, Expected;
  };
  const std::vector<TCase> cases = {
      {R"({"Message":{}})", "EJSONException: Conversion from TJSONObject to string is not supported"},
      {R"({"Message":[1]})", "EJSONException: Conversion from TJSONArray to string is not supported"},
      {"[]", "EJSONException: Conversion from TJSONArray to string is not supported"},
      {"\"text\"", "EConvertError: Cannot convert OleVariant to tkRecord"},
      {"null", "EConvertError: Cannot convert OleVariant to tkRecord"},
      {R"({"Amount":"1e300"})", "EInvalidCast: Invalid class typecast"},  // no currency holds it
      {"", notFound},
      {"   ", notFound},
      {"<html><body>502 Bad Gateway</body></html>", notFound},
      {R"({"ErrorCode":0)", notFound},
      {R"({"ErrorCode":0} {})", notFound},
      {R"({"ErrorCode":01})", notFound},
      {R"({"Message":"a)" "\x01" R"("})", notFound},  // raw control character inside a string
      {std::string("{}\0{}", 5), notFound},         // NUL byte after a complete value
      {R"({"Message":"\uD800"})", notFound},         // lone surrogate escape
      {"\xEF\xBB\xBF{}", notFound},                  // byte order mark is not JSON
      // Within the parse limits a body is a document; past them it is refused like malformed text.
      {nested(maxDepth), arrayToText},
      {R"({"Message":)" + nested(maxDepth - 1) + "}", arrayToText},
      {nested(maxDepth + 1), notFound},
      {R"({"Message":)" + nested(maxDepth) + "}", notFound},
      {nested(50000), notFound},
      {flat(maxNodes - 1), arrayToText},
      {flat(maxNodes), notFound},
      {std::string(MaxResponseSize, '['), notFound},
      {std::string(100000, '['), notFound},
      {std::string(100000, '{'), notFound},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Body.substr(0, 60));
    EXPECT_EQ(Failure([&] { Read<TInitResponse>(c.Body); }), c.Expected);
  }
}

TEST(JsonReading, CurrencyRangeIsCheckedBeforeScaling) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  struct TCase {
    double In;
    bool Fits;
  };
  for (const auto& c : std::vector<TCase>{{100.5, true},
                                          {922337203685477.5, true},
                                          {-922337203685477.5, true},
                                          {922337203685477.625, false},  // the next double up
                                          {-922337203685477.625, false},
                                          {1e305, false},
                                          {-1e305, false},
                                          {std::numeric_limits<double>::max(), false},
                                          {inf, false},
                                          {-inf, false},
                                          {std::numeric_limits<double>::quiet_NaN(), false}}) {
    SCOPED_TRACE(c.In);
    std::feclearexcept(FE_ALL_EXCEPT);
    if (c.Fits) {
      EXPECT_NO_THROW(Currency::FromDouble(c.In));
    } else {
      EXPECT_THROW(Currency::FromDouble(c.In), EInvalidCast);
    }
    // A host may unmask these: raising them would be a hardware exception there.
    EXPECT_EQ(std::fetestexcept(FE_OVERFLOW | FE_INVALID), 0);
  }
}

TEST(JsonReading, FailureLeavesNoPartialValue) {
  TJsonConverterFactory f;
  TStringStream s(R"({"ErrorCode":5,"Message":{}})");
  TInitResponse r;
  r.Status = "stale";
  EXPECT_THROW(f.DeSerialize(s, TypeInfoOf<TInitResponse>(), &r), EJSONException);
  EXPECT_EQ(r.ErrorCode, 0);
  EXPECT_EQ(r.Status, "");
}

TEST(JsonReading, ArraysOfRecordsAndOtherKinds) {
  const auto b = Read<TBasket>(R"({"items":[{"a":"1","b":"x"},{"A":2},{}],"Total":" -9000000000 ",)"
                               R"("Ratio":"0,25"})");
  ASSERT_EQ(b.Items.size(), 3u);
  EXPECT_EQ(b.Items[0].A, 1);
  EXPECT_EQ(b.Items[0].B, "x");
  EXPECT_EQ(b.Items[1].A, 2);
  EXPECT_EQ(b.Items[2].A, 0);
  EXPECT_EQ(b.Total, -9000000000);
  EXPECT_EQ(b.Ratio, 0.25);

  EXPECT_TRUE(Read<TBasket>(R"({"Items":[]})").Items.empty());
  EXPECT_EQ(Failure([] { Read<TBasket>(R"({"Items":"x"})"); }),
            "EConvertError: Cannot convert OleVariant to tkDynArray");
  EXPECT_EQ(Failure([] { Read<TBasket>(R"({"Items":{}})"); }),
            "EJSONException: Conversion from TJSONObject to string is not supported");
  EXPECT_EQ(Failure([] { Read<TBasket>(R"({"Items":[[1]]})"); }),
            "EJSONException: Conversion from TJSONArray to string is not supported");
}

TEST(JsonReading, TypeDescriptionsAndOtherKinds) {
  const auto doc = TJSONDocument::Parse(R"("x")");
  int dummy = 0;
  TTypeInfo set;
  set.Kind = TTypeKind::tkSet;
  TTypeInfo colour;
  colour.Kind = TTypeKind::tkEnumeration;
  EXPECT_EQ(Failure([&] { TJsonConverter::JsonToValue(doc.get(), nullptr, &dummy); }),
            "Exception: TJsonConverterFactory: Ошибка получения типа из TypeInfo");
  EXPECT_EQ(Failure([&] { TJsonConverter::JsonToValue(doc.get(), &set, &dummy); }),
            "EConvertError: Cannot convert OleVariant to tkSet");
  EXPECT_EQ(Failure([&] { TJsonConverter::JsonToValue(doc.get(), &colour, &dummy); }),
            "EInvalidCast: Invalid class typecast");
  std::string text = "stale";
  EXPECT_EQ(Failure([&] { TJsonConverter::JsonToValue(nullptr, TypeInfoOf<std::string>(), &text); }),
            "EJSONException: Value '' not found");
  // A variant takes the text as a text variant.
  EXPECT_EQ(TJsonConverter::JsonToValue<OleVariant>(TJSONDocument::Parse("12.0").get()).Text, "12.0");
}

TEST(JsonDocument, CompactWriterKeepsNumberTextAndNestingUpToTheLimit) {
  const auto doc = TJSONDocument::Parse(" { \"a\" : [ 1 , -2.50e3 , true , false , null , \"x/\" ] , \"b\" : { } } ");
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(doc->ToJSON(), R"({"a":[1,-2.50e3,true,false,null,"x\/"],"b":{}})");

  const auto deep = [](size_t AArrays) {
    return std::string(AArrays, '[') + "{\"k\":1}" + std::string(AArrays, ']');
  };
  const std::string limit = deep(TJSONDocument::MaxParseDepth - 1);
  const auto deepDoc = TJSONDocument::Parse(limit);
  ASSERT_NE(deepDoc, nullptr);
  EXPECT_EQ(deepDoc->ToJSON(), limit);
  // Hostile nesting: no document, and neither a crash nor a raise.
  EXPECT_EQ(TJSONDocument::Parse(deep(TJSONDocument::MaxParseDepth)), nullptr);
  EXPECT_EQ(TJSONDocument::Parse(deep(100000)), nullptr);
}

TEST(JsonDocument, NumbersBeyondDoubleKeepTheirTextAndMalformedOnesStillFail) {
  const std::string kept = R"({"a":[1e400,-12345678901234567890123,2,0.5e-400],"b":"9e999","c":1E+309,"d":-0})";
  const auto doc = TJSONDocument::Parse(kept);
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->ToJSON(), kept);
  for (const char* bad : {"[1e400.5]", "[01e400]", "[1e400e1]", "[-1e]", "[1e400,]", "{\"a\":1e400"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(TJSONDocument::Parse(bad));
  }
}

TEST(CurrencyRounding, OneTieRuleWhateverTheFloatingPointRoundingMode) {
  struct TCase {
    double In;
    int64_t Raw;
  };
  // 0.03125 and 0.15625 are exact binary ties at the fourth decimal: half away from zero
  // (half to even would give 312 and 1562).
  const std::vector<TCase> cases = {{0.03125, 313},        {-0.03125, -313},       {0.15625, 1563},
                                    {-0.15625, -1563},     {100.5, 1005000},       {0.1, 1000},
                                    {-0.1, -1000},         {0.00045, 4},  // 0.000449999... in binary: below the tie
                                    {2.675, 26750},        {1e-300, 0},            {-4.9e-324, 0},
                                    {922337203685477.5, 9223372036854775000}};
  const int saved = std::fegetround();
  for (const int mode : {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
    ASSERT_EQ(std::fesetround(mode), 0);
    for (const auto& c : cases) {
      SCOPED_TRACE(std::to_string(mode) + " " + std::to_string(c.In));
      EXPECT_EQ(Currency::FromDouble(c.In).Raw, c.Raw);
    }
    // The division path (minor units to currency) uses the same rule.
    EXPECT_EQ((Currency::FromRaw(125) / 10).Raw, 13);
    EXPECT_EQ((Currency::FromRaw(-125) / 10).Raw, -13);
    EXPECT_EQ((Currency::FromRaw(135) / 10).Raw, 14);
  }
  std::fesetround(saved);
}

// ---------------------------------------------------------------------------------------------
// Amounts as text, in integers

// How amounts became text and text amounts while they went through a double: the reference.
std::string TextViaDouble(int64_t ARaw) { return FloatToText(static_cast<double>(ARaw) / Currency::Scale); }
// nullopt: the amount is out of Currency's range.
std::optional<int64_t> AmountViaDouble(const std::string& AText) {
  try {
    return Currency::FromDouble(ParseFloat(AText).value_or(0.0)).Raw;
  } catch (const EInvalidCast&) {
    return std::nullopt;
  }
}

// The reference holds only where doubles are computed in double precision; the x87 unit (i686)
// rounds at the precision its thread chose.
constexpr bool DoublesAreDoubles = FLT_EVAL_METHOD == 0;

struct TAmountText {
  int64_t Raw;
  const char* Text;
};
const TAmountText AmountTexts[] = {
    {0, "0"},
    {1, "0.0001"},
    {-1, "-0.0001"},
    {100, "0.01"},
    {-100, "-0.01"},
    {5000, "0.5"},
    {12345, "1.2345"},
    {11250, "1.125"},
    {10625, "1.0625"},
    {10000, "1"},
    {1000000, "100"},
    {1234567, "123.4567"},
    {2000000100, "200000.01"},
    {-2000000100, "-200000.01"},
    {167772170100, "16777217.01"},
    {999999999900, "99999999.99"},
    {9999999999900, "999999999.99"},
    {200000010000, "20000001"},  // 200000.01 in minor units
    {16777217010000, "1677721701"},
    {999999999999999, "99999999999.9999"},  // 15 digits: every one shown
    {-999999999999999, "-99999999999.9999"},
    // From 16 digits on, the double's 15 significant digits: the last one rounded the way the
    // double lies from the exact amount (.0015 lies below), an exact tie to even (.0625).
    {1000000000000000, "100000000000"},
    {1000000000000005, "100000000000.001"},
    {1000000000000015, "100000000000.001"},
    {1000000000000625, "100000000000.062"},
    {9999999999999995, "1000000000000"},
    {9007199254740993, "900719925474.099"},  // 2^53 + 1: the count itself rounded first
    {9007199254740995, "900719925474.1"},
    {9007199254740990000, "900719925474099"},
    {INT64_MAX, "922337203685478"},
    {INT64_MIN, "-922337203685478"},
};

TEST(AmountText, AmountsAreWrittenWithTheDigitsTheirDoubleHad) {
  // On a host thread whose FPU runs at 24 bits (i686) as well: the text is made of integers.
  AtEachFpuPrecision([&](bool) {
    for (const TAmountText& c : AmountTexts) {
      SCOPED_TRACE(c.Raw);
      EXPECT_EQ(CurrencyToJSONText(Currency::FromRaw(c.Raw)), c.Text);
    }
    // The body and the token carry the same text.
    const TCancelRequest cancel{Currency::FromRaw(200000010000), "P", "T", ""};
    EXPECT_EQ(Serialize(TValue::Of(cancel)), R"({"Amount":20000001,"PaymentId":"P","TerminalKey":"T","Token":""})");
    EXPECT_EQ(MakeToken(cancel, "pw"), Sha256Hex("20000001pwPT"));
  });
}

TEST(AmountText, IntegerTextIsTheDoublesTextForEveryAmount) {
  if (!DoublesAreDoubles) GTEST_SKIP() << "the double reference needs double-precision arithmetic";
  for (const TAmountText& c : AmountTexts) EXPECT_EQ(TextViaDouble(c.Raw), c.Text) << c.Raw;

  std::vector<int64_t> raws = {INT64_MIN, INT64_MIN + 1};
  // Where rounding starts (10^15), where the count is rounded before the division (2^53), the top.
  for (const int64_t edge : {int64_t{1000000000000000}, int64_t{1} << 53, INT64_MAX - 2000})
    for (int64_t d = -2000; d <= 2000; ++d) raws.push_back(edge + d);
  std::mt19937_64 random(20240229);
  for (int i = 0; i < 200000; ++i) {
    // Every magnitude alike.
    const auto any = static_cast<int64_t>(random() >> (1 + random() % 63));
    raws.push_back(i % 2 ? -any : any);
    // 16 to 19 digits whose dropped digits are a tie: decided by where the double lies.
    const int dropped = 1 + static_cast<int>(random() % 4);
    uint64_t unit = 1;
    for (int k = 0; k < dropped; ++k) unit *= 10;
    const uint64_t top = dropped == 4 ? uint64_t{INT64_MAX} : unit * 1000000000000000;
    const uint64_t digits = unit * 100000000000000 + random() % (top - unit * 100000000000000);
    raws.push_back(static_cast<int64_t>(digits - digits % unit + unit / 2));
  }
  int failures = 0;
  for (const int64_t raw : raws) {
    const std::string text = TenThousandthsToText(raw), reference = TextViaDouble(raw);
    if (text != reference) {
      ADD_FAILURE() << raw << ": " << text << " instead of " << reference;
      if (++failures == 10) break;
    }
  }
}

TEST(AmountText, BankAmountsAreReadInIntegers) {
  struct TCase {
    std::string Text;
    int64_t Raw;
    bool Integers;  // read without a double
  };
  const TCase cases[] = {
      {"20000001", 200000010000, true},
      {"200000.01", 2000000100, true},
      {"1677721701", 16777217010000, true},
      {"999999999.99", 9999999999900, true},
      {"-0.01", -100, true},
      {"+.5e1", 50000, true},
      {"1.5e-2", 150, true},
      {"12e3", 120000000, true},
      {"1.00000", 10000, true},
      {"900719925474099", 9007199254740990000, true},
      {"922337203685477", 9223372036854770000, true},  // the largest whole number Currency holds
      {"-0", 0, true},
      // Beyond four decimals the double decides, as it always did: 0.00005 lies a little above
      // the tie in binary, 0.00015 a little below.
      {"0.00005", 1, false},
      {"0.00015", 1, false},
      {"1e-5", 0, false},
      {"abc", 0, false},
      {"", 0, false},
  };
  AtEachFpuPrecision([&](bool reduced) {
    for (const TCase& c : cases) {
      if (reduced && !c.Integers) continue;
      SCOPED_TRACE(c.Text);
      EXPECT_EQ(Read<TStateResponse>(R"({"Amount":")" + c.Text + R"("})").Amount.Raw, c.Raw);
      EXPECT_EQ(ParseTenThousandths(c.Text).has_value(), c.Integers);
    }
    EXPECT_EQ(Failure([] { Read<TStateResponse>(R"({"Amount":922337203685478})"); }),
              "EInvalidCast: Invalid class typecast");
  });
}

TEST(AmountText, AmountsReadInIntegersAreWhatTheDoubleGave) {
  if (!DoublesAreDoubles) GTEST_SKIP() << "the double reference needs double-precision arithmetic";
  std::vector<std::string> texts = {"5.", ".5", "-.5", "+5", "0", "00.000", "0e99999", "1e99999", "1e-99999",
                                    "922337203685478", "-922337203685478", "9.22337203685477e14", "1e14", "1e15",
                                    "1e18", "1e19", "1e400", "123456789012345678", "1234567890123456789",
                                    "0.0001", "0.00001", "450359962737.0495", "450359962737.0496",
                                    "00000000000000000000000000012.5", "1.000000000000000000000", ".", "-", "+",
                                    "1e", "e5", "1.2.3", "1,5", " 1", "1 ", "--1", "+-1", "0x10", "1e+", "1e-"};
  std::mt19937_64 random(20240301);
  const char digits[] = "0123456789";
  for (int i = 0; i < 200000; ++i) {
    std::string t;
    const int sign = static_cast<int>(random() % 3);
    if (sign) t += sign == 1 ? '-' : '+';
    for (int k = static_cast<int>(random() % 17); k > 0; --k) t += digits[random() % 10];
    if (random() % 2) {
      t += '.';
      for (int k = static_cast<int>(random() % 7); k > 0; --k) t += digits[random() % 10];
    }
    if (random() % 4 == 0) {
      t += random() % 2 ? 'e' : 'E';
      const int esign = static_cast<int>(random() % 3);
      if (esign) t += esign == 1 ? '-' : '+';
      t += std::to_string(random() % 21);
    }
    texts.push_back(t);
  }
  size_t integers = 0;
  int failures = 0;
  for (const std::string& t : texts) {
    std::optional<int64_t> raw;
    bool outOfRange = false;
    try {
      raw = ParseTenThousandths(t);
    } catch (const EInvalidCast&) {
      outOfRange = true;
    }
    if (!raw && !outOfRange) continue;  // the double decides, as before
    ++integers;
    const std::optional<int64_t> reference = AmountViaDouble(t);
    if (outOfRange ? reference.has_value() : reference != raw) {
      ADD_FAILURE() << "'" << t << "': " << (outOfRange ? "out of range" : std::to_string(*raw)) << " instead of "
                    << (reference ? std::to_string(*reference) : "out of range");
      if (++failures == 10) break;
    }
  }
  // Most amounts a bank sends never meet a double.
  EXPECT_GT(integers, texts.size() / 2);
}

TEST(JsonDocument, OversizedBodyIsRefused) {
  TJsonConverterFactory f;
  TStringStream s(std::string(MaxResponseSize + 1, ' '));
  EXPECT_EQ(Failure([&] { f.DeSerialize<TInitResponse>(s); }),
            std::string("EHTTPBridgeException: ") + SResponseTooLarge);
}

}  // namespace
