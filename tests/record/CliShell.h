#pragma once

#include <cstdio>
#include <string>
#include <sys/wait.h>

// Runs tarnvel-cli through the shell as a user types it, with its standard output collected.
namespace tarnvel::test {

struct CliRun {
    int exitCode;
    std::string out;
};

// `stderrTo` is where the shell sends standard error ("&1" joins it to the output). A run that
// would hang (a reader waiting on a FIFO) is ended after five minutes instead of the suite.
inline CliRun cli(const std::string& args, const std::string& stderrTo = "/dev/null")
{
    const std::string command =
        "timeout 300 " + std::string(TARNVEL_CLI) + " " + args + " 2>" + stderrTo;
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr)
        return {-1, ""};
    std::string out;
    char buf[512];
    while (std::fgets(buf, sizeof buf, p) != nullptr)
        out += buf;
    const int status = pclose(p);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

} // namespace tarnvel::test
