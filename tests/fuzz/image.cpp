// Fuzz target: the executable-image check and the version resource. Any bytes are judged without
// reading outside what it is given, also when the file is longer than the head it reads; an
// image it passes, whole and fully examined, still passes with an overlay appended and is
// refused when cut anywhere before the end of what its headers place in the file.
//
// Input: a first byte choosing how much longer than its head the file is (0: the head is the
// whole file), then the file's first bytes.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "launcher/trust/executable_image.h"
#include "launcher/trust/version_resource.h"

namespace {

using gor::fuzz::Require;
using gor::launcher::CheckExecutableImage;
using gor::launcher::ImageVerdict;

// Little-endian fields; past the end of `b` they read as 0, so the model never over-reads.
std::uint32_t U32(std::string_view b, std::uint64_t at) {
    std::uint32_t v = 0;
    for (std::size_t i = 4; i-- > 0;)
        v = v << 8 | (at + i < b.size() ? static_cast<unsigned char>(b[at + i]) : 0u);
    return v;
}
std::uint16_t U16(std::string_view b, std::uint64_t at) {
    return static_cast<std::uint16_t>(
        U32(b.substr(0, std::min<std::uint64_t>(b.size(), at + 2)), at));
}

// Judges `file` as the launcher does: by its first bytes, in a buffer of exactly that size,
// so a read past them is caught.
ImageVerdict Judge(std::string_view file, std::uint64_t fileSize) {
    const std::string head(file.substr(0, gor::launcher::kImageHeadBytes));
    return CheckExecutableImage(head, fileSize);
}

// How far into the file an image's headers place data it needs: the section table, each
// section's raw data (what it maps of it) and the certificate table. The image's headers are
// known to lie inside `file`.
std::uint64_t Extent(std::string_view file) {
    const std::uint64_t peAt = U32(file, 0x3C);
    const std::uint64_t optionalAt = peAt + 24;
    const std::uint16_t sections = U16(file, peAt + 6);
    const std::uint64_t tableAt = optionalAt + U16(file, peAt + 20);
    std::uint64_t extent = std::max<std::uint64_t>(optionalAt + 2, tableAt + sections * 40ull);
    for (std::uint16_t i = 0; i < sections; ++i) {
        const std::uint64_t entry = tableAt + i * 40u;
        const std::uint32_t mapped = U32(file, entry + 8), raw = U32(file, entry + 16);
        const std::uint32_t at = U32(file, entry + 20);
        const std::uint64_t used = mapped == 0 ? raw : std::min(raw, mapped);
        if (at != 0 && used != 0) extent = std::max<std::uint64_t>(extent, at + used);
    }
    return extent;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string file(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::uint64_t longer = data[0] < 0x80 ? 0 : (data[0] - 0x7Fu) * 997u;

    // Its version resource, read only through a reader that gives no byte past the file.
    gor::launcher::ReadVersionResource([&](std::uint64_t at, std::size_t count) {
        return file.substr(static_cast<std::size_t>(std::min<std::uint64_t>(at, file.size())),
                           count);
    });
    const ImageVerdict verdict = Judge(file, file.size() + longer);
    Require(!verdict.reason.empty(), "a verdict without a reason");
    // A whole image, fully examined: the head the check read was all of it.
    if (longer != 0 || !verdict.whole) return 0;
    Require(Judge(file + std::string(64, '\xCC'), file.size() + 64).whole,
            "an overlay made a whole image fail");
    const std::uint64_t extent = Extent(file);
    Require(extent <= file.size(), "passed with data past the end: " + verdict.reason);
    for (std::uint64_t cut : {std::uint64_t{0}, extent / 2, extent - 1}) {
        if (cut >= extent) continue;
        const std::string part = file.substr(0, static_cast<std::size_t>(cut));
        Require(!Judge(part, cut).whole, "an image cut at " + std::to_string(cut) + " of " +
                                             std::to_string(extent) + " passed");
    }
    return 0;
}
