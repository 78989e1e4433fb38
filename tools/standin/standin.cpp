// gorupd_standin: a stand-in for the updater in tests. It records how it was started
// (its own full path, its raw command line and its working folder, one UTF-8 line appended to
// standin.log beside it) and exits 0, so a test can tell what the launcher started and how.
// First it opens its own file as an updater does to hash or copy itself (reading, sharing
// reading only): when something still holds the file in the way, the path it records says so.
#include <windows.h>

#include <string>

#include "utf8.h"

namespace {

std::wstring ModulePath() {
    // Paths under deep or long-named folders can exceed MAX_PATH; grow until it fits.
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    const std::wstring self = ModulePath();
    const HANDLE itself = ::CreateFileW(self.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const DWORD openError = itself == INVALID_HANDLE_VALUE ? ::GetLastError() : 0;
    if (itself != INVALID_HANDLE_VALUE) ::CloseHandle(itself);
    const std::wstring::size_type slash = self.find_last_of(L"\\/");
    const std::wstring log =
        (slash == std::wstring::npos ? std::wstring() : self.substr(0, slash + 1)) + L"standin.log";

    std::wstring folder(::GetCurrentDirectoryW(0, nullptr), L'\0');
    folder.resize(::GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data()));

    // Tab separates the fields: neither a Windows path nor a command line
    // produced by the launcher contains one, and it needs no escaping.
    const std::string line =
        ToUtf8(self) +
        (openError ? " (could not open itself: error " + std::to_string(openError) + ")" : "") +
        "\t" + ToUtf8(::GetCommandLineW()) + "\t" + ToUtf8(folder) + "\n";

    const HANDLE file =
        ::CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    const BOOL ok =
        ::WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    ::CloseHandle(file);
    return ok && written == line.size() ? 0 : 1;
}
