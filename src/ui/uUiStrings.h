#pragma once
// Texts of the settings dialogs, exactly as users see them.

// Shared by the dialogs
inline constexpr wchar_t kSErrorCaption[] = L"Ошибка";
inline constexpr wchar_t kSSaveAndCloseHint[] = L"Сохранить и закрыть";
inline constexpr wchar_t kSCloseWithoutSavingHint[] = L"Закрыть без сохранения";
inline constexpr wchar_t kSPageNotCreated[] = L"Не удалось создать страницу настроек";

// The settings dialog: hints, help texts, menu, messages
inline constexpr wchar_t kSPagesHint[] = L"Настройка параметров и подробная информация о драйвере";
inline constexpr wchar_t kSMoreHint[] = L"Дополнительные функции";
inline constexpr wchar_t kSMoreHelp[] =
    L"Дополнительные функции: \r\n - Установка параметров в значегие по умолчанию"
    L"\r\n - Тест работоспособности устройства\r\n - Отображение полного списка настроек\r\n - Справка";
inline constexpr wchar_t kSOkHelp[] = L"Сохранить настройки и закрыть окно";
inline constexpr wchar_t kSCancelHelp[] = L"Закрыть окно без сохранения настроек";
inline constexpr wchar_t kSMenuReset[] = L"Установить значения по-умолчанию";
inline constexpr wchar_t kSMenuDeviceTest[] = L"Выполнить тест устройства";
inline constexpr wchar_t kSMenuSettingsList[] = L"Показать полный список настроек";
inline constexpr wchar_t kSMenuDebugLogs[] = L"Просмотр отладочных логов";
inline constexpr wchar_t kSMenuCurrentDebugLog[] = L"Открыть текущий отладочный лог";
inline constexpr wchar_t kSMenuDebugLogFolder[] = L"Открыть папку с файлами отладочных логов";
inline constexpr wchar_t kSMenuHelp[] = L"Справка";
inline constexpr wchar_t kSSettingsNotWritten[] = L"Не удалось записать текущие настройки";
inline constexpr wchar_t kSDebugLogNotFound[] = L"Отладочный лог не найден!";
inline constexpr wchar_t kSLogFileFilter[] = L"Файлы log\0*.log;\0";  // two NUL-terminated parts

// The driver's page
inline constexpr wchar_t kSTimeoutHint[] = L"Таймаут ожидания выполнения оплаты";
inline constexpr wchar_t kSLineLengthField[] = L"Длина строки квитанции";
inline constexpr wchar_t kSTimeoutField[] = L"Таймаут ожидания, секунд";
inline constexpr wchar_t kSNotWholeNumberBefore[] = L"Поле \"";
inline constexpr wchar_t kSNotWholeNumberAfter[] = L"\" должно содержать целое число от 0 до 2147483647";

// The settings list
inline constexpr wchar_t kSColumnName[] = L"Наименование";
inline constexpr wchar_t kSColumnValue[] = L"Значение";
inline constexpr wchar_t kSColumnDefault[] = L"По-умолчанию";
inline constexpr wchar_t kSResetAllHint[] = L"Установить все значения по-умолчанию";
inline constexpr wchar_t kSMenuEdit[] = L"Редактировать";
inline constexpr wchar_t kSMenuRowDefault[] = L"По-умолчанию";
inline constexpr wchar_t kSNotANumberBefore[] = L"Значение настройки \"";
inline constexpr wchar_t kSNotANumberAfter[] = L"\" должно быть целым числом";
