// An event loop on virtual time for unit tests: scripted events at chosen instants, timers,
// posted tasks and scripted sockets, and a timeline on which the fakes note what they saw and
// when.
#pragma once

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "fakes/scripted_socket.h"
#include "platform/event_loop.h"

namespace gor::test {

// Virtual "now" and the ordered list of what happened, each entry prefixed by its time
// ("3.2 timer off"), so one comparison checks order and timing together.
struct Timeline {
    double now = 0;
    std::vector<std::string> entries;

    void Note(const std::string& what) {
        char when[32];
        std::snprintf(when, sizeof when, "%g ", now);
        entries.push_back(when + what);
    }
};

// Thrown when a test's program waits far longer than any road can: a hang, reported at once.
// Not a std::exception, so no trap of the code under test swallows it.
struct LoopRanAway {};

class VirtualClockLoop;

class FakeTimer : public platform::Timer {
  public:
    FakeTimer(VirtualClockLoop& loop, int intervalMs, std::function<void()> onTick);
    ~FakeTimer() override;
    void SetEnabled(bool enabled) override;
    bool Enabled() const override { return enabled_; }

    double due = 0;
    double interval;
    std::function<void()> onTick;

  private:
    VirtualClockLoop& loop_;
    bool enabled_ = false;
};

class VirtualClockLoop : public platform::EventLoop {
  public:
    Timeline timeline;
    int dispatches = 0;                // DispatchEvents calls so far
    double giveUpAt = 3600;            // virtual seconds after which a wait counts as a hang
    ScriptedSocket* socket = nullptr;  // the socket made last

    // Schedules `event` at virtual time `t`; events of equal time run in the order scheduled.
    void At(double t, std::function<void()> event) { scripted_.emplace(t, std::move(event)); }

    double Now() override { return timeline.now; }

    // Runs posted tasks when there are any; otherwise moves the clock to the earlier of the
    // next scripted event or timer tick and the deadline, and runs whatever is due by then.
    void DispatchEvents(double deadline) override {
        faults.Call("clock.DispatchEvents", "", std::errc::not_enough_memory);
        ++dispatches;
        if (timeline.now > giveUpAt) throw LoopRanAway{};
        if (!posted_.empty()) {
            auto tasks = std::move(posted_);
            posted_.clear();
            for (auto& task : tasks) task();
            return;
        }
        timeline.now = std::max(timeline.now, std::min(deadline, NextDue()));
        while (!scripted_.empty() && scripted_.begin()->first <= timeline.now) {
            auto event = std::move(scripted_.begin()->second);
            scripted_.erase(scripted_.begin());
            event();
        }
        for (FakeTimer* timer : std::vector<FakeTimer*>(timers_)) {
            if (timer->Enabled() && timer->due <= timeline.now) {
                timer->due += timer->interval;
                timer->onTick();
            }
        }
    }

    // Runs `task` at the next dispatch, before anything scheduled.
    void Post(std::function<void()> task) override { posted_.push_back(std::move(task)); }
    // The work at the next dispatch, as though its thread ran while the loop waited, and its
    // `done` posted after it.
    void RunOffLoop(std::function<void()> work, std::function<void()> done) override {
        offLoop_.push_back(std::move(work));
        Post([this, at = offLoop_.size() - 1, done = std::move(done)]() mutable {
            if (offLoop_[at]) std::exchange(offLoop_[at], nullptr)();
            Post(std::move(done));
        });
    }
    // Work whose thread still runs when the program has ended: it finishes, and what it would
    // post goes nowhere.
    void FinishOffLoopWork() {
        for (auto& work : offLoop_)
            if (work) std::exchange(work, nullptr)();
        posted_.clear();
    }

    std::unique_ptr<platform::Timer> CreateTimer(int intervalMs,
                                                 std::function<void()> onTick) override {
        return std::make_unique<FakeTimer>(*this, intervalMs, std::move(onTick));
    }

    std::unique_ptr<platform::SocketControl> CreateSocket() override {
        faults.Call("clock.CreateSocket", "", std::errc::not_enough_memory);
        auto made = std::make_unique<ScriptedSocket>();
        socket = made.get();
        return made;
    }

    void Register(FakeTimer* timer) { timers_.push_back(timer); }
    void Unregister(FakeTimer* timer) {
        timers_.erase(std::remove(timers_.begin(), timers_.end(), timer), timers_.end());
    }

  private:
    std::vector<std::function<void()>> offLoop_;  // work not yet run, by RunOffLoop's order
    double NextDue() const {
        double next = scripted_.empty() ? 1e300 : scripted_.begin()->first;
        for (const FakeTimer* timer : timers_) {
            if (timer->Enabled()) next = std::min(next, timer->due);
        }
        return next;
    }

    std::multimap<double, std::function<void()>> scripted_;
    std::vector<std::function<void()>> posted_;
    std::vector<FakeTimer*> timers_;
};

inline FakeTimer::FakeTimer(VirtualClockLoop& loop, int intervalMs, std::function<void()> tick)
    : interval(intervalMs / 1000.0), onTick(std::move(tick)), loop_(loop) {
    loop_.Register(this);
}
inline FakeTimer::~FakeTimer() {
    loop_.Unregister(this);
}
inline void FakeTimer::SetEnabled(bool enabled) {
    // A refused SetTimer leaves the timer stopped.
    if (enabled) enabled_ = false, faults.Call("clock.SetTimer", "", std::errc::not_enough_memory);
    enabled_ = enabled;
    if (enabled) due = loop_.Now() + interval;
    // The watchdog's minute is "timer"; another (the download's ceiling) names its interval.
    const std::string name =
        interval == 60 ? "timer" : "timer " + std::to_string(static_cast<int>(interval)) + " s";
    loop_.timeline.Note(name + (enabled ? " on" : " off"));
}

}  // namespace gor::test
