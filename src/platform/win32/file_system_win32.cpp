// Files on Win32: FindFirstFileW with the attribute-mask rules of a directory search,
// DeleteFileW, a CreateFileW handle for raw reading and writing, one that holds an updater
// from its check to its start (read, renamed through SetFileInformationByHandle), and whether
// permissions keep a file.
#include "platform/win32/file_system_win32.h"

#include <windows.h>
// After windows.h, which it needs.
#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>

#include "platform/win32/system_library.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/win32_error.h"

namespace gor::platform::win32 {
namespace {

// Whether a directory search with `mask` admits a file with `attributes`. Ordinary files
// (normal, archive, compressed, not indexed, ...) always pass; read-only ones only with the
// read-only bit of the mask; hidden and system files and folders never.
bool Admits(DWORD attributes, std::uint32_t mask) {
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))
        return false;
    if ((attributes & FILE_ATTRIBUTE_READONLY) && !(mask & kAttrReadOnly)) return false;
    return true;
}

class FileWin32 final : public File {
  public:
    FileWin32(HANDLE handle, std::string path) : handle_(handle), path_(std::move(path)) {}
    ~FileWin32() override {
        if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
    }

    std::uint64_t Length() override {
        LARGE_INTEGER size;
        if (!::GetFileSizeEx(Handle(), &size)) ThrowLastError("GetFileSizeEx", path_);
        return static_cast<std::uint64_t>(size.QuadPart);
    }

    std::uint64_t Position() override { return MovePointer(0, FILE_CURRENT); }

    void Seek(std::uint64_t offset) override { MovePointer(offset, FILE_BEGIN); }

    void Write(std::string_view bytes) override {
        // WriteFile takes a DWORD count and may write less than asked: loop until all is out.
        while (!bytes.empty()) {
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
            DWORD written = 0;
            if (!::WriteFile(Handle(), bytes.data(), chunk, &written, nullptr))
                ThrowLastError("WriteFile", path_);
            if (written == 0) throw Win32Error(ERROR_WRITE_FAULT, "WriteFile", path_);
            bytes.remove_prefix(written);
        }
    }

    std::string ReadAt(std::uint64_t offset, std::size_t count) override {
        const std::uint64_t position = Position();
        MovePointer(offset, FILE_BEGIN);
        std::string bytes(count, '\0');
        DWORD error = ERROR_SUCCESS;
        for (std::size_t done = 0; done < count && error == ERROR_SUCCESS;) {
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count - done, 1u << 30));
            DWORD read = 0;
            if (!::ReadFile(Handle(), bytes.data() + done, chunk, &read, nullptr))
                error = ::GetLastError();
            else if (read == 0)
                error = ERROR_HANDLE_EOF;
            done += read;
        }
        MovePointer(position, FILE_BEGIN);
        if (error != ERROR_SUCCESS) throw Win32Error(error, "ReadFile", path_);
        return bytes;
    }

    void Truncate(std::uint64_t length) override {
        // SetEndOfFile cuts at the file pointer, so move there and back again.
        const std::uint64_t position = Position();
        MovePointer(length, FILE_BEGIN);
        if (!::SetEndOfFile(handle_)) {
            const DWORD error = ::GetLastError();
            MovePointer(position, FILE_BEGIN);
            throw Win32Error(error, "SetEndOfFile", path_);
        }
        MovePointer(position, FILE_BEGIN);
    }

    // The handle's own file: opened without following a link, a link shows as a reparse point.
    bool IsPlainFile() override {
        BY_HANDLE_FILE_INFORMATION info;
        if (!::GetFileInformationByHandle(Handle(), &info))
            ThrowLastError("GetFileInformationByHandle", path_);
        return info.nNumberOfLinks == 1 &&
               (info.dwFileAttributes &
                (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0;
    }

    void Close() override {
        const HANDLE handle = Handle();
        handle_ = INVALID_HANDLE_VALUE;
        if (!::CloseHandle(handle)) ThrowLastError("CloseHandle", path_);
    }

    HANDLE Handle() const {
        if (handle_ == INVALID_HANDLE_VALUE)
            throw Win32Error(ERROR_INVALID_HANDLE, "closed file", path_);
        return handle_;
    }

  private:
    std::uint64_t MovePointer(std::uint64_t offset, DWORD method) {
        LARGE_INTEGER distance;
        distance.QuadPart = static_cast<LONGLONG>(offset);
        LARGE_INTEGER result;
        if (!::SetFilePointerEx(Handle(), distance, &result, method))
            ThrowLastError("SetFilePointerEx", path_);
        return static_cast<std::uint64_t>(result.QuadPart);
    }

    HANDLE handle_;
    std::string path_;
};

// How a held updater is opened: reading for us, reading only for others, so nobody can write,
// rename or remove it meanwhile, yet a program start, a scanner or the updater itself may read
// it. Removal (DELETE) is asked only where a rename follows: a player may lack it (a game under
// Program Files), and it would refuse every other opener that does not share removal. A program
// start shares removal, so the updater starts while it is held either way.
HANDLE OpenHeld(const std::wstring& path, HoldFor purpose) {
    const DWORD access = GENERIC_READ | (purpose == HoldFor::Renaming ? DELETE : 0);
    return ::CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
}

// One handle from the check to the start: the rename goes through it and it is never closed
// and opened again, so nobody can step in between.
class HeldFileWin32 final : public HeldFile {
  public:
    HeldFileWin32(HANDLE handle, std::string path) : handle_(handle), path_(std::move(path)) {}
    ~HeldFileWin32() override { ::CloseHandle(handle_); }
    HeldFileWin32(const HeldFileWin32&) = delete;
    HeldFileWin32& operator=(const HeldFileWin32&) = delete;

    HANDLE Handle() const { return handle_; }

    FileHead ReadHead(std::size_t maxBytes) override {
        LARGE_INTEGER size;
        if (!::GetFileSizeEx(handle_, &size)) ThrowLastError("GetFileSizeEx", path_);
        const auto bytes = static_cast<std::uint64_t>(size.QuadPart);
        return {ReadAt(0, static_cast<std::size_t>(std::min<std::uint64_t>(bytes, maxBytes))),
                bytes};
    }

    // Each read names its offset (the signature check moves the position as it pleases); at
    // the end of the file a synchronous ReadFile reads nothing and succeeds.
    std::string ReadAt(std::uint64_t offset, std::size_t count) override {
        std::string bytes(count, '\0');
        std::size_t got = 0;
        while (got < count) {
            OVERLAPPED at{};
            at.Offset = static_cast<DWORD>(offset + got);
            at.OffsetHigh = static_cast<DWORD>((offset + got) >> 32);
            DWORD read = 0;
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count - got, 1u << 30));
            if (!::ReadFile(handle_, bytes.data() + got, chunk, &read, &at)) {
                if (::GetLastError() == ERROR_HANDLE_EOF) break;
                ThrowLastError("ReadFile", path_);
            }
            if (read == 0) break;
            got += read;
        }
        bytes.resize(got);
        return bytes;
    }

    void Rename(const std::string& fileName) override { RenameTo(fileName, FALSE); }
    // A read-only file is refused by Windows (only FileRenameInfoEx may ignore the attribute);
    // it is refused here too, where the attribute lives only in permission bits (Wine).
    void Replace(const std::string& fileName) override {
        const std::wstring path = Widen(path_);
        const std::wstring target = path.substr(0, path.find_last_of(L"\\/") + 1) + Widen(fileName);
        const DWORD attributes = ::GetFileAttributesW(target.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
            throw Win32Error(ERROR_ACCESS_DENIED, "SetFileInformationByHandle (replace)", path_);
        RenameTo(fileName, TRUE);
    }

  private:
    // Through the handle, so the file renamed is the file checked; the new name is given as a
    // whole path (a bare one would count from the current folder), and an existing file of
    // that name is replaced only when asked. A handle without DELETE is refused by Windows.
    void RenameTo(const std::string& fileName, BOOLEAN replace) {
        const std::wstring path = Widen(path_);
        const std::wstring folder = path.substr(0, path.find_last_of(L"\\/") + 1);
        if (path.substr(folder.size()) == Widen(fileName)) return;  // renamed already
        const std::wstring name = folder + Widen(fileName);
        const std::size_t nameBytes = name.size() * sizeof(wchar_t);
        std::string buffer(sizeof(FILE_RENAME_INFO) + nameBytes, '\0');
        auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
        info->ReplaceIfExists = replace;
        info->RootDirectory = nullptr;
        info->FileNameLength = static_cast<DWORD>(nameBytes);
        name.copy(info->FileName, name.size());
        if (!::SetFileInformationByHandle(handle_, FileRenameInfo, info,
                                          static_cast<DWORD>(buffer.size())))
            ThrowLastError("SetFileInformationByHandle (rename)", path_, Narrow(name));
        path_ = Narrow(name);
    }

    HANDLE handle_;
    std::string path_;
};

// A new handle in the object that owns it; the handle is closed should that object not come.
template <class Owner>
std::unique_ptr<Owner> Owned(HANDLE handle, const std::string& path) {
    try {
        return std::make_unique<Owner>(handle, path);
    } catch (...) {
        ::CloseHandle(handle);
        throw;
    }
}

}  // namespace

bool FileSystemWin32::FindFile(const std::string& path, std::uint32_t attributeMask) {
    const std::wstring widePath = Widen(path);
    WIN32_FIND_DATAW found;
    const HANDLE search = ::FindFirstFileExW(widePath.c_str(), FindExInfoStandard, &found,
                                             FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        // "Nothing there" in its several spellings is an answer, not a failure.
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
            error == ERROR_NO_MORE_FILES) {
            return false;
        }
        throw Win32Error(error, "FindFirstFileExW", path);
    }
    // A search yields the first entry its mask admits, so keep looking past hidden ones.
    bool admitted = Admits(found.dwFileAttributes, attributeMask);
    while (!admitted && ::FindNextFileW(search, &found)) {
        admitted = Admits(found.dwFileAttributes, attributeMask);
    }
    const DWORD error = admitted ? ERROR_SUCCESS : ::GetLastError();
    ::FindClose(search);
    if (!admitted && error != ERROR_NO_MORE_FILES) throw Win32Error(error, "FindNextFileW", path);
    return admitted;
}

void FileSystemWin32::Remove(const std::string& path) {
    if (!::DeleteFileW(Widen(path).c_str())) ThrowLastError("DeleteFileW", path);
}

namespace {

std::unique_ptr<File> OpenFile(const std::string& path, DWORD flags) {
    const HANDLE handle =
        ::CreateFileW(Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) ThrowLastError("CreateFileW", path);
    return Owned<FileWin32>(handle, path);
}

}  // namespace

std::unique_ptr<File> FileSystemWin32::OpenReadWrite(const std::string& path) {
    return OpenFile(path, 0);
}

std::unique_ptr<File> FileSystemWin32::OpenReadWriteNoFollow(const std::string& path) {
    return OpenFile(path, FILE_FLAG_OPEN_REPARSE_POINT);
}

std::unique_ptr<HeldFile> FileSystemWin32::Hold(const std::string& path, HoldFor purpose) {
    const HANDLE handle = OpenHeld(Widen(path), purpose);
    if (handle == INVALID_HANDLE_VALUE) ThrowLastError("CreateFileW", path);
    return Owned<HeldFileWin32>(handle, path);
}

// Anyone may open a file to read its attributes (FILE_READ_ATTRIBUTES comes with listing its
// folder), except one whose deletion is pending, which opens for nothing and will be gone
// soon. One that opens so but not for removal (DELETE, everything shared, so no other opener
// is in the way) is kept by permissions: its own, or its folder's lack of FILE_DELETE_CHILD.
// A program still closing opens for removal: only its removal fails, while it runs.
bool FileSystemWin32::IsProtected(const std::string& path) {
    const std::wstring widePath = Widen(path);
    const auto opens = [&](DWORD access) {
        const HANDLE handle = ::CreateFileW(widePath.c_str(), access,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        const DWORD error = handle == INVALID_HANDLE_VALUE ? ::GetLastError() : ERROR_SUCCESS;
        if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
        return error;
    };
    return opens(FILE_READ_ATTRIBUTES) == ERROR_SUCCESS && opens(DELETE) == ERROR_ACCESS_DENIED;
}

// Shell32 is imported already (for the shell's start); ole32, whose allocator the path comes
// from, is looked up, not imported.
std::string FileSystemWin32::PlayerDataFolder(const std::string& name) {
    PWSTR local = nullptr;
    const HRESULT found = ::SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &local);
    const std::wstring folder = SUCCEEDED(found) ? std::wstring(local) + L"\\" + Widen(name) : L"";
    // Freed whether the call succeeded or not, as the shell asks.
    using CoTaskMemFreeFn = void(WINAPI*)(LPVOID);
    Require<CoTaskMemFreeFn>(SystemLibrary(L"ole32.dll"), "CoTaskMemFree")(local);
    if (FAILED(found)) throw Win32Error(HRESULT_CODE(found), "SHGetKnownFolderPath");
    if (!::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
        ThrowLastError("CreateDirectoryW", Narrow(folder));
    return Narrow(folder);
}

void* HandleOf(HeldFile& file) {
    return static_cast<HeldFileWin32&>(file).Handle();
}

}  // namespace gor::platform::win32
