// The Windows TCP socket control: WSAAsyncSelect notifications and the answers of lookups
// made on helper threads arrive as messages of a message-only window and become SocketEvents
// calls. A host's addresses race for the connection (address_race.h); the first to connect
// wins.
#include "platform/win32/socket_control_win32.h"

#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <iterator>
#include <optional>
#include <type_traits>

#include "platform/address_race.h"
#include "platform/win32/callback_guard.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/win32_error.h"

namespace gor::platform::win32 {

static_assert(std::is_same_v<HWND, HWND__*>);
static_assert(sizeof(SOCKET) == sizeof(std::uintptr_t) && INVALID_SOCKET == ~std::uintptr_t{0});

namespace {

// Messages of the notification window. Its class is private to this control, so the WM_APP
// range is ours alone.
constexpr UINT kMsgLookupDone = WM_APP + 1;  // a lookup finished; wParam = its Lookup
constexpr UINT kMsgDeferred = WM_APP + 2;    // wParam = generation, lParam = Deferred
// Each connection attempt selects on its own message number from this ring. Socket handle
// values are reused as soon as a socket is closed, so the handle in wParam alone cannot tell a
// notification of the current attempt from one queued for a closed one.
constexpr UINT kMsgSocketFirst = WM_APP + 0x100;
constexpr UINT kSocketMessages = 0x100;
constexpr UINT kMsgLast = kMsgSocketFirst + kSocketMessages - 1;

// What a kMsgDeferred message asks for. Results known already inside Connect (a dotted
// address, a bad port) are posted so that they, too, arrive from the message loop.
enum Deferred : LPARAM { kDeferredConnect = 1, kDeferredError = 2, kDeferredReceive = 3 };

constexpr wchar_t kWindowClass[] = L"GorWinsockControl";

// The race's two timers; their ids also carry the connection's generation, so that a tick
// of an earlier connection's timer, already queued, starts nothing.
constexpr std::uintptr_t kStaggerTimer = 1;  // the next address starts beside the others
constexpr std::uintptr_t kRaceTimer = 2;     // the whole race's budget is spent

// Runs one notification of the receiver. A failure must not unwind into the system frames of
// DispatchMessageW: it is held and rethrown once the event loop has its frames back, so it
// reaches the waiting caller's trap as on every other platform.
template <typename Notify>
void Deliver(platform::SocketEvents* sink, Notify&& notify) {
    if (!sink) return;
    RunGuarded([&] { notify(*sink); });
}

}  // namespace

// A name's addresses, in the order the system gives them, and the next one to try. A lookup
// of a name runs on a helper thread that owns this until it posts it to the window.
struct SocketControlWin32::Lookup {
    struct Address {
        sockaddr_storage storage{};
        int length = 0;
    };
    std::wstring name, service;
    HWND window = nullptr;
    std::vector<Address> addresses;
    int error = 0;
    std::size_t next = 0;

    // GetAddrInfoW with `flags`: fills `addresses` or sets `error`. Throws nothing, so it may
    // run on the helper thread.
    void Resolve(int flags) noexcept {
        ADDRINFOW hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_protocol = IPPROTO_TCP;
        hints.ai_flags = flags;
        ADDRINFOW* list = nullptr;
        error = ::GetAddrInfoW(name.c_str(), service.c_str(), &hints, &list);
        if (error) return;
        try {
            for (const ADDRINFOW* entry = list; entry; entry = entry->ai_next) {
                if (entry->ai_addrlen > sizeof(sockaddr_storage)) continue;
                Address& address = addresses.emplace_back();
                std::memcpy(&address.storage, entry->ai_addr, entry->ai_addrlen);
                address.length = static_cast<int>(entry->ai_addrlen);
            }
        } catch (...) {
            error = WSA_NOT_ENOUGH_MEMORY;
        }
        ::FreeAddrInfoW(list);
        if (!error && addresses.empty()) error = WSANO_DATA;
    }

    // The helper thread: looks the name up and hands the result to the window, which owns it
    // from then on. Without a window to take it (the control is gone), it is freed here.
    static DWORD WINAPI Run(void* parameter) {
        auto* lookup = static_cast<Lookup*>(parameter);
        lookup->Resolve(0);
        if (!::PostMessageW(lookup->window, kMsgLookupDone, reinterpret_cast<WPARAM>(lookup), 0))
            delete lookup;
        return 0;
    }
};

bool SocketControlWin32::HandleMessage(void* owner, HWND, unsigned message, std::uintptr_t wParam,
                                       std::intptr_t lParam, std::intptr_t&) {
    if (message != WM_TIMER && (message < WM_APP || message > kMsgLast)) return false;
    auto* control = static_cast<SocketControlWin32*>(owner);
    RunGuarded([&] { control->HandleNotification(message, wParam, lParam); });
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

SocketControlWin32::SocketControlWin32()
    : alive_(std::make_shared<bool>(true)), received_(platform::kReceiveBufferBytes) {
    WNDCLASSEXW windowClass{};
    windowClass.lpszClassName = kWindowClass;
    RegisterOwnedWindowClass(windowClass);
    window_ = CreateOwnedWindow(owner_, kWindowClass, L"", 0, 0, 0, 0, HWND_MESSAGE,
                                "socket notifications");
}

SocketControlWin32::~SocketControlWin32() {
    *alive_ = false;
    Close();
    // A lookup still running finds no window to post to and frees its result itself.
    ForgetOwner(window_);
    ::DestroyWindow(window_);
}

void SocketControlWin32::Close() {
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

void SocketControlWin32::Connect(const std::string& host, const std::string& port) {
    Close();
    ++generation_;
    state_ = State::Resolving;

    const std::optional<std::uint16_t> portNumber = platform::ParsePort(port);
    // GetAddrInfoW("") names this machine; an empty host is a caller's mistake, not that.
    deferredError_ = !portNumber ? WSAEINVAL : host.empty() ? WSAHOST_NOT_FOUND : 0;
    if (deferredError_) return PostDeferred(kDeferredError);

    auto lookup = std::make_unique<Lookup>();
    try {
        lookup->name = Widen(host);
    } catch (const std::system_error&) {
        deferredError_ = WSAHOST_NOT_FOUND;  // no host name is anything but text
        return PostDeferred(kDeferredError);
    }
    // Digits widened one by one: std::to_wstring would link a wide printf into the exe.
    for (const char digit : std::to_string(*portNumber)) lookup->service += wchar_t(digit);
    // A dotted IPv4 or an IPv6 address needs no lookup: its one address is tried at once.
    lookup->Resolve(AI_NUMERICHOST);
    if (lookup->error != WSAHOST_NOT_FOUND) {
        deferredError_ = lookup->error;
        addresses_ = std::move(lookup);
        return PostDeferred(deferredError_ ? kDeferredError : kDeferredConnect);
    }
    lookup->error = 0;
    lookup->window = window_;
    // The mingw-w64 win32 thread model has no std::thread; a plain system thread suffices.
    const HANDLE thread = ::CreateThread(nullptr, 0, &Lookup::Run, lookup.get(), 0, nullptr);
    if (!thread) {
        deferredError_ = static_cast<int>(::GetLastError());
        return PostDeferred(kDeferredError);
    }
    ::CloseHandle(thread);
    pending_ = lookup.release();
}

void SocketControlWin32::SendData(std::string_view data) {
    if (state_ != State::Connected) throw Win32Error(WSAENOTCONN, "SendData");
    // Bytes queued earlier go first; FD_WRITE sends them and whatever is appended now.
    if (sendOffset_ < sendQueue_.size()) {
        sendQueue_.append(data);
        return;
    }
    while (!data.empty()) {
        const int sent = ::send(socket_, data.data(),
                                static_cast<int>(std::min<std::size_t>(data.size(), INT_MAX)), 0);
        if (sent == SOCKET_ERROR) {
            const int error = ::WSAGetLastError();
            if (error != WSAEWOULDBLOCK)
                throw Win32Error(static_cast<unsigned long>(error), "send");
            // The stack's send buffer is full: FD_WRITE says when it has room again.
            sendQueue_.assign(data);
            sendOffset_ = 0;
            return;
        }
        data.remove_prefix(static_cast<std::size_t>(sent));
    }
}

void SocketControlWin32::GetData(std::string& data, std::int32_t maxLength) {
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

std::string SocketControlWin32::LocalIP() const {
    if (state_ != State::Connected && state_ != State::PeerClosed) return {};
    sockaddr_storage local{};
    int length = sizeof local;
    if (::getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &length) == SOCKET_ERROR)
        return {};
    const void* address = &reinterpret_cast<const sockaddr_in&>(local).sin_addr;
    if (local.ss_family == AF_INET6)
        address = &reinterpret_cast<const sockaddr_in6&>(local).sin6_addr;
    char text[INET6_ADDRSTRLEN] = "";
    return ::inet_ntop(local.ss_family, const_cast<void*>(address), text, sizeof text) ? text : "";
}

void SocketControlWin32::HandleNotification(unsigned msg, std::uintptr_t wParam,
                                            std::intptr_t lParam) {
    if (msg == kMsgLookupDone)
        OnLookupDone(wParam);
    else if (msg == kMsgDeferred)
        OnDeferred(wParam, lParam);
    else if (msg == WM_TIMER)
        OnTimer(wParam);
    else if (msg == socketMessage_ && wParam == socket_ && socket_ != INVALID_SOCKET)
        OnSocketEvent(WSAGETSELECTEVENT(lParam), WSAGETSELECTERROR(lParam));
    else if (WSAGETSELECTEVENT(lParam) == FD_CONNECT)
        OnAttemptConnected(msg, wParam, WSAGETSELECTERROR(lParam));
}

void SocketControlWin32::OnLookupDone(std::uintptr_t lookup) {
    // Ours again, whatever it says; the answer of a lookup this connection no longer waits for
    // is dropped.
    std::unique_ptr<Lookup> answer(reinterpret_cast<Lookup*>(lookup));
    if (answer.get() != pending_ || state_ != State::Resolving) return;
    pending_ = nullptr;
    if (answer->error) return Fail(answer->error);
    addresses_ = std::move(answer);
    ConnectToAddresses();
}

void SocketControlWin32::OnDeferred(std::uintptr_t generation, std::intptr_t what) {
    if (generation != generation_) return;
    switch (what) {
        case kDeferredConnect:
            if (state_ == State::Resolving) ConnectToAddresses();
            break;
        case kDeferredError:
            if (state_ == State::Resolving) Fail(deferredError_);
            break;
        case kDeferredReceive:
            if (state_ == State::Connected) ReceiveOnce();
            break;
    }
}

void SocketControlWin32::OnTimer(std::uintptr_t id) {
    ::KillTimer(window_, id);
    if (state_ != State::Connecting || id != TimerId(id & 3)) return;
    if ((id & 3) == kStaggerTimer) return StartNextAttempt();
    EndRace();
    Fail(WSAETIMEDOUT);
}

// An attempt's outcome: the first to connect wins and the others are closed at once; one that
// failed makes way for the next address at once.
void SocketControlWin32::OnAttemptConnected(unsigned msg, std::uintptr_t socket, int error) {
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
    const Lookup::Address& address = addresses_->addresses[decided.address];
    winner_.assign(reinterpret_cast<const char*>(&address.storage),
                   static_cast<std::size_t>(address.length));
    EndRace();
    socket_ = decided.socket;
    socketMessage_ = decided.message;
    state_ = State::Connected;
    Deliver(sink_, [](platform::SocketEvents& sink) { sink.OnConnect(); });
}

void SocketControlWin32::OnSocketEvent(unsigned event, int error) {
    switch (event) {
        case FD_READ:
            if (state_ != State::Connected) return;
            if (error) return Fail(error);
            return ReceiveOnce();
        case FD_WRITE:
            if (state_ != State::Connected) return;
            if (error) return Fail(error);
            return FlushSendQueue();
        case FD_CLOSE:
            if (state_ != State::Connected) return;
            return DrainAndFinish(error);
    }
}

void SocketControlWin32::PostDeferred(std::intptr_t what) {
    if (!::PostMessageW(window_, kMsgDeferred, generation_, what)) ThrowLastError("PostMessageW");
}

std::uintptr_t SocketControlWin32::TimerId(std::uintptr_t kind) const {
    return generation_ << 2 | kind;
}

void SocketControlWin32::ConnectToAddresses() {
    // The race's order, with the address that worked last time for this control first.
    std::vector<Lookup::Address>& list = addresses_->addresses;
    std::vector<bool> isIPv6;
    std::optional<std::size_t> preferred;
    for (const Lookup::Address& address : list) {
        if (winner_.size() == static_cast<std::size_t>(address.length) &&
            std::memcmp(winner_.data(), &address.storage, winner_.size()) == 0)
            preferred = isIPv6.size();
        isIPv6.push_back(address.storage.ss_family == AF_INET6);
    }
    std::vector<Lookup::Address> ordered;
    for (const std::size_t i : RaceOrder(isIPv6, preferred)) ordered.push_back(list[i]);
    list.swap(ordered);
    addresses_->next = 0;
    lastError_ = 0;
    state_ = State::Connecting;
    ::SetTimer(window_, TimerId(kRaceTimer), kConnectMilliseconds, nullptr);
    StartNextAttempt();
}

void SocketControlWin32::StartNextAttempt() {
    ::KillTimer(window_, TimerId(kStaggerTimer));
    std::vector<Lookup::Address>& list = addresses_->addresses;
    while (addresses_->next < list.size()) {
        const std::size_t index = addresses_->next++;
        Attempt attempt{INVALID_SOCKET, 0, index};
        const int error = StartConnect(attempt, &list[index].storage, list[index].length);
        if (!error) {
            racing_.push_back(attempt);
            if (addresses_->next < list.size())
                ::SetTimer(window_, TimerId(kStaggerTimer), kRaceStaggerMilliseconds, nullptr);
            return;
        }
        lastError_ = error;
        if (attempt.socket != INVALID_SOCKET) ::closesocket(attempt.socket);
    }
    if (!racing_.empty()) return;
    EndRace();
    Fail(lastError_ ? lastError_ : WSAEHOSTUNREACH);
}

int SocketControlWin32::StartConnect(Attempt& attempt, const void* address, int length) {
    const auto* remote = static_cast<const sockaddr*>(address);
    attempt.socket = ::socket(remote->sa_family, SOCK_STREAM, IPPROTO_TCP);
    if (attempt.socket == INVALID_SOCKET) return ::WSAGetLastError();
    attempt.message = kMsgSocketFirst + ++attempts_ % kSocketMessages;
    // Also makes the socket non-blocking. FD_WRITE is wanted for sends the stack deferred.
    if (::WSAAsyncSelect(attempt.socket, window_, attempt.message,
                         FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE) == SOCKET_ERROR)
        return ::WSAGetLastError();
    if (::connect(attempt.socket, remote, length) == SOCKET_ERROR) {
        // A non-blocking connect reports WSAEWOULDBLOCK; the outcome arrives as FD_CONNECT.
        const int error = ::WSAGetLastError();
        if (error != WSAEWOULDBLOCK) return error;
    }
    return 0;
}

void SocketControlWin32::EndRace() {
    for (const Attempt& attempt : racing_) ::closesocket(attempt.socket);
    racing_.clear();
    ::KillTimer(window_, TimerId(kStaggerTimer));
    ::KillTimer(window_, TimerId(kRaceTimer));
}

void SocketControlWin32::CloseSocket() {
    if (socket_ != INVALID_SOCKET) ::closesocket(socket_);
    socket_ = INVALID_SOCKET;
    socketMessage_ = 0;
}

std::size_t SocketControlWin32::MakeRoom() {
    if (receivedBegin_ > 0) {
        std::memmove(received_.data(), received_.data() + receivedBegin_, BytesPending());
        receivedEnd_ -= receivedBegin_;
        receivedBegin_ = 0;
    }
    return received_.size() - receivedEnd_;
}

void SocketControlWin32::ReceiveOnce() {
    const std::size_t room = MakeRoom();
    if (room == 0) {
        // The receiver left the buffer full. WinSock posts no further FD_READ until we recv
        // again, so the next GetData has to restart reading.
        receiveStalled_ = true;
        return;
    }
    const int count = ::recv(socket_, received_.data() + receivedEnd_, static_cast<int>(room), 0);
    if (count == SOCKET_ERROR) {
        // WinSock may post FD_READ for data a previous recv already took.
        const int error = ::WSAGetLastError();
        if (error != WSAEWOULDBLOCK) Fail(error);
        return;
    }
    if (count == 0) return;  // the orderly close; FD_CLOSE follows
    receivedEnd_ += static_cast<std::size_t>(count);
    const auto total = static_cast<std::int32_t>(BytesPending());
    Deliver(sink_, [total](platform::SocketEvents& sink) { sink.OnDataArrival(total); });
}

void SocketControlWin32::DrainAndFinish(int closeError) {
    // FD_CLOSE can come while bytes still wait in the stack (WinSock does not hold it back
    // until they are read); the receiver gets every one of them before it hears of the close.
    const std::shared_ptr<bool> alive = alive_;
    const std::uintptr_t generation = generation_;
    int readError = 0;
    for (;;) {
        const std::size_t room = MakeRoom();
        if (room == 0) break;  // the receiver is not taking; what it has not taken stays
        const int count =
            ::recv(socket_, received_.data() + receivedEnd_, static_cast<int>(room), 0);
        if (count == SOCKET_ERROR) {
            const int error = ::WSAGetLastError();
            if (error != WSAEWOULDBLOCK) readError = error;
            break;
        }
        if (count == 0) break;
        receivedEnd_ += static_cast<std::size_t>(count);
        const auto total = static_cast<std::int32_t>(BytesPending());
        Deliver(sink_, [total](platform::SocketEvents& sink) { sink.OnDataArrival(total); });
        // The receiver may have closed, reconnected or destroyed the control meanwhile.
        if (!*alive || generation != generation_) return;
    }
    if (closeError || readError) return Fail(closeError ? closeError : readError);
    state_ = State::PeerClosed;
    Deliver(sink_, [](platform::SocketEvents& sink) { sink.OnClose(); });
}

void SocketControlWin32::FlushSendQueue() {
    while (sendOffset_ < sendQueue_.size()) {
        const std::size_t left = sendQueue_.size() - sendOffset_;
        const int sent = ::send(socket_, sendQueue_.data() + sendOffset_,
                                static_cast<int>(std::min<std::size_t>(left, INT_MAX)), 0);
        if (sent == SOCKET_ERROR) {
            const int error = ::WSAGetLastError();
            if (error != WSAEWOULDBLOCK) Fail(error);
            return;
        }
        sendOffset_ += static_cast<std::size_t>(sent);
    }
    sendQueue_.clear();
    sendOffset_ = 0;
}

void SocketControlWin32::Fail(int error) {
    // Nothing more of this connection is reported, and its socket is gone already, as on
    // every platform; the host's Close only forgets what is left.
    EndRace();
    CloseSocket();
    state_ = State::Failed;
    std::string description = ErrorText(static_cast<unsigned long>(error));
    const std::string source = kSocketErrorSource, helpFile;
    bool cancelDisplay = false;
    const auto number = static_cast<std::int16_t>(error);
    const std::int32_t scode = Win32Category().default_error_condition(error).value();
    Deliver(sink_, [&](platform::SocketEvents& sink) {
        sink.OnError(number, description, scode, source, helpFile, 0, cancelDisplay);
    });
}

void SocketControlWin32::DropQueuedNotifications() {
    // Notifications of the closed connection may already wait in the queue (posted before
    // closesocket); take them out so the next connection never sees them. A lookup's answer
    // is freed with its message.
    MSG msg;
    while (::PeekMessageW(&msg, window_, kMsgLookupDone, kMsgLast, PM_REMOVE)) {
        if (msg.message == kMsgLookupDone) delete reinterpret_cast<Lookup*>(msg.wParam);
    }
}

}  // namespace gor::platform::win32
