// Tests of the Win32 platform layer, run under Wine: the directory search's attribute
// masks and file operations on awkward (non-ASCII, spaced, &()%!) paths, the program's
// folder and the quoted process start, the event loop's waiting, tasks, timers and
// failure hand-back, the launcher window's picture, size and region, and the updater's image
// check on the real images of this build.
// Usage: platform_win32_tests <scratch folder> <launcher.bmp> [images to check...]. When started
// under the name gorupd.exe or my.exe it is the child of the process-start test instead: it notes
// its command line.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "launcher/executable_image.h"
#include "platform/win32/event_loop_win32.h"
#include "platform/win32/file_system_win32.h"
#include "platform/win32/launcher_window_win32.h"
#include "platform/win32/process_win32.h"
#include "platform/win32/region_win32.h"
#include "platform/win32/wide_text.h"
#include "window/bitmap.h"
#include "window/layout.h"
#include "window/scaling.h"
#include "window/shape_module.h"

namespace {

using namespace gor::platform;
using namespace gor::platform::win32;

int failures = 0;

void Check(bool condition, const char* what, int line) {
    if (!condition) {
        ++failures;
        std::printf("  FAILED line %d: %s\n", line, what);
    }
}
#define CHECK(condition) Check((condition), #condition, __LINE__)

template <class Action>
bool ThrowsSystemError(Action action) {
    try {
        action();
    } catch (const std::system_error& e) {
        return std::string(e.what()).size() > 10;  // a readable message, not just a number
    }
    return false;
}

void Run(const char* name, const std::function<void()>& test) {
    std::printf("%s\n", name);
    try {
        test();
    } catch (const std::exception& e) {
        ++failures;
        std::printf("  FAILED: unexpected exception: %s\n", e.what());
    }
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

void TestDirectorySearchMasks(const std::string& root) {
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

        CHECK(files.FindFile(ordinary, kAttrNormal));
        CHECK(files.FindFile(ordinary, kAttrReadOnly));
        CHECK(!files.FindFile(readOnly, kAttrNormal));
        CHECK(files.FindFile(readOnly, kAttrReadOnly));
        CHECK(!files.FindFile(hidden, kAttrReadOnly));
        CHECK(!files.FindFile(system, kAttrReadOnly));
        CHECK(!files.FindFile(folder, kAttrReadOnly));  // a folder is never a file
        CHECK(!files.FindFile(folder + "\\gorupd.new", kAttrReadOnly));
        CHECK(!files.FindFile(folder + "\\no such folder\\gorupd.exe", kAttrReadOnly));

        for (const auto& path : {readOnly, hidden, system}) {
            ::SetFileAttributesW(Widen(path).c_str(), FILE_ATTRIBUTE_NORMAL);
            files.Remove(path);
        }
    }
}

void TestRenameAndRemove(const std::string& root) {
    FileSystemWin32 files;
    for (const char* folderName : kAwkwardFolders) {
        const std::string folder = root + "\\" + folderName;
        const std::string exe = folder + "\\gorupd.exe";
        const std::string fresh = folder + "\\gorupd.new";
        WriteFileBytes(fresh, "new updater");
        // The target exists: the rename must fail and leave both files alone.
        CHECK(ThrowsSystemError([&] { files.Rename(fresh, exe); }));
        CHECK(ReadWholeFile(exe) == "MZ");
        files.Remove(exe);
        CHECK(!files.FindFile(exe, kAttrNormal));
        files.Rename(fresh, exe);
        CHECK(files.FindFile(exe, kAttrNormal));
        CHECK(!files.FindFile(fresh, kAttrNormal));
        CHECK(ReadWholeFile(exe) == "new updater");
        // A vanished source and a missing file to remove both fail loudly.
        CHECK(ThrowsSystemError([&] { files.Rename(fresh, folder + "\\other.exe"); }));
        CHECK(ThrowsSystemError([&] { files.Remove(fresh); }));
    }
    // A read-only file cannot be removed.
    const std::string locked = root + "\\locked.exe";
    WriteFileBytes(locked, "x");
    ::SetFileAttributesW(Widen(locked).c_str(), FILE_ATTRIBUTE_READONLY);
    CHECK(ThrowsSystemError([&] { files.Remove(locked); }));
    ::SetFileAttributesW(Widen(locked).c_str(), FILE_ATTRIBUTE_NORMAL);
    files.Remove(locked);
}

void TestReadWriteFile(const std::string& root) {
    FileSystemWin32 files;
    const std::string path = root + "\\" + kAwkwardFolders[1] + "\\body.bin";
    std::string bytes;
    for (int i = 0; i < 300; ++i) bytes += static_cast<char>(i);  // every byte value, NULs included
    {
        auto file = files.OpenReadWrite(path);
        CHECK(file->Length() == 0);
        CHECK(file->Position() == 0);
        file->Write(bytes);
        CHECK(file->Position() == 300);
        CHECK(file->Length() == 300);
    }  // destruction closes
    {
        // Opening again keeps the content; writing in the middle overwrites without shortening.
        auto file = files.OpenReadWrite(path);
        CHECK(file->Length() == 300);
        CHECK(file->Position() == 0);
        file->Seek(10);
        file->Write("abc");
        CHECK(file->Position() == 13);
        file->Truncate(100);
        CHECK(file->Length() == 100);
        CHECK(file->Position() == 13);  // truncating leaves the position alone
        file->Seek(file->Length());
        file->Write("end");
        file->Close();
        CHECK(ThrowsSystemError([&] { file->Write("after close"); }));
    }
    std::string expected = bytes.substr(0, 100);
    expected.replace(10, 3, "abc");
    CHECK(ReadWholeFile(path) == expected + "end");
    {
        // Reading a file's head leaves it as it is, also while it is open for writing.
        auto writer = files.OpenReadWrite(path);
        const FileHead head = files.ReadHead(path, 20);
        CHECK(head.bytes == expected.substr(0, 20) && head.size == 103);
        CHECK(files.ReadHead(path, 1000).bytes == expected + "end");
    }
    files.Remove(path);
    CHECK(ThrowsSystemError([&] { files.ReadHead(path, 20); }));  // and never creates one
    CHECK(!files.FindFile(path, kAttrNormal));
}

// The updater's image check on real images built by this project: whole, they pass; cut
// anywhere before the padding that ends their last section, they fail.
void TestImageCheck(const std::vector<std::string>& images) {
    FileSystemWin32 files;
    for (const std::string& path : images) {
        const FileHead head = files.ReadHead(path, gor::launcher::kImageHeadBytes);
        const auto verdict = gor::launcher::CheckExecutableImage(head.bytes, head.size);
        std::printf("  %s: %s\n", path.c_str(), verdict.reason.c_str());
        CHECK(verdict.whole);
        const std::uint64_t padding = 512;  // the file alignment of these images
        for (std::uint64_t k = 0; k < 256; ++k) {
            const std::uint64_t cut = k * (head.size - padding) / 256;
            const std::string_view cutHead = std::string_view(head.bytes).substr(0, cut);
            CHECK(!gor::launcher::CheckExecutableImage(cutHead, cut).whole);
        }
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

void TestProcess(const std::string& root) {
    CHECK(FolderOf(L"C:\\Games\\Gorvik\\gorlaunch.exe") == L"C:\\Games\\Gorvik");
    CHECK(FolderOf(L"C:\\gorlaunch.exe") == L"C:\\");
    CHECK(FolderOf(L"\\\\server\\share\\gorlaunch.exe") == L"\\\\server\\share");

    ProcessWin32 process;
    CHECK(Widen(process.AppPath()) == FolderOf(ModulePath()));

    // "<root>\my dir\gorupd.exe" unquoted would start "<root>\my.exe" first: plant that decoy.
    const std::string spaced = root + "\\my dir";
    const std::wstring self = ModulePath();
    ::CreateDirectoryW(Widen(spaced).c_str(), nullptr);
    CHECK(::CopyFileW(self.c_str(), Widen(spaced + "\\gorupd.exe").c_str(), FALSE));
    CHECK(::CopyFileW(self.c_str(), Widen(root + "\\my.exe").c_str(), FALSE));
    process.Start(spaced + "\\gorupd.exe", kNormalFocus);

    EventLoopWin32 loop;  // wait without spinning, generously
    const double deadline = loop.Now() + 30;
    std::string started;
    while (loop.Now() < deadline && (started = ReadWholeFile(spaced + "\\started.txt")).empty()) {
        loop.DispatchEvents(loop.Now() + 0.1);
    }
    const std::string expected = spaced + "\\gorupd.exe|\"" + spaced + "\\gorupd.exe\"\n";
    CHECK(started == expected);
    if (started != expected)
        std::printf("  started: %s\n  expected: %s", started.c_str(), expected.c_str());
    CHECK(ReadWholeFile(root + "\\started.txt").empty());  // the decoy never ran

    CHECK(ThrowsSystemError([&] { process.Start(root + "\\missing.exe", kNormalFocus); }));
}

void TestEventLoop() {
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
    CHECK(waited >= 0.5);
    CHECK(busy < waited / 2);

    // A timer ticks repeatedly while enabled and never after being disabled.
    int ticks1 = 0;
    auto timer = loop.CreateTimer(20, [&] { ++ticks1; });
    CHECK(!timer->Enabled());
    timer->SetEnabled(true);
    CHECK(timer->Enabled());
    for (double end = loop.Now() + 10; ticks1 < 3 && loop.Now() < end;) loop.DispatchEvents(end);
    CHECK(ticks1 >= 3);
    timer->SetEnabled(false);
    const int atDisable = ticks1;
    for (double end = loop.Now() + 0.2; loop.Now() < end;) loop.DispatchEvents(end);
    CHECK(ticks1 == atDisable);

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
    CHECK(caught);
}

void TestRegions() {
    // Overlapping and touching rectangles become their union; no rectangles, an empty region.
    const auto region =
        reinterpret_cast<HRGN>(CreateRegionFromRects({{0, 0, 4, 2}, {2, 1, 6, 3}, {6, 0, 7, 1}}));
    CHECK(region != nullptr);
    CHECK(::PtInRegion(region, 0, 0) && ::PtInRegion(region, 5, 2) && ::PtInRegion(region, 6, 0));
    CHECK(!::PtInRegion(region, 5, 0) && !::PtInRegion(region, 0, 2) &&
          !::PtInRegion(region, 7, 0));
    ::DeleteObject(region);
    const auto empty = reinterpret_cast<HRGN>(CreateRegionFromRects({}));
    RECT box;
    CHECK(empty != nullptr && ::GetRgnBox(empty, &box) == NULLREGION);
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

void TestLauncherWindow(const std::string& picturePath) {
    LauncherWindowWin32 window;
    const HWND hwnd = window.Handle();
    CHECK(!::IsWindowVisible(hwnd));
    CHECK(::GetWindowLongPtrW(hwnd, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);  // no taskbar button
    wchar_t title[64] = {};
    ::GetWindowTextW(hwnd, title, 64);
    CHECK(Narrow(title) == gor::window::kFormCaption);

    // The pixels read back are the picture file's, top row first, red in the low byte.
    const std::string file = ReadWholeFile(picturePath);
    const Pixels expected = gor::window::DecodeBitmap24(
        {reinterpret_cast<const std::uint8_t*>(file.data()), file.size()});
    const Pixels read = window.ReadPicture();
    CHECK(window.PictureWidthPixels() == expected.width &&
          window.PictureHeightPixels() == expected.height);
    CHECK(read.width == expected.width && read.height == expected.height);
    CHECK(read.colors == expected.colors);

    // Shaping makes it frameless, exactly the picture's size and cut to the picture.
    const std::uintptr_t region =
        gor::window::ShapeFormToPicture(window, gor::window::kTransparentColor);
    CHECK(region != 0);
    RECT frame, client;
    ::GetWindowRect(hwnd, &frame);
    ::GetClientRect(hwnd, &client);
    CHECK(frame.right - frame.left == expected.width &&
          frame.bottom - frame.top == expected.height);
    CHECK(client.right == expected.width && client.bottom == expected.height);
    CHECK(RegionFaults(hwnd, expected) == 0);

    // The first show centres on the work area; later shows leave a moved window where it is.
    window.Show();
    CHECK(::IsWindowVisible(hwnd));
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromWindow(hwnd, MONITOR_DEFAULTTOPRIMARY), &monitor);
    ::GetWindowRect(hwnd, &frame);
    const int centreX = (frame.left + frame.right) / 2;
    const int workCentreX = (monitor.rcWork.left + monitor.rcWork.right) / 2;
    CHECK(centreX >= workCentreX - 1 && centreX <= workCentreX + 1);
    ::SetWindowPos(hwnd, nullptr, 5, 5, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    window.Show();
    ::GetWindowRect(hwnd, &frame);
    CHECK(frame.left == 5 && frame.top == 5);

    // Moved to a monitor at 150 %: the window takes the suggested place and its size there, and
    // is cut to the picture as scaled. (Wine has one resolution for all monitors and never
    // sends these; the sizes asked before a move and taken on it agree.)
    const int dpi = 144;
    SIZE asked{};
    CHECK(::SendMessageW(hwnd, 0x02E4 /* WM_GETDPISCALEDSIZE */, dpi,
                         reinterpret_cast<LPARAM>(&asked)));
    RECT suggested{30, 40, 30 + asked.cx, 40 + asked.cy};
    ::SendMessageW(hwnd, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
    const Pixels scaled = gor::window::ScalePicture(expected, dpi, gor::window::kTransparentColor);
    ::GetWindowRect(hwnd, &frame);
    CHECK(frame.left == 30 && frame.top == 40 && frame.right - frame.left == scaled.width &&
          frame.bottom - frame.top == scaled.height && asked.cx == scaled.width &&
          asked.cy == scaled.height);
    CHECK(window.ReadPicture().colors == scaled.colors);
    CHECK(RegionFaults(hwnd, scaled) == 0);

    // Caption changes are painted by the loop without failures; closing is final.
    EventLoopWin32 loop;
    window.SetStatusCaption("Downloading Updater");
    window.SetPercentCaption("42%");
    window.SetStatusForeColor(255);
    window.SetPercentVisible(false);
    for (double end = loop.Now() + 0.2; loop.Now() < end;) loop.DispatchEvents(end);
    ::SendMessageW(hwnd, WM_CLOSE, 0, 0);  // Alt+F4 does not close it under the launcher
    CHECK(::IsWindow(hwnd));
    window.Unload();
    CHECK(!::IsWindow(hwnd) && window.Handle() == nullptr);
    window.SetStatusCaption("after unload");  // harmless
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring self = ModulePath();
    const std::wstring name = self.substr(self.find_last_of(L'\\') + 1);
    if (name == L"gorupd.exe" || name == L"my.exe") return RunAsChild();
    if (argc < 3) {
        std::printf("usage: platform_win32_tests <scratch folder> <launcher.bmp> [images...]\n");
        return 2;
    }
    // Full paths, so that they compare equal to what GetModuleFileNameW reports.
    auto fullPath = [](const wchar_t* path) {
        std::wstring full(32768, L'\0');
        full.resize(
            ::GetFullPathNameW(path, static_cast<DWORD>(full.size()), full.data(), nullptr));
        return Narrow(full);
    };
    const std::string root = fullPath(argv[1]);
    const std::string picture = fullPath(argv[2]);
    ::CreateDirectoryW(Widen(root).c_str(), nullptr);
    Run("directory search masks", [&] { TestDirectorySearchMasks(root); });
    Run("rename and remove", [&] { TestRenameAndRemove(root); });
    Run("read/write file", [&] { TestReadWriteFile(root); });
    Run("process folder and start", [&] { TestProcess(root); });
    Run("event loop", [] { TestEventLoop(); });
    Run("regions", [] { TestRegions(); });
    Run("launcher window", [&] { TestLauncherWindow(picture); });
    std::vector<std::string> images;
    for (int i = 3; i < argc; ++i) images.push_back(fullPath(argv[i]));
    Run("image check on real images", [&] { TestImageCheck(images); });
    std::printf(failures == 0 ? "all passed\n" : "%d failure(s)\n", failures);
    return failures == 0 ? 0 : 1;
}
