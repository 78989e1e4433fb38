// gorreader_probe: listens as a screen reader does and prints what it would have heard: the
// accessible name of every client object whose name changes in another process, one UTF-8
// line each, until the first program it heard ends. Its first line, "listening", says the
// listening has begun. Usage: gorreader_probe.exe
#include <windows.h>
// After windows.h, which it needs.
#include <oleacc.h>

#include <cstdio>
#include <string>

#include "utf8.h"

namespace {

HANDLE gSpeaker = nullptr;  // the first program heard: the probe ends with it

void CALLBACK Heard(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG child, DWORD, DWORD) {
    if (object != OBJID_CLIENT) return;
    IAccessible* accessible = nullptr;
    VARIANT which{};
    if (gSpeaker == nullptr) {
        DWORD process = 0;
        ::GetWindowThreadProcessId(window, &process);
        gSpeaker = ::OpenProcess(SYNCHRONIZE, FALSE, process);
    }
    if (FAILED(::AccessibleObjectFromEvent(window, object, child, &accessible, &which))) return;
    BSTR name = nullptr;
    if (accessible->get_accName(which, &name) == S_OK && name != nullptr) {
        std::printf("%s\n", ToUtf8(name).c_str());
        std::fflush(stdout);
    }
    ::SysFreeString(name);
    accessible->Release();
}

}  // namespace

int wmain() {
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const HWINEVENTHOOK hook =
        ::SetWinEventHook(EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_NAMECHANGE, nullptr, Heard, 0, 0,
                          WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS);
    if (hook == nullptr) return 1;
    std::printf("listening\n");
    std::fflush(stdout);
    // The events arrive as messages are taken from the queue.
    for (;;) {
        const DWORD waiting = gSpeaker != nullptr ? 1 : 0;
        if (::MsgWaitForMultipleObjects(waiting, &gSpeaker, FALSE, INFINITE, QS_ALLINPUT) ==
                WAIT_OBJECT_0 &&
            waiting == 1) {
            return 0;
        }
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
    }
}
