// Windows entry point of gorlaunch.exe: starts WinSock, builds the Win32 platform objects,
// creates frmLaunch and runs Form_Load, which ends the program itself on every road.
#include <windows.h>

#include <cstdint>
#include <exception>
#include <memory>

#include "launcher/frm_launch.h"
#include "platform/win32/event_loop_win32.h"
#include "platform/win32/file_system_win32.h"
#include "platform/win32/launcher_window_win32.h"
#include "platform/win32/process_win32.h"
#include "platform/win32/signatures_win32.h"
#include "platform/win32/socket_control_win32.h"
#include "platform/win32/system_library.h"
#include "platform/win32/system_proxy_win32.h"

// An exception no handler takes, or one leaving a function that must not throw, ends the
// program through the runtime's terminate handler. Its default writes the exception's
// demangled type to stderr, which a GUI program does not have, and links a C++ demangler
// into the exe for that; this one ends the program as a failed setting up does below.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
    ::ExitProcess(gor::launcher::kExitSetupFailed);
}
}  // namespace __gnu_cxx

namespace {

// DLLs loaded by name (the shell behind ShellExecuteExW, crypt32's helpers) come from the
// system folder only, never from the launcher's own (a downloads folder may hold a planted
// one). SetDefaultDllDirectories exists from Windows 8 (7 with an update) and is looked up;
// without it, SetDllDirectoryW(L"") at least takes the current folder out of the search.
void SystemDllsFromTheSystemFolder() {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const auto setDefault = gor::platform::win32::FindFunction<SetDefaultDllDirectoriesFn>(
        gor::platform::win32::LoadedModule(L"kernel32.dll"), "SetDefaultDllDirectories");
    if (!setDefault || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) ::SetDllDirectoryW(L"");
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    SystemDllsFromTheSystemFolder();
    using namespace gor::platform::win32;
    // The program takes no arguments and reads no settings but the user's proxy: everything
    // else it needs is built in.
    try {
        WinsockSession winsock;
        EventLoopWin32 loop;
        LauncherWindowWin32 window;
        FileSystemWin32 files;
        ProcessWin32 process(&window);
        SystemProxyWin32 proxy(loop);
        std::shared_ptr<gor::launcher::PublisherCheck> publisher;
#ifdef GORLAUNCH_PUBLISHER
        // Built with a publisher pin (cmake/publisher.cmake), and maybe a floor under the
        // updater's version; without a pin, nothing of the signature check is linked.
#ifdef GORLAUNCH_MIN_UPDATER_VERSION
        constexpr std::uint64_t kMinimumVersion =
            gor::launcher::FileVersion(GORLAUNCH_MIN_UPDATER_VERSION);
#else
        constexpr std::uint64_t kMinimumVersion = 0;
#endif
        // The check may run on a helper thread: it shares its own keeping with the form.
        struct Pinned {
            SignaturesWin32 signatures;
            gor::launcher::PinnedPublisher check{GORLAUNCH_PUBLISHER, kMinimumVersion, signatures};
        };
        const auto pinned = std::make_shared<Pinned>();
        publisher = std::shared_ptr<gor::launcher::PublisherCheck>(pinned, &pinned->check);
#endif
        gor::launcher::frmLaunch form(gor::launcher::LauncherPlatform{
            loop, window, files, process, gor::launcher::CheckExecutableImage, publisher, &proxy});
        form.Form_Load();  // never returns
    } catch (...) {
        // Form_Load traps its own failures; reaching this is a fault in setting up (no window,
        // no WinSock) or in the failure handler itself. There is nobody left to tell, so end
        // quietly with the code of its own.
    }
    ::ExitProcess(gor::launcher::kExitSetupFailed);
}
