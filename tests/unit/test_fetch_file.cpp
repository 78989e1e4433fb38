// FetchFile and the download event handlers on fakes: the control's set-up, the end of the
// wait, swallowed failures, the partial file that becomes gorupd.exe only after `downloaded`,
// the percentage arithmetic and its fallback, and the real control on a scripted socket.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "build_config.h"
#include "fakes/launch_rig.h"

namespace gor::test {
namespace {

using launcher::kExitNoUpdater;
using launcher::kExitStarted;

// The time of the first timeline entry that reads `what`, or -1.
double TimeOf(const LaunchRig& rig, const std::string& what) {
    for (const std::string& entry : rig.Timeline()) {
        const auto space = entry.find(' ');
        if (entry.compare(space + 1, std::string::npos, what) == 0) {
            return std::stod(entry.substr(0, space));
        }
    }
    return -1;
}

// FetchFile has returned this long before the percentage line is hidden.
constexpr double kPauseAfterDownload = 4;

void CompletesAt(LaunchRig& rig, double t, const std::string& body = Updater("body")) {
    rig.loop.At(t, [&rig, body] {
        rig.Put(kTmp, body);
        rig.Control().downloaded(kTmp);
    });
}

// Someone else puts `bytes` at gorupd.exe as the window first appears, after the sequence
// found none.
void UpdaterAppearsAtFirstShow(LaunchRig& rig, const std::string& bytes) {
    rig.window.afterChange = [&rig, bytes, done = false](const std::string& what) mutable {
        if (what == "show" && !done) rig.Put(kExe, bytes), done = true;
    };
}

// ---- FetchFile

TEST(FetchFile, PointsTheControlAtTheUpdateServerAndThePartialFile) {
    LaunchRig rig;
    rig.Put(kTmp, "half of an earlier transfer");
    rig.loop.At(0.5, [&] {
        EXPECT_EQ(rig.form.DownloadWait, 45);
        EXPECT_EQ(rig.form.GorDownload1.URL(), std::string(build::kUpdateHost) + "/gorupd.new");
        EXPECT_EQ(rig.form.GorDownload1.fileName(), kTmp);
        EXPECT_FALSE(rig.files.Has(kTmp));                                     // never continued
        EXPECT_EQ(rig.loop.socket->state, ScriptedSocket::State::Connecting);  // Readheaders
    });
    CompletesAt(rig, 1.5);
    EXPECT_EQ(rig.Run(), kExitStarted);
}

TEST(FetchFile, ReturnsWithinASecondOfTheTransfersEndAndNotBefore) {
    for (const double endsAt : {0.3, 12.7, 30.0}) {
        for (const bool completes : {true, false}) {
            LaunchRig rig;
            if (completes)
                CompletesAt(rig, endsAt);
            else
                rig.loop.At(endsAt, [&] { rig.Control().DownloadError("File not found", true); });
            rig.Run();
            const double returned = TimeOf(rig, "percent hidden") - kPauseAfterDownload;
            EXPECT_GE(returned, endsAt) << endsAt << " " << completes;
            EXPECT_LE(returned, endsAt + 1) << endsAt << " " << completes;
        }
    }
}

TEST(FetchFile, RemovesAnUpdaterFoundAtTheTargetBeforeTheTransfer) {
    LaunchRig rig;
    UpdaterAppearsAtFirstShow(rig, Updater("stale"));
    rig.loop.At(0.5, [&] { EXPECT_FALSE(rig.files.Has(kExe)); });
    CompletesAt(rig, 2, Updater("fresh"));
    EXPECT_EQ(rig.Run(), kExitStarted);
    EXPECT_EQ(rig.files.Bytes(kExe), Updater("fresh"));
}

TEST(FetchFile, SwallowsAFailureBeforeTheTransferAndReturnsAtOnce) {
    LaunchRig rig;
    UpdaterAppearsAtFirstShow(rig, Updater("updater in use"));
    rig.files.before = [](const std::string& op, const std::string& path) {
        if (op == "remove") MemoryFileSystem::Fail(EIO, path);
    };
    EXPECT_EQ(rig.Run(), kExitNoUpdater);  // goes on; a file it never checked is not started
    EXPECT_EQ(TimeOf(rig, "percent hidden"), kPauseAfterDownload);
    EXPECT_EQ(rig.loop.socket->state, ScriptedSocket::State::Closed);
    EXPECT_EQ(rig.form.DownloadWait, 0);
    EXPECT_EQ(rig.window.msgBoxes, 0);
}

TEST(FetchFile, SwallowsAFailureDuringTheWaitAndKeepsDownloadWait) {
    LaunchRig rig;
    rig.loop.At(2.5, [] { throw std::runtime_error("repaint failed"); });
    EXPECT_EQ(rig.Run(), kExitNoUpdater);
    EXPECT_EQ(TimeOf(rig, "percent hidden"), 2.5 + kPauseAfterDownload);
    EXPECT_EQ(rig.form.DownloadWait, 45);
    EXPECT_EQ(rig.window.msgBoxes, 0);
}

// ---- the partial file: only a completed transfer becomes gorupd.exe

TEST(PartialFile, BrokenTransferLeavesNoUpdaterAndIsTidiedAway) {
    LaunchRig rig;
    rig.loop.At(5.5, [&] {
        rig.Put(kTmp, "MZ half");
        rig.Control().DownloadError("Connection reset by peer", false);
    });
    EXPECT_EQ(rig.Run(), kExitNoUpdater);
    EXPECT_FALSE(rig.files.Has(kExe));
    EXPECT_FALSE(rig.files.Has(kTmp));
}

TEST(PartialFile, HiddenOrReadOnlyLeftoverIsNeverContinued) {
    {
        LaunchRig rig;  // hidden: FileExist does not see it, yet it goes
        rig.Put(kTmp, "half of an earlier transfer");
        rig.files.entries[kTmp].hidden = true;
        rig.loop.At(0.5, [&] { EXPECT_FALSE(rig.files.Has(kTmp)); });
        CompletesAt(rig, 1.5, Updater("fresh"));
        EXPECT_EQ(rig.Run(), kExitStarted);
        EXPECT_EQ(rig.files.Bytes(kExe), Updater("fresh"));
    }
    {
        LaunchRig rig;  // cannot be removed: no transfer at all rather than one that continues it
        rig.Put(kTmp, "half of an earlier transfer", /*readOnly=*/true);
        EXPECT_EQ(rig.Run(), kExitNoUpdater);
        EXPECT_EQ(rig.loop.socket->state, ScriptedSocket::State::Closed);
        EXPECT_FALSE(rig.files.Has(kExe));
    }
}

TEST(PartialFile, UpdaterThatAppearedDuringTheTransferIsKept) {
    LaunchRig rig;
    rig.loop.At(5.4, [&] { rig.Put(kExe, Updater("put there by another program")); });
    CompletesAt(rig, 5.5, Updater("ours"));
    EXPECT_EQ(rig.Run(), kExitNoUpdater);  // kept, but unchecked: not started
    EXPECT_EQ(rig.files.Bytes(kExe), Updater("put there by another program"));
    EXPECT_FALSE(rig.files.Has(kTmp));
}

TEST(PartialFile, FailedMoveLeavesNoUpdater) {
    LaunchRig rig;
    rig.files.before = [](const std::string& op, const std::string& path) {
        if (op == "rename") MemoryFileSystem::Fail(EACCES, path);
    };
    CompletesAt(rig, 5.5);
    EXPECT_EQ(rig.Run(), kExitNoUpdater);
    EXPECT_FALSE(rig.files.Has(kExe));
    EXPECT_EQ(rig.window.statusCaption, "Error Downloading");
}

// ---- the percentage line

struct Share {
    double downloaded, Total;
    const char* text;
};

TEST(ProgressHandler, ShowsTheShareRoundedHalfToEvenWithoutClamping) {
    for (const Share& s :
         {Share{512, 2048, "25 %"}, Share{1, 8, "12 %"}, Share{3, 8, "38 %"},
          Share{2048, 2048, "100 %"}, Share{350, 300, "117 %"}, Share{32767, 100, "32767 %"}}) {
        LaunchRig rig;
        rig.Control().Progress(s.downloaded, s.Total);
        EXPECT_EQ(std::to_string(rig.form.Percent) + " %", s.text);
        EXPECT_EQ(rig.window.percentCaption, s.text);
    }
}

TEST(ProgressHandler, WithoutAUsableShareShowsTheAmountAndKeepsPercent) {
    for (const Share& s : {Share{512, 0, "512 B"}, Share{0, 0, "0 B"}, Share{1536, -1, "1.5 KB"},
                           Share{327, -1, "327 B"}, Share{1572864, -1, "1.5 MB"},
                           Share{40000, 100, "39.1 KB"}, Share{5e6, 1, "4.8 MB"}}) {
        LaunchRig rig;
        rig.Control().Progress(1, 4);
        rig.Control().Progress(s.downloaded, s.Total);
        EXPECT_EQ(rig.form.Percent, 25) << s.text;
        EXPECT_EQ(rig.window.percentCaption, s.text);
    }
}

// ---- with the real control on a scripted socket: probe at 0.1-0.2 s, transfer from 0.3 s

void Serve(LaunchRig& rig, const std::string& probeAnswer, const std::vector<std::string>& body,
           bool closeEarly = false) {
    ScriptedSocket& peer = *rig.loop.socket;
    rig.loop.At(0.1, [&peer] { peer.DeliverConnect(); });
    rig.loop.At(0.2, [&peer, probeAnswer] { peer.DeliverData(probeAnswer); });
    rig.loop.At(0.3, [&peer] { peer.DeliverConnect(); });
    double at = 0.4;
    for (const std::string& chunk : body) {
        rig.loop.At(at, [&peer, chunk] { peer.DeliverData(chunk); });
        at += 0.1;
    }
    if (closeEarly) rig.loop.At(at, [&peer] { peer.DeliverClose(); });
}

const std::string kImage = BuildImage([](ImageShape& s) { s.sections = 2; });  // 2048 bytes
const std::string kGoodHeader = "HTTP/1.1 200 OK\r\nContent-Length: 2048\r\n\r\n";

TEST(WithTheControl, GoodProbeStartsTheTransferAndTheBodyBecomesTheUpdater) {
    LaunchRig rig;
    Serve(rig, kGoodHeader, {kGoodHeader + kImage.substr(0, 512), kImage.substr(512)});
    EXPECT_EQ(rig.Run(), kExitStarted);
    EXPECT_EQ(rig.files.Bytes(kExe), kImage);
    EXPECT_FALSE(rig.files.Has(kTmp));
    EXPECT_EQ(TimeOf(rig, "percent=25 %"), 0.4);
    EXPECT_EQ(TimeOf(rig, "percent=100 %"), 0.5);
    EXPECT_EQ(TimeOf(rig, "timer off"), 0.5);
}

// Without a length the close ends the body: a cut one, or an error page served with 200, is
// complete as far as the control can tell, and only the image check keeps it out.
TEST(WithTheControl, BodyWithoutLengthThatIsNoWholeImageIsNotInstalled) {
    const std::string noLength = "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n";
    for (const std::string& body : {kImage.substr(0, 1800), std::string("<html>Oops</html>")}) {
        LaunchRig rig;
        Serve(rig, noLength, {noLength + body}, /*closeEarly=*/true);
        EXPECT_EQ(rig.Run(), kExitNoUpdater);
        EXPECT_FALSE(rig.files.Has(kExe));
        EXPECT_FALSE(rig.files.Has(kTmp));
    }
}

TEST(WithTheControl, BodyLongerThanAnnouncedIsNotInstalled) {
    LaunchRig rig;
    const std::string longer = BuildImage([](ImageShape& s) { s.sections = 3; });  // 2560 bytes
    Serve(rig, kGoodHeader, {kGoodHeader + longer});
    EXPECT_EQ(rig.Run(), kExitNoUpdater);
    EXPECT_FALSE(rig.files.Has(kExe));
}

TEST(WithTheControl, RefusedProbeStartsNoTransfer) {
    LaunchRig rig;
    Serve(rig, "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found", {});
    EXPECT_EQ(rig.Run(), kExitNoUpdater);
    EXPECT_EQ(rig.loop.socket->sent.size(), 1u);  // the probe only
    EXPECT_FALSE(rig.files.Has(kExe));
    EXPECT_FALSE(rig.files.Has(kTmp));
}

// A transfer cut at 512 bytes resumes in the same start, only of the very file it began; a
// piece that does not continue it brings the file whole, once.
TEST(WithTheControl, CutTransferResumesOnlyWhatAValidatorTiesToTheServersFile) {
    const std::string etag = "ETag: \"v1\"\r\n", modified = "Mon, 07 Dec 2026 10:00:00 GMT";
    const std::string date = "Last-Modified: " + modified + "\r\nDate: " + modified + "\r\n";
    const std::string piece = "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes ";
    const std::string rest = piece + "0-2047/2048\r\nContent-Length: 2048\r\n";
    const std::string resume = "Range: bytes=0-\r\nIf-Range: \"v1\"\r\n", tagged = rest + etag;
    const std::string other = kImage.substr(0, 511) + "#" + kImage.substr(512);
    const std::string earlier = kImage.substr(0, 100) + "#" + kImage.substr(101);
    const struct {
        std::string validator, resumeLines, answer, again;
        int exit;
    } cases[] = {
        {etag, resume, tagged + "\r\n" + kImage, "", kExitStarted},
        // A weak tag names no exact file, and the date beside it is not sent in its place; a
        // date as recent as the answer is no validator either. The file comes whole.
        {"ETag: W/\"v1\"\r\n" + date, "", kGoodHeader + kImage, "", kExitStarted},
        {date, "", kGoodHeader + kImage, "", kExitStarted},
        {"Last-Modified: " + modified + "\r\nDate: Mon, 07 Dec 2026 10:00:01 GMT\r\n",
         "Range: bytes=0-\r\nIf-Range: " + modified + "\r\n",
         rest + "Last-Modified: " + modified + "\r\n\r\n" + kImage, "", kExitStarted},
        // A piece whose overlap byte or tag is another file's: nothing of it is kept, the file
        // comes whole.
        {etag, resume, tagged + "\r\n" + other, kGoodHeader + kImage, kExitStarted},
        {etag, resume, tagged + "\r\n" + earlier, kGoodHeader + kImage, kExitStarted},
        {etag, resume, rest + "ETag: \"v2\"\r\n\r\n" + kImage, kGoodHeader + kImage, kExitStarted},
        {etag, resume, rest + "\r\n" + kImage, kGoodHeader + kImage, kExitStarted},
        // No validator: nothing is spliced on, the file comes again from the start.
        {"", "", kGoodHeader + kImage, "", kExitStarted},
        // A piece from elsewhere, or of a file of another length, ends the road.
        {etag, resume, piece + "511-2047/2048\r\n\r\n" + kImage.substr(511), "", kExitNoUpdater},
        {etag, resume, piece + "0-2559/2560\r\n\r\n" + kImage + std::string(512, 0), "",
         kExitNoUpdater},
    };
    for (const auto& c : cases) {
        LaunchRig rig;
        const std::string first = "HTTP/1.1 200 OK\r\nContent-Length: 2048\r\n" + c.validator;
        Serve(rig, kGoodHeader, {first + "\r\n" + kImage.substr(0, 512)}, /*closeEarly=*/true);
        // Cut at 0.5 s, seen at 1 s, resumed after a pause of 1 s.
        rig.loop.At(2.5, [&rig] { rig.loop.socket->DeliverConnect(); });
        rig.loop.At(2.6, [&rig, &c] { rig.loop.socket->DeliverData(c.answer); });
        // Refused at 2.6 s, seen at 3 s, fetched whole after a pause of 1 s.
        if (!c.again.empty()) rig.loop.At(4.5, [&rig] { rig.loop.socket->DeliverConnect(); });
        if (!c.again.empty())
            rig.loop.At(4.6, [&rig, &c] { rig.loop.socket->DeliverData(c.again); });
        EXPECT_EQ(rig.Run(), c.exit) << c.answer;
        ASSERT_EQ(rig.loop.socket->sent.size(), c.again.empty() ? 3u : 4u);  // never resumed twice
        EXPECT_TRUE(
            rig.loop.socket->sent[2].ends_with("Tessix Downloader\r\n" + c.resumeLines + "\r\n"));
        if (!c.again.empty()) {
            EXPECT_TRUE(rig.loop.socket->sent[3].ends_with("Downloader\r\n\r\n"));
        }
        EXPECT_TRUE(c.exit ? !rig.files.Has(kExe) : rig.files.Bytes(kExe) == kImage);
        EXPECT_FALSE(rig.files.Has(kTmp));
    }
}

// A connection that cannot be made is tried twice more, after 1 and 2 s; one that timed out
// has had its whole budget and is not. A host that is unreachable, said only after 20 s each
// time, is not tried a third time: that try could end after the watchdog's minute.
TEST(WithTheControl, ConnectionThatCannotBeMadeIsTriedTwiceMore) {
    for (const int error : {ETIMEDOUT, ECONNRESET, ECONNREFUSED, EHOSTUNREACH}) {
        const bool servedAtLast = error == ECONNREFUSED, late = error == EHOSTUNREACH;
        LaunchRig rig;
        ScriptedSocket& peer = *rig.loop.socket;
        for (const double at : late ? std::vector{20.6, 43.1} : std::vector{0.1, 2.1, 5.1}) {
            if (at < 5 || !servedAtLast)
                rig.loop.At(at, [&peer, error] { peer.DeliverError("failed", error); });
        }
        if (servedAtLast) {
            rig.loop.At(5.1, [&peer] { peer.DeliverConnect(); });
            rig.loop.At(5.2, [&peer] { peer.DeliverData(kGoodHeader); });
            rig.loop.At(5.3, [&peer] { peer.DeliverConnect(); });
            rig.loop.At(5.4, [&peer] { peer.DeliverData(kGoodHeader + kImage); });
        }
        EXPECT_EQ(rig.Run(), servedAtLast ? kExitStarted : kExitNoUpdater);
        EXPECT_EQ(std::count_if(peer.calls.begin(), peer.calls.end(),
                                [](const std::string& c) { return c.starts_with("Connect"); }),
                  servedAtLast         ? 4
                  : error == ETIMEDOUT ? 1
                  : late               ? 2
                                       : 3);
        // The log gives the failure's portable condition and the system's own code.
        const std::string line = "failed (error " + std::to_string(error) + ", system error " +
                                 std::to_string(peer.kErrorNumber) + ")";
        EXPECT_NE(rig.files.Bytes(kAppDir + launcher::kPathSeparator + "gorlaunch.log").find(line),
                  std::string::npos);
    }
}

// A proxy that takes no connection passes to the next route at once, without a retry; each
// retry walks the list again from its first.
TEST(WithTheControl, ProxiesAreTriedInTheirOrderThenDirect) {
    struct Settings : platform::SystemProxy {
        platform::ProxyStart Start(
            const std::string&,
            std::function<void(platform::ProxySource, platform::ProxySettings)>) override {
            return {{platform::ProxySource::Named, "a:1;b:2;DIRECT", "", ""}};
        }
    } proxy;
    // A route that timed out passes on too, but the last one's timeout is not tried again;
    // nor is a route taken whose timeout would come after the watchdog's minute.
    for (const auto& [error, every] : {std::pair{ECONNREFUSED, 0.5},
                                       {ETIMEDOUT, 0.5},
                                       {ETIMEDOUT, platform::kConnectMilliseconds / 1000.0}}) {
        LaunchRig rig(nullptr, &proxy);
        ScriptedSocket& peer = *rig.loop.socket;
        for (double at = every - 0.4; at < 70; at += every)
            rig.loop.At(at, [&peer, error] { peer.DeliverError("failed", error); });
        EXPECT_EQ(rig.Run(), kExitNoUpdater);
        const std::string direct =
            "Connect " + rig.form.GorDownload1.host() + " " + rig.form.GorDownload1.port();
        std::vector<std::string> connects;
        std::copy_if(peer.calls.begin(), peer.calls.end(), std::back_inserter(connects),
                     [](const std::string& c) { return c.starts_with("Connect"); });
        std::vector<std::string> expected{"Connect a 1", "Connect b 2", direct};
        if (every > 1) expected.pop_back();
        if (error == ECONNREFUSED) expected.resize(9, "");
        for (std::size_t i = 3; i < expected.size(); ++i) expected[i] = expected[i % 3];
        EXPECT_EQ(connects, expected) << error;
    }
    // A later road keeps nothing of an earlier one: an answer through the first proxy then
    // does not hold the next road to it.
    LaunchRig rig(nullptr, &proxy);
    ScriptedSocket& peer = *rig.loop.socket;
    rig.loop.At(0.1, [&peer] { peer.DeliverConnect(); });
    rig.loop.At(0.2, [&peer] { peer.DeliverData("HTTP/1.1 404 Not Found\r\n\r\n"); });
    for (double at = 1.1; at < 70; at += 0.5)
        rig.loop.At(at, [&peer] { peer.DeliverError("failed", ECONNREFUSED); });
    rig.form.FetchFile("/gorupd.new", kExe);
    rig.form.FetchFile("/gorupd.new", kExe);
    std::vector<std::string> connects;
    std::copy_if(peer.calls.begin(), peer.calls.end(), std::back_inserter(connects),
                 [](const std::string& c) { return c.starts_with("Connect"); });
    connects.resize(3);
    EXPECT_EQ(connects, (std::vector<std::string>{"Connect a 1", "Connect a 1", "Connect b 2"}));
}

}  // namespace
}  // namespace gor::test
