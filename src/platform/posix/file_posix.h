// A file open for reading and writing raw bytes, with its own write position.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file_system.h"

namespace gor::platform::posix {

class FilePosix final : public File {
  public:
    // Takes ownership of the open descriptor `fd`; `path` names the file in error texts.
    FilePosix(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    ~FilePosix() override;
    FilePosix(const FilePosix&) = delete;
    FilePosix& operator=(const FilePosix&) = delete;

    std::uint64_t Length() override;
    std::uint64_t Position() override { return position_; }
    void Seek(std::uint64_t offset) override { position_ = offset; }
    // Writes every byte at the position (retrying short writes and signals); a full disk
    // throws std::system_error reading "write '<path>': No space left on device".
    void Write(std::string_view bytes) override;
    std::string ReadAt(std::uint64_t offset, std::size_t count) override;
    void Truncate(std::uint64_t length) override;
    bool IsPlainFile() override;
    void Close() override;

  private:
    void RequireOpen(const char* operation) const;

    int fd_;
    std::string path_;
    std::uint64_t position_ = 0;
};

}  // namespace gor::platform::posix
