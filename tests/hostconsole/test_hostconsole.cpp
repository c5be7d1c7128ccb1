// The host console's own rules: amounts, command words, settings files, exit codes, boxes.
#include <gtest/gtest.h>

#include "uHostConsole.h"

using namespace hostconsole;

TEST(HostConsole, AmountsAreWholeMinorUnitsAboveZero) {
  struct Case {
    const wchar_t* Text;
    int64_t Expected;  // ten-thousandths; -1: refused
  } cases[] = {
      {L"123.45", 1234500}, {L"123,45", 1234500}, {L"7", 70000},      {L"0.5", 5000},      {L"0.01", 100},
      {L"999999999999.99", 9999999999999900}, {L"0", -1},  {L"0.00", -1},  {L"-5", -1},  {L"1.234", -1},
      {L"1.", -1},          {L".5", -1},           {L"1e3", -1},      {L"12 3", -1},       {L"", -1},
      {L"abc", -1},         {L"1234567890123", -1}, {L"１２", -1},
  };
  for (const Case& c : cases) {
    if (c.Expected < 0) {
      EXPECT_THROW(ParseAmount(c.Text), TUsageError) << Utf8(c.Text);
    } else {
      EXPECT_EQ(ParseAmount(c.Text), c.Expected) << Utf8(c.Text);
    }
  }
  EXPECT_EQ(FormatAmount(1234500), L"123.45");
  EXPECT_EQ(FormatAmount(1234567), L"123.4567");
  EXPECT_EQ(FormatAmount(-5000), L"-0.50");
}

TEST(HostConsole, CommandWordsSplitOnBlanksAndGroupInQuotes) {
  EXPECT_EQ(SplitWords(L"  register 10 \"Заказ №1\"  "), (std::vector<std::wstring>{L"register", L"10", L"Заказ №1"}));
  EXPECT_EQ(SplitWords(L"pay \"\""), (std::vector<std::wstring>{L"pay", L""}));
  EXPECT_TRUE(SplitWords(L" \t ").empty());
  EXPECT_THROW(SplitWords(L"register 10 \"open"), TUsageError);
}

TEST(HostConsole, SettingsFileKeepsOrderReplacesByIdAndNamesTheBadLine) {
  TSettingsFile f;
  f.Parse("\xEF\xBB\xBF# comment\r\nHost=https://a.example/v2\n\n Password = p=q \nhost=https://b.example/v2\n", L"s.ini");
  ASSERT_EQ(f.Items().size(), 2u);
  EXPECT_EQ(f.Items()[0].first, L"Host");
  EXPECT_EQ(f.Items()[0].second, L"https://b.example/v2");
  EXPECT_EQ(f.Items()[1].first, L"Password");
  EXPECT_EQ(f.Items()[1].second, L" p=q");  // a value is kept as written after '='

  TSettingsFile again;
  again.Parse(f.Format(), L"again.ini");
  EXPECT_EQ(again.Items(), f.Items()) << "what Format writes reads back the same";

  TSettingsFile bad;
  try {
    bad.Parse("Host=x\nno assignment here\n", L"bad.ini");
    FAIL() << "a line without '=' is refused";
  } catch (const TUsageError& e) {
    EXPECT_NE(std::string(e.what()).find("bad.ini:2:"), std::string::npos) << e.what();
  }
  EXPECT_THROW(ParseAssignment(L"=value"), TUsageError);
}

TEST(HostConsole, ExitCodeIsTheResultCodesClass) {
  const std::pair<int32_t, int> cases[] = {{0, exOK},        {70, exDeviceState}, {201, exDeviceState}, {1003, exBadRequest},
                                           {1004, exBadRequest}, {1001, exFailed},  {1020, exFailed},     {-5, exFailed}};
  for (const auto& [code, exit] : cases) EXPECT_EQ(ExitCodeOfResult(code), exit) << code;
}

TEST(HostConsole, ReceiptBoxFitsItsLongestLine) {
  const std::wstring box = Boxed(L" receipt ", L"Сумма:  1.00\r\nID:\r\n");
  EXPECT_EQ(box,
            L"┌─ receipt ────┐\n"
            L"│ Сумма:  1.00 │\n"
            L"│ ID:          │\n"
            L"└──────────────┘\n");
}
