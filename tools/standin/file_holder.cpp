// gorhold: holds a file open for a while, as a virus scanner, an indexer or a sync client
// does, so tests can see what the launcher does with a busy file.
// Usage: gorhold.exe read|write SECONDS FILE READY. "read" opens FILE for reading without
// delete sharing (it can be neither removed nor renamed), "write" for writing (it cannot be
// started). READY is created once the file is held; the file is let go after SECONDS.
#include <windows.h>

#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc != 5) return 2;
    const bool write = std::wstring(argv[1]) == L"write";
    const HANDLE held = ::CreateFileW(
        argv[3], write ? GENERIC_WRITE : GENERIC_READ,
        write ? FILE_SHARE_READ | FILE_SHARE_DELETE : FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) return 1;
    const HANDLE ready = ::CreateFileW(argv[4], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (ready == INVALID_HANDLE_VALUE) return 1;
    ::CloseHandle(ready);
    ::Sleep(static_cast<DWORD>(std::wcstod(argv[2], nullptr) * 1000));
    ::CloseHandle(held);
    return 0;
}
