// The Windows image format's layout as both readers of an image see it (the whole-image check
// and the version resource): header offsets and sizes, and little-endian fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace gor::launcher::image {

inline constexpr std::size_t kLfanewOffset = 0x3C;  // where the PE header's offset stands
inline constexpr std::size_t kSectionHeaderSize = 40;
inline constexpr std::uint16_t kMagicPe32 = 0x10B;
inline constexpr std::uint16_t kMagicPe32Plus = 0x20B;
// Where NumberOfRvaAndSizes stands in each kind of optional header; the data directories
// follow it.
inline constexpr std::size_t kDirectoryCountPe32 = 92;
inline constexpr std::size_t kDirectoryCountPe32Plus = 108;

// Little-endian fields of `b`; the caller has checked that they lie inside it.
inline std::uint16_t U16(std::string_view b, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) |
                                      static_cast<unsigned char>(b[at + 1]) << 8);
}
inline std::uint32_t U32(std::string_view b, std::size_t at) {
    return static_cast<std::uint32_t>(U16(b, at)) | static_cast<std::uint32_t>(U16(b, at + 2))
                                                        << 16;
}

}  // namespace gor::launcher::image
