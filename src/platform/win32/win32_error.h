// Win32 error codes as readable std::system_error: the one place where a
// GetLastError/WSAGetLastError code becomes an exception with a message.
#pragma once

#include <string>
#include <system_error>

namespace gor::platform::win32 {

// Readable text for a Win32 or WinSock code: our own English wording for the WinSock codes
// (the system's are localised and some are missing under Wine), else the system's text.
std::string ErrorText(unsigned long code);

// Category of Win32 and WinSock error codes; message() is ErrorText plus the number.
const std::error_category& Win32Category();

// The exception for `code` raised while doing `what` (e.g. "DeleteFileW C:\\x\\gorupd.exe").
std::system_error Win32Error(unsigned long code, const std::string& what);

// Throws Win32Error(GetLastError(), what). Call it right after the failing OS call.
[[noreturn]] void ThrowLastError(const std::string& what);

}  // namespace gor::platform::win32
