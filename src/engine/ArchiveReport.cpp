#include "engine/ArchiveReport.h"

#include "formats/Sha256.h"
#include "formats/StringPrintf.h"
#include "formats/WaveFileReader.h"

#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace tarnvel::engine {

using formats::stringPrintf;

namespace {

constexpr char kTitle[] = "Tarnvel archive report";
constexpr char kFileKey[] = "File: ";
constexpr char kHashKey[] = "  SHA-256 of the audio data: ";
constexpr char kReportHashKey[] = "Report SHA-256: ";

std::string dateText(const std::array<std::uint8_t, dat::kPackBytes>& p)
{
    if (p[1] == 0xAA)
        return "none";
    return stringPrintf("%02X/%02X/%02X %02X:%02X:%02X", p[1], p[2], p[3], p[4], p[5], p[6]);
}

bool exists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::string folderOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

std::string baseName(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

bool waveDataSha256(const std::string& path, std::string& hex, std::string& error)
{
    formats::WaveFileReader reader;
    if (!reader.readHeader(path)) {
        error = reader.errorText();
        return false;
    }
    const std::uint64_t offset = reader.dataOffset();
    const std::uint64_t length = reader.dataLength();
    reader.close();
    return formats::sha256OfFileRange(path, offset, length, hex, error);
}

bool writeArchiveReport(const std::string& path, const ArchiveRun& run,
                        const std::vector<WrittenFile>& files, std::string& error)
{
    std::string text = std::string(kTitle) + "\n";
    if (!run.label.empty()) {
        std::string label = run.label;
        for (char& c : label) // one line, whatever was typed
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
                c = ' ';
        text += "Label: " + label + "\n";
    }
    text += "Program: " + run.program + "\n";
    text += "Drive: " + run.drive + "\n";
    text += "Settings:";
    for (const auto& [key, value] : run.settings)
        text += " " + key + "=" + value;
    text += "\n";
    text += "Started: " + run.started + "\n";
    text += "Ended: " + run.ended + "\n";
    text += "Outcome: " + run.outcome + "\n";
    text += "Cue file: " + run.cueFile + "\n";
    std::uint64_t errorFrames = 0;
    for (std::size_t index = 0; index < files.size(); ++index) {
        const WrittenFile& f = files[index];
        for (std::size_t part = 0; part < f.parts.size(); ++part) {
            const std::string& name = f.parts[part];
            std::string hash;
            if (!waveDataSha256(name, hash, error)) {
                error = name + ": " + error;
                return false;
            }
            text += "\n" + std::string(kFileKey) + name + "\n";
            if (part > 0) {
                text += stringPrintf("  Continues: %s\n", f.name.c_str());
            } else {
                text += stringPrintf("  Program number: %s\n", f.programText.c_str());
                text += "  Date: " + dateText(f.datePack) + "\n";
                text += "  Format: " + f.formatText + (f.emphasis ? " Emph" : "") +
                        "  Copy: " + f.copyText + "\n";
                text += "  Starts at ABS:" + f.startAbs + "\n";
                text += stringPrintf("  Frames: %u  Duration: %02dh%02dm%02ds\n", f.frames,
                                     f.seconds / 3600, f.seconds / 60 % 60, f.seconds % 60);
                text += stringPrintf("  Error frames: L %u  R %u  ABS %u\n", f.errorsLeft,
                                     f.errorsRight, f.errorsAbs);
                for (std::size_t i = 0; i < f.errorFrames.size(); i += 6) {
                    text += "  Errors at:";
                    for (std::size_t k = i; k < std::min(i + 6, f.errorFrames.size()); ++k) {
                        const auto& e = f.errorFrames[k];
                        const bool l = (e.errorByte & dat::kSubIdInterpolatedLeft) != 0;
                        const bool r = (e.errorByte & dat::kSubIdInterpolatedRight) != 0;
                        text += dat::timeText(e.abs) + " " +
                                (l && r ? "LR"
                                 : l    ? "L"
                                 : r    ? "R"
                                        : "-");
                    }
                    text += "\n";
                }
                errorFrames += f.errorFrames.size();
                if (index < run.fileNotes.size())
                    for (const std::string& note : run.fileNotes[index])
                        text += note + "\n";
            }
            text += kHashKey + hash + "\n";
        }
    }
    text += stringPrintf("\nFiles: %zu  Error frames: %llu\n", files.size(),
                         static_cast<unsigned long long>(errorFrames));
    text += kReportHashKey + formats::Sha256::hex(text.data(), text.size()) + "\n";

    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        error = path + ": unable to write the report";
        return false;
    }
    return true;
}

ArchiveVerification verifyArchiveReport(const std::string& path, std::string& error)
{
    ArchiveVerification v;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": unable to read the report";
        return v;
    }
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string text = ss.str();
    if (text.rfind(kTitle, 0) != 0) {
        error = path + ": not an archive report";
        return v;
    }
    v.readable = true;
    const auto at = text.rfind(kReportHashKey);
    if (at != std::string::npos && (at == 0 || text[at - 1] == '\n')) {
        const std::string stated = text.substr(at + sizeof kReportHashKey - 1, 64);
        v.reportIntact = stated == formats::Sha256::hex(text.data(), at);
    }
    std::istringstream lines(text.substr(0, at == std::string::npos ? text.size() : at));
    std::string line;
    std::string name;
    while (std::getline(lines, line)) {
        if (line.rfind(kFileKey, 0) == 0) {
            name = line.substr(sizeof kFileKey - 1);
            continue;
        }
        if (line.rfind(kHashKey, 0) != 0 || name.empty())
            continue;
        const std::string stated = line.substr(sizeof kHashKey - 1);
        VerifiedFile f;
        f.name = name;
        std::string where = name;
        if (!exists(where) && exists(folderOf(path) + baseName(name)))
            where = folderOf(path) + baseName(name); // moved together with its report
        std::string hash;
        std::string why;
        if (!exists(where)) {
            f.result = VerifiedFile::Result::Missing;
        } else if (!waveDataSha256(where, hash, why)) {
            f.result = VerifiedFile::Result::Mismatch;
            f.detail = why;
        } else if (hash != stated) {
            f.result = VerifiedFile::Result::Mismatch;
        }
        v.files.push_back(f);
        name.clear();
    }
    return v;
}

} // namespace tarnvel::engine
