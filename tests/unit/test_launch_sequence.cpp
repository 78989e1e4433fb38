// The launch sequence on fakes: the three roads with their texts, pauses, watchdog states and
// exit codes on the virtual clock, the message for a failure at each stage, the watchdog, and
// Pausetime, which all of them rest on.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include "fakes/launch_rig.h"
#include "launcher/road/watchdog.h"
#include "launcher/trust/publisher.h"

namespace gor::test {
namespace {

using launcher::kExitFailure;
using launcher::kExitNoUpdater;
using launcher::kExitStarted;
using launcher::kExitStartFailed;
using launcher::kExitWatchdog;
using Lines = std::vector<std::string>;

const std::string kStarted = "start " + kExe + " style=1";

std::string Message(const char* firstWords, int stage) {
    return std::string(firstWords) +
           " Make sure you have sufficient permissions. (Error: " + std::to_string(stage) +
           ")\r\n1.0.8";
}

// The control's side of a transfer that ends well at `t`: the body is in the partial file.
void TransferCompletes(LaunchRig& rig, double t, const std::string& body = Updater("body")) {
    rig.loop.At(t, [&rig, body] {
        rig.Put(kTmp, body);
        rig.Control().Progress(static_cast<double>(body.size()), static_cast<double>(body.size()));
        rig.Control().downloaded(kTmp);
    });
}

void TransferFails(LaunchRig& rig, double t, const std::string& partialBody = "") {
    rig.loop.At(t, [&rig, partialBody] {
        if (!partialBody.empty()) rig.Put(kTmp, partialBody);
        rig.Control().DownloadError("Connection reset", false);
    });
}

TEST(LaunchRoads, OnlyTheUpdaterPresentStartsItAfterInitializing) {
    LaunchRig rig;
    rig.Put(kExe, Updater("present"));
    EXPECT_EQ(rig.Run(), kExitStarted);
    EXPECT_EQ(rig.Timeline(), (Lines{"0 shaped", "0 status=Initializing", "0 show", "0 timer off",
                                     "1 status=", "1 " + kStarted, "3 end 0"}));
    EXPECT_EQ(rig.form.LaunchStep, 4);
    EXPECT_EQ(rig.window.msgBoxes, 0);
}

// With a pin, the publisher's check of gorupd.exe (here 0.26 s) runs during that pause.
TEST(LaunchRoads, PinnedUpdaterIsCheckedDuringThePauseBeforeItsStart) {
    struct SlowCheck : launcher::PublisherCheck {
        Timeline* timeline = nullptr;
        launcher::PublisherVerdict Check(platform::HeldFile&, const std::string&) override {
            timeline->Note("checked"), timeline->now += 0.26;
            return {true, "pinned", "pinned"};
        }
    } check;
    LaunchRig rig(&check);
    check.timeline = &rig.loop.timeline;
    rig.Put(kExe, Updater("present"));
    EXPECT_EQ(rig.Run(), kExitStarted);
    EXPECT_EQ(rig.Timeline(), (Lines{"0 shaped", "0 status=Initializing", "0 show", "0 timer off",
                                     "0 checked", "1 status=", "1 " + kStarted, "3 end 0"}));
}

TEST(LaunchRoads, NoUpdaterDownloadsItThenPausesFourSecondsAndStartsIt) {
    LaunchRig rig;
    TransferCompletes(rig, 3.2);
    EXPECT_EQ(rig.Run(), kExitStarted);
    EXPECT_EQ(rig.Timeline(),
              (Lines{"0 shaped", "0 status=Downloading Updater", "0 show", "0 timer on",
                     "0 timer 1800 s on",  // the download's ceiling
                     "3.2 timer on",       // the bytes restart the watchdog
                     "3.2 percent=100 %", "3.2 timer off", "3.2 timer 1800 s off",
                     // FetchFile's wait ends at 4
                     "8 percent hidden", "8 status=Initializing", "8 show", "8 timer off",
                     "9 status=", "9 " + kStarted, "11 end 0"}));
    EXPECT_EQ(rig.files.Bytes(kExe), Updater("body"));
    EXPECT_FALSE(rig.files.Has(kTmp));
}

TEST(LaunchRoads, RefusedDownloadShowsRedErrorDownloadingAndStartsNothing) {
    LaunchRig rig;
    TransferFails(rig, 2.5);
    EXPECT_EQ(rig.Run(), kExitNoUpdater);
    EXPECT_EQ(rig.Timeline(),
              (Lines{"0 shaped", "0 status=Downloading Updater", "0 show", "0 timer on",
                     "0 timer 1800 s on", "7 percent hidden", "7 status=Initializing", "7 show",
                     "7 timer off", "7 timer 1800 s off", "8 color=failure",
                     "8 status=Error Downloading", "10 end 1"}));
    EXPECT_EQ(rig.window.msgBoxes, 0);
}

TEST(LaunchRoads, NewUpdaterReplacesTheOldOne) {
    LaunchRig rig;
    rig.Put(kNew, Updater("new"));
    rig.Put(kExe, Updater("old"));
    EXPECT_EQ(rig.Run(), kExitStarted);
    EXPECT_EQ(rig.Timeline(), (Lines{"0 shaped", "0 status=Patching Updater", "0 show",
                                     "1 timer on", "3 status=Initializing", "3 show", "3 timer off",
                                     "4 status=", "4 " + kStarted, "6 end 0"}));
    EXPECT_EQ(rig.files.Bytes(kExe), Updater("new"));
    EXPECT_FALSE(rig.files.Has(kNew));
    EXPECT_EQ(rig.form.NewFile, kNew);
    EXPECT_EQ(rig.form.ExeFile, kExe);
}

TEST(LaunchRoads, NewUpdaterAloneIsRenamedWithoutRemoval) {
    LaunchRig rig;
    rig.Put(kNew, Updater("new"));
    std::vector<std::string> removed;
    rig.files.before = [&](const std::string& op, const std::string& path) {
        if (op == "remove") removed.push_back(path);
    };
    EXPECT_EQ(rig.Run(), kExitStarted);
    EXPECT_TRUE(removed.empty());
    EXPECT_EQ(rig.files.Bytes(kExe), Updater("new"));
}

// Also a start that fails once the hold was let go: never tried again, even for a busy file.
TEST(LaunchRoads, UpdaterThatCannotStartEndsSilentlyTwoSecondsLater) {
    for (const bool onceLetGo : {false, true}) {
        LaunchRig rig;
        rig.Put(kExe, Updater("that cannot start"));
        rig.process.startFails = !onceLetGo;
        rig.process.failsOnceLetGo = onceLetGo ? EBUSY : 0;
        EXPECT_EQ(rig.Run(), kExitStartFailed);
        EXPECT_EQ(rig.Timeline(), (Lines{"0 shaped", "0 status=Initializing", "0 show",
                                         "0 timer off", "1 status=", "3 end 4"}));
        EXPECT_EQ(rig.window.msgBoxes, 0);
    }
}

TEST(LaunchRoads, PastTheFinalTestAFailingStepIsSkipped) {
    LaunchRig rig;
    rig.Put(kExe, Updater("present"));
    rig.window.failOn = "status=";
    EXPECT_EQ(rig.Run(), kExitStarted);
    EXPECT_EQ(rig.Timeline(), (Lines{"0 shaped", "0 status=Initializing", "0 show", "0 timer off",
                                     "1 " + kStarted, "3 end 0"}));
    EXPECT_EQ(rig.window.msgBoxes, 0);
}

// Where the player may read but not change anything (a game under Program Files) the straight
// road asks for no more, and nothing of ours holds the updater once it has started.
TEST(LaunchRoads, InALockedFolderTheStraightRoadStartsTheUpdaterAndLetsGo) {
    LaunchRig rig;
    rig.Put(kExe, Updater("present"));
    rig.files.Lock(kAppDir);
    EXPECT_EQ(rig.Run(), kExitStarted);
    EXPECT_EQ(rig.Timeline()[5], "1 " + kStarted);
    EXPECT_EQ(rig.files.HandlesOn(kExe), 0);
}

// From its check to its start the updater is held by one handle of ours, never closed (so
// never opened again) in between, through the rename on the patch and download roads; the
// updater runs only once it is let go.
TEST(LaunchRoads, OneHandleHoldsTheUpdaterFromItsCheckToItsStart) {
    for (const char* road : {"straight", "patch", "download"}) {
        LaunchRig rig;
        if (road[0] != 'd') rig.Put(kExe, Updater("old"));
        if (road[0] == 'p') rig.Put(kNew, Updater("new"));
        if (road[0] == 'd') TransferCompletes(rig, 3.2);
        std::vector<int> held;
        rig.process.atStart = [&] {
            EXPECT_EQ(rig.files.holdsClosed, Lines{}) << road;
            held.push_back(rig.files.HandlesOn(kExe));
        };
        rig.process.afterLetGo = [&] { held.push_back(rig.files.HandlesOn(kExe)); };
        EXPECT_EQ(rig.Run(), kExitStarted) << road;
        EXPECT_EQ(held, (std::vector<int>{1, 0})) << road;
    }
}

// ---- only a whole updater is installed or started

TEST(BrokenUpdater, BrokenPatchIsRemovedAndTheWorkingUpdaterStarted) {
    LaunchRig rig;
    rig.Put(kNew, Updater("new").substr(0, 1500));  // cut short
    rig.Put(kExe, Updater("old"));
    EXPECT_EQ(rig.Run(), kExitStarted);
    EXPECT_EQ(rig.Timeline(), (Lines{"0 shaped", "0 status=Initializing", "0 show", "0 timer off",
                                     "1 status=", "1 " + kStarted, "3 end 0"}));
    EXPECT_FALSE(rig.files.Has(kNew));
    EXPECT_EQ(rig.files.Bytes(kExe), Updater("old"));
}

TEST(BrokenUpdater, DamagedUpdaterIsReplacedByADownload) {
    for (const bool withBrokenPatch : {false, true}) {
        LaunchRig rig;
        rig.Put(kExe, "<html>502 Bad Gateway</html>");
        if (withBrokenPatch) rig.Put(kNew, "");
        TransferCompletes(rig, 3.2, Updater("fetched"));
        EXPECT_EQ(rig.Run(), kExitStarted);
        EXPECT_EQ(rig.Timeline()[1], "0 status=Downloading Updater");
        EXPECT_EQ(rig.files.Bytes(kExe), Updater("fetched"));
        EXPECT_FALSE(rig.files.Has(kNew));
    }
}

TEST(BrokenUpdater, BrokenDownloadIsNotInstalled) {
    for (const std::string& body : {std::string("<html>Service Unavailable</html>"),
                                    Updater("cut").substr(0, 2000), std::string()}) {
        LaunchRig rig;
        TransferCompletes(rig, 3.2, body);
        EXPECT_EQ(rig.Run(), kExitNoUpdater);
        EXPECT_EQ(rig.window.statusCaption, "Error Downloading");
        EXPECT_EQ(rig.window.msgBoxes, 0);
        EXPECT_FALSE(rig.files.Has(kExe));
        EXPECT_FALSE(rig.files.Has(kTmp));
    }
}

TEST(BrokenUpdater, OneThatCannotBeRemovedShowsTheStagesMessage) {
    LaunchRig rig;
    rig.Put(kExe, "damaged", /*readOnly=*/true);
    EXPECT_EQ(rig.Run(), kExitFailure);
    EXPECT_EQ(rig.window.msgText, Message("Error downloading new updater.", 2));
    EXPECT_EQ(rig.files.Bytes(kExe), "damaged");
}

// ---- a failure in the trapped part: one message naming the stage, 2 s, unload, end

struct StageFailure {
    const char* name;
    std::function<void(LaunchRig&)> arrange;
    std::string text;
    Lines ending;  // the timeline's last three entries
};

class LaunchFailure : public ::testing::TestWithParam<StageFailure> {};

TEST_P(LaunchFailure, ShowsTheStagesMessageThenEndsTwoSecondsLater) {
    LaunchRig rig;
    GetParam().arrange(rig);
    EXPECT_EQ(rig.Run(), kExitFailure);
    EXPECT_EQ(rig.window.msgBoxes, 1);
    EXPECT_EQ(rig.window.msgText, GetParam().text);
    EXPECT_EQ(rig.window.msgTitle, "Error Launching");
    EXPECT_EQ(rig.window.msgStyle, 48);
    const Lines& t = rig.Timeline();
    ASSERT_GE(t.size(), 3u);
    EXPECT_EQ(Lines(t.end() - 3, t.end()), GetParam().ending);
    for (const std::string& entry : t) EXPECT_EQ(entry.find(" start "), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    EachStage, LaunchFailure,
    ::testing::Values(StageFailure{"ShapingFails",
                                   [](LaunchRig& rig) { rig.window.failShapingAt = "read"; },
                                   Message("Gorvik Launcher Error.", 1),
                                   {"0 msgbox", "2 unload", "2 end 2"}},
                      StageFailure{"UpdaterSearchFails",
                                   [](LaunchRig& rig) {
                                       rig.files.before = [](const std::string& op,
                                                             const std::string& path) {
                                           if (op == "find" && path == kExe)
                                               MemoryFileSystem::Fail(EIO, path);
                                       };
                                   },
                                   Message("Error downloading new updater.", 2),
                                   {"0 msgbox", "2 unload", "2 end 2"}},
                      StageFailure{"ReadOnlyUpdaterOnThePatchRoad",
                                   [](LaunchRig& rig) {
                                       rig.Put(kNew, Updater("new"));
                                       rig.Put(kExe, Updater("old"), /*readOnly=*/true);
                                   },
                                   Message("Error patching updater.", 3),
                                   {"3 msgbox", "5 unload", "5 end 2"}},
                      StageFailure{"PatchInALockedFolderAtOnce",
                                   [](LaunchRig& rig) {
                                       rig.Put(kNew, Updater("new"));
                                       rig.Put(kExe, Updater("old"));
                                       rig.files.Lock(kAppDir);
                                   },
                                   Message("Error patching updater.", 3),
                                   {"3 msgbox", "5 unload", "5 end 2"}},
                      StageFailure{"InitializingCannotBeShown",
                                   [](LaunchRig& rig) {
                                       rig.Put(kExe, Updater("present"));
                                       rig.window.failOn = "status=Initializing";
                                   },
                                   Message("Error starting updater.", 4),
                                   {"0 msgbox", "2 unload", "2 end 2"}},
                      StageFailure{"ErrorDownloadingCannotBeShown",
                                   [](LaunchRig& rig) {
                                       TransferFails(rig, 2.5);
                                       rig.window.failOn = "color=failure";
                                   },
                                   Message("Error starting updater.", 4),
                                   {"8 msgbox", "10 unload", "10 end 2"}}),
    [](const ::testing::TestParamInfo<StageFailure>& info) { return info.param.name; });

TEST(LaunchFailureDetail, ReadOnlyUpdaterOnThePatchRoadIsNeitherRemovedNorReplaced) {
    LaunchRig rig;
    rig.Put(kNew, Updater("new"));
    rig.Put(kExe, Updater("old"), /*readOnly=*/true);
    EXPECT_EQ(rig.Run(), kExitFailure);
    EXPECT_EQ(rig.files.Bytes(kExe), Updater("old"));
    EXPECT_EQ(rig.files.Bytes(kNew), Updater("new"));
    EXPECT_EQ(rig.window.statusCaption, "Patching Updater");  // the status keeps its text
    EXPECT_EQ(rig.window.msgText,
              "Error patching updater. Make sure you have sufficient permissions. (Error: 3)\r\n"
              "1.0.8");
}

// ---- the watchdog: 60 s after it was enabled, "Terminating" in red, 2 s, unload, end

TEST(LaunchWatchdog, EndsADownloadThatNeverEnds) {
    LaunchRig rig;
    EXPECT_EQ(rig.Run(), kExitWatchdog);
    EXPECT_EQ(rig.Timeline(), (Lines{"0 shaped", "0 status=Downloading Updater", "0 show",
                                     "0 timer on", "0 timer 1800 s on", "60 color=failure",
                                     "60 status=Terminating", "62 unload", "62 end 3"}));
    EXPECT_FALSE(rig.files.Has(kExe));
}

// During a download the watchdog measures progress: a Progress that brings 1 KiB since its
// last restart restarts it (at most once a second), so a transfer that keeps delivering is
// never cut, while a minute with less (silence, or a trickle) ends it, taking the partial
// file and the connection with it; and no download outlasts its ceiling.
struct Pace {
    const char* name;
    double bytes;        // every 10 s two Progress events, half a second apart, each this many
    double until;        // ... before this time
    double endsAt;       // when "Terminating" shows; 0: the transfer completes at 155
    std::string logged;  // the watchdog's line in the log
};

TEST(LaunchWatchdog, EndsADownloadOnlyForTooLittleProgressOrAtItsCeiling) {
    for (const Pace& pace :
         {Pace{"steady", 1024, 155, 0, ""},
          Pace{"silent after 100 s", 1024, 101, 160, launcher::SilenceText("20480")},
          Pace{"trickle", 40, 60, 60, launcher::SilenceText("400")},
          Pace{"endless", 1000, launcher::kDownloadCeilingSeconds,
               launcher::kDownloadCeilingSeconds, launcher::CeilingText("358000")}}) {
        LaunchRig rig;
        rig.loop.At(5, [&rig] { rig.Put(kTmp, "MZ half"); });
        double bytes = 0;
        for (double t = 10; t < pace.until; t += 10) {
            for (const double at : {t, t + 0.5}) {  // the second restarts nothing
                bytes += pace.bytes;
                rig.loop.At(at, [&rig, bytes] { rig.Control().Progress(bytes, 0); });
            }
        }
        if (pace.endsAt == 0) {
            TransferCompletes(rig, 155);
            EXPECT_EQ(rig.Run(), kExitStarted) << pace.name;  // the minute no longer limits it
            continue;
        }
        EXPECT_EQ(rig.Run(), kExitWatchdog) << pace.name;
        const Lines& t = rig.Timeline();
        const auto at = [&](int late) { return std::to_string(int(pace.endsAt) + late) + " "; };
        EXPECT_EQ(Lines(t.end() - 4, t.end()),
                  (Lines{at(0) + "color=failure", at(0) + "status=Terminating", at(2) + "unload",
                         at(2) + "end 3"}))
            << pace.name;
        EXPECT_FALSE(rig.files.Has(kTmp)) << pace.name;
        EXPECT_EQ(rig.loop.socket->state, ScriptedSocket::State::Closed) << pace.name;
        EXPECT_NE(
            rig.files.Bytes(kAppDir + launcher::kPathSeparator + "gorlaunch.log").find(pace.logged),
            std::string::npos)
            << pace.name;
    }
}

TEST(LaunchWatchdog, EndsAPatchWhoseReplacementHangs) {
    LaunchRig rig;
    rig.Put(kNew, Updater("new"));
    rig.Put(kExe, Updater("old"));
    rig.files.before = [&](const std::string& op, const std::string& path) {
        if (op == "rename" && path == kNew) {
            rig.loop.timeline.now += 70;
            MemoryFileSystem::Fail(EBUSY, path);  // and then waited for
        }
    };
    EXPECT_EQ(rig.Run(), kExitWatchdog);
    EXPECT_EQ(rig.Timeline(),
              (Lines{"0 shaped", "0 status=Patching Updater", "0 show", "1 timer on",
                     "73 color=failure", "73 status=Terminating", "75 unload", "75 end 3"}));
    EXPECT_EQ(rig.files.Bytes(kExe), Updater("old"));
    EXPECT_TRUE(rig.files.Has(kNew));
}

TEST(LaunchWatchdog, IsStoppedByACompletedDownload) {
    LaunchRig rig;
    TransferCompletes(rig, 58.5);
    EXPECT_EQ(rig.Run(), kExitStarted);
    EXPECT_EQ(rig.Timeline().back(), "66 end 0");
}

TEST(LaunchWatchdog, StillRunsAfterADownloadErrorUntilTheFinalStage) {
    LaunchRig rig;
    TransferFails(rig, 58.5);
    EXPECT_EQ(rig.Run(), kExitWatchdog);
    const Lines& t = rig.Timeline();
    EXPECT_EQ(Lines(t.end() - 4, t.end()),
              (Lines{"60 color=failure", "60 status=Terminating", "62 unload", "62 end 3"}));
}

// The rule on its own: 1 KiB restarts the minute, less does not; the road names the ending.
TEST(LaunchWatchdog, RuleOnTheVirtualClock) {
    VirtualClockLoop loop;
    std::vector<double> expired;
    double bytes = 0;
    launcher::Watchdog watchdog(
        loop, [&](const std::string&) { expired.push_back(loop.Now()); }, [&] { return bytes; });
    const auto progress = [&](double to) { return [&, to] { bytes = to, watchdog.Progress(); }; };
    watchdog.Start(launcher::Watchdog::Road::Download);
    loop.At(30, progress(1023));   // too little: the minute runs on
    loop.At(59, progress(2048));   // enough: a new minute from 59 s
    loop.At(60, progress(0));      // the file starts again from 0
    loop.At(100, progress(1100));  // enough since then: a new minute
    while (expired.empty()) loop.DispatchEvents(1e9);
    EXPECT_EQ(expired, std::vector<double>{160});
    EXPECT_EQ(watchdog.ExpiryText(), launcher::SilenceText("1100"));
    watchdog.Start(launcher::Watchdog::Road::Patch);
    EXPECT_EQ(watchdog.ExpiryText(), launcher::PatchTooLongText());
}

// ---- Pausetime: the one place where the launcher waits

TEST(Pausetime, OfNoLengthDispatchesNothing) {
    LaunchRig rig;
    bool ran = false;
    rig.loop.Post([&] { ran = true; });
    rig.loop.At(0, [&] { ran = true; });
    rig.form.Pausetime(0);
    rig.form.Pausetime(-3);
    EXPECT_EQ(rig.loop.dispatches, 0);
    EXPECT_FALSE(ran);
}

TEST(Pausetime, LastsItsLengthAndDispatchesEventsMeanwhile) {
    LaunchRig rig;
    rig.loop.timeline.now = 100.25;
    Lines seen;
    rig.loop.Post([&] { seen.push_back("posted"); });
    rig.loop.At(100.5, [&] { seen.push_back("repaint"); });
    rig.loop.At(102.0, [&] { seen.push_back("at the deadline"); });
    rig.loop.At(102.5, [&] { seen.push_back("after"); });
    rig.form.Pausetime(2);
    EXPECT_EQ(rig.loop.Now(), 102.25);
    EXPECT_EQ(seen, (Lines{"posted", "repaint", "at the deadline"}));
}

}  // namespace
}  // namespace gor::test
