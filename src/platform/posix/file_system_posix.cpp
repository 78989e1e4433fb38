// The native file system on stat(), unlink(), renameat2() and open().
#include "platform/posix/file_system_posix.h"

#include <fcntl.h>
#include <stdio.h>  // renameat2
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/posix/file_posix.h"
#include "platform/posix/native_path.h"
#include "platform/posix/posix_error.h"

namespace gor::platform::posix {

namespace {

bool IsHidden(const std::string& path) {
    const auto slash = path.find_last_of('/');
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    return start < path.size() && path[start] == '.';
}

}  // namespace

bool FileSystemPosix::FindFile(const std::string& path, std::uint32_t attributeMask) {
    const std::string native = NativePath(path);
    struct stat st;
    if (::stat(native.c_str(), &st) != 0) {
        // Absent, or a path through something that is not a folder: no match.
        if (errno == ENOENT || errno == ENOTDIR) return false;
        ThrowLastError("find", native);
    }
    if (!S_ISREG(st.st_mode) || IsHidden(native)) return false;
    const bool readOnly = (st.st_mode & S_IWUSR) == 0;
    return !readOnly || (attributeMask & kAttrReadOnly) != 0;
}

void FileSystemPosix::Remove(const std::string& path) {
    const std::string native = NativePath(path);
    if (::unlink(native.c_str()) != 0) ThrowLastError("remove", native);
}

void FileSystemPosix::Rename(const std::string& from, const std::string& to) {
    const std::string source = NativePath(from);
    const std::string target = NativePath(to);
    if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
        return;
    if (errno != EINVAL && errno != ENOSYS) ThrowLastError("rename", source, target);
    // A file system without RENAME_NOREPLACE: link() refuses an existing target just the same.
    if (::link(source.c_str(), target.c_str()) != 0) ThrowLastError("rename", source, target);
    if (::unlink(source.c_str()) != 0) ThrowLastError("rename", source, target);
}

std::unique_ptr<File> FileSystemPosix::OpenReadWrite(const std::string& path) {
    const std::string native = NativePath(path);
    int fd;
    // Created executable (less the umask): on Windows any file can be started, and the file
    // the launcher creates is the updater it starts next.
    do {
        fd = ::open(native.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0777);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) ThrowLastError("open", native);
    return std::make_unique<FilePosix>(fd, native);
}

FileHead FileSystemPosix::ReadHead(const std::string& path, std::size_t maxBytes) {
    const std::string native = NativePath(path);
    int fd;
    do {
        fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) ThrowLastError("open", native);
    const auto closeFd = [fd] { ::close(fd); };
    FileHead head;
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        closeFd();
        throw PosixError(error, "stat", native);
    }
    head.size = static_cast<std::uint64_t>(st.st_size);
    head.bytes.resize(static_cast<std::size_t>(std::min<std::uint64_t>(head.size, maxBytes)));
    std::size_t got = 0;
    while (got < head.bytes.size()) {
        const ssize_t n = ::read(fd, head.bytes.data() + got, head.bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int error = errno;
            closeFd();
            throw PosixError(error, "read", native);
        }
        if (n == 0) break;  // shorter than it was a moment ago
        got += static_cast<std::size_t>(n);
    }
    head.bytes.resize(got);
    closeFd();
    return head;
}

}  // namespace gor::platform::posix
