// A launcher window on fakes for unit tests: virtual clock, recording window, in-memory
// files with hooks, fake process, and the form itself, plus the names of its files.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fakes/fake_process.h"
#include "fakes/memory_file_system.h"
#include "fakes/pe_image.h"
#include "fakes/recording_window.h"
#include "fakes/virtual_clock_loop.h"
#include "launcher/base/paths.h"
#include "launcher/frm_launch.h"

namespace gor::test {

// The in-memory files, with a hook that runs before every search, removal and rename
// ("find", "remove", "rename") and may throw or let virtual time pass.
class HookedFileSystem : public MemoryFileSystem {
  public:
    std::function<void(const std::string& op, const std::string& path)> before;

    bool FindFile(const std::string& path, std::uint32_t mask) override {
        Before("find", path);
        return MemoryFileSystem::FindFile(path, mask);
    }
    void Remove(const std::string& path) override {
        Before("remove", path);
        MemoryFileSystem::Remove(path);
    }
    void Rename(const std::string& from, const std::string& to) override {  // also a held file's
        Before("rename", from);
        MemoryFileSystem::Rename(from, to);
    }

  private:
    void Before(const char* op, const std::string& path) {
        if (before) before(op, path);
    }
};

// The launcher joins its folder and a file name the Windows way on every build.
inline const std::string kAppDir = "C:\\Games\\Gorvik";
inline const std::string kExe = kAppDir + launcher::kPathSeparator + "gorupd.exe";
inline const std::string kNew = kAppDir + launcher::kPathSeparator + "gorupd.new";
inline const std::string kTmp = kAppDir + launcher::kPathSeparator + "gorupd.tmp";

// A whole updater image that names itself as the publisher's does; `tag` (appended as an
// overlay) tells copies apart.
inline std::string Updater(const std::string& tag) {
    return BuildImage([&](ImageShape& s) { s.overlay = tag, s.versionName = "gorupd.exe"; });
}

struct LaunchRig {
    explicit LaunchRig(launcher::PublisherCheck* publisher = nullptr,
                       platform::SystemProxy* proxy = nullptr)
        : publisher(publisher), proxy(proxy) {}

    launcher::PublisherCheck* publisher;
    platform::SystemProxy* proxy;
    VirtualClockLoop loop;
    RecordingWindow window{loop.timeline};
    HookedFileSystem files;
    FakeProcess process{loop.timeline, kAppDir};
    // The test keeps the publisher check; the form only borrows it.
    std::shared_ptr<launcher::PublisherCheck> borrowed{publisher, [](launcher::PublisherCheck*) {}};
    launcher::frmLaunch form{{loop, window, files, process, launcher::CheckExecutableImage,
                              borrowed, proxy, WholeSteps}};

    // Every retry pause at its whole step, so the virtual clock's times stay fixed.
    static double WholeSteps() { return 1; }

    // Runs the launch sequence to its end and returns the exit code.
    int Run() {
        struct Ended {  // however the run ends, a helper thread's work still finishes
            VirtualClockLoop& loop;
            ~Ended() { loop.FinishOffLoopWork(); }
        } ended{loop};
        try {
            form.Form_Load();
        } catch (const ProgramEnded& ended) {
            return ended.code;
        }
    }

    // The form as GorDownload1 sees it: tests raise the control's events through it.
    download::GorDownloadEvents& Control() { return form; }

    const std::vector<std::string>& Timeline() const { return loop.timeline.entries; }

    void Put(const std::string& path, const std::string& bytes, bool readOnly = false) {
        files.entries[path] = {bytes, readOnly};
    }
};

}  // namespace gor::test
