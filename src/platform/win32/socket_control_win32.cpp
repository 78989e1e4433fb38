// The Windows TCP socket control: WSAAsyncSelect notifications and the answers of lookups
// made on helper threads arrive as messages of a message-only window and become SocketEvents
// calls; the race's timers are the event loop's. A host's addresses race for the connection
// (address_race.h); the first to connect wins.
#include "platform/win32/socket_control_win32.h"

#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "platform/address_race.h"
#include "platform/win32/callback_guard.h"
#include "platform/win32/event_loop_win32.h"
#include "platform/win32/name_resolver.h"
#include "platform/win32/owned_window.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/win32_error.h"

namespace gor::platform::win32 {

namespace {

// Messages of the notification window. Its class is private to this control, so the WM_APP
// range is ours alone.
constexpr UINT kMsgLookupDone = WM_APP + 1;  // a lookup finished; wParam = its NameLookup
constexpr UINT kMsgDeferred = WM_APP + 2;    // wParam = generation, lParam = Deferred
// Each connection attempt selects on its own message number from this ring. Socket handle
// values are reused as soon as a socket is closed, so the handle in wParam alone cannot tell a
// notification of the current attempt from one queued for a closed one.
constexpr UINT kMsgSocketFirst = WM_APP + 0x100;
constexpr UINT kSocketMessages = 0x100;
constexpr UINT kMsgLast = kMsgSocketFirst + kSocketMessages - 1;

// What a kMsgDeferred message asks for. Results known inside an operation the host called (a
// dotted address, a bad port, a failed send) are posted so that they, too, arrive from the
// message loop.
enum Deferred : LPARAM { kDeferredConnect = 1, kDeferredError = 2, kDeferredReceive = 3 };

constexpr wchar_t kWindowClass[] = L"GorWinsockControl";

// Runs one notification of the receiver. A failure must not unwind into the system frames of
// DispatchMessageW: it is held and rethrown once the event loop has its frames back, so it
// reaches the waiting caller's trap as on every other platform.
template <typename Notify>
void Deliver(platform::SocketEvents* sink, Notify&& notify) {
    if (!sink) return;
    RunGuarded([&] { notify(*sink); });
}

}  // namespace

// The control's state and its notification window. Shared: the dispatch of a notification
// holds it, so a handler that destroys the control leaves it alive until that dispatch
// returns; the race's timers hold it weakly.
class SocketCore final : public std::enable_shared_from_this<SocketCore> {
  public:
    explicit SocketCore(EventLoopWin32& loop);
    ~SocketCore();
    SocketCore(const SocketCore&) = delete;
    SocketCore& operator=(const SocketCore&) = delete;

    platform::SocketEvents* sink_ = nullptr;
    void Close();
    void Connect(const std::string& host, const std::string& port);
    void SendData(std::string_view data);
    void GetData(std::string& data, std::int32_t maxLength);
    std::string LocalIP() const;
    std::size_t BytesPending() const { return receivedEnd_ - receivedBegin_; }

  private:
    enum class State { Closed, Resolving, Connecting, Connected, PeerClosed, Failed };
    // Whether a failure may reach the sink at once (we are inside a dispatch) or must be
    // posted (we are inside an operation the host called).
    enum class Delivery { Direct, Posted };
    // One address's connection attempt in the race.
    struct Attempt {
        SOCKET socket;
        UINT message;         // its WSAAsyncSelect message
        std::size_t address;  // index into the lookup's addresses
    };

    // The notification window's messages (see owned_window.h): WinSock's and our own
    // deferred ones go to HandleNotification.
    static bool HandleMessage(void* owner, HWND window, unsigned message, std::uintptr_t wParam,
                              std::intptr_t lParam, std::intptr_t& result);
    void HandleNotification(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam);
    void OnLookupDone(std::uintptr_t lookup);
    void OnDeferred(std::uintptr_t generation, std::intptr_t what);
    void OnSocketEvent(unsigned event, int error);
    void PostDeferred(std::intptr_t what);

    // The race: starts it over the lookup's addresses within kConnectMilliseconds; starts the
    // next address beside those still racing (with none left and none racing, fails with the
    // last address's failure); hears an attempt's outcome; closes what still races.
    void StartRace();
    void StartNextAttempt();
    int StartConnect(Attempt& attempt);  // 0, or why it could not start
    void OnAttemptConnected(unsigned msg, std::uintptr_t socket, int error);
    void EndRace();
    void CloseSocket();

    std::size_t MakeRoom();  // moves untaken bytes to the front; returns the space behind them
    // One recv into the buffer and its DataArrival: the bytes taken, 0 when none (the buffer
    // full, nothing waiting, the peer's close), -1 with `error` set on a failure.
    int ReceiveOnce(int& error);
    void Receive();
    void DrainAndFinish(int closeError);
    void FlushSendQueue(Delivery delivery);
    // Ends the connection with `error`, told now or from the message loop.
    void Fail(int error, Delivery delivery);
    void Report(int error);
    void DropQueuedNotifications();

    EventLoopWin32& loop_;
    const WindowOwner owner_{this, &HandleMessage};
    HWND window_ = nullptr;

    State state_ = State::Closed;
    SOCKET socket_ = INVALID_SOCKET;
    UINT socketMessage_ = 0;  // the WSAAsyncSelect message of socket_
    // Counts connections; checked against every posted notification so that nothing of a
    // closed connection reaches the sink.
    std::uintptr_t generation_ = 0;
    int deferredError_ = 0;

    // The lookup running for this connection; its helper thread owns it until it posts it.
    const NameLookup* pending_ = nullptr;
    std::unique_ptr<NameLookup> addresses_;  // the connection's addresses, once known
    std::vector<std::size_t> order_;         // indices of the addresses in the race's order
    std::size_t nextAddress_ = 0;            // the next one of order_ to start
    std::vector<Attempt> racing_;            // attempts still racing for the connection
    unsigned attempts_ = 0;                  // counts attempts; picks each one's message
    int lastError_ = 0;                      // the failure of the address that failed last
    std::unique_ptr<Timer> staggerTimer_;    // starts the next address beside the others
    std::unique_ptr<Timer> raceTimer_;       // the whole race's budget
    // The sockaddr that connected last time: the next connection starts with it.
    std::vector<char> winner_;

    std::vector<char> received_;  // bytes [begin, end) are received and not yet taken
    std::size_t receivedBegin_ = 0, receivedEnd_ = 0;
    bool receiveStalled_ = false;  // FD_READ skipped because the buffer was full
    std::string sendQueue_;        // bytes the stack would not take yet; sent on FD_WRITE
    std::size_t sendOffset_ = 0;   // how much of sendQueue_ has gone out
};

bool SocketCore::HandleMessage(void* owner, HWND, unsigned message, std::uintptr_t wParam,
                               std::intptr_t lParam, std::intptr_t&) {
    if (message < WM_APP || message > kMsgLast) return false;
    // Held for the dispatch: a handler may destroy the control that owns the core.
    const auto core = static_cast<SocketCore*>(owner)->shared_from_this();
    RunGuarded([&] { core->HandleNotification(message, wParam, lParam); });
    return true;
}

WinsockSession::WinsockSession() {
    WSADATA data;
    // WSAStartup reports its failure as its result; WSAGetLastError is not usable yet.
    if (const int error = ::WSAStartup(MAKEWORD(2, 2), &data))
        throw Win32Error(static_cast<unsigned long>(error), "WSAStartup");
}

WinsockSession::~WinsockSession() {
    ::WSACleanup();
}

SocketCore::SocketCore(EventLoopWin32& loop)
    : loop_(loop), received_(platform::kReceiveBufferBytes) {
    WNDCLASSEXW windowClass{};
    windowClass.lpszClassName = kWindowClass;
    RegisterOwnedWindowClass(windowClass);
    window_ = CreateOwnedWindow(owner_, kWindowClass, L"", 0, 0, 0, 0, HWND_MESSAGE,
                                "socket notifications");
}

SocketCore::~SocketCore() {
    Close();
    // A lookup still running finds no window to post to and frees its result itself.
    ForgetOwner(window_);
    ::DestroyWindow(window_);
}

void SocketCore::Close() {
    if (state_ == State::Closed) return;
    // closesocket also ends the WSAAsyncSelect; notifications already queued are dropped below.
    // A lookup still running is left to finish: its answer is recognised as stale and freed.
    EndRace();
    CloseSocket();
    pending_ = nullptr;
    addresses_.reset();
    state_ = State::Closed;
    ++generation_;
    receivedBegin_ = receivedEnd_ = 0;
    receiveStalled_ = false;
    sendQueue_.clear();
    sendOffset_ = 0;
    DropQueuedNotifications();
}

void SocketCore::Connect(const std::string& host, const std::string& port) {
    Close();
    ++generation_;
    state_ = State::Resolving;

    const std::optional<std::uint16_t> portNumber = platform::ParsePort(port);
    // GetAddrInfoW("") names this machine; an empty host is a caller's mistake, not that.
    if (!portNumber) return Fail(WSAEINVAL, Delivery::Posted);
    if (host.empty()) return Fail(WSAHOST_NOT_FOUND, Delivery::Posted);

    auto lookup = std::make_unique<NameLookup>();
    try {
        lookup->name = Widen(host);
    } catch (const std::system_error&) {
        return Fail(WSAHOST_NOT_FOUND, Delivery::Posted);  // no host name is anything but text
    }
    // Digits widened one by one: std::to_wstring would link a wide printf into the exe.
    for (const char digit : std::to_string(*portNumber)) lookup->service += wchar_t(digit);
    // A dotted IPv4 or an IPv6 address needs no lookup: its one address is tried at once.
    lookup->Resolve(/*numericOnly=*/true);
    if (lookup->error == 0) {
        addresses_ = std::move(lookup);
        return PostDeferred(kDeferredConnect);
    }
    if (lookup->error != WSAHOST_NOT_FOUND) return Fail(lookup->error, Delivery::Posted);
    lookup->error = 0;
    if (const unsigned long error = ResolveInBackground(lookup.get(), window_, kMsgLookupDone))
        return Fail(static_cast<int>(error), Delivery::Posted);
    pending_ = lookup.release();  // the helper thread's until it posts it back
}

void SocketCore::SendData(std::string_view data) {
    if (state_ != State::Connected) throw Win32Error(WSAENOTCONN, "SendData");
    sendQueue_.append(data);
    FlushSendQueue(Delivery::Posted);
}

void SocketCore::GetData(std::string& data, std::int32_t maxLength) {
    const std::size_t count =
        std::min(BytesPending(), static_cast<std::size_t>(std::max<std::int32_t>(maxLength, 0)));
    data.assign(received_.data() + receivedBegin_, count);
    receivedBegin_ += count;
    if (receivedBegin_ == receivedEnd_) receivedBegin_ = receivedEnd_ = 0;
    // A read skipped for want of room is restarted now that there is some.
    if (receiveStalled_ && count > 0) {
        receiveStalled_ = false;
        PostDeferred(kDeferredReceive);
    }
}

std::string SocketCore::LocalIP() const {
    if (state_ != State::Connected && state_ != State::PeerClosed) return {};
    sockaddr_storage local{};
    int length = sizeof local;
    if (::getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &length) == SOCKET_ERROR)
        return {};
    return AddressText(local);
}

void SocketCore::HandleNotification(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) {
    if (msg == kMsgLookupDone)
        OnLookupDone(wParam);
    else if (msg == kMsgDeferred)
        OnDeferred(wParam, lParam);
    else if (msg == socketMessage_ && wParam == socket_ && socket_ != INVALID_SOCKET)
        OnSocketEvent(WSAGETSELECTEVENT(lParam), WSAGETSELECTERROR(lParam));
    else if (WSAGETSELECTEVENT(lParam) == FD_CONNECT)
        OnAttemptConnected(msg, wParam, WSAGETSELECTERROR(lParam));
}

void SocketCore::OnLookupDone(std::uintptr_t lookup) {
    // Ours again, whatever it says; the answer of a lookup this connection no longer waits for
    // is dropped.
    std::unique_ptr<NameLookup> answer(reinterpret_cast<NameLookup*>(lookup));
    if (answer.get() != pending_ || state_ != State::Resolving) return;
    pending_ = nullptr;
    if (answer->error) return Fail(answer->error, Delivery::Direct);
    addresses_ = std::move(answer);
    StartRace();
}

void SocketCore::OnDeferred(std::uintptr_t generation, std::intptr_t what) {
    if (generation != generation_) return;
    switch (what) {
        case kDeferredConnect:
            if (state_ == State::Resolving) StartRace();
            break;
        case kDeferredError:
            if (state_ == State::Failed) Report(deferredError_);
            break;
        case kDeferredReceive:
            if (state_ == State::Connected) Receive();
            break;
    }
}

void SocketCore::OnSocketEvent(unsigned event, int error) {
    if (state_ != State::Connected) return;
    if (error && event != FD_CLOSE) return Fail(error, Delivery::Direct);
    switch (event) {
        case FD_READ:
            return Receive();
        case FD_WRITE:
            return FlushSendQueue(Delivery::Direct);
        case FD_CLOSE:
            return DrainAndFinish(error);
    }
}

void SocketCore::PostDeferred(std::intptr_t what) {
    if (!::PostMessageW(window_, kMsgDeferred, generation_, what)) ThrowLastError("PostMessageW");
}

// ---- the race over the host's addresses

void SocketCore::StartRace() {
    // The race's order, with the address that worked last time for this control first.
    std::vector<int> families;
    std::optional<std::size_t> preferred;
    for (const NameLookup::Address& address : addresses_->addresses) {
        if (address.bytes == winner_) preferred = families.size();
        families.push_back(address.family);
    }
    order_ = RaceOrder(families, preferred);
    nextAddress_ = 0;
    lastError_ = 0;
    state_ = State::Connecting;
    const std::weak_ptr<SocketCore> weak = weak_from_this();
    staggerTimer_ = loop_.CreateTimer(kRaceStaggerMilliseconds, [weak] {
        if (auto self = weak.lock(); self && self->state_ == State::Connecting)
            self->StartNextAttempt();
    });
    // The budget of the whole race: whatever has not connected by then has timed out.
    raceTimer_ = loop_.CreateTimer(kConnectMilliseconds, [weak] {
        if (auto self = weak.lock(); self && self->state_ == State::Connecting)
            self->Fail(WSAETIMEDOUT, Delivery::Direct);
    });
    raceTimer_->SetEnabled(true);
    StartNextAttempt();
}

void SocketCore::StartNextAttempt() {
    staggerTimer_->SetEnabled(false);
    while (nextAddress_ < order_.size()) {
        Attempt attempt{INVALID_SOCKET, 0, order_[nextAddress_++]};
        const int error = StartConnect(attempt);
        if (!error) {
            racing_.push_back(attempt);
            if (nextAddress_ < order_.size()) staggerTimer_->SetEnabled(true);
            return;
        }
        lastError_ = error;
        if (attempt.socket != INVALID_SOCKET) ::closesocket(attempt.socket);
    }
    if (racing_.empty()) Fail(lastError_ ? lastError_ : WSAEHOSTUNREACH, Delivery::Direct);
}

int SocketCore::StartConnect(Attempt& attempt) {
    const std::vector<char>& address = addresses_->addresses[attempt.address].bytes;
    const auto* remote = reinterpret_cast<const sockaddr*>(address.data());
    attempt.socket = ::socket(remote->sa_family, SOCK_STREAM, IPPROTO_TCP);
    if (attempt.socket == INVALID_SOCKET) return ::WSAGetLastError();
    attempt.message = kMsgSocketFirst + ++attempts_ % kSocketMessages;
    // Also makes the socket non-blocking. FD_WRITE is wanted for sends the stack deferred.
    if (::WSAAsyncSelect(attempt.socket, window_, attempt.message,
                         FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE) == SOCKET_ERROR)
        return ::WSAGetLastError();
    if (::connect(attempt.socket, remote, static_cast<int>(address.size())) == SOCKET_ERROR) {
        // A non-blocking connect reports WSAEWOULDBLOCK; the outcome arrives as FD_CONNECT.
        const int error = ::WSAGetLastError();
        if (error != WSAEWOULDBLOCK) return error;
    }
    return 0;
}

// An attempt's outcome: the first to connect wins and the others are closed at once; one that
// failed makes way for the next address at once.
void SocketCore::OnAttemptConnected(unsigned msg, std::uintptr_t socket, int error) {
    const auto attempt = std::find_if(racing_.begin(), racing_.end(), [&](const Attempt& a) {
        return a.message == msg && a.socket == socket;
    });
    if (state_ != State::Connecting || attempt == racing_.end()) return;
    const Attempt decided = *attempt;
    racing_.erase(attempt);
    if (error) {
        ::closesocket(decided.socket);
        lastError_ = error;
        return StartNextAttempt();
    }
    EndRace();
    winner_ = addresses_->addresses[decided.address].bytes;
    socket_ = decided.socket;
    socketMessage_ = decided.message;
    state_ = State::Connected;
    Deliver(sink_, [](platform::SocketEvents& sink) { sink.OnConnect(); });
}

void SocketCore::EndRace() {
    for (const Attempt& attempt : racing_) ::closesocket(attempt.socket);
    racing_.clear();
    // Stopped, not destroyed: this may run inside one of their ticks.
    if (staggerTimer_) staggerTimer_->SetEnabled(false);
    if (raceTimer_) raceTimer_->SetEnabled(false);
}

void SocketCore::CloseSocket() {
    if (socket_ != INVALID_SOCKET) ::closesocket(socket_);
    socket_ = INVALID_SOCKET;
    socketMessage_ = 0;
}

// ---- the connection

std::size_t SocketCore::MakeRoom() {
    if (receivedBegin_ > 0) {
        std::memmove(received_.data(), received_.data() + receivedBegin_, BytesPending());
        receivedEnd_ -= receivedBegin_;
        receivedBegin_ = 0;
    }
    return received_.size() - receivedEnd_;
}

int SocketCore::ReceiveOnce(int& error) {
    const std::size_t room = MakeRoom();
    if (room == 0) {
        // The receiver left the buffer full. WinSock posts no further FD_READ until we recv
        // again, so the next GetData has to restart reading.
        receiveStalled_ = true;
        return 0;
    }
    const int count = ::recv(socket_, received_.data() + receivedEnd_, static_cast<int>(room), 0);
    if (count == SOCKET_ERROR) {
        // WinSock may post FD_READ for data a previous recv already took.
        error = ::WSAGetLastError();
        return error == WSAEWOULDBLOCK ? 0 : -1;
    }
    if (count == 0) return 0;  // the orderly close; FD_CLOSE follows or is being handled
    receivedEnd_ += static_cast<std::size_t>(count);
    const auto total = static_cast<std::int32_t>(BytesPending());
    Deliver(sink_, [total](platform::SocketEvents& sink) { sink.OnDataArrival(total); });
    return count;
}

void SocketCore::Receive() {
    int error = 0;
    if (ReceiveOnce(error) < 0) Fail(error, Delivery::Direct);
}

void SocketCore::DrainAndFinish(int closeError) {
    // FD_CLOSE can come while bytes still wait in the stack (WinSock does not hold it back
    // until they are read); the receiver gets every one of them before it hears of the close.
    const std::uintptr_t generation = generation_;
    int readError = 0;
    for (;;) {
        const int count = ReceiveOnce(readError);
        // The receiver may have closed, reconnected or destroyed the control meanwhile (the
        // control's end closes its core).
        if (generation != generation_) return;
        if (count <= 0) break;  // a failure, the close, or a receiver that is not taking
    }
    if (closeError || readError) return Fail(closeError ? closeError : readError, Delivery::Direct);
    state_ = State::PeerClosed;
    Deliver(sink_, [](platform::SocketEvents& sink) { sink.OnClose(); });
}

void SocketCore::FlushSendQueue(Delivery delivery) {
    while (sendOffset_ < sendQueue_.size()) {
        const std::size_t left = sendQueue_.size() - sendOffset_;
        const int sent = ::send(socket_, sendQueue_.data() + sendOffset_,
                                static_cast<int>(std::min<std::size_t>(left, INT_MAX)), 0);
        if (sent == SOCKET_ERROR) {
            const int error = ::WSAGetLastError();
            // The stack's send buffer is full: FD_WRITE says when it has room again.
            if (error != WSAEWOULDBLOCK) Fail(error, delivery);
            return;
        }
        sendOffset_ += static_cast<std::size_t>(sent);
    }
    sendQueue_.clear();
    sendOffset_ = 0;
}

void SocketCore::Fail(int error, Delivery delivery) {
    // Nothing more of this connection is reported, and its socket is gone already, as on
    // every platform; the host's Close only forgets what is left.
    EndRace();
    CloseSocket();
    state_ = State::Failed;
    if (delivery == Delivery::Direct) return Report(error);
    deferredError_ = error;
    PostDeferred(kDeferredError);
}

void SocketCore::Report(int error) {
    std::string description = ErrorText(static_cast<unsigned long>(error));
    const std::string source = kSocketErrorSource, helpFile;
    bool cancelDisplay = false;
    const auto number = static_cast<std::int16_t>(error);
    const std::int32_t scode = Win32Category().default_error_condition(error).value();
    Deliver(sink_, [&](platform::SocketEvents& sink) {
        sink.OnError(number, description, scode, source, helpFile, 0, cancelDisplay);
    });
}

void SocketCore::DropQueuedNotifications() {
    // Notifications of the closed connection may already wait in the queue (posted before
    // closesocket); take them out so the next connection never sees them. A lookup's answer
    // is freed with its message.
    MSG msg;
    while (::PeekMessageW(&msg, window_, kMsgLookupDone, kMsgLast, PM_REMOVE)) {
        if (msg.message == kMsgLookupDone) delete reinterpret_cast<NameLookup*>(msg.wParam);
    }
}

// ---- the control: each operation on its core

SocketControlWin32::SocketControlWin32(EventLoopWin32& loop)
    : core_(std::make_shared<SocketCore>(loop)) {}

SocketControlWin32::~SocketControlWin32() {
    core_->Close();
    core_->sink_ = nullptr;
}

void SocketControlWin32::SetEventSink(platform::SocketEvents* sink) {
    core_->sink_ = sink;
}
void SocketControlWin32::Close() {
    core_->Close();
}
void SocketControlWin32::Connect(const std::string& host, const std::string& port) {
    core_->Connect(host, port);
}
void SocketControlWin32::SendData(std::string_view data) {
    core_->SendData(data);
}
void SocketControlWin32::GetData(std::string& data, std::int32_t maxLength) {
    core_->GetData(data, maxLength);
}
std::string SocketControlWin32::LocalIP() const {
    return core_->LocalIP();
}
std::size_t SocketControlWin32::BytesPending() const {
    return core_->BytesPending();
}

}  // namespace gor::platform::win32
