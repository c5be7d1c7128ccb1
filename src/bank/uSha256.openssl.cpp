#include <openssl/evp.h>

#include "uBankExceptions.h"
#include "uBankStrings.h"
#include "uSha256.h"
#include "uTextUtils.h"

namespace bank {

std::string Sha256Hex(std::string_view ABytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (EVP_Digest(ABytes.data(), ABytes.size(), digest, &len, EVP_sha256(), nullptr) != 1 || len != 32)
    throw Exception(SSha256Failed);
  return LowerHex(digest, 32);
}

}  // namespace bank
