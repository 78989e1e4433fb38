// The native TCP socket's system calls for the shared core: a descriptor per connection
// attempt, each polled for the end of its connect, and the winner's polled for data and room.
#include "platform/posix/socket_control_posix.h"

#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <utility>
#include <vector>

#include "platform/posix/event_loop_posix.h"
#include "platform/posix/name_resolver.h"
#include "platform/posix/posix_error.h"

namespace gor::platform::posix {

namespace {

constexpr SocketCore::Codes kCodes{EINVAL, EHOSTUNREACH, ETIMEDOUT, ENOTCONN,
                                   &std::system_category};

int Descriptor(SocketCore::Handle socket) {
    return static_cast<int>(socket);
}

}  // namespace

class SocketCalls;

// One attempt's descriptor, polled until its connect ends.
struct AttemptWatcher final : FdWatcher {
    std::weak_ptr<SocketCalls> calls;
    int fd = -1;
    short Interest() const override { return POLLOUT; }
    void OnReady(short revents) override;
};

class SocketCalls final : public SocketCore, public FdWatcher {
  public:
    explicit SocketCalls(EventLoopPosix& loop) : SocketCore(kCodes, loop), loop_(loop) {}
    ~SocketCalls() override { Close(); }

    // What the connection waits for. Nothing is read while the buffer is full, and a
    // descriptor with no interest is left out of the poll, so a hang-up nobody reads cannot
    // wake the loop forever.
    short Interest() const override {
        short events = WantsToReceive() ? POLLIN : 0;
        if (WantsToSend()) events |= POLLOUT;
        return events;
    }

    void OnReady(short revents) override {
        const auto hold = shared_from_this();  // a handler may destroy the control
        Ready(connection_, (revents & (POLLIN | POLLHUP | POLLERR)) != 0, (revents & POLLOUT) != 0);
    }

    // An attempt's descriptor is writable: its connect ended.
    void AttemptReady(int fd, short revents) {
        const auto hold = shared_from_this();
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
        if (error == 0 && !(revents & POLLOUT)) error = ECONNABORTED;
        Attempted(static_cast<Handle>(fd), error);
    }

  protected:
    void Resolve(const std::string& host, std::uint16_t port, std::shared_ptr<Resolution> answer,
                 std::function<void()> done) override {
        posix::Resolve(loop_, host, port, answer, std::move(done));
    }

    int StartConnect(const HostAddress& address, Handle& socket) override {
        const int fd =
            ::socket(address.family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
        if (fd < 0) return errno;
        socket = static_cast<Handle>(fd);
        const auto* remote = reinterpret_cast<const sockaddr*>(address.bytes);
        if (::connect(fd, remote, static_cast<socklen_t>(address.length)) != 0 &&
            errno != EINPROGRESS && errno != EINTR)
            return errno;
        // Even an immediate success is reported by writability, from the loop.
        auto watcher = std::make_shared<AttemptWatcher>();
        watcher->calls = std::static_pointer_cast<SocketCalls>(shared_from_this());
        watcher->fd = fd;
        attempts_.push_back({fd, loop_.Watch(fd, watcher), std::move(watcher)});
        return 0;
    }

    std::string Adopt(Handle socket) override {
        Forget(socket);
        connection_ = socket;
        const std::shared_ptr<FdWatcher> self =
            std::static_pointer_cast<SocketCalls>(shared_from_this());
        watch_ = loop_.Watch(Descriptor(socket), self);
        sockaddr_storage local{};
        socklen_t length = sizeof local;
        if (::getsockname(Descriptor(socket), reinterpret_cast<sockaddr*>(&local), &length) != 0)
            return {};
        return AddressText(local);
    }

    void CloseSocket(Handle socket) override {
        Forget(socket);
        if (socket == connection_) {
            loop_.Unwatch(watch_);
            connection_ = kNoHandle;
        }
        ::close(Descriptor(socket));
    }

    long SendSome(Handle socket, const char* data, std::size_t size, int& error) override {
        for (;;) {
            // MSG_NOSIGNAL: a peer that went away must give EPIPE, never SIGPIPE.
            const ssize_t sent = ::send(Descriptor(socket), data, size, MSG_NOSIGNAL);
            if (sent > 0) return sent;
            if (sent < 0 && errno == EINTR) continue;
            error = sent == 0 ? EPIPE : errno == EAGAIN || errno == EWOULDBLOCK ? 0 : errno;
            return -1;
        }
    }

    long ReceiveSome(Handle socket, char* buffer, std::size_t size, int& error) override {
        const ssize_t count = ::recv(Descriptor(socket), buffer, size, 0);
        if (count >= 0) return count;
        error = errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : errno;
        return -1;
    }

    SocketFailure Describe(int code) override { return SocketFailureOf(code); }

  private:
    EventLoopPosix& loop_;
    struct Watched {
        int fd;
        EventLoopPosix::WatchId watch;
        std::shared_ptr<AttemptWatcher> watcher;
    };

    // Stops polling an attempt's descriptor.
    void Forget(Handle socket) {
        const auto found = std::find_if(attempts_.begin(), attempts_.end(), [&](const Watched& w) {
            return w.fd == Descriptor(socket);
        });
        if (found == attempts_.end()) return;
        loop_.Unwatch(found->watch);
        attempts_.erase(found);
    }

    std::vector<Watched> attempts_;  // attempts still connecting
    Handle connection_ = kNoHandle;
    EventLoopPosix::WatchId watch_ = 0;
};

void AttemptWatcher::OnReady(short revents) {
    if (const auto owner = calls.lock()) owner->AttemptReady(fd, revents);
}

SocketControlPosix::SocketControlPosix(EventLoopPosix& loop)
    : SocketControlOnCore(std::make_shared<SocketCalls>(loop)) {}

}  // namespace gor::platform::posix
