// The native file system: the directory search with attribute masks, delete, a rename
// that never replaces, and opening files for raw reading and writing.
#pragma once

#include "platform/file_system.h"

namespace gor::platform::posix {

// Attributes are read from the file's mode: a name beginning with "." is hidden, anything
// but a regular file (folder, device, pipe) is never found, and a file without the owner's
// write bit is read-only (checked on the mode, not with access(), which says yes to root).
// Backslashes in paths are separators (see native_path.h). Files are created executable
// (less the umask), since the one the launcher creates is the program it starts.
class FileSystemPosix final : public FileSystem {
  public:
    bool FindFile(const std::string& path, std::uint32_t attributeMask) override;
    void Remove(const std::string& path) override;
    std::unique_ptr<File> OpenReadWrite(const std::string& path) override;
    std::unique_ptr<File> OpenReadWriteNoFollow(const std::string& path) override;
    std::unique_ptr<HeldFile> Hold(const std::string& path, HoldFor purpose) override;
    bool IsProtected(const std::string& path) override;
    // In $XDG_STATE_HOME, else ~/.local/state: the home of logs by the XDG base directories.
    std::string PlayerDataFolder(const std::string& name) override;
};

}  // namespace gor::platform::posix
