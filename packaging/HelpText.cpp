#include "HelpText.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <set>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace tarnvel::packaging {

namespace {

// CLI11 pads an entry's name to this column; a longer name puts the description on the next
// line, indented to it.
constexpr std::size_t kCli11Column = 30;

std::string trim(std::string_view s)
{
    const auto first = s.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    return std::string(s.substr(first, s.find_last_not_of(' ') - first + 1));
}

std::vector<std::string> splitLines(std::string_view text)
{
    std::vector<std::string> lines;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string line(text.substr(0, end));
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(std::move(line));
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

std::vector<std::string> split(std::string_view s, char by)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const auto end = s.find(by, start);
        const std::string part = trim(s.substr(start, end - start));
        if (!part.empty())
            parts.push_back(part);
        if (end == std::string_view::npos)
            return parts;
        start = end + 1;
    }
}

std::string join(const std::vector<std::string>& parts, std::string_view by)
{
    std::string out;
    for (const std::string& p : parts)
        out += (out.empty() ? "" : std::string(by)) + p;
    return out;
}

bool isIndentedEntry(const std::string& line)
{
    return line.size() > 2 && line[0] == ' ' && line[1] == ' ' && line[2] != ' ';
}

bool isContinuation(const std::string& line)
{
    return line.size() > 3 && line.compare(0, 3, "   ") == 0 && trim(line).size() > 0;
}

// The values a value text names: "INT:{12,16,24}" or "TEXT:on|off". Only plain words: they
// go into the completion script as they are.
std::vector<std::string> choicesOf(const std::string& value)
{
    const auto colon = value.find(':');
    if (colon == std::string::npos)
        return {};
    std::string rest = value.substr(colon + 1);
    std::vector<std::string> choices;
    if (rest.size() > 2 && rest.front() == '{' && rest.back() == '}')
        choices = split(std::string_view(rest).substr(1, rest.size() - 2), ',');
    else if (rest.find('|') != std::string::npos)
        choices = split(rest, '|');
    for (const std::string& c : choices)
        for (char ch : c)
            if (!std::isalnum(static_cast<unsigned char>(ch)) && std::strchr("_.+-", ch) == nullptr)
                return {};
    return choices;
}

// "-y,--yes", "--preread INT:0-5", "--frames TEXT Needs: --kind", "--set TEXT ...",
// "FILE TEXT REQUIRED": the names, then the value up to the remarks CLI11 adds.
HelpEntry parseEntryName(const std::string& name, bool positional)
{
    HelpEntry e;
    const std::vector<std::string> words = split(name, ' ');
    if (words.empty())
        return e;
    e.names = positional ? std::vector<std::string>{words[0]} : split(words[0], ',');
    std::vector<std::string> value;
    for (std::size_t i = 1; i < words.size(); ++i) {
        const std::string& w = words[i];
        if (w == "REQUIRED" || w == "..." || w == "Needs:" || w == "Excludes:" ||
            w.rfind("(Env:", 0) == 0)
            break;
        value.push_back(w);
    }
    e.value = join(value, " ");
    e.choices = choicesOf(e.value);
    return e;
}

void appendDescription(std::string& description, const std::string& more)
{
    if (!more.empty())
        description += (description.empty() ? "" : " ") + more;
}

bool isHelpOption(const HelpEntry& e)
{
    return std::find(e.names.begin(), e.names.end(), "--help") != e.names.end();
}

// Leading "." and "'" would be taken as requests.
std::string roffLine(std::string_view text)
{
    std::string out = roffText(text);
    if (!out.empty() && (out[0] == '.' || out[0] == '\''))
        out.insert(0, "\\&");
    return out;
}

std::string bashWord(const std::string& word)
{
    for (char c : word)
        if (!std::isalnum(static_cast<unsigned char>(c)) && std::strchr("_.+-:| ", c) == nullptr)
            throw std::runtime_error("not a plain word for the completion script: " + word);
    return "'" + word + "'";
}

void collect(const HelpCommand& c, std::vector<const HelpCommand*>& all)
{
    all.push_back(&c);
    for (const HelpCommand& s : c.subcommands)
        collect(s, all);
}

void readSubcommands(HelpCommand& c, const HelpReader& read)
{
    for (HelpCommand& sub : c.subcommands) {
        HelpCommand full = parseCommandHelp(read(sub.path), sub.path);
        if (full.description.empty())
            full.description = sub.description;
        sub = std::move(full);
        readSubcommands(sub, read);
    }
}

} // namespace

std::string HelpCommand::pathText() const
{
    return join(path, " ");
}

HelpCommand parseCommandHelp(std::string_view text, const std::vector<std::string>& path)
{
    enum class Section { Head, Other, Positionals, Options, Subcommands };
    HelpCommand cmd;
    cmd.path = path;
    Section section = Section::Head;
    std::string* description = nullptr; // of the entry continuation lines belong to
    const std::vector<std::string> lines = splitLines(text);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (section == Section::Head) {
            if (line.rfind("Usage:", 0) == 0) {
                // "Usage: ./build/src/cli/tarnvel-cli sim new [OPTIONS] FILE": the program's
                // path as it was started is dropped.
                const std::string usage = trim(line.substr(6));
                const auto space = usage.find(' ');
                cmd.usage = space == std::string::npos ? "" : trim(usage.substr(space));
                section = Section::Other;
            } else {
                appendDescription(cmd.description, trim(line));
            }
            continue;
        }
        if (trim(line).empty()) {
            description = nullptr;
            continue;
        }
        if (line[0] != ' ') {
            // A heading. Options put in groups are listed under their group's name.
            const std::string heading = trim(line);
            if (heading == "Positionals:")
                section = Section::Positionals;
            else if (heading == "Subcommands:")
                section = Section::Subcommands;
            else if (heading.back() == ':')
                section = Section::Options;
            else
                section = Section::Other; // a footer
            description = nullptr;
            continue;
        }
        if (isContinuation(line)) {
            if (description != nullptr)
                appendDescription(*description, trim(line));
            continue;
        }
        if (!isIndentedEntry(line) || section == Section::Other)
            continue;
        // The name fills the line when the description starts on the next one; otherwise
        // the description starts at the column. (A description of several lines after a
        // short name would be misread; the programs here have none.)
        std::string name;
        std::string said;
        const bool descriptionBelow = i + 1 < lines.size() && isContinuation(lines[i + 1]);
        if (!descriptionBelow && line.size() > kCli11Column && line[kCli11Column - 1] == ' ') {
            name = trim(line.substr(0, kCli11Column));
            said = trim(line.substr(kCli11Column));
        } else {
            name = trim(line);
        }
        if (section == Section::Subcommands) {
            HelpCommand sub;
            sub.path = path;
            sub.path.push_back(name);
            sub.description = said;
            cmd.subcommands.push_back(std::move(sub));
            description = &cmd.subcommands.back().description;
        } else {
            const bool positional = section == Section::Positionals;
            HelpEntry e = parseEntryName(name, positional);
            e.description = said;
            auto& list = positional ? cmd.positionals : cmd.options;
            list.push_back(std::move(e));
            description = &list.back().description;
        }
    }
    return cmd;
}

std::vector<HelpEntry> parseQtOptions(std::string_view text)
{
    std::vector<HelpEntry> options;
    bool inOptions = false;
    for (const std::string& line : splitLines(text)) {
        if (!line.empty() && line[0] != ' ') {
            inOptions = trim(line) == "Options:";
            continue;
        }
        if (!inOptions || trim(line).empty())
            continue;
        if (isIndentedEntry(line) && line[2] == '-') {
            // "  -h, --help             Displays ...", "  --drive <SPEC>     Drive to use ..."
            const auto gap = line.find("  ", 2);
            const std::string head = trim(line.substr(0, gap));
            HelpEntry e;
            const auto value = head.find(" <");
            e.names = split(head.substr(0, value), ',');
            if (value != std::string::npos)
                e.value = trim(head.substr(value));
            if (gap != std::string::npos)
                e.description = trim(line.substr(gap));
            options.push_back(std::move(e));
        } else if (!options.empty()) {
            appendDescription(options.back().description, trim(line));
        }
    }
    return options;
}

HelpReader programHelpReader(const std::string& program)
{
    return [program](const std::vector<std::string>& args) {
        std::vector<std::string> argv{program};
        argv.insert(argv.end(), args.begin(), args.end());
        argv.push_back("--help");
        const std::string shown = join(argv, " ");

        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe: " + std::string(std::strerror(errno)));
        const pid_t pid = ::fork();
        if (pid < 0)
            throw std::runtime_error("fork: " + std::string(std::strerror(errno)));
        if (pid == 0) {
            // The help alone: the programs' warnings (a desktop without a session) stay out.
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(out[1], 1);
            if (null >= 0)
                ::dup2(null, 2);
            std::vector<char*> cargv;
            for (std::string& a : argv)
                cargv.push_back(a.data());
            cargv.push_back(nullptr);
            ::execv(program.c_str(), cargv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        std::string text;
        char buf[4096];
        for (;;) {
            const ssize_t n = ::read(out[0], buf, sizeof buf);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            text.append(buf, static_cast<std::size_t>(n));
        }
        ::close(out[0]);
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || text.empty())
            throw std::runtime_error(shown + " failed (status " + std::to_string(status) + ")");
        return text;
    };
}

HelpCommand readCommandTree(const HelpReader& read)
{
    HelpCommand root = parseCommandHelp(read({}), {});
    readSubcommands(root, read);
    return root;
}

std::string roffText(std::string_view text)
{
    std::string out;
    bool wordStart = true;
    bool optionWord = false; // a word such as "--no-divide": its hyphens are minus signs
    for (char c : text) {
        if (wordStart)
            optionWord = c == '-';
        wordStart = c == ' ' || c == '(' || c == '[' || c == '/' || c == ',';
        if (c == '\\')
            out += "\\e";
        else if (c == '-' && optionWord)
            out += "\\-";
        else
            out += c;
    }
    return out;
}

std::string manOptionList(const std::vector<HelpEntry>& options, bool withHelp)
{
    std::string out;
    for (const HelpEntry& e : options) {
        if (!withHelp && isHelpOption(e))
            continue;
        out += ".TP\n";
        std::vector<std::string> names;
        for (const std::string& n : e.names)
            names.push_back("\\fB" + roffText(n) + "\\fR");
        out += join(names, ", ");
        if (e.takesValue())
            out += " \\fI" + roffText(e.value) + "\\fR";
        out += "\n" + roffLine(e.description) + "\n";
    }
    return out;
}

std::string manCommandSections(const HelpCommand& root, const std::string& program)
{
    std::vector<const HelpCommand*> all;
    collect(root, all);
    std::string out;
    for (const HelpCommand* c : all) {
        if (c == &root)
            continue;
        // The usage names the command's path: "sim new [OPTIONS] FILE".
        out += ".SS \"" + roffText(program + " " + c->usage) + "\"\n";
        out += roffLine(c->description) + "\n";
        for (const HelpEntry& p : c->positionals)
            out +=
                ".TP\n\\fI" + roffText(p.names.at(0)) + "\\fR\n" + roffLine(p.description) + "\n";
        out += manOptionList(c->options, false);
    }
    return out;
}

std::string bashCompletion(const HelpCommand& root, const std::string& program)
{
    std::string fn = "_" + program;
    std::replace(fn.begin(), fn.end(), '-', '_');
    std::vector<const HelpCommand*> all;
    collect(root, all);

    std::string commands;
    std::string options;
    std::string values;
    std::string globalValues;
    for (const HelpCommand* c : all) {
        const std::string key = bashWord(c->pathText());
        if (!c->subcommands.empty()) {
            std::vector<std::string> names;
            for (const HelpCommand& s : c->subcommands)
                names.push_back(s.path.back());
            commands += "    " + key + ") REPLY=" + bashWord(join(names, " ")) + " ;;\n";
        }
        // The program's own options are taken after any subcommand too.
        std::vector<std::string> names;
        std::set<std::string> seen;
        for (const auto* list : {&c->options, &root.options})
            for (const HelpEntry& e : *list)
                for (const std::string& n : e.names)
                    if (seen.insert(n).second)
                        names.push_back(n);
        options += "    " + key + ") REPLY=" + bashWord(join(names, " ")) + " ;;\n";
        for (const HelpEntry& e : c->options) {
            if (!e.takesValue())
                continue;
            std::vector<std::string> patterns;
            for (const std::string& n : e.names)
                patterns.push_back(c == &root ? "*'|'" + bashWord(n)
                                              : bashWord(c->pathText() + "|" + n));
            (c == &root ? globalValues : values) += "    " + join(patterns, "|") +
                                                    ") REPLY=" + bashWord(join(e.choices, " ")) +
                                                    " ;;\n";
        }
    }

    std::string s;
    s += "# bash completion for " + program + ", made from its --help when it was built.\n\n";
    s += "# The subcommands of a command (\"\" is the program itself, \"sim\" its sim command).\n";
    s += fn + "_commands()\n{\n    case $1 in\n" + commands + "    *) REPLY='' ;;\n    esac\n}\n\n";
    s += "# The options a command takes.\n";
    s += fn + "_options()\n{\n    case $1 in\n" + options + "    *) REPLY='' ;;\n    esac\n}\n\n";
    s += "# \"COMMAND|OPTION\" when the option takes a value: its choices (none: file names).\n";
    s += fn + "_value()\n{\n    case $1 in\n" + values + globalValues +
         "    *) return 1 ;;\n    esac\n}\n\n";
    s += fn + R"(()
{
    local cur=${COMP_WORDS[COMP_CWORD]} path='' word option='' value=0 glued=0 i REPLY
    # "--opt=VALUE" and "sim:FILE" come split at the sign: the part after it belongs to the
    # word before.
    [[ $cur == = || $cur == : ]] && cur=''
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if [[ $word == = ]]; then
            continue
        elif [[ $word == : ]]; then
            glued=1
            continue
        elif ((glued)); then
            glued=0
        elif ((value)); then
            value=0
        elif [[ $word == -* ]]; then
            option=$word
            )" +
         fn + R"(_value "$path|$option" && value=1
        else
            )" +
         fn + R"(_commands "$path"
            [[ " $REPLY " == *" $word "* ]] && path=${path:+$path }$word
        fi
    done
    [[ ${COMP_WORDS[COMP_CWORD]} == : ]] && glued=1
    COMPREPLY=()
    if ((glued)); then
        return
    elif ((value)); then
        )" +
         fn + R"(_value "$path|$option"
    elif [[ $cur == -* ]]; then
        )" +
         fn + R"(_options "$path"
    else
        )" +
         fn + R"(_commands "$path"
    fi
    [[ -n $REPLY ]] && mapfile -t COMPREPLY < <(compgen -W "$REPLY" -- "$cur")
    return 0
}
)";
    s += "complete -o default -F " + fn + " " + program + "\n";
    return s;
}

std::string fillTemplate(std::string_view text, const std::string& version,
                         const std::vector<std::pair<std::string, std::string>>& values)
{
    std::string out;
    for (std::string line : splitLines(text)) {
        if (line.size() > 2 && line.front() == '@' && line.back() == '@') {
            const std::string name = line.substr(1, line.size() - 2);
            const auto it = std::find_if(values.begin(), values.end(),
                                         [&](const auto& v) { return v.first == name; });
            if (it == values.end())
                throw std::runtime_error("no text for the placeholder " + line);
            out += it->second;
            continue;
        }
        for (auto at = line.find("@VERSION@"); at != std::string::npos;
             at = line.find("@VERSION@", at + version.size()))
            line.replace(at, 9, version);
        out += line + "\n";
    }
    return out;
}

} // namespace tarnvel::packaging
