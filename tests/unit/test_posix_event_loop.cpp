// The native event loop: waiting sleeps instead of spinning, timers repeat and restart,
// posted tasks run from a later dispatch.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include "platform/posix/event_loop_posix.h"

namespace gor::platform::posix {
namespace {

double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// What the launcher's pause does: dispatch until the clock has passed the deadline.
void Pause(EventLoopPosix& loop, double seconds) {
    const double deadline = loop.Now() + seconds;
    while (loop.Now() < deadline) loop.DispatchEvents(deadline);
}

TEST(EventLoopPosixTest, PauseSleepsForItsWholeLengthUsingAlmostNoProcessor) {
    EventLoopPosix loop;
    auto idle = loop.CreateTimer(50, [] {});  // a disabled timer must not wake the loop
    const double start = loop.Now();
    const double cpuBefore = CpuSeconds();
    Pause(loop, 1.0);
    EXPECT_GE(loop.Now() - start, 1.0);
    // A spinning wait would burn the whole second.
    EXPECT_LT(CpuSeconds() - cpuBefore, 0.2);
}

TEST(EventLoopPosixTest, TimerRepeatsUntilDisabledAndEnablingRestartsTheInterval) {
    EventLoopPosix loop;
    std::vector<double> ticks;
    std::unique_ptr<Timer> timer;
    timer = loop.CreateTimer(40, [&] {
        ticks.push_back(loop.Now());
        if (ticks.size() == 3) timer->SetEnabled(false);
    });
    EXPECT_FALSE(timer->Enabled());
    Pause(loop, 0.1);
    EXPECT_TRUE(ticks.empty());  // created disabled

    const double enabled = loop.Now();
    timer->SetEnabled(true);
    Pause(loop, 0.5);
    ASSERT_EQ(ticks.size(), 3u);
    EXPECT_GE(ticks[0] - enabled, 0.04);
    EXPECT_GE(ticks[1] - ticks[0], 0.035);  // re-armed from the tick, read just before it

    // Enabling an enabled timer starts its interval over.
    ticks.clear();
    auto late = loop.CreateTimer(300, [&] { ticks.push_back(loop.Now()); });
    late->SetEnabled(true);
    Pause(loop, 0.2);
    const double restarted = loop.Now();
    late->SetEnabled(true);
    Pause(loop, 0.2);
    EXPECT_TRUE(ticks.empty());
    while (ticks.empty()) loop.DispatchEvents(restarted + 30);
    EXPECT_GE(ticks[0] - restarted, 0.3);
}

TEST(EventLoopPosixTest, PostedTasksRunFromDispatchInOrderAndTasksTheyPostRunLater) {
    EventLoopPosix loop;
    std::vector<int> order;
    loop.Post([&] {
        order.push_back(1);
        loop.Post([&] { order.push_back(3); });
    });
    loop.Post([&] { order.push_back(2); });
    EXPECT_TRUE(order.empty());  // never from inside Post

    const double farAway = loop.Now() + 30;
    loop.DispatchEvents(farAway);  // returns once something ran, without waiting
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    loop.DispatchEvents(farAway);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_LT(loop.Now(), farAway);
}

TEST(EventLoopPosixTest, HandlersMayWaitInsideTheirOwnDispatch) {
    EventLoopPosix loop;
    int outer = 0, inner = 0;
    auto timer = loop.CreateTimer(10, [&] { ++inner; });
    loop.Post([&] {
        ++outer;
        timer->SetEnabled(true);
        Pause(loop, 0.1);  // a nested wait dispatches the timer
        timer->SetEnabled(false);
    });
    Pause(loop, 0.2);
    EXPECT_EQ(outer, 1);
    EXPECT_GE(inner, 1);
}

}  // namespace
}  // namespace gor::platform::posix
