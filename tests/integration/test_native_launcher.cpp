// The native gorlaunch, run in a fresh folder against the test server at its update host:
// its console lines, its exit code, and the updater it downloads and starts.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include "build_config.h"
#include "download_harness.h"
#include "launcher/road/proxy_choice.h"
#include "server_process.h"

extern char** environ;

namespace gor::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr int kGenerousMilliseconds = 120000;

struct Outcome {
    int exitCode = -1;
    std::string output;
};

// Runs `program` with its standard output captured until it exits.
Outcome RunProgram(const std::string& program) {
    int pipeFds[2];
    EXPECT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    pid_t pid;
    const int rc = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    Outcome outcome;
    if (rc != 0) {
        ::close(pipeFds[0]);
        ADD_FAILURE() << "cannot start " << program;
        return outcome;
    }
    pollfd pfd{pipeFds[0], POLLIN, 0};
    while (::poll(&pfd, 1, kGenerousMilliseconds) > 0) {
        char buffer[4096];
        const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
        if (n <= 0) break;
        outcome.output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

class NativeLauncherTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string host = build::kUpdateHost;
        if (host.rfind("127.0.0.1:", 0) != 0)
            GTEST_SKIP() << "built against the update host " << host << ", not a local one";
        port_ = host.substr(host.find(':') + 1);
        launcher_ = folder / "gorlaunch";
        std::filesystem::copy_file(GOR_LAUNCHER_EXE, launcher_);
        ::chmod(launcher_.c_str(), 0755);
    }

    void Serve(const std::string& scenario, const std::string& body) {
        WriteFile(scratch / "body", body);
        auto argv = HostileServerCommand(scenario, scratch / "body");
        argv[7] = port_;  // the --port value: where the launcher looks
        server_ = std::make_unique<ServerProcess>(argv);
    }

    ScratchDir folder;   // the launcher's own folder
    ScratchDir scratch;  // everything else
    std::string launcher_;
    std::string port_;
    std::unique_ptr<ServerProcess> server_;
};

TEST_F(NativeLauncherTest, DownloadsStartsAndEndsOnAnEmptyFolder) {
    // The stand-in updater tells through a pipe that it ran, and with which arguments.
    const std::string fifo = scratch / "started";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    Serve("ok", "#!/bin/sh\necho \"$0|$#\" > '" + fifo + "'\n");
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);

    const Outcome outcome = RunProgram(launcher_);
    EXPECT_EQ(outcome.exitCode, 0) << outcome.output;
    EXPECT_THAT(outcome.output, HasSubstr("status: Downloading Updater\nshow\n"));
    EXPECT_THAT(outcome.output, HasSubstr("percent: 100 %\n"));
    EXPECT_THAT(outcome.output, HasSubstr("status: Initializing\n"));
    EXPECT_THAT(outcome.output, Not(HasSubstr("msgbox")));

    std::string line;
    pollfd pfd{reader, POLLIN, 0};
    while (line.find('\n') == std::string::npos && ::poll(&pfd, 1, kGenerousMilliseconds) > 0) {
        char buffer[512];
        const ssize_t n = ::read(reader, buffer, sizeof buffer);
        if (n <= 0) break;
        line.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(reader);
    EXPECT_EQ(line, folder / "gorupd.exe|0\n");
    EXPECT_FALSE(std::filesystem::exists(folder / "gorupd.tmp"));
}

TEST_F(NativeLauncherTest, MissingUpdaterOnTheServerEndsInRedErrorDownloading) {
    Serve("status-404", "");
    const Outcome outcome = RunProgram(launcher_);
    EXPECT_EQ(outcome.exitCode, 1) << outcome.output;
    EXPECT_THAT(outcome.output, HasSubstr("status-color: 255\nstatus: Error Downloading\n"));
    EXPECT_FALSE(std::filesystem::exists(folder / "gorupd.exe"));
    EXPECT_FALSE(std::filesystem::exists(folder / "gorupd.tmp"));
}

// Nothing listens at the update host's port: only the proxy, on a port of its own, can answer.
TEST_F(NativeLauncherTest, GoesThroughTheProxyOfTheEnvironment) {
    WriteFile(scratch / "body", "#!/bin/sh\n");
    for (const std::string scenario : {"ok", "status-407"}) {
        std::filesystem::remove(folder / "gorupd.exe");
        const std::string requests = scratch / (scenario + ".log");
        ServerProcess proxy(HostileServerCommand(scenario, scratch / "body", requests));
        ::setenv("http_proxy", ("http://127.0.0.1:" + std::to_string(proxy.port())).c_str(), 1);
        ::setenv("no_proxy", "example.com", 1);
        const Outcome outcome = RunProgram(launcher_);
        ::unsetenv("http_proxy");
        EXPECT_EQ(outcome.exitCode, scenario == "ok" ? 0 : 1) << outcome.output;
        EXPECT_THAT(ReadFile(requests), HasSubstr("GET http://127.0.0.1:" + port_ +
                                                  "/gorupd.new HTTP/1.1\r\nHost: 127.0.0.1\r\n"));
        EXPECT_THAT(
            ReadFile(folder / "gorlaunch.log"),
            HasSubstr(scenario == "ok" ? "(environment)" : launcher::kProxyAsksForCredentials));
    }
}

}  // namespace
}  // namespace gor::test
