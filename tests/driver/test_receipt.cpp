// The receipt's layout, by width: what a narrow printer or a misconfigured line length gives.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "fps/uReceiptText.h"
#include "platform/uExceptions.h"
#include "platform/uLocale.h"
#include "platform/uStrings.h"

namespace {

double Date(WORD y, WORD mo, WORD d, WORD h, WORD mi) {
  SYSTEMTIME t{};
  t.wYear = y, t.wMonth = mo, t.wDay = d, t.wHour = h, t.wMinute = mi;
  double date = 0;
  SystemTimeToVariantTime(&t, &date);
  return date;
}

std::wstring S(size_t n) { return std::wstring(n, L' '); }

TEST(ReceiptText, LinesByWidth) {
  wchar_t separator[8] = {};  // the user's, read here as any program would, not through the driver
  GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIME, separator, 8);
  const std::wstring t = L"Время: 14" + std::wstring(separator) + L"07";
  const std::wstring id = L"1234567890";
  const std::wstring longId = L"700000000000000000000000000000000000000000000000001";  // 51 > 48
  const struct {
    int32_t Width;
    std::wstring Id;
    std::vector<std::wstring> Lines;
  } cases[] = {
      {48, id,
       {L"Дата: 05.03.24" + S(48 - 14 - t.size()) + t, L"Операция:" + S(33) + L"оплата", L"Сумма:" + S(36) + L"123.40",
        L"ID:" + S(45), S(38) + id}},
      // The layout of the manual's example.
      {32, id,
       {L"Дата: 05.03.24" + S(32 - 14 - t.size()) + t, L"Операция:" + S(17) + L"оплата", L"Сумма:" + S(20) + L"123.40",
        L"ID:" + S(29), S(22) + id}},
      // Narrower than a label and its value: the value follows the label uncut.
      {10, id, {L"Дата: 05.03.24" + t, L"Операция:оплата", L"Сумма:123.40", L"ID:" + S(7), id}},
      // Width 0: every value left-aligned in a field as wide as its label.
      {0, id,
       {L"Дата: 05.03.24" + t + S(14 - t.size()), L"Операция:оплата" + S(3), L"Сумма:123.40", L"ID:" + S(3), id}},
      {48, longId, {L"Дата: 05.03.24" + S(48 - 14 - t.size()) + t, L"Операция:" + S(33) + L"оплата",
                    L"Сумма:" + S(36) + L"123.40", L"ID:" + S(45), longId}},
      {48, L"", {L"Дата: 05.03.24" + S(48 - 14 - t.size()) + t, L"Операция:" + S(33) + L"оплата", L"Сумма:" + S(36) + L"123.40"}},
      // A mistyped line length cannot make a receipt of gigabytes: the layout stops at 1024.
      {100000000, L"", {L"Дата: 05.03.24" + S(1024 - 14 - t.size()) + t, L"Операция:" + S(1024 - 15) + L"оплата",
                        L"Сумма:" + S(1024 - 12) + L"123.40"}},
      {-2000000000, L"", {L"Дата: 05.03.24" + t + S(1024 + 14 - t.size()), L"Операция:оплата" + S(1024 + 9 - 6),
                          L"Сумма:123.40" + S(1024)}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("width " + std::to_string(c.Width) + " id " + Utf16ToUtf8(c.Id));
    std::wstring expected;
    for (const std::wstring& line : c.Lines) expected += line + L"\r\n";
    EXPECT_EQ(BuildReceiptText(roPayment, c.Id, 1234000, Date(2024, 3, 5, 14, 7), c.Width), expected);
  }
}

TEST(ReceiptText, AmountsOperationsAndFieldWidths) {
  const struct {
    int64_t Amount;  // ten-thousandths
    const wchar_t* Text;
  } amounts[] = {{0, L"0.00"},          {123450, L"12.35"},    {123449, L"12.34"},      {-10050, L"-1.01"},
                 {-40, L"0.00"},        {10000000, L"1000.00"}, {INT64_MIN, L"-922337203685477.58"}};
  for (const auto& a : amounts) EXPECT_EQ(ReceiptAmountText(a.Amount), a.Text) << a.Amount;

  const std::wstring refund = BuildReceiptText(roRefund, L"", 30000, Date(2024, 12, 31, 0, 0), 20);
  EXPECT_NE(refund.find(L"Операция:    возврат\r\n"), std::wstring::npos) << Utf16ToUtf8(refund);
  try {
    BuildReceiptText(3, L"", 0, Date(2024, 1, 1, 0, 0), 48);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), L"Указан некорректный тип операции для получения текста квитанции");
  }

  // "%s%*s": widths count UTF-16 code units; a negative field pads after the value.
  EXPECT_EQ(FormatReceiptLine(L"ab", L"x", 5), L"ab  x");
  EXPECT_EQ(FormatReceiptLine(L"abcd", L"x", 1), L"abcdx  ");
  EXPECT_EQ(FormatReceiptLine(L"abcd", L"xyz", 1), L"abcdxyz");
  EXPECT_EQ(FormatReceiptLine(L"", L"\U0001F600", 3), L" \U0001F600");  // two code units
}

// The help's receipts (methods.html, <pre class="receipt" title="LineLength N: оплата 123.40,
// 05.03.2024 14:07, ID 1234567890">) are what the formatter prints for what their titles say.
TEST(ReceiptText, TheHelpsExamplesAreWhatTheFormatterPrints) {
  std::ifstream in(TOLVARO_HELP_SOURCE_DIR "/methods.html", std::ios::binary);
  ASSERT_TRUE(in) << "no methods.html at " TOLVARO_HELP_SOURCE_DIR;
  std::stringstream bytes;
  bytes << in.rdbuf();
  const std::wstring page = Utf8ToUtf16(bytes.str());
  const std::wregex example(L"<pre class=\"receipt\" title=\"([^\"]*)\">([^<]*)</pre>");
  const std::wregex title(
      L"LineLength (-?\\d+): (оплата|возврат) (\\d+)\\.(\\d\\d), (\\d\\d)\\.(\\d\\d)\\.(\\d{4}) (\\d\\d):(\\d\\d)(, ID (\\S+))?");
  wchar_t separator[8] = {};
  GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIME, separator, 8);
  int examples = 0;
  for (auto it = std::wsregex_iterator(page.begin(), page.end(), example); it != std::wsregex_iterator(); ++it) {
    ++examples;
    const std::wstring what = (*it)[1];
    SCOPED_TRACE(Utf16ToUtf8(what));
    std::wsmatch m;
    ASSERT_TRUE(std::regex_match(what, m, title)) << "a title the test cannot read";
    const int32_t width = std::stoi(m[1]);
    const int32_t operation = m[2] == L"оплата" ? roPayment : roRefund;
    const int64_t amount = std::stoll(m[3]) * 10000 + std::stoll(m[4]) * 100;
    const double date = Date(static_cast<WORD>(std::stoi(m[7])), static_cast<WORD>(std::stoi(m[6])),
                             static_cast<WORD>(std::stoi(m[5])), static_cast<WORD>(std::stoi(m[8])),
                             static_cast<WORD>(std::stoi(m[9])));
    // The page shows the time with a colon; the receipt has the user's separator.
    std::wstring shown = (*it)[2];
    const std::wstring time = m[8].str() + L":" + m[9].str();
    if (const size_t at = shown.find(time); at != std::wstring::npos)
      shown.replace(at, time.size(), m[8].str() + separator + m[9].str());
    std::wstring printed = BuildReceiptText(operation, m[11], amount, date, width);
    for (size_t at = 0; (at = printed.find(L"\r\n", at)) != std::wstring::npos;) printed.erase(at, 1);
    EXPECT_EQ(shown, printed);
  }
  EXPECT_GE(examples, 2) << "methods.html shows no receipt examples";
}

}  // namespace
