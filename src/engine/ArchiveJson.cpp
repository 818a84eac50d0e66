#include "engine/ArchiveJson.h"

#include "formats/BroadcastWave.h"
#include "formats/PosixIo.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sys/stat.h>

namespace tarnvel::engine {

namespace {

using nlohmann::json;

// The document's own name and layout version: a reader tells it from other JSON by these.
constexpr char kFormatName[] = "tarnvel-archive";
constexpr int kFormatVersion = 1;
// Larger JSON files are not ours (a thousand files with full error lists stay far below).
constexpr std::uintmax_t kMaxJsonBytes = 256u << 20;

std::string baseName(const std::string& path)
{
    return std::filesystem::path(path).filename().string();
}

std::string trimmed(const std::string& s)
{
    const auto b = s.find_first_not_of(' ');
    return b == std::string::npos ? std::string{} : s.substr(b, s.find_last_not_of(' ') - b + 1);
}

// "2026-12-10 15:56:22" -> "2026-12-10T15:56:22".
std::string isoLocal(std::string text)
{
    if (text.size() > 10 && text[10] == ' ')
        text[10] = 'T';
    return text;
}

json dateOf(const std::array<std::uint8_t, dat::kPackBytes>& pack)
{
    std::string date;
    std::string time;
    int seconds = 0;
    if (!formats::bextDateOfPack(pack, date, time, seconds))
        return nullptr;
    return date + "T" + time;
}

// A setting's value as a number when it is one.
json settingValue(const std::string& value)
{
    try {
        std::size_t used = 0;
        const long long n = std::stoll(value, &used);
        if (used == value.size())
            return n;
    } catch (const std::exception&) {
    }
    return value;
}

json hashesOf(const FileHashes& h)
{
    return {{"name", baseName(h.name)},
            {"size", h.size},
            {"sha256", h.wholeHex},
            {"audioSha256", h.dataHex}};
}

json fileOf(const WrittenFile& f, const std::vector<FileHashes>& parts,
            const std::optional<FileQuality>* quality)
{
    json j = parts.empty() ? json{{"name", baseName(f.name)}} : hashesOf(parts.front());
    json continuations = json::array();
    for (std::size_t i = 1; i < parts.size(); ++i)
        continuations.push_back(hashesOf(parts[i]));
    j["continuations"] = continuations;
    const bool numbered = !f.programText.empty() &&
                          f.programText.find_first_not_of("0123456789") == std::string::npos;
    j["programNumber"] = numbered ? json(std::stoi(f.programText)) : json(nullptr);
    j["programText"] = f.programText;
    j["absStart"] = trimmed(f.startAbs.substr(0, f.startAbs.find(" <")));
    j["preRead"] = f.startAbs.find(" <") != std::string::npos;
    j["absEnd"] = f.endAbs.empty() ? json(nullptr) : json(trimmed(f.endAbs));
    j["frames"] = f.frames;
    j["durationSeconds"] = f.seconds;
    j["sampleRate"] = f.format.samplesPerSec;
    j["bitsPerSample"] = f.format.bitsPerSample;
    j["sampleFormat"] = f.format.isFloat() ? "float" : "integer";
    j["channels"] = f.format.channels;
    j["tape"] = {{"sampleRate", f.tapeRate},
                 {"bits", f.tapeBits},
                 {"longPlay", f.tapeBits == 12},
                 {"emphasis", f.tapeEmphasis}};
    j["emphasis"] = f.emphasis;
    j["copy"] = {{"bits", f.copyBits}, {"text", f.copyText}};
    j["date"] = dateOf(f.datePack);
    j["errors"] = {{"left", f.errorsLeft}, {"right", f.errorsRight}, {"abs", f.errorsAbs}};
    json frames = json::array();
    for (const WrittenFile::ErrorAt& e : f.errorFrames) {
        const bool l = (e.errorByte & dat::kSubIdInterpolatedLeft) != 0;
        const bool r = (e.errorByte & dat::kSubIdInterpolatedRight) != 0;
        frames.push_back({{"abs", trimmed(dat::timeText(e.abs))},
                          {"channels", l && r ? "LR"
                                       : l    ? "L"
                                       : r    ? "R"
                                              : ""}});
    }
    j["errorFrames"] = frames;
    if (quality != nullptr && quality->has_value()) {
        const FileQuality& q = **quality;
        json channels = json::array();
        for (const FileQuality::Channel& c : q.channels)
            channels.push_back({{"samplePeak", c.samplePeak},
                                {"truePeak", c.truePeak},
                                {"dcOffset", c.dcOffset},
                                {"clippedSamples", c.clippedSamples},
                                {"clipRuns", c.clipRuns}});
        j["quality"] = {{"loudnessLufs", q.loudness ? json(*q.loudness) : json(nullptr)},
                        {"loudnessRangeLu", q.loudnessRange},
                        {"silences", q.silences},
                        {"channels", channels}};
    }
    return j;
}

std::string folderOf(const std::string& path)
{
    std::error_code ec;
    return std::filesystem::absolute(path, ec).lexically_normal().parent_path().string();
}

} // namespace

bool writeArchiveJson(const std::string& path, const ArchiveRun& run,
                      const std::vector<WrittenFile>& files,
                      const std::vector<std::vector<FileHashes>>& hashes, std::string& error)
{
    json doc;
    doc["format"] = kFormatName;
    doc["formatVersion"] = kFormatVersion;
    const auto space = run.program.find(' ');
    doc["program"] = {{"name", run.program.substr(0, space)},
                      {"version", space == std::string::npos ? "" : run.program.substr(space + 1)}};
    doc["drive"] = {{"vendor", run.driveVendor},
                    {"product", run.driveProduct},
                    {"firmware", run.driveFirmware}};
    json settings = json::object();
    for (const auto& [key, value] : run.settings)
        settings[key] = settingValue(value);
    doc["settings"] = settings;
    doc["label"] = run.label.empty() ? json(nullptr) : json(run.label);
    doc["started"] = isoLocal(run.started);
    doc["ended"] = isoLocal(run.ended);
    doc["outcome"] = run.outcome;
    doc["cueFile"] = baseName(run.cueFile);
    json list = json::array();
    for (std::size_t i = 0; i < files.size(); ++i)
        list.push_back(fileOf(files[i], i < hashes.size() ? hashes[i] : std::vector<FileHashes>{},
                              i < run.fileQuality.size() ? &run.fileQuality[i] : nullptr));
    doc["files"] = list;
    std::string text;
    try {
        // Text that is not UTF-8 (a label typed in another encoding) is kept, replaced.
        text = doc.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
    } catch (const std::exception& e) {
        error = path + ": " + e.what();
        return false;
    }
    return replaceWithText(path, text, error);
}

JsonVerification
verifyArchiveJson(const std::string& path,
                  const std::map<std::string, std::pair<std::string, std::string>>& known,
                  const std::function<void(const std::string&, const std::string&)>& onProblem,
                  std::string& error)
{
    JsonVerification v;
    formats::OpenFailure failure;
    const int fd = formats::openRegularFile(path, O_RDONLY, failure);
    if (fd < 0) {
        error = path + ": " + failure.text();
        return v;
    }
    struct stat st {};
    const bool tooLarge =
        ::fstat(fd, &st) != 0 || static_cast<std::uintmax_t>(st.st_size) > kMaxJsonBytes;
    ::close(fd);
    if (tooLarge) {
        error = path + ": not an archive's JSON (too large)";
        return v;
    }
    json doc;
    try {
        std::ifstream in(path, std::ios::binary);
        doc = json::parse(in);
        if (!doc.is_object() || doc.value("format", "") != kFormatName || !doc.contains("files") ||
            !doc["files"].is_array())
            throw std::runtime_error("not an archive's JSON");
    } catch (const std::exception& e) {
        error = path + ": " + e.what();
        return v;
    }
    v.readable = true;
    const std::string folder = folderOf(path);
    const auto check = [&](const json& entry) {
        ++v.files;
        const std::string name = entry.value("name", "");
        const std::string wholeStated = entry.value("sha256", "");
        const std::string dataStated = entry.value("audioSha256", "");
        const std::string file = folder + "/" + baseName(name);
        std::string whole;
        std::string data;
        std::string why;
        if (const auto it = known.find(baseName(name)); it != known.end()) {
            whole = it->second.first;
            data = it->second.second;
        } else if (struct stat fs{}; name.empty() || ::lstat(file.c_str(), &fs) != 0) {
            why = "missing";
        } else if (!waveFileSha256(file, whole, data, why)) {
            // why says what
        }
        if (why.empty() && (whole != wholeStated || data != dataStated))
            why = "its hashes in the JSON differ from the file";
        if (!why.empty()) {
            ++v.problems;
            if (onProblem)
                onProblem(file, why);
        }
    };
    try {
        for (const json& f : doc["files"]) {
            check(f);
            if (f.contains("continuations") && f["continuations"].is_array())
                for (const json& c : f["continuations"])
                    check(c);
        }
    } catch (const std::exception& e) {
        error = path + ": " + e.what();
        v.readable = false;
    }
    return v;
}

} // namespace tarnvel::engine
