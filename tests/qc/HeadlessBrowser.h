#pragma once

#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tarnvel::qc::test {

// Headless Chromium driven over its DevTools pipe (JSON messages ending in a NUL byte on file
// descriptors 3 and 4), with a profile folder of its own and no network: a page is opened,
// measured with a script of ours, and photographed; what its console said is collected.
class HeadlessBrowser {
public:
    // The browser program, or empty when none is installed.
    static std::string program();

    // Starts the browser; `folder` takes its profile and its log.
    explicit HeadlessBrowser(const std::filesystem::path& folder);
    // Closes the browser (killed when it does not end within a few seconds).
    ~HeadlessBrowser();
    HeadlessBrowser(const HeadlessBrowser&) = delete;
    HeadlessBrowser& operator=(const HeadlessBrowser&) = delete;

    // Why the last step failed.
    const std::string& error() const { return error_; }

    // Opens a page of its own.
    bool open();
    // The size of the page's window in CSS pixels; `mobile` as a phone shows pages (the
    // page's viewport setting applies).
    bool setWindow(int width, int height, bool mobile);
    // Loads a URL and waits for its load event.
    bool navigate(const std::string& url);
    // The value of a script that gives a string.
    bool evaluate(const std::string& expression, std::string& value);
    // A PNG of what the window shows.
    bool screenshot(const std::filesystem::path& png);
    // Console messages of level error, uncaught exceptions and failed loads since opening.
    std::vector<std::string> consoleErrors() const;

private:
    bool send(const std::string& method, const std::string& params, bool toPage, int& id);
    // Waits for the reply to `id` (events meanwhile are kept); false on an error reply.
    bool reply(int id, std::string& message, int timeoutMs = 30000);
    bool call(const std::string& method, const std::string& params, bool toPage,
              std::string& message);
    bool readMessage(std::string& message, int timeoutMs);
    bool waitForEvent(const std::string& method, int timeoutMs);

    pid_t pid_ = -1;
    int toBrowser_ = -1;
    int fromBrowser_ = -1;
    std::string pending_;
    int nextId_ = 1;
    std::string session_;
    std::vector<std::string> events_;
    std::size_t eventsSeen_ = 0;
    std::string error_;
};

// The value of a string field of a JSON message ("" when absent).
std::string jsonString(const std::string& message, const std::string& key);
// Text as a JSON string literal, quotes included.
std::string jsonQuoted(const std::string& text);
std::vector<unsigned char> base64Decoded(const std::string& text);

} // namespace tarnvel::qc::test
