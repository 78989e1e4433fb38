// Files on Win32: the directory search with an attribute mask, delete, rename and raw
// read/write files, all with UTF-16 paths. Failures throw std::system_error.
#pragma once

#include "platform/file_system.h"

namespace gor::platform::win32 {

class FileSystemWin32 final : public FileSystem {
  public:
    bool FindFile(const std::string& path, std::uint32_t attributeMask) override;
    void Remove(const std::string& path) override;
    void Rename(const std::string& from, const std::string& to) override;
    std::unique_ptr<File> OpenReadWrite(const std::string& path) override;
    FileHead ReadHead(const std::string& path, std::size_t maxBytes) override;
};

}  // namespace gor::platform::win32
