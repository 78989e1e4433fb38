// The native TCP socket control. Every notification reaches the sink from inside
// DispatchEvents: readiness directly, failures found inside an operation through Post.
// A generation counter, bumped by every Close and Connect, silences whatever an older
// connection still had on its way, including notifications already queued. A host's
// addresses race for the connection (address_race.h); the first to connect wins.
#include "platform/posix/socket_control_posix.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "platform/address_race.h"
#include "platform/posix/event_loop_posix.h"
#include "platform/posix/name_resolver.h"
#include "platform/posix/posix_error.h"

namespace gor::platform::posix {

namespace {

bool SameAddress(const SocketAddress& a, const SocketAddress& b) {
    return a.length == b.length && std::memcmp(&a.storage, &b.storage, a.length) == 0;
}

}  // namespace

class SocketCore;

// One address's connection attempt in a race: its own descriptor, polled for writability.
struct ConnectAttempt final : FdWatcher {
    std::weak_ptr<SocketCore> core;
    int fd = -1;
    EventLoopPosix::WatchId watch = 0;
    std::size_t address = 0;  // index into the race's addresses
    short Interest() const override { return POLLOUT; }
    void OnReady(short revents) override;
};

class SocketCore final : public FdWatcher, public std::enable_shared_from_this<SocketCore> {
  public:
    explicit SocketCore(EventLoopPosix& loop) : loop_(loop), rx_(kReceiveBufferBytes) {}
    ~SocketCore() override {
        CloseDescriptor();
        EndRace();
    }

    SocketEvents* sink = nullptr;

    void Close() {
        ++generation_;
        CloseDescriptor();
        EndRace();
        state_ = State::Closed;
        addresses_.clear();
        nextAddress_ = 0;
        rxBegin_ = rxEnd_ = 0;
        tx_.clear();
        txSent_ = 0;
        localIp_.clear();
    }

    void Connect(const std::string& host, const std::string& port) {
        Close();
        state_ = State::Resolving;
        const auto portNumber = platform::ParsePort(port);
        if (!portNumber) {
            Fail(EINVAL, "Invalid port number \"" + port + "\"", Delivery::Posted);
            return;
        }
        if (auto numeric = ResolveNumeric(host, *portNumber)) {
            StartConnecting(std::move(*numeric), Delivery::Posted);
            return;
        }
        std::weak_ptr<SocketCore> weak = weak_from_this();
        const auto generation = generation_;
        ResolveInBackground(host, *portNumber, loop_.mailbox(),
                            [weak, generation](Resolution resolution) {
                                auto self = weak.lock();
                                if (!self || self->generation_ != generation) return;
                                self->StartConnecting(std::move(resolution), Delivery::Direct);
                            });
    }

    void SendData(std::string_view data) {
        if (state_ != State::Connected) throw PosixError(ENOTCONN, "SendData");
        tx_.append(data);
        FlushSendQueue(Delivery::Posted);
    }

    void GetData(std::string& data, std::int32_t maxLength) {
        const std::size_t available = rxEnd_ - rxBegin_;
        const std::size_t n =
            maxLength > 0 ? std::min(available, static_cast<std::size_t>(maxLength)) : 0;
        data.assign(rx_.data() + rxBegin_, n);
        rxBegin_ += n;
        if (rxBegin_ == rxEnd_) rxBegin_ = rxEnd_ = 0;
    }

    const std::string& LocalIP() const { return localIp_; }

    short Interest() const override {
        switch (state_) {
            case State::Connected: {
                // Nothing more is read until the last chunk was taken, so chunks never
                // overtake each other and the peer's close follows all its data.
                short events = rxBegin_ == rxEnd_ ? POLLIN : 0;
                if (txSent_ < tx_.size()) events |= POLLOUT;
                return events;
            }
            default:
                return 0;
        }
    }

    void OnReady(short revents) override {
        auto self = shared_from_this();  // a handler may destroy the control
        const auto generation = generation_;
        if (state_ != State::Connected) return;
        if ((revents & POLLOUT) && txSent_ < tx_.size()) {
            FlushSendQueue(Delivery::Direct);
            if (generation != generation_ || state_ != State::Connected) return;
        }
        if ((revents & (POLLIN | POLLHUP | POLLERR)) && rxBegin_ == rxEnd_) Receive();
    }

  private:
    enum class State { Closed, Resolving, Connecting, Connected, Ended };
    // Whether a failure may reach the sink at once (we are inside a dispatch) or must be
    // posted (we are inside an operation the host called).
    enum class Delivery { Direct, Posted };

    void StartConnecting(Resolution resolution, Delivery delivery) {
        if (resolution.addresses.empty()) {
            const int code = resolution.errorNumber != 0 ? resolution.errorNumber : EHOSTUNREACH;
            Fail(code, resolution.description.empty() ? ErrorText(code) : resolution.description,
                 delivery);
            return;
        }
        std::vector<int> families;
        std::optional<std::size_t> preferred;
        for (const SocketAddress& address : resolution.addresses) {
            if (winner_ && SameAddress(address, *winner_)) preferred = families.size();
            families.push_back(address.family);
        }
        for (const std::size_t i : RaceOrder(families, preferred))
            addresses_.push_back(resolution.addresses[i]);
        nextAddress_ = 0;
        lastError_ = 0;
        state_ = State::Connecting;
        const std::weak_ptr<SocketCore> weak = weak_from_this();
        staggerTimer_ = loop_.CreateTimer(kRaceStaggerMilliseconds, [weak] {
            if (auto self = weak.lock(); self && self->state_ == State::Connecting)
                self->StartNextAttempt(Delivery::Direct);
        });
        // The budget of the whole race: whatever has not connected by then has timed out.
        raceTimer_ = loop_.CreateTimer(kConnectMilliseconds, [weak] {
            auto self = weak.lock();
            if (!self || self->state_ != State::Connecting) return;
            self->EndRace();
            self->Fail(ETIMEDOUT, ErrorText(ETIMEDOUT), Delivery::Direct);
        });
        raceTimer_->SetEnabled(true);
        StartNextAttempt(delivery);
    }

    // Starts the next address's attempt beside those still running; one refused at once is
    // passed over. With no address left and none running, the race is lost with the last
    // address's failure.
    void StartNextAttempt(Delivery delivery) {
        staggerTimer_->SetEnabled(false);
        while (nextAddress_ < addresses_.size()) {
            const std::size_t index = nextAddress_++;
            const SocketAddress& address = addresses_[index];
            const int fd =
                ::socket(address.family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
            if (fd < 0) {
                lastError_ = errno;
                continue;
            }
            const int rc =
                ::connect(fd, reinterpret_cast<const sockaddr*>(&address.storage), address.length);
            if (rc == 0 || errno == EINPROGRESS || errno == EINTR) {
                // Even an immediate success is reported by writability, from the loop.
                auto attempt = std::make_shared<ConnectAttempt>();
                attempt->core = weak_from_this();
                attempt->fd = fd;
                attempt->address = index;
                attempt->watch = loop_.Watch(fd, attempt);
                racing_.push_back(std::move(attempt));
                if (nextAddress_ < addresses_.size()) staggerTimer_->SetEnabled(true);
                return;
            }
            lastError_ = errno;
            ::close(fd);
        }
        if (!racing_.empty()) return;
        EndRace();
        const int error = lastError_ != 0 ? lastError_ : EHOSTUNREACH;
        Fail(error, ErrorText(error), delivery);
    }

  public:
    // An attempt's descriptor is writable: it connected, and wins, or it failed, and the next
    // address starts at once.
    void AttemptReady(ConnectAttempt& attempt, short revents) {
        auto self = shared_from_this();  // the sink may destroy the control
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(attempt.fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
        if (error == 0 && !(revents & POLLOUT)) error = ECONNABORTED;
        if (error != 0) {
            lastError_ = error;
            Drop(attempt);
            StartNextAttempt(Delivery::Direct);
            return;
        }
        winner_ = addresses_[attempt.address];
        fd_ = std::exchange(attempt.fd, -1);
        loop_.Unwatch(attempt.watch);
        EndRace();
        watch_ = loop_.Watch(fd_, weak_from_this());
        sockaddr_storage local{};
        socklen_t localLength = sizeof local;
        if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &localLength) == 0)
            localIp_ = AddressText(local);
        state_ = State::Connected;
        if (sink) sink->OnConnect();
    }

  private:
    void CloseAttempt(ConnectAttempt& attempt) {
        if (attempt.fd < 0) return;
        loop_.Unwatch(attempt.watch);
        ::close(attempt.fd);
        attempt.fd = -1;
    }

    void Drop(ConnectAttempt& attempt) {
        CloseAttempt(attempt);
        std::erase_if(racing_, [&](const auto& a) { return a.get() == &attempt; });
    }

    // Closes every attempt still running and stops the race's timers.
    void EndRace() {
        for (const auto& attempt : racing_) CloseAttempt(*attempt);
        racing_.clear();
        // Stopped, not destroyed: this may run inside one of their ticks.
        if (staggerTimer_) staggerTimer_->SetEnabled(false);
        if (raceTimer_) raceTimer_->SetEnabled(false);
    }

    void Receive() {
        const ssize_t n = ::recv(fd_, rx_.data(), rx_.size(), 0);
        if (n > 0) {
            rxBegin_ = 0;
            rxEnd_ = static_cast<std::size_t>(n);
            if (sink) sink->OnDataArrival(static_cast<std::int32_t>(n));
            return;
        }
        if (n == 0) {
            state_ = State::Ended;
            CloseDescriptor();
            if (sink) sink->OnClose();
            return;
        }
        // Stale readiness (already drained by a nested dispatch) or a signal: nothing to do.
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;
        Fail(errno, ErrorText(errno), Delivery::Direct);
    }

    void FlushSendQueue(Delivery delivery) {
        while (txSent_ < tx_.size()) {
            // MSG_NOSIGNAL: a peer that went away must give EPIPE, never SIGPIPE.
            const ssize_t n = ::send(fd_, tx_.data() + txSent_, tx_.size() - txSent_, MSG_NOSIGNAL);
            if (n > 0) {
                txSent_ += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;  // POLLOUT resumes
            const int error = n < 0 ? errno : EPIPE;
            Fail(error, ErrorText(error), delivery);
            return;
        }
        tx_.clear();
        txSent_ = 0;
    }

    void Fail(int code, std::string description, Delivery delivery) {
        state_ = State::Ended;
        CloseDescriptor();
        EndRace();
        if (delivery == Delivery::Direct) {
            Deliver(code, std::move(description));
            return;
        }
        std::weak_ptr<SocketCore> weak = weak_from_this();
        const auto generation = generation_;
        loop_.Post([weak, generation, code, description = std::move(description)]() mutable {
            auto self = weak.lock();
            if (self && self->generation_ == generation)
                self->Deliver(code, std::move(description));
        });
    }

    void Deliver(int code, std::string description) {
        if (!sink) return;
        bool cancelDisplay = false;
        // getaddrinfo's own codes are no errno values: such a name gives no address.
        const std::int32_t scode = code > 0 ? code : EHOSTUNREACH;
        sink->OnError(static_cast<std::int16_t>(code), description, scode, kSocketErrorSource, "",
                      0, cancelDisplay);
    }

    void CloseDescriptor() {
        if (fd_ < 0) return;
        loop_.Unwatch(watch_);
        ::close(fd_);
        fd_ = -1;
    }

    EventLoopPosix& loop_;
    State state_ = State::Closed;
    std::uint64_t generation_ = 0;
    int fd_ = -1;
    EventLoopPosix::WatchId watch_ = 0;
    std::vector<SocketAddress> addresses_;                 // in the order they race
    std::size_t nextAddress_ = 0;                          // the next one to start
    std::vector<std::shared_ptr<ConnectAttempt>> racing_;  // attempts still running
    int lastError_ = 0;                    // the failure of the address that failed last
    std::unique_ptr<Timer> staggerTimer_;  // starts the next address beside the others
    std::unique_ptr<Timer> raceTimer_;     // the whole race's budget
    // The address that connected last time: the next connection to the host starts with it.
    std::optional<SocketAddress> winner_;
    std::vector<char> rx_;
    std::size_t rxBegin_ = 0, rxEnd_ = 0;
    std::string tx_;
    std::size_t txSent_ = 0;
    std::string localIp_;
};

void ConnectAttempt::OnReady(short revents) {
    if (auto owner = core.lock()) owner->AttemptReady(*this, revents);
}

SocketControlPosix::SocketControlPosix(EventLoopPosix& loop)
    : core_(std::make_shared<SocketCore>(loop)) {}

SocketControlPosix::~SocketControlPosix() {
    core_->Close();
    core_->sink = nullptr;
}

void SocketControlPosix::SetEventSink(SocketEvents* sink) {
    core_->sink = sink;
}
void SocketControlPosix::Close() {
    core_->Close();
}
void SocketControlPosix::Connect(const std::string& host, const std::string& port) {
    core_->Connect(host, port);
}
void SocketControlPosix::SendData(std::string_view data) {
    core_->SendData(data);
}
void SocketControlPosix::GetData(std::string& data, std::int32_t maxLength) {
    core_->GetData(data, maxLength);
}
std::string SocketControlPosix::LocalIP() const {
    return core_->LocalIP();
}

}  // namespace gor::platform::posix
