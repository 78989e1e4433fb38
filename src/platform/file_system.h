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
    // The `count` bytes from `offset` on (the position is left alone); throws when the file
    // ends before them.
    virtual std::string ReadAt(std::uint64_t offset, std::size_t count) = 0;
    // Cuts the file at `length` bytes (the position is left alone).
    virtual void Truncate(std::uint64_t length) = 0;
    // Whether the open file is an ordinary file that only the name it was opened by reaches:
    // no link (a symbolic link or another reparse point) and no second name (a hard link).
    virtual bool IsPlainFile() = 0;
    virtual void Close() = 0;
};

// The first bytes of a file and its whole size.
struct FileHead {
    std::string bytes;
    std::uint64_t size = 0;
};

// What an updater is held for, so that the hold asks for no more than its step needs.
enum class HoldFor {
    // To check and start it as it is: reading, for others reading only.
    Reading,
    // To check, rename and start it: reading and removal (DELETE), for others reading only.
    // Asked from the check on, so the rename needs no second open: the folder must be
    // writable on these roads anyway.
    Renaming,
};

// An updater held open from its check to its start: while it is held nobody else may write,
// rename or remove it (others may read it, as a program start does), so the file that starts
// is the file that was checked. The one handle is kept from the check through the rename to
// the start; it is never closed and opened again. Closed by destruction. Failures throw
// std::system_error.
class HeldFile {
  public:
    virtual ~HeldFile() = default;
    // The file's first `maxBytes` bytes (all of it when shorter) and its size.
    virtual FileHead ReadHead(std::size_t maxBytes) = 0;
    // The `count` bytes from `offset` on, fewer where the file ends first (none from its end
    // on); the position others use is left alone.
    virtual std::string ReadAt(std::uint64_t offset, std::size_t count) = 0;
    // Gives the file the name `fileName` in its own folder, through the hold; fails when that
    // name exists, and on Windows for a file held for reading only (no removal access; POSIX
    // has none to ask). Called again after a failure, it tries again; once renamed, nothing is
    // left to do.
    virtual void Rename(const std::string& fileName) = 0;
    // As Rename, but a file of that name is replaced in the same step: either it stays as it
    // was or this file has its name, never neither. Fails, leaving both, where Windows refuses
    // to replace: that file is read-only, open (a program running from it among them), or may
    // not be removed.
    virtual void Replace(const std::string& fileName) = 0;
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

    // Opens for reading and writing, creating an empty file when absent, never truncating;
    // the position starts at 0. Throws std::system_error on failure.
    virtual std::unique_ptr<File> OpenReadWrite(const std::string& path) = 0;

    // As OpenReadWrite, except that a last name that is a link is not followed: Windows opens
    // the link itself (a reparse point), POSIX refuses it (ELOOP). File::IsPlainFile then tells
    // whether what opened is anybody else's, before a byte of it changes.
    virtual std::unique_ptr<File> OpenReadWriteNoFollow(const std::string& path) = 0;

    // Opens the existing file at `path` to hold it for `purpose` (see HeldFile); never creates
    // one. Throws std::system_error on failure, also while another program has it open for
    // writing.
    virtual std::unique_ptr<HeldFile> Hold(const std::string& path, HoldFor purpose) = 0;

    // Whether the file at `path` is one this user may read but not change: it opens, yet its
    // own permissions or its folder's refuse removing it (a game installed under Program
    // Files). A refusal on such a file is no passing state. Never throws: false when it
    // cannot tell, also for a file whose deletion is pending, which opens for nothing.
    virtual bool IsProtected(const std::string& path) = 0;

    // The folder `name` in the player's own folder for programs' local data (Windows' local
    // application data folder), created when absent; without a trailing separator. Throws
    // std::system_error.
    virtual std::string PlayerDataFolder(const std::string& name) = 0;
};

}  // namespace gor::platform
