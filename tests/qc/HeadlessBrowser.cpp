#include "HeadlessBrowser.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tarnvel::qc::test {

namespace fs = std::filesystem;

std::string HeadlessBrowser::program()
{
    for (const char* p : {"/usr/bin/chromium", "/usr/bin/chromium-browser"})
        if (::access(p, X_OK) == 0)
            return p;
    return {};
}

HeadlessBrowser::HeadlessBrowser(const fs::path& folder)
{
    // A browser that dies would end this process with SIGPIPE on the next command.
    std::signal(SIGPIPE, SIG_IGN);
    const std::string exe = program();
    if (exe.empty()) {
        error_ = "no Chromium installed";
        return;
    }
    fs::create_directories(folder / "profile");
    // Without these the browser reaches for the network (updates, sync, field trials).
    std::vector<std::string> args = {exe,
                                     "--headless",
                                     "--no-sandbox",
                                     "--disable-gpu",
                                     "--disable-quic",
                                     "--no-first-run",
                                     "--disable-background-networking",
                                     "--disable-component-update",
                                     "--disable-sync",
                                     "--disable-dev-shm-usage",
                                     "--hide-scrollbars",
                                     "--mute-audio",
                                     "--remote-debugging-pipe",
                                     "--user-data-dir=" + (folder / "profile").string(),
                                     "about:blank"};
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string log = (folder / "browser.log").string();

    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) {
        error_ = std::strerror(errno);
        return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
        ::setpgid(0, 0); // its helpers in a group of their own, ended with it
        const int a = ::fcntl(in[0], F_DUPFD, 10);
        const int b = ::fcntl(out[1], F_DUPFD, 10);
        const int logFd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int nullFd = ::open("/dev/null", O_RDONLY);
        if (a < 0 || b < 0 || logFd < 0 || nullFd < 0 || ::dup2(a, 3) < 0 || ::dup2(b, 4) < 0 ||
            ::dup2(nullFd, 0) < 0 || ::dup2(logFd, 1) < 0 || ::dup2(logFd, 2) < 0)
            ::_exit(127);
        ::execv(exe.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    toBrowser_ = in[1];
    fromBrowser_ = out[0];
    if (pid_ < 0)
        error_ = std::strerror(errno);
}

HeadlessBrowser::~HeadlessBrowser()
{
    if (pid_ > 0) {
        int id = 0;
        send("Browser.close", "{}", false, id);
        int status = 0;
        bool ended = false;
        for (int i = 0; i < 100 && !ended; ++i) {
            ended = ::waitpid(pid_, &status, WNOHANG) == pid_;
            if (!ended)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (!ended) {
            ::kill(-pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
    }
    if (toBrowser_ >= 0)
        ::close(toBrowser_);
    if (fromBrowser_ >= 0)
        ::close(fromBrowser_);
}

bool HeadlessBrowser::send(const std::string& method, const std::string& params, bool toPage,
                           int& id)
{
    if (toBrowser_ < 0)
        return false;
    id = nextId_++;
    std::string message = "{\"id\":" + std::to_string(id) + ",\"method\":" + jsonQuoted(method) +
                          ",\"params\":" + params;
    if (toPage)
        message += ",\"sessionId\":" + jsonQuoted(session_);
    message += "}";
    message.push_back('\0');
    for (std::size_t done = 0; done < message.size();) {
        const ssize_t n = ::write(toBrowser_, message.data() + done, message.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error_ = "the browser is gone (" + method + ")";
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool HeadlessBrowser::readMessage(std::string& message, int timeoutMs)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto end = pending_.find('\0');
        if (end != std::string::npos) {
            message = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              until - std::chrono::steady_clock::now())
                              .count();
        pollfd p{fromBrowser_, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) {
            error_ = "no answer from the browser";
            return false;
        }
        char buffer[65536];
        const ssize_t n = ::read(fromBrowser_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error_ = "the browser is gone";
            return false;
        }
        pending_.append(buffer, static_cast<std::size_t>(n));
    }
}

bool HeadlessBrowser::reply(int id, std::string& message, int timeoutMs)
{
    const std::string mine = "{\"id\":" + std::to_string(id) + ",";
    while (readMessage(message, timeoutMs)) {
        if (message.rfind("{\"id\":", 0) != 0) {
            events_.push_back(message);
            continue;
        }
        if (message.rfind(mine, 0) != 0)
            continue;
        if (message.find("\"error\":") != std::string::npos &&
            message.find("\"result\":") == std::string::npos) {
            error_ = message;
            return false;
        }
        return true;
    }
    return false;
}

bool HeadlessBrowser::call(const std::string& method, const std::string& params, bool toPage,
                           std::string& message)
{
    int id = 0;
    return send(method, params, toPage, id) && reply(id, message);
}

bool HeadlessBrowser::waitForEvent(const std::string& method, int timeoutMs)
{
    const std::string tag = "{\"method\":" + jsonQuoted(method);
    for (;;) {
        for (; eventsSeen_ < events_.size(); ++eventsSeen_)
            if (events_[eventsSeen_].rfind(tag, 0) == 0) {
                ++eventsSeen_;
                return true;
            }
        std::string message;
        if (!readMessage(message, timeoutMs))
            return false;
        if (message.rfind("{\"id\":", 0) != 0)
            events_.push_back(message);
    }
}

bool HeadlessBrowser::open()
{
    std::string m;
    if (pid_ <= 0 || !call("Target.createTarget", "{\"url\":\"about:blank\"}", false, m))
        return false;
    const std::string target = jsonString(m, "targetId");
    if (!call("Target.attachToTarget", "{\"targetId\":" + jsonQuoted(target) + ",\"flatten\":true}",
              false, m))
        return false;
    session_ = jsonString(m, "sessionId");
    return call("Page.enable", "{}", true, m) && call("Runtime.enable", "{}", true, m) &&
           call("Log.enable", "{}", true, m);
}

bool HeadlessBrowser::setWindow(int width, int height, bool mobile)
{
    std::string m;
    return call("Emulation.setDeviceMetricsOverride",
                "{\"width\":" + std::to_string(width) + ",\"height\":" + std::to_string(height) +
                    ",\"deviceScaleFactor\":1,\"mobile\":" + (mobile ? "true" : "false") + "}",
                true, m);
}

bool HeadlessBrowser::navigate(const std::string& url)
{
    std::string m;
    eventsSeen_ = events_.size();
    if (!call("Page.navigate", "{\"url\":" + jsonQuoted(url) + "}", true, m))
        return false;
    if (!jsonString(m, "errorText").empty()) {
        error_ = url + ": " + jsonString(m, "errorText");
        return false;
    }
    return waitForEvent("Page.loadEventFired", 30000);
}

bool HeadlessBrowser::evaluate(const std::string& expression, std::string& value)
{
    std::string m;
    if (!call("Runtime.evaluate",
              "{\"expression\":" + jsonQuoted(expression) + ",\"returnByValue\":true}", true, m))
        return false;
    if (m.find("\"exceptionDetails\"") != std::string::npos) {
        error_ = m;
        return false;
    }
    value = jsonString(m, "value");
    return true;
}

bool HeadlessBrowser::screenshot(const fs::path& png)
{
    std::string m;
    if (!call("Page.captureScreenshot", "{\"format\":\"png\"}", true, m))
        return false;
    const std::vector<unsigned char> bytes = base64Decoded(jsonString(m, "data"));
    std::ofstream out(png, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out) && !bytes.empty();
}

std::vector<std::string> HeadlessBrowser::consoleErrors() const
{
    std::vector<std::string> errors;
    for (const std::string& e : events_) {
        const bool exception = e.rfind("{\"method\":\"Runtime.exceptionThrown\"", 0) == 0;
        const bool console = e.rfind("{\"method\":\"Runtime.consoleAPICalled\"", 0) == 0 &&
                             (e.find("\"type\":\"error\"") != std::string::npos ||
                              e.find("\"type\":\"assert\"") != std::string::npos);
        const bool log = e.rfind("{\"method\":\"Log.entryAdded\"", 0) == 0 &&
                         e.find("\"level\":\"error\"") != std::string::npos;
        if (exception || console || log)
            errors.push_back(e.substr(0, 600));
    }
    return errors;
}

std::string jsonString(const std::string& message, const std::string& key)
{
    const std::string tag = jsonQuoted(key) + ":\"";
    const auto at = message.find(tag);
    if (at == std::string::npos)
        return {};
    std::string out;
    for (std::size_t i = at + tag.size(); i < message.size() && message[i] != '"'; ++i) {
        if (message[i] == '\\' && i + 1 < message.size()) {
            const char c = message[++i];
            out += c == 'n' ? '\n' : c == 't' ? '\t' : c;
        } else {
            out += message[i];
        }
    }
    return out;
}

std::string jsonQuoted(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char u[8];
            std::snprintf(u, sizeof u, "\\u%04x", c);
            out += u;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::vector<unsigned char> base64Decoded(const std::string& text)
{
    std::vector<unsigned char> out;
    unsigned value = 0;
    int bits = 0;
    for (const char c : text) {
        int v;
        if (c >= 'A' && c <= 'Z')
            v = c - 'A';
        else if (c >= 'a' && c <= 'z')
            v = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            v = c - '0' + 52;
        else if (c == '+')
            v = 62;
        else if (c == '/')
            v = 63;
        else
            continue; // padding, line breaks
        value = value << 6 | static_cast<unsigned>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<unsigned char>(value >> bits));
        }
    }
    return out;
}

} // namespace tarnvel::qc::test
