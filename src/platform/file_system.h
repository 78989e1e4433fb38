// Files as the launcher and the download control use them. Paths are UTF-8;
// the Windows layer converts them to UTF-16, so any folder name works.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace gor::platform {

// Attribute mask of a directory search: which files besides ordinary ones it may find.
inline constexpr std::uint32_t kAttrNormal = 0;    // ordinary files only
inline constexpr std::uint32_t kAttrReadOnly = 1;  // ordinary and read-only files

// A file open for reading and writing raw bytes, with its own write position.
// Closed by Close or by destruction. Every failure throws std::system_error.
class File {
  public:
    virtual ~File() = default;
    virtual std::uint64_t Length() = 0;
    virtual std::uint64_t Position() = 0;
    virtual void Seek(std::uint64_t offset) = 0;
    // Writes all of `bytes` at the position and advances it; never shortens the file.
    virtual void Write(std::string_view bytes) = 0;
    // Cuts the file at `length` bytes (the position is left alone).
    virtual void Truncate(std::uint64_t length) = 0;
    virtual void Close() = 0;
};

// The first bytes of a file and its whole size.
struct FileHead {
    std::string bytes;
    std::uint64_t size = 0;
};

class FileSystem {
  public:
    virtual ~FileSystem() = default;

    // True when a file exists at `path` whose attributes the mask admits: mask 0 finds
    // ordinary files, mask 1 ordinary and read-only ones; hidden files, system files and
    // folders are never found. "Not found" is false; other failures of the search throw.
    virtual bool FindFile(const std::string& path, std::uint32_t attributeMask) = 0;

    // Deletes the file, whatever its attributes allow to be found. Throws std::system_error on
    // failure (in use, no permission); an absent file compares equal to
    // std::errc::no_such_file_or_directory.
    virtual void Remove(const std::string& path) = 0;

    // Gives `from` the name `to`; fails (throws) when `to` exists or `from` does not.
    virtual void Rename(const std::string& from, const std::string& to) = 0;

    // Opens for reading and writing, creating an empty file when absent, never truncating;
    // the position starts at 0. Throws std::system_error on failure.
    virtual std::unique_ptr<File> OpenReadWrite(const std::string& path) = 0;

    // Reads the file's first `maxBytes` bytes (all of it when shorter) and its size, leaving
    // the file as it is; never creates one. Throws std::system_error on failure.
    virtual FileHead ReadHead(const std::string& path, std::size_t maxBytes) = 0;
};

}  // namespace gor::platform
