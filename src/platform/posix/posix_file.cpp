// A file open for reading and writing raw bytes: positioned writes that never shorten it.
#include "platform/posix/posix_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/system_error.h"

namespace gor::platform::posix {

PosixFile::~PosixFile() {
    if (fd_ >= 0) ::close(fd_);
}

void PosixFile::RequireOpen(const char* operation) const {
    if (fd_ < 0) ThrowSystemError(EBADF, operation, path_);
}

std::uint64_t PosixFile::Length() {
    RequireOpen("stat");
    struct stat st;
    if (::fstat(fd_, &st) != 0) ThrowErrno("stat", path_);
    return static_cast<std::uint64_t>(st.st_size);
}

void PosixFile::Write(std::string_view bytes) {
    RequireOpen("write");
    while (!bytes.empty()) {
        const ssize_t n = ::pwrite(fd_, bytes.data(), bytes.size(), static_cast<off_t>(position_));
        if (n < 0) {
            if (errno == EINTR) continue;
            ThrowErrno("write", path_);
        }
        // A device that takes nothing and reports no error would loop forever.
        if (n == 0) ThrowSystemError(ENOSPC, "write", path_);
        position_ += static_cast<std::uint64_t>(n);
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

void PosixFile::Truncate(std::uint64_t length) {
    RequireOpen("truncate");
    if (::ftruncate(fd_, static_cast<off_t>(length)) != 0) ThrowErrno("truncate", path_);
}

void PosixFile::Close() {
    if (fd_ < 0) return;
    const int fd = fd_;
    fd_ = -1;
    // The descriptor is gone whatever close() says; a failure still means lost data.
    if (::close(fd) != 0 && errno != EINTR) ThrowErrno("close", path_);
}

}  // namespace gor::platform::posix
