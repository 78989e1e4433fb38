// Files another program holds for a moment: each file step of the launch waits for a failure
// that passes by itself, with growing pauses within its budget, and fails at once otherwise;
// an updater that asks for administrator rights goes through the shell; a second launcher in
// the folder leaves everything to the first.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <string>

#include "fakes/launch_rig.h"

namespace gor::test {
namespace {

using launcher::kExitFailure;
using launcher::kExitOtherLauncher;
using launcher::kExitStarted;
using launcher::kExitStartFailed;

const std::string kStarted = "start " + kExe + " style=1";

void PatchRoad(LaunchRig& rig) {
    rig.Put(kNew, Updater("new"));
    rig.Put(kExe, Updater("old"));
}
void StraightRoad(LaunchRig& rig) {
    rig.Put(kExe, Updater("present"));
}
void DownloadRoad(LaunchRig& rig) {
    rig.Put(kTmp, "left over");
    rig.loop.At(3.2, [&rig] {
        rig.Put(kTmp, Updater("body"));
        rig.Control().downloaded(kTmp);
    });
}

// `op` on `path` fails with `code` for its first `times` tries (-1: always).
void FailFirst(LaunchRig& rig, const char* op, const std::string& path, int code, int times) {
    rig.files.before = [=, left = times](const std::string& o, const std::string& p) mutable {
        if (o == op && p == path && left != 0) {
            if (left > 0) --left;
            MemoryFileSystem::Fail(code, p);
        }
    };
}

struct BusyCase {
    const char* name;
    std::function<void(LaunchRig&)> arrange;
    int exit;
    std::string last;  // the updater's start (or the failure box), with its time
};

class BusyFiles : public ::testing::TestWithParam<BusyCase> {};

TEST_P(BusyFiles, WaitOnlyForFailuresThatPass) {
    LaunchRig rig;
    GetParam().arrange(rig);
    EXPECT_EQ(rig.Run(), GetParam().exit);
    std::string seen;
    for (const std::string& entry : rig.Timeline()) seen += entry + "\n";
    EXPECT_NE(seen.find(GetParam().last + "\n"), std::string::npos) << seen;
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, BusyFiles,
    ::testing::Values(
        // 0.1 + 0.2 + 0.4 s of pauses: started at 4.7 instead of 4
        BusyCase{"OldUpdaterHeld",
                 [](LaunchRig& r) { PatchRoad(r), FailFirst(r, "remove", kExe, EBUSY, 3); },
                 kExitStarted, "4.7 " + kStarted},
        BusyCase{"RemovalPendingAtTheRename",
                 [](LaunchRig& r) { PatchRoad(r), FailFirst(r, "rename", kNew, EACCES, 2); },
                 kExitStarted, "4.3 " + kStarted},
        BusyCase{"NewUpdaterStillBeingWritten",
                 [](LaunchRig& r) { PatchRoad(r), FailFirst(r, "read", kNew, EBUSY, 2); },
                 kExitStarted, "4.3 " + kStarted},
        BusyCase{"StaleTmpHeld",
                 [](LaunchRig& r) { DownloadRoad(r), FailFirst(r, "remove", kTmp, EBUSY, 1); },
                 kExitStarted, "9.1 " + kStarted},
        BusyCase{"DownloadHeldAtTheMove",
                 [](LaunchRig& r) { DownloadRoad(r), FailFirst(r, "rename", kTmp, EBUSY, 4); },
                 kExitStarted, "9.7 " + kStarted},
        BusyCase{
            "UpdaterHeldForWriting",
            [](LaunchRig& r) {
                StraightRoad(r);
                r.process.startFailures = {std::errc::text_file_busy, std::errc::text_file_busy};
            },
            kExitStarted, "1.3 " + kStarted},
        BusyCase{"BrokenUpdaterHeld",
                 [](LaunchRig& r) {
                     r.Put(kExe, "damaged");
                     r.Put(kNew, Updater("new"));
                     FailFirst(r, "remove", kNew, EBUSY, 0);
                 },
                 kExitStarted, "4 " + kStarted},
        // a failure that cannot pass is reported at once, as before
        BusyCase{"ReadOnlyUpdater",
                 [](LaunchRig& r) { PatchRoad(r), r.files.entries[kExe].readOnly = true; },
                 kExitFailure, "3 msgbox"},
        BusyCase{"FolderGone",
                 [](LaunchRig& r) { PatchRoad(r), FailFirst(r, "remove", kExe, ENOENT, 1); },
                 kExitFailure, "1 msgbox"},
        // the budget: 10 s after the first failure at 1 s the step fails as it did
        BusyCase{"HeldForGood",
                 [](LaunchRig& r) { PatchRoad(r), FailFirst(r, "remove", kExe, EBUSY, -1); },
                 kExitFailure, "11 msgbox"},
        BusyCase{"AsksForAdministratorRights",
                 [](LaunchRig& r) {
                     StraightRoad(r);
                     r.process.startFailures = {platform::kNeedsElevation};
                 },
                 kExitStarted, "1 shell " + kStarted},
        BusyCase{"ConsentDeclined",
                 [](LaunchRig& r) {
                     StraightRoad(r);
                     r.process.startFailures = {platform::kNeedsElevation};
                     r.process.consentDeclined = true;
                 },
                 kExitStartFailed, "3 end 4"}),
    [](const ::testing::TestParamInfo<BusyCase>& info) { return info.param.name; });

TEST(BusyFilesRule, PausesDoubleToASecondWithinTenSeconds) {
    LaunchRig rig;
    PatchRoad(rig);
    std::string tries;
    rig.files.before = [&](const std::string& op, const std::string& path) {
        if (op != "remove" || path != kExe) return;
        char when[16];
        std::snprintf(when, sizeof when, "%g ", rig.loop.Now());
        tries += when;
        MemoryFileSystem::Fail(EBUSY, path);
    };
    EXPECT_EQ(rig.Run(), kExitFailure);
    EXPECT_EQ(tries, "1 1.1 1.3 1.7 2.5 3.5 4.5 5.5 6.5 7.5 8.5 9.5 10.5 11 ");
}

TEST(OneLauncherPerFolder, ASecondStartTouchesNothingAndEndsAtOnce) {
    LaunchRig rig;
    rig.process.folderTaken = true;
    EXPECT_EQ(rig.Run(), kExitOtherLauncher);
    EXPECT_EQ(rig.process.claimedFolder, kAppDir);
    EXPECT_EQ(rig.Timeline(), std::vector<std::string>{"0 end 5"});
    EXPECT_TRUE(rig.files.entries.empty());  // not even gorlaunch.log
}

}  // namespace
}  // namespace gor::test
