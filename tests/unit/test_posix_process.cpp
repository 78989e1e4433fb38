// Native process start: a program in a folder with spaces starts as itself, with no shell
// in between; a file that cannot run is a readable error.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/posix/process_posix.h"
#include "scratch_dir.h"

namespace gor::platform::posix {
namespace {

using ::testing::HasSubstr;

class ProcessPosixTest : public ::testing::Test {
  protected:
    ProcessPosixTest() { ::sigaction(SIGCHLD, nullptr, &savedChild_); }
    ~ProcessPosixTest() override {
        ::sigaction(SIGCHLD, &savedChild_, nullptr);  // ProcessPosix ignores SIGCHLD
    }
    gor::test::ScratchDir scratch_;
    const std::string& dir_ = scratch_.path();
    struct sigaction savedChild_ {};
};

TEST_F(ProcessPosixTest, AppPathIsTheFolderOfTheRunningProgram) {
    ProcessPosix process;
    EXPECT_EQ(process.AppPath(),
              std::filesystem::read_symlink("/proc/self/exe").parent_path().string());
}

TEST_F(ProcessPosixTest, StartsTheProgramItselfInAFolderWithSpaces) {
    const std::string folder = dir_ + "/Program Files & (x86)";
    std::filesystem::create_directory(folder);
    const std::string fifo = dir_ + "/started";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string program = folder + "/gorupd.exe";
    std::ofstream(program) << "#!/bin/sh\necho \"$0|$#|$PWD\" > '" << fifo << "'\n";
    ::chmod(program.c_str(), 0755);

    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ProcessPosix process;
    process.Start(folder + "/gorupd.exe", kNormalFocus, [] {});

    std::string line;
    pollfd pfd{reader, POLLIN, 0};
    while (line.find('\n') == std::string::npos && ::poll(&pfd, 1, 30000) > 0) {
        char buffer[512];
        const ssize_t n = ::read(reader, buffer, sizeof buffer);
        if (n > 0) line.append(buffer, static_cast<std::size_t>(n));
        if (n == 0) break;
    }
    ::close(reader);
    EXPECT_EQ(line, program + "|0|" + folder + "\n");  // its own path, no arguments, its folder
}

TEST_F(ProcessPosixTest, OneClaimPerFolder) {
    ProcessPosix first, second;
    EXPECT_TRUE(first.ClaimFolder(dir_));
    EXPECT_FALSE(second.ClaimFolder(dir_ + "/"));
}

TEST_F(ProcessPosixTest, AFileThatCannotRunIsAReadableError) {
    const std::string program = dir_ + "/not executable";
    std::ofstream(program) << "plain text";
    ProcessPosix process;
    try {
        process.Start(program, kNormalFocus, [] {});
        FAIL() << "starting a plain file must throw";
    } catch (const std::system_error& e) {
        EXPECT_THAT(e.what(), HasSubstr(program));
        EXPECT_THAT(e.what(), HasSubstr("Permission denied"));
    }
}

}  // namespace
}  // namespace gor::platform::posix
