// GorDownload on real sockets against nginx, a real HTTP/1.1 server: empty, tiny and
// multi-megabyte files checked byte for byte, chunked answers of nginx's own and from an
// upstream it proxies, a resumed transfer, a missing file, and a target on a device that is
// always full.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "download_harness.h"
#include "server_process.h"

namespace gor::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

class NginxDownloadTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        root_ = new ScratchDir;
        WriteFile(*root_ / "empty.bin", "");
        WriteFile(*root_ / "one.bin", "x");
        WriteFile(*root_ / "big.bin", Big());
        try {
            nginx_ = new ServerProcess(NginxCommand(root_->path()));
        } catch (const std::exception& failure) {
            startFailure_ = failure.what();
        }
    }
    static void TearDownTestSuite() {
        delete nginx_;
        delete root_;
        nginx_ = nullptr;
        root_ = nullptr;
    }
    static const std::string& Big() {
        static const std::string bytes = TestBytes(3 * 1024 * 1024 + 123, 42);
        return bytes;
    }

    void SetUp() override {
        if (!nginx_) GTEST_FAIL() << "nginx (/usr/sbin/nginx) did not start: " << startFailure_;
    }

    void Fetch(const std::string& remote) { run.Fetch(nginx_->port(), remote, target); }

    static ScratchDir* root_;
    static ServerProcess* nginx_;
    static std::string startFailure_;
    ScratchDir dir;
    std::string target = dir / "gorupd.tmp";
    DownloadRun run;
};

ScratchDir* NginxDownloadTest::root_ = nullptr;
ServerProcess* NginxDownloadTest::nginx_ = nullptr;
std::string NginxDownloadTest::startFailure_;

TEST_F(NginxDownloadTest, SeveralMegabytesArriveByteForByte) {
    Fetch("/big.bin");
    run.Settle();
    ASSERT_EQ(run.events.back(), "downloaded");
    EXPECT_EQ(run.control().contentLength(), static_cast<double>(Big().size()));
    EXPECT_EQ(ReadFile(target), Big());
    for (std::size_t i = 1; i < run.progress.size(); ++i)
        EXPECT_GE(run.progress[i].first, run.progress[i - 1].first);
    EXPECT_EQ(run.progress.back().first, static_cast<double>(Big().size()));
}

TEST_F(NginxDownloadTest, ChunkedAnswerArrivesByteForByte) {
    // nginx adds an empty body after the file here, so it no longer knows the length up front
    // and answers with chunked coding.
    Fetch("/chunked/big.bin");
    run.Settle();
    ASSERT_EQ(run.events.back(), "downloaded");
    EXPECT_EQ(run.control().getheader("Transfer-Encoding"), "chunked");
    EXPECT_EQ(ReadFile(target), Big());
    for (const auto& [downloaded, total] : run.progress) EXPECT_EQ(total, -1);
    EXPECT_EQ(run.progress.back().first, static_cast<double>(Big().size()));
}

TEST(NginxProxyTest, UpstreamWithoutLengthArrivesChunkedThroughNginx) {
    // The usual way a chunked answer comes about: a proxy in front of a server that streams
    // without announcing a length.
    ScratchDir dir;
    const std::string body = TestBytes(700 * 1024 + 5, 9);
    WriteFile(dir / "body", body);
    ServerProcess upstream(HostileServerCommand("no-length", dir / "body"));
    ServerProcess nginx(NginxCommand(dir.path(), upstream.port()));
    DownloadRun run;
    run.Fetch(nginx.port(), "/proxied/gorupd.new", dir / "gorupd.tmp");
    run.Settle();
    ASSERT_EQ(run.events.back(), "downloaded");
    EXPECT_EQ(run.control().getheader("Transfer-Encoding"), "chunked");
    EXPECT_EQ(ReadFile(dir / "gorupd.tmp"), body);
}

TEST_F(NginxDownloadTest, OneByteFile) {
    Fetch("/one.bin");
    run.Settle();
    EXPECT_EQ(run.events.back(), "downloaded");
    EXPECT_EQ(ReadFile(target), "x");
}

TEST_F(NginxDownloadTest, EmptyFileArrivesAsAnEmptyFile) {
    // nginx ignores a range on an empty file and answers 200 with a length of 0: the first
    // chunk, the header alone, already completes the transfer.
    Fetch("/empty.bin");
    run.Settle();
    EXPECT_THAT(run.events, ElementsAre("headerread", "Progress", "downloaded"));
    EXPECT_EQ(run.control().contentLength(), 0);
    EXPECT_EQ(run.progress.front(), std::make_pair(0.0, 0.0));
    ASSERT_TRUE(std::filesystem::exists(target));
    EXPECT_EQ(std::filesystem::file_size(target), 0u);
}

TEST_F(NginxDownloadTest, PartialFileIsResumedFromItsLastByte) {
    // Resuming asks for the last bytes held again: one damaged shows the piece to be of another
    // file, and nothing is kept; whole, the piece continues it.
    const std::size_t held = 1024 * 1024 + 7;
    std::string partial = Big().substr(0, held);
    partial.back() = static_cast<char>(~partial.back());
    WriteFile(target, partial);
    Fetch("/big.bin");
    run.Settle();
    ASSERT_EQ(run.events.back(), "DownloadError");
    EXPECT_EQ(run.errorDescription, download::kResumeMismatch);
    EXPECT_EQ(std::filesystem::file_size(target), 0u);

    WriteFile(target, Big().substr(0, held));
    run.events.clear();
    Fetch("/big.bin");
    run.Settle();
    ASSERT_EQ(run.events.back(), "downloaded");
    EXPECT_TRUE(run.control().Resuming());
    EXPECT_TRUE(run.control().Resumesupported());
    EXPECT_EQ(run.control().Responsecode(), "206");
    EXPECT_EQ(ReadFile(target), Big());
}

TEST_F(NginxDownloadTest, MissingFileIsFileNotFound) {
    Fetch("/absent.bin");
    EXPECT_THAT(run.events, ElementsAre("DownloadError", "headerread"));
    EXPECT_EQ(run.errorDescription, "File not found");
    EXPECT_TRUE(run.serverError);
}

TEST_F(NginxDownloadTest, FullDiskIsADownloadErrorAndTheControlGoesOn) {
    // Every write to /dev/full fails with ENOSPC, as on a full disk.
    const std::string full = dir / "full.tmp";
    ASSERT_EQ(::symlink("/dev/full", full.c_str()), 0);
    run.Fetch(nginx_->port(), "/big.bin", full);
    run.Settle();
    // A Progress(0) comes first when nginx's header arrives apart from the body.
    EXPECT_EQ(run.events.front(), "headerread");
    EXPECT_EQ(run.events.back(), "DownloadError");
    EXPECT_EQ(std::count(run.events.begin(), run.events.end(), "DownloadError"), 1);
    for (const auto& [downloaded, total] : run.progress) EXPECT_EQ(downloaded, 0);
    EXPECT_FALSE(run.serverError);
    EXPECT_THAT(run.errorDescription, HasSubstr("No space left on device"));
    EXPECT_THAT(run.errorDescription, HasSubstr(full));
    EXPECT_FALSE(run.control().IsExecuting());

    // Nothing is stuck: the same control fetches the next file normally.
    run.events.clear();
    Fetch("/big.bin");
    run.Settle();
    EXPECT_EQ(run.events.back(), "downloaded");
    EXPECT_EQ(ReadFile(target), Big());
}

}  // namespace
}  // namespace gor::test
