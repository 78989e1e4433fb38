// Files on Win32: the directory search with an attribute mask, delete, raw read/write files
// and held updaters, all with UTF-16 paths. Failures throw std::system_error.
#pragma once

#include "platform/file_system.h"

namespace gor::platform::win32 {

class FileSystemWin32 final : public FileSystem {
  public:
    bool FindFile(const std::string& path, std::uint32_t attributeMask) override;
    void Remove(const std::string& path) override;
    std::unique_ptr<File> OpenReadWrite(const std::string& path) override;
    std::unique_ptr<File> OpenReadWriteNoFollow(const std::string& path) override;
    std::unique_ptr<HeldFile> Hold(const std::string& path, HoldFor purpose) override;
    bool IsProtected(const std::string& path) override;
    std::string PlayerDataFolder(const std::string& name) override;
};

// The handle (a HANDLE) of a file held by FileSystemWin32, for the signature check.
void* HandleOf(HeldFile& file);

}  // namespace gor::platform::win32
