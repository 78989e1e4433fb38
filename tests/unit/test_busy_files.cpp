// On the virtual clock: a file step waits only for a failure that passes by itself, with pauses
// doubling to a second within 10 s (the read-only case is LaunchFailure's); an updater that asks
// for administrator rights goes through the shell; a second launcher in the folder touches nothing.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "fakes/launch_rig.h"

namespace gor::test {
namespace {

const std::string kStarted = "start " + kExe + " style=1";

std::string TimelineText(LaunchRig& rig) {
    std::string text;
    for (const std::string& entry : rig.Timeline()) text += entry + "\n";
    return text;
}

// The step on gorupd.exe or gorupd.new fails so many times, then the timeline shows `last`.
TEST(BusyFiles, OnThePatchRoadWaitOnlyForFailuresThatPassAndOnlyTenSeconds) {
    struct Held {
        const char* op;
        int code, times;
        const char* last;
    } const kCases[] = {
        {"rename", EBUSY, 3, "4.7 start"},   // 0.1 + 0.2 + 0.4 s later than without
        {"rename", EBUSY, 6, "7.5 start"},   // ... + 0.8 + 1 + 1: pauses stop growing at 1 s
        {"rename", EBUSY, 99, "13 msgbox"},  // 10 s after the first failure at 3 s: as before
        {"rename", EACCES, 2, "4.3 start"},  // an old updater still closing, not a read-only one
        {"rename", ENOENT, 1, "3 msgbox"},   // a folder gone: at once
    };
    for (const Held& held : kCases) {
        LaunchRig rig;
        rig.Put(kNew, Updater("new"));
        rig.Put(kExe, Updater("old"));
        int left = held.times;
        rig.files.before = [&](const std::string& op, const std::string& path) {
            if (op == held.op && left > 0 && left--) MemoryFileSystem::Fail(held.code, path);
        };
        rig.Run();
        EXPECT_NE(TimelineText(rig).find(std::string(held.last)), std::string::npos)
            << held.op << " " << held.code << ":\n"
            << TimelineText(rig);
    }
}

TEST(StartUpdater, ThroughTheShellOnlyWhenItAsksForAdministratorRights) {
    for (const bool declined : {false, true}) {
        LaunchRig rig;
        rig.Put(kExe, Updater("present"));
        rig.process.needsElevation = true;
        rig.process.consentDeclined = declined;
        rig.process.atStart = [&] { EXPECT_EQ(rig.files.HandlesOn(kExe), 0); };  // let go first
        EXPECT_EQ(rig.Run(), declined ? launcher::kExitStartFailed : launcher::kExitStarted);
        EXPECT_EQ(TimelineText(rig).find("1 shell " + kStarted) != std::string::npos, !declined);
    }
}

TEST(OneLauncherPerFolder, ASecondStartTouchesNothingAndEndsAtOnce) {
    LaunchRig rig;
    rig.process.folderTaken = true;
    EXPECT_EQ(rig.Run(), launcher::kExitOtherLauncher);
    EXPECT_EQ(rig.process.claimedFolder, kAppDir);
    EXPECT_EQ(TimelineText(rig), "0 end 5\n");
    EXPECT_TRUE(rig.files.entries.empty());  // not even gorlaunch.log
}

}  // namespace
}  // namespace gor::test
