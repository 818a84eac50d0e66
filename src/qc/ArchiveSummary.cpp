#include "qc/ArchiveSummary.h"

#include "dat/DatFrame.h"
#include "dat/TimeCode.h"
#include "formats/StringPrintf.h"
#include "qc/FigureText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

namespace tarnvel::qc {

using formats::stringPrintf;

namespace {

constexpr char kReportTitle[] = "Tarnvel archive report";
constexpr char kIdsKey[] = "  IDs:";

bool startsWith(std::string_view s, std::string_view prefix)
{
    return s.substr(0, prefix.size()) == prefix;
}

std::string trimmed(std::string_view s)
{
    const auto b = s.find_first_not_of(' ');
    if (b == std::string_view::npos)
        return {};
    return std::string(s.substr(b, s.find_last_not_of(' ') - b + 1));
}

std::vector<std::string> words(std::string_view s)
{
    std::vector<std::string> out;
    std::istringstream in{std::string(s)};
    for (std::string w; in >> w;)
        out.push_back(w);
    return out;
}

// Two decimal digits at `p`.
bool twoDigits(std::string_view s, std::size_t p, int& value)
{
    if (p + 2 > s.size() || s[p] < '0' || s[p] > '9' || s[p + 1] < '0' || s[p + 1] > '9')
        return false;
    value = (s[p] - '0') * 10 + (s[p + 1] - '0');
    return true;
}

std::string datePackText(const std::array<std::uint8_t, dat::kPackBytes>& p)
{
    if (p[1] == 0xAA)
        return "none";
    return stringPrintf("%02X/%02X/%02X %02X:%02X:%02X", p[1], p[2], p[3], p[4], p[5], p[6]);
}

std::string idText(const IdMark& id)
{
    const std::string at = " at " + absFramesText(id.abs);
    if (id.pNo == dat::kPNoSkip)
        return "SKIP" + at;
    if (id.pNo == dat::kPNoStartWithoutNumber)
        return "START" + at;
    return "START " + std::to_string(id.pNo) + at;
}

bool parseIds(std::string_view text, std::vector<IdMark>& ids)
{
    std::istringstream items{std::string(text)};
    for (std::string item; std::getline(items, item, ',');) {
        const std::vector<std::string> w = words(item);
        if (w.size() == 1 && w[0] == "none")
            continue;
        IdMark id;
        std::size_t at = 0;
        if (w.size() == 3 && w[0] == "SKIP" && w[1] == "at") {
            id.pNo = dat::kPNoSkip;
            at = 2;
        } else if (w.size() == 3 && w[0] == "START" && w[1] == "at") {
            id.pNo = dat::kPNoStartWithoutNumber;
            at = 2;
        } else if (w.size() == 4 && w[0] == "START" && w[2] == "at") {
            try {
                id.pNo = std::stoi(w[1]);
            } catch (...) {
                return false;
            }
            at = 3;
        } else {
            return false;
        }
        if (!parseAbsText(w[at], id.abs))
            return false;
        ids.push_back(id);
    }
    return true;
}

// Lines of `key` followed by the items, a few to a line.
void listLines(std::vector<std::string>& lines, const std::string& key,
               const std::vector<std::string>& items, std::size_t perLine)
{
    for (std::size_t i = 0; i < items.size(); i += perLine) {
        std::string line = key;
        for (std::size_t k = i; k < std::min(i + perLine, items.size()); ++k)
            line += (k > i ? ", " : " ") + items[k];
        lines.push_back(line);
    }
}

std::string perChannel(const AudioFigures& f, const std::function<std::string(int)>& value)
{
    std::string text;
    const int n = static_cast<int>(f.channels.size());
    for (int c = 0; c < n; ++c)
        text += (c ? "  " : " ") + channelName(c, n) + " " + value(c);
    return text;
}

std::string resolvedPath(const std::filesystem::path& folder, const std::string& name)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path listed = fs::path(name).is_absolute() ? fs::path(name) : folder / name;
    if (fs::exists(listed, ec))
        return listed.string();
    const fs::path beside = folder / fs::path(name).filename();
    if (fs::exists(beside, ec))
        return beside.string(); // moved together with its report
    return listed.string();
}

// A report without the IDs of its files still says where a numbered file began: at its
// START ID, or the pre-reading time before it ("<0.3sec").
std::vector<IdMark> inferredStart(const ArchivedFile& f)
{
    int pNo = 0;
    if (std::sscanf(f.programText.c_str(), "%d", &pNo) != 1 || pNo < 1 ||
        pNo > dat::kMaxProgramNumber)
        return {};
    int abs = f.startAbs;
    int tenths = 0;
    const auto note = f.startText.find("<0.");
    if (note != std::string::npos &&
        std::sscanf(f.startText.c_str() + note, "<0.%dsec", &tenths) == 1) {
        engine::TapeFormat format;
        std::sscanf(f.formatText.c_str(), "%d", &format.rate);
        format.longPlay = f.formatText.find("(LP)") != std::string::npos;
        format.bits = f.formatText.find("(24)") != std::string::npos ? 24 : 16;
        abs += engine::PlayToFile::preReadFrames(tenths, format);
    }
    return {{pNo, abs}};
}

} // namespace

double FileTimeline::fractionOfAbs(double abs) const
{
    if (frames == 0)
        return 0;
    return std::clamp((abs - startAbs) / frames, 0.0, 1.0);
}

bool parseAbsText(std::string_view text, int& frames)
{
    std::size_t p = 0;
    while (p < text.size() && text[p] == ' ')
        ++p;
    bool negative = false;
    if (p < text.size() && text[p] == '-') {
        negative = true;
        ++p;
    }
    int h = 0, m = 0, s = 0, f = 0;
    if (text.size() < p + 11 || !twoDigits(text, p, h) || text[p + 2] != 'h' ||
        !twoDigits(text, p + 3, m) || text[p + 5] != 'm' || !twoDigits(text, p + 6, s) ||
        text[p + 8] != 's' || !twoDigits(text, p + 9, f) || m > 59 || s > 59 || f > 33)
        return false;
    if (text.size() > p + 11 && text[p + 11] != ' ')
        return false;
    const int count = (h * 3600 + m * 60 + s) * dat::kFramesPer3Seconds / 3 + f;
    frames = negative ? -count : count;
    return true;
}

std::string absFramesText(int frames)
{
    const dat::TimeCode t = dat::framesToAbs(frames < 0 ? -static_cast<long long>(frames) : frames);
    std::string text = trimmed(dat::timeText(t));
    return frames < 0 ? "-" + text : text;
}

ArchivedFile describeWrittenFile(const engine::WrittenFile& file, const dat::IdTable& ids)
{
    ArchivedFile a;
    a.name = file.name;
    a.parts = file.parts.empty() ? std::vector<std::string>{file.name} : file.parts;
    a.programText = file.programText;
    a.dateText = datePackText(file.datePack);
    a.formatText = file.formatText;
    a.emphasis = file.emphasis;
    a.copyText = file.copyText;
    a.startText = file.startAbs;
    parseAbsText(file.startAbs, a.startAbs);
    a.frames = file.frames;
    a.seconds = file.seconds;
    a.errorsLeft = file.errorsLeft;
    a.errorsRight = file.errorsRight;
    a.errorsAbs = file.errorsAbs;
    for (const auto& e : file.errorFrames)
        a.errors.push_back({dat::absToFrames(e.abs),
                            (e.errorByte & dat::kSubIdInterpolatedLeft) != 0,
                            (e.errorByte & dat::kSubIdInterpolatedRight) != 0});
    a.idsKnown = true;
    const long long end = static_cast<long long>(a.startAbs) + a.frames;
    for (const dat::IdEntry& e : ids.used()) {
        const int at = dat::absToFrames(e.abs);
        if (at >= a.startAbs && at < end)
            a.ids.push_back({e.pNo, at});
    }
    std::sort(a.ids.begin(), a.ids.end(),
              [](const IdMark& x, const IdMark& y) { return x.abs < y.abs; });
    return a;
}

ArchiveSummary summarizeRun(const engine::ArchiveRun& run,
                            const std::vector<engine::WrittenFile>& files, const dat::IdTable& ids)
{
    ArchiveSummary s;
    s.label = run.label;
    s.program = run.program;
    s.drive = run.drive;
    s.started = run.started;
    s.ended = run.ended;
    s.outcome = run.outcome;
    s.cueFile = run.cueFile;
    for (const engine::WrittenFile& f : files)
        s.files.push_back(describeWrittenFile(f, ids));
    return s;
}

std::vector<std::string> reportLines(const ArchivedFile& file, const AudioFigures* figures)
{
    std::vector<std::string> lines;
    std::vector<std::string> items;
    for (const IdMark& id : file.ids)
        items.push_back(idText(id));
    if (items.empty())
        lines.push_back(std::string(kIdsKey) + " none");
    else
        listLines(lines, kIdsKey, items, 4);
    if (figures == nullptr)
        return lines;

    const AudioFigures& f = *figures;
    lines.push_back("  Loudness: " + loudnessText(f.loudness) +
                    stringPrintf("  Loudness range: %.1f LU", f.loudnessRange));
    lines.push_back("  Sample peak:" + perChannel(f, [&](int c) {
                        return levelText(f.channels[static_cast<std::size_t>(c)].samplePeak,
                                         "dBFS");
                    }));
    lines.push_back("  True peak:" + perChannel(f, [&](int c) {
                        return levelText(f.channels[static_cast<std::size_t>(c)].truePeak, "dBTP");
                    }));
    lines.push_back("  DC offset:" + perChannel(f, [&](int c) {
                        return dcOffsetText(f.channels[static_cast<std::size_t>(c)].dcOffset);
                    }));
    lines.push_back("  Clipped samples:" + perChannel(f, [&](int c) {
                        const ChannelFigures& ch = f.channels[static_cast<std::size_t>(c)];
                        return stringPrintf("%llu in %u runs",
                                            static_cast<unsigned long long>(ch.clippedSamples),
                                            ch.clipRuns);
                    }));
    const FileTimeline timeline{file.startAbs, file.frames, f.sampleFrames};
    items.clear();
    for (const SampleStretch& s : f.clipRuns)
        items.push_back(clipRunText(timeline, s, static_cast<int>(f.channels.size())));
    listLines(lines, "  Clipped at:", items, 4);
    lines.push_back(
        stringPrintf("  Digital silence over %.0f s: %u", kSilenceSeconds, f.silenceCount));
    items.clear();
    for (const SampleStretch& s : f.silences)
        items.push_back(stretchText(timeline, s, f.format.samplesPerSec));
    listLines(lines, "  Silent at:", items, 4);
    return lines;
}

bool readArchiveReport(const std::string& path, ArchiveSummary& summary, std::string& error)
{
    namespace fs = std::filesystem;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": unable to read the report";
        return false;
    }
    std::string line;
    if (!std::getline(in, line) || line != kReportTitle) {
        error = path + ": not an archive report";
        return false;
    }
    summary = ArchiveSummary{};
    const fs::path folder = fs::path(path).parent_path();
    ArchivedFile* file = nullptr;
    bool continuation = false;
    const auto field = [&line](const char* key, std::string& value) {
        if (!startsWith(line, key))
            return false;
        value = line.substr(std::string_view(key).size());
        return true;
    };
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::string value;
        if (field("File: ", value)) {
            continuation = false;
            file = nullptr;
            summary.files.push_back({});
            file = &summary.files.back();
            file->name = value;
            file->parts.push_back(resolvedPath(folder, value));
            continue;
        }
        if (file == nullptr) {
            field("Label: ", summary.label) || field("Program: ", summary.program) ||
                field("Drive: ", summary.drive) || field("Started: ", summary.started) ||
                field("Ended: ", summary.ended) || field("Outcome: ", summary.outcome) ||
                field("Cue file: ", summary.cueFile);
            continue;
        }
        if (field("  Continues: ", value)) {
            // A continuation of an earlier file: its part, not a file of its own.
            const std::string part = file->parts.front();
            summary.files.pop_back();
            file = nullptr;
            for (auto it = summary.files.rbegin(); it != summary.files.rend(); ++it) {
                if (it->name == value) {
                    it->parts.push_back(part);
                    file = &*it;
                    break;
                }
            }
            continuation = true;
            continue;
        }
        if (continuation || line.empty() || line[0] != ' ')
            continue;
        if (field("  Program number: ", file->programText) || field("  Date: ", file->dateText))
            continue;
        if (field("  Format: ", value)) {
            const auto copy = value.find("  Copy: ");
            std::string format = value.substr(0, copy);
            if (format.size() >= 5 && format.compare(format.size() - 5, 5, " Emph") == 0) {
                file->emphasis = true;
                format.resize(format.size() - 5);
            }
            file->formatText = format;
            if (copy != std::string::npos)
                file->copyText = trimmed(value.substr(copy + 8));
            continue;
        }
        if (field("  Starts at ABS:", value)) {
            file->startText = value;
            parseAbsText(value, file->startAbs);
            continue;
        }
        if (field("  Frames: ", value)) {
            const std::vector<std::string> w = words(value);
            try {
                file->frames = static_cast<std::uint32_t>(std::stoul(w.at(0)));
            } catch (...) {
                error = path + ": unreadable frame count of " + file->name;
                return false;
            }
            int h = 0, m = 0, s = 0;
            if (w.size() >= 3 && std::sscanf(w[2].c_str(), "%dh%dm%ds", &h, &m, &s) == 3)
                file->seconds = h * 3600 + m * 60 + s;
            continue;
        }
        if (field("  Error frames: ", value)) {
            unsigned l = 0, r = 0, a = 0;
            if (std::sscanf(value.c_str(), "L %u  R %u  ABS %u", &l, &r, &a) == 3) {
                file->errorsLeft = l;
                file->errorsRight = r;
                file->errorsAbs = a;
            }
            continue;
        }
        if (field("  Errors at:", value)) {
            const std::vector<std::string> w = words(value);
            for (std::size_t i = 0; i + 1 < w.size(); i += 2) {
                ErrorMark e;
                if (!parseAbsText(w[i], e.abs))
                    continue; // an unreadable ABS time: counted, but nowhere to mark
                e.left = w[i + 1].find('L') != std::string::npos;
                e.right = w[i + 1].find('R') != std::string::npos;
                file->errors.push_back(e);
            }
            continue;
        }
        if (field(kIdsKey, value)) {
            file->idsKnown = true;
            if (!parseIds(value, file->ids)) {
                error = path + ": unreadable IDs of " + file->name;
                return false;
            }
        }
    }
    if (summary.files.empty()) {
        error = path + ": the report lists no file";
        return false;
    }
    for (ArchivedFile& f : summary.files)
        if (!f.idsKnown)
            f.ids = inferredStart(f);
    return true;
}

} // namespace tarnvel::qc
