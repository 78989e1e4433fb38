// Scratch folders, test bodies and the recording host of the integration tests.
#include "download_harness.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace gor::test {

std::string TestBytes(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    std::uint32_t state = 2463534242u ^ seed;
    for (auto& b : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        b = static_cast<char>(state >> 24);
    }
    return bytes;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

DownloadRun::DownloadRun()
    : control_(std::make_unique<download::GorDownload>(loop_.CreateSocket(), files_)) {
    control_->SetEventHost(this);
}

DownloadRun::~DownloadRun() {
    control_.reset();
}

void DownloadRun::Fetch(int port, const std::string& path, const std::string& target) {
    FetchUrl("127.0.0.1:" + std::to_string(port) + path, target);
}

void DownloadRun::FetchUrl(const std::string& url, const std::string& target) {
    ended_ = false;
    control_->fileName(target);
    control_->URL(url);
    control_->Readheaders();
    const double deadline = loop_.Now() + kTimeoutSeconds;
    while (!Ended() && loop_.Now() < deadline) loop_.DispatchEvents(deadline);
    ASSERT_TRUE(Ended()) << "the request did not end within " << kTimeoutSeconds << " s";
}

void DownloadRun::Settle(double seconds) {
    const double deadline = loop_.Now() + seconds;
    while (loop_.Now() < deadline) loop_.DispatchEvents(deadline);
}

bool DownloadRun::Ended() const {
    return ended_ || !control_->IsExecuting();
}

void DownloadRun::Progress(double downloaded, double Total) {
    events.push_back("Progress");
    progress.emplace_back(downloaded, Total);
}

void DownloadRun::downloaded(const std::string& dfile) {
    events.push_back("downloaded");
    downloadedFile = dfile;
    ended_ = true;
}

void DownloadRun::DownloadError(const std::string& description, bool SERVER_ERROR) {
    events.push_back("DownloadError");
    errorDescription = description;
    serverError = SERVER_ERROR;
    ended_ = true;
}

void DownloadRun::headerread() {
    events.push_back("headerread");
    if (downloadOnHeaderread && control_->IsServerOk()) {
        ended_ = false;
        control_->DownloadFile();
    }
}

void DownloadRun::Disconnected() {
    events.push_back("Disconnected");
    ended_ = true;
}

void DownloadRun::canceled() {
    events.push_back("canceled");
    ended_ = true;
}

}  // namespace gor::test
