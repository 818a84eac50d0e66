#include "app/AppMessages.h"
#include "app/ProgramIdentity.h"
#include "app/SettingsFile.h"
#include "cli/CliContext.h"
#include "cli/CliSupport.h"
#include "cli/DeckSession.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <unistd.h>

namespace tarnvel::cli {

namespace {

// The settings of a run, as every command loads them: the instance's file or --ini, then the
// --set overrides.
int showSettings(const CliContext& ctx)
{
    app::applyLanguage(-1);
    app::Settings s;
    int exitCode = 0;
    if (!loadRunSettings(ctx, s, exitCode))
        return exitCode;

    // Printed as a valid settings file: the keys the program never writes are named in a
    // comment at the top of their section.
    std::string section;
    app::forEachSetting(s, [&](const app::SettingKey& k, const auto&) {
        if (section != k.section) {
            section = k.section;
            std::cout << (section == "Window" ? "" : "\n") << "[" << section << "]\n";
            std::string readOnly;
            app::forEachSetting(s, [&](const app::SettingKey& other, const auto&) {
                if (!other.saved && section == other.section)
                    readOnly += std::string(readOnly.empty() ? "" : ", ") + other.key;
            });
            if (!readOnly.empty())
                std::cout << tr(app::msg::kCliNotSaved) << readOnly << "\n";
        }
        std::cout << k.key << "=" << printable(app::settingValueText(k, s)) << "\n";
    });
    return 0;
}

void showPaths()
{
    app::applyLanguage(-1);
    for (int instance = 1; instance <= 2; ++instance) {
        const app::SettingsLocation loc = app::locateSettings(instance);
        char line[4096];
        std::snprintf(line, sizeof line, tr(app::msg::kCliSettingsPath), instance,
                      loc.iniPath.c_str());
        std::cout << line
                  << tr(::access(loc.iniPath.c_str(), F_OK) == 0 ? app::msg::kCliFileExists
                                                                 : app::msg::kCliFileNew)
                  << "\n";
    }
}

} // namespace

void addSettingsCommands(CLI::App& app, CliContext& ctx)
{
    auto* settings = app.add_subcommand("settings", "Show the settings file and where it lives");
    settings->require_subcommand(1);

    // The same options as the global ones (given before or after the subcommand).
    auto* show = settings->add_subcommand(
        "show", "Load the settings as the program does and print every key's effective value "
                "(--set overrides included)");
    show->add_option("--ini", ctx.iniPath, "Settings file to load instead of the instance's own");
    show->add_option("--instance", ctx.instance, "Instance whose file to load (1 or 2)")
        ->check(between(1, 2));
    show->callback([&ctx] { ctx.exitCode = showSettings(ctx); });

    auto* path = settings->add_subcommand(
        "path", "Print where instance 1 and instance 2 read and write their settings");
    path->callback([] { showPaths(); });
}

} // namespace tarnvel::cli
