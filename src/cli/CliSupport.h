#pragma once

#include "common/MessageSink.h"

#include <cstdint>
#include <initializer_list>
#include <limits>
#include <string>
#include <string_view>

namespace CLI {
class App;
class Error;
class Validator;
} // namespace CLI

namespace tarnvel::dat {
class DatDrive;
}

// Pieces every subcommand file shares, so that all commands check, refuse and print alike.
namespace tarnvel::cli {

struct CliContext;

// ---- Option checks ----
// Each check gives a plain message after the option's name ("--count must be at least 1") and
// accepts only what the option's type holds, so CLI11's own conversion never fails:
//   cmd->add_option("--count", opt.count, "...")->check(atLeast(1));
// Whole numbers: decimal digits with an optional sign, nothing else. `limit` is the largest value
// the option's variable holds (int by default).
CLI::Validator atLeast(std::int64_t min,
                       std::int64_t limit = std::numeric_limits<std::int32_t>::max());
CLI::Validator between(std::int64_t min, std::int64_t max);
// A finite number greater than 0 (seconds, rates); "nan", "inf" and negatives are refused.
CLI::Validator positiveNumber();
// An ABS time as the locate command reads it: HH:MM:SS:FF.
CLI::Validator absTime();
// One of the listed words, compared exactly.
CLI::Validator oneOf(std::initializer_list<const char*> words);

// Reports a command-line error and returns the exit code: an unknown subcommand is named, a
// failed check reads "--option must ...", everything else as CLI11 says it.
int reportParseError(CLI::App& app, const CLI::Error& error);

// ---- Files ----
// True when `path` may be created: nothing is there yet, or --yes allows replacing it.
// Otherwise says so on stderr and returns false.
bool mayReplace(const CliContext& ctx, const std::string& path);

// File contents shown on a terminal (image comments, cue paths, settings values) with control
// bytes (C0, DEL and the C1 range as UTF-8) written as \xHH, so that a file cannot move the
// cursor, retitle the window or hide text. Tabs stay; line breaks stay when `keepLineBreaks`.
std::string printable(std::string_view text, bool keepLineBreaks = false);

// A new file written beside its target under a temporary name ("STEM.partial-XXXXXX.EXT") and
// moved over the target only by commit(), so that a run that fails to start or ends without
// output leaves an existing target exactly as it was. Writers that continue in further files
// (NAME_1.WAV ...) give `continuation`, the name of the n-th continuation of a name; those are
// moved and removed alike. A crash leaves the temporary file, readable, beside the target.
class StagedFile {
public:
    using ContinuationName = std::string (*)(const std::string& name, int n);

    StagedFile(std::string target, ContinuationName continuation = nullptr);
    // Removes the temporary file and its continuations unless committed.
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // False (with errorText) when no temporary file could be made beside the target.
    bool ok() const { return !path_.empty(); }
    const std::string& errorText() const { return error_; }
    // Where to write.
    const std::string& path() const { return path_; }
    const std::string& target() const { return target_; }
    // Renames the temporary file and its first `continuations` continuations over the target's.
    // False after a message on stderr; the files then stay under their temporary names.
    bool commit(int continuations = 0);

private:
    std::string target_;
    std::string path_;
    std::string error_;
    ContinuationName continuation_;
    bool committed_ = false;
};

// ---- Output ----
// Standard output piped to a file or program is written line by line, so that every line
// printed before an interruption or a crash reaches the file. Called first in main.
void lineBufferedWhenPiped();

// Messages of a command-line run go to stderr as they arrive, control bytes escaped. With
// `newLineFirst` each message starts on a line of its own (after a progress line).
class StderrSink : public MessageSink {
public:
    explicit StderrSink(bool newLineFirst = false) : newLineFirst_(newLineFirst) {}
    void showMessage(const std::string& text, MessageIcon icon,
                     const std::string& caption) override;

private:
    bool newLineFirst_;
};

// `--log` asks for TVDAT.LOG; says so when the drive could not open it (logging is then off).
void warnIfLogOff(const CliContext& ctx, const dat::DatDrive& drive);

} // namespace tarnvel::cli
