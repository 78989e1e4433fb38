// The running program on Win32: its folder and the claim on it, starting another program
// with CreateProcessW (or ShellExecuteExW), and ending at once with ExitProcess.
#pragma once

#include "platform/process.h"

namespace gor::platform::win32 {

class LauncherWindowWin32;

class ProcessWin32 final : public Process {
  public:
    // `window` (may be null) is destroyed by End before the process exits; it outlives this.
    explicit ProcessWin32(LauncherWindowWin32* window = nullptr) : window_(window) {}

    // The folder of the executable as UTF-8, e.g. "C:\\Games\\Gorvik"; a drive root keeps its
    // backslash ("C:\\").
    std::string AppPath() override;
    // A file mapping "Local\gorlaunch-folder-<volume>-<index>-<user SID>" (FolderClaimName)
    // in the user's session, owned by the user and held only by a live process that runs this
    // program file.
    bool ClaimFolder(const std::string& folder) override;
    void Start(const std::string& exePath, int windowStyle,
               const std::function<void()>& letGo) override;
    void StartThroughShell(const std::string& exePath, int windowStyle) override;
    [[noreturn]] void End(int exitCode) override;

  private:
    LauncherWindowWin32* window_;
    void* claim_ = nullptr;  // the folder's claim, never closed: the process's end releases it
};

// The name of the kernel object that claims the existing folder `folder` for the user this
// process runs as: its volume's serial number and its file index, so the same for every path to
// it (letter case, 8.3 names, subst drives, junctions, UNC paths), and the user's SID. Throws
// std::system_error. Exposed for tests.
std::wstring FolderClaimName(const std::wstring& folder);

// The folder part of a module path: without the trailing backslash, except at a drive root.
// Exposed for tests.
std::wstring FolderOf(const std::wstring& modulePath);

}  // namespace gor::platform::win32
