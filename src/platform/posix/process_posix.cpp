// Process start and end on posix_spawn() and _exit().
#include "platform/posix/process_posix.h"

#include <signal.h>
#include <spawn.h>
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

void ProcessPosix::Start(const std::string& exePath, int /*windowStyle*/) {
    const std::string path = NativePath(exePath);
    posix_spawnattr_t attributes;
    ::posix_spawnattr_init(&attributes);
    // Ignored signals stay ignored across exec: give the child the default SIGCHLD back.
    sigset_t defaults;
    ::sigemptyset(&defaults);
    ::sigaddset(&defaults, SIGCHLD);
    ::posix_spawnattr_setsigdefault(&attributes, &defaults);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

    std::string argument0 = path;
    char* argv[] = {argument0.data(), nullptr};
    pid_t pid;
    const int rc = ::posix_spawn(&pid, path.c_str(), nullptr, &attributes, argv, environ);
    ::posix_spawnattr_destroy(&attributes);
    if (rc != 0) throw PosixError(rc, "start", path);
}

void ProcessPosix::End(int exitCode) {
    std::cout.flush();
    std::fflush(nullptr);
    ::_exit(exitCode);
}

}  // namespace gor::platform::posix
