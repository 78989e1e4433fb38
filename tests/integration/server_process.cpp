// Test servers as child processes: spawn, read the "listening PORT" line, stop on SIGTERM.
#include "server_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace gor::test {

namespace {

constexpr int kStopMilliseconds = 10000;

double MonotonicSeconds() {
    timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

}  // namespace

ServerProcess::ServerProcess(const std::vector<std::string>& argv, double startSeconds) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    // The child gets default signal handling, whatever this test process set up.
    posix_spawnattr_t attributes;
    ::posix_spawnattr_init(&attributes);
    sigset_t all;
    ::sigfillset(&all);
    ::posix_spawnattr_setsigdefault(&attributes, &all);
    sigset_t none;
    ::sigemptyset(&none);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const int rc = ::posix_spawnp(&pid_, args[0], &actions, &attributes, args.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    ::close(pipeFds[1]);
    output_ = pipeFds[0];
    if (rc != 0) {
        pid_ = -1;
        ::close(output_);
        throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
    }

    std::string line;
    const double deadline = MonotonicSeconds() + startSeconds;
    while (line.find('\n') == std::string::npos) {
        const double left = deadline - MonotonicSeconds();
        pollfd pfd{output_, POLLIN, 0};
        const int ready = left > 0 ? ::poll(&pfd, 1, static_cast<int>(left * 1000) + 1) : 0;
        if (ready < 0 && errno == EINTR) continue;
        char buffer[256];
        const ssize_t n = ready > 0 ? ::read(output_, buffer, sizeof buffer) : 0;
        if (n <= 0) {
            Stop();
            throw std::runtime_error(argv[0] + " did not report its port; output: " + line);
        }
        line.append(buffer, static_cast<std::size_t>(n));
    }
    if (std::sscanf(line.c_str(), "listening %d", &port_) != 1 || port_ <= 0) {
        Stop();
        throw std::runtime_error("unexpected first line from " + argv[0] + ": " + line);
    }
}

ServerProcess::~ServerProcess() {
    Stop();
}

void ServerProcess::Stop() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        // Wait for the exit with a bound, sleeping on a process descriptor.
        const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
        if (pidfd >= 0) {
            pollfd pfd{pidfd, POLLIN, 0};
            if (::poll(&pfd, 1, kStopMilliseconds) == 0) ::kill(pid_, SIGKILL);
            ::close(pidfd);
        }
        int status;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }
    if (output_ >= 0) {
        ::close(output_);
        output_ = -1;
    }
}

std::vector<std::string> HostileServerCommand(const std::string& scenario,
                                              const std::string& bodyFile,
                                              const std::string& logFile, double delay) {
    std::vector<std::string> argv = {GOR_PYTHON,    GOR_SUPPORT_DIR "/hostile_server.py",
                                     "--scenario",  scenario,
                                     "--body-file", bodyFile,
                                     "--port",      "0",
                                     "--delay",     std::to_string(delay)};
    if (!logFile.empty()) {
        argv.push_back("--log");
        argv.push_back(logFile);
    }
    return argv;
}

std::vector<std::string> NginxCommand(const std::string& root, int upstreamPort) {
    std::vector<std::string> argv = {GOR_PYTHON, GOR_SUPPORT_DIR "/servers.py", "nginx", "--root",
                                     root};
    if (upstreamPort != 0) {
        argv.push_back("--upstream");
        argv.push_back(std::to_string(upstreamPort));
    }
    return argv;
}

}  // namespace gor::test
