// An in-memory file system for unit tests: files with attributes, failure injection,
// and the same rules as the real backends (rename never replaces, open never truncates).
#pragma once

#include <algorithm>
#include <cerrno>
#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <utility>

#include "platform/file_system.h"

namespace gor::test {

class MemoryFileSystem : public platform::FileSystem {
  public:
    struct Entry {
        std::string bytes;
        bool readOnly = false;
        bool hidden = false;
        bool folder = false;
    };
    std::map<std::string, Entry> entries;
    int openFiles = 0;         // files open right now
    std::string failWritesTo;  // a path whose writes fail as on a full disk
    bool failCloses = false;   // Close releases the file but reports an I/O error
    std::size_t diskSpace = static_cast<std::size_t>(-1);  // bytes any one file may hold

    bool Has(const std::string& path) const { return entries.count(path) != 0; }
    const std::string& Bytes(const std::string& path) const { return entries.at(path).bytes; }

    bool FindFile(const std::string& path, std::uint32_t mask) override {
        auto it = entries.find(path);
        if (it == entries.end()) return false;
        const Entry& e = it->second;
        if (e.folder || e.hidden) return false;
        return !e.readOnly || (mask & platform::kAttrReadOnly) != 0;
    }

    void Remove(const std::string& path) override {
        auto it = entries.find(path);
        if (it == entries.end()) Fail(ENOENT, path);
        if (it->second.readOnly || it->second.folder) Fail(EACCES, path);
        entries.erase(it);
    }

    virtual void Rename(const std::string& from, const std::string& to) {
        auto it = entries.find(from);
        if (it == entries.end()) Fail(ENOENT, from);
        if (entries.count(to)) Fail(EEXIST, to);
        Entry moved = std::move(it->second);
        entries.erase(it);
        entries[to] = std::move(moved);
    }

    std::unique_ptr<platform::File> OpenReadWrite(const std::string& path) override {
        auto it = entries.find(path);
        if (it != entries.end() && (it->second.readOnly || it->second.folder)) Fail(EACCES, path);
        entries[path];  // created empty when absent, kept when present
        return std::make_unique<MemoryFile>(*this, path);
    }

    platform::FileHead ReadHead(const std::string& path, std::size_t maxBytes) {
        auto it = entries.find(path);
        if (it == entries.end()) Fail(ENOENT, path);
        if (it->second.folder) Fail(EISDIR, path);
        const std::string& bytes = it->second.bytes;
        return {bytes.substr(0, maxBytes), bytes.size()};
    }

    // A held file follows its renames; nothing else stops other writers here.
    std::unique_ptr<platform::HeldFile> Hold(const std::string& path) override {
        ReadHead(path, 0);  // fails as opening would
        return std::make_unique<MemoryHeld>(*this, path);
    }

    [[noreturn]] static void Fail(int code, const std::string& path) {
        throw std::system_error(code, std::generic_category(), path);
    }

  private:
    class MemoryHeld : public platform::HeldFile {
      public:
        MemoryHeld(MemoryFileSystem& fs, std::string path) : fs_(fs), path_(std::move(path)) {}
        platform::FileHead ReadHead(std::size_t maxBytes) override {
            return fs_.ReadHead(path_, maxBytes);
        }
        void Rename(const std::string& fileName) override {
            const std::string to = path_.substr(0, path_.find_last_of('\\') + 1) + fileName;
            fs_.Rename(path_, to);
            path_ = to;
        }

      private:
        MemoryFileSystem& fs_;
        std::string path_;
    };

    class MemoryFile : public platform::File {
      public:
        MemoryFile(MemoryFileSystem& fs, std::string path) : fs_(fs), path_(std::move(path)) {
            ++fs_.openFiles;
        }
        ~MemoryFile() override { Close(); }
        std::uint64_t Length() override { return Data().size(); }
        std::uint64_t Position() override { return Check(), pos_; }
        void Seek(std::uint64_t offset) override { Check(), pos_ = offset; }
        void Write(std::string_view bytes) override {
            std::string& d = Data();
            if (path_ == fs_.failWritesTo || pos_ + bytes.size() > fs_.diskSpace) {
                Fail(ENOSPC, path_);
            }
            if (d.size() < pos_ + bytes.size()) d.resize(pos_ + bytes.size());
            std::copy(bytes.begin(), bytes.end(), d.begin() + static_cast<std::ptrdiff_t>(pos_));
            pos_ += bytes.size();
        }
        char ByteAt() override {
            if (pos_ >= Data().size()) Fail(ENODATA, path_);
            return Data()[pos_];
        }
        void Truncate(std::uint64_t length) override {
            std::string& d = Data();
            if (length < d.size()) d.resize(length);
        }
        void Close() override {
            if (open_) --fs_.openFiles;
            const bool wasOpen = std::exchange(open_, false);
            if (wasOpen && fs_.failCloses) Fail(EIO, path_);
        }

      private:
        void Check() const {
            if (!open_) Fail(EBADF, path_);
        }
        std::string& Data() {
            Check();
            return fs_.entries.at(path_).bytes;
        }
        MemoryFileSystem& fs_;
        std::string path_;
        std::uint64_t pos_ = 0;
        bool open_ = true;
    };
};

}  // namespace gor::test
