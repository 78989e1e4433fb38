// Certificate thumbprints: the SHA-1 or SHA-256 digest of a certificate's encoded bytes in
// hexadecimal, as Windows and openssl show them. The publisher pin names one.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace gor::launcher {

inline constexpr std::size_t kSha1Digits = 40;
inline constexpr std::size_t kSha256Digits = 64;

// The digest of `bytes` in upper-case hexadecimal: SHA-1 when `digits` is kSha1Digits, SHA-256
// otherwise. Pure, never throws but for memory.
std::string Thumbprint(std::string_view bytes, std::size_t digits);

}  // namespace gor::launcher
