// Translation of Win32 and WinSock error codes into readable text, portable conditions and
// std::system_error: the one place where a GetLastError/WSAGetLastError code gets its words
// and its meaning.
#include "platform/win32/win32_error.h"

#include <windows.h>
#include <winsock2.h>

#include <algorithm>
#include <iterator>
#include <string_view>

#include "platform/hex_text.h"
#include "platform/system_failure.h"
#include "platform/win32/wide_text.h"

namespace gor::platform::win32 {
namespace {

// Our own wording for the WinSock codes without a portable condition and a name lookup's (the
// system's texts are localised, differ between Windows versions and are missing for some codes
// under Wine), for an antivirus verdict, the
// most common reason a player's start fails, and for the signature verdicts a tampered or
// foreign updater brings: the log must say these in plain words.
struct CodeText {
    unsigned long code;
    const char* text;
};
constexpr CodeText kOwnTexts[] = {
    {0x800B0100, "not signed (TRUST_E_NOSIGNATURE)"},
    {0x80096010, "altered after signing (TRUST_E_BAD_DIGEST)"},
    {0x80096011, "a damaged signature (TRUST_E_MALFORMED_SIGNATURE)"},
    {0x80090006, "a signature that does not verify (NTE_BAD_SIGNATURE)"},
    {0x800B0109, "signed with a certificate Windows does not trust (CERT_E_UNTRUSTEDROOT)"},
    {0x800B010A,
     "signed with a certificate whose chain ends nowhere Windows knows (CERT_E_CHAINING)"},
    // Windows reports a certificate before its first day with the same code as an expired one.
    {0x800B0101, "signed with a certificate outside its dates (CERT_E_EXPIRED)"},
    {0x800B0102,
     "signed with a certificate whose dates lie outside its issuer's "
     "(CERT_E_VALIDITYPERIODNESTING)"},
    {0x80096005, "a time stamp that does not verify (TRUST_E_TIME_STAMP)"},
    {0x800B0111, "signed with a distrusted certificate (TRUST_E_EXPLICIT_DISTRUST)"},
    {0x800B0004, "this machine's policy does not trust the signer (TRUST_E_SUBJECT_NOT_TRUSTED)"},
    {0x800B010C, "signed with a revoked certificate (CERT_E_REVOKED)"},
    {0x800B0110, "signed with a certificate not for code signing (CERT_E_WRONG_USAGE)"},
    {kErrorVirusInfected,
     "an antivirus program blocked the file: it found a virus or unwanted "
     "software in it"},
    {kErrorVirusDeleted, "an antivirus program blocked the file and removed it"},
    // WinSock's own failures, which no portable condition names; the others read as their
    // condition does on every system (platform/system_failure.h).
    {WSAESOCKTNOSUPPORT, "Socket type not supported"},
    {WSAESHUTDOWN, "Cannot send after the socket was shut down"},
    {WSAEHOSTDOWN, "The host is down"},
    {WSASYSNOTREADY, "The network subsystem is unavailable"},
    {WSAVERNOTSUPPORTED, "WinSock 2.2 is not supported"},
    {WSANOTINITIALISED, "WinSock is not initialised"},
    {WSAEDISCON, "The remote side is shutting the connection down"},
    // A name lookup's failures, in more words than the unreachable host they amount to.
    {WSAHOST_NOT_FOUND, "Host not found"},
    {WSATRY_AGAIN, "Host not found, or the name server did not answer"},
    {WSANO_RECOVERY, "The name server failed"},
    {WSANO_DATA, "The name has no address"},
};

// The portable meaning of the codes the launcher meets; any other code keeps its own.
struct CodeCondition {
    int code;
    std::errc condition;
};
constexpr CodeCondition kConditions[] = {
    {ERROR_FILE_NOT_FOUND, std::errc::no_such_file_or_directory},
    {ERROR_PATH_NOT_FOUND, std::errc::no_such_file_or_directory},
    {ERROR_ACCESS_DENIED, std::errc::permission_denied},
    {ERROR_SHARING_VIOLATION, std::errc::device_or_resource_busy},
    {ERROR_LOCK_VIOLATION, std::errc::device_or_resource_busy},
    {ERROR_USER_MAPPED_FILE, std::errc::device_or_resource_busy},
    // Not "access denied": the program can be started, through the shell (process.h).
    {kErrorElevationRequired, std::errc::operation_not_permitted},
    {ERROR_CANCELLED, std::errc::operation_canceled},
    {ERROR_FILE_EXISTS, std::errc::file_exists},
    {ERROR_ALREADY_EXISTS, std::errc::file_exists},
    {ERROR_DISK_FULL, std::errc::no_space_on_device},
    {ERROR_HANDLE_DISK_FULL, std::errc::no_space_on_device},
    {ERROR_WRITE_FAULT, std::errc::io_error},
    {ERROR_INVALID_HANDLE, std::errc::bad_file_descriptor},
    {ERROR_NOT_ENOUGH_MEMORY, std::errc::not_enough_memory},
    {ERROR_OUTOFMEMORY, std::errc::not_enough_memory},
    {WSAEINTR, std::errc::interrupted},
    {WSAEBADF, std::errc::bad_file_descriptor},
    {WSAEACCES, std::errc::permission_denied},
    {WSAEFAULT, std::errc::bad_address},
    {WSAEINVAL, std::errc::invalid_argument},
    {WSAEMFILE, std::errc::too_many_files_open},
    {WSAEWOULDBLOCK, std::errc::operation_would_block},
    {WSAEINPROGRESS, std::errc::operation_in_progress},
    {WSAEALREADY, std::errc::connection_already_in_progress},
    {WSAENOTSOCK, std::errc::not_a_socket},
    {WSAEDESTADDRREQ, std::errc::destination_address_required},
    {WSAEMSGSIZE, std::errc::message_size},
    {WSAEPROTOTYPE, std::errc::wrong_protocol_type},
    {WSAENOPROTOOPT, std::errc::no_protocol_option},
    {WSAEPROTONOSUPPORT, std::errc::protocol_not_supported},
    {WSAEOPNOTSUPP, std::errc::operation_not_supported},
    {WSAEAFNOSUPPORT, std::errc::address_family_not_supported},
    {WSAEADDRINUSE, std::errc::address_in_use},
    {WSAEADDRNOTAVAIL, std::errc::address_not_available},
    {WSAENETDOWN, std::errc::network_down},
    {WSAENETUNREACH, std::errc::network_unreachable},
    {WSAENETRESET, std::errc::network_reset},
    {WSAECONNABORTED, std::errc::connection_aborted},
    {WSAECONNRESET, std::errc::connection_reset},
    {WSAENOBUFS, std::errc::no_buffer_space},
    {WSAEISCONN, std::errc::already_connected},
    {WSAENOTCONN, std::errc::not_connected},
    {WSAETIMEDOUT, std::errc::timed_out},
    {WSAECONNREFUSED, std::errc::connection_refused},
    {WSAEHOSTUNREACH, std::errc::host_unreachable},
    // A name that gives no address, or whose name server did not answer in time, leaves the
    // host as unreachable as a missing route does.
    {WSAHOST_NOT_FOUND, std::errc::host_unreachable},
    {WSATRY_AGAIN, std::errc::host_unreachable},
    {WSANO_DATA, std::errc::host_unreachable},
};

// The system's text for a code, in English when that language is installed. Some messages
// carry %1 placeholders we have no arguments for, hence IGNORE_INSERTS.
std::string SystemText(DWORD code) {
    for (const WORD language : {MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT)}) {
        wchar_t* buffer = nullptr;
        const DWORD length = ::FormatMessageW(
            FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                FORMAT_MESSAGE_IGNORE_INSERTS,
            nullptr, code, language, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
        std::wstring text(buffer ? buffer : L"", buffer ? length : 0);
        if (buffer) ::LocalFree(buffer);
        // System texts end in a full stop and CR LF.
        while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' ||
                                 text.back() == L' ' || text.back() == L'.')) {
            text.pop_back();
        }
        std::string result = Narrow(text);
        if (!result.empty()) return result;
    }
    return {};
}

class Win32ErrorCategory final : public std::error_category {
  public:
    const char* name() const noexcept override { return "win32"; }
    std::string message(int code) const override {
        // An HRESULT (a signature check's) reads as Windows prints it.
        const auto bits = static_cast<unsigned long>(static_cast<unsigned>(code));
        return ErrorText(bits) + " (" +
               (code < 0 ? "0x" + HexDigits(bits, 8) : std::to_string(code)) + ")";
    }
    std::error_condition default_error_condition(int code) const noexcept override {
        for (const CodeCondition& entry : kConditions) {
            if (entry.code == code) return entry.condition;
        }
        return {code, *this};
    }
};

}  // namespace

const char* OwnText(unsigned long code) {
    const auto known = std::find_if(std::begin(kOwnTexts), std::end(kOwnTexts),
                                    [code](const CodeText& entry) { return entry.code == code; });
    return known != std::end(kOwnTexts) ? known->text : nullptr;
}

std::string ErrorText(unsigned long code) {
    if (const char* own = OwnText(code)) return own;
    if (code >= WSABASEERR && code < WSABASEERR + 2000) {
        const int condition =
            Win32Category().default_error_condition(static_cast<int>(code)).value();
        if (const char* words = SocketFailureText(condition)) return words;
    }
    std::string text = SystemText(static_cast<DWORD>(code));
    return text.empty() ? "Error " + std::to_string(code) : text;
}

const std::error_category& Win32Category() {
    static const Win32ErrorCategory category;
    return category;
}

std::system_error Win32Error(unsigned long code, std::string_view function, std::string_view path,
                             std::string_view secondPath) {
    return std::system_error(static_cast<int>(code), Win32Category(),
                             FailedCall(function, path, secondPath));
}

void ThrowLastError(std::string_view function, std::string_view path, std::string_view secondPath) {
    const DWORD code = ::GetLastError();
    throw Win32Error(code, function, path, secondPath);
}

}  // namespace gor::platform::win32
