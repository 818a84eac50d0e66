#include "qc/QcPage.h"

#include "formats/StringPrintf.h"
#include "qc/FigureText.h"

#include <algorithm>
#include <filesystem>
#include <functional>

namespace tarnvel::qc {

using formats::stringPrintf;

namespace {

// Lists longer than this fold away (they stay in the page, one click from view).
constexpr std::size_t kFoldAfter = 12;

constexpr char kStyle[] = R"(*{box-sizing:border-box}
html{-webkit-text-size-adjust:100%;text-size-adjust:100%}
body{margin:0 auto;max-width:1240px;padding:12px 16px 32px;font:15px/1.45 system-ui,-apple-system,"Segoe UI",Roboto,"DejaVu Sans",sans-serif;color:#1c1c1c;background:#fff;overflow-wrap:anywhere}
h1{font-size:1.5em;margin:.2em 0 .1em}
.sub{margin:0 0 .6em;color:#555}
h2{font-size:1.15em;margin:1.6em 0 .5em;padding-top:.7em;border-top:1px solid #ccc}
.pno{display:inline-block;padding:0 .45em;margin-right:.35em;border-radius:3px;background:#e8e8e8;font-variant-numeric:tabular-nums}
dl.facts,dl.figures{display:grid;grid-template-columns:max-content minmax(0,1fr);gap:.15em 1.1em;margin:.6em 0}
dt{color:#555}
dd{margin:0;font-variant-numeric:tabular-nums}
.warn{color:#a34700;font-weight:600}
figure{margin:.8em 0}
.plot{position:relative;overflow:hidden;border:1px solid #d4d4d4}
.plot img{display:block;width:100%;height:auto}
.axis{position:relative;height:1.45em;overflow:hidden;font-size:12px;color:#555}
.axis span{position:absolute;top:.2em;transform:translateX(-50%);white-space:nowrap}
.axis span.first{transform:none}
.axis span.last{transform:translateX(-100%)}
.ids span{position:absolute;top:0;padding:0 .3em;font-size:11px;line-height:1.35;color:#fff;white-space:nowrap}
.ids .start{background:#1a7f37}
.ids .skip{background:#b35c00}
.freq span{position:absolute;left:.35em;transform:translateY(-50%);font-size:11px;color:#fff;text-shadow:0 0 2px #000,0 0 3px #000;white-space:nowrap}
.key{display:inline-block;width:.85em;height:.85em;margin:0 .3em 0 .1em;vertical-align:-.05em;border-radius:2px}
.legend{font-size:.9em;color:#444;margin:.4em 0}
nav ol{margin:.4em 0;padding-left:1.6em}
details summary{cursor:pointer}
footer{margin-top:2em;padding-top:.6em;border-top:1px solid #ccc;font-size:.85em;color:#666}
@media (max-width:640px){
body{font-size:14px;padding:8px 10px 24px}
dl.facts,dl.figures{grid-template-columns:minmax(0,1fr);gap:0}
dd{margin:0 0 .4em .8em}
.axis span:nth-child(even){display:none}
.ids span,.freq span{font-size:9px}
.plot img.wave{height:150px}
.plot img.spectrum{height:120px}
})";

std::string hex(std::uint32_t rgb)
{
    return stringPrintf("#%06x", rgb & 0xFFFFFF);
}

std::string percent(double fraction)
{
    return stringPrintf("%.3f%%", std::clamp(fraction, 0.0, 1.0) * 100.0);
}

std::string plural(unsigned long long n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string hms(long long seconds)
{
    return stringPrintf("%02lldh%02lldm%02llds", seconds / 3600, seconds / 60 % 60, seconds % 60);
}

// Items joined by ", ", folded away behind a summary line when there are many.
std::string itemList(const std::vector<std::string>& items, const std::string& what)
{
    std::string joined;
    for (std::size_t i = 0; i < items.size(); ++i)
        joined += (i ? ", " : "") + htmlEscaped(items[i]);
    if (items.size() <= kFoldAfter)
        return joined;
    return "<details><summary>" + htmlEscaped(what) + "</summary>" + joined + "</details>";
}

std::string channelsText(bool left, bool right)
{
    return left && right ? "LR" : left ? "L" : right ? "R" : "-";
}

// Error frames as runs of consecutive frames with the same channels.
std::vector<std::string> errorRuns(std::vector<ErrorMark> errors)
{
    std::stable_sort(errors.begin(), errors.end(),
                     [](const ErrorMark& a, const ErrorMark& b) { return a.abs < b.abs; });
    std::vector<std::string> runs;
    for (std::size_t i = 0; i < errors.size();) {
        std::size_t j = i + 1;
        while (j < errors.size() && errors[j].abs == errors[j - 1].abs + 1 &&
               errors[j].left == errors[i].left && errors[j].right == errors[i].right)
            ++j;
        const std::string channels = channelsText(errors[i].left, errors[i].right);
        if (j - i == 1)
            runs.push_back(absFramesText(errors[i].abs) + " " + channels);
        else
            runs.push_back(absFramesText(errors[i].abs) + " to " +
                           absFramesText(errors[j - 1].abs) + " " + channels + " (" +
                           std::to_string(j - i) + " frames)");
        i = j;
    }
    return runs;
}

std::string idLabel(const IdMark& id)
{
    if (id.pNo == dat::kPNoSkip)
        return "SKIP";
    if (id.pNo == dat::kPNoStartWithoutNumber)
        return "START";
    return "START " + std::to_string(id.pNo);
}

void fact(std::string& out, const std::string& term, const std::string& html, bool warn = false)
{
    out += "<dt>" + htmlEscaped(term) + "</dt><dd" + (warn ? " class=\"warn\"" : "") + ">" + html +
           "</dd>\n";
}

std::string perChannel(const AudioFigures& f,
                       const std::function<std::string(const ChannelFigures&)>& text)
{
    std::string out;
    const int n = static_cast<int>(f.channels.size());
    for (int c = 0; c < n; ++c)
        out += (c ? ", " : "") +
               htmlEscaped(channelName(c, n) + " " + text(f.channels[static_cast<std::size_t>(c)]));
    return out;
}

void axis(std::string& out, const std::vector<Tick>& ticks)
{
    out += "<div class=\"axis\" aria-hidden=\"true\">";
    // Labels at the very edges stand inside the picture instead of centred on their mark.
    for (const Tick& t : ticks)
        out += std::string("<span") +
               (t.at < 0.06   ? " class=\"first\""
                : t.at > 0.94 ? " class=\"last\""
                              : "") +
               " style=\"left:" + percent(t.at) + "\">" + htmlEscaped(t.label) + "</span>";
    out += "</div>\n";
}

void fileSection(std::string& out, const PageFile& p, std::size_t index)
{
    const ArchivedFile& file = *p.file;
    const std::string name = std::filesystem::path(file.name).filename().string();
    out += stringPrintf("<section id=\"file-%zu\">\n<h2><span class=\"pno\">PNo ", index + 1) +
           htmlEscaped(file.programText) + "</span>" + htmlEscaped(name) + "</h2>\n";
    const bool measured = p.analysis != nullptr && p.analysis->ok;
    const AudioFigures* f = measured ? &p.analysis->figures : nullptr;
    const FileTimeline timeline{file.startAbs, file.frames, f ? f->sampleFrames : 0};

    if (!p.waveImage.empty()) {
        out += "<figure>\n<div class=\"plot\"><img class=\"wave\" src=\"" +
               htmlEscaped(p.waveImage) +
               stringPrintf("\" width=\"%d\" height=\"%d\" alt=\"", p.wave.width,
                            p.wave.height(std::max(1, p.analysis->overview.channels))) +
               htmlEscaped("Waveform of " + name + ", error frames and IDs marked") +
               "\"><div class=\"ids\">";
        for (const IdMark& id : file.ids)
            out += "<span class=\"" + std::string(id.pNo == dat::kPNoSkip ? "skip" : "start") +
                   "\" style=\"left:" + percent(timeline.fractionOfAbs(id.abs)) + "\">" +
                   htmlEscaped(idLabel(id)) + "</span>";
        out += "</div></div>\n";
        axis(out, p.timeTicks);
        out += "</figure>\n";
    }
    if (!p.spectrumImage.empty()) {
        out += "<figure>\n<div class=\"plot\"><img class=\"spectrum\" src=\"" +
               htmlEscaped(p.spectrumImage) +
               stringPrintf("\" width=\"%d\" height=\"%d\" alt=\"", p.spectrum.width,
                            p.spectrum.height) +
               htmlEscaped("Spectrogram of " + name + ", 0 Hz at the bottom") +
               "\"><div class=\"freq\" aria-hidden=\"true\">";
        for (const Tick& t : p.frequencyTicks)
            out += "<span style=\"top:" + percent(1.0 - t.at) + "\">" + htmlEscaped(t.label) +
                   "</span>";
        out += "</div></div>\n";
        axis(out, p.timeTicks);
        out += "</figure>\n";
    }

    out += "<dl class=\"figures\">\n";
    if (p.analysis != nullptr && !p.analysis->ok)
        fact(out, "Not measured", htmlEscaped(p.analysis->error), true);
    std::string duration =
        htmlEscaped(hms(file.seconds)) + ", " + plural(file.frames, "frame", "frames");
    if (f)
        duration += ", " + htmlEscaped(durationText(f->seconds())) + " of audio";
    fact(out, "Duration", duration);
    std::string format = htmlEscaped(file.formatText);
    if (f)
        format += htmlEscaped(stringPrintf(
            " (file: %u Hz, %u-bit%s, %u channels)", f->format.samplesPerSec,
            f->format.bitsPerSample, f->format.isFloat() ? " float" : "", f->format.channels));
    fact(out, "Format", format);
    fact(out, "Emphasis", file.emphasis ? "On" : "Off");
    fact(out, "Copy", htmlEscaped(file.copyText));
    fact(out, "Date", htmlEscaped(file.dateText));
    fact(out, "Starts at", "ABS " + htmlEscaped(file.startText));
    std::string ids;
    for (const IdMark& id : file.ids)
        ids +=
            (ids.empty() ? "" : ", ") + htmlEscaped(idLabel(id) + " at " + absFramesText(id.abs));
    if (!file.idsKnown)
        ids += std::string(ids.empty() ? "" : " ") +
               "(from the file's start; its report does not list SKIP IDs)";
    fact(out, "IDs", ids.empty() ? "none" : ids);
    const bool errors = file.errorsLeft + file.errorsRight + file.errorsAbs > 0;
    fact(out, "Error frames",
         stringPrintf("L %u, R %u, ABS %u", file.errorsLeft, file.errorsRight, file.errorsAbs),
         errors);
    if (!file.errors.empty()) {
        const std::vector<std::string> runs = errorRuns(file.errors);
        fact(out, "Errors at",
             itemList(runs, plural(runs.size(), "run", "runs") + " of error frames"));
    }
    if (f) {
        fact(out, "Loudness",
             htmlEscaped(loudnessText(f->loudness) +
                         stringPrintf(", loudness range %.1f LU", f->loudnessRange)));
        fact(out, "Sample peak", perChannel(*f, [](const ChannelFigures& c) {
                 return levelText(c.samplePeak, "dBFS");
             }));
        bool over = false;
        for (const ChannelFigures& c : f->channels)
            over = over || c.truePeak > 1.0;
        fact(out, "True peak",
             perChannel(*f, [](const ChannelFigures& c) { return levelText(c.truePeak, "dBTP"); }),
             over);
        bool clipped = false;
        for (const ChannelFigures& c : f->channels)
            clipped = clipped || c.clipRuns > 0;
        std::string clip = perChannel(*f, [](const ChannelFigures& c) {
            return c.clipRuns == 0 ? std::string("none")
                                   : plural(c.clippedSamples, "sample", "samples") + " in " +
                                         plural(c.clipRuns, "run", "runs");
        });
        fact(out, "Clipped", clip, clipped);
        if (!f->clipRuns.empty()) {
            std::vector<std::string> items;
            for (const SampleStretch& s : f->clipRuns)
                items.push_back(clipRunText(timeline, s, static_cast<int>(f->channels.size())));
            fact(out, "Clipped at", itemList(items, plural(items.size(), "run", "runs")));
        }
        fact(out, "DC offset",
             perChannel(*f, [](const ChannelFigures& c) { return dcOffsetText(c.dcOffset); }));
        std::vector<std::string> items;
        for (const SampleStretch& s : f->silences)
            items.push_back(stretchText(timeline, s, f->format.samplesPerSec));
        std::string silence =
            items.empty() ? "none" : itemList(items, plural(items.size(), "stretch", "stretches"));
        if (f->silenceCount > f->silences.size())
            silence += htmlEscaped(stringPrintf(" (%u in all)", f->silenceCount));
        fact(out, stringPrintf("Digital silence over %.0f s", kSilenceSeconds), silence,
             f->silenceCount > 0);
    }
    out += "</dl>\n</section>\n";
}

} // namespace

std::string htmlEscaped(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            // Control bytes of a damaged name would make the page invalid.
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n')
                out += "\xEF\xBF\xBD";
            else
                out += c;
        }
    }
    return out;
}

std::string urlPath(std::string_view path)
{
    std::string out;
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~' || c == '/')
            out += static_cast<char>(c);
        else
            out += stringPrintf("%%%02X", c);
    }
    return out;
}

std::string qcPageHtml(const ArchiveSummary& summary, const std::vector<PageFile>& files,
                       const PageHeader& header)
{
    std::string out = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                      "<title>" +
                      htmlEscaped("Quality check: " + header.title) + "</title>\n<style>\n" +
                      kStyle + "\n</style>\n</head>\n<body>\n<header>\n<h1>" +
                      htmlEscaped(header.title) +
                      "</h1>\n<p class=\"sub\">Quality check of the archive of a tape</p>\n"
                      "<dl class=\"facts\">\n";
    if (!summary.label.empty())
        fact(out, "Tape", htmlEscaped(summary.label));
    fact(out, "Drive", htmlEscaped(summary.drive.empty() ? "unknown" : summary.drive));
    fact(out, "Program", htmlEscaped(summary.program.empty() ? "unknown" : summary.program));
    fact(out, "Run",
         htmlEscaped(summary.started + (summary.ended.empty() ? "" : " to " + summary.ended)));
    fact(out, "Outcome", htmlEscaped(summary.outcome));

    long long seconds = 0;
    unsigned long long left = 0, right = 0, abs = 0, frames = 0;
    for (const ArchivedFile& f : summary.files) {
        seconds += f.seconds;
        left += f.errorsLeft;
        right += f.errorsRight;
        abs += f.errorsAbs;
        frames += f.errors.size();
    }
    fact(out, "Totals",
         htmlEscaped(plural(summary.files.size(), "file", "files") + ", " + hms(seconds) + ", " +
                     plural(frames, "error frame", "error frames") +
                     stringPrintf(" (L %llu, R %llu, ABS %llu)", left, right, abs)),
         frames + abs > 0);
    if (!header.reportName.empty())
        fact(out, "Report", htmlEscaped(header.reportName));
    if (!summary.cueFile.empty())
        fact(out, "Cue list",
             htmlEscaped(std::filesystem::path(summary.cueFile).filename().string()));
    out +=
        "</dl>\n<p class=\"legend\">Waveforms: one lane per channel, <span class=\"key\" "
        "style=\"background:" +
        hex(channelColour(0, 2)) +
        "\"></span>left above, <span class=\"key\" style=\"background:" + hex(channelColour(1, 2)) +
        "\"></span>right below; a block in the strip above a lane is an error frame of that "
        "channel. <span class=\"key\" style=\"background:" +
        hex(kStartIdColour) +
        "\"></span>START IDs, <span class=\"key\" style=\"background:" + hex(kSkipIdColour) +
        "\"></span>SKIP IDs. Times are the tape's ABS time. Spectrograms: 0 Hz at the bottom "
        "to half the sampling rate at the top, brighter is louder.</p>\n<nav><ol>\n";
    for (std::size_t i = 0; i < files.size(); ++i) {
        const ArchivedFile& f = *files[i].file;
        const unsigned long long errs = f.errors.size() + f.errorsAbs;
        std::string line = "PNo " + f.programText + ", " +
                           std::filesystem::path(f.name).filename().string() + ", " +
                           hms(f.seconds) + ", " + plural(errs, "error frame", "error frames");
        if (files[i].analysis != nullptr && files[i].analysis->ok)
            line += ", " + loudnessText(files[i].analysis->figures.loudness);
        out += stringPrintf("<li><a href=\"#file-%zu\"", i + 1) +
               (errs > 0 ? " class=\"warn\"" : "") + ">" + htmlEscaped(line) + "</a></li>\n";
    }
    out += "</ol></nav>\n</header>\n<main>\n";
    for (std::size_t i = 0; i < files.size(); ++i)
        fileSection(out, files[i], i);
    out += "</main>\n<footer>Made by " + htmlEscaped(header.madeBy) + " on " +
           htmlEscaped(header.madeAt) + ".</footer>\n</body>\n</html>\n";
    return out;
}

} // namespace tarnvel::qc
