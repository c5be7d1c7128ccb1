#include "uEquipment.h"

#include <cstdio>

#include "platform/uFiles.h"

namespace {
// Resource texts. The caption of FastPaymentSystem starts with a Latin C, as the host shows it.
constexpr TEquipmentTypeText kEquipmentTypes[] = {
    {L"Unknown", L"Неизвестный тип"},
    {L"Template", L"Шаблон"},
    {L"Scanner", L"Сканер штрихкодов"},
    {L"FiscalPrinter", L"Фискальный регистратор"},
    {L"EcrOnline", L"ККТ с функцией передачи в ОФД"},
    {L"EcrOnline3", L"ККТ с функцией передачи в ОФД БПО 3.X"},
    {L"FiscalCashRegister", L"Фискальный регистратор БПО"},
    {L"AcquiringTerminal", L"Эквайринг-терминал"},
    {L"DataCollectionTerminal", L"Терминал сбора данных"},
    {L"LineDisplay", L"Дисплей покупателя"},
    {L"CardReader", L"Считыватель карт"},
    {L"Scale", L"Электронные весы"},
    {L"ScaleOffline", L"Электронные весы с печатью этикеток"},
    {L"ServicePrinter", L"Сервисный принтер"},
    {L"AccessController", L"Контроллер доступа"},
    {L"LabelPrinter", L"Принтер этикеток"},
    {L"BiometricReader", L"Биометрический считыватель"},
    {L"ElectronicLocks", L"Электронные замки"},
    {L"SMSCommunicator", L"СМС-коммуникатор"},
    {L"EventLogger", L"Регистратор событий"},
    {L"TimePhasedServicesController", L"Контроллер временных услуг"},
    {L"CustomerFeedbackTerminal", L"Терминал опроса клиентов"},
    {L"BillValidator", L"Купюроприемник"},
    {L"CoffeeMachine", L"Кофемашина"},
    {L"ServiceTerminal", L"Терминал услуг"},
    {L"BloodPressureMonitor", L"Тонометр"},
    {L"AlcoTester", L"Алкотестер"},
    {L"VideoCamera", L"Видеокамера"},
    {L"LoyaltySystem", L"Система лояльности"},
    {L"Thermometer", L"Термометр"},
    {L"FastPaymentSystem", L"Cистема быстрых платежей"},
    {L"EMailClient", L"Клиент электронной почты"},
};

constexpr const wchar_t* kContactLabels[] = {L"E-mail", L"Web", L"Тел", L"Адрес"};
}  // namespace

std::span<const TEquipmentTypeText> EquipmentTypeTexts() noexcept { return kEquipmentTypes; }

std::wstring EquipmentTypeCaption(const std::wstring& TypeName) {
  for (const TEquipmentTypeText& row : kEquipmentTypes)
    if (TypeName == row.TypeName) return row.Caption;
  return TypeName;
}

std::wstring ContactText(const TDeviceInfoStruct& Info) {
  const std::wstring* values[] = {&Info.CI_email, &Info.CI_www, &Info.CI_Phones, &Info.CI_address};
  std::wstring text;
  for (size_t i = 0; i < 4; ++i) {
    text += kContactLabels[i];
    text += L":\t";
    text += *values[i];
    text += L"\r\n";
  }
  return text;
}

std::wstring VersionText(const TDeviceInfoStruct& Info) {
  return std::to_wstring(Info.MajorVersion) + L"." + std::to_wstring(Info.MinorVersion) + L"." +
         std::to_wstring(Info.BuildVersion);
}

TModuleVersion GetModuleVersion() noexcept {
  try {
    const TFileVersion parts = FileVersionOf(ThisModuleFileName());
    return {parts[0], parts[1], parts[2], parts[3]};
  } catch (...) {
    return {};
  }
}
