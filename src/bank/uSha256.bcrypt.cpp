// Windows seam of Sha256Hex: CNG.
#include <windows.h>
// bcrypt.h needs the Windows types first.
#include <bcrypt.h>

#include <climits>

#include "uBankExceptions.h"
#include "uBankStrings.h"
#include "uSha256.h"
#include "uTextUtils.h"

namespace bank {

namespace {

struct TAlgHandle {
  BCRYPT_ALG_HANDLE H = nullptr;
  ~TAlgHandle() {
    if (H) BCryptCloseAlgorithmProvider(H, 0);
  }
};

struct THashHandle {
  BCRYPT_HASH_HANDLE H = nullptr;
  ~THashHandle() {
    if (H) BCryptDestroyHash(H);
  }
};

bool Ok(NTSTATUS s) { return s >= 0; }

}  // namespace

std::string Sha256Hex(std::string_view ABytes) {
  TAlgHandle alg;
  if (!Ok(BCryptOpenAlgorithmProvider(&alg.H, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
    throw Exception(SSha256Failed);
  THashHandle hash;
  if (!Ok(BCryptCreateHash(alg.H, &hash.H, nullptr, 0, nullptr, 0, 0))) throw Exception(SSha256Failed);
  // BCryptHashData takes a ULONG length: feed large inputs in pieces.
  const char* p = ABytes.data();
  size_t left = ABytes.size();
  while (left > 0) {
    const ULONG n = left > 0x40000000u ? 0x40000000u : static_cast<ULONG>(left);
    if (!Ok(BCryptHashData(hash.H, reinterpret_cast<PUCHAR>(const_cast<char*>(p)), n, 0)))
      throw Exception(SSha256Failed);
    p += n;
    left -= n;
  }
  unsigned char digest[32];
  if (!Ok(BCryptFinishHash(hash.H, digest, sizeof digest, 0))) throw Exception(SSha256Failed);
  return LowerHex(digest, 32);
}

}  // namespace bank
