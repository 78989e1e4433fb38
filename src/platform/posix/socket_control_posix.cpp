// The native TCP socket control. Every notification reaches the sink from inside
// DispatchEvents: readiness directly, failures found inside an operation through Post.
// A generation counter, bumped by every Close and Connect, silences whatever an older
// connection still had on its way, including notifications already queued.
#include "platform/posix/socket_control_posix.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/posix/event_loop_posix.h"
#include "platform/posix/name_resolver.h"
#include "platform/posix/posix_error.h"

namespace gor::platform::posix {

namespace {

std::string AddressText(const sockaddr_storage& address) {
    char text[INET6_ADDRSTRLEN] = "";
    if (address.ss_family == AF_INET) {
        const auto& in = reinterpret_cast<const sockaddr_in&>(address);
        ::inet_ntop(AF_INET, &in.sin_addr, text, sizeof text);
    } else if (address.ss_family == AF_INET6) {
        const auto& in6 = reinterpret_cast<const sockaddr_in6&>(address);
        ::inet_ntop(AF_INET6, &in6.sin6_addr, text, sizeof text);
    }
    return text;
}

}  // namespace

class SocketCore final : public FdWatcher, public std::enable_shared_from_this<SocketCore> {
  public:
    explicit SocketCore(EventLoopPosix& loop) : loop_(loop), rx_(kReceiveBufferBytes) {}
    ~SocketCore() override { CloseDescriptor(); }

    SocketEvents* sink = nullptr;

    void Close() {
        ++generation_;
        CloseDescriptor();
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
        const auto portNumber = ParsePort(port);
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
            case State::Connecting:
                return POLLOUT;
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
        if (state_ == State::Connecting) {
            FinishConnecting(revents);
            return;
        }
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
        addresses_ = std::move(resolution.addresses);
        nextAddress_ = 0;
        connectDeadline_ = loop_.Now() + kConnectMilliseconds / 1000.0;
        TryNextAddress(0, delivery);
    }

    // Starts a connection attempt to the next address; when none is left, reports
    // `lastError` (the failure of the previous address).
    void TryNextAddress(int lastError, Delivery delivery) {
        while (nextAddress_ < addresses_.size()) {
            const SocketAddress& address = addresses_[nextAddress_++];
            const int fd =
                ::socket(address.family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
            if (fd < 0) {
                lastError = errno;
                continue;
            }
            const int rc =
                ::connect(fd, reinterpret_cast<const sockaddr*>(&address.storage), address.length);
            if (rc == 0 || errno == EINPROGRESS || errno == EINTR) {
                // Even an immediate success is reported by writability, from the loop.
                fd_ = fd;
                watch_ = loop_.Watch(fd_, weak_from_this());
                state_ = State::Connecting;
                TimeAttempt(addresses_.size() - nextAddress_ + 1);
                return;
            }
            lastError = errno;
            ::close(fd);
        }
        if (lastError == 0) lastError = EHOSTUNREACH;
        Fail(lastError, ErrorText(lastError), delivery);
    }

    // Gives the attempt just started its share of the time left, `left` attempts counting it:
    // one that has not connected by then is given up for the next address.
    void TimeAttempt(std::size_t left) {
        const double share = std::max(0.0, connectDeadline_ - loop_.Now()) / left;
        std::weak_ptr<SocketCore> weak = weak_from_this();
        const int fd = fd_;
        attemptTimer_ = loop_.CreateTimer(std::max(1, static_cast<int>(share * 1000)), [weak, fd] {
            auto self = weak.lock();
            if (!self || self->state_ != State::Connecting || self->fd_ != fd) return;
            self->CloseDescriptor();
            self->TryNextAddress(ETIMEDOUT, Delivery::Direct);
        });
        attemptTimer_->SetEnabled(true);
    }

    void FinishConnecting(short revents) {
        attemptTimer_.reset();
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
        if (error == 0 && !(revents & POLLOUT)) error = ECONNABORTED;
        if (error != 0) {
            CloseDescriptor();
            TryNextAddress(error, Delivery::Direct);
            return;
        }
        sockaddr_storage local{};
        socklen_t localLength = sizeof local;
        if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &localLength) == 0)
            localIp_ = AddressText(local);
        state_ = State::Connected;
        if (sink) sink->OnConnect();
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
        attemptTimer_.reset();
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
    std::vector<SocketAddress> addresses_;
    std::size_t nextAddress_ = 0;
    double connectDeadline_ = 0;           // when the last attempt must have connected
    std::unique_ptr<Timer> attemptTimer_;  // ends the current attempt when its share is up
    std::vector<char> rx_;
    std::size_t rxBegin_ = 0, rxEnd_ = 0;
    std::string tx_;
    std::size_t txSent_ = 0;
    std::string localIp_;
};

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
