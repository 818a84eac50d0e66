#include "cli/CliSupport.h"

#include "cli/CliContext.h"
#include "cli/CliMessages.h"
#include "dat/DatDrive.h"
#include "dat/LocateTarget.h"
#include "formats/StringPrintf.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <optional>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tarnvel::cli {

using formats::stringPrintf;

namespace {

// The message of the last failed check, so that the report can put it after the option's name
// without CLI11's colon. Parsing runs on one thread.
std::string gCheckFailure;

std::string failCheck(std::string text)
{
    gCheckFailure = text;
    return text;
}

std::optional<std::int64_t> wholeNumber(const std::string& text)
{
    std::int64_t value = 0;
    const char* begin = text.data();
    const char* end = text.data() + text.size();
    if (begin != end && *begin == '+')
        ++begin;
    const auto [at, error] = std::from_chars(begin, end, value);
    if (begin == end || error != std::errc() || at != end)
        return std::nullopt;
    return value;
}

std::string lastPathPart(const std::string& path, std::string& folder)
{
    const std::size_t slash = path.rfind('/');
    folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

CLI::Validator atLeast(std::int64_t min, std::int64_t limit)
{
    return CLI::Validator(
        [min, limit](std::string& text) -> std::string {
            const std::optional<std::int64_t> value = wholeNumber(text);
            if (!value)
                return failCheck(tr(msg::kMustBeWholeNumber));
            if (*value < min)
                return failCheck(
                    stringPrintf(tr(msg::kMustBeAtLeast), static_cast<long long>(min)));
            if (*value > limit)
                return failCheck(
                    stringPrintf(tr(msg::kMustBeAtMost), static_cast<long long>(limit)));
            return {};
        },
        stringPrintf(">= %lld", static_cast<long long>(min)));
}

CLI::Validator between(std::int64_t min, std::int64_t max)
{
    return CLI::Validator(
        [min, max](std::string& text) -> std::string {
            const std::optional<std::int64_t> value = wholeNumber(text);
            if (!value || *value < min || *value > max)
                return failCheck(stringPrintf(tr(msg::kMustBeFromTo), static_cast<long long>(min),
                                              static_cast<long long>(max)));
            return {};
        },
        stringPrintf("%lld-%lld", static_cast<long long>(min), static_cast<long long>(max)));
}

CLI::Validator positiveNumber()
{
    return CLI::Validator(
        [](std::string& text) -> std::string {
            errno = 0;
            char* end = nullptr;
            const double value = text.empty() || std::isspace(static_cast<unsigned char>(text[0]))
                                     ? 0.0
                                     : std::strtod(text.c_str(), &end);
            if (end == nullptr || *end != '\0' || errno != 0 || !std::isfinite(value) || value <= 0)
                return failCheck(tr(msg::kMustBePositive));
            return {};
        },
        "> 0");
}

CLI::Validator absTime()
{
    return CLI::Validator(
        [](std::string& text) -> std::string {
            const std::optional<dat::LocateTarget> t = dat::locateAbsText(text);
            if (!t)
                return failCheck(tr(msg::kMustBeAbsTime));
            // The digits are the BCD bytes: a time no tape carries is refused here rather
            // than searched for in vain.
            if (t->b >= 0x60 || t->c >= 0x60 || t->e >= 0x34)
                return failCheck(tr(msg::kMustBeTapeTime));
            return {};
        },
        "HH:MM:SS:FF");
}

CLI::Validator oneOf(std::initializer_list<const char*> words)
{
    std::vector<std::string> list(words.begin(), words.end());
    // "on or off", "8, 16, 24, 32 or -32"
    std::string said;
    for (std::size_t i = 0; i < list.size(); ++i)
        said += (i == 0 ? "" : i + 1 == list.size() ? " or " : ", ") + list[i];
    std::string shown;
    for (const std::string& w : list)
        shown += (shown.empty() ? "" : "|") + w;
    return CLI::Validator(
        [list, said](std::string& text) -> std::string {
            for (const std::string& w : list)
                if (text == w)
                    return {};
            return failCheck(stringPrintf(tr(msg::kMustBeOneOf), said.c_str()));
        },
        shown);
}

int reportParseError(CLI::App& app, const CLI::Error& error)
{
    const std::string name = error.get_name();
    if (name == "RequiredError" || name == "ExtrasError") {
        // The deepest subcommand given; a word it did not take is a command it does not know.
        CLI::App* at = &app;
        for (auto subs = at->get_subcommands(); !subs.empty(); subs = at->get_subcommands())
            at = subs.front();
        if (at->get_require_subcommand_min() > 0 && at->get_subcommands().empty()) {
            for (CLI::App* level = at; level != nullptr; level = level->get_parent()) {
                const std::vector<std::string> rest = level->remaining();
                if (!rest.empty() && !rest.front().empty() && rest.front()[0] != '-') {
                    std::cerr << stringPrintf(tr(msg::kUnknownCommand), rest.front().c_str())
                              << "\n"
                              << tr(msg::kRunHelp) << "\n";
                    return error.get_exit_code();
                }
            }
        }
    }
    if (name == "ValidationError" && !gCheckFailure.empty()) {
        const std::string text = error.what();
        const std::string tail = ": " + gCheckFailure;
        if (text.size() > tail.size() &&
            text.compare(text.size() - tail.size(), tail.size(), tail) == 0) {
            std::cerr << text.substr(0, text.size() - tail.size()) << " " << gCheckFailure << "\n"
                      << tr(msg::kRunHelp) << "\n";
            return error.get_exit_code();
        }
    }
    return app.exit(error);
}

bool mayReplace(const CliContext& ctx, const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return true;
    // Only a regular file is ever replaced: a FIFO would block the run, a device or a folder
    // is not ours to write (a link to a regular file counts as one).
    struct stat target {};
    if (::stat(path.c_str(), &target) == 0 && !S_ISREG(target.st_mode)) {
        std::cerr << stringPrintf(tr(msg::kNotRegularOutput), printable(path).c_str(),
                                  S_ISDIR(target.st_mode) ? tr(msg::kIsFolder)
                                                          : tr(msg::kIsNotRegular))
                  << "\n";
        return false;
    }
    if (ctx.assumeYes)
        return true;
    std::cerr << stringPrintf(tr(msg::kReplaceRefused), printable(path).c_str()) << "\n";
    return false;
}

std::string printable(std::string_view text, bool keepLineBreaks)
{
    std::string out;
    out.reserve(text.size());
    auto escape = [&out](unsigned char c) {
        static constexpr char kHex[] = "0123456789ABCDEF";
        out += "\\x";
        out += kHex[c >> 4];
        out += kHex[c & 15];
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\t' || (c == '\n' && keepLineBreaks)) {
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            escape(c);
        } else if (c == 0xC2 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            // U+0080..U+009F: the C1 controls, which some terminals obey.
            escape(c);
            escape(static_cast<unsigned char>(text[++i]));
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

StagedFile::StagedFile(std::string target, ContinuationName continuation)
    : target_(std::move(target)), continuation_(continuation)
{
    std::string folder;
    const std::string name = lastPathPart(target_, folder);
    const std::size_t dot = name.rfind('.');
    const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    const std::string ext = dot == std::string::npos || dot == 0 ? "" : name.substr(dot);
    static constexpr char kChars[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device random;
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kChars - 2);
    int error = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string suffix;
        for (int i = 0; i < 6; ++i)
            suffix += kChars[pick(random)];
        const std::string candidate = folder + stem + ".partial-" + suffix + ext;
        // Created here with the usual permissions (mode 0666 less the umask), then written anew.
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            path_ = candidate;
            return;
        }
        error = errno;
        if (error != EEXIST)
            break;
    }
    error_ = stringPrintf(tr(msg::kStagingFailed), target_.c_str(), std::strerror(error));
}

StagedFile::~StagedFile()
{
    if (committed_ || path_.empty())
        return;
    ::unlink(path_.c_str());
    if (continuation_ != nullptr)
        for (int n = 1; ::unlink(continuation_(path_, n).c_str()) == 0; ++n) {
        }
}

bool StagedFile::commit(int continuations)
{
    if (path_.empty())
        return false;
    if (continuation_ == nullptr)
        continuations = 0;
    for (int n = 0; n <= continuations; ++n) {
        const std::string from = n == 0 ? path_ : continuation_(path_, n);
        const std::string to = n == 0 ? target_ : continuation_(target_, n);
        if (::rename(from.c_str(), to.c_str()) != 0) {
            std::cerr << stringPrintf(tr(msg::kCommitFailed), from.c_str(), to.c_str(),
                                      std::strerror(errno))
                      << "\n";
            committed_ = true; // keep what is left where it is
            return false;
        }
    }
    committed_ = true;
    return true;
}

void lineBufferedWhenPiped()
{
    if (::isatty(STDOUT_FILENO) == 0)
        std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
}

void StderrSink::showMessage(const std::string& text, MessageIcon, const std::string&)
{
    std::cerr << (newLineFirst_ ? "\n" : "") << printable(text, true) << "\n";
}

void warnIfLogOff(const CliContext& ctx, const dat::DatDrive& drive)
{
    if ((ctx.log || ctx.logFull) && !drive.logging())
        std::cerr << tr(msg::kLogNotWritable) << "\n";
}

} // namespace tarnvel::cli
