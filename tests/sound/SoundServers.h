#pragma once

#include "support/TempDir.h"

#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

// Real sound servers started in user space for end-to-end tests: a PulseAudio server with a
// null sink, and a JACK server with the dummy driver. Each lives in its own temporary folder
// (and, for JACK, under its own server name). PulseAudio servers are wholly their test's own;
// JACK servers of one user share state in /dev/shm whatever their names, so the tests that
// start one are registered with a lock (tests/CMakeLists.txt) and never run side by side. The
// servers die with the test process and are always stopped by the destructor, also when a
// test fails.
namespace tarnvel::test {

// A child process with its own environment additions; output goes to a log file.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess() { stop(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool start(const std::vector<std::string>& argv,
               const std::vector<std::pair<std::string, std::string>>& env,
               const std::string& logFile);
    bool running();
    // SIGTERM, then SIGKILL after `graceMs`; always reaps the child.
    void stop(int graceMs = 5000);
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
};

// Runs a command to its end (at most `timeoutMs`) and returns its standard output; `ok` tells
// whether it exited with status 0.
std::string runCommand(const std::vector<std::string>& argv,
                       const std::vector<std::pair<std::string, std::string>>& env, bool& ok,
                       int timeoutMs = 10000);

// True when the program can be found on PATH.
bool programAvailable(const std::string& name);

class PulseServer {
public:
    PulseServer() = default;
    ~PulseServer() { stop(); }

    // Starts the server with a 48 kHz stereo null sink as default sink and its monitor as
    // default source, and points this process's clients at it (PULSE_SERVER).
    bool start(std::string& why);
    void stop();
    const std::string& address() const { return address_; }
    std::string log() const;

private:
    TempDir dir_;
    ChildProcess process_;
    std::string address_;
};

class JackServer {
public:
    JackServer() = default;
    ~JackServer() { stop(); }

    // Starts `jackd` with the dummy driver (48000 Hz, 256-frame periods, 2 in, 2 out) under a
    // unique server name and makes it this process's default server (JACK_DEFAULT_SERVER).
    bool start(std::string& why);
    void stop();
    const std::string& name() const { return name_; }
    // jack_lsp -c: every port with its connections.
    std::string connections();
    bool connect(const std::string& from, const std::string& to);
    std::string log() const;

private:
    TempDir dir_;
    ChildProcess process_;
    std::string name_;
};

// On CI a server that cannot start is a failure; elsewhere a missing program skips the test.
bool runningOnCi();

} // namespace tarnvel::test
