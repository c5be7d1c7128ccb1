#pragma once
// The bank client's message texts, in one place (UTF-8). "%s" marks where a value goes;
// FormatText fills it in.
#include <string>
#include <string_view>

namespace bank {

// Type conversion and numbers.
inline constexpr const char* SInvalidCast = "Invalid class typecast";
inline constexpr const char* SInvalidFloat = "Invalid floating point value";

// JSON document and converter.
inline constexpr const char* SJSONTooLarge = "JSON document too large";
inline constexpr const char* SJSONSecondRoot = "JSON document already has a root";
inline constexpr const char* SJSONValueNotFound = "Value '%s' not found";
inline constexpr const char* SJSONNotConvertible = "Conversion from %s to string is not supported";
inline constexpr const char* SCannotWriteKind = "Cannot convert %s to TJSONValue";
inline constexpr const char* SCannotReadKind = "Cannot convert OleVariant to %s";
inline constexpr const char* SNoTypeInfo = "TJsonConverterFactory: Ошибка получения типа из TypeInfo";

// REST bridge.
inline constexpr const char* SMalformedHeader = "Некорректный формат заголовка [%s]";
inline constexpr const char* SNoVerb = "HTTP метод не установлен";
inline constexpr const char* SNoConverter = "Не задан конвертер данных";
inline constexpr const char* SUnknownParamType = "Неизвестный тип параметра";
inline constexpr const char* SNoClient = "Не задан HTTP клиент";
inline constexpr const char* SInvalidBridgeType = "Invalid type for Bridge: %s";
inline constexpr const char* SInvalidArgCount = "Invalid argument count for [%s]";
inline constexpr const char* SInvalidResultType = "Invalid result type for [%s]";
inline constexpr const char* SEmptyHeaderValue = "Header \"%s\" value is empty";
inline constexpr const char* SInvokeLog = "Invoke [%s]";  // debug-log line of each call

// Streams: a response body past MaxResponseSize (uStreams.h).
inline constexpr const char* SResponseTooLarge = "Ответ сервера превышает допустимый размер (4 МиБ)";

// Response check of the bank client.
inline constexpr const char* SNotJSONAnswer = "Некорректная структура ответа. Ожидается application/json";
inline constexpr const char* SInvalidInteger = "'%s' is not a valid integer value";

// HTTP transport failures: the step that failed, then "(code) system text".
inline constexpr const char* SHTTPBadURL = "Invalid URL: %s";
// Not the URL itself: it would carry the password into every log and message.
inline constexpr const char* SHTTPCredentialsInURL = "Invalid URL: a user name or password in the address is not allowed";
inline constexpr const char* SHTTPSessionFailed = "Error creating HTTP session: %s";
inline constexpr const char* SHTTPConnectFailed = "Error connecting to server: %s";
inline constexpr const char* SHTTPSendFailed = "Error sending data: %s";
inline constexpr const char* SHTTPReceiveFailed = "Error receiving data: %s";
// The whole call (connecting, TLS, sending, the answer, redirects) past its bound: the time the
// call was given, in ms.
inline constexpr const char* SHTTPCallTooLong = "The request took too long: no complete answer within %s ms";

// Token hash.
inline constexpr const char* SSha256Failed = "SHA-256 failed";

// AFormat with its first "%s" replaced by AArg (the value is not searched again).
inline std::string FormatText(std::string_view AFormat, std::string_view AArg) {
  std::string out(AFormat);
  if (const auto at = out.find("%s"); at != std::string::npos) out.replace(at, 2, AArg);
  return out;
}

}  // namespace bank
