#pragma once
// Resource texts of the device layer, exactly as users and the host know them.

inline constexpr wchar_t kSNoEqManager[] = L"Менеджер оборудования недоступен";

// The common settings: caption and description.
inline constexpr wchar_t kSDefaultTimeOutName[] = L"Таймаут по умолчанию";
inline constexpr wchar_t kSDefaultTimeOutDescription[] =
    L"Таймаут по умолчанию. Используется в случае, если при вызове метода параметр Timeout равен 0";
inline constexpr wchar_t kSEventLogEnabledName[] = L"Журнал событий";
inline constexpr wchar_t kSEventLogEnabledDescription[] =
    L"Если равно True, ведется журнал критических событий и ошибок";
inline constexpr wchar_t kSDebugLogEnabledName[] = L"Отладочный лог";
inline constexpr wchar_t kSDebugLogEnabledDescription[] = L"Если равно True, ведется отладочный лог";

// The developer's name and contacts (device information defaults).
inline constexpr wchar_t kSDeveloperName[] = L"ООО \"Quorvel\"";
inline constexpr wchar_t kSDeveloperEmail[] = L"support@quorvel.example";
inline constexpr wchar_t kSDeveloperWeb[] = L"https://www.quorvel.example";
inline constexpr wchar_t kSDeveloperPhones[] = L"+7 (000) 000-00-00";
inline constexpr wchar_t kSDeveloperAddress[] = L"000000, Россия, г. Пример, ул. Примерная, д. 1";
