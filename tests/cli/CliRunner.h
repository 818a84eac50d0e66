#pragma once

#include "support/TempDir.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

// Runs tarnvel-cli as a user does, in a test folder, without a shell (so that names may hold any
// byte); standard output and error go to out.txt and err.txt there.
namespace tarnvel::cli::test {

inline std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct CliResult {
    int exitCode = -1; // -1 when ended by a signal
    int signal = 0;
    std::string out;
    std::string err;
};

class CliProcess {
public:
    CliProcess(const tarnvel::test::TempDir& dir, const std::vector<std::string>& args)
        : dir_(dir.path().string())
    {
        std::vector<std::string> all{TARNVEL_CLI};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const std::string out = dir_ + "/out.txt";
        const std::string err = dir_ + "/err.txt";
        // Emptied before the start, so that a caller polling them never sees an earlier run's.
        std::ofstream{out, std::ios::trunc};
        std::ofstream{err, std::ios::trunc};
        pid_ = ::fork();
        if (pid_ == 0) {
            const int in = ::open("/dev/null", O_RDONLY);
            const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (in < 0 || o < 0 || e < 0 || ::chdir(dir_.c_str()) != 0)
                ::_exit(127);
            ::dup2(in, 0);
            ::dup2(o, 1);
            ::dup2(e, 2);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
    }
    ~CliProcess()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    void signal(int sig) { ::kill(pid_, sig); }

    // Waits for the end (killing the program after `timeout`, which fails the test).
    CliResult wait(std::chrono::seconds timeout = std::chrono::seconds(120))
    {
        CliResult r;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ADD_FAILURE() << "tarnvel-cli did not end in time";
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        pid_ = -1;
        r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        r.out = slurp(dir_ + "/out.txt");
        r.err = slurp(dir_ + "/err.txt");
        return r;
    }

private:
    std::string dir_;
    pid_t pid_ = -1;
};

inline CliResult runCli(const tarnvel::test::TempDir& dir, const std::vector<std::string>& args)
{
    CliProcess p(dir, args);
    return p.wait();
}

// Waits until `ready` holds (polling), at most `timeout`.
template <typename Pred>
bool waitFor(Pred ready, std::chrono::seconds timeout = std::chrono::seconds(60))
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!ready()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

} // namespace tarnvel::cli::test
