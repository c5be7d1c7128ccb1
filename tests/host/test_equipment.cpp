// Equipment type captions, the contact block, the version text and the module's own version.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "host/uEquipment.h"
#include "res/version.h"

namespace {

TEST(EquipmentTypeCaption, TableAndUnknownNames) {
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"Unknown", L"Неизвестный тип"},
      {L"EcrOnline3", L"ККТ с функцией передачи в ОФД БПО 3.X"},
      {L"ScaleOffline", L"Электронные весы с печатью этикеток"},
      {L"SMSCommunicator", L"СМС-коммуникатор"},
      {L"BillValidator", L"Купюроприемник"},
      {L"EMailClient", L"Клиент электронной почты"},
      {L"FastPaymentSystem", L"Cистема быстрых платежей"},
      {L"fastpaymentsystem", L"fastpaymentsystem"},  // exact match only
      {L"Printer", L"Printer"},
      {L"", L""},
  };
  for (const auto& [name, caption] : cases) EXPECT_EQ(EquipmentTypeCaption(name), caption);

  // The caption of this driver's type starts with a Latin C and continues in Cyrillic.
  const std::wstring fps = EquipmentTypeCaption(L"FastPaymentSystem");
  EXPECT_EQ(fps[0], L'\u0043');
  EXPECT_EQ(fps[1], L'\u0438');

  // 32 distinct names, each found by its own name.
  std::set<std::wstring> names;
  for (const TEquipmentTypeText& row : EquipmentTypeTexts()) {
    names.insert(row.TypeName);
    EXPECT_EQ(EquipmentTypeCaption(row.TypeName), row.Caption);
  }
  EXPECT_EQ(names.size(), 32u);
  EXPECT_EQ(EquipmentTypeTexts().size(), 32u);
}

TEST(ContactText, FourLabelledLines) {
  TDeviceInfoStruct info;
  EXPECT_EQ(ContactText(info), L"E-mail:\t\r\nWeb:\t\r\nТел:\t\r\nАдрес:\t\r\n");
  info.CI_email = L"support@vendor.example";
  info.CI_www = L"https://vendor.example";
  info.CI_Phones = L"+7 000 000-00-00";
  info.CI_address = L"100% placeholder, %s %d";  // values are data, never a format
  EXPECT_EQ(ContactText(info),
            L"E-mail:\tsupport@vendor.example\r\nWeb:\thttps://vendor.example\r\nТел:\t+7 000 000-00-00\r\n"
            L"Адрес:\t100% placeholder, %s %d\r\n");
}

TEST(VersionText, MajorMinorBuild) {
  TDeviceInfoStruct info;
  EXPECT_EQ(VersionText(info), L"0.0.0");
  info.MajorVersion = 4;
  info.MinorVersion = 1;
  info.BuildVersion = 123;
  EXPECT_EQ(VersionText(info), L"4.1.123");
}

TEST(ModuleVersion, ReadsOurOwnVersionResource) {
  const TModuleVersion v = GetModuleVersion();
  EXPECT_EQ(v.Major, TOLVARO_VERSION_MAJOR);
  EXPECT_EQ(v.Minor, TOLVARO_VERSION_MINOR);
  EXPECT_EQ(v.Release, TOLVARO_VERSION_RELEASE);
  EXPECT_EQ(v.Build, TOLVARO_VERSION_BUILD);
  static_assert(TOLVARO_VERSION_RELEASE != TOLVARO_VERSION_BUILD, "the text must show which part it uses");

  // The version shown to users: parts 1, 2 and 4.
  TDeviceInfoStruct info;
  info.MajorVersion = v.Major;
  info.MinorVersion = v.Minor;
  info.BuildVersion = v.Build;
  EXPECT_EQ(VersionText(info), L"1.0.17");
}

}  // namespace
