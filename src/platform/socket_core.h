// The socket control's decisions, written once for every system: the request's states, the
// race of a host's addresses, failures reported later from the loop, the receive buffer and
// the send queue. A backend derives from SocketCore, makes the system calls it names and tells
// it what the system reported; SocketControlOnCore is the control the launcher holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/event_loop.h"
#include "platform/socket_control.h"

namespace gor::platform {

// An address that has neither connected nor failed this long after its start no longer holds
// up the next one, which starts beside it: a route that swallows connection attempts costs a
// quarter of a second, not the connect budget.
inline constexpr int kRaceStaggerMilliseconds = 250;

// The order in which the addresses start: the system's first one, then the families taking
// turns (IPv6, IPv4, IPv6, ...) where both are listed, each family in the system's order.
// `families[i]` is the address family of the system's i-th address; `preferred`, the index of
// the address that connected last time to this host, goes first. Returns indices into the list.
std::vector<std::size_t> RaceOrder(const std::vector<int>& families,
                                   std::optional<std::size_t> preferred);

// One address of a host as the system gave it: its family and its socket address (an IPv4
// or IPv6 one, of `length` bytes), which only the backend reads.
struct HostAddress {
    static constexpr std::size_t kMostBytes = 28;  // the size of an IPv6 socket address
    alignas(8) char bytes[kMostBytes] = {};
    std::size_t length = 0;
    int family = 0;
    bool operator==(const HostAddress&) const = default;
};

// What a name lookup found: the addresses in the system's order, or the system's code of why
// there are none (0 when it gave no reason).
struct Resolution {
    std::vector<HostAddress> addresses;
    int error = 0;

    // Keeps the socket address `address` of `length` bytes when it fits a HostAddress.
    void Add(const void* address, std::size_t length, int family);
};

// One TCP client connection at a time, over IPv6 or IPv4: a name is looked up without
// blocking and its addresses race for the connection, each started kRaceStaggerMilliseconds
// after the one before unless that one failed sooner; the first to connect wins and the others
// are closed at once. Every operation runs on the loop's thread; notifications reach the sink
// from inside the loop's dispatch, never from inside an operation, and a handler may call any
// operation, including Close and Connect, and may destroy the control. Each DataArrival
// announces every byte that waits; reading pauses while the buffer is full.
class SocketCore : public std::enable_shared_from_this<SocketCore> {
  public:
    // A socket of the system (a descriptor, a SOCKET) as the core holds it.
    using Handle = std::uintptr_t;
    static constexpr Handle kNoHandle = ~Handle{0};

    // The system's codes for the failures the core finds itself.
    struct Codes {
        int invalidArgument;  // a port that is no number from 1 to 65535
        int hostUnreachable;  // a lookup that gave no address and no reason
        int timedOut;         // the race's budget spent
        int notConnected;     // SendData without a connection
        // The category of the system's codes, for what SendData throws.
        const std::error_category& (*category)();
    };

    // Timers and posted steps come from `loop`, which must outlive the core.
    SocketCore(const Codes& codes, EventLoop& loop);
    // The backend's destructor closes the core: the system calls are its own.
    virtual ~SocketCore();
    SocketCore(const SocketCore&) = delete;
    SocketCore& operator=(const SocketCore&) = delete;

    SocketEvents* sink = nullptr;

    // The operations of SocketControl, as it promises them.
    void Close();
    void Connect(const std::string& host, std::uint16_t port);
    void SendData(std::string_view data);
    void GetData(std::string& data, std::int32_t maxLength);
    const std::string& LocalIP() const { return localIp_; }
    // Bytes received and not yet taken with GetData.
    std::size_t BytesPending() const { return receivedEnd_ - receivedBegin_; }

    // What the system reported, told by the backend from inside the loop's dispatch. Reports
    // about a socket that is no longer the connection or a racing attempt are dropped.
    // An attempt's connect ended: connected (`error` 0) or failed.
    void Attempted(Handle socket, int error);
    // The connection can take more bytes (`writable`) or has some to give (`readable`).
    void Ready(Handle socket, bool readable, bool writable);
    // The peer ended the connection, with `error` when it was no orderly close; the bytes
    // still waiting in the system are delivered first.
    void PeerClosing(Handle socket, int error);
    // The connection failed with `error`.
    void Failed(Handle socket, int error);

    // Whether the connection's bytes should be read now (there is room for them) and whether
    // bytes wait to be sent: what a backend that polls asks the system to watch for.
    bool WantsToReceive() const;
    bool WantsToSend() const;

  protected:
    // The system calls, made by the backend; none throws unless it says so.

    // Resolves `host` for `port`, fills `answer` and then runs `done` on the loop's thread
    // from a later dispatch, never inside the call. Throws std::system_error, and runs
    // nothing, when no helper thread can be started for the lookup.
    virtual void Resolve(const std::string& host, std::uint16_t port,
                         std::shared_ptr<Resolution> answer, std::function<void()> done) = 0;
    // Opens a socket for `address` and starts a non-blocking connect whose outcome comes as
    // Attempted. Returns 0, or the system's code with `socket` set when one was opened.
    virtual int StartConnect(const HostAddress& address, Handle& socket) = 0;
    // The attempt that won is now the connection: its data and writability come as Ready.
    // Returns its local address as text ("" when the system cannot tell).
    virtual std::string Adopt(Handle socket) = 0;
    virtual void CloseSocket(Handle socket) = 0;
    // Bytes sent or received (> 0; a receive gives 0 at the peer's orderly close), or -1 with
    // `error` the system's code, 0 when the call would block.
    virtual long SendSome(Handle socket, const char* data, std::size_t size, int& error) = 0;
    virtual long ReceiveSome(Handle socket, char* buffer, std::size_t size, int& error) = 0;
    // The failure the system's `code` stands for: its portable condition and readable text.
    virtual SocketFailure Describe(int code) = 0;

  private:
    enum class State { Closed, Resolving, Connecting, Connected, Ended };
    // Whether a failure may reach the sink at once (we are inside a dispatch) or must be
    // posted (we are inside an operation the host called).
    enum class Delivery { Direct, Posted };
    // One address's connection attempt in the race.
    struct Attempt {
        Handle socket;
        std::size_t address;  // index into addresses_
    };

    // What the core does when the loop comes back to it: a posted step, a lookup's answer or
    // a tick of the race's timers.
    enum class Next { Receive, Report, Resolved, StaggerTick, BudgetTick };
    // The task that runs `step` on this core, with the failure to report; dropped when the
    // core is gone or, but for a tick, the connection changed.
    std::function<void()> Task(Next step, int error = 0);
    void Later(Next step, int error = 0);  // posts the task
    void Run(Next step, unsigned generation, int error);

    [[noreturn]] void ThrowNotConnected() const;

    // The race: starts it over the lookup's addresses within what the lookup left of
    // kConnectMilliseconds (the budget runs from Connect on); starts the next address beside
    // those still racing (with none left and none racing, fails with the last address's
    // failure); closes what still races.
    void Resolved(Resolution& resolution);
    void StartNextAttempt();
    void EndRace();
    void CloseConnection();

    // Reads once into the room behind the untaken bytes and announces them all.
    void Receive();
    void PeerClosed();
    void FlushSendQueue(Delivery delivery);
    // Ends the connection with `error`, told now or from a later dispatch.
    void Fail(int error, Delivery delivery);
    void Report(int error);

    const Codes codes_;
    EventLoop& loop_;  // where the race's timers and the posted steps come from
    State state_ = State::Closed;
    // Counts connections; checked by every posted step so that nothing of a closed
    // connection reaches the sink.
    unsigned generation_ = 0;
    Handle socket_ = kNoHandle;
    std::string localIp_;

    std::shared_ptr<Resolution> answer_;   // what the connection's lookup fills
    std::vector<HostAddress> addresses_;   // in the system's order
    std::vector<std::size_t> order_;       // indices of addresses_ in the race's order
    std::size_t nextAddress_ = 0;          // the next one of order_ to start
    std::vector<Attempt> racing_;          // attempts still running
    int lastError_ = 0;                    // the failure of the address that failed last
    std::unique_ptr<Timer> staggerTimer_;  // starts the next address beside the others
    std::unique_ptr<Timer> raceTimer_;     // the whole race's budget
    HostAddress winner_;                   // the address that connected last time

    // Bytes [begin, end) of kReceiveBufferBytes are received and not yet taken.
    const std::unique_ptr<char[]> received_;
    std::size_t receivedBegin_ = 0, receivedEnd_ = 0;
    bool receiveStalled_ = false;  // readable while the buffer was full
    bool draining_ = false;        // the peer closed; read on until the system has no more
    int closeError_ = 0;           // why the peer closed, told once the bytes are drained
    std::string sendQueue_;        // bytes the system would not take yet
    std::size_t sendOffset_ = 0;   // how much of sendQueue_ has gone out
};

// The socket control over a core. The core is shared so that a notification handler that
// destroys this control does not pull the state out from under the dispatch that called it.
class SocketControlOnCore : public SocketControl {
  public:
    explicit SocketControlOnCore(std::shared_ptr<SocketCore> core);
    ~SocketControlOnCore() override;
    SocketControlOnCore(const SocketControlOnCore&) = delete;
    SocketControlOnCore& operator=(const SocketControlOnCore&) = delete;

    void SetEventSink(SocketEvents* sink) final;
    void Close() final;
    void Connect(const std::string& host, std::uint16_t port) final;
    void SendData(std::string_view data) final;
    void GetData(std::string& data, std::int32_t maxLength) final;
    std::string LocalIP() const final;

    // Bytes received and not yet taken with GetData.
    std::size_t BytesPending() const;

  private:
    std::shared_ptr<SocketCore> core_;
};

}  // namespace gor::platform
