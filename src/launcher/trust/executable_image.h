// Whether a file is a whole Windows executable image: the test an updater must pass before it
// is installed or started. Structural only: it reads the headers and checks that everything
// they place in the file lies inside it, which a transfer cut short, an error page or an
// empty file cannot fake.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace gor::launcher {

// How much of a file the check reads. Real images keep their headers and section table in the
// first few KiB; structures placed beyond this are not examined (never refused).
inline constexpr std::size_t kImageHeadBytes = std::size_t{64} * 1024;

struct ImageVerdict {
    bool whole = false;
    std::string reason;  // why it was refused, or what was found when it passed
};

// `head` is the file's first min(fileSize, kImageHeadBytes) bytes. Checks, in this order: the "MZ"
// signature, e_lfanew inside the file, the "PE\0\0" signature, a machine Windows runs (i386, AMD64,
// ARM64), the optional header's magic (PE32 or PE32+), every section's raw data and the certificate
// table (when present) inside the file. Lenient with what real images do: an overlay after the last
// section, a signature, sections without raw data (packed images), raw data padded past what the
// section maps. Pure: no I/O, never throws.
ImageVerdict CheckExecutableImage(std::string_view head, std::uint64_t fileSize);

}  // namespace gor::launcher
