// Win32 error codes as readable std::system_error: the one place where a
// GetLastError/WSAGetLastError code becomes an exception with a message and a portable
// condition.
#pragma once

#include <string>
#include <string_view>
#include <system_error>

namespace gor::platform::win32 {

// Readable text for a Win32 or WinSock code: our own English wording for the WinSock codes
// (the system's are localised and some are missing under Wine: a WinSock code with a portable
// condition reads as that condition does on every system, see SocketFailureText in
// platform/system_failure.h), for a failed name lookup, for an antivirus program's
// verdict (ERROR_VIRUS_INFECTED, ERROR_VIRUS_DELETED: "an antivirus program blocked ...") and
// for the signature verdicts the log names (TRUST_E_NOSIGNATURE: "not signed ..."), else the
// system's text.
std::string ErrorText(unsigned long code);

// Our own words for `code` where no portable condition has them (a WinSock code of its own, a
// failed name lookup, an antivirus program's verdict, a signature verdict), or null.
const char* OwnText(unsigned long code);

// ERROR_ELEVATION_REQUIRED, ERROR_VIRUS_INFECTED and ERROR_VIRUS_DELETED, which mingw-w64's
// headers lack.
inline constexpr unsigned long kErrorElevationRequired = 740;
inline constexpr int kErrorVirusInfected = 225;
inline constexpr int kErrorVirusDeleted = 226;

// Category of Win32 and WinSock error codes; message() is ErrorText plus the number. Its
// default_error_condition translates the codes the launcher meets (file or path not found,
// access denied, sharing and lock violations, file exists, disk full, connection refused,
// reset or aborted, timed out, host not found, ...) into std::errc conditions, so the
// portable core and both socket layers speak of failures the same way on every system. A file
// held by another program (ERROR_SHARING_VIOLATION, ERROR_LOCK_VIOLATION, and
// ERROR_USER_MAPPED_FILE for one mapped into memory) is device_or_resource_busy, as EBUSY is:
// a failure that passes by itself, which access denied (permission_denied) need not be. A
// program that asks for administrator rights (740) is operation_not_permitted, a declined
// consent prompt (ERROR_CANCELLED) operation_canceled.
const std::error_category& Win32Category();

// The exception for `code` raised by `function`, working on `path` and, for a move, on
// `secondPath` (see platform/system_failure.h for how they are worded).
std::system_error Win32Error(unsigned long code, std::string_view function,
                             std::string_view path = {}, std::string_view secondPath = {});

// Throws Win32Error(GetLastError(), ...). Call it right after the failing OS call.
[[noreturn]] void ThrowLastError(std::string_view function, std::string_view path = {},
                                 std::string_view secondPath = {});

}  // namespace gor::platform::win32
