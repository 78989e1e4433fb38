// The native file system on stat(), unlink(), renameat2() and open().
#include "platform/posix/file_system_posix.h"

#include <fcntl.h>
#include <stdio.h>  // renameat2
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

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

// The native build's stand-in for a held file: POSIX has neither sharing modes nor a rename
// through a descriptor, so the file is read through the descriptor and renamed by its path.
class HeldFilePosix final : public HeldFile {
  public:
    HeldFilePosix(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    ~HeldFilePosix() override { ::close(fd_); }
    HeldFilePosix(const HeldFilePosix&) = delete;
    HeldFilePosix& operator=(const HeldFilePosix&) = delete;

    FileHead ReadHead(std::size_t maxBytes) override {
        struct stat st;
        if (::fstat(fd_, &st) != 0) ThrowLastError("stat", path_);
        const auto size = static_cast<std::uint64_t>(st.st_size);
        return {ReadAt(0, static_cast<std::size_t>(std::min<std::uint64_t>(size, maxBytes))), size};
    }

    std::string ReadAt(std::uint64_t offset, std::size_t count) override {
        std::string bytes(count, '\0');
        std::size_t got = 0;
        while (got < count) {
            const ssize_t n =
                ::pread(fd_, bytes.data() + got, count - got, static_cast<off_t>(offset + got));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) ThrowLastError("read", path_);
            if (n == 0) break;  // the end of the file (it may be shorter than a moment ago)
            got += static_cast<std::size_t>(n);
        }
        bytes.resize(got);
        return bytes;
    }

    void Rename(const std::string& fileName) override {
        const std::string target = path_.substr(0, path_.find_last_of('/') + 1) + fileName;
        if (::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0) {
            if (errno != EINVAL && errno != ENOSYS) ThrowLastError("rename", path_, target);
            // A file system without RENAME_NOREPLACE: link() refuses an existing target too.
            if (::link(path_.c_str(), target.c_str()) != 0) ThrowLastError("rename", path_, target);
            if (::unlink(path_.c_str()) != 0) ThrowLastError("rename", path_, target);
        }
        path_ = target;
    }

    // rename() replaces in one step; a read-only file is refused first, as Windows refuses it.
    void Replace(const std::string& fileName) override {
        const std::string target = path_.substr(0, path_.find_last_of('/') + 1) + fileName;
        struct stat st;
        if (::stat(target.c_str(), &st) == 0 && (st.st_mode & S_IWUSR) == 0) {
            errno = EACCES;
            ThrowLastError("replace", path_, target);
        }
        if (::rename(path_.c_str(), target.c_str()) != 0) ThrowLastError("replace", path_, target);
        path_ = target;
    }

  private:
    int fd_;
    std::string path_;
};

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

namespace {

// Created executable (less the umask): on Windows any file can be started, and the file the
// launcher creates is the updater it starts next.
std::unique_ptr<File> OpenFile(const std::string& path, int flags) {
    const std::string native = NativePath(path);
    int fd;
    do {
        fd = ::open(native.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | flags, 0777);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) ThrowLastError("open", native);
    return std::make_unique<FilePosix>(fd, native);
}

}  // namespace

std::unique_ptr<File> FileSystemPosix::OpenReadWrite(const std::string& path) {
    return OpenFile(path, 0);
}

std::unique_ptr<File> FileSystemPosix::OpenReadWriteNoFollow(const std::string& path) {
    return OpenFile(path, O_NOFOLLOW);
}

// POSIX has no DELETE access: a file is held for reading whatever follows.
std::unique_ptr<HeldFile> FileSystemPosix::Hold(const std::string& path, HoldFor /*purpose*/) {
    const std::string native = NativePath(path);
    int fd;
    do {
        fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) ThrowLastError("open", native);
    return std::make_unique<HeldFilePosix>(fd, native);
}

// A file this user may not change is one in a folder it may not write: removing and renaming
// are the folder's business on POSIX.
bool FileSystemPosix::IsProtected(const std::string& path) {
    const std::string native = NativePath(path);
    const auto slash = native.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : native.substr(0, slash + 1);
    return ::access(native.c_str(), F_OK) == 0 && ::access(folder.c_str(), W_OK) != 0;
}

std::string FileSystemPosix::PlayerDataFolder(const std::string& name) {
    const char* state = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    std::string folder = state != nullptr && *state != '\0' ? state
                         : home != nullptr                  ? std::string(home) + "/.local/state"
                                                            : throw PosixError(ENOENT, "HOME");
    for (const std::string& level : {std::string(), std::string("/") + name}) {
        folder += level;
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) ThrowLastError("mkdir", folder);
    }
    return folder;
}

}  // namespace gor::platform::posix
