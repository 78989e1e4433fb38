// The socket control's decisions over a backend's system calls: states, the address race,
// later reports, the receive buffer and the send queue.
#include "platform/socket_core.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace gor::platform {

std::vector<std::size_t> RaceOrder(const std::vector<int>& families,
                                   std::optional<std::size_t> preferred) {
    std::vector<std::size_t> first, second;  // the first address's family, and the other
    for (std::size_t i = 0; i < families.size(); ++i) {
        if (i == preferred) continue;
        (families[i] == families.front() ? first : second).push_back(i);
    }
    std::vector<std::size_t> order;
    if (preferred && *preferred < families.size()) order.push_back(*preferred);
    for (std::size_t i = 0; i < std::max(first.size(), second.size()); ++i) {
        if (i < first.size()) order.push_back(first[i]);
        if (i < second.size()) order.push_back(second[i]);
    }
    return order;
}

void Resolution::Add(const void* address, std::size_t length, int family) {
    HostAddress kept;
    if (length > sizeof kept.bytes) return;
    std::memcpy(kept.bytes, address, length);
    kept.length = length;
    kept.family = family;
    addresses.push_back(kept);
}

SocketCore::SocketCore(const Codes& codes, EventLoop& loop)
    : codes_(codes),
      loop_(loop),
      received_(std::make_unique_for_overwrite<char[]>(kReceiveBufferBytes)) {}

SocketCore::~SocketCore() = default;

void SocketCore::Close() {
    ++generation_;
    EndRace();
    CloseConnection();
    state_ = State::Closed;
    addresses_.clear();
    receivedBegin_ = receivedEnd_ = 0;
    receiveStalled_ = draining_ = false;
    closeError_ = 0;
    sendQueue_.clear();
    sendOffset_ = 0;
}

void SocketCore::Connect(const std::string& host, std::uint16_t port) {
    Close();
    state_ = State::Resolving;
    if (port == 0) return Fail(codes_.invalidArgument, Delivery::Posted);
    // The budget runs from the lookup on: a slow name server leaves the race what remains.
    if (!staggerTimer_) {
        staggerTimer_ = loop_.CreateTimer(kRaceStaggerMilliseconds, Task(Next::StaggerTick));
        raceTimer_ = loop_.CreateTimer(kConnectMilliseconds, Task(Next::BudgetTick));
    }
    raceTimer_->SetEnabled(true);
    answer_ = std::make_shared<Resolution>();
    try {
        Resolve(host, port, answer_, Task(Next::Resolved));
    } catch (const std::system_error& failure) {  // no thread for the lookup
        Fail(failure.code().value(), Delivery::Posted);
    }
}

void SocketCore::SendData(std::string_view data) {
    if (state_ != State::Connected) ThrowNotConnected();
    sendQueue_.append(data);
    FlushSendQueue(Delivery::Posted);
}

void SocketCore::GetData(std::string& data, std::int32_t maxLength) {
    const std::size_t count =
        std::min(BytesPending(), static_cast<std::size_t>(std::max<std::int32_t>(maxLength, 0)));
    data.clear();
    data.append(received_.get() + receivedBegin_, count);
    receivedBegin_ += count;
    if (receivedBegin_ == receivedEnd_) receivedBegin_ = receivedEnd_ = 0;
    // A read skipped for want of room is restarted now that there is some: a system that
    // reports readiness once (WinSock) would not report it again.
    if (receiveStalled_ && count > 0) {
        receiveStalled_ = false;
        Later(Next::Receive);
    }
}

void SocketCore::ThrowNotConnected() const {
    throw std::system_error(codes_.notConnected, codes_.category(), "SendData");
}

bool SocketCore::WantsToReceive() const {
    return state_ == State::Connected && BytesPending() < kReceiveBufferBytes;
}

bool SocketCore::WantsToSend() const {
    return state_ == State::Connected && sendOffset_ < sendQueue_.size();
}

std::function<void()> SocketCore::Task(Next step, int error) {
    return [weak = weak_from_this(), generation = generation_, step, error] {
        if (const auto self = weak.lock()) self->Run(step, generation, error);
    };
}

void SocketCore::Later(Next step, int error) {
    loop_.Post(Task(step, error));
}

void SocketCore::Run(Next step, unsigned generation, int error) {
    // The race's ticks belong to whichever race runs; every other step to the connection that
    // asked for it.
    if (step == Next::StaggerTick) {
        if (state_ == State::Connecting) StartNextAttempt();
        return;
    }
    if (step == Next::BudgetTick) {
        if (state_ != State::Resolving && state_ != State::Connecting) return;
        // Whatever has not connected by the end of the budget has timed out.
        return Fail(codes_.timedOut, Delivery::Direct);
    }
    if (generation != generation_) return;
    if (step == Next::Receive) return Receive();
    if (step == Next::Report) return Report(error);
    if (state_ == State::Resolving) Resolved(*answer_);
}

// ---- the race over the host's addresses

void SocketCore::Resolved(Resolution& resolution) {
    if (resolution.addresses.empty())
        return Fail(resolution.error ? resolution.error : codes_.hostUnreachable, Delivery::Direct);
    // The race's order, with the address that worked last time for this control first.
    std::vector<int> families;
    std::optional<std::size_t> preferred;
    for (const HostAddress& address : resolution.addresses) {
        if (address == winner_) preferred = families.size();
        families.push_back(address.family);
    }
    order_ = RaceOrder(families, preferred);
    addresses_ = std::move(resolution.addresses);
    nextAddress_ = 0;
    lastError_ = 0;
    state_ = State::Connecting;
    StartNextAttempt();
}

// One refused at once is passed over.
void SocketCore::StartNextAttempt() {
    staggerTimer_->SetEnabled(false);
    while (nextAddress_ < order_.size()) {
        const std::size_t index = order_[nextAddress_++];
        Handle socket = kNoHandle;
        const int error = StartConnect(addresses_[index], socket);
        if (!error) {
            racing_.push_back({socket, index});
            if (nextAddress_ < order_.size()) staggerTimer_->SetEnabled(true);
            return;
        }
        lastError_ = error;
        if (socket != kNoHandle) CloseSocket(socket);
    }
    if (racing_.empty()) Fail(lastError_ ? lastError_ : codes_.hostUnreachable, Delivery::Direct);
}

// The first attempt to connect wins and the others are closed at once; one that failed makes
// way for the next address at once.
void SocketCore::Attempted(Handle socket, int error) {
    const auto attempt = std::find_if(racing_.begin(), racing_.end(),
                                      [socket](const Attempt& a) { return a.socket == socket; });
    if (state_ != State::Connecting || attempt == racing_.end()) return;
    const Attempt decided = *attempt;
    racing_.erase(attempt);
    if (error) {
        CloseSocket(decided.socket);
        lastError_ = error;
        return StartNextAttempt();
    }
    EndRace();
    winner_ = addresses_[decided.address];
    socket_ = decided.socket;
    localIp_ = Adopt(socket_);
    state_ = State::Connected;
    if (sink) sink->OnConnect();
}

void SocketCore::EndRace() {
    for (const Attempt& attempt : racing_) CloseSocket(attempt.socket);
    racing_.clear();
    // Stopped, not destroyed: this may run inside one of their ticks.
    if (staggerTimer_) staggerTimer_->SetEnabled(false);
    if (raceTimer_) raceTimer_->SetEnabled(false);
}

void SocketCore::CloseConnection() {
    if (socket_ != kNoHandle) CloseSocket(socket_);
    socket_ = kNoHandle;
    localIp_.clear();
}

// ---- the connection

void SocketCore::Ready(Handle socket, bool readable, bool writable) {
    if (socket != socket_ || state_ != State::Connected) return;
    const auto generation = generation_;
    if (writable && sendOffset_ < sendQueue_.size()) {
        FlushSendQueue(Delivery::Direct);
        if (generation != generation_ || state_ != State::Connected) return;
    }
    if (readable) Receive();
}

void SocketCore::PeerClosing(Handle socket, int error) {
    if (socket != socket_ || state_ != State::Connected) return;
    draining_ = true;
    closeError_ = error;
    Receive();
}

void SocketCore::Failed(Handle socket, int error) {
    if (socket == socket_ && state_ == State::Connected) Fail(error, Delivery::Direct);
}

// The untaken bytes move to the front, so every announcement counts all that wait and the
// peer's bytes never overtake each other.
void SocketCore::Receive() {
    if (state_ != State::Connected) return;
    if (receivedBegin_ > 0) {
        std::memmove(received_.get(), received_.get() + receivedBegin_, BytesPending());
        receivedEnd_ -= receivedBegin_;
        receivedBegin_ = 0;
    }
    const std::size_t room = kReceiveBufferBytes - receivedEnd_;
    if (room == 0) {
        receiveStalled_ = true;  // GetData restarts reading
        return;
    }
    int error = 0;
    const long count = ReceiveSome(socket_, received_.get() + receivedEnd_, room, error);
    if (count > 0) {
        receivedEnd_ += static_cast<std::size_t>(count);
        // After the peer's close no system says that more is waiting: read on from the loop.
        if (draining_) Later(Next::Receive);
        if (sink) sink->OnDataArrival(static_cast<std::int32_t>(BytesPending()));
        return;
    }
    // A readiness already used up by an earlier read, or a signal: nothing to do, unless the
    // peer's close said that nothing more comes.
    if (count < 0 && error == 0 && !draining_) return;
    if (count < 0 && error != 0) return Fail(error, Delivery::Direct);
    PeerClosed();
}

// Every byte the peer sent has been announced: its close, or the failure it closed with.
void SocketCore::PeerClosed() {
    if (closeError_) return Fail(closeError_, Delivery::Direct);
    state_ = State::Ended;
    CloseConnection();
    if (sink) sink->OnClose();
}

void SocketCore::FlushSendQueue(Delivery delivery) {
    while (sendOffset_ < sendQueue_.size()) {
        int error = 0;
        const long sent = SendSome(socket_, sendQueue_.data() + sendOffset_,
                                   sendQueue_.size() - sendOffset_, error);
        if (sent > 0) {
            sendOffset_ += static_cast<std::size_t>(sent);
            continue;
        }
        // The system's buffer is full: it says when it has room again.
        if (error != 0) Fail(error, delivery);
        return;
    }
    sendQueue_.clear();
    sendOffset_ = 0;
}

// Nothing more of this connection is reported, and its sockets are gone already; the host's
// Close only forgets what is left.
void SocketCore::Fail(int error, Delivery delivery) {
    state_ = State::Ended;
    EndRace();
    CloseConnection();
    if (delivery == Delivery::Direct) return Report(error);
    Later(Next::Report, error);
}

void SocketCore::Report(int error) {
    if (sink) sink->OnError(Describe(error));
}

// ---- the control: each operation on its core

SocketControlOnCore::SocketControlOnCore(std::shared_ptr<SocketCore> core)
    : core_(std::move(core)) {}

SocketControlOnCore::~SocketControlOnCore() {
    core_->Close();
    core_->sink = nullptr;
}

void SocketControlOnCore::SetEventSink(SocketEvents* sink) {
    core_->sink = sink;
}
void SocketControlOnCore::Close() {
    core_->Close();
}
void SocketControlOnCore::Connect(const std::string& host, std::uint16_t port) {
    core_->Connect(host, port);
}
void SocketControlOnCore::SendData(std::string_view data) {
    core_->SendData(data);
}
void SocketControlOnCore::GetData(std::string& data, std::int32_t maxLength) {
    core_->GetData(data, maxLength);
}
std::string SocketControlOnCore::LocalIP() const {
    return core_->LocalIP();
}
std::size_t SocketControlOnCore::BytesPending() const {
    return core_->BytesPending();
}

}  // namespace gor::platform
