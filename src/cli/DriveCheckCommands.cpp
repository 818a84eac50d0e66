#include "cli/CliContext.h"
#include "cli/CliSupport.h"
#include "diag/DiagMessages.h"
#include "diag/DriveCheck.h"
#include "formats/StringPrintf.h"

#include <CLI/CLI.hpp>
#include <iostream>
#include <sys/stat.h>

namespace tarnvel::cli {

namespace {

using formats::stringPrintf;

struct CheckOptions {
    std::string report;
    bool write = false;
};

// Prints each step as it ends.
class PrintSteps : public diag::DriveCheckListener {
public:
    void stepStarted(const std::string&) override {}
    void stepDone(const diag::CheckStep& step) override
    {
        std::cout << printable(diag::DriveCheck::stepText(step, ++number_), true) << std::flush;
    }

private:
    int number_ = 0;
};

// drive-check-DATE.txt, or drive-check-DATE-2.txt ... when a check ran earlier that day.
std::string freeReportName()
{
    const std::string name = diag::DriveCheck::defaultReportName();
    const std::string stem = name.substr(0, name.size() - 4);
    std::string candidate = name;
    struct stat st {};
    for (int n = 2; ::lstat(candidate.c_str(), &st) == 0 && n < 1000; ++n)
        candidate = stem + "-" + std::to_string(n) + ".txt";
    return candidate;
}

int driveCheck(const CliContext& ctx, const CheckOptions& opt)
{
    namespace msg = diag::msg;
    if (opt.write && !ctx.assumeYes) {
        std::cerr << tr(msg::kWriteNeedsYes) << "\n";
        return 2;
    }
    const std::string path = opt.report.empty() ? freeReportName() : opt.report;
    if (!opt.report.empty() && !mayReplace(ctx, path))
        return 2;
    if (opt.write)
        std::cerr << tr(msg::kWriteWarning) << "\n";
    diag::DriveCheckOptions options;
    options.write = opt.write;
    if (ctx.fastReplay)
        options.sleep = [](int) {};
    PrintSteps printer;
    diag::DriveCheck check(options, &printer);
    check.run(driveRequestOf(ctx));
    std::cout << "\n" << printable(check.summary(), true);
    std::string error;
    if (!check.saveReport(path, error)) {
        std::cerr << stringPrintf(tr(msg::kReportNotSaved), printable(path).c_str(), error.c_str())
                  << "\n";
        return 1;
    }
    std::cout << stringPrintf(tr(msg::kReportSaved), printable(path).c_str()) << "\n";
    return check.failed() ? 1 : 0;
}

} // namespace

void addDriveCheckCommands(CLI::App& app, CliContext& ctx)
{
    auto opt = std::make_shared<CheckOptions>();
    CLI::App* cmd = app.add_subcommand(
        "drive-check", "Check the drive step by step (read-only) and write a report to send");
    cmd->add_option("--report", opt->report,
                    "Report file (default: drive-check-DATE.txt in the current folder)");
    cmd->add_flag("--write", opt->write,
                  "Also record 10 seconds of a tone at the end of the recording and read it back "
                  "(needs --yes)");
    cmd->callback([&ctx, opt] { ctx.exitCode = driveCheck(ctx, *opt); });
}

} // namespace tarnvel::cli
