// GorDownload on real sockets against a test server that answers correctly, slowly, in
// pieces, cut short, reset, without or with a nonsense length, with error statuses, or
// not at all; plus the failures found before any answer (unknown host, refused port).
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include "build_config.h"
#include "download/body_framing.h"
#include "download_harness.h"
#include "server_process.h"

namespace gor::test {
namespace {

using ::testing::ElementsAre;

class HostileServerTest : public ::testing::Test {
  protected:
    void Serve(const std::string& scenario, double delay = 0.05) {
        WriteFile(dir / "body", body);
        server = std::make_unique<ServerProcess>(
            HostileServerCommand(scenario, dir / "body", dir / "requests.log", delay));
    }
    void Fetch() { run.Fetch(server->port(), "/gorupd.new", target); }

    // Raw request headers the server received, oldest first.
    std::vector<std::string> Requests() {
        std::vector<std::string> requests;
        if (!std::filesystem::exists(dir / "requests.log")) return requests;
        const std::string log = ReadFile(dir / "requests.log");
        std::size_t start = 0;
        for (auto end = log.find("\r\n\r\n"); end != std::string::npos;
             end = log.find("\r\n\r\n", start)) {
            requests.push_back(log.substr(start, end + 4 - start));
            start = end + 4;
        }
        return requests;
    }

    bool TargetHoldsPrefixOfBody() {
        const std::string held = ReadFile(target);
        return held.size() <= body.size() && body.compare(0, held.size(), held) == 0;
    }

    int Count(const std::string& event) {
        return static_cast<int>(std::count(run.events.begin(), run.events.end(), event));
    }

    ScratchDir dir;
    std::string body = TestBytes(200 * 1024 + 17);
    std::string target = dir / "gorupd.tmp";
    std::unique_ptr<ServerProcess> server;
    DownloadRun run;
};

TEST_F(HostileServerTest, CorrectServerGivesProbeThenWholeBody) {
    Serve("ok");
    Fetch();
    run.Settle();
    ASSERT_EQ(run.events.front(), "headerread");
    ASSERT_EQ(run.events.back(), "downloaded");
    EXPECT_EQ(Count("downloaded"), 1);
    EXPECT_EQ(run.downloadedFile, target);
    EXPECT_EQ(ReadFile(target), body);
    const double size = static_cast<double>(body.size());
    EXPECT_EQ(run.progress.back(), std::make_pair(size, size));
    EXPECT_FALSE(run.control().IsExecuting());

    // The probe asks for everything from byte 0; the transfer of an empty file asks plainly.
    const auto requests = Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0],
              "GET /gorupd.new HTTP/1.1\r\nHost: 127.0.0.1\r\nReferrer: 127.0.0.1\r\n"
              "Accept: */*\r\nConnection: Close\r\nUser-Agent: Tessix Downloader\r\n"
              "Range: bytes=0-\r\n\r\n");
    EXPECT_EQ(requests[1],
              "GET /gorupd.new HTTP/1.1\r\nHost: 127.0.0.1\r\nReferrer: 127.0.0.1\r\n"
              "Accept: */*\r\nConnection: Close\r\nUser-Agent: Tessix Downloader\r\n\r\n");
}

TEST_F(HostileServerTest, HeaderInSmallPiecesIsCollected) {
    Serve("split-header");
    Fetch();
    run.Settle();
    EXPECT_EQ(run.events.front(), "headerread");
    EXPECT_EQ(run.events.back(), "downloaded");
    EXPECT_EQ(ReadFile(target), body);
    EXPECT_EQ(run.control().Responsecode(), "200");
}

TEST_F(HostileServerTest, SlowBodyArrivesWholeWithRisingProgress) {
    body = TestBytes(24 * 1024, 7);
    Serve("drip", 0.02);
    Fetch();
    run.Settle();
    EXPECT_EQ(run.events.back(), "downloaded");
    EXPECT_EQ(ReadFile(target), body);
    ASSERT_GE(run.progress.size(), 10u);  // 48 pieces of 512 bytes, some may coalesce
    for (std::size_t i = 1; i < run.progress.size(); ++i)
        EXPECT_GT(run.progress[i].first, run.progress[i - 1].first) << "at " << i;
}

TEST_F(HostileServerTest, BodyCutShortIsDisconnectedAndKeepsItsHalf) {
    Serve("cut-body");
    Fetch();
    run.Settle();
    EXPECT_EQ(run.events.back(), "Disconnected");
    EXPECT_EQ(Count("downloaded") + Count("DownloadError"), 0);
    EXPECT_FALSE(run.control().IsExecuting());
    EXPECT_EQ(ReadFile(target), body.substr(0, body.size() / 2));
}

TEST_F(HostileServerTest, ResetIsADownloadErrorWithItsText) {
    Serve("reset");
    Fetch();
    run.Settle();
    EXPECT_EQ(run.events.back(), "DownloadError");
    EXPECT_EQ(Count("DownloadError"), 1);
    EXPECT_EQ(run.errorDescription, "The connection was reset by the remote side");
    EXPECT_FALSE(run.serverError);
    EXPECT_FALSE(run.control().IsExecuting());
    EXPECT_TRUE(TargetHoldsPrefixOfBody());
}

TEST_F(HostileServerTest, NoLengthDownloadEndsAtTheServersClose) {
    Serve("no-length");
    Fetch();
    run.Settle();
    EXPECT_EQ(run.control().contentLength(), -1);
    EXPECT_EQ(run.events.back(), "downloaded");
    EXPECT_EQ(Count("Disconnected"), 0);
    EXPECT_EQ(ReadFile(target), body);
    for (const auto& [downloaded, total] : run.progress) EXPECT_EQ(total, -1);
}

TEST_F(HostileServerTest, GarbledLengthIsADataFailureAndNothingIsWritten) {
    Serve("garbled-length");
    Fetch();
    run.Settle();
    EXPECT_THAT(run.events, ElementsAre("headerread", "DownloadError"));
    EXPECT_EQ(run.errorDescription, download::kBadLength);
    EXPECT_EQ(ReadFile(target), "");
}

TEST_F(HostileServerTest, ErrorStatusesGiveTheirTextsAndNoTransfer) {
    const std::pair<const char*, const char*> cases[] = {
        {"204", "Nothing to download"},
        {"302", "HTTP/1.1 302 Found"},
        {"401", "Authorization Failed"},
        {"404", "File not found"},
        {"500", "HTTP/1.1 500 Internal Server Error"},
    };
    for (const auto& [code, text] : cases) {
        SCOPED_TRACE(code);
        Serve(std::string("status-") + code);
        DownloadRun probe;
        probe.Fetch(server->port(), "/gorupd.new", target);
        probe.Settle();
        EXPECT_THAT(probe.events, ElementsAre("DownloadError", "headerread"));
        EXPECT_EQ(probe.errorDescription, text);
        EXPECT_TRUE(probe.serverError);
        EXPECT_EQ(probe.control().Responsecode(), code);
        EXPECT_FALSE(probe.control().IsServerOk());
        EXPECT_FALSE(std::filesystem::exists(target));  // the probe opens no file
        server.reset();
    }
}

TEST_F(HostileServerTest, CloseBeforeOrDuringTheProbesHeaderIsDisconnected) {
    for (const char* scenario : {"close-before-answer", "close-in-header"}) {
        SCOPED_TRACE(scenario);
        Serve(scenario);
        DownloadRun probe;
        probe.Fetch(server->port(), "/gorupd.new", target);
        probe.Settle();
        EXPECT_THAT(probe.events, ElementsAre("Disconnected"));
        EXPECT_FALSE(probe.control().IsExecuting());
        server.reset();
    }
}

TEST_F(HostileServerTest, ChunkedBodyIsDecodedWhateverItsLengthFieldSays) {
    // Chunks of many sizes with extensions and a trailer, beside a Content-Length that lies.
    Serve("chunked");
    Fetch();
    run.Settle();
    ASSERT_EQ(run.events.back(), "downloaded");
    EXPECT_EQ(Count("downloaded"), 1);
    EXPECT_EQ(ReadFile(target), body);
    for (const auto& [downloaded, total] : run.progress) EXPECT_EQ(total, -1);
    EXPECT_EQ(run.progress.back().first, static_cast<double>(body.size()));
}

TEST_F(HostileServerTest, ChunkedBodyCutBeforeItsLastChunkIsDisconnected) {
    Serve("chunked-cut");
    Fetch();
    run.Settle();
    EXPECT_EQ(run.events.back(), "Disconnected");
    EXPECT_EQ(Count("downloaded") + Count("DownloadError"), 0);
    EXPECT_TRUE(TargetHoldsPrefixOfBody());
    EXPECT_LT(ReadFile(target).size(), body.size());
}

TEST_F(HostileServerTest, BytesAfterTheAnnouncedLengthAreDropped) {
    Serve("stray-bytes");
    Fetch();
    run.Settle();
    EXPECT_EQ(run.events.back(), "downloaded");
    EXPECT_EQ(ReadFile(target), body);
    const double size = static_cast<double>(body.size());
    EXPECT_EQ(run.progress.back(), std::make_pair(size, size));
}

TEST_F(HostileServerTest, LyingAnswersNeverEndAsDownloaded) {
    const std::pair<const char*, const char*> cases[] = {
        // The probe hears of no length, the download answer announces one and is cut.
        {"length-in-download-only", "Disconnected"},
        // Two different lengths: refused at the probe already.
        {"two-lengths", "DownloadError"},
        // A piece from elsewhere in the resource than asked for.
        {"wrong-range", "DownloadError"},
    };
    for (const auto& [scenario, ending] : cases) {
        SCOPED_TRACE(scenario);
        Serve(scenario);
        DownloadRun lied;
        lied.Fetch(server->port(), "/gorupd.new", target);
        lied.Settle();
        EXPECT_EQ(lied.events.back(), ending);
        EXPECT_EQ(std::count(lied.events.begin(), lied.events.end(), "downloaded"), 0);
        EXPECT_FALSE(lied.serverError);
        EXPECT_TRUE(!std::filesystem::exists(target) || TargetHoldsPrefixOfBody());
        server.reset();
        std::filesystem::remove(target);
    }
}

TEST_F(HostileServerTest, EndlessBodyStopsAtTheCap) {
    body = TestBytes(100 * 1024 + 3, 5);
    Serve("endless");
    Fetch();
    run.Settle();
    EXPECT_EQ(run.events.back(), "DownloadError");
    EXPECT_EQ(run.errorDescription, download::kBodyTooLarge);
    EXPECT_FALSE(run.serverError);
    EXPECT_LE(std::filesystem::file_size(target), build::kMaxBodyBytes);
}

TEST_F(HostileServerTest, EndlessHeaderIsRefusedAtItsBound) {
    Serve("huge-header");
    Fetch();
    run.Settle();
    EXPECT_THAT(run.events, ElementsAre("DownloadError"));
    EXPECT_FALSE(run.serverError);
    EXPECT_FALSE(run.errorDescription.empty());
}

TEST(ConnectFailureTest, UnresolvableHostIsADownloadErrorWithoutHeaderread) {
    ScratchDir dir;
    DownloadRun run;
    // Not a valid host name, so the resolver refuses it without asking any name server.
    run.FetchUrl("no-such-host!.invalid/gorupd.new", dir / "gorupd.tmp");
    run.Settle();
    EXPECT_THAT(run.events, ElementsAre("DownloadError"));
    EXPECT_FALSE(run.serverError);
    EXPECT_FALSE(run.errorDescription.empty());
    EXPECT_FALSE(run.control().IsExecuting());
}

TEST(ConnectFailureTest, RefusedPortIsADownloadErrorWithTheSystemText) {
    // A port nobody listens on: bound, and closed again without listening.
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(s);

    ScratchDir dir;
    DownloadRun run;
    run.Fetch(ntohs(address.sin_port), "/gorupd.new", dir / "gorupd.tmp");
    run.Settle();
    EXPECT_THAT(run.events, ElementsAre("DownloadError"));
    EXPECT_EQ(run.errorDescription, "The connection was refused");
    EXPECT_FALSE(run.serverError);
}

}  // namespace
}  // namespace gor::test
