// Download benchmark: fetches one large file from nginx on 127.0.0.1 with GorDownload (probe,
// then transfer, as the launcher does) and with `curl -o`, several rounds each, and prints
// the times, the ratio and this process's peak resident memory. With --chunked, nginx sends
// the file in chunked coding (it no longer announces the length) and both decode it.
//
//   download_bench [--mib N] [--rounds N] [--dir FOLDER] [--chunked]
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "download/gor_download.h"
#include "platform/posix/event_loop_posix.h"
#include "platform/posix/file_system_posix.h"
#include "server_process.h"

extern char** environ;

namespace {

using gor::platform::posix::EventLoopPosix;
using gor::platform::posix::FileSystemPosix;

constexpr double kRoundTimeoutSeconds = 600;

double Now() {
    timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

long PeakRssKiB(int who) {
    rusage usage{};
    ::getrusage(who, &usage);
    return usage.ru_maxrss;
}

// Writes `mib` MiB of varied bytes, one MiB at a time so this process stays small.
void MakeFile(const std::string& path, std::size_t mib) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::string block(1024 * 1024, '\0');
    std::uint32_t state = 0x9e3779b9u;
    for (std::size_t m = 0; m < mib; ++m) {
        for (auto& b : block) {
            state = state * 1664525u + 1013904223u;
            b = static_cast<char>(state >> 24);
        }
        out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
    if (!out) throw std::runtime_error("cannot write " + path);
}

// The launcher's way: Readheaders, DownloadFile from headerread, wait for downloaded.
// The remote path: the plain file, or the same bytes in chunked coding.
std::string remotePath = "/big.bin";

class GorRound : private gor::download::GorDownloadEvents {
  public:
    double Run(int port, const std::string& target) {
        EventLoopPosix loop;
        FileSystemPosix files;
        gor::download::GorDownload control(loop.CreateSocket(), files);
        control_ = &control;
        control.SetEventHost(this);
        control.fileName(target);
        control.URL("127.0.0.1:" + std::to_string(port) + remotePath);
        const double start = Now();
        control.Readheaders();
        const double deadline = loop.Now() + kRoundTimeoutSeconds;
        while (!ended_ && loop.Now() < deadline) loop.DispatchEvents(deadline);
        const double seconds = Now() - start;
        if (!ok_) throw std::runtime_error("GorDownload did not finish: " + error_);
        return seconds;
    }
    long progressEvents = 0;

  private:
    void Progress(double downloaded, double Total) override {
        // What the launcher does with it: a percentage for its label.
        ++progressEvents;
        percent_ = Total > 0 ? static_cast<int>(downloaded * 100 / Total) : 0;
    }
    void downloaded(const std::string&) override { ended_ = ok_ = true; }
    void DownloadError(const std::string& description, bool) override {
        error_ = description;
        ended_ = true;
    }
    void headerread() override {
        if (control_->IsServerOk()) {
            control_->DownloadFile();
        } else {
            ended_ = true;
        }
    }
    void Disconnected() override {
        error_ = "disconnected";
        ended_ = true;
    }

    gor::download::GorDownload* control_ = nullptr;
    bool ended_ = false, ok_ = false;
    int percent_ = 0;
    std::string error_;
};

long curlPeakRssKiB = 0;

double CurlRound(int port, const std::string& target) {
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + remotePath;
    std::vector<std::string> args = {"curl", "-s", "-S", "-f", "-o", target, url};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const double start = Now();
    pid_t pid;
    const int rc = ::posix_spawnp(&pid, "curl", nullptr, nullptr, argv.data(), environ);
    if (rc != 0) throw std::runtime_error(std::string("cannot start curl: ") + std::strerror(rc));
    int status = 0;
    rusage usage{};
    while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    const double seconds = Now() - start;
    curlPeakRssKiB = std::max(curlPeakRssKiB, usage.ru_maxrss);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("curl failed");
    return seconds;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t mib = 256;
    int rounds = 3;
    std::string base = std::filesystem::temp_directory_path().string();
    for (int i = 1; i < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--chunked") {
            remotePath = "/chunked/big.bin";
            --i;  // a flag without a value
        } else if (i + 1 >= argc) {
            std::fprintf(stderr, "%s: %s needs a value\n", argv[0], argv[i]);
            return 2;
        } else if (option == "--mib") {
            mib = std::strtoul(argv[i + 1], nullptr, 10);
        } else if (option == "--rounds") {
            rounds = std::atoi(argv[i + 1]);
        } else if (option == "--dir") {
            base = argv[i + 1];
        } else {
            std::fprintf(stderr, "usage: %s [--mib N] [--rounds N] [--dir FOLDER] [--chunked]\n",
                         argv[0]);
            return 2;
        }
    }
    if (mib == 0 || rounds <= 0) return 2;

    try {
        std::string pattern = base + "/gorlaunch-bench-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        const std::string dir = pattern;
        std::filesystem::create_directory(dir + "/www");
        MakeFile(dir + "/www/big.bin", mib);
        const auto expected = std::filesystem::file_size(dir + "/www/big.bin");
        const long rssBefore = PeakRssKiB(RUSAGE_SELF);

        std::vector<double> gor, curl;
        long progressEvents = 0;
        {
            gor::test::ServerProcess nginx(gor::test::NginxCommand(dir + "/www"));
            std::printf("file: %zu MiB from nginx on 127.0.0.1:%d (%s), %d rounds\n", mib,
                        nginx.port(), remotePath.c_str(), rounds);
            const std::string target = dir + "/target.bin";
            for (int r = 0; r < rounds; ++r) {
                // Alternate who goes first, so neither always meets a warmer cache.
                for (int turn = 0; turn < 2; ++turn) {
                    std::filesystem::remove(target);
                    if ((turn == 0) == (r % 2 == 0)) {
                        GorRound round;
                        gor.push_back(round.Run(nginx.port(), target));
                        progressEvents = round.progressEvents;
                    } else {
                        curl.push_back(CurlRound(nginx.port(), target));
                    }
                    if (std::filesystem::file_size(target) != expected)
                        throw std::runtime_error("wrong size after a round");
                }
                std::printf("round %d: GorDownload %.3f s, curl %.3f s\n", r + 1, gor.back(),
                            curl.back());
                std::fflush(stdout);
            }
        }
        std::filesystem::remove_all(dir);

        const double g = Median(gor), c = Median(curl);
        const double mibs = static_cast<double>(mib);
        std::printf("median: GorDownload %.3f s (%.0f MiB/s), curl %.3f s (%.0f MiB/s)\n", g,
                    mibs / g, c, mibs / c);
        std::printf("ratio GorDownload/curl: %.2f\n", g / c);
        std::printf("Progress events per transfer: %ld (%.0f KiB per chunk on average)\n",
                    progressEvents, mibs * 1024 / static_cast<double>(progressEvents));
        std::printf("peak RSS of this process: %ld KiB before the transfers, %ld KiB after\n",
                    rssBefore, PeakRssKiB(RUSAGE_SELF));
        std::printf("peak RSS of curl: %ld KiB\n", curlPeakRssKiB);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "download_bench: %s\n", failure.what());
        return 1;
    }
    return 0;
}
