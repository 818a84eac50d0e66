#include "sound/SoundServers.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace tarnvel::test {

namespace {

using Env = std::vector<std::pair<std::string, std::string>>;

// Everything the child needs is built before fork(): after it only async-signal-safe calls.
struct ExecImage {
    std::vector<std::string> args;
    std::vector<std::string> envStrings;
    std::vector<char*> argv;
    std::vector<char*> envp;

    ExecImage(const std::vector<std::string>& a, const Env& env) : args(a)
    {
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry = *e;
            bool replaced = false;
            for (const auto& [k, v] : env)
                replaced = replaced || entry.rfind(k + "=", 0) == 0;
            if (!replaced)
                envStrings.push_back(entry);
        }
        for (const auto& [k, v] : env)
            envStrings.push_back(k + "=" + v);
        for (auto& s : args)
            argv.push_back(s.data());
        argv.push_back(nullptr);
        for (auto& s : envStrings)
            envp.push_back(s.data());
        envp.push_back(nullptr);
    }
};

void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

bool ChildProcess::start(const std::vector<std::string>& argv, const Env& env,
                         const std::string& logFile)
{
    stop();
    ExecImage image(argv, env);
    const int log = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        if (log >= 0)
            ::close(log);
        return false;
    }
    if (pid == 0) {
        // The server must not outlive the test process, whatever ends it.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        ::setpgid(0, 0);
        const int devnull = ::open("/dev/null", O_RDONLY);
        if (devnull >= 0)
            ::dup2(devnull, 0);
        if (log >= 0) {
            ::dup2(log, 1);
            ::dup2(log, 2);
        }
        ::execvpe(image.argv[0], image.argv.data(), image.envp.data());
        ::_exit(127);
    }
    if (log >= 0)
        ::close(log);
    pid_ = pid;
    return true;
}

bool ChildProcess::running()
{
    if (pid_ <= 0)
        return false;
    int status = 0;
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_ || (r < 0 && errno == ECHILD)) {
        pid_ = -1;
        return false;
    }
    return true;
}

void ChildProcess::stop(int graceMs)
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    for (int waited = 0; waited < graceMs; waited += 10) {
        if (!running())
            return;
        sleepMs(10);
    }
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

std::string runCommand(const std::vector<std::string>& argv, const Env& env, bool& ok,
                       int timeoutMs)
{
    ok = false;
    ExecImage image(argv, env);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return {};
    }
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::dup2(fds[1], 1);
        const int devnull = ::open("/dev/null", O_WRONLY);
        if (devnull >= 0)
            ::dup2(devnull, 2); // library chatter stays out of what tests look at
        ::execvpe(image.argv[0], image.argv.data(), image.envp.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
    std::string out;
    char buf[4096];
    int status = 0;
    bool exited = false;
    for (int waited = 0; waited < timeoutMs; waited += 5) {
        ssize_t n;
        while ((n = ::read(fds[0], buf, sizeof buf)) > 0)
            out.append(buf, static_cast<std::size_t>(n));
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            exited = true;
            break;
        }
        sleepMs(5);
    }
    if (!exited) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0)
        out.append(buf, static_cast<std::size_t>(n));
    ::close(fds[0]);
    ok = exited && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return out;
}

bool programAvailable(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':'))
        if (!dir.empty() && ::access((dir + "/" + name).c_str(), X_OK) == 0)
            return true;
    return false;
}

bool runningOnCi()
{
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::string(ci) == "true";
}

bool PulseServer::start(std::string& why)
{
    const std::string dir = dir_.path().string();
    const std::string socket = dir + "/native";
    const std::string script = dir + "/server.pa";
    {
        std::ofstream pa(script);
        pa << "load-module module-native-protocol-unix auth-anonymous=1 socket=" << socket
           << "\n"
           // Without norewinds the null sink runs streams at a fraction of real time.
           << "load-module module-null-sink sink_name=tarnvel_null rate=48000 channels=2 "
              "norewinds=1\n"
           << "set-default-sink tarnvel_null\n"
           << "set-default-source tarnvel_null.monitor\n";
    }
    {
        // Clients must never spawn a server of their own.
        std::ofstream client(dir + "/client.conf");
        client << "autospawn = no\n";
    }
    address_ = "unix:" + socket;
    const Env env = {{"HOME", dir}, {"XDG_RUNTIME_DIR", dir}, {"XDG_CONFIG_HOME", dir}};
    if (!process_.start({"pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "--system=false",
                         "-n", "-F", script},
                        env, dir + "/server.log")) {
        why = "cannot start pulseaudio";
        return false;
    }
    const Env client = {{"PULSE_SERVER", address_}, {"PULSE_CLIENTCONFIG", dir + "/client.conf"}};
    for (int waited = 0; waited < 10000; waited += 50) {
        if (!process_.running()) {
            why = "pulseaudio exited:\n" + log();
            return false;
        }
        bool ok = false;
        runCommand({"pactl", "info"}, client, ok, 2000);
        if (ok) {
            for (const auto& [k, v] : client)
                ::setenv(k.c_str(), v.c_str(), 1);
            return true;
        }
        sleepMs(50);
    }
    why = "pulseaudio did not answer:\n" + log();
    stop();
    return false;
}

void PulseServer::stop()
{
    process_.stop();
}

std::string PulseServer::log() const
{
    return readFile(dir_.file("server.log"));
}

bool JackServer::start(std::string& why)
{
    const std::string dir = dir_.path().string();
    name_ = "tarnvel" + std::to_string(::getpid());
    const Env env = {{"HOME", dir}, {"XDG_RUNTIME_DIR", dir}, {"JACK_NO_AUDIO_RESERVATION", "1"}};
    // A generous client time-out: on a loaded machine (or in a sanitizer build) a client may
    // take a while to answer the server, which would otherwise throw it out.
    if (!process_.start({"jackd", "-n", name_, "-r", "-t", "5000", "-d", "dummy", "-r", "48000",
                         "-p", "256", "-C", "2", "-P", "2"},
                        env, dir + "/server.log")) {
        why = "cannot start jackd";
        return false;
    }
    ::setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
    ::setenv("JACK_NO_START_SERVER", "1", 1);
    for (int waited = 0; waited < 10000; waited += 50) {
        if (!process_.running()) {
            why = "jackd exited:\n" + log();
            return false;
        }
        bool ok = false;
        const std::string ports = runCommand({"jack_lsp", "-s", name_}, {}, ok, 2000);
        if (ok && ports.find("system:playback_1") != std::string::npos)
            return true;
        sleepMs(50);
    }
    why = "jackd did not answer:\n" + log();
    stop();
    return false;
}

void JackServer::stop()
{
    process_.stop();
}

std::string JackServer::connections()
{
    bool ok = false;
    return runCommand({"jack_lsp", "-s", name_, "-c"}, {}, ok);
}

bool JackServer::connect(const std::string& from, const std::string& to)
{
    bool ok = false;
    runCommand({"jack_connect", "-s", name_, from, to}, {}, ok);
    return ok;
}

std::string JackServer::log() const
{
    return readFile(dir_.file("server.log"));
}

} // namespace tarnvel::test
