// The native TCP socket against a peer on 127.0.0.1: notifications only from the loop,
// data before the close, readable failures, silence after Close, and a reconnect made from
// inside a notification handler (what the download control does after its probe).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "fakes/virtual_clock_loop.h"
#include "platform/posix/event_loop_posix.h"
#include "platform/posix/socket_control_posix.h"
#include "platform/socket_core.h"

namespace gor::platform::posix {
namespace {

constexpr double kGenerous = 30;  // seconds; a loaded machine may be slow

// A listening socket on 127.0.0.1 (or ::1 alone) whose connections are served, one after
// the other, by `serve` on a thread of its own.
class Peer {
  public:
    explicit Peer(std::function<void(int connection)> serve, int connections = 1,
                  bool ipv6 = false) {
        listener_ = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sockaddr_in6 address6{};
        address6.sin6_family = AF_INET6;
        address6.sin6_addr = in6addr_loopback;
        auto* bound =
            ipv6 ? reinterpret_cast<sockaddr*>(&address6) : reinterpret_cast<sockaddr*>(&address);
        socklen_t length = ipv6 ? sizeof address6 : sizeof address;
        ::bind(listener_, bound, length);
        ::listen(listener_, 8);
        ::getsockname(listener_, bound, &length);
        port_ = ntohs(ipv6 ? address6.sin6_port : address.sin_port);
        thread_ = std::thread([this, serve, connections] {
            for (int i = 0; i < connections; ++i) {
                const int connection = ::accept(listener_, nullptr, nullptr);
                if (connection < 0) return;
                serve(connection);
                ::close(connection);
            }
        });
    }
    ~Peer() {
        Join();
        ::close(listener_);
    }
    // Waits for the serving thread, after which what it wrote may be read.
    void Join() {
        ::shutdown(listener_, SHUT_RDWR);  // ends an accept still waiting
        if (thread_.joinable()) thread_.join();
    }
    std::uint16_t port() const { return port_; }

  private:
    int listener_;
    std::uint16_t port_ = 0;
    std::thread thread_;
};

std::string ReadRequest(int connection) {
    std::string request;
    char buffer[512];
    while (request.find("\n\n") == std::string::npos) {
        const ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        request.append(buffer, static_cast<std::size_t>(n));
    }
    return request;
}

void SendAll(int connection, const std::string& bytes) {
    for (std::size_t sent = 0; sent < bytes.size();) {
        const ssize_t n =
            ::send(connection, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;
        sent += static_cast<std::size_t>(n);
    }
}

// A sink recording every notification; `onData` may act from inside DataArrival.
class Recorder : public SocketEvents {
  public:
    explicit Recorder(SocketControl& socket) : socket_(socket) { socket_.SetEventSink(this); }

    void OnConnect() override { events.push_back("connect"); }
    void OnDataArrival(std::int32_t bytesTotal) override {
        events.push_back("data");
        EXPECT_GT(bytesTotal, 0);
        EXPECT_LE(static_cast<std::size_t>(bytesTotal), kReceiveBufferBytes);
        std::string chunk;
        socket_.GetData(chunk, bytesTotal);
        EXPECT_EQ(chunk.size(), static_cast<std::size_t>(bytesTotal));
        received += chunk;
        if (onData) onData();
    }
    void OnClose() override { events.push_back("close"); }
    void OnError(const SocketFailure& failure) override {
        events.push_back("error");
        errorNumber = failure.systemCode;
        errorText = failure.text;
        condition = failure.condition;
    }

    bool Saw(const std::string& event) const {
        return std::find(events.begin(), events.end(), event) != events.end();
    }

    std::vector<std::string> events;
    std::string received;
    int errorNumber = 0;
    std::string errorText;
    std::errc condition{};
    std::function<void()> onData;

  private:
    SocketControl& socket_;
};

void DispatchUntil(EventLoopPosix& loop, const std::function<bool()>& done) {
    const double deadline = loop.Now() + kGenerous;
    while (!done() && loop.Now() < deadline) loop.DispatchEvents(deadline);
}

void DispatchFor(EventLoopPosix& loop, double seconds) {
    const double deadline = loop.Now() + seconds;
    while (loop.Now() < deadline) loop.DispatchEvents(deadline);
}

TEST(SocketControlPosixTest, SendsTheRequestAndDeliversEveryByteBeforeThePeersClose) {
    const std::string answer(1024 * 1024 + 3, 'a');  // several chunks
    std::string request;
    Peer peer([&](int c) {
        request = ReadRequest(c);
        SendAll(c, answer);
    });
    EventLoopPosix loop;
    SocketControlPosix socket(loop);
    Recorder sink(socket);
    EXPECT_THROW(socket.SendData("early"), std::system_error);  // not connected yet

    socket.Connect("127.0.0.1", peer.port());
    EXPECT_TRUE(sink.events.empty());  // nothing from inside Connect
    DispatchUntil(loop, [&] { return sink.Saw("connect"); });
    ASSERT_TRUE(sink.Saw("connect"));
    EXPECT_EQ(socket.LocalIP(), "127.0.0.1");
    socket.SendData("GET / HTTP/1.1\n\n");
    DispatchUntil(loop, [&] { return sink.Saw("close") || sink.Saw("error"); });

    peer.Join();
    EXPECT_EQ(request, "GET / HTTP/1.1\n\n");
    EXPECT_EQ(sink.received.size(), answer.size());
    EXPECT_EQ(sink.received, answer);
    ASSERT_GE(sink.events.size(), 3u);
    EXPECT_EQ(sink.events.back(), "close");
    EXPECT_EQ(std::count(sink.events.begin(), sink.events.end(), "close"), 1);
}

TEST(SocketControlPosixTest, LargeSendIsQueuedAndFinishedFromTheLoop) {
    // Far more than the kernel buffers hold, so most of it waits for writability.
    std::string data(16 * 1024 * 1024, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 4096);
    std::string got;
    Peer peer([&](int c) {
        char buffer[65536];
        while (got.size() < data.size()) {
            const ssize_t n = ::recv(c, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            got.append(buffer, static_cast<std::size_t>(n));
        }
        SendAll(c, "done");
    });
    EventLoopPosix loop;
    SocketControlPosix socket(loop);
    Recorder sink(socket);
    socket.Connect("127.0.0.1", peer.port());
    DispatchUntil(loop, [&] { return sink.Saw("connect"); });
    socket.SendData(data);  // returns at once with most of it queued
    DispatchUntil(loop, [&] { return sink.Saw("close") || sink.Saw("error"); });
    peer.Join();
    EXPECT_EQ(sink.received, "done");
    EXPECT_EQ(sink.events.back(), "close");
    EXPECT_TRUE(got == data);
}

TEST(SocketControlPosixTest, FailuresArriveLaterAsReadableErrors) {
    std::uint16_t refusedPort;
    {
        Peer closed([](int) {}, 0);
        refusedPort = closed.port();
    }  // nobody listens there any more
    const struct {
        std::string host;
        std::uint16_t port;
        std::string text;
    } cases[] = {
        {"127.0.0.1", refusedPort, "The connection was refused"},
        {"127.0.0.1", 0, ""},  // what a port text that names no port reads as
        // Not a valid host name, so it fails without asking any name server.
        {"no-such-host!.invalid", 80, ""},
        {"", 80, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host + ":" + std::to_string(c.port));
        EventLoopPosix loop;
        SocketControlPosix socket(loop);
        Recorder sink(socket);
        socket.Connect(c.host, c.port);
        EXPECT_TRUE(sink.events.empty());
        DispatchUntil(loop, [&] { return !sink.events.empty(); });
        ASSERT_EQ(sink.events, std::vector<std::string>{"error"});
        EXPECT_FALSE(sink.errorText.empty());
        if (!c.text.empty()) {
            EXPECT_EQ(sink.errorText, c.text);
            EXPECT_EQ(sink.errorNumber, ECONNREFUSED);
            EXPECT_EQ(sink.condition, std::errc::connection_refused);
        }
    }
}

TEST(SocketControlPosixTest, ResetByThePeerIsAnError) {
    Peer peer([](int c) {
        ReadRequest(c);
        SendAll(c, "partial");
        const linger abort{1, 0};  // close with a reset instead of a FIN
        ::setsockopt(c, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    });
    EventLoopPosix loop;
    SocketControlPosix socket(loop);
    Recorder sink(socket);
    socket.Connect("127.0.0.1", peer.port());
    DispatchUntil(loop, [&] { return sink.Saw("connect"); });
    socket.SendData("GET\n\n");
    DispatchUntil(loop, [&] { return sink.Saw("error") || sink.Saw("close"); });
    EXPECT_EQ(sink.events.back(), "error");
    EXPECT_EQ(sink.errorNumber, ECONNRESET);
    EXPECT_EQ(sink.condition, std::errc::connection_reset);
    EXPECT_EQ(sink.errorText, "The connection was reset by the remote side");
}

TEST(SocketControlPosixTest, ClosedSocketNeverNotifiesEvenWhatWasAlreadyQueued) {
    std::uint16_t refusedPort;
    {
        Peer closed([](int) {}, 0);
        refusedPort = closed.port();
    }
    EventLoopPosix loop;
    SocketControlPosix socket(loop);
    Recorder sink(socket);
    socket.Connect("127.0.0.1", 0);  // its failure is queued at once
    socket.Close();
    socket.Connect("no-such-host!.invalid", 80);  // its failure comes from another thread
    socket.Close();
    socket.Connect("127.0.0.1", refusedPort);
    socket.Close();
    socket.Close();  // closing a closed socket is nothing
    DispatchFor(loop, 0.5);
    EXPECT_TRUE(sink.events.empty());
}

TEST(SocketControlPosixTest, HandlerMayCloseAndReconnectFromInsideDataArrival) {
    const std::string first(300 * 1024, 'p');  // more than one chunk, then a close
    Peer peer(
        [&](int c) {
            ReadRequest(c);
            SendAll(c, first);
        },
        2);
    EventLoopPosix loop;
    SocketControlPosix socket(loop);
    Recorder sink(socket);
    int reconnects = 0;
    sink.onData = [&] {
        if (reconnects++ > 0) return;
        // Like the download control's probe: one chunk, then straight to the next request.
        socket.Close();
        socket.Connect("127.0.0.1", peer.port());
    };
    socket.Connect("127.0.0.1", peer.port());
    DispatchUntil(loop, [&] { return sink.Saw("connect"); });
    socket.SendData("one\n\n");
    DispatchUntil(
        loop, [&] { return std::count(sink.events.begin(), sink.events.end(), "connect") == 2; });
    socket.SendData("two\n\n");
    DispatchUntil(loop, [&] { return sink.Saw("close") || sink.Saw("error"); });

    // Nothing of the first connection came after the reconnect: one chunk, then the second
    // connection's whole answer and its close.
    ASSERT_GE(sink.events.size(), 4u);
    EXPECT_EQ(sink.events[0], "connect");
    EXPECT_EQ(sink.events[1], "data");
    EXPECT_EQ(sink.events[2], "connect");
    EXPECT_EQ(sink.events.back(), "close");
    EXPECT_FALSE(sink.Saw("error"));
    const std::size_t firstChunk = sink.received.size() - first.size();
    EXPECT_GT(firstChunk, 0u);
    EXPECT_LE(firstChunk, kReceiveBufferBytes);
}

TEST(SocketControlPosixTest, NamesAreResolvedWithoutBlockingTheLoop) {
    Peer peer([](int c) { ReadRequest(c); });
    EventLoopPosix loop;
    SocketControlPosix socket(loop);
    Recorder sink(socket);
    // localhost may resolve to ::1 first, where nobody listens; the next address is tried.
    socket.Connect("localhost", peer.port());
    DispatchUntil(loop, [&] { return !sink.events.empty(); });
    EXPECT_EQ(sink.events, std::vector<std::string>{"connect"});
    socket.SendData("bye\n\n");
    DispatchUntil(loop, [&] { return sink.events.size() > 1; });
    EXPECT_EQ(sink.events.back(), "close");
}

// A listener on ::1 at `port` whose backlog is full: an attempt to connect there is never
// answered, like a host that drops what it is sent.
class Unanswering {
  public:
    explicit Unanswering(std::uint16_t port) {
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_addr = in6addr_loopback;
        address.sin6_port = htons(port);
        const auto* where = reinterpret_cast<const sockaddr*>(&address);
        ::bind(listener_, where, sizeof address);
        ::listen(listener_, 0);
        for (int& filler : fillers_) {
            filler = ::socket(AF_INET6, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            ::connect(filler, where, sizeof address);
        }
    }
    ~Unanswering() {
        for (const int filler : fillers_) ::close(filler);
        ::close(listener_);
    }

  private:
    int listener_ = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int fillers_[2] = {};
};

// The names of tests/support/loopback_hosts, which the test posix_socket_addresses mounts as
// /etc/hosts in a private namespace (elsewhere this skips): a name whose first address refuses
// or never answers while the second serves, and a server reachable over IPv6 only.
TEST(SocketAddresses, EachAddressIsTriedInTheSystemsOrder) {
    addrinfo* list = nullptr;
    if (::getaddrinfo("both.invalid", "80", nullptr, &list) != 0)
        GTEST_SKIP() << "needs tests/support/loopback_hosts as /etc/hosts";
    ::freeaddrinfo(list);
    for (const std::string name : {"both.invalid", "slow-first.invalid", "ipv6-only.invalid"}) {
        SCOPED_TRACE(name);
        const bool ipv6 = name == "ipv6-only.invalid";
        Peer peer([](int c) { SendAll(c, ReadRequest(c)); }, 1, ipv6);
        std::optional<Unanswering> silent;
        if (name == "slow-first.invalid") silent.emplace(peer.port());
        EventLoopPosix loop;
        SocketControlPosix socket(loop);
        Recorder sink(socket);
        const double started = loop.Now();
        socket.Connect(name, peer.port());
        DispatchUntil(loop, [&] { return !sink.events.empty(); });
        ASSERT_EQ(sink.events, std::vector<std::string>{"connect"}) << sink.errorText;
        // The addresses race: one that swallows the attempt costs a quarter of a second.
        EXPECT_LT(loop.Now() - started, 5) << "a silent first address held up the next";
        EXPECT_EQ(socket.LocalIP(), ipv6 ? "::1" : "127.0.0.1");
        socket.SendData("hello\n\n");
        DispatchUntil(loop, [&] { return sink.Saw("close"); });
        EXPECT_EQ(sink.received, "hello\n\n");
    }
}

// The core on virtual time over a host whose name server answers `lookup` seconds late with
// one address that swallows the connection attempt.
class SilentHost final : public SocketCore {
  public:
    SilentHost(test::VirtualClockLoop& loop, double lookup)
        : SocketCore({EINVAL, EHOSTUNREACH, ETIMEDOUT, ENOTCONN, &std::generic_category}, loop),
          loop_(loop),
          lookup_(lookup) {}
    ~SilentHost() override { Close(); }

  private:
    void Resolve(const std::string&, std::uint16_t, std::shared_ptr<Resolution> answer,
                 std::function<void()> done) override {
        loop_.At(loop_.Now() + lookup_, [answer, done] { answer->addresses.resize(1), done(); });
    }
    int StartConnect(const HostAddress&, Handle& socket) override { return socket = 1, 0; }
    std::string Adopt(Handle) override { return ""; }
    void CloseSocket(Handle) override {}
    long SendSome(Handle, const char*, std::size_t, int&) override { return -1; }
    long ReceiveSome(Handle, char*, std::size_t, int&) override { return -1; }
    SocketFailure Describe(int code) override { return {std::errc(code), code, "failed"}; }
    test::VirtualClockLoop& loop_;
    double lookup_;
};

// The connect budget runs from the lookup on, so that a slow name server and a silent host
// together fail within the time the download road gives a try.
TEST(SocketCore, ConnectBudgetCountsTheLookup) {
    for (const double lookup : {0.0, 15.0, 30.0}) {
        test::VirtualClockLoop loop;
        SocketControlOnCore socket(std::make_shared<SilentHost>(loop, lookup));
        Recorder sink(socket);
        socket.Connect("slow.invalid", 80);
        while (sink.events.empty()) loop.DispatchEvents(1e9);
        EXPECT_EQ(sink.events, std::vector<std::string>{"error"}) << lookup;
        EXPECT_EQ(sink.condition, std::errc::timed_out) << lookup;
        EXPECT_EQ(loop.Now(), kConnectMilliseconds / 1000.0) << lookup;
    }
}

TEST(SocketAddresses, RaceStartsWithTheSystemsFirstAndAlternatesFamilies) {
    using Order = std::vector<std::size_t>;
    constexpr int v6 = AF_INET6, v4 = AF_INET;
    EXPECT_EQ(RaceOrder({v6, v6, v4, v4}, std::nullopt), (Order{0, 2, 1, 3}));
    EXPECT_EQ(RaceOrder({v4, v6, v6, v6}, std::nullopt), (Order{0, 1, 2, 3}));
    EXPECT_EQ(RaceOrder({v4, v4}, std::nullopt), (Order{0, 1}));
    // The address that worked last time goes first; the rest keep their turns.
    EXPECT_EQ(RaceOrder({v6, v6, v4, v4}, 2), (Order{2, 0, 3, 1}));
}

}  // namespace
}  // namespace gor::platform::posix
