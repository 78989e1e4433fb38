// gorbox_probe: prints the text of a visible message box, found by its title, so the
// end-to-end tests can read what the launcher told the user (X11 only shows pixels).
// Usage: gorbox_probe.exe "<title>"; prints the message text as UTF-8, exit 1 if no box.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "utf8.h"

namespace {

std::wstring TextOf(HWND window) {
    // WM_GETTEXT crosses processes for plain controls; GetWindowTextW would not.
    const LRESULT length = ::SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const LRESULT got =
        ::SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(got));
    return text;
}

BOOL CALLBACK CollectStatic(HWND child, LPARAM found) {
    wchar_t kind[32] = {};
    ::GetClassNameW(child, kind, 32);
    if (::lstrcmpiW(kind, L"Static") != 0) return TRUE;
    // The icon is a Static too, but without text: the message is the one that has some.
    std::wstring text = TextOf(child);
    if (text.empty()) return TRUE;
    *reinterpret_cast<std::wstring*>(found) = std::move(text);
    return FALSE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fputs("usage: gorbox_probe <title>\n", stderr);
        return 2;
    }
    const HWND box = ::FindWindowW(L"#32770", argv[1]);  // the dialog class of message boxes
    if (box == nullptr) return 1;
    std::wstring message;
    ::EnumChildWindows(box, CollectStatic, reinterpret_cast<LPARAM>(&message));
    const std::string out = ToUtf8(message);
    ::_setmode(::_fileno(stdout), _O_BINARY);  // keep the box's own CR LF as it is
    std::fwrite(out.data(), 1, out.size(), stdout);
    return message.empty() ? 1 : 0;
}
