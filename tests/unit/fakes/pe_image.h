// Small Windows executable images for tests, laid out as a linker lays them out: DOS header,
// "PE\0\0", file header, optional header with its data directories, section table, headers
// padded to 0x400, then each section's raw data (0x200 bytes, of which it maps 0x180), an
// optional .rsrc section last with a version resource as a resource compiler writes it, then
// an optional overlay and an optional certificate table at the very end.
#pragma once

#include <cstdint>
#include <string>

namespace gor::test {

struct ImageShape {
    std::uint16_t machine = 0x014C;  // i386
    bool pe32Plus = false;
    std::uint16_t magic = 0;  // 0: the one that goes with pe32Plus
    int sections = 3;
    bool packedSection = false;  // one more section first, with no raw data (as packers make)
    std::string overlay;         // bytes after the last section
    std::uint32_t certificateBytes = 0;
    std::string versionName;  // not empty: a version resource names the file so
    std::uint64_t fileVersion = 0;
};

inline constexpr std::uint32_t kImagePeAt = 0x80;
inline constexpr std::uint32_t kImageHeadersSize = 0x400;
inline constexpr std::uint32_t kImageSectionRaw = 0x200;
inline constexpr std::uint32_t kImageSectionMapped = 0x180;

inline void PutU16(std::string& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<char>(v & 0xFF);
    b[at + 1] = static_cast<char>(v >> 8);
}
inline void PutU32(std::string& b, std::size_t at, std::uint32_t v) {
    PutU16(b, at, static_cast<std::uint16_t>(v & 0xFFFF));
    PutU16(b, at + 2, static_cast<std::uint16_t>(v >> 16));
}

// The version block's place in .rsrc.
inline constexpr std::uint32_t kImageVersionBlock = 0x58;

// A block of VS_VERSIONINFO: its header, its key, its value and its children, each on a
// 32-bit boundary.
inline std::string VersionNode(const std::string& key, const std::string& value,
                               std::uint16_t valueLength, std::uint16_t type,
                               const std::string& children = "") {
    std::string b(6, '\0');
    for (const char c : key + '\0') b += {c, '\0'};
    b.resize((b.size() + 3) / 4 * 4, '\0');
    b += value;
    b.resize((b.size() + 3) / 4 * 4, '\0');
    b += children;
    PutU16(b, 0, static_cast<std::uint16_t>(b.size()));
    PutU16(b, 2, valueLength);
    PutU16(b, 4, type);
    return b;
}

// .rsrc at `address`: type 16 (RT_VERSION), name 1, language 0x409, then the data entry and
// the version block.
inline std::string VersionResource(const ImageShape& shape, std::uint32_t address) {
    std::string fixed(52, '\0');
    PutU32(fixed, 0, 0xFEEF04BD);
    PutU32(fixed, 8, static_cast<std::uint32_t>(shape.fileVersion >> 32));
    PutU32(fixed, 12, static_cast<std::uint32_t>(shape.fileVersion));
    std::string name;
    for (const char c : shape.versionName + '\0') name += {c, '\0'};
    const std::string strings = VersionNode(
        "StringFileInfo", "", 0, 1,
        VersionNode(
            "040904B0", "", 0, 1,
            VersionNode("OriginalFilename", name, static_cast<std::uint16_t>(name.size() / 2), 1)));
    const std::string block = VersionNode("VS_VERSION_INFO", fixed, 52, 0, strings);
    std::string r(kImageVersionBlock, '\0');
    const auto directory = [&](std::uint32_t at, std::uint32_t id, std::uint32_t target) {
        PutU16(r, at + 14, 1), PutU32(r, at + 16, id), PutU32(r, at + 20, target);  // one ID
    };
    directory(0, 16, 0x80000018), directory(0x18, 1, 0x80000030), directory(0x30, 0x409, 0x48);
    PutU32(r, 0x48, address + kImageVersionBlock);
    PutU32(r, 0x4C, static_cast<std::uint32_t>(block.size()));
    return r + block;
}

// Where the section table begins, and the offset of a section's entry in it.
inline std::size_t SectionEntry(const ImageShape& shape, int index) {
    const std::size_t optionalSize = shape.pe32Plus ? 240 : 224;
    return kImagePeAt + 24 + optionalSize + static_cast<std::size_t>(index) * 40;
}

inline std::string BuildImage(const ImageShape& shape = {}) {
    const bool resources = !shape.versionName.empty();
    const int count = shape.sections + (shape.packedSection ? 1 : 0) + (resources ? 1 : 0);
    std::string b(kImageHeadersSize, '\0');
    b[0] = 'M', b[1] = 'Z';
    PutU32(b, 0x3C, kImagePeAt);
    b.replace(kImagePeAt, 4, std::string("PE\0\0", 4));
    PutU16(b, kImagePeAt + 4, shape.machine);
    PutU16(b, kImagePeAt + 6, static_cast<std::uint16_t>(count));
    const std::size_t optionalAt = kImagePeAt + 24;
    PutU16(b, kImagePeAt + 20, shape.pe32Plus ? 240 : 224);
    PutU16(b, kImagePeAt + 22, 0x0102);  // executable, 32-bit words
    PutU16(b, optionalAt, shape.magic ? shape.magic : (shape.pe32Plus ? 0x20B : 0x10B));
    const std::size_t countAt = optionalAt + (shape.pe32Plus ? 108 : 92);
    PutU32(b, countAt, 16);

    std::uint32_t rawAt = kImageHeadersSize;
    std::string rsrc;
    for (int i = 0; i < count; ++i) {
        const std::size_t entry = SectionEntry(shape, i);
        const bool packed = shape.packedSection && i == 0;
        const bool last = resources && i == count - 1;
        const std::uint32_t address = 0x1000 * static_cast<std::uint32_t>(i + 1);
        if (last) {
            rsrc = VersionResource(shape, address);
            PutU32(b, countAt + 4 + 2 * 8, address);
            PutU32(b, countAt + 4 + 2 * 8 + 4, static_cast<std::uint32_t>(rsrc.size()));
        }
        std::string name = packed ? "UPX0" : last ? ".rsrc" : ".sec" + std::to_string(i);
        name.resize(8, '\0');
        b.replace(entry, 8, name);
        const auto size = static_cast<std::uint32_t>(rsrc.size()), raw = (size + 511) / 512 * 512;
        PutU32(b, entry + 8, packed ? 0x10000 : last ? size : kImageSectionMapped);
        PutU32(b, entry + 12, address);
        if (packed) continue;
        PutU32(b, entry + 16, last ? raw : kImageSectionRaw);
        PutU32(b, entry + 20, rawAt);
        b.resize(rawAt, 'x');  // the sections' raw data
        b += rsrc;
        rawAt += last ? raw : kImageSectionRaw;
    }
    b.resize(rawAt, 'x');
    b += shape.overlay;
    if (shape.certificateBytes) {
        PutU32(b, countAt + 4 + 4 * 8, static_cast<std::uint32_t>(b.size()));
        PutU32(b, countAt + 4 + 4 * 8 + 4, shape.certificateBytes);
        b.append(shape.certificateBytes, 'c');
    }
    return b;
}

// An image of the default shape as changed by `change(shape)`.
template <class Change>
std::string BuildImage(Change change) {
    ImageShape shape;
    change(shape);
    return BuildImage(shape);
}

}  // namespace gor::test
