// gorlaunch.log: what a support person reads after a failed download, its bound, and a folder
// where it cannot be written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <sstream>
#include <string>
#include <vector>

#include "build_config.h"
#include "fakes/launch_rig.h"
#include "launcher/base/launch_log.h"

namespace gor::test {
namespace {

const std::string kLog = kAppDir + launcher::kPathSeparator + "gorlaunch.log";
const std::string kOldLog = kAppDir + launcher::kPathSeparator + "gorlaunch.old.log";

// The log's lines without their timestamps.
std::vector<std::string> LogLines(const LaunchRig& rig) {
    std::vector<std::string> lines;
    std::istringstream in(rig.files.Bytes(kLog));
    for (std::string line; std::getline(in, line);) {
        EXPECT_EQ(line.substr(0, 1), "[");
        EXPECT_EQ(line.back(), '\r');
        lines.push_back(line.substr(line.find("] ") + 2, line.size() - line.find("] ") - 3));
    }
    return lines;
}

TEST(LaunchLog, TellsWhyADownloadEnded) {
    LaunchRig rig;
    rig.Put(kLog, std::string(100000, 'x'));  // the previous start's log is kept
    rig.Put(kOldLog, "the one before");
    rig.Put(kExe, "<html>Bad Gateway</html>");
    ScriptedSocket& peer = *rig.loop.socket;
    const std::string header = "HTTP/1.1 200 OK\r\nContent-Length: 4096\r\n\r\n";
    rig.loop.At(0.1, [&] { peer.DeliverConnect(); });
    rig.loop.At(0.2, [&] { peer.DeliverData(header); });
    rig.loop.At(0.3, [&] { peer.DeliverConnect(); });
    rig.loop.At(0.4, [&] { peer.DeliverData(header + std::string(1000, 'a')); });
    rig.loop.At(0.5, [&] { peer.DeliverClose(); });
    // No validator: the file comes again from the start, and is no program.
    rig.loop.At(2.5, [&] { peer.DeliverConnect(); });
    rig.loop.At(2.6, [&] { peer.DeliverData(header + std::string(4096, 'a')); });
    EXPECT_EQ(rig.Run(), launcher::kExitNoUpdater);

    const std::vector<std::string> lines = LogLines(rig);
    ASSERT_EQ(lines.size(), 16u) << rig.files.Bytes(kLog).substr(0, 2000);
    EXPECT_EQ(lines[0].rfind(std::string("gorlaunch ") + build::kVersionText + " in " + kAppDir +
                                 ", update server ",
                             0),
              0u);
    EXPECT_EQ(lines[1], "gorupd.exe is not whole: not an executable image (no MZ signature)");
    EXPECT_EQ(lines[2], "removed gorupd.exe");
    EXPECT_EQ(lines[3], "road: download (no updater in the folder)");
    EXPECT_EQ(lines[4].rfind("probe: GET /gorupd.new HTTP/1.1 to ", 0), 0u);
    EXPECT_EQ(lines[4].substr(lines[4].size() - 17), ", Range: bytes=0-");
    EXPECT_EQ(lines[5], "probe answer: HTTP/1.1 200 OK, Content-Length: 4096");
    EXPECT_EQ(lines[6].rfind("download: GET /gorupd.new HTTP/1.1 to ", 0), 0u);
    EXPECT_EQ(lines[7], "download answer: HTTP/1.1 200 OK, Content-Length: 4096");
    EXPECT_EQ(lines[8], "the server closed the connection after 1000 bytes, before the end");
    EXPECT_EQ(lines[9], "the transfer broke after 1000 bytes; resume 1 of 5 in 1000 ms");
    EXPECT_EQ(lines[10], lines[6]);  // whole again: no Range
    EXPECT_EQ(lines[13], "gorupd.tmp is not whole: not an executable image (no MZ signature)");
    EXPECT_EQ(lines[14], "no updater: Error Downloading");
    EXPECT_EQ(lines[15], "exit code 1: no updater arrived");
    EXPECT_EQ(rig.files.Bytes(kOldLog), std::string(100000, 'x'));
}

// A failure that a skipped step swallows is told too: here the percentage line refuses inside
// the Progress handler, which the control skips, and the transfer goes on.
TEST(LaunchLog, TellsTheFailuresOfSkippedSteps) {
    LaunchRig rig;
    rig.window.failOn = "percent=100 %";
    ScriptedSocket& peer = *rig.loop.socket;
    const std::string image = BuildImage();
    const std::string header =
        "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(image.size()) + "\r\n\r\n";
    rig.loop.At(0.1, [&] { peer.DeliverConnect(); });
    rig.loop.At(0.2, [&] { peer.DeliverData(header); });
    rig.loop.At(0.3, [&] { peer.DeliverConnect(); });
    rig.loop.At(0.4, [&] { peer.DeliverData(header + image); });
    EXPECT_EQ(rig.Run(), launcher::kExitStarted);
    const std::vector<std::string> lines = LogLines(rig);
    EXPECT_EQ(std::count(lines.begin(), lines.end(),
                         "the Progress handler failed: window refused: percent=100 %"),
              1);
    LaunchRig extra;  // an extra for screen readers costs a start nothing but its line
    extra.Put(kExe, Updater("present"));
    extra.window.failOn = "accessibility";
    EXPECT_EQ(extra.Run(), launcher::kExitStarted);
    EXPECT_EQ(LogLines(extra).at(1),
              "setting up accessibility failed: window refused: accessibility");
}

TEST(LaunchLog, IsBoundedAndCostsNothingWhereItCannotBeWritten) {
    {
        LaunchRig rig;
        launcher::LaunchLog log(rig.files, rig.loop);
        log.Open(kAppDir);
        for (int i = 0; i < 5000; ++i) log.Line("a step worth noting, number " + std::to_string(i));
        const std::string& bytes = rig.files.Bytes(kLog);
        EXPECT_LE(bytes.size(), launcher::kLogLimit);
        EXPECT_GT(bytes.size(), launcher::kLogLimit - 100);
        EXPECT_EQ(bytes.substr(bytes.size() - 31), "log full: later lines dropped\r\n");
    }
    for (const bool failOpen : {true, false}) {
        LaunchRig rig;
        rig.Put(kExe, Updater("present"));
        if (failOpen)
            rig.Put(kLog, "read-only", /*readOnly=*/true);
        else
            rig.files.failWritesTo = kLog;
        EXPECT_EQ(rig.Run(), launcher::kExitStarted);
        EXPECT_EQ(rig.window.msgBoxes, 0);
    }
    // A log name linked to a file of someone else's, when the previous log cannot be set
    // aside: that file is never written or cut, and the log starts anew under the name.
    for (const bool hardLink : {true, false}) {
        LaunchRig rig;
        rig.Put(kExe, Updater("present"));
        rig.Put(kOldLog, "kept", /*readOnly=*/true);
        rig.Put(kLog, "someone's");
        rig.files.entries[kLog].links = hardLink ? 2 : 1;
        rig.files.entries[kLog].reparsePoint = !hardLink;
        EXPECT_EQ(rig.Run(), launcher::kExitStarted);
        EXPECT_EQ(rig.files.writesThroughLinks, 0);
        EXPECT_EQ(rig.files.Bytes(kLog).find("] gorlaunch "), 9u);
    }
    // A folder the player may not change: the log goes to the player's own, and says why.
    LaunchRig rig;
    rig.Put(kExe, Updater("present"));
    rig.files.Lock(kAppDir);
    EXPECT_EQ(rig.Run(), launcher::kExitStarted);
    const std::string moved = rig.files.PlayerDataFolder("Gorvik Online") + "\\gorlaunch.log";
    EXPECT_EQ(rig.files.Bytes(moved).find("] " + kAppDir +
                                          " cannot be written: the log is kept here instead\r\n"),
              9u);
}

}  // namespace
}  // namespace gor::test
