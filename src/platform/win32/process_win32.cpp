// The running program on Win32: GetModuleFileNameW for its folder, CreateProcessW with
// the application name spelled out, ExitProcess for the end.
#include "platform/win32/process_win32.h"

#include <windows.h>

#include <stdexcept>

#include "platform/win32/launcher_window_win32.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/win32_error.h"

namespace gor::platform::win32 {
namespace {

// Window styles of a started program, as the launcher numbers them, to ShowWindow values.
WORD ShowCommand(int windowStyle) {
    switch (windowStyle) {
        case 0:
            return SW_HIDE;
        case 1:
            return SW_SHOWNORMAL;
        case 2:
            return SW_SHOWMINIMIZED;
        case 3:
            return SW_SHOWMAXIMIZED;
        case 4:
            return SW_SHOWNOACTIVATE;
        case 6:
            return SW_SHOWMINNOACTIVE;
        default:
            throw std::invalid_argument("unknown window style " + std::to_string(windowStyle));
    }
}

}  // namespace

std::wstring FolderOf(const std::wstring& modulePath) {
    const std::size_t slash = modulePath.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return modulePath;
    std::wstring folder = modulePath.substr(0, slash);
    if (folder.size() == 2 && folder[1] == L':')
        folder += L'\\';  // "C:" alone means the drive's current folder
    return folder;
}

std::string ProcessWin32::AppPath() {
    // MAX_PATH is not a limit for module names; grow until the whole name fits.
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) ThrowLastError("GetModuleFileNameW");
        if (length < buffer.size()) {
            buffer.resize(length);
            break;
        }
        if (buffer.size() >= 32768)
            throw Win32Error(ERROR_INSUFFICIENT_BUFFER, "GetModuleFileNameW");
        buffer.resize(buffer.size() * 2);
    }
    return Narrow(FolderOf(buffer));
}

void ProcessWin32::Start(const std::string& exePath, int windowStyle) {
    const std::wstring application = Widen(exePath);
    // The application name tells Windows exactly which file to run; the command line repeats it
    // in quotes so the program's argv[0] is whole. Without both, a folder with spaces
    // ("C:\Program Files\...") would let Windows try "C:\Program.exe" first.
    std::wstring commandLine = L"\"" + application + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = ShowCommand(windowStyle);
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                          nullptr, nullptr, &startup, &started)) {
        ThrowLastError("CreateProcessW", exePath);
    }
    // Not waited for: the handles are only closed.
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
}

void ProcessWin32::End(int exitCode) {
    if (window_ != nullptr) window_->Destroy();
    ::ExitProcess(static_cast<UINT>(exitCode));
}

}  // namespace gor::platform::win32
