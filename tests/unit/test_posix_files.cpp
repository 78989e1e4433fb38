// The native file system on real files: which files the attribute masks find, a rename that
// never replaces, a replacement, opening that never truncates, and errors that name their path.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/posix/file_system_posix.h"
#include "scratch_dir.h"

namespace gor::platform::posix {
namespace {

using ::testing::HasSubstr;

class FileSystemPosixTest : public ::testing::Test {
  protected:
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    std::string Put(const std::string& name, const std::string& bytes) {
        std::ofstream(Path(name), std::ios::binary) << bytes;
        return Path(name);
    }
    std::string Bytes(const std::string& path) const {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    gor::test::ScratchDir scratch_;
    const std::string& dir_ = scratch_.path();
    FileSystemPosix files;
};

TEST_F(FileSystemPosixTest, MasksFindOrdinaryAndReadOnlyFilesButNeverHiddenOrFolders) {
    const auto ordinary = Put("gorupd.exe", "x");
    const auto readOnly = Put("gorupd.new", "y");
    ::chmod(readOnly.c_str(), 0444);  // read-only by its mode, even for root
    const auto hidden = Put(".gorupd.exe", "z");
    std::filesystem::create_directory(Path("folder"));

    EXPECT_TRUE(files.FindFile(ordinary, kAttrNormal));
    EXPECT_TRUE(files.FindFile(ordinary, kAttrReadOnly));
    EXPECT_FALSE(files.FindFile(readOnly, kAttrNormal));
    EXPECT_TRUE(files.FindFile(readOnly, kAttrReadOnly));
    EXPECT_FALSE(files.FindFile(hidden, kAttrReadOnly));
    EXPECT_FALSE(files.FindFile(Path("folder"), kAttrReadOnly));
    EXPECT_FALSE(files.FindFile(Path("absent"), kAttrReadOnly));
    EXPECT_FALSE(files.FindFile(ordinary + "/below", kAttrReadOnly));
    EXPECT_FALSE(files.FindFile("/dev/null", kAttrReadOnly));  // a device is no file
    // A folder and a name joined the Windows way work as well.
    EXPECT_TRUE(files.FindFile(dir_ + "\\gorupd.exe", kAttrNormal));
}

TEST_F(FileSystemPosixTest, RenameNeverReplacesAnExistingFile) {
    const auto from = Put("gorupd.new", "new");
    const auto to = Put("gorupd.exe", "old");
    const auto held = files.Hold(from, HoldFor::Renaming);
    EXPECT_THROW(held->Rename("gorupd.exe"), std::system_error);
    EXPECT_EQ(Bytes(from), "new");
    EXPECT_EQ(Bytes(to), "old");

    files.Remove(to);
    held->Rename("gorupd.exe");
    EXPECT_EQ(Bytes(to), "new");
    EXPECT_FALSE(std::filesystem::exists(from));
    EXPECT_EQ(held->ReadHead(2).bytes, "ne");
    EXPECT_EQ(held->ReadAt(1, 10) + held->ReadAt(3, 1), "ew");  // fewer, then none, at the end
    EXPECT_THROW(files.Hold(from, HoldFor::Renaming), std::system_error);

    // A replacement takes the name in one step, but never from a read-only file.
    const auto newer = files.Hold(Put("gorupd.new", "newer"), HoldFor::Renaming);
    ::chmod(to.c_str(), 0444);
    EXPECT_THROW(newer->Replace("gorupd.exe"), std::system_error);
    ::chmod(to.c_str(), 0644);
    newer->Replace("gorupd.exe");
    EXPECT_EQ(Bytes(to), "newer");
}

TEST_F(FileSystemPosixTest, OpenKeepsContentAndWritesAtItsOwnPosition) {
    const auto path = Put("gorupd.tmp", "abcdef");
    auto file = files.OpenReadWrite(path);
    EXPECT_EQ(file->Length(), 6u);
    EXPECT_EQ(file->Position(), 0u);
    file->Seek(5);
    file->Write("FGH");
    EXPECT_EQ(file->Position(), 8u);
    file->Seek(1);
    file->Write("B");
    file->Close();
    file->Close();  // closing twice is harmless
    EXPECT_EQ(Bytes(path), "aBcdeFGH");

    auto again = files.OpenReadWrite(path);
    EXPECT_EQ(again->Length(), 8u);
    again->Truncate(3);
    EXPECT_EQ(again->Length(), 3u);
    EXPECT_THROW(files.OpenReadWrite(dir_), std::system_error);  // a folder

    // A new file is created empty, and can be started like any file on Windows.
    auto fresh = files.OpenReadWrite(Path("gorupd.exe"));
    EXPECT_EQ(fresh->Length(), 0u);
    struct stat st;
    ASSERT_EQ(::stat(Path("gorupd.exe").c_str(), &st), 0);
    EXPECT_NE(st.st_mode & S_IXUSR, 0u);
}

TEST_F(FileSystemPosixTest, FailuresAreSystemErrorsNamingThePath) {
    try {
        files.Remove(Path("absent"));
        FAIL() << "removing an absent file must throw";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code().value(), ENOENT);
        EXPECT_THAT(e.what(), HasSubstr(Path("absent")));
        EXPECT_THAT(e.what(), HasSubstr("No such file or directory"));
    }

    auto full = files.OpenReadWrite("/dev/full");
    try {
        full->Write("body bytes");
        FAIL() << "writing to a full device must throw";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code().value(), ENOSPC);
        EXPECT_THAT(e.what(), HasSubstr("write '/dev/full': No space left on device"));
    }
}

}  // namespace
}  // namespace gor::platform::posix
