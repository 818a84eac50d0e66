#pragma once

// The programs' own --help texts as data, and what is made from them at build time: the
// option and command lists of the man pages and the bash completion of tarnvel-cli. Reading
// the help (rather than a list kept here) keeps both in step with every subcommand added.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnvel::packaging {

// One option or positional argument as the help lists it.
struct HelpEntry {
    std::vector<std::string> names; // "-y", "--yes"; a positional's name ("FILE")
    std::string value;              // what the option takes ("TEXT", "INT:1-2"); empty: a flag
    std::string description;
    std::vector<std::string> choices; // the values a value must be one of, when the help says

    bool takesValue() const { return !value.empty(); }
};

// One command: the program itself (empty path) or a subcommand.
struct HelpCommand {
    std::vector<std::string> path; // {"sim", "new"}
    std::string description;
    std::string usage; // after the program's name: "sim new [OPTIONS] FILE"
    std::vector<HelpEntry> positionals;
    std::vector<HelpEntry> options;
    std::vector<HelpCommand> subcommands; // in the order of the help

    std::string pathText() const; // "sim new"
};

// A command's help as the command line's parser (CLI11) prints it. The subcommands come with
// their path and description only.
HelpCommand parseCommandHelp(std::string_view text, const std::vector<std::string>& path);

// The options of a Qt program's help (QCommandLineParser).
std::vector<HelpEntry> parseQtOptions(std::string_view text);

// Runs `PROGRAM ARGS... --help` and returns what it printed; throws on failure.
using HelpReader = std::function<std::string(const std::vector<std::string>& args)>;
HelpReader programHelpReader(const std::string& program);

// The whole command tree, asking `read` for the help of every command down from the program.
HelpCommand readCommandTree(const HelpReader& read);

// Text for roff (man): backslashes escaped, option names' hyphens as minus signs.
std::string roffText(std::string_view text);
// A man page's option list (.TP paragraphs).
std::string manOptionList(const std::vector<HelpEntry>& options, bool withHelp);
// Every command below `root`: a subsection each with its usage, description, arguments and
// options.
std::string manCommandSections(const HelpCommand& root, const std::string& program);

// A bash completion script for `program`: subcommands, each command's options (the
// program's own options apply after a subcommand too), and the choices of option values.
// Anything else completes file names.
std::string bashCompletion(const HelpCommand& root, const std::string& program);

// `text` with every line that is exactly "@NAME@" replaced by `values`' text for NAME, and
// "@VERSION@" within lines by `version`. Throws when a placeholder has no value.
std::string fillTemplate(std::string_view text, const std::string& version,
                         const std::vector<std::pair<std::string, std::string>>& values);

} // namespace tarnvel::packaging
