// An in-memory file system for unit tests: files with attributes, failure injection,
// and the same rules as the real backends (rename never replaces, open never truncates), with
// Windows' rules where Wine does not keep them: the sharing check (DELETE included), a folder
// the player may read but not change, and a file whose deletion is pending.
#pragma once

#include <algorithm>
#include <cerrno>
#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "fakes/faults.h"
#include "platform/file_system.h"

namespace gor::test {

class MemoryFileSystem : public platform::FileSystem {
  public:
    struct Entry {
        std::string bytes;
        bool readOnly = false;
        bool hidden = false;
        bool folder = false;
        bool locked = false;         // a folder the player may read but not change
        bool deletePending = false;  // removed while open: gone with its last handle
        int links = 1;               // names that reach its bytes (hard links)
        bool reparsePoint = false;   // a link: opened itself only where it is not followed
    };
    std::map<std::string, Entry> entries;
    // What each open handle may do and lets others do (kRead, kWrite, kDelete bits), by path.
    enum : unsigned { kRead = 1, kWrite = 2, kDelete = 4 };
    struct Opening {
        std::string path;
        unsigned access, share;
    };
    std::map<int, Opening> handles;
    std::vector<std::string> holdsClosed;  // the path of each hold (Hold) closed, in order
    int openFiles = 0;                     // files open right now
    std::string failWritesTo;              // a path whose writes fail as on a full disk
    bool failCloses = false;               // Close releases the file but reports an I/O error
    std::size_t diskSpace = static_cast<std::size_t>(-1);  // bytes any one file may hold
    int writesThroughLinks = 0;  // writes and cuts of a file that a link or another name reaches

    bool Has(const std::string& path) const { return entries.count(path) != 0; }
    const std::string& Bytes(const std::string& path) const { return entries.at(path).bytes; }
    void Lock(const std::string& folder) { entries[folder] = {"", false, false, true, true}; }
    int HandlesOn(const std::string& path) const {
        int n = 0;
        for (const auto& [id, open] : handles) n += open.path == path;
        return n;
    }

    // Windows' checks of an open: a pending deletion and a locked folder refuse it (access
    // denied), and so does any handle whose share modes do not admit it, or whose access its
    // own share modes do not admit (busy).
    int Open(const std::string& path, unsigned access, unsigned share) {
        const auto it = entries.find(path);
        if (it != entries.end() && it->second.deletePending) Fail(EACCES, path);
        if ((access & (kWrite | kDelete)) && Locked(path)) Fail(EACCES, path);
        for (const auto& [id, open] : handles) {
            if (open.path == path && ((access & ~open.share) || (open.access & ~share)))
                Fail(EBUSY, path);
        }
        handles[++lastHandle_] = {path, access, share};
        return lastHandle_;
    }
    void Close(int handle) {
        const Opening closed = handles.at(handle);
        const std::string path = closed.path;
        handles.erase(handle);
        if (closed.share == kRead && !(closed.access & kWrite)) holdsClosed.push_back(path);
        const auto it = entries.find(path);
        if (it != entries.end() && it->second.deletePending && HandlesOn(path) == 0)
            entries.erase(it);
    }
    bool Locked(const std::string& path) const {
        const auto it = entries.find(path.substr(0, path.find_last_of('\\')));
        return path.find('\\') != std::string::npos && it != entries.end() && it->second.locked;
    }

    bool FindFile(const std::string& path, std::uint32_t mask) override {
        faults.Call("files.FindFile", path, std::errc::permission_denied);
        auto it = entries.find(path);
        if (it == entries.end()) return false;
        const Entry& e = it->second;
        if (e.folder || e.hidden) return false;
        return !e.readOnly || (mask & platform::kAttrReadOnly) != 0;
    }

    // As DeleteFileW: open for DELETE sharing everything, then gone with the last handle.
    void Remove(const std::string& path) override {
        faults.Call("files.Remove", path, std::errc::permission_denied);
        auto it = entries.find(path);
        if (it == entries.end()) Fail(ENOENT, path);
        if (it->second.readOnly || it->second.folder) Fail(EACCES, path);
        Close(Open(path, kDelete, kRead | kWrite | kDelete));
        if (HandlesOn(path) == 0) return (void)entries.erase(it);
        it->second.deletePending = true;
    }

    // Needs DELETE on the file (the caller's hold has it) and a folder that may be changed.
    virtual void Rename(const std::string& from, const std::string& to) {
        auto it = entries.find(from);
        if (it == entries.end()) Fail(ENOENT, from);
        if (Locked(to)) Fail(EACCES, to);
        if (entries.count(to)) Fail(EEXIST, to);
        Entry moved = std::move(it->second);
        entries.erase(it);
        entries[to] = std::move(moved);
        for (auto& [id, open] : handles) {
            if (open.path == from) open.path = to;
        }
    }

    std::unique_ptr<platform::File> OpenReadWrite(const std::string& path) override {
        faults.Call("files.OpenReadWrite", path, std::errc::device_or_resource_busy);
        auto it = entries.find(path);
        if (it != entries.end() && (it->second.readOnly || it->second.folder)) Fail(EACCES, path);
        const int handle = Open(path, kRead | kWrite, kRead);
        entries[path];  // created empty when absent, kept when present
        return std::make_unique<MemoryFile>(*this, path, handle);
    }

    // No link target is kept: the link itself opens, and IsPlainFile says what it is.
    std::unique_ptr<platform::File> OpenReadWriteNoFollow(const std::string& path) override {
        return OpenReadWrite(path);
    }

    bool IsProtected(const std::string& path) override {
        const auto it = entries.find(path);
        return it != entries.end() && !it->second.deletePending && Locked(path);
    }

    // The player's own folder, which the player may always change.
    std::string PlayerDataFolder(const std::string& name) override {
        faults.Call("files.PlayerDataFolder", name, std::errc::permission_denied);
        const std::string folder = "C:\\Users\\Player\\AppData\\Local\\" + name;
        entries[folder].folder = true;
        return folder;
    }

    platform::FileHead ReadHead(const std::string& path, std::size_t maxBytes) {
        auto it = entries.find(path);
        if (it == entries.end()) Fail(ENOENT, path);
        if (it->second.folder) Fail(EISDIR, path);
        const std::string& bytes = it->second.bytes;
        return {bytes.substr(0, maxBytes), bytes.size()};
    }

    // Reading, and DELETE for a rename, sharing reading only, from the check to the start: one
    // handle, never closed and opened again; a held file follows its renames.
    std::unique_ptr<platform::HeldFile> Hold(const std::string& path,
                                             platform::HoldFor purpose) override {
        faults.Call("files.Hold", path, std::errc::device_or_resource_busy);
        ReadHead(path, 0);  // fails as opening would
        return std::make_unique<MemoryHeld>(*this, path, purpose);
    }

    [[noreturn]] static void Fail(int code, const std::string& path) {
        throw std::system_error(code, std::generic_category(), path);
    }

  private:
    int lastHandle_ = 0;

    class MemoryHeld : public platform::HeldFile {
      public:
        MemoryHeld(MemoryFileSystem& fs, std::string path, platform::HoldFor purpose)
            : fs_(fs),
              path_(std::move(path)),
              handle_(fs_.Open(
                  path_, purpose == platform::HoldFor::Renaming ? kRead | kDelete : kRead, kRead)) {
        }
        ~MemoryHeld() override { fs_.Close(handle_); }
        platform::FileHead ReadHead(std::size_t maxBytes) override {
            faults.Call("held.ReadHead", path_, std::errc::io_error);
            return fs_.ReadHead(path_, maxBytes);
        }
        std::string ReadAt(std::uint64_t offset, std::size_t count) override {
            faults.Call("held.ReadAt", path_, std::errc::io_error);
            const std::string& bytes = fs_.entries.at(path_).bytes;
            return offset < bytes.size() ? bytes.substr(offset, count) : std::string();
        }
        // As SetFileInformationByHandle: the handle must have DELETE.
        void Rename(const std::string& fileName) override {
            const std::string to = path_.substr(0, path_.find_last_of('\\') + 1) + fileName;
            faults.Call("held.Rename", path_, std::errc::permission_denied);
            if (to == path_) return;
            if (!(fs_.handles.at(handle_).access & kDelete)) Fail(EACCES, path_);
            fs_.Rename(path_, to);
            path_ = to;
        }
        // As Rename, in place of a file there unless Windows refuses: read-only, open, locked.
        void Replace(const std::string& fileName) override {
            faults.Call("held.Replace", path_, std::errc::permission_denied);
            const std::string to = path_.substr(0, path_.find_last_of('\\') + 1) + fileName;
            const auto it = fs_.entries.find(to);
            if (it == fs_.entries.end() || to == path_) return Rename(fileName);
            const Entry& e = it->second;
            if (e.readOnly || e.folder || e.deletePending || fs_.HandlesOn(to) || fs_.Locked(to))
                Fail(EACCES, to);
            Entry replaced = std::move(it->second);
            fs_.entries.erase(it);
            try {
                Rename(fileName);
            } catch (...) {  // as it was: the replacement is one step
                fs_.entries[to] = std::move(replaced);
                throw;
            }
        }

      private:
        MemoryFileSystem& fs_;
        std::string path_;
        int handle_;
    };

    class MemoryFile : public platform::File {
      public:
        MemoryFile(MemoryFileSystem& fs, std::string path, int handle)
            : fs_(fs), path_(std::move(path)), handle_(handle) {
            ++fs_.openFiles;
        }
        ~MemoryFile() override {
            if (open_) --fs_.openFiles, fs_.Close(handle_);
        }
        std::uint64_t Length() override { return Data("file.Length").size(); }
        std::uint64_t Position() override { return Check(), pos_; }
        void Seek(std::uint64_t offset) override { Check(), pos_ = offset; }
        bool IsPlainFile() override {
            const Entry& e = (Check(), fs_.entries.at(path_));
            return e.links == 1 && !e.reparsePoint;
        }
        void Write(std::string_view bytes) override {
            std::string& d = Changed("file.Write", std::errc::no_space_on_device);
            if (path_ == fs_.failWritesTo || pos_ + bytes.size() > fs_.diskSpace) {
                Fail(ENOSPC, path_);
            }
            if (d.size() < pos_ + bytes.size()) d.resize(pos_ + bytes.size());
            std::copy(bytes.begin(), bytes.end(), d.begin() + static_cast<std::ptrdiff_t>(pos_));
            pos_ += bytes.size();
        }
        std::string ReadAt(std::uint64_t offset, std::size_t count) override {
            if (offset + count > Data().size()) Fail(ENODATA, path_);
            return Data().substr(offset, count);
        }
        void Truncate(std::uint64_t length) override {
            std::string& d = Changed("file.Truncate");
            if (length < d.size()) d.resize(length);
        }
        // Released even when it fails, as CloseHandle is.
        void Close() override {
            if (open_) --fs_.openFiles, fs_.Close(handle_);
            const bool wasOpen = std::exchange(open_, false);
            if (wasOpen) faults.Call("file.Close", path_, std::errc::io_error);
            if (wasOpen && fs_.failCloses) Fail(EIO, path_);
        }

      private:
        void Check() const {
            if (!open_) Fail(EBADF, path_);
        }
        // Data, counting a change made through a link
        std::string& Changed(const char* call, std::errc condition = std::errc::io_error) {
            std::string& d = Data(call, condition);
            fs_.writesThroughLinks += !IsPlainFile();
            return d;
        }
        std::string& Data(const char* call = "", std::errc condition = std::errc::io_error) {
            Check();
            if (*call) faults.Call(call, path_, condition);
            return fs_.entries.at(path_).bytes;
        }
        MemoryFileSystem& fs_;
        std::string path_;
        int handle_;
        std::uint64_t pos_ = 0;
        bool open_ = true;
    };
};

}  // namespace gor::test
