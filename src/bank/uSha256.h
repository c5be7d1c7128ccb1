#pragma once
// SHA-256 (FIPS 180-4) of bytes, as 64 lower-case hexadecimal digits.
// Windows CNG in the Windows build, OpenSSL in the native one.
#include <string>
#include <string_view>

namespace bank {

std::string Sha256Hex(std::string_view ABytes);

}  // namespace bank
