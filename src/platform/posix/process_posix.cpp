// Process start and end on posix_spawn() and _exit(); the folder's claim on flock().
#include "platform/posix/process_posix.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <iostream>
#include <string>

#include "platform/posix/native_path.h"
#include "platform/posix/posix_error.h"

extern char** environ;

namespace gor::platform::posix {

ProcessPosix::ProcessPosix() {
    // Nobody waits for the updater; with SIGCHLD ignored the kernel reaps it, so it never
    // lingers as a zombie while this program still runs.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGCHLD, &ignore, nullptr);
}

std::string ProcessPosix::AppPath() {
    std::string buffer(PATH_MAX, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) ThrowLastError("readlink", "/proc/self/exe");
    buffer.resize(static_cast<std::size_t>(n));
    const auto slash = buffer.find_last_of('/');
    // The root folder has no name left once its separator goes; keep "/" then.
    if (slash == 0 || slash == std::string::npos) return "/";
    return buffer.substr(0, slash);
}

// The lock is taken on the folder itself, so no file is made or changed; the kernel drops it
// with the process. The descriptor is not inherited by the updater.
bool ProcessPosix::ClaimFolder(const std::string& folder) {
    const std::string native = NativePath(folder);
    const int fd = ::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) ThrowLastError("open", native);
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK) return false;
        throw PosixError(error, "lock", native);
    }
    if (claim_ >= 0) ::close(claim_);
    claim_ = fd;
    return true;
}

// POSIX has no sharing modes, so no hold of ours is in the program's way: it is let go once the
// program is spawned.
void ProcessPosix::Start(const std::string& exePath, int /*windowStyle*/,
                         const std::function<void()>& letGo) {
    const std::string path = NativePath(exePath);
    const auto slash = path.find_last_of('/');
    const std::string folder = slash == 0 ? "/" : path.substr(0, slash);
    posix_spawnattr_t attributes;
    ::posix_spawnattr_init(&attributes);
    // Ignored signals stay ignored across exec: give the child the default SIGCHLD back.
    sigset_t defaults;
    ::sigemptyset(&defaults);
    ::sigaddset(&defaults, SIGCHLD);
    ::posix_spawnattr_setsigdefault(&attributes, &defaults);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

    // The updater runs in its own folder, whatever folder the launcher was started from.
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    if (slash != std::string::npos)
        ::posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());

    std::string argument0 = path;
    char* argv[] = {argument0.data(), nullptr};
    pid_t pid;
    const int rc = ::posix_spawn(&pid, path.c_str(), &actions, &attributes, argv, environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    if (rc != 0) throw PosixError(rc, "start", path);
    letGo();
}

// No system here asks for consent: the shell's start is the direct one.
void ProcessPosix::StartThroughShell(const std::string& exePath, int windowStyle) {
    Start(exePath, windowStyle, [] {});
}

void ProcessPosix::End(int exitCode) {
    std::cout.flush();
    std::fflush(nullptr);
    ::_exit(exitCode);
}

}  // namespace gor::platform::posix
