// The version resource of an executable image, parsed from its bytes: PE headers and section
// table, the three levels of the resource directory (type, name, language), the data entry,
// then VS_VERSIONINFO's nested blocks. Every field is read only after its place was checked
// against the bytes at hand.
#include "launcher/trust/version_resource.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string_view>

#include "launcher/trust/executable_image.h"
#include "launcher/trust/image_layout.h"

namespace gor::launcher {
namespace {

using namespace image;  // the format's layout, one home for both readers
constexpr std::uint32_t kResourceDirectory = 2;
constexpr std::uint32_t kRtVersion = 16;
// A directory's header, one of its entries, a data entry.
constexpr std::size_t kDirectoryHeader = 16;
constexpr std::size_t kDirectoryEntry = 8;
constexpr std::size_t kDataEntry = 16;
constexpr std::uint32_t kHighBit = 0x80000000u;  // a named entry; an entry that is a directory
// More entries than any image has at one level are not looked at.
constexpr std::size_t kMostEntries = 1024;
// A block's length is 16 bits: no version resource is longer.
constexpr std::size_t kMostVersionBytes = 0xFFFF;
constexpr std::uint32_t kFixedSignature = 0xFEEF04BD;
constexpr std::size_t kFixedInfoSize = 52;

// Little-endian fields of a byte string, each asked for only where Has said it lies.
struct Bytes {
    std::string_view b;
    bool Has(std::uint64_t at, std::uint64_t count) const {
        return at <= b.size() && count <= b.size() - at;
    }
    std::uint16_t U16(std::size_t at) const { return image::U16(b, at); }
    std::uint32_t U32(std::size_t at) const { return image::U32(b, at); }
};

// Where a section's raw data places an address of the image, and how much of it follows.
struct Place {
    std::uint64_t at;
    std::uint64_t available;
};

// The image's sections from its headers, and the resource directory's address.
struct Image {
    Bytes head;
    std::size_t tableAt = 0;
    std::size_t sections = 0;
    std::uint32_t resources = 0;

    std::optional<Place> FileOffset(std::uint32_t address) const {
        for (std::size_t i = 0; i < sections; ++i) {
            const std::size_t entry = tableAt + i * kSectionHeaderSize;
            const std::uint32_t start = head.U32(entry + 12), rawSize = head.U32(entry + 16);
            if (address >= start && address - start < rawSize)
                return Place{std::uint64_t{head.U32(entry + 20)} + (address - start),
                             rawSize - (address - start)};
        }
        return std::nullopt;
    }
};

std::optional<Image> ReadHeaders(std::string_view bytes) {
    Image image{{bytes}};
    const Bytes& h = image.head;
    if (!h.Has(0, kLfanewOffset + 4) || bytes.substr(0, 2) != "MZ") return std::nullopt;
    const std::uint32_t peAt = h.U32(kLfanewOffset);
    const std::uint64_t optionalAt = std::uint64_t{peAt} + 24;
    if (!h.Has(peAt, 24) || bytes.substr(peAt, 4) != std::string_view("PE\0\0", 4) ||
        !h.Has(optionalAt, 2))
        return std::nullopt;
    const std::uint64_t optionalEnd = optionalAt + h.U16(peAt + 20);
    const std::uint64_t countAt =
        optionalAt + (h.U16(static_cast<std::size_t>(optionalAt)) == kMagicPe32
                          ? kDirectoryCountPe32
                          : kDirectoryCountPe32Plus);
    const std::uint64_t directoryAt = countAt + 4 + std::uint64_t{kResourceDirectory} * 8;
    if (directoryAt + 8 > optionalEnd || !h.Has(directoryAt, 8) ||
        h.U32(static_cast<std::size_t>(countAt)) <= kResourceDirectory)
        return std::nullopt;
    image.resources = h.U32(static_cast<std::size_t>(directoryAt));
    // Only the section entries the head holds whole are looked at.
    image.tableAt = static_cast<std::size_t>(std::min<std::uint64_t>(optionalEnd, bytes.size()));
    image.sections =
        std::min<std::size_t>(h.U16(peAt + 6), (bytes.size() - image.tableAt) / kSectionHeaderSize);
    if (image.resources == 0) return std::nullopt;
    return image;
}

// The UTF-16 text from `at`, to its zero or `end`, as UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf8(const Bytes& data, std::size_t at, std::size_t end) {
    std::string out;
    for (; at + 1 < end && data.U16(at) != 0; at += 2) {
        std::uint32_t c = data.U16(at);
        const std::uint32_t next = at + 3 < end ? data.U16(at + 2) : 0;
        if (c >= 0xD800 && c < 0xDC00 && next >= 0xDC00 && next < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
            at += 2;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// One block of VS_VERSIONINFO: wLength, wValueLength, wType, a key ending in a zero, then
// (each on a 32-bit boundary of the resource) its value and its children.
struct Block {
    std::size_t end = 0;
    std::uint16_t valueLength = 0;
    std::size_t keyAt = 0;  // the key is read where it lies, up to its zero
    std::size_t valueAt = 0;
};

std::size_t Align4(std::size_t at) {
    return (at + 3) & ~std::size_t{3};
}

std::optional<Block> BlockAt(const Bytes& data, std::size_t at, std::size_t limit) {
    if (at >= limit || !data.Has(at, 6)) return std::nullopt;
    const std::size_t length = data.U16(at);
    if (length < 6 || length > limit - at) return std::nullopt;
    Block block{at + length, data.U16(at + 2), at + 6, 0};
    std::size_t p = block.keyAt;
    while (p + 1 < block.end && data.U16(p) != 0) p += 2;
    if (p + 1 >= block.end) return std::nullopt;  // no end to the key
    block.valueAt = Align4(p + 2);
    return block;
}

// Whether the block's key is `name`, in any letter case (ASCII; the key has its zero).
bool HasKey(const Bytes& data, const Block& block, std::string_view name) {
    std::size_t p = block.keyAt;
    for (const char n : name) {
        const std::uint16_t k = data.U16(p);
        if (k >= 0x80 || std::tolower(k) != std::tolower(static_cast<unsigned char>(n)))
            return false;
        p += 2;
    }
    return data.U16(p) == 0;
}

// Calls `each` for each child of the block from `at` on, until it returns true or the block
// ends; every child lies inside its parent and is longer than its header, so this ends.
template <class Each>
bool Children(const Bytes& data, std::size_t at, std::size_t end, Each each) {
    for (at = Align4(at); at < end;) {
        const std::optional<Block> child = BlockAt(data, at, end);
        if (!child) return false;
        if (each(*child)) return true;
        at = Align4(child->end);
    }
    return false;
}

VersionFacts ParseVersionInfo(std::string_view bytes) {
    const Bytes data{bytes};
    VersionFacts facts;
    const std::optional<Block> root = BlockAt(data, 0, bytes.size());
    if (!root || !HasKey(data, *root, "VS_VERSION_INFO")) return facts;
    const std::size_t fixed = root->valueAt;
    if (root->valueLength >= kFixedInfoSize && fixed + kFixedInfoSize <= root->end &&
        data.U32(fixed) == kFixedSignature)
        facts.fileVersion = std::uint64_t{data.U32(fixed + 8)} << 32 | data.U32(fixed + 12);
    Children(data, root->valueAt + root->valueLength, root->end, [&](const Block& info) {
        if (!HasKey(data, info, "StringFileInfo")) return false;
        return Children(data, info.valueAt, info.end, [&](const Block& table) {
            return Children(data, table.valueAt, table.end, [&](const Block& entry) {
                if (!HasKey(data, entry, "OriginalFilename")) return false;
                facts.originalFilename = Utf8(data, entry.valueAt, entry.end);
                return !facts.originalFilename.empty();
            });
        });
    });
    return facts;
}

// The entry of the resource directory at `directory` (from the root) with the ID `id`, or
// the first one when `id` is empty, that is a directory itself (`subdirectory`) or not: where
// it points, from the root.
std::optional<std::uint32_t> EntryOf(const ReadFileBytes& read, std::uint64_t root,
                                     std::uint32_t directory, std::optional<std::uint32_t> id,
                                     bool subdirectory) {
    const std::string header = read(root + directory, kDirectoryHeader);
    const Bytes h{header};
    if (!h.Has(0, kDirectoryHeader)) return std::nullopt;
    const std::size_t count =
        std::min<std::size_t>(h.U16(12) + std::size_t{h.U16(14)}, kMostEntries);
    const std::string table = read(root + directory + kDirectoryHeader, count * kDirectoryEntry);
    const Bytes t{table};
    for (std::size_t at = 0; t.Has(at, kDirectoryEntry); at += kDirectoryEntry) {
        const std::uint32_t name = t.U32(at), target = t.U32(at + 4);
        if (id && ((name & kHighBit) != 0 || name != *id)) continue;
        if (((target & kHighBit) != 0) == subdirectory) return target & ~kHighBit;
    }
    return std::nullopt;
}

}  // namespace

VersionFacts ReadVersionResource(const ReadFileBytes& read) {
    const std::string head = read(0, kImageHeadBytes);
    const std::optional<Image> image = ReadHeaders(head);
    if (!image) return {};
    const std::optional<Place> root = image->FileOffset(image->resources);
    if (!root) return {};
    const auto type = EntryOf(read, root->at, 0, kRtVersion, true);
    const auto name = type ? EntryOf(read, root->at, *type, std::nullopt, true) : std::nullopt;
    const auto language = name ? EntryOf(read, root->at, *name, std::nullopt, false) : std::nullopt;
    if (!language) return {};
    const std::string entry = read(root->at + *language, kDataEntry);
    const Bytes e{entry};
    if (!e.Has(0, kDataEntry)) return {};
    const std::optional<Place> data = image->FileOffset(e.U32(0));
    if (!data) return {};
    const std::uint64_t size =
        std::min<std::uint64_t>({e.U32(4), data->available, kMostVersionBytes});
    return ParseVersionInfo(read(data->at, static_cast<std::size_t>(size)));
}

}  // namespace gor::launcher
