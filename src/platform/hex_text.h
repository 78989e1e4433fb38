// Numbers and bytes in upper-case hexadecimal, the one way the product writes them: image
// fields and status codes in the log, certificate thumbprints, kernel object names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace gor::platform {

// The low `digits` hexadecimal digits of `value`, leading zeros kept: HexDigits(0x14C, 4) is
// "014C".
inline std::string HexDigits(std::uint64_t value, int digits) {
    std::string text(static_cast<std::size_t>(digits), '0');
    for (int i = digits - 1; i >= 0; --i, value >>= 4)
        text[static_cast<std::size_t>(i)] = "0123456789ABCDEF"[value & 0xF];
    return text;
}

// Two digits per byte, as Windows and openssl show a thumbprint (without separators).
inline std::string HexBytes(std::string_view bytes) {
    std::string text;
    for (const char byte : bytes) text += HexDigits(static_cast<unsigned char>(byte), 2);
    return text;
}

}  // namespace gor::platform
