#pragma once
// The bank client's check of every answer before a response record is built: the first
// top-level "ErrorCode" (letter case significant) decides; a body that is not JSON, and an
// empty body with a status other than 200, are errors too.
#include <string>

namespace bank {

// Raises for an error answer (Exception with "Message Details", the status text, or the
// not-JSON text; EConvertError for an ErrorCode that is not an integer); returns for an
// acceptable one. ABodyText is the body decoded as UTF-8.
void CheckBankResponse(int AStatusCode, const std::string& AStatusText, const std::string& ABodyText);

}  // namespace bank
