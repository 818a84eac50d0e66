#include "record/RecFileList.h"

#include "app/Settings.h"
#include "common/Message.h"
#include "common/MessageSink.h"
#include "formats/CueFile.h"
#include "formats/FormatMessages.h"
#include "formats/ImageMessages.h"
#include "formats/ImageReader.h"
#include "formats/StringPrintf.h"
#include "formats/TextFields.h"
#include "formats/WaveFileReader.h"
#include "record/RecordListMessages.h"

#include <algorithm>
#include <filesystem>
#include <strings.h>

namespace tarnvel::record {

using formats::leadingNumber;
using formats::stringPrintf;
using formats::trimBlanks;

namespace {

constexpr int kEndIdCode = 1111;

bool endsWith(std::string_view s, std::string_view tail)
{
    return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

bool hasExtension(const std::string& path, const char* ext)
{
    const std::string e = std::filesystem::path(path).extension().string();
    return strcasecmp(e.c_str(), ext) == 0;
}

std::string folderOf(const std::string& path)
{
    const std::string folder = std::filesystem::path(path).parent_path().string();
    return folder.empty() || folder.back() == '/' ? folder : folder + "/";
}

int nonNegative(std::string_view text)
{
    return std::max(0, leadingNumber(text));
}

// Minutes and seconds of a "%02dm%02ds" text; 0 for an empty one.
long long durationSeconds(const std::string& text)
{
    const std::size_t m = text.find('m');
    const long long seconds = m == std::string::npos ? 0 : nonNegative(text.substr(m + 1));
    return static_cast<long long>(nonNegative(text)) * 60 + seconds;
}

bool isSupportedPcm(std::uint32_t rate, int bits)
{
    struct Pair {
        std::uint32_t rate;
        int bits;
    };
    static constexpr Pair kSupported[] = {{32000, 16}, {44100, 16}, {48000, 16},
                                          {88200, 16}, {96000, 16}, {44100, 24},
                                          {48000, 24}, {44100, 32}, {48000, 32}};
    return std::any_of(std::begin(kSupported), std::end(kSupported),
                       [&](const Pair& p) { return p.rate == rate && p.bits == bits; });
}

} // namespace

RecFileSettings RecFileSettings::fromSettings(const app::Settings& s)
{
    RecFileSettings r;
    r.preSilenceSec = s.DlgPreSilenceSec;
    r.postSilenceSec = s.DlgPostSilenceSec;
    r.longPlayMode = s.DlgLongPlayMode;
    r.emphasis = s.DlgEmphasis;
    r.copyBits = s.DlgCopyBits;
    r.recAutoEndId = s.RecAutoEndID;
    r.recFromFileOnly = s.RecFromFileOnly;
    r.dir = s.Dir;
    return r;
}

void RecFileSettings::storeIn(app::Settings& s) const
{
    s.DlgPreSilenceSec = preSilenceSec;
    s.DlgPostSilenceSec = postSilenceSec;
    s.DlgLongPlayMode = longPlayMode;
    s.DlgEmphasis = emphasis;
    s.DlgCopyBits = copyBits;
    s.RecAutoEndID = recAutoEndId;
    s.RecFromFileOnly = recFromFileOnly;
    if (!dir.empty())
        s.Dir = dir;
}

RecFileList::RecFileList(MessageSink& sink, AskOkCancel ask)
    : sink_(sink), ask_(std::move(ask)), cueFilePath_(formats::kCueDefaultName)
{
}

int RecFileList::nextPNo(int pno)
{
    return pno <= 0 || pno >= kMaxPNo ? 0 : pno + 1;
}

void RecFileList::showMessage(const std::string& text)
{
    sink_.showMessage(text, MessageIcon::Warning);
}

const char* RecFileList::columnTitle(int column)
{
    static constexpr const MessagePair* kTitles[kColumns] = {
        &msg::kColPNo,  &msg::kColWaveFile, &msg::kColTime,    &msg::kColFormat,
        &msg::kColEmph, &msg::kColCopy,     &msg::kColSilence, nullptr};
    if (column < 0 || column >= kColumns || kTitles[column] == nullptr)
        return "";
    return tr(*kTitles[column]);
}

const char* RecFileList::copyTextOf(int copyBits)
{
    switch (copyBits) {
    case 2:
        return "Prohibit";
    case 3:
        return "Once";
    default:
        return "Permit";
    }
}

int RecFileList::copyBitsOf(std::string_view text)
{
    if (text == "Prohibit")
        return 2;
    if (text == "Once")
        return 3;
    return 0;
}

std::string RecFileList::formatText(const formats::WaveFormat& format, bool longPlay)
{
    const int rate = static_cast<int>(format.samplesPerSec);
    if (format.bitsPerSample == 16 && !format.isFloat())
        return stringPrintf("%5d", rate) + (longPlay && rate == 32000 ? " LP" : "");
    return stringPrintf("%5d / %s%d", rate, format.isFloat() ? "F" : "",
                        static_cast<int>(format.bitsPerSample));
}

std::string RecFileList::durationText(long long seconds)
{
    return stringPrintf("%02lldm%02llds", seconds / 60, seconds % 60);
}

double RecFileList::tapeFactor(std::string_view formatText)
{
    double factor = 1.0;
    if (formatText.find("LP") != std::string_view::npos)
        factor *= 0.5;
    if (formatText.find("96000") != std::string_view::npos)
        factor *= 2;
    if (formatText.find('/') != std::string_view::npos)
        factor *= 2;
    return factor;
}

void RecFileList::show(const RecFileSettings& settings)
{
    settings_ = settings;
    pNoStart_ = 1;
    preSilenceText_ = std::to_string(std::max(0, settings.preSilenceSec));
    silenceText_ = std::to_string(std::max(0, settings.postSilenceSec));
    emphText_ = settings.emphasis ? "On" : "Off";
    copyText_ = copyTextOf(settings.copyBits);
    withSound_ = !settings.recFromFileOnly;
    autoEndId_ = settings.recAutoEndId;
    imageName_ = settings.imagePath;
    imageStatus_.clear();
    recomputeTotal();
}

void RecFileList::setPNoStart(int pno)
{
    pNoStart_ = std::clamp(pno, 0, kMaxPNo);
}

void RecFileList::setPreSilenceText(const std::string& text)
{
    preSilenceText_ = text.substr(0, kPreSilenceChars);
    settings_.preSilenceSec = nonNegative(preSilenceText_);
    recomputeTotal();
}

void RecFileList::setSilenceText(const std::string& text)
{
    silenceText_ = text.substr(0, kSilenceChars);
    settings_.postSilenceSec = nonNegative(silenceText_);
}

void RecFileList::setMode(RecFileMode mode)
{
    if (mode != RecFileMode::Cancelled)
        mode_ = mode;
}

bool RecFileList::showImageProperty()
{
    CollectingMessageSink quiet;
    formats::ImageReader reader(quiet);
    if (!reader.open(imageName_, true)) {
        imageStatus_ = tr(formats::kMsgImageOpenOrFormat);
        return false;
    }
    imageStatus_ = formats::imagePropertyText(reader);
    return true;
}

std::optional<RecFileDecision> RecFileList::ok(bool autoIdChecked, bool shift)
{
    const auto ask = [this](const MessagePair& question) { return ask_ && ask_(tr(question)); };
    RecFileDecision d;
    if (mode_ == RecFileMode::Image) {
        if (trimBlanks(imageName_).empty()) {
            showMessage(tr(msg::kPleaseInputFileName));
            return std::nullopt;
        }
        if (shift) {
            if (!ask(msg::kImageWithoutRewind))
                return std::nullopt;
            d.imageWithoutRewind = true;
        }
        settings_.imagePath = imageName_;
        d.mode = RecFileMode::Image;
        d.recSourceName = imageName_;
        return d;
    }
    if (count_ == 0) {
        showMessage(tr(msg::kPleaseInputFileName));
        return std::nullopt;
    }
    settings_.recFromFileOnly = !withSound_;
    settings_.recAutoEndId = autoEndId_;
    d.mode = RecFileMode::WaveList;
    d.recSourceName = rows_[0][kPath];
    d.recFromFileOnly = settings_.recFromFileOnly;
    d.recAutoEndId = settings_.recAutoEndId;
    d.preSilenceSec = nonNegative(preSilenceText_);
    // Auto ID listens to the sound output's level, which a recording from files with sound
    // would mark with IDs of its own. Cancel records nothing: the dialog stays open.
    if (autoIdChecked && withSound_) {
        if (!ask(msg::kDisableAutoId))
            return std::nullopt;
        d.disableAutoId = true;
    }
    return d;
}

std::string RecFileList::selectedPath() const
{
    return selected_ >= 1 && selected_ <= count_
               ? rows_[static_cast<std::size_t>(selected_ - 1)][kPath]
               : std::string();
}

std::string RecFileList::unableToPlayText(const std::string& deviceError)
{
    return std::string(tr(msg::kUnableToPlay)) + "\n (" + deviceError + ")";
}

void RecFileList::showUnableToPlay(const std::string& deviceError)
{
    showMessage(unableToPlayText(deviceError));
}

void RecFileList::setLongPlay(bool on)
{
    settings_.longPlayMode = on;
}

void RecFileList::setEmphasisText(const std::string& text)
{
    emphText_ = text;
    settings_.emphasis = text == "On";
}

void RecFileList::setCopyText(const std::string& text)
{
    copyText_ = text;
    settings_.copyBits = copyBitsOf(text);
}

bool RecFileList::registerFile(const std::string& path)
{
    return registerFile(path, false);
}

int RecFileList::registerFiles(const std::vector<std::string>& paths)
{
    int registered = 0;
    for (const std::string& path : paths) {
        if (!registerFile(path, false))
            break;
        ++registered;
    }
    return registered;
}

bool RecFileList::registerFile(const std::string& path, bool fromCue)
{
    if (!fromCue)
        settings_.dir = folderOf(path);
    // Said, not silent: a script recording a list must learn which file did not fit.
    if (count_ >= kMaxEntries) {
        showMessage(std::string(tr(msg::kListFull)) + "\n\n" + path);
        return false;
    }
    formats::WaveFileReader reader;
    if (!reader.readHeader(path)) {
        showMessage(std::string(tr(msg::kUnableToOpenFile)) + "\n [" + reader.errorText() +
                    "]\n\n" + path);
        return false;
    }
    reader.close();
    const formats::WaveFormat& format = reader.format();
    const int rate = static_cast<int>(format.samplesPerSec);
    std::string complaints;
    if (format.formatTag == formats::kWaveFormatPcm) {
        if (!isSupportedPcm(format.samplesPerSec, format.bitsPerSample))
            complaints += stringPrintf(tr(msg::kComplaintRateBits), rate,
                                       static_cast<int>(format.bitsPerSample));
    } else if (format.formatTag == formats::kWaveFormatIeeeFloat) {
        // Float samples are 32 bits; any other size would make the block size wrong (or 0).
        if (format.bitsPerSample != 32)
            complaints += stringPrintf(tr(msg::kComplaintFloatBits), rate,
                                       static_cast<int>(format.bitsPerSample));
        else if (rate != 44100 && rate != 48000)
            complaints += stringPrintf(tr(msg::kComplaintFloatRate), rate);
    } else {
        complaints += tr(msg::kComplaintNotPcm);
    }
    if (format.channels != 2)
        complaints += tr(msg::kComplaintNotStereo);
    // The recording reads whole sample pairs of the size the header gives: a wrong one would
    // be refused only when the recording reaches the file.
    const std::uint32_t blockAlign = 2u * format.bitsPerSample / 8;
    if (complaints.empty() && format.blockAlign != blockAlign)
        complaints +=
            stringPrintf(tr(msg::kComplaintBlockAlign), static_cast<int>(format.blockAlign),
                         static_cast<int>(blockAlign));
    if (!complaints.empty()) {
        showMessage(std::string(tr(msg::kUnsupportedFormat)) + "\n" + complaints + "\n" + path);
        return false;
    }

    Row& row = rows_[static_cast<std::size_t>(count_)];
    ++count_;
    row = Row{};
    row[kPath] = path;
    row[kWaveFile] = path;
    if (fromCue) {
        row[kEmph] = "Off";
        row[kCopy] = "Permit";
        row[kSilence] = "  0";
        return true;
    }
    row[kPNo] = stringPrintf("%3d", pNoStart_);
    pNoStart_ = nextPNo(pNoStart_);
    const long long frames = reader.dataLength() / blockAlign;
    row[kTime] = durationText((frames + rate / 2) / rate);
    row[kFormat] = formatText(format, settings_.longPlayMode);
    row[kEmph] = emphText_;
    row[kCopy] = copyText_;
    row[kSilence] = stringPrintf("%3s", silenceText_.c_str());
    selected_ = count_;
    recomputeTotal();
    return true;
}

void RecFileList::dropFiles(const std::vector<std::string>& paths)
{
    mode_ = RecFileMode::WaveList;
    for (const std::string& path : paths) {
        if (!hasExtension(path, ".WAV")) {
            loadCueFile(path);
            return;
        }
        registerFile(path, false);
    }
}

bool RecFileList::dropImageFile(const std::string& path)
{
    mode_ = RecFileMode::Image;
    if (!hasExtension(path, ".TVI")) {
        showMessage(std::string(tr(msg::kExtentNotTvi)) + "\n\n" + path);
        return false;
    }
    imageName_ = path;
    showImageProperty();
    return true;
}

void RecFileList::selectRow(int r)
{
    selected_ = count_ == 0 ? 0 : std::clamp(r, 1, count_);
}

void RecFileList::recomputeTotal()
{
    if (count_ == 0) {
        totalText_ = durationText(0);
        return;
    }
    double t = settings_.preSilenceSec * tapeFactor(rows_[0][kFormat]);
    for (int i = 0; i < count_; ++i) {
        const Row& row = rows_[static_cast<std::size_t>(i)];
        t += static_cast<double>(durationSeconds(row[kTime]) + nonNegative(row[kSilence])) *
             tapeFactor(row[kFormat]);
    }
    totalText_ = durationText(static_cast<long long>(t + 0.5));
}

void RecFileList::renumber()
{
    int pno = pNoStart_;
    for (int i = 0; i < count_; ++i) {
        rows_[static_cast<std::size_t>(i)][kPNo] = stringPrintf("%3d", pno);
        pno = nextPNo(pno);
    }
}

bool RecFileList::moveUp()
{
    if (count_ < 2 || selected_ < 2 || selected_ > count_)
        return false;
    std::swap(rows_[static_cast<std::size_t>(selected_ - 1)],
              rows_[static_cast<std::size_t>(selected_ - 2)]);
    --selected_;
    return true;
}

bool RecFileList::moveDown()
{
    if (count_ < 2 || selected_ < 1 || selected_ > count_ - 1)
        return false;
    std::swap(rows_[static_cast<std::size_t>(selected_ - 1)],
              rows_[static_cast<std::size_t>(selected_)]);
    ++selected_;
    return true;
}

void RecFileList::removeRow(int r)
{
    if (r < 1 || r > count_)
        return;
    std::move(rows_.begin() + r, rows_.begin() + count_, rows_.begin() + r - 1);
    rows_[static_cast<std::size_t>(count_ - 1)] = Row{};
    --count_;
}

void RecFileList::deleteSelected()
{
    removeRow(selected_);
    selectRow(selected_);
    recomputeTotal();
}

void RecFileList::deleteAll()
{
    rows_.fill(Row{});
    count_ = 0;
    selected_ = 0;
    recomputeTotal();
}

bool RecFileList::applySettingsToCells(int top, int bottom, int left, int right, bool shift)
{
    top = std::max(top, 1);
    bottom = std::min(bottom, count_);
    left = std::max(left, 0);
    right = std::min(right, kColumns - 1);
    if (top > bottom || left > right)
        return false;
    selected_ = top;
    if (top == bottom && left == kWaveFile && right == kWaveFile)
        return true;
    int pno = pNoStart_;
    for (int r = top; r <= bottom; ++r) {
        Row& row = rows_[static_cast<std::size_t>(r - 1)];
        for (int c = left; c <= right; ++c) {
            switch (c) {
            case kPNo:
                row[kPNo] = stringPrintf("%3d", pno);
                if (shift)
                    pno = nextPNo(pno);
                break;
            case kFormat:
                // Only a 32000 Hz 16-bit entry ("32000" or "32000 LP") can be long play.
                if (row[kFormat].find('/') == std::string::npos &&
                    leadingNumber(row[kFormat]) == 32000)
                    row[kFormat] = stringPrintf("%5d", 32000) + (longPlay() ? " LP" : "");
                break;
            case kEmph:
                row[kEmph] = emphText_;
                break;
            case kCopy:
                row[kCopy] = copyText_;
                break;
            case kSilence:
                row[kSilence] = stringPrintf("%3s", silenceText_.c_str());
                break;
            default:
                break;
            }
        }
    }
    recomputeTotal();
    return false;
}

bool RecFileList::saveCueFile(const std::string& path)
{
    if (count_ == 0)
        return false;
    cueFilePath_ = path;
    settings_.dir = folderOf(path);
    std::vector<formats::CueEntry> entries;
    for (int i = 0; i < count_; ++i) {
        const Row& row = rows_[static_cast<std::size_t>(i)];
        entries.push_back({row[kPath], row[kPNo], row[kTime], row[kFormat], row[kEmph], row[kCopy],
                           row[kSilence]});
    }
    return formats::writeCueFile(path, settings_.preSilenceSec, entries, sink_);
}

bool RecFileList::loadCueFile(const std::string& path)
{
    cueLoadComplete_ = false;
    formats::CueReader reader;
    if (!reader.open(path, sink_))
        return false;
    cueFilePath_ = path;
    rows_.fill(Row{});
    count_ = 0;
    bool refused = false;
    while (auto record = reader.next()) {
        if (!registerFile(record->path, true)) {
            refused = true;
            break;
        }
        if (record->failed) {
            removeRow(count_);
            continue;
        }
        Row& row = rows_[static_cast<std::size_t>(count_ - 1)];
        auto apply = [](std::string& cell, const std::optional<std::string>& value) {
            if (value)
                cell = *value;
        };
        apply(row[kPNo], record->pno);
        apply(row[kTime], record->time);
        apply(row[kFormat], record->format);
        apply(row[kEmph], record->emph);
        apply(row[kCopy], record->copy);
        apply(row[kSilence], record->silence);
    }
    if (reader.preSilence())
        setPreSilenceText(*reader.preSilence());
    pNoStart_ = std::min(count_ + 1, kMaxPNo);
    selected_ = count_ > 0 ? 1 : 0;
    recomputeTotal();
    if (!reader.problems().empty()) {
        std::string text = tr(formats::msg::kCueLinesRefused);
        for (const std::string& problem : reader.problems())
            text += "\n" + problem;
        showMessage(text + "\n\n" + path);
    }
    cueLoadComplete_ = !refused && reader.problems().empty() && count_ > 0;
    if (count_ == 0) {
        showMessage(std::string(tr(msg::kUnableToRegisterFile)) + "\n\n" + path);
        return false;
    }
    return true;
}

std::optional<RecFileEntry> RecFileList::nextFileEntry(bool first)
{
    if (first) {
        cursor_ = 0;
        endPending_ = settings_.recAutoEndId && count_ > 0;
    }
    if (cursor_ <= count_)
        ++cursor_;
    if (cursor_ <= count_) {
        const Row& row = rows_[static_cast<std::size_t>(cursor_ - 1)];
        RecFileEntry e;
        e.path = row[kPath];
        e.pno = nonNegative(row[kPNo]);
        e.longPlay = endsWith(row[kFormat], " LP");
        e.emphasis = row[kEmph] == "On";
        e.copyBits = copyBitsOf(row[kCopy]);
        e.silenceSec = nonNegative(row[kSilence]);
        return e;
    }
    if (endPending_) {
        endPending_ = false;
        RecFileEntry end;
        end.path = " END ID";
        end.pno = kEndIdCode;
        return end;
    }
    return std::nullopt;
}

} // namespace tarnvel::record
