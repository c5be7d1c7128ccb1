#include "uStreams.h"

#include "uBankExceptions.h"
#include "uBankStrings.h"

namespace bank {

void TStream::Write(std::string_view ABytes) {
  if (ABytes.size() > FLimit || FData.size() > FLimit - ABytes.size())
    throw EHTTPBridgeException(SResponseTooLarge);
  FData.append(ABytes);
}

}  // namespace bank
