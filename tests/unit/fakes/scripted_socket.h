// A scripted socket control for unit tests: records what the download control asks of it and
// lets a test deliver the notifications a real connection would bring, in chosen pieces.
#pragma once

#include <cerrno>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "fakes/faults.h"
#include "platform/socket_control.h"

namespace gor::test {

class ScriptedSocket : public platform::SocketControl {
  public:
    enum class State { Closed, Connecting, Connected };

    std::vector<std::string> calls;  // "Close", "Connect host port", "SendData", "GetData n"
    std::vector<std::string> sent;   // the bytes of every SendData
    std::string localIP = "127.0.0.1";
    bool failSend = false;                               // SendData throws as on a connection reset
    static constexpr std::int16_t kErrorNumber = 10061;  // the system's own code of every error
    State state = State::Closed;

    void SetEventSink(platform::SocketEvents* sink) override { sink_ = sink; }
    void Close() override {
        calls.push_back("Close");
        state = State::Closed;
        waiting_.clear();
    }
    void Connect(const std::string& host, std::uint16_t port) override {
        calls.push_back("Connect " + host + " " + std::to_string(port));
        state = State::Connecting;
    }
    void SendData(std::string_view data) override {
        calls.push_back("SendData");
        faults.Call("socket.SendData", "", std::errc::connection_reset);
        if (failSend || state != State::Connected) {
            throw std::system_error(ENOTCONN, std::generic_category(), "send");
        }
        sent.emplace_back(data);
    }
    void GetData(std::string& data, std::int32_t maxLength) override {
        calls.push_back("GetData " + std::to_string(maxLength));
        data.assign(waiting_, 0, static_cast<std::size_t>(maxLength));
        waiting_.erase(0, data.size());
    }
    std::string LocalIP() const override { return state == State::Connected ? localIP : ""; }

    // Notifications, each delivered only while the connection is alive: a socket the control
    // closed delivers nothing more, as the real ones promise. Each returns whether it came.
    bool DeliverConnect() {
        if (state != State::Connecting) return false;
        state = State::Connected;
        sink_->OnConnect();
        return true;
    }
    bool DeliverData(std::string_view bytes) {
        if (state != State::Connected || bytes.empty()) return false;
        waiting_.append(bytes);
        sink_->OnDataArrival(static_cast<std::int32_t>(waiting_.size()));
        return true;
    }
    bool DeliverClose() {
        if (state != State::Connected) return false;
        sink_->OnClose();
        return true;
    }
    bool DeliverError(std::string description, std::int32_t condition = 0) {
        if (state == State::Closed) return false;
        sink_->OnError({std::errc(condition), kErrorNumber, std::move(description)});
        return true;
    }

  private:
    platform::SocketEvents* sink_ = nullptr;
    std::string waiting_;
};

}  // namespace gor::test
