// Tests of the Win32 platform layer, run under Wine: the directory search's attribute
// masks and file operations on awkward (non-ASCII, spaced, &()%!) paths, the program's
// folder and the quoted process start, the event loop's waiting, timers and
// failure hand-back, the launcher window's picture, size and region, and the updater's image
// check on the real images of this build.
// Usage: test_platform_win32 <scratch folder> <launcher.bmp> [images to check...]. When started
// under the name gorupd.exe or my.exe it is the child of the process-start test instead: it notes
// its command line.
#include <gtest/gtest.h>
#include <windows.h>
// aclapi.h needs windows.h before it.
#include <aclapi.h>
#include <oleacc.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "bitmap.h"
#include "launcher/shape_form.h"
#include "launcher/trust/executable_image.h"
#include "platform/win32/event_loop_win32.h"
#include "platform/win32/file_system_win32.h"
#include "platform/win32/launcher_window_win32.h"
#include "platform/win32/process_win32.h"
#include "platform/win32/region_win32.h"
#include "platform/win32/signatures_win32.h"
#include "platform/win32/system_proxy_win32.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/win32_error.h"
#include "window/layout.h"
#include "window/scaling.h"

namespace {

using namespace gor::platform;
using namespace gor::platform::win32;
using gor::window::Pixels;

// What the command line names (see wmain): the scratch folder, the launcher picture and the
// images of this build for the image check.
std::string gRoot, gPicture;
std::vector<std::string> gImages;

template <class Action>
bool ThrowsSystemError(Action action) {
    try {
        action();
    } catch (const std::system_error& e) {
        return std::string(e.what()).size() > 10;  // a readable message, not just a number
    }
    return false;
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    FileSystemWin32 files;
    auto file = files.OpenReadWrite(path);
    file->Write(bytes);
    file->Close();
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(Widen(path).c_str(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Awkward folder names: spaces, shell metacharacters, Cyrillic and Chinese.
const char* const kAwkwardFolders[] = {
    "plain", "with space & (brackets) 100% !bang",
    "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82",    // Привет
    "\xE6\xB8\xB8\xE6\x88\x8F \xE6\x96\x87\xE4\xBB\xB6"};  // 游戏 文件

TEST(Win32Files, DirectorySearchMasksOnAwkwardPaths) {
    const std::string& root = gRoot;
    FileSystemWin32 files;
    for (const char* folderName : kAwkwardFolders) {
        const std::string folder = root + "\\" + folderName;
        ::CreateDirectoryW(Widen(folder).c_str(), nullptr);
        const std::string ordinary = folder + "\\gorupd.exe";
        const std::string readOnly = folder + "\\readonly.exe";
        const std::string hidden = folder + "\\hidden.exe";
        const std::string system = folder + "\\system.exe";
        for (const auto& path : {ordinary, readOnly, hidden, system}) WriteFileBytes(path, "MZ");
        ::SetFileAttributesW(Widen(readOnly).c_str(), FILE_ATTRIBUTE_READONLY);
        ::SetFileAttributesW(Widen(hidden).c_str(), FILE_ATTRIBUTE_HIDDEN);
        ::SetFileAttributesW(Widen(system).c_str(), FILE_ATTRIBUTE_SYSTEM);

        EXPECT_TRUE(files.FindFile(ordinary, kAttrNormal));
        EXPECT_TRUE(files.FindFile(ordinary, kAttrReadOnly));
        EXPECT_TRUE(!files.FindFile(readOnly, kAttrNormal));
        EXPECT_TRUE(files.FindFile(readOnly, kAttrReadOnly));
        EXPECT_TRUE(!files.FindFile(hidden, kAttrReadOnly));
        EXPECT_TRUE(!files.FindFile(system, kAttrReadOnly));
        EXPECT_TRUE(!files.FindFile(folder, kAttrReadOnly));  // a folder is never a file
        EXPECT_TRUE(!files.FindFile(folder + "\\gorupd.new", kAttrReadOnly));
        EXPECT_TRUE(!files.FindFile(folder + "\\no such folder\\gorupd.exe", kAttrReadOnly));

        for (const auto& path : {readOnly, hidden, system}) {
            ::SetFileAttributesW(Widen(path).c_str(), FILE_ATTRIBUTE_NORMAL);
            files.Remove(path);
        }
    }
}

TEST(Win32Files, RenameAndRemove) {
    const std::string& root = gRoot;
    FileSystemWin32 files;
    for (const char* folderName : kAwkwardFolders) {
        const std::string folder = root + "\\" + folderName;
        const std::string exe = folder + "\\gorupd.exe";
        const std::string fresh = folder + "\\gorupd.new";
        WriteFileBytes(fresh, "new updater");
        {
            // Held: renamed through the hold, never over an existing file; nobody else may
            // write or remove it meanwhile.
            const auto held = files.Hold(fresh, HoldFor::Renaming);
            EXPECT_TRUE(ThrowsSystemError([&] { held->Rename("gorupd.exe"); }));
            EXPECT_TRUE(ThrowsSystemError([&] { files.Remove(fresh); }));
            EXPECT_TRUE(ThrowsSystemError([&] { files.OpenReadWrite(fresh); }));
            files.Remove(exe);
            EXPECT_TRUE(!files.FindFile(exe, kAttrNormal));
            held->Rename("gorupd.exe");
            EXPECT_TRUE(held->ReadHead(100).bytes == "new updater");
        }
        EXPECT_TRUE(files.FindFile(exe, kAttrNormal));
        EXPECT_TRUE(!files.FindFile(fresh, kAttrNormal));
        EXPECT_TRUE(ReadWholeFile(exe) == "new updater");
        // A vanished file to hold and a missing file to remove both fail loudly.
        EXPECT_TRUE(ThrowsSystemError([&] { files.Hold(fresh, HoldFor::Renaming); }));
        EXPECT_TRUE(ThrowsSystemError([&] { files.Remove(fresh); }));
    }
    // A read-only file cannot be removed.
    const std::string locked = root + "\\locked.exe";
    WriteFileBytes(locked, "x");
    ::SetFileAttributesW(Widen(locked).c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(ThrowsSystemError([&] { files.Remove(locked); }));
    ::SetFileAttributesW(Widen(locked).c_str(), FILE_ATTRIBUTE_NORMAL);
    files.Remove(locked);
}

TEST(Win32Files, ReadWriteFile) {
    const std::string& root = gRoot;
    FileSystemWin32 files;
    const std::string path = root + "\\" + kAwkwardFolders[1] + "\\body.bin";
    std::string bytes;
    for (int i = 0; i < 300; ++i) bytes += static_cast<char>(i);  // every byte value, NULs included
    {
        auto file = files.OpenReadWrite(path);
        EXPECT_TRUE(file->Length() == 0);
        EXPECT_TRUE(file->Position() == 0);
        file->Write(bytes);
        EXPECT_TRUE(file->Position() == 300);
        EXPECT_TRUE(file->Length() == 300);
    }  // destruction closes
    {
        // Opening again keeps the content; writing in the middle overwrites without shortening.
        auto file = files.OpenReadWrite(path);
        EXPECT_TRUE(file->Length() == 300);
        EXPECT_TRUE(file->Position() == 0);
        file->Seek(10);
        file->Write("abc");
        EXPECT_TRUE(file->Position() == 13);
        file->Truncate(100);
        EXPECT_TRUE(file->Length() == 100);
        EXPECT_TRUE(file->Position() == 13);  // truncating leaves the position alone
        file->Seek(file->Length());
        file->Write("end");
        file->Close();
        EXPECT_TRUE(ThrowsSystemError([&] { file->Write("after close"); }));
    }
    std::string expected = bytes.substr(0, 100);
    expected.replace(10, 3, "abc");
    EXPECT_TRUE(ReadWholeFile(path) == expected + "end");
    {
        // A file open for writing cannot be held: busy, which the launcher waits for.
        auto writer = files.OpenReadWrite(path);
        try {
            files.Hold(path, HoldFor::Reading);
            ADD_FAILURE() << "held a file open for writing";
        } catch (const std::system_error& busy) {
            EXPECT_TRUE(busy.code() == std::errc::device_or_resource_busy) << busy.what();
        }
    }
    {
        const auto held =
            files.Hold(path, HoldFor::Reading);  // reading its head leaves it as it is
        const FileHead head = held->ReadHead(20);
        EXPECT_TRUE(head.bytes == expected.substr(0, 20) && head.size == 103);
        EXPECT_TRUE(held->ReadHead(1000).bytes == expected + "end");
        EXPECT_TRUE(held->ReadAt(101, 10) == "nd" && held->ReadAt(200, 10).empty());  // the end
    }
    files.Remove(path);
    EXPECT_TRUE(
        ThrowsSystemError([&] { files.Hold(path, HoldFor::Reading); }));  // and never creates one
    EXPECT_TRUE(!files.FindFile(path, kAttrNormal));
}

// The updater's image check on real images built by this project: whole, they pass; cut
// anywhere before the padding that ends their last section, they fail.
TEST(Win32ImageCheck, RealImagesOfThisBuild) {
    const std::vector<std::string>& images = gImages;
    FileSystemWin32 files;
    for (const std::string& path : images) {
        const FileHead head =
            files.Hold(path, HoldFor::Reading)->ReadHead(gor::launcher::kImageHeadBytes);
        const auto verdict = gor::launcher::CheckExecutableImage(head.bytes, head.size);
        EXPECT_TRUE(verdict.whole) << path << ": " << verdict.reason;
        const std::uint64_t padding = 512;  // the file alignment of these images
        for (std::uint64_t k = 0; k < 256; ++k) {
            const std::uint64_t cut = k * (head.size - padding) / 256;
            const std::string_view cutHead = std::string_view(head.bytes).substr(0, cut);
            EXPECT_TRUE(!gor::launcher::CheckExecutableImage(cutHead, cut).whole);
        }
    }
}

// Only the file's content gives a verdict: "no signature" only when the last error agrees (else
// the file could not be read), a damaged signature always.
TEST(Win32Signatures, VerdictsOnTheContentOnly) {
    const struct {
        std::uint32_t status, lastError;
        bool verdict;
    } cases[] = {
        {0, 0, true},
        {0x800B0100, 0x800B0100, true},  // TRUST_E_NOSIGNATURE, and the last error agrees
        {0x800B0100, 0x800B0003, true},  // ... no form of signature Windows knows
        {0x800B0100, ERROR_SHARING_VIOLATION, false},  // ... the file could not be read
        {0x800B0100, 0x80092003, false},               // ... CRYPT_E_FILE_ERROR
        {0x80096011, 0, true},                         // TRUST_E_MALFORMED_SIGNATURE
        {0x80093102, 0, true},   // CRYPT_E_ASN1_EOD: the signature is cut short
        {0x80093106, 0, false},  // CRYPT_E_ASN1_MEMORY
        {0x80096001, 0, false},  // TRUST_E_SYSTEM_ERROR
        // TRUST_E_NOSIGNATURE over CRYPT_E_ASN1_BADTAG: a damaged signature
        {0x800B0100, 0x8009310B, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsFinding(c.status, c.lastError), c.verdict)
            << std::hex << c.status << " " << c.lastError;
    }
}

std::wstring ModulePath() {
    std::wstring path(32768, L'\0');
    path.resize(::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path;
}

// The process-start test's child: notes how it was started beside itself.
int RunAsChild() {
    const std::string folder = Narrow(FolderOf(ModulePath()));
    std::ofstream out(Widen(folder + "\\started.txt").c_str(), std::ios::binary | std::ios::app);
    out << Narrow(ModulePath()) << "|" << Narrow(::GetCommandLineW()) << "\n";
    return 0;
}

TEST(Win32Process, FolderAndQuotedStart) {
    const std::string& root = gRoot;
    EXPECT_TRUE(FolderOf(L"C:\\Games\\Gorvik\\gorlaunch.exe") == L"C:\\Games\\Gorvik");
    EXPECT_TRUE(FolderOf(L"C:\\gorlaunch.exe") == L"C:\\");
    EXPECT_TRUE(FolderOf(L"\\\\server\\share\\gorlaunch.exe") == L"\\\\server\\share");

    ProcessWin32 process;
    EXPECT_TRUE(Widen(process.AppPath()) == FolderOf(ModulePath()));

    // "<root>\my dir\gorupd.exe" unquoted would start "<root>\my.exe" first: plant that decoy.
    const std::string spaced = root + "\\my dir";
    const std::wstring self = ModulePath();
    ::CreateDirectoryW(Widen(spaced).c_str(), nullptr);
    EXPECT_TRUE(::CopyFileW(self.c_str(), Widen(spaced + "\\gorupd.exe").c_str(), FALSE));
    EXPECT_TRUE(::CopyFileW(self.c_str(), Widen(root + "\\my.exe").c_str(), FALSE));
    // Started while held for its rename, as on the patch road: the start shares removal.
    FileSystemWin32 files;
    auto held = files.Hold(spaced + "\\gorupd.exe", HoldFor::Renaming);
    process.Start(spaced + "\\gorupd.exe", kNormalFocus, [&] { held.reset(); });
    EXPECT_TRUE(held == nullptr);

    EventLoopWin32 loop;  // wait without spinning, generously
    const double deadline = loop.Now() + 30;
    std::string started;
    while (loop.Now() < deadline && (started = ReadWholeFile(spaced + "\\started.txt")).empty()) {
        loop.DispatchEvents(loop.Now() + 0.1);
    }
    const std::string expected = spaced + "\\gorupd.exe|\"" + spaced + "\\gorupd.exe\"\n";
    EXPECT_EQ(started, expected);
    EXPECT_TRUE(ReadWholeFile(root + "\\started.txt").empty());  // the decoy never ran

    EXPECT_TRUE(
        ThrowsSystemError([&] { process.Start(root + "\\missing.exe", kNormalFocus, [] {}); }));
}

TEST(Win32Process, OneClaimPerFolderWhateverItsSpelling) {
    const std::string gorvik = gRoot + "\\Gorvik", other = gRoot + "\\Gorvik 2",
                      squatted = gRoot + "\\squatted";
    for (const std::string& folder : {gorvik, other, squatted})
        ::CreateDirectoryW(Widen(folder).c_str(), nullptr);
    EXPECT_TRUE(FolderClaimName(Widen(gorvik)) == FolderClaimName(Widen(gRoot + "\\GORVIK\\")));
    EXPECT_TRUE(FolderClaimName(Widen(gorvik)) != FolderClaimName(Widen(other)));
    ProcessWin32 first, second;
    EXPECT_TRUE(first.ClaimFolder(gorvik));
    // Every start of the same user, elevated or not, may open the claim: its DACL names the user.
    HANDLE token = nullptr, claim = ::OpenFileMappingW(FILE_MAP_WRITE | READ_CONTROL, FALSE,
                                                       FolderClaimName(Widen(gorvik)).c_str());
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    void* ace = nullptr;
    DWORD user[64], size = sizeof user;  // a TOKEN_USER
    ASSERT_TRUE(claim &&
                !::GetSecurityInfo(claim, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                   nullptr, &dacl, nullptr, &descriptor) &&
                ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token) &&
                ::GetTokenInformation(token, TokenUser, user, size, &size));
    EXPECT_TRUE(dacl && dacl->AceCount == 1 && ::GetAce(dacl, 0, &ace) &&
                ::EqualSid(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart,
                           reinterpret_cast<TOKEN_USER*>(user)->User.Sid));
    ::LocalFree(descriptor);
    for (const HANDLE handle : {token, claim}) ::CloseHandle(handle);
    EXPECT_FALSE(second.ClaimFolder(gRoot + "\\GORVIK\\"));
    EXPECT_TRUE(second.ClaimFolder(other));

    // A claim made first by another program of this user, naming a process that runs something
    // else or one that has ended, stops no start: it is taken over.
    wchar_t system[MAX_PATH];
    const std::wstring cmd =
        std::wstring(system, ::GetSystemDirectoryW(system, MAX_PATH)) + L"\\cmd.exe";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION foreign{};
    ASSERT_TRUE(::CreateProcessW(cmd.c_str(), nullptr, nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                                 nullptr, nullptr, &startup, &foreign));
    const HANDLE squat =
        ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(LONG),
                             FolderClaimName(Widen(squatted)).c_str());
    auto* named = static_cast<LONG*>(::MapViewOfFile(squat, FILE_MAP_WRITE, 0, 0, sizeof(LONG)));
    const auto ownedBy = [&](PSID owner) {
        return !::SetSecurityInfo(squat, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, owner,
                                  nullptr, nullptr, nullptr);
    };
    ASSERT_TRUE(ownedBy(reinterpret_cast<TOKEN_USER*>(user)->User.Sid));
    for (const bool ended : {false, true}) {
        const char* holder = ended ? "an ended process" : "another program";
        if (ended) {
            ::TerminateProcess(foreign.hProcess, 0);
            ::WaitForSingleObject(foreign.hProcess, 10000);
        }
        *named = static_cast<LONG>(foreign.dwProcessId);
        ProcessWin32 start;
        EXPECT_TRUE(start.ClaimFolder(squatted)) << holder;
        EXPECT_EQ(*named, static_cast<LONG>(::GetCurrentProcessId())) << holder;
    }
    // Naming a live launcher (this process), it holds the folder, unless another user owns it.
    EXPECT_FALSE(ProcessWin32().ClaimFolder(squatted));
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID localSystem = nullptr;
    ASSERT_TRUE(::AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0,
                                           &localSystem) &&
                !::SetSecurityInfo(squat, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, localSystem,
                                   nullptr, nullptr, nullptr));
    EXPECT_TRUE(ProcessWin32().ClaimFolder(squatted));
    ::FreeSid(localSystem);
    ::UnmapViewOfFile(named);
    ::CloseHandle(squat);
    ::CloseHandle(foreign.hThread);
    ::CloseHandle(foreign.hProcess);
}

TEST(Win32EventLoop, WaitsTimersAndFailures) {
    EventLoopWin32 loop;

    // Waiting with nothing to do sleeps until the deadline: it lasts at least its length and
    // uses little processor time (generous bound: a spinning wait would use all of it).
    FILETIME created, exited, kernelBefore, userBefore, kernelAfter, userAfter;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernelBefore, &userBefore);
    const double start = loop.Now();
    while (loop.Now() < start + 0.5) loop.DispatchEvents(start + 0.5);
    const double waited = loop.Now() - start;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernelAfter, &userAfter);
    auto ticks = [](FILETIME t) {
        return static_cast<double>(ULARGE_INTEGER{{t.dwLowDateTime, t.dwHighDateTime}}.QuadPart);
    };
    const double busy =
        (ticks(kernelAfter) - ticks(kernelBefore) + ticks(userAfter) - ticks(userBefore)) / 1e7;
    EXPECT_TRUE(waited >= 0.5);
    EXPECT_TRUE(busy < waited / 2);

    // A timer ticks repeatedly while enabled and never after being disabled.
    int ticks1 = 0;
    auto timer = loop.CreateTimer(20, [&] { ++ticks1; });
    EXPECT_TRUE(!timer->Enabled());
    timer->SetEnabled(true);
    EXPECT_TRUE(timer->Enabled());
    for (double end = loop.Now() + 10; ticks1 < 3 && loop.Now() < end;) loop.DispatchEvents(end);
    EXPECT_TRUE(ticks1 >= 3);
    timer->SetEnabled(false);
    const int atDisable = ticks1;
    for (double end = loop.Now() + 0.2; loop.Now() < end;) loop.DispatchEvents(end);
    EXPECT_TRUE(ticks1 == atDisable);

    // A failure inside a tick comes back out of DispatchEvents, not through Windows.
    auto failing = loop.CreateTimer(10, [] { throw std::runtime_error("tick failed"); });
    failing->SetEnabled(true);
    bool caught = false;
    try {
        for (double end = loop.Now() + 10; loop.Now() < end;) loop.DispatchEvents(end);
    } catch (const std::runtime_error& e) {
        caught = std::string(e.what()) == "tick failed";
    }
    failing->SetEnabled(false);
    EXPECT_TRUE(caught);

    // A posted task runs once from a later dispatch, never inside Post.
    int posted = 0;
    loop.Post([&] { ++posted; });
    EXPECT_TRUE(posted == 0);
    for (double end = loop.Now() + 10; posted == 0 && loop.Now() < end;) loop.DispatchEvents(end);
    EXPECT_TRUE(posted == 1);
    // A name server that did not answer in time leaves the host unreachable, as on POSIX.
    EXPECT_TRUE(std::error_code(WSATRY_AGAIN, Win32Category()) == std::errc::host_unreachable);
}

// Auto-detection's answer (Wine's settings ask for it) wakes a loop that sleeps: it is not
// waited out to a far deadline. A helper that outlives its loop hands its answer to nobody.
TEST(Win32SystemProxy, DetectionWakesTheWaitingLoop) {
    EventLoopWin32 loop;
    SystemProxyWin32 proxy(loop);
    bool detected = false;
    const ProxyStart start = proxy.Start("http://update.invalid/gorupd.new",
                                         [&](ProxySource, ProxySettings) { detected = true; });
    const double begin = loop.Now(), deadline = begin + 60;
    while (!detected && loop.Now() < deadline) loop.DispatchEvents(deadline);
    EXPECT_TRUE(start.askingAutoDetection && detected);
    EXPECT_LT(loop.Now() - begin, 50);
    auto gone = std::make_unique<EventLoopWin32>();
    gone->RunOffLoop([] { ::Sleep(200); }, [&detected] { detected = false; });
    gone.reset();
    ::Sleep(400);
    EXPECT_TRUE(detected);
}

TEST(Win32Regions, FromRectangles) {
    // Overlapping and touching rectangles become their union; no rectangles, an empty region.
    const auto region =
        reinterpret_cast<HRGN>(CreateRegionFromRects({{0, 0, 4, 2}, {2, 1, 6, 3}, {6, 0, 7, 1}}));
    EXPECT_TRUE(region != nullptr);
    EXPECT_TRUE(::PtInRegion(region, 0, 0) && ::PtInRegion(region, 5, 2) &&
                ::PtInRegion(region, 6, 0));
    EXPECT_TRUE(!::PtInRegion(region, 5, 0) && !::PtInRegion(region, 0, 2) &&
                !::PtInRegion(region, 7, 0));
    ::DeleteObject(region);
    const auto empty = reinterpret_cast<HRGN>(CreateRegionFromRects({}));
    RECT box;
    EXPECT_TRUE(empty != nullptr && ::GetRgnBox(empty, &box) == NULLREGION);
    ::DeleteObject(empty);
}

// Pixels of `picture` where the window's region disagrees with "not the transparent colour".
int RegionFaults(HWND hwnd, const Pixels& picture) {
    const HRGN copy = ::CreateRectRgn(0, 0, 0, 0);
    int wrong = ::GetWindowRgn(hwnd, copy) == ERROR;
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            const bool opaque =
                picture.At(x, y) != static_cast<std::uint32_t>(gor::window::kTransparentColor);
            wrong += (::PtInRegion(copy, x, y) != FALSE) != opaque;
        }
    }
    ::DeleteObject(copy);
    return wrong;
}

// What assistive technology reads as a window's name: its client object's.
std::string AccessibleName(HWND window) {
    IAccessible* object = nullptr;
    VARIANT self{};
    self.vt = VT_I4;
    BSTR name = nullptr;
    if (SUCCEEDED(::AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT),
                                               IID_IAccessible, reinterpret_cast<void**>(&object))))
        object->get_accName(self, &name), object->Release();
    const std::string text = name != nullptr ? Narrow(name) : "";
    ::SysFreeString(name);
    return text;
}

std::vector<HWND> gRenamed;  // windows whose client object's name changed, in order
void CALLBACK NoteRename(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG, DWORD, DWORD) {
    if (object == OBJID_CLIENT) gRenamed.push_back(window);
}

TEST(Win32LauncherWindow, PictureSizeRegionAndLabels) {
    const std::string& picturePath = gPicture;
    LauncherWindowWin32 window;
    const HWND hwnd = window.Handle();
    EXPECT_TRUE(!::IsWindowVisible(hwnd));
    EXPECT_TRUE(::GetWindowLongPtrW(hwnd, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);  // no taskbar button
    wchar_t title[64] = {};
    ::GetWindowTextW(hwnd, title, 64);
    EXPECT_TRUE(Narrow(title) == gor::window::kFormCaption);

    // The pixels read back are the picture file's, top row first, red in the low byte.
    const std::string file = ReadWholeFile(picturePath);
    const Pixels expected = gor::test::DecodeBitmap24(
        {reinterpret_cast<const std::uint8_t*>(file.data()), file.size()});
    const Pixels read = window.ReadPicture();
    EXPECT_TRUE(window.PictureWidthPixels() == expected.width &&
                window.PictureHeightPixels() == expected.height);
    EXPECT_TRUE(read.width == expected.width && read.height == expected.height);
    EXPECT_TRUE(read.colors == expected.colors);

    // Shaping makes it frameless, exactly the picture's size and cut to the picture.
    const std::uintptr_t region =
        gor::launcher::ShapeFormToPicture(window, gor::window::kTransparentColor);
    EXPECT_TRUE(region != 0);
    RECT frame, client;
    ::GetWindowRect(hwnd, &frame);
    ::GetClientRect(hwnd, &client);
    EXPECT_TRUE(frame.right - frame.left == expected.width &&
                frame.bottom - frame.top == expected.height);
    EXPECT_TRUE(client.right == expected.width && client.bottom == expected.height);
    EXPECT_TRUE(RegionFaults(hwnd, expected) == 0);

    // The first show centres on the work area; later shows leave a moved window where it is.
    window.Show();
    EXPECT_TRUE(::IsWindowVisible(hwnd));
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromWindow(hwnd, MONITOR_DEFAULTTOPRIMARY), &monitor);
    ::GetWindowRect(hwnd, &frame);
    const int centreX = (frame.left + frame.right) / 2;
    const int workCentreX = (monitor.rcWork.left + monitor.rcWork.right) / 2;
    EXPECT_TRUE(centreX >= workCentreX - 1 && centreX <= workCentreX + 1);
    ::SetWindowPos(hwnd, nullptr, 5, 5, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    window.Show();
    ::GetWindowRect(hwnd, &frame);
    EXPECT_TRUE(frame.left == 5 && frame.top == 5);

    // Moved to a monitor at 150 %: the window takes the suggested place and its size there, and
    // is cut to the picture as scaled. (Wine has one resolution for all monitors and never
    // sends these; the sizes asked before a move and taken on it agree.)
    const int dpi = 144;
    SIZE asked{};
    EXPECT_TRUE(::SendMessageW(hwnd, 0x02E4 /* WM_GETDPISCALEDSIZE */, dpi,
                               reinterpret_cast<LPARAM>(&asked)));
    RECT suggested{30, 40, 30 + asked.cx, 40 + asked.cy};
    ::SendMessageW(hwnd, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
    const Pixels scaled = gor::window::ScalePicture(expected, dpi, gor::window::kTransparentColor);
    ::GetWindowRect(hwnd, &frame);
    EXPECT_TRUE(frame.left == 30 && frame.top == 40 && frame.right - frame.left == scaled.width &&
                frame.bottom - frame.top == scaled.height && asked.cx == scaled.width &&
                asked.cy == scaled.height);
    EXPECT_TRUE(window.ReadPicture().colors == scaled.colors);
    EXPECT_TRUE(RegionFaults(hwnd, scaled) == 0);

    // Caption changes are painted by the loop without failures; closing is final.
    // Each line is read by its caption; a new status is announced, a percentage each tenth.
    EventLoopWin32 loop;
    const HWINEVENTHOOK hook =
        ::SetWinEventHook(EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_NAMECHANGE, nullptr, NoteRename,
                          ::GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
    window.SetStatusCaption("Downloading Updater");
    for (const char* percent : {"42%", "49%", "50%"}) window.SetPercentCaption(percent);
    window.SetStatusForeColor(255);
    for (double end = loop.Now() + 0.2; loop.Now() < end;) loop.DispatchEvents(end);
    ::UnhookWinEvent(hook);
    EXPECT_TRUE(gRenamed.size() == 3 && gRenamed[1] == gRenamed[2] &&
                ::GetParent(gRenamed[0]) == hwnd && ::GetParent(gRenamed[1]) == hwnd);
    EXPECT_TRUE(AccessibleName(gRenamed.at(0)) == "Downloading Updater");
    EXPECT_TRUE(AccessibleName(gRenamed.at(1)) == "50%");
    window.SetPercentVisible(false);
    ::SendMessageW(hwnd, WM_CLOSE, 0, 0);  // Alt+F4 does not close it under the launcher
    EXPECT_TRUE(::IsWindow(hwnd));
    window.Unload();
    EXPECT_TRUE(!::IsWindow(hwnd) && window.Handle() == nullptr);
    window.SetStatusCaption("after unload");  // harmless
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring self = ModulePath();
    const std::wstring name = self.substr(self.find_last_of(L'\\') + 1);
    if (name == L"gorupd.exe" || name == L"my.exe") return RunAsChild();
    ::testing::InitGoogleTest(&argc, argv);
    if (argc < 3) {
        std::printf("usage: test_platform_win32 <scratch folder> <launcher.bmp> [images...]\n");
        return 2;
    }
    // Full paths, so that they compare equal to what GetModuleFileNameW reports.
    auto fullPath = [](const wchar_t* path) {
        std::wstring full(32768, L'\0');
        full.resize(
            ::GetFullPathNameW(path, static_cast<DWORD>(full.size()), full.data(), nullptr));
        return Narrow(full);
    };
    gRoot = fullPath(argv[1]);
    gPicture = fullPath(argv[2]);
    for (int i = 3; i < argc; ++i) gImages.push_back(fullPath(argv[i]));
    ::CreateDirectoryW(Widen(gRoot).c_str(), nullptr);
    return RUN_ALL_TESTS();
}
