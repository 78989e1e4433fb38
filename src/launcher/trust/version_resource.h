// The name and version a program's publisher wrote into its own version resource, read from
// the program's bytes: the image's resource directory, its RT_VERSION entry, and in it the
// fixed FileVersion and the OriginalFilename string. Nothing beside the file counts (no
// language resource file), and the file is not opened again.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace gor::launcher {

// What a program's version resource says of it, as the publisher wrote it when signing.
struct VersionFacts {
    // The name it gives the program (OriginalFilename, of the first of its string tables that
    // has one); empty when none names it.
    std::string originalFilename;
    // Its fixed FileVersion a.b.c.d as (a << 48) | (b << 32) | (c << 16) | d; 0 when it has none.
    std::uint64_t fileVersion = 0;
};

// Reads the file's `count` bytes from `offset` on: fewer (or none) where the file ends first.
using ReadFileBytes = std::function<std::string(std::uint64_t offset, std::size_t count)>;

// The version resource of the executable image that `read` reads: its headers from the first
// kImageHeadBytes, the resource directory's first entries of type RT_VERSION (the first name,
// the first language, as the image itself holds them), the VS_VERSIONINFO block they place.
// Bounded: a few reads, none over 64 KiB. An image without one, or whose headers, directory or
// block do not hold together, gives empty facts (a field it cannot find is left empty); never
// throws but what `read` throws. Pure: no I/O but through `read`.
VersionFacts ReadVersionResource(const ReadFileBytes& read);

}  // namespace gor::launcher
