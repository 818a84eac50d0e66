// tarnvel-help-pages: the man pages and the bash completion, made at build time from the
// programs' own --help (HelpText.h) and the written pages in packaging/man/.
//
//   tarnvel-help-pages man-cli PROGRAM TEMPLATE VERSION OUT   command line program (CLI11 help)
//   tarnvel-help-pages man-qt PROGRAM TEMPLATE VERSION OUT    desktop program (Qt help)
//   tarnvel-help-pages completion PROGRAM OUT                 bash completion
#include "HelpText.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

using namespace tarnvel::packaging;

namespace {

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Under a temporary name first: a failed run leaves no page that looks finished.
void writeFile(const std::string& path, const std::string& text)
{
    const std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush())
            throw std::runtime_error("cannot write " + tmp);
    }
    std::filesystem::rename(tmp, path);
}

std::string programName(const std::string& path)
{
    return std::filesystem::path(path).filename().string();
}

} // namespace

int main(int argc, char** argv)
{
    try {
        const std::string mode = argc > 1 ? argv[1] : "";
        if (mode == "man-cli" && argc == 6) {
            const HelpCommand root = readCommandTree(programHelpReader(argv[2]));
            writeFile(argv[5],
                      fillTemplate(readFile(argv[3]), argv[4],
                                   {{"OPTIONS", manOptionList(root.options, true)},
                                    {"COMMANDS", manCommandSections(root, programName(argv[2]))}}));
        } else if (mode == "man-qt" && argc == 6) {
            const std::vector<HelpEntry> options = parseQtOptions(programHelpReader(argv[2])({}));
            if (options.empty())
                throw std::runtime_error(std::string(argv[2]) + " --help lists no options");
            writeFile(argv[5], fillTemplate(readFile(argv[3]), argv[4],
                                            {{"OPTIONS", manOptionList(options, true)}}));
        } else if (mode == "completion" && argc == 4) {
            const HelpCommand root = readCommandTree(programHelpReader(argv[2]));
            writeFile(argv[3], bashCompletion(root, programName(argv[2])));
        } else {
            std::cerr << "usage: tarnvel-help-pages man-cli|man-qt PROGRAM TEMPLATE VERSION OUT\n"
                         "       tarnvel-help-pages completion PROGRAM OUT\n";
            return 2;
        }
    } catch (const std::exception& e) {
        std::cerr << "tarnvel-help-pages: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
