// Every platform call of each road fails in turn, once and from then on, as the system would
// fail it; after each run the launcher's promises still hold.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>

#include "fakes/launch_rig.h"
#include "launcher/trust/publisher.h"

namespace gor::test {
namespace {

const std::string kPin(64, 'A'), kFetched = Updater("fetched");

struct SignedByThePublisher : platform::Signatures {
    platform::SignatureFacts VerifySigner(platform::HeldFile&, const std::string& path) override {
        faults.Call("signatures.VerifySigner", path, std::errc::device_or_resource_busy);
        return {0, "", true, 0, "", "", kPin};
    }
};

// The server takes each connection and answers each request (the whole updater) 0.1 s later;
// both count as calls, and one that fails is reported as the socket reports a failure.
void Serve(LaunchRig& rig, std::size_t answered = 0) {
    rig.loop.At(rig.loop.Now() + 0.1, [&rig, answered]() mutable {
        ScriptedSocket& peer = *rig.loop.socket;
        bool connecting = peer.state == ScriptedSocket::State::Connecting;
        bool asked = peer.state == ScriptedSocket::State::Connected && peer.sent.size() > answered;
        try {
            if (connecting) faults.Call("socket.Connect", "", std::errc::connection_refused);
            if (asked) faults.Call("socket.Receive", "", std::errc::connection_reset);
        } catch (const std::system_error& e) {
            peer.DeliverError(e.what(), e.code().value());
            connecting = asked = false;
        }
        if (connecting) peer.DeliverConnect();
        if (asked) {
            answered = peer.sent.size();
            peer.DeliverData("HTTP/1.1 200 OK\r\nContent-Length: " +
                             std::to_string(kFetched.size()) + "\r\n\r\n" + kFetched);
        }
        if (rig.loop.Now() < 200) Serve(rig, answered);
    });
}

// Runs `road` with the faults as set and checks the promises; returns the exit code.
int RunRoad(const std::string& road, const std::string& failing, bool logged) {
    const bool present = !road.ends_with("ownload"), patch = road.ends_with("atch");
    SignedByThePublisher signatures;
    launcher::PinnedPublisher publisher(kPin, 0, signatures);
    std::optional<LaunchRig> rig;
    int exit = launcher::kExitSetupFailed;  // where main ends when a failure escapes the form
    try {
        rig.emplace(road.starts_with("pinned") ? &publisher : nullptr);
        if (present) rig->Put(kExe, Updater("old"));
        if (patch) rig->Put(kNew, Updater("new"));
        Serve(*rig);
        exit = rig->Run();
    } catch (const std::exception&) {
    } catch (const LoopRanAway&) {
        ADD_FAILURE() << road << " hangs with " << failing;
    }
    faults.failAt = 0;
    if (!rig) return exit;  // the form could not be made: nothing was touched
    const MemoryFileSystem& files = rig->files;
    std::string log;
    for (const auto& [path, entry] : files.entries)
        if (path.ends_with(launcher::kLogName)) log += entry.bytes;
    const std::string where = road + " with " + failing + "\n" + log;
    EXPECT_TRUE(exit >= launcher::kExitStarted && exit <= launcher::kExitSetupFailed) << where;
    // Onward, a later failure may end the run before the first is told (a check on its thread).
    const std::string mark = faults.onward ? "[call " : failing.substr(0, failing.find(']') + 2);
    EXPECT_TRUE(!logged || log.find(mark) != log.npos) << where;
    // No content is judged here: a whole updater present stays, and no other takes its name.
    EXPECT_TRUE(!present || files.Has(kExe)) << where;
    const std::string exe = files.Has(kExe) ? files.Bytes(kExe) : "";
    EXPECT_TRUE(exe.empty() || exe == Updater("old") || exe == Updater("new") || exe == kFetched)
        << where;
    EXPECT_TRUE(!patch || files.Has(kNew) || exe == Updater("new")) << where;
    for (const auto& [handle, open] : files.handles)
        EXPECT_TRUE(open.path.ends_with(launcher::kLogName)) << where << "open: " << open.path;
    return exit;
}

class EveryCallFails : public ::testing::TestWithParam<const char*> {};

TEST_P(EveryCallFails, AndTheLaunchersPromisesHold) {
    const std::string road = GetParam();
    faults = {};
    faults.failAt = -1;
    ASSERT_EQ(RunRoad(road, "no failure", false), launcher::kExitStarted);
    const std::vector<std::string> calls = faults.seen;
    bool logOpen = false;  // onward, a failure is logged only once the log has its first line
    for (std::size_t k = 1; k <= calls.size(); ++k) {
        const std::string& call = calls[k - 1];
        const bool logsOwn =
            call.find("gorlaunch") != call.npos || call.find("PlayerDataFolder") != call.npos;
        logOpen = logOpen || (logsOwn && call.find("file.Write") != call.npos);
        for (const bool onward : {false, true}) {
            faults = Faults{0, static_cast<int>(k), onward, "gorlaunch", {}};
            RunRoad(road, call, !logsOwn && (logOpen || !onward));
        }
    }
    std::printf("%s: N = %zu calls, %zu runs\n", road.c_str(), calls.size(), 1 + 2 * calls.size());
}

INSTANTIATE_TEST_SUITE_P(EachRoad, EveryCallFails,
                         ::testing::Values("straight", "patch", "download", "pinnedStraight",
                                           "pinnedPatch", "pinnedDownload"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
}  // namespace gor::test
