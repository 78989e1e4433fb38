// The structural test of a Windows executable image: DOS header, PE signature, file header,
// optional header, section table, and the certificate table's place in the file.
#include "launcher/trust/executable_image.h"

#include <algorithm>

#include "launcher/base/joined.h"
#include "launcher/trust/image_layout.h"
#include "platform/hex_text.h"

namespace gor::launcher {
namespace {

using namespace image;  // the format's layout, one home for both readers

// Offsets and sizes of the image format's headers.
constexpr std::size_t kDosHeaderSize = 0x40;
constexpr std::size_t kFileHeaderSize = 20;         // after the 4-byte signature
constexpr std::uint32_t kCertificateDirectory = 4;  // its "address" is a file offset
// The loader reads a section's raw data in whole sectors and maps it in whole pages.
constexpr std::uint64_t kSectorBytes = 512;
constexpr std::uint64_t kPageBytes = 4096;

struct Machine {
    std::uint16_t code;
    const char* name;
};
constexpr Machine kMachines[] = {{0x014C, "i386"}, {0x8664, "AMD64"}, {0xAA64, "ARM64"}};

// The verdict's reason is its pieces in a row: texts as they are, numbers in decimal. (No
// printf: it would link a formatting library into the exe for a few numbers.)
std::string_view Piece(std::string_view text) {
    return text;
}
std::string Piece(std::uint64_t number) {
    return std::to_string(number);
}
template <class... Pieces>
ImageVerdict Verdict(bool whole, const Pieces&... pieces) {
    return {whole, Joined({Piece(pieces)...})};
}

// What lies past the head the check reads is not examined, never refused.
ImageVerdict PastTheHead(std::string_view what, std::size_t headSize) {
    return Verdict(true, what, " past the first ", headSize, " bytes; not examined");
}

std::uint64_t RoundUp(std::uint64_t value, std::uint64_t unit) {
    return (value + unit - 1) / unit * unit;
}

// A 16-bit field as the format's documentation writes it: 0x014C.
std::string Hex4(std::uint16_t value) {
    return Joined({"0x", platform::HexDigits(value, 4)});
}

}  // namespace

ImageVerdict CheckExecutableImage(std::string_view head, std::uint64_t fileSize) {
    if (fileSize == 0) return Verdict(false, "empty file");
    if (head.size() < 2 || head[0] != 'M' || head[1] != 'Z')
        return Verdict(false, "not an executable image (no MZ signature)");
    if (head.size() < kDosHeaderSize) return Verdict(false, "DOS header cut short");

    const std::uint64_t peAt = U32(head, kLfanewOffset);
    if (peAt + 4 > fileSize)
        return Verdict(false, "e_lfanew (", peAt, ") points past the end of the file");
    const std::uint64_t optionalAt = peAt + 4 + kFileHeaderSize;
    if (optionalAt > fileSize) return Verdict(false, "file header cut short");
    if (optionalAt > head.size()) return PastTheHead("headers lie", head.size());
    if (head.substr(peAt, 4) != std::string_view("PE\0\0", 4))
        return Verdict(false, "no PE signature at offset ", peAt);

    const std::uint16_t machineCode = U16(head, peAt + 4);
    const auto machine = std::find_if(std::begin(kMachines), std::end(kMachines),
                                      [&](const Machine& m) { return m.code == machineCode; });
    if (machine == std::end(kMachines))
        return Verdict(false, "machine ", Hex4(machineCode), " is not i386, AMD64 or ARM64");
    const std::uint16_t sections = U16(head, peAt + 6);
    const std::uint16_t optionalSize = U16(head, peAt + 20);

    if (optionalSize < 2 || optionalAt + 2 > fileSize)
        return Verdict(false, "optional header cut short");
    // Its magic may start on the head's last byte or just past it: read nothing beyond.
    if (optionalAt + 2 > head.size()) return PastTheHead("headers lie", head.size());
    const std::uint16_t magic = U16(head, optionalAt);
    if (magic != kMagicPe32 && magic != kMagicPe32Plus)
        return Verdict(false, "optional header magic ", Hex4(magic), " is not PE32 or PE32+");

    const std::uint64_t tableAt = optionalAt + optionalSize;
    const std::uint64_t tableEnd = tableAt + std::uint64_t{sections} * kSectionHeaderSize;
    if (tableEnd > fileSize) return Verdict(false, "section table cut short");
    if (tableEnd > head.size()) return PastTheHead("section table lies", head.size());

    for (std::uint16_t i = 0; i < sections; ++i) {
        const std::size_t entry = static_cast<std::size_t>(tableAt) + i * kSectionHeaderSize;
        const std::uint32_t mapped = U32(head, entry + 8);  // VirtualSize
        const std::uint32_t rawSize = U32(head, entry + 16);
        const std::uint32_t rawAt = U32(head, entry + 20);
        // Raw data past the mapped size is alignment padding the loader never reads.
        const std::uint64_t used = mapped == 0 ? rawSize : std::min(rawSize, mapped);
        if (rawAt == 0 || used == 0) continue;  // no raw data (e.g. a packer's empty section)
        const std::string_view field = head.substr(entry, 8);
        const std::string_view name = field.substr(0, field.find('\0'));
        const std::uint64_t end = std::uint64_t{rawAt} + used;
        if (end > fileSize)
            return Verdict(false, "section ", i + 1u, " (", name, ") ends at byte ", end,
                           ", past the end of the file (", fileSize, ")");
        // The loader reads from the sector the raw data starts in as many whole sectors as
        // the raw size takes, but no more than the section maps in pages, and refuses the
        // image ("probably truncated") when that runs past the file's last sector: a file
        // cut inside a section's padding passes the test above and still does not load.
        const std::uint64_t readAt = rawAt / kSectorBytes * kSectorBytes;
        const std::uint64_t readEnd =
            readAt + std::min(RoundUp(rawSize, kSectorBytes),
                              RoundUp(mapped == 0 ? rawSize : mapped, kPageBytes));
        if (readEnd > RoundUp(fileSize, kSectorBytes))
            return Verdict(false, "section ", i + 1u, " (", name, ") is read to byte ", readEnd,
                           ", past the file's last sector (", fileSize, " bytes)");
    }

    const std::size_t countAt =
        static_cast<std::size_t>(optionalAt) +
        (magic == kMagicPe32 ? kDirectoryCountPe32 : kDirectoryCountPe32Plus);
    const std::size_t certificateAt = countAt + 4 + std::size_t{kCertificateDirectory} * 8;
    if (certificateAt + 8 <= tableAt && U32(head, countAt) > kCertificateDirectory) {
        const std::uint64_t end =
            std::uint64_t{U32(head, certificateAt)} + U32(head, certificateAt + 4);
        if (U32(head, certificateAt + 4) != 0 && end > fileSize)
            return Verdict(false, "certificate table ends at byte ", end,
                           ", past the end of the file (", fileSize, ")");
    }
    return Verdict(true, "whole ", magic == kMagicPe32 ? "PE32" : "PE32+", " ", machine->name,
                   " image, ", sections, " sections, ", fileSize, " bytes");
}

}  // namespace gor::launcher
