// Files on Win32: FindFirstFileW with the attribute-mask rules of a directory search,
// DeleteFileW, a CreateFileW handle for raw reading and writing, and one that holds an updater
// (read, renamed through SetFileInformationByHandle).
#include "platform/win32/file_system_win32.h"

#include <windows.h>

#include <algorithm>

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

    char ByteAt() override {
        const std::uint64_t position = Position();
        char byte = 0;
        DWORD read = 0;
        const BOOL ok = ::ReadFile(Handle(), &byte, 1, &read, nullptr);
        const DWORD error = ok ? (read == 1 ? ERROR_SUCCESS : ERROR_HANDLE_EOF) : ::GetLastError();
        MovePointer(position, FILE_BEGIN);
        if (error != ERROR_SUCCESS) throw Win32Error(error, "ReadFile", path_);
        return byte;
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

class HeldFileWin32 final : public HeldFile {
  public:
    HeldFileWin32(HANDLE handle, std::string path) : file_(handle, path), path_(std::move(path)) {}

    HANDLE Handle() const { return handle_; }

    FileHead ReadHead(std::size_t maxBytes) override {
        FileHead head;
        head.size = file_.Length();
        file_.Seek(0);  // the signature check may have moved the position
        head.bytes.resize(static_cast<std::size_t>(std::min<std::uint64_t>(head.size, maxBytes)));
        std::size_t got = 0;
        while (got < head.bytes.size()) {
            DWORD read = 0;
            const DWORD chunk =
                static_cast<DWORD>(std::min<std::size_t>(head.bytes.size() - got, 1u << 30));
            if (!::ReadFile(handle_, head.bytes.data() + got, chunk, &read, nullptr))
                ThrowLastError("ReadFile", path_);
            if (read == 0) break;
            got += read;
        }
        head.bytes.resize(got);
        return head;
    }

    // Through the handle, so the file renamed is the file checked; the new name is given as a
    // whole path (a bare one would count from the current folder), and an existing file of
    // that name is never replaced.
    void Rename(const std::string& fileName) override {
        const std::wstring path = Widen(path_);
        const std::wstring name = path.substr(0, path.find_last_of(L"\\/") + 1) + Widen(fileName);
        const std::size_t nameBytes = name.size() * sizeof(wchar_t);
        std::string buffer(sizeof(FILE_RENAME_INFO) + nameBytes, '\0');
        auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
        info->ReplaceIfExists = FALSE;
        info->RootDirectory = nullptr;
        info->FileNameLength = static_cast<DWORD>(nameBytes);
        name.copy(info->FileName, name.size());
        if (!::SetFileInformationByHandle(handle_, FileRenameInfo, info,
                                          static_cast<DWORD>(buffer.size())))
            ThrowLastError("SetFileInformationByHandle (rename)", path_, Narrow(name));
    }

  private:
    FileWin32 file_;  // owns and closes the handle
    HANDLE handle_ = file_.Handle();
    std::string path_;
};

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

std::unique_ptr<File> FileSystemWin32::OpenReadWrite(const std::string& path) {
    const HANDLE handle =
        ::CreateFileW(Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) ThrowLastError("CreateFileW", path);
    try {
        return std::make_unique<FileWin32>(handle, path);
    } catch (...) {
        ::CloseHandle(handle);
        throw;
    }
}

// Reading and renaming (DELETE) for us, reading only for others: while it is held, nobody can
// write, rename or remove the file, yet a program start, which opens it to read, can.
std::unique_ptr<HeldFile> FileSystemWin32::Hold(const std::string& path) {
    const HANDLE handle = ::CreateFileW(Widen(path).c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) ThrowLastError("CreateFileW", path);
    try {
        return std::make_unique<HeldFileWin32>(handle, path);
    } catch (...) {
        ::CloseHandle(handle);
        throw;
    }
}

void* HandleOf(HeldFile& file) {
    return static_cast<HeldFileWin32&>(file).Handle();
}

}  // namespace gor::platform::win32
