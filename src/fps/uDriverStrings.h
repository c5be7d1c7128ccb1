#pragma once
// Texts of the driver, exactly as users and the host see them.

inline constexpr wchar_t kSDriverModelName[] = L"Quorvel: Система быстрых платежей Tolvaro";
inline constexpr wchar_t kSDriverDescription[] = L"Драйвер системы быстрых платежей Tolvaro";

// Settings: caption and description.
inline constexpr wchar_t kSHostName[] = L"Хост";
inline constexpr wchar_t kSHostDescription[] = L"Адрес хоста";
inline constexpr wchar_t kSTerminalKeyName[] = L"Номер терминала";
inline constexpr wchar_t kSPasswordName[] = L"Пароль";
inline constexpr wchar_t kSWaitTimeoutName[] = L"Таймаут ожидания выполнения операции, секунд";
inline constexpr wchar_t kSLineLengthName[] = L"Длина строки квитанции";

// The bank's API under the reserved example domain until a real address is configured.
inline constexpr wchar_t kSDefaultHost[] = L"https://securepay.bank.example/v2";

// Failures of the payment operations.
inline constexpr wchar_t kSNotEnabled[] = L"Устройство не включено";
inline constexpr wchar_t kSWaitTimedOut[] = L"Превышение времени выполнения операции";
inline constexpr wchar_t kSUnknownError[] = L"Неизвестная ошибка";
inline constexpr wchar_t kSRejected[] = L"Операция отклонена";
inline constexpr wchar_t kSCanceled[] = L"Операция отменена";
inline constexpr wchar_t kSAlreadyRefunded[] = L"Платеж уже возвращен";
inline constexpr wchar_t kSBadReceiptOperation[] = L"Указан некорректный тип операции для получения текста квитанции";

// Receipt.
inline constexpr wchar_t kSReceiptDate[] = L"Дата: ";
inline constexpr wchar_t kSReceiptTime[] = L"Время: ";
inline constexpr wchar_t kSReceiptOperation[] = L"Операция:";
inline constexpr wchar_t kSReceiptAmount[] = L"Сумма:";
inline constexpr wchar_t kSReceiptID[] = L"ID:";
inline constexpr wchar_t kSReceiptPayment[] = L"оплата";
inline constexpr wchar_t kSReceiptRefund[] = L"возврат";

// The self-test's message box.
inline constexpr wchar_t kSDeviceTestOK[] = L"Успешно!";
inline constexpr wchar_t kSDeviceTestCaption[] = L"Информация";

// The title of the driver's own debug-log entries.
inline constexpr wchar_t kSDriverLogTitle[] = L"TDriver";
