#include "gui/StartUp.h"

#include "app/ProgramIdentity.h"
#include "link/PeerLink.h"
#include "sim/DemoTape.h"
#include "sim/DriveSelect.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace tarnvel::gui {

DriveChoice chooseDrive(const DesktopArgs& args, const app::Settings& settings, int instance,
                        bool realDriveFound)
{
    DriveChoice c;
    if (!args.driveSpec.empty()) {
        c.spec = args.driveSpec;
        c.explicitDrive = true;
        return c;
    }
    if (realDriveFound)
        return c;
    if (!settings.SimulatedDrive)
        return c;
    const std::vector<std::string> cassettes = app::simCassetteList(settings.SimCassettes);
    const auto index = static_cast<std::size_t>(instance - 1);
    if (index < cassettes.size() && !cassettes[index].empty()) {
        // A simulated drive object holds one drive: it is this instance's whatever its number.
        c.spec = "sim:" + cassettes[index];
        c.explicitDrive = true;
        return c;
    }
    c.offerDemo = true;
    return c;
}

std::string demoCassettePath(int instance, const char* xdgDataHome, const char* home)
{
    std::string base;
    if (xdgDataHome != nullptr && xdgDataHome[0] == '/')
        base = xdgDataHome;
    else
        base = std::string(home != nullptr ? home : "") + "/.local/share";
    return base + (instance == 2 ? "/tarnvel/demo-2.tvs" : "/tarnvel/demo.tvs");
}

std::string demoCassettePath(int instance)
{
    return demoCassettePath(instance, std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
}

bool ensureDemoCassette(const std::string& path, std::string& error)
{
    std::error_code ec;
    if (std::filesystem::exists(path, ec))
        return true;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    if (ec) {
        error = std::filesystem::path(path).parent_path().string() + ": " + ec.message();
        return false;
    }
    return sim::createDemoCassette(path, error);
}

void rememberCassette(app::Settings& settings, int instance, const std::string& path,
                      const std::string& firstInstancePath)
{
    std::vector<std::string> cassettes = app::simCassetteList(settings.SimCassettes);
    const auto index = static_cast<std::size_t>(std::clamp(instance, 1, 2) - 1);
    if (cassettes.size() <= index)
        cassettes.resize(index + 1);
    if (index == 1 && cassettes[0].empty())
        cassettes[0] = firstInstancePath;
    cassettes[index] = path;
    std::string list;
    for (std::size_t i = 0; i < cassettes.size(); ++i)
        list += (i > 0 ? ";" : "") + cassettes[i];
    settings.SimCassettes = list;
}

std::string findManual(const std::string& executableDir, const std::string& buildManual)
{
    std::error_code ec;
    if (!executableDir.empty()) {
        // In the program's data folder, not share/doc: minimal systems leave share/doc out,
        // and a program must not need it.
        const std::filesystem::path installed =
            std::filesystem::path(executableDir) / ".." / "share" / "tarnvel" / "manual.html";
        if (std::filesystem::is_regular_file(installed, ec))
            return std::filesystem::weakly_canonical(installed, ec).string();
    }
    if (!buildManual.empty() && std::filesystem::is_regular_file(buildManual, ec))
        return buildManual;
    return {};
}

bool raiseSecondInstance(const std::string& runtimeFolder)
{
    return link::PeerClient::sendRaise(runtimeFolder, app::programTitle(2));
}

} // namespace tarnvel::gui
