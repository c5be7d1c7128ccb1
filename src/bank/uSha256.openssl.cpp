#include <openssl/evp.h>

#include "uBankExceptions.h"
#include "uSha256.h"

namespace bank {

std::string Sha256Hex(std::string_view ABytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (EVP_Digest(ABytes.data(), ABytes.size(), digest, &len, EVP_sha256(), nullptr) != 1 || len != 32)
    throw Exception("SHA-256 failed");
  static constexpr char Hex[] = "0123456789abcdef";
  std::string out(64, '0');
  for (unsigned i = 0; i < 32; ++i) {
    out[2 * i] = Hex[digest[i] >> 4];
    out[2 * i + 1] = Hex[digest[i] & 0xF];
  }
  return out;
}

}  // namespace bank
