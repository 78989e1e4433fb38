// The words for a socket failure's portable condition, one table for every system.
#include "platform/system_failure.h"

#include <system_error>

namespace gor::platform {

namespace {

struct ConditionWords {
    std::errc condition;
    const char* text;
};
constexpr ConditionWords kSocketFailures[] = {
    {std::errc::interrupted, "The operation was interrupted"},
    {std::errc::bad_file_descriptor, "Invalid socket handle"},
    {std::errc::permission_denied, "Permission denied"},
    {std::errc::bad_address, "Bad address"},
    {std::errc::invalid_argument, "Invalid argument"},
    {std::errc::too_many_files_open, "Too many open sockets"},
    {std::errc::operation_would_block, "The operation would block"},
    {std::errc::operation_in_progress, "An operation is already in progress"},
    {std::errc::connection_already_in_progress, "The operation is already in progress"},
    {std::errc::not_a_socket, "Socket operation on something that is not a socket"},
    {std::errc::destination_address_required, "Destination address required"},
    {std::errc::message_size, "Message too long"},
    {std::errc::wrong_protocol_type, "Wrong protocol type for socket"},
    {std::errc::no_protocol_option, "Bad protocol option"},
    {std::errc::protocol_not_supported, "Protocol not supported"},
    {std::errc::operation_not_supported, "Operation not supported"},
    {std::errc::address_family_not_supported, "Address family not supported"},
    {std::errc::address_in_use, "Address already in use"},
    {std::errc::address_not_available, "The requested address is not valid"},
    {std::errc::network_down, "The network is down"},
    {std::errc::network_unreachable, "The network is unreachable"},
    {std::errc::network_reset, "The network dropped the connection"},
    {std::errc::connection_aborted, "The connection was aborted"},
    {std::errc::connection_reset, "The connection was reset by the remote side"},
    {std::errc::no_buffer_space, "No buffer space available"},
    {std::errc::already_connected, "The socket is already connected"},
    {std::errc::not_connected, "The socket is not connected"},
    {std::errc::timed_out, "The connection timed out"},
    {std::errc::connection_refused, "The connection was refused"},
    {std::errc::host_unreachable, "No route to host"},
};

}  // namespace

const char* SocketFailureText(int condition) {
    for (const ConditionWords& entry : kSocketFailures) {
        if (static_cast<int>(entry.condition) == condition) return entry.text;
    }
    return nullptr;
}

}  // namespace gor::platform
