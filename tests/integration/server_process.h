// A test server run as a child process: started with its arguments, ready once it prints
// "listening PORT", terminated (and waited for) when the object goes away.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace gor::test {

class ServerProcess {
  public:
    // Starts `argv` (argv[0] looked up on PATH unless it holds a slash) and waits up to
    // `startSeconds` for its "listening PORT" line. Throws std::runtime_error on failure.
    explicit ServerProcess(const std::vector<std::string>& argv, double startSeconds = 30);
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    int port() const { return port_; }

  private:
    void Stop();

    pid_t pid_ = -1;
    int output_ = -1;
    int port_ = 0;
};

// The command line of the misbehaving HTTP server (tests/support/hostile_server.py)
// answering every request with `scenario` and the bytes of `bodyFile`.
std::vector<std::string> HostileServerCommand(const std::string& scenario,
                                              const std::string& bodyFile,
                                              const std::string& logFile = {}, double delay = 0.05);

// The command line of the system nginx serving the folder `root` (tests/support/servers.py),
// also with chunked coding under /chunked/, and with `upstreamPort`, passing /proxied/ on to
// that server on 127.0.0.1.
std::vector<std::string> NginxCommand(const std::string& root, int upstreamPort = 0);

}  // namespace gor::test
