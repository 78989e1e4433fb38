// A file open for reading and writing raw bytes: positioned writes that never shorten it.
#include "platform/posix/file_posix.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/posix_error.h"

namespace gor::platform::posix {

FilePosix::~FilePosix() {
    if (fd_ >= 0) ::close(fd_);
}

void FilePosix::RequireOpen(const char* operation) const {
    if (fd_ < 0) throw PosixError(EBADF, operation, path_);
}

std::uint64_t FilePosix::Length() {
    RequireOpen("stat");
    struct stat st;
    if (::fstat(fd_, &st) != 0) ThrowLastError("stat", path_);
    return static_cast<std::uint64_t>(st.st_size);
}

void FilePosix::Write(std::string_view bytes) {
    RequireOpen("write");
    while (!bytes.empty()) {
        const ssize_t n = ::pwrite(fd_, bytes.data(), bytes.size(), static_cast<off_t>(position_));
        if (n < 0) {
            if (errno == EINTR) continue;
            ThrowLastError("write", path_);
        }
        // A device that takes nothing and reports no error would loop forever.
        if (n == 0) throw PosixError(ENOSPC, "write", path_);
        position_ += static_cast<std::uint64_t>(n);
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

std::string FilePosix::ReadAt(std::uint64_t offset, std::size_t count) {
    RequireOpen("read");
    std::string bytes(count, '\0');
    for (std::size_t done = 0; done < count;) {
        const ssize_t n =
            ::pread(fd_, bytes.data() + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ThrowLastError("read", path_);
        if (n == 0) throw PosixError(ENODATA, "read", path_);
        done += static_cast<std::size_t>(n);
    }
    return bytes;
}

void FilePosix::Truncate(std::uint64_t length) {
    RequireOpen("truncate");
    if (::ftruncate(fd_, static_cast<off_t>(length)) != 0) ThrowLastError("truncate", path_);
}

// A symbolic link never opens here (O_NOFOLLOW); another name shows in the link count.
bool FilePosix::IsPlainFile() {
    RequireOpen("stat");
    struct stat st;
    if (::fstat(fd_, &st) != 0) ThrowLastError("stat", path_);
    return S_ISREG(st.st_mode) && st.st_nlink == 1;
}

void FilePosix::Close() {
    if (fd_ < 0) return;
    const int fd = fd_;
    fd_ = -1;
    // The descriptor is gone whatever close() says; a failure still means lost data.
    if (::close(fd) != 0 && errno != EINTR) ThrowLastError("close", path_);
}

}  // namespace gor::platform::posix
