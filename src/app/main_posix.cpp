// Native entry point: the launcher on the POSIX platform layer, its window shown as
// console lines. Builds the platform objects, creates frmLaunch and runs Form_Load,
// which ends the program itself on every road.
#include <cstdio>
#include <exception>

#include "launcher/frm_launch.h"
#include "platform/posix/event_loop_posix.h"
#include "platform/posix/file_system_posix.h"
#include "platform/posix/launcher_window_posix.h"
#include "platform/posix/process_posix.h"
#include "platform/posix/system_proxy_posix.h"

namespace {

// The native build's updater is a native program: an ELF executable or a script.
gor::launcher::ImageVerdict CheckNativeProgram(std::string_view head, std::uint64_t fileSize) {
    const bool runnable = fileSize > 0 && (head.starts_with("\x7F"
                                                            "ELF") ||
                                           head.starts_with("#!"));
    return {runnable, runnable ? "a native program" : "not an ELF executable or a script"};
}

}  // namespace

int main() {
    using namespace gor::platform::posix;
    EventLoopPosix loop;
    LauncherWindowPosix window;
    FileSystemPosix files;
    ProcessPosix process;
    SystemProxyPosix proxy;
    try {
        gor::launcher::frmLaunch form(gor::launcher::LauncherPlatform{
            loop, window, files, process, CheckNativeProgram, nullptr, &proxy});
        form.Form_Load();
    } catch (const std::exception& failure) {
        // Form_Load traps its own failures; this is reached when setting up fails, or when the
        // failure handler itself fails (it has no trap).
        std::fprintf(stderr, "gorlaunch: %s\n", failure.what());
    }
    process.End(gor::launcher::kExitSetupFailed);
}
