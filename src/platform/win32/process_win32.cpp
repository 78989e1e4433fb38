// The running program on Win32: GetModuleFileNameW for its folder, a named file mapping that
// claims the folder, CreateProcessW with the application name spelled out (ShellExecuteExW for
// a program that asks for administrator rights), ExitProcess for the end.
#include "platform/win32/process_win32.h"

#include <windows.h>
// shellapi.h needs windows.h before it.
#include <shellapi.h>

#include <cstdint>
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

// The visible top-level windows of one process: the enabled one is its message box when a
// box is open (the box disables the window it belongs to), else its window.
struct WindowsOf {
    DWORD process;
    HWND enabled = nullptr;
    HWND any = nullptr;
};

BOOL CALLBACK NoteWindow(HWND window, LPARAM context) {
    auto& found = *reinterpret_cast<WindowsOf*>(context);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner != found.process || !::IsWindowVisible(window)) return TRUE;
    if (found.any == nullptr) found.any = window;
    if (found.enabled == nullptr && ::IsWindowEnabled(window)) found.enabled = window;
    return TRUE;
}

// A second start was made by the user, who waits for something to happen: show what the first
// start shows. Nothing is found while the first has not shown its window yet.
void BringToFront(DWORD process) {
    WindowsOf found{process};
    ::EnumWindows(NoteWindow, reinterpret_cast<LPARAM>(&found));
    const HWND target = found.enabled != nullptr ? found.enabled : found.any;
    if (target == nullptr) return;
    if (::IsIconic(target)) ::ShowWindow(target, SW_RESTORE);
    ::SetForegroundWindow(target);
}

}  // namespace

std::wstring FolderClaimName(const std::wstring& folder) {
    std::wstring key = folder;
    while (!key.empty() && (key.back() == L'\\' || key.back() == L'/')) key.pop_back();
    if (!key.empty()) ::CharUpperBuffW(key.data(), static_cast<DWORD>(key.size()));
    // A kernel object's name may not hold a backslash past its namespace, and a folder's name
    // may be longer than a name can be: the name carries the folder's FNV-1a hash instead.
    std::uint64_t hash = 0xCBF29CE484222325u;
    for (const wchar_t c : key) {
        hash = (hash ^ static_cast<std::uint16_t>(c)) * 0x100000001B3u;
    }
    std::wstring name = L"Local\\gorlaunch-folder-";
    for (int shift = 60; shift >= 0; shift -= 4) name += L"0123456789abcdef"[(hash >> shift) & 0xF];
    return name;
}

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

// A small named mapping in the session's namespace rather than a mutex: it carries the first
// start's process id, which tells the second whose window to bring to the front. The kernel
// drops it with the last handle, so a crash releases the folder too.
bool ProcessWin32::ClaimFolder(const std::string& folder) {
    const std::wstring name = FolderClaimName(Widen(folder));
    const HANDLE claim = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                              sizeof(DWORD), name.c_str());
    const DWORD error = ::GetLastError();
    // Access denied: the claim exists, made by an elevated launcher this one may not open.
    if (claim == nullptr && error == ERROR_ACCESS_DENIED) return false;
    if (claim == nullptr) throw Win32Error(error, "CreateFileMappingW", folder);
    auto* const shared = static_cast<DWORD*>(
        ::MapViewOfFile(claim, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(DWORD)));
    if (error != ERROR_ALREADY_EXISTS) {
        claim_ = claim;  // held until the process ends
        if (shared != nullptr) *shared = ::GetCurrentProcessId();
    } else if (shared != nullptr) {
        BringToFront(*shared);
    }
    if (shared != nullptr) ::UnmapViewOfFile(shared);
    if (error == ERROR_ALREADY_EXISTS) ::CloseHandle(claim);
    return error != ERROR_ALREADY_EXISTS;
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
    const std::wstring folder = FolderOf(application);
    if (!::CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                          nullptr, folder.c_str(), &startup, &started)) {
        ThrowLastError("CreateProcessW", exePath);
    }
    // Not waited for: the handles are only closed.
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
}

// The "open" verb on the program itself is what Explorer does on a double click: for a program
// whose manifest asks for administrator rights Windows shows its consent prompt first.
void ProcessWin32::StartThroughShell(const std::string& exePath, int windowStyle) {
    const std::wstring application = Widen(exePath);
    const std::wstring folder = FolderOf(application);
    SHELLEXECUTEINFOW shell{};
    shell.cbSize = sizeof shell;
    // No error boxes of the shell's own (the launcher reports nothing past its final test), and
    // the start is finished before this returns: the launcher ends soon after.
    shell.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    shell.lpVerb = L"open";
    shell.lpFile = application.c_str();
    shell.lpDirectory = folder.c_str();
    shell.nShow = ShowCommand(windowStyle);
    if (!::ShellExecuteExW(&shell)) ThrowLastError("ShellExecuteExW", exePath);
}

void ProcessWin32::End(int exitCode) {
    if (window_ != nullptr) window_->Destroy();
    ::ExitProcess(static_cast<UINT>(exitCode));
}

}  // namespace gor::platform::win32
