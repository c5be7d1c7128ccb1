// The setting registry: declaration order, redeclaration, typed readers with the standard
// variant conversions, and the text-to-value parsing of the settings editor.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "kit/DispatchTestKit.h"
#include "host/uCOMSupport.h"

namespace {

class TSettingsObject : public TBaseObject {
public:
  void Initialize() override {
    TBaseObject::Initialize();
    AddSetting(L"DefaultTimeOut", dtNumber, TVariant::FromInt(120), false, L"Таймаут", L"Секунды");
    AddSetting(L"DebugLogEnabled", dtBoolean, TVariant::FromBool(false), false, L"Отладка", L"Журнал");
    AddSetting(L"Host", dtString, TVariant::FromString(L"https://bank.example/v2"), true, L"Адрес", L"URL");
    // A handler that reads a setting the way the driver does when it enables the device.
    RegisterPublicMethod(L"ReadFlag", [this](TVariant&, TVariant& OutData, int32_t, std::wstring&) {
      OutData = TVariant::FromBool(GetSettingValueBool(L"DebugLogEnabled"));
      return 0;
    });
  }
};

class SettingRegistryTest : public ::testing::Test {
protected:
  void SetUp() override {
    Obj = new TSettingsObject();
    Obj->Initialize();
  }
  void TearDown() override { Obj->Release(); }
  TSettingsObject* Obj = nullptr;
};

TEST_F(SettingRegistryTest, RedeclarationResetsValueButKeepsCaptionTypeAndPlace) {
  Obj->SetSettingValue(L"DebugLogEnabled", TVariant::FromBool(true));
  Obj->AddSetting(L"debuglogenabled", dtString, TVariant::FromString(L"1"), true, L"Другое имя", L"Новое описание");

  const std::vector<TSettingStruct>& list = Obj->Settings();
  ASSERT_EQ(list.size(), 3u);
  const TSettingStruct& s = list[1];
  EXPECT_EQ(s.ID, L"DebugLogEnabled");
  EXPECT_EQ(s.Name, L"Отладка");
  EXPECT_EQ(s.ValueType, dtBoolean);
  EXPECT_EQ(s.Value.Type(), VT_BSTR);  // the new default, not the value set before
  EXPECT_EQ(VariantToString(s.Value.Get()), L"1");
  EXPECT_EQ(VariantToString(s.Default.Get()), L"1");
  EXPECT_TRUE(s.ReadOnly);
  EXPECT_EQ(s.Description, L"Новое описание");

  // A new ID goes to the end; an ID differing in a Cyrillic letter's case is a new ID.
  Obj->AddSetting(L"Пароль", dtString, TVariant(), false, L"", L"");
  Obj->AddSetting(L"пароль", dtString, TVariant(), false, L"", L"");
  ASSERT_EQ(Obj->Settings().size(), 5u);
  EXPECT_EQ(Obj->Settings()[3].ID, L"Пароль");
  EXPECT_EQ(Obj->Settings()[4].ID, L"пароль");
}

TEST_F(SettingRegistryTest, UndeclaredIdsReadAsEmptyAndAreNeverAdded) {
  const std::wstring id = L"NoSuchSetting";
  EXPECT_TRUE(Obj->GetSettingValue(id, false).IsEmpty());
  EXPECT_TRUE(Obj->GetSettingValue(id, true).IsEmpty());
  EXPECT_FALSE(Obj->GetSettingValueBool(id));
  EXPECT_EQ(Obj->GetSettingValueInt(id), 0);
  EXPECT_EQ(Obj->GetSettingValueDbl(id), 0.0);
  EXPECT_EQ(Obj->GetSettingValueCurr(id), 0);
  EXPECT_EQ(Obj->GetSettingValueDate(id), 0.0);
  EXPECT_EQ(Obj->GetSettingValueStr(id), L"");
  EXPECT_FALSE(Obj->GetSettingReadOnly(id));

  Obj->SetSettingValue(id, TVariant::FromInt(5));
  EXPECT_EQ(Obj->Settings().size(), 3u);
  EXPECT_TRUE(Obj->GetSettingValue(id, false).IsEmpty());
}

TEST_F(SettingRegistryTest, ValuesChangeFreelyAndDefaultsComeBack) {
  // Neither the read-only flag nor the declared type stops a value.
  EXPECT_TRUE(Obj->GetSettingReadOnly(L"HOST"));
  Obj->SetSettingValue(L"HOST", TVariant::FromInt(7));
  EXPECT_EQ(Obj->GetSettingValueInt(L"Host"), 7);

  EXPECT_EQ(Obj->GetSettingValueInt(L"DefaultTimeOut"), 120);
  Obj->SetSettingValue(L"defaulttimeout", TVariant::FromInt(30));
  EXPECT_EQ(Obj->GetSettingValueInt(L"DefaultTimeOut"), 30);
  EXPECT_EQ(VariantToInt(Obj->GetSettingValue(L"DefaultTimeOut", true).Get()), 120);

  Obj->SetAllSettingsDefault();
  EXPECT_EQ(Obj->GetSettingValueInt(L"DefaultTimeOut"), 120);
  EXPECT_EQ(Obj->GetSettingValueStr(L"Host"), L"https://bank.example/v2");

  // The stored value is a copy: changing the caller's variant later changes nothing.
  TVariant v = TVariant::FromString(L"first");
  Obj->SetSettingValue(L"Host", v);
  v = TVariant::FromString(L"second");
  EXPECT_EQ(Obj->GetSettingValueStr(L"Host"), L"first");
}

TEST_F(SettingRegistryTest, ReadersConvertOrFailWithTheConversionError) {
  using TRead = std::function<std::wstring(const TBaseObject&)>;
  const TRead asInt = [](const TBaseObject& o) { return std::to_wstring(o.GetSettingValueInt(L"Host")); };
  const TRead asBool = [](const TBaseObject& o) { return std::wstring(o.GetSettingValueBool(L"Host") ? L"T" : L"F"); };
  const TRead asStr = [](const TBaseObject& o) { return o.GetSettingValueStr(L"Host"); };
  const TRead asCurr = [](const TBaseObject& o) { return std::to_wstring(o.GetSettingValueCurr(L"Host")); };
  const TRead asDate = [](const TBaseObject& o) { return std::to_wstring(o.GetSettingValueDate(L"Host")); };
  struct Case {
    const char* Name;
    TVariant Value;
    TRead Read;
    std::wstring Expected;  // empty with Fails = true
    bool Fails;
    std::wstring Error;
  };
  const Case cases[] = {
      {"string 12 as integer", TVariant::FromString(L"12"), asInt, L"12", false, L""},
      {"integer as string", TVariant::FromInt(-3), asStr, L"-3", false, L""},
      {"boolean as string", TVariant::FromBool(true), asStr, L"True", false, L""},
      {"integer as boolean", TVariant::FromInt(2), asBool, L"T", false, L""},
      {"integer as currency", TVariant::FromInt(3), asCurr, L"30000", false, L""},
      {"date as double", TVariant::FromDate(45356.5), asDate, L"45356.500000", false, L""},
      {"Null as boolean", TVariant::Null(), asBool, L"", true,
       L"Could not convert variant of type (Null) into type (Boolean)"},
      {"Null as integer", TVariant::Null(), asInt, L"", true,
       L"Could not convert variant of type (Null) into type (Integer)"},
      {"Null as string", TVariant::Null(), asStr, L"", true,
       L"Could not convert variant of type (Null) into type (String)"},
      {"text as integer", TVariant::FromString(L"abc"), asInt, L"", true,
       L"Could not convert variant of type (String) into type (Integer)"},
      {"text as boolean", TVariant::FromString(L"Да"), asBool, L"", true,
       L"Could not convert variant of type (String) into type (Boolean)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Obj->SetSettingValue(L"Host", c.Value);
    if (!c.Fails) {
      EXPECT_EQ(c.Read(*Obj), c.Expected);
      continue;
    }
    try {
      c.Read(*Obj);
      ADD_FAILURE() << "no conversion error";
    } catch (const EVariantTypeCastError& e) {
      EXPECT_EQ(e.Message(), c.Error);
    }
  }
}

TEST_F(SettingRegistryTest, ConversionErrorInAHandlerReachesTheHostAsAResultCode) {
  Obj->SetSettingValue(L"DebugLogEnabled", TVariant::Null());
  TVariant out;
  TVariant timeOut = TVariant::FromInt(0);
  TInvokeResult r = InvokeByName(Obj, L"ReadFlag", {ByVal(TVariant()), VariantRefTo(out), ByVal(timeOut)});
  ASSERT_EQ(r.Hr, S_OK);
  EXPECT_EQ(r.Result.Get().boolVal, VARIANT_FALSE);
  ASSERT_EQ(CountOf(out), 2);
  EXPECT_EQ(VariantToInt(ItemOf(out, 0).Get()), 1001);
  EXPECT_EQ(VariantToString(ItemOf(out, 1).Get()), L"Could not convert variant of type (Null) into type (Boolean)");
}

TEST(SettingDataTypes, ExchangeNames) {
  EXPECT_EQ(TBaseObject::DataTypeName(dtNumber), L"Number");
  EXPECT_EQ(TBaseObject::DataTypeName(dtString), L"String");
  EXPECT_EQ(TBaseObject::DataTypeName(dtDateTime), L"Date");
  EXPECT_EQ(TBaseObject::DataTypeName(dtBoolean), L"Boolean");
}

// The editor's text parsing depends on the user locale; this suite also runs under en-US.
TEST(SettingTextLocale, TextToSettingValue) {
  const LANGID lang = PRIMARYLANGID(LANGIDFROMLCID(GetUserDefaultLCID()));
  ASSERT_TRUE(lang == LANG_RUSSIAN || lang == LANG_ENGLISH) << "expectations exist for ru-RU and en-US only";
  const bool ru = lang == LANG_RUSSIAN;

  SYSTEMTIME st{2024, 3, 0, 5, 14, 30, 15, 0};
  DATE moment = 0;
  ASSERT_TRUE(SystemTimeToVariantTime(&st, &moment));
  const std::wstring momentText = ru ? L"05.03.2024 14:30:15" : L"3/5/2024 2:30:15 PM";

  struct Case {
    TDataType Type;
    std::wstring Text;
    VARTYPE ExpectedType;
    std::wstring ExpectedText;  // VT_BSTR, VT_BOOL ("True"/"False")
    double ExpectedNumber;      // VT_I4, VT_R8, VT_DATE
  };
  const Case cases[] = {
      {dtBoolean, L"TRUE", VT_BOOL, L"True", 0},
      {dtBoolean, L"true", VT_BOOL, L"True", 0},
      {dtBoolean, L"yes", VT_BOOL, L"False", 0},
      {dtBoolean, L"1", VT_BOOL, L"False", 0},
      {dtBoolean, L"Да", VT_BOOL, L"False", 0},
      {dtBoolean, L"", VT_BOOL, L"False", 0},
      // A whole number within 32 bits is the integer the defaults are; 0 where there is no number.
      {dtNumber, L"abc", VT_I4, L"", 0},
      {dtNumber, L"12", VT_I4, L"", 12},
      {dtNumber, L"-2147483648", VT_I4, L"", -2147483648.0},
      {dtNumber, L"2147483647", VT_I4, L"", 2147483647},
      {dtNumber, ru ? L" -2,5E3 " : L" -2.5E3 ", VT_I4, L"", -2500},
      {dtNumber, ru ? L"1.5" : L"1,5", VT_I4, L"", 0},  // the other locale's separator is not a number
      {dtNumber, L"", VT_I4, L"", 0},
      {dtNumber, L"inf", VT_I4, L"", 0},
      // Any other number stays a double.
      {dtNumber, ru ? L"1,5" : L"1.5", VT_R8, L"", 1.5},
      {dtNumber, L"2147483648", VT_R8, L"", 2147483648.0},
      {dtString, L"abc", VT_BSTR, L"abc", 0},
      {dtDateTime, L"abc", VT_BSTR, L"abc", 0},
      {dtDateTime, momentText, VT_DATE, L"", moment},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << TBaseObject::DataTypeName(c.Type).c_str() << " '" << c.Text.c_str() << "'");
    TVariant v = TBaseObject::TextToSettingValue(c.Type, c.Text);
    ASSERT_EQ(v.Type(), c.ExpectedType);
    switch (c.ExpectedType) {
      case VT_BOOL: EXPECT_EQ(v.Get().boolVal != VARIANT_FALSE ? L"True" : L"False", c.ExpectedText); break;
      case VT_BSTR: EXPECT_EQ(VariantToString(v.Get()), c.ExpectedText); break;
      case VT_I4: EXPECT_EQ(static_cast<double>(v.Get().lVal), c.ExpectedNumber); break;
      case VT_R8: EXPECT_DOUBLE_EQ(v.Get().dblVal, c.ExpectedNumber); break;
      case VT_DATE: EXPECT_NEAR(v.Get().date, c.ExpectedNumber, 1e-9); break;
      default: FAIL();
    }
  }
}

}  // namespace
