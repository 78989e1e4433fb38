// The running program on Win32: GetModuleFileNameW for its folder, a named file mapping that
// claims the folder by its identity for this user (its owner and holder checked, the holder with
// QueryFullProcessImageNameW), CreateProcessW, suspended until the hold is let go, with the
// application name spelled out (ShellExecuteExW for a program that asks for administrator
// rights, with COM set up for it), ExitProcess for the end.
#include "platform/win32/process_win32.h"

#include <windows.h>
// These need windows.h before them.
#include <accctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdint>
#include <stdexcept>

#include "platform/hex_text.h"
#include "platform/win32/launcher_window_win32.h"
#include "platform/win32/system_library.h"
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

// A file or folder by what it is rather than how it is spelled: an 8.3 name, a subst drive, a
// junction or a UNC path to it give the same identity.
struct FileIdentity {
    DWORD volume = 0, indexHigh = 0, indexLow = 0;
    bool operator==(const FileIdentity&) const = default;
};

FileIdentity IdentityOf(const std::wstring& path) {
    // No access asked, everything shared: only its attributes are read (a folder needs
    // FILE_FLAG_BACKUP_SEMANTICS to be opened at all).
    const HANDLE handle =
        ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) ThrowLastError("CreateFileW", Narrow(path));
    BY_HANDLE_FILE_INFORMATION info;
    const BOOL read = ::GetFileInformationByHandle(handle, &info);
    const DWORD error = ::GetLastError();
    ::CloseHandle(handle);
    if (!read) throw Win32Error(error, "GetFileInformationByHandle", Narrow(path));
    return {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

std::wstring ModulePath() {
    // MAX_PATH is not a limit for module names; grow until the whole name fits.
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) ThrowLastError("GetModuleFileNameW");
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        if (buffer.size() >= 32768)
            throw Win32Error(ERROR_INSUFFICIENT_BUFFER, "GetModuleFileNameW");
        buffer.resize(buffer.size() * 2);
    }
}

// Whether `process` is alive and runs this very program file (so a launcher of this folder):
// the only holder of a claim that counts. Whatever cannot be told counts as no.
bool RunsThisProgram(DWORD process) {
    const HANDLE handle = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process);
    if (handle == nullptr) return false;
    DWORD exitCode = 0;
    std::wstring image(32768, L'\0');
    DWORD length = static_cast<DWORD>(image.size());
    const bool alive = ::GetExitCodeProcess(handle, &exitCode) && exitCode == STILL_ACTIVE &&
                       ::QueryFullProcessImageNameW(handle, 0, image.data(), &length);
    ::CloseHandle(handle);
    if (!alive) return false;
    image.resize(length);
    try {
        return IdentityOf(image) == IdentityOf(ModulePath());
    } catch (const std::system_error&) {
        return false;
    }
}

// The user this process runs as (its token's user), and what a claim needs of it: its SID as
// text for the claim's name, security attributes that make the user the owner of a new claim
// and grant it full access and nobody else any, and whether an existing claim is its own. An
// elevated start's default DACL would admit only administrators and the system (and make them
// the owner), so a later unelevated start of the same user could not open or trust its claim;
// with the user named, every start of that user sees one claim. Advapi32 is looked up, so the
// exe imports nothing more. Whatever cannot be built leaves the system's default (null
// attributes, an empty name part) and owns nothing.
class ThisUser {
  public:
    ThisUser() {
        using OpenTokenFn = BOOL(WINAPI*)(HANDLE, DWORD, PHANDLE);
        using TokenInfoFn = BOOL(WINAPI*)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD);
        using SidLengthFn = DWORD(WINAPI*)(PSID);
        using SidTextFn = BOOL(WINAPI*)(PSID, LPWSTR*);
        using InitAclFn = BOOL(WINAPI*)(PACL, DWORD, DWORD);
        using AddAllowedFn = BOOL(WINAPI*)(PACL, DWORD, DWORD, PSID);
        using InitDescriptorFn = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR, DWORD);
        using SetDaclFn = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR, BOOL, PACL, BOOL);
        using SetOwnerFn = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR, PSID, BOOL);
        try {
            advapi_ = SystemLibrary(L"advapi32.dll");
            HANDLE token = nullptr;
            if (!Require<OpenTokenFn>(advapi_, "OpenProcessToken")(::GetCurrentProcess(),
                                                                   TOKEN_QUERY, &token))
                return;
            DWORD size = 0;
            const auto tokenInfo = Require<TokenInfoFn>(advapi_, "GetTokenInformation");
            tokenInfo(token, TokenUser, nullptr, 0, &size);
            user_.resize(size);
            const BOOL read = size != 0 && tokenInfo(token, TokenUser, user_.data(), size, &size);
            ::CloseHandle(token);
            if (!read) return;
            const PSID sid = Sid();
            wchar_t* text = nullptr;
            if (Require<SidTextFn>(advapi_, "ConvertSidToStringSidW")(sid, &text)) {
                sidText_ = text;
                ::LocalFree(text);
            }
            const DWORD sidLength = Require<SidLengthFn>(advapi_, "GetLengthSid")(sid);
            acl_.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + sidLength);
            auto* const acl = reinterpret_cast<PACL>(acl_.data());
            if (Require<InitAclFn>(advapi_, "InitializeAcl")(acl, static_cast<DWORD>(acl_.size()),
                                                             ACL_REVISION) &&
                Require<AddAllowedFn>(advapi_, "AddAccessAllowedAce")(acl, ACL_REVISION,
                                                                      SECTION_ALL_ACCESS, sid) &&
                Require<InitDescriptorFn>(advapi_, "InitializeSecurityDescriptor")(
                    &descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
                Require<SetDaclFn>(advapi_, "SetSecurityDescriptorDacl")(&descriptor_, TRUE, acl,
                                                                         FALSE) &&
                Require<SetOwnerFn>(advapi_, "SetSecurityDescriptorOwner")(&descriptor_, sid,
                                                                           FALSE)) {
                attributes_ = {sizeof attributes_, &descriptor_, FALSE};
                ready_ = true;
            }
        } catch (const std::system_error&) {
            // No advapi32 to be had: the default it is.
        }
    }
    ThisUser(const ThisUser&) = delete;
    ThisUser& operator=(const ThisUser&) = delete;

    // "S-1-5-21-...", or empty when it cannot be told.
    const std::wstring& SidText() const { return sidText_; }

    // The user alone may use a claim made with these, and owns it.
    SECURITY_ATTRIBUTES* OnlyItsOwn() { return ready_ ? &attributes_ : nullptr; }

    // Whether the kernel object `object` is owned by this user: only a process of this user
    // (or an administrator acting as anyone) can have made it so.
    bool Owns(HANDLE object) const {
        using GetSecurityInfoFn = DWORD(WINAPI*)(HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION,
                                                 PSID*, PSID*, PACL*, PACL*, PSECURITY_DESCRIPTOR*);
        using EqualSidFn = BOOL(WINAPI*)(PSID, PSID);
        if (!ready_) return false;
        try {
            PSID owner = nullptr;
            PSECURITY_DESCRIPTOR descriptor = nullptr;
            if (Require<GetSecurityInfoFn>(advapi_, "GetSecurityInfo")(
                    object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                    nullptr, &descriptor) != ERROR_SUCCESS)
                return false;
            const bool own = owner && Require<EqualSidFn>(advapi_, "EqualSid")(owner, Sid());
            ::LocalFree(descriptor);
            return own;
        } catch (const std::system_error&) {
            return false;
        }
    }

  private:
    PSID Sid() const { return reinterpret_cast<const TOKEN_USER*>(user_.data())->User.Sid; }

    Module advapi_ = nullptr;
    std::string user_;  // TOKEN_USER and the SID it points into
    std::wstring sidText_;
    std::string acl_;
    SECURITY_DESCRIPTOR descriptor_{};
    SECURITY_ATTRIBUTES attributes_{};
    bool ready_ = false;
};

}  // namespace

std::wstring FolderClaimName(const std::wstring& folder) {
    const FileIdentity id = IdentityOf(folder);
    const ThisUser user;
    return Widen("Local\\gorlaunch-folder-" + HexDigits(id.volume, 8) + "-" +
                 HexDigits((std::uint64_t{id.indexHigh} << 32) | id.indexLow, 16) + "-") +
           user.SidText();
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
    return Narrow(FolderOf(ModulePath()));
}

// A small named mapping in the session's namespace rather than a mutex: it carries the holder's
// process id, which tells a second start whether the holder is really a launcher of this
// folder and whose window to bring to the front. The kernel drops it with the last handle, so
// a crash releases the folder too. Its name carries the user's SID, so another user's launcher
// in the same session (started with "Run as") claims a name of its own. Anyone can create a
// name first, so a claim counts only when this user owns it (a process of another user cannot
// make an object its owner is this user) and the process it names is alive and runs this
// program; a claim of this user naming anything else is taken over, with a compare-and-swap so
// that of two starts taking it over at once only one wins.
bool ProcessWin32::ClaimFolder(const std::string& folder) {
    const std::wstring name = FolderClaimName(Widen(folder));
    ThisUser user;
    const HANDLE claim = ::CreateFileMappingW(INVALID_HANDLE_VALUE, user.OnlyItsOwn(),
                                              PAGE_READWRITE, 0, sizeof(LONG), name.c_str());
    const DWORD error = ::GetLastError();
    // One this start may not open (a squatter's) names nobody it can check: it stops nothing.
    if (claim == nullptr && error == ERROR_ACCESS_DENIED) return true;
    if (claim == nullptr) throw Win32Error(error, "CreateFileMappingW", folder);
    // Nor does one another user made: whatever process it names, it is not this user's.
    if (error == ERROR_ALREADY_EXISTS && !user.Owns(claim)) {
        ::CloseHandle(claim);
        return true;
    }
    auto* const shared = static_cast<volatile LONG*>(
        ::MapViewOfFile(claim, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(LONG)));
    if (shared == nullptr) {
        // Unreadable: nobody can be checked, so nobody holds it; kept, so others see a claim.
        claim_ = claim;
        return true;
    }
    const auto self = static_cast<LONG>(::GetCurrentProcessId());
    LONG holder = error == ERROR_ALREADY_EXISTS ? *shared : 0;
    bool held = false;
    for (;;) {
        if (holder != 0 && RunsThisProgram(static_cast<DWORD>(holder))) {
            held = true;
            break;
        }
        const LONG seen = ::InterlockedCompareExchange(shared, self, holder);
        if (seen == holder) break;  // ours now
        holder = seen;              // another start was quicker: check that one
    }
    if (held) {
        BringToFront(static_cast<DWORD>(holder));
        ::UnmapViewOfFile(const_cast<LONG*>(shared));
        ::CloseHandle(claim);
        return false;
    }
    ::UnmapViewOfFile(const_cast<LONG*>(shared));
    claim_ = claim;  // held until the process ends
    return true;
}

void ProcessWin32::Start(const std::string& exePath, int windowStyle,
                         const std::function<void()>& letGo) {
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
    // Suspended, so that the hold is closed before the updater's first instruction: an updater
    // that opens, renames or replaces its own file at once never meets our handle.
    if (!::CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                          CREATE_SUSPENDED, nullptr, folder.c_str(), &startup, &started)) {
        ThrowLastError("CreateProcessW", exePath);
    }
    letGo();
    const bool resumed = ::ResumeThread(started.hThread) != static_cast<DWORD>(-1);
    const DWORD error = resumed ? ERROR_SUCCESS : ::GetLastError();
    // A program that cannot be let run is not left behind, suspended for ever.
    if (!resumed) ::TerminateProcess(started.hProcess, 1);
    // Not waited for: the handles are only closed.
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
    if (!resumed) throw Win32Error(error, "ResumeThread", exePath);
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
    // The shell may hand the start to extensions that are COM objects: COM is set up first, as
    // ShellExecuteExW asks (an apartment, no OLE 1 DDE). Ole32 is looked up, not imported.
    using CoInitializeExFn = HRESULT(WINAPI*)(LPVOID, DWORD);
    using CoUninitializeFn = void(WINAPI*)();
    const Module ole32 = SystemLibrary(L"ole32.dll");
    const HRESULT com = Require<CoInitializeExFn>(ole32, "CoInitializeEx")(
        nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    const BOOL started = ::ShellExecuteExW(&shell);
    const DWORD error = ::GetLastError();
    if (SUCCEEDED(com)) Require<CoUninitializeFn>(ole32, "CoUninitialize")();
    if (!started) throw Win32Error(error, "ShellExecuteExW", exePath);
}

void ProcessWin32::End(int exitCode) {
    if (window_ != nullptr) window_->Destroy();
    ::ExitProcess(static_cast<UINT>(exitCode));
}

}  // namespace gor::platform::win32
