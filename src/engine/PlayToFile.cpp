#include "engine/PlayToFile.h"

#include "app/TimeDisplay.h"
#include "engine/EngineMessages.h"
#include "engine/ExtendedFormat.h"
#include "engine/Rereader.h"
#include "formats/BroadcastWave.h"
#include "formats/FlacFileWriter.h"
#include "formats/PosixIo.h"
#include "formats/StringPrintf.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnvel::engine {

using formats::stringPrintf;

namespace {

// A START ID seen by pre-reading does not divide again for this many frames.
constexpr int kDivisionHoldOff = 41;

bool fileExists(const std::string& name)
{
    struct stat st {};
    return ::stat(name.c_str(), &st) == 0;
}

std::string trimmed(const std::string& s)
{
    const auto b = s.find_first_not_of(' ');
    if (b == std::string::npos)
        return {};
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

// "_YYMMDDhhmmss" from a date pack, or nothing when the frame carries no date.
std::string dateSuffix(const std::array<std::uint8_t, dat::kPackBytes>& date)
{
    if (date[1] == 0xAA)
        return {};
    char text[16];
    std::snprintf(text, sizeof text, "_%02X%02X%02X%02X%02X%02X", date[1], date[2], date[3],
                  date[4], date[5], date[6]);
    return text;
}

// The date pack of a frame, or none.
std::array<std::uint8_t, dat::kPackBytes> datePackOf(const dat::DatFrame& frame)
{
    if (const auto pack = dat::lastPackWithItem(frame.subcode, dat::PackItem::Date))
        return pack->bytes;
    return dat::TapePosition::kNoDatePack;
}

std::string randomSuffix()
{
    static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kChars - 2);
    std::string s;
    for (int i = 0; i < 6; ++i)
        s += kChars[pick(random)];
    return s;
}

bool hasDate(const std::array<std::uint8_t, dat::kPackBytes>& date)
{
    return date[1] != 0xAA;
}

// 24-bit pairs read as 16-bit high-rate audio alternate between a frame of upper words and a
// frame whose high bytes are all zero; this many alternations in a row are taken as proof
// (audio at a high rate practically never leaves every high byte of a frame zero).
constexpr int kExtendedPairEvidence = 16;

// The program number a frame carries itself, 0 for none. (The tracker's current number stays
// from an earlier frame where a frame carries none, and would name a file after the tape's
// history.) Virtual IDs mark only their ID runs: there the current number is the program's.
int ownProgramNumber(const dat::TapePosition& pos, bool virtualIds)
{
    if (virtualIds)
        return pos.currentPNo >= 1 && pos.currentPNo <= dat::kMaxProgramNumber ? pos.currentPNo : 0;
    const auto d = static_cast<std::uint16_t>(pos.pNoDigits);
    if (!dat::isDecimalProgramDigits(d))
        return 0;
    const int n = (d >> 8 & 0x0F) * 100 + (d >> 4 & 0x0F) * 10 + (d & 0x0F);
    return n <= dat::kMaxProgramNumber ? n : 0;
}

// The program number as a cue entry shows it.
std::string programText(const dat::TapePosition& pos, int preReadNumber, bool virtualIds)
{
    if (preReadNumber > 0)
        return std::to_string(preReadNumber);
    if (pos.pNoDigits == dat::kPNoDigitsLeadIn)
        return "BB";
    if (pos.pNoDigits == dat::kPNoDigitsEnd)
        return "EE";
    if (const int n = ownProgramNumber(pos, virtualIds); n >= 1)
        return std::to_string(n);
    return "--";
}

// The tape as the files' metadata names it: "48000/16", "32000/12" for long play.
std::string tapeFormatTag(const WrittenFile& f)
{
    return stringPrintf("%d/%d", f.tapeRate, f.tapeBits);
}

// The Broadcast Wave description of a file: where it came from and how well it read. The
// coding history has a row for the drive that played the tape and one for this program's
// transfer, each with the audio as it left that stage.
std::vector<std::uint8_t> bextOf(const WrittenFile& f, const std::string& label,
                                 const std::string& drive)
{
    formats::BextInfo b;
    const std::string counts =
        stringPrintf("PNo %s, error frames L %u R %u ABS %u", f.programText.c_str(), f.errorsLeft,
                     f.errorsRight, f.errorsAbs);
    b.description =
        label.empty() ? "DAT transfer, " + counts : "DAT transfer of " + label + ", " + counts;
    if (b.description.size() > 256) // the label gives way: the counts stay whole
        b.description = "DAT transfer of " +
                        label.substr(0, 256 - counts.size() - std::strlen("DAT transfer of , ")) +
                        ", " + counts;
    b.originator = "Tarnvel";
    int seconds = 0;
    if (formats::bextDateOfPack(f.datePack, b.date, b.time, seconds))
        b.timeReference = static_cast<std::uint64_t>(seconds) * f.format.samplesPerSec;
    std::string source = drive.empty() ? std::string("DAT") : drive;
    if (f.tapeBits == 12)
        source += " long play";
    if (f.tapeEmphasis)
        source += " with emphasis";
    b.codingHistory =
        stringPrintf("A=PCM,F=%d,W=%d,M=stereo,T=%s\r\n", f.tapeRate, f.tapeBits, source.c_str()) +
        stringPrintf("A=PCM,F=%u,W=%u,M=stereo,T=%s\r\n", f.format.samplesPerSec,
                     f.format.bitsPerSample, PlayToFile::programName().c_str());
    return formats::bextChunkBody(b);
}

// "1998-05-17T14:30:00" from a date pack; empty without a date.
std::string isoDate(const std::array<std::uint8_t, dat::kPackBytes>& pack)
{
    std::string date;
    std::string time;
    int seconds = 0;
    if (!formats::bextDateOfPack(pack, date, time, seconds))
        return {};
    return date + "T" + time;
}

// The Vorbis comments of a FLAC file.
formats::FlacTags flacTagsOf(const WrittenFile& f, const std::string& label)
{
    formats::FlacTags t;
    t.emplace_back("TRACKNUMBER", f.programText);
    if (const std::string date = isoDate(f.datePack); !date.empty())
        t.emplace_back("DATE", date);
    if (!label.empty())
        t.emplace_back("DESCRIPTION", label);
    t.emplace_back("DAT_ABS_START", trimmed(f.startAbs.substr(0, f.startAbs.find(" <"))));
    if (!f.endAbs.empty())
        t.emplace_back("DAT_ABS_END", trimmed(f.endAbs));
    t.emplace_back("DAT_FORMAT", tapeFormatTag(f));
    t.emplace_back("DAT_EMPHASIS", f.emphasis ? "yes" : "no");
    t.emplace_back("DAT_COPY", f.copyText);
    t.emplace_back("DAT_ERRORS",
                   stringPrintf("L %u, R %u, ABS %u", f.errorsLeft, f.errorsRight, f.errorsAbs));
    t.emplace_back("ENCODER", PlayToFile::programName());
    return t;
}

} // namespace

// Messages of the writers come on the playback thread; they are shown on the window thread.
class PlayToFile::Sink final : public MessageSink {
public:
    explicit Sink(Deck& deck) : deck_(deck) {}
    void showMessage(const std::string& text, MessageIcon icon, const std::string& caption) override
    {
        {
            std::lock_guard lock(mutex_);
            last_ = text;
        }
        deck_.ui().invoke([&] { deck_.view().showMessage(text, icon, caption); });
    }
    std::string last() const
    {
        std::lock_guard lock(mutex_);
        return last_;
    }
    void clear()
    {
        std::lock_guard lock(mutex_);
        last_.clear();
    }

private:
    Deck& deck_;
    mutable std::mutex mutex_;
    std::string last_; // kept for the report's "how it ended"
};

PlayToFile::PlayToFile(Deck& deck, app::Settings& settings)
    : deck_(deck), settings_(settings), sink_(std::make_unique<Sink>(deck))
{
}

PlayToFile::~PlayToFile()
{
    if (active_)
        finish();
}

int PlayToFile::preReadFrames(int tenths, const TapeFormat& format)
{
    int n = tenths * 100 / 3;
    if (format.longPlay)
        n /= 2;
    if (format.rate > 48000 || format.bits == 24)
        n *= 2;
    return (n + 5) / 10;
}

int PlayToFile::fileSeconds(std::uint32_t frames, const TapeFormat& format)
{
    // Every frame written is one frame time of audio, a long-play half included; high-rate
    // and 24-bit frames carry half a frame time each.
    std::uint64_t f = frames;
    if (format.rate > 48000 || format.bits == 24)
        f /= 2;
    return static_cast<int>((f * 3 + 50) / 100);
}

std::string PlayToFile::programName()
{
    return "Tarnvel " TARNVEL_VERSION;
}

std::string PlayToFile::flacRefusal(const app::Settings& settings)
{
    // 24-bit tapes go out as float with this setting; FLAC holds integers only.
    if (settings.ExtendedFormatMode != 0 && settings.ExtendedFormatBitLen < 0)
        return "FLAC files hold integer samples: the float output (ExtendedFormatBitLen=-32) "
               "cannot be archived as FLAC. Archive as WAV, or set ExtendedFormatBitLen to 24 "
               "or 32.";
    return {};
}

void PlayToFile::describe()
{
    if (auto* flac = dynamic_cast<formats::FlacFileWriter*>(wave_.get()))
        flac->setTags(flacTagsOf(current_, label_));
    else if (bwf_)
        static_cast<formats::WaveFileWriter*>(wave_.get())
            ->updateExtraChunk(bextOf(current_, label_, driveText_));
}

std::string PlayToFile::lastMessage() const
{
    // "Message\n\nname" on one line.
    std::string text = sink_->last();
    for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos;)
        text.replace(at, text.compare(at, 2, "\n\n") == 0 ? 2 : 1, " ");
    return text;
}

void PlayToFile::message(const std::string& text)
{
    sink_->showMessage(text, MessageIcon::Warning, {});
}

bool PlayToFile::ask(const std::string& text)
{
    bool yes = false;
    deck_.ui().invoke([&] { yes = deck_.view().ask(text, Buttons::YesNo).yes; });
    return yes;
}

bool PlayToFile::usableOutput(const std::string& name)
{
    // Only regular files are replaced: a FIFO would block the run, a device or a folder is
    // not ours to write. Refused before any question.
    struct stat st {};
    if (::stat(name.c_str(), &st) != 0 || S_ISREG(st.st_mode))
        return true;
    formats::OpenFailure failure;
    failure.problem = S_ISDIR(st.st_mode) ? formats::OpenProblem::IsDirectory
                                          : formats::OpenProblem::NotRegularFile;
    message(stringPrintf(
        tr(msg::kNameAndText),
        stringPrintf("%s  (%s)", tr(msg::kUnableToCreateFile), failure.text().c_str()).c_str(),
        name.c_str()));
    return false;
}

bool PlayToFile::askOverwrite(const std::string& name)
{
    if (!fileExists(name))
        return true;
    return ask(stringPrintf(tr(msg::kNameAndText), name.c_str(), tr(msg::kSameFileExists)));
}

std::string PlayToFile::currentFile() const
{
    std::lock_guard lock(nameMutex_);
    return currentName_;
}

// --- Set-up (window thread) ------------------------------------------------------------------

bool PlayToFile::setUp(Modifiers modifiers)
{
    writeFailed_ = false;
    peerCancelled_.store(false);
    audioMicros_ = 0;
    written_.clear();
    sink_->clear();
    extendedPairs_ = false;
    alternations_ = 0;
    lastFrameLowByte_ = false;
    rereader_.reset();
    if (dialog_ && !dialog_(modifiers, request_))
        return false;
    switch (request_.destination) {
    case PlayDestination::Wave:
        active_ = setUpWave();
        break;
    case PlayDestination::Image:
        active_ = setUpImage();
        break;
    case PlayDestination::PeerAudio:
    case PlayDestination::PeerImage:
        active_ = setUpPeer();
        break;
    }
    if (active_)
        startRereading();
    return active_;
}

void PlayToFile::startRereading()
{
    if (request_.retries <= 0 || peer())
        return;
    rereader_ = std::make_unique<Rereader>(*deck_.drive(), deck_.driveIndex(), request_.retries,
                                           [this] { return deck_.state().stopRequested.load(); });
    deck_.drive()->setFrameFeed(deck_.driveIndex(), rereader_.get());
}

void PlayToFile::endRereading()
{
    if (rereader_)
        deck_.drive()->setFrameFeed(deck_.driveIndex(), nullptr);
}

std::string PlayToFile::rereadStatus() const
{
    return rereader_ ? rereader_->status() : std::string{};
}

std::uint32_t PlayToFile::framesReread() const
{
    return rereader_ ? rereader_->framesReread() : 0;
}

std::uint32_t PlayToFile::framesRecovered() const
{
    return rereader_ ? rereader_->framesRecovered() : 0;
}

std::string PlayToFile::waveName(int number, int sub, const DatePack& date) const
{
    std::string name = base_ + stringPrintf("%02d", number);
    if (sub > 0)
        name += stringPrintf("%02d", sub);
    return name + dateSuffix(date) + (flac_ ? ".flac" : ".WAV");
}

bool PlayToFile::setUpWave()
{
    if (flac_) {
        if (const std::string why = flacRefusal(settings_); !why.empty()) {
            message(why);
            return false;
        }
    }
    base_ = request_.waveBase;
    if (base_.size() >= 4 && strcasecmp(base_.c_str() + base_.size() - 4, ".WAV") == 0)
        base_.resize(base_.size() - 4);
    else if (formats::hasFlacExtension(base_))
        base_.resize(base_.size() - 5);
    base_ = absoluteIn(base_, settings_.Dir);
    cueName_ = base_ + ".TVC";
    if (!usableOutput(cueName_) || !askOverwrite(cueName_))
        return false;
    // The list is written under a name of its own beside the target and takes the target's
    // place with its first entry: a run that archives nothing leaves an earlier list as it was.
    formats::OpenFailure failure;
    for (int attempt = 0; attempt < 100 && cue_ == nullptr; ++attempt) {
        cueTemporary_ = base_ + ".partial-" + randomSuffix() + ".TVC";
        if (!fileExists(cueTemporary_))
            cue_ = formats::createRegularStream(cueTemporary_, failure);
    }
    if (cue_ == nullptr) {
        message(stringPrintf(
            tr(msg::kNameAndText),
            stringPrintf("%s  (%s)", tr(msg::kUnableToCreateFile), failure.text().c_str()).c_str(),
            cueName_.c_str()));
        return false;
    }
    cueEntries_ = 0;
    cueCreated_ = true;
    if (flac_)
        wave_ = std::make_unique<formats::FlacFileWriter>(*sink_, flacLevel_);
    else
        wave_ = std::make_unique<formats::WaveFileWriter>(*sink_);
    {
        const scsi::ScsiDeviceEntry e = deck_.drive()->getDevice(deck_.driveIndex());
        driveText_ = trimmed(trimmed(e.productText()) + " " + trimmed(e.revisionText()));
    }
    usedNames_.clear();
    fileNumber_ = 0;
    subNumber_ = 0;
    framesInFile_ = 0;
    framesUntilOwn_ = 0;
    current_ = WrittenFile{};
    hasPending_ = false;
    {
        std::lock_guard lock(nameMutex_);
        currentName_.clear();
    }
    // Where the tape stood before the run (a search, a rewind, an earlier run) does not name
    // anything: the first file is opened by the first frame read.
    firstPending_ = true;
    preRead_ = preReadFrames(request_.preReadTenths, deck_.pipeline().tapeFormat());
    holdOff_ = 0;
    return true;
}

bool PlayToFile::openWave(const std::string& name, const dat::TapePosition& pos, int preReadNumber,
                          const DatePack& date)
{
    PlaybackPipeline& p = deck_.pipeline();
    current_ = WrittenFile{};
    current_.name = name;
    current_.programText = programText(pos, preReadNumber, deck_.virtualIdMode());
    current_.datePack = date;
    const formats::WaveFormat& f = p.outputFormat();
    const TapeFormat& tape = p.tapeFormat();
    current_.formatText =
        stringPrintf("%5d / %s%d (%s)", static_cast<int>(f.samplesPerSec), f.isFloat() ? "F" : "",
                     static_cast<int>(f.bitsPerSample),
                     tape.longPlay ? "LP" : stringPrintf("%2d", tape.bits).c_str());
    // "Emph" tells whoever records the file back to set the emphasis bit: only for audio
    // that was not de-emphasised on its way here.
    current_.emphasis = tape.emphasis && !p.deEmphasising();
    current_.copyText = trimmed(tr(msg::kCopyTexts[tape.copyBits & 3]));
    current_.copyBits = static_cast<std::uint8_t>(tape.copyBits & 3);
    current_.format = f;
    current_.tapeRate = tape.rate;
    current_.tapeBits = tape.longPlay ? 12 : tape.bits;
    current_.tapeEmphasis = tape.emphasis;
    std::string when = app::absText(pos);
    if (preReadNumber > 0)
        when = stringPrintf("%s <0.%dsec", when.c_str(), request_.preReadTenths);
    current_.startAbs = when;
    current_.errorFrames.reserve(4096); // an error list that grows rarely allocates per frame

    wave_->setFileName(name);
    wave_->setFormat(f);
    if (auto* flac = dynamic_cast<formats::FlacFileWriter*>(wave_.get()))
        flac->setTags(flacTagsOf(current_, label_));
    else if (bwf_)
        static_cast<formats::WaveFileWriter*>(wave_.get())
            ->setExtraChunk("bext", bextOf(current_, label_, driveText_));
    else
        static_cast<formats::WaveFileWriter*>(wave_.get())->setExtraChunk({}, {});
    framesInFile_ = 0;
    if (!wave_->create()) {
        current_ = WrittenFile{};
        return false;
    }
    {
        std::lock_guard lock(nameMutex_);
        currentName_ = name;
    }
    p.clearErrorList();
    return true;
}

bool PlayToFile::openFirst(const dat::TapePosition& pos)
{
    firstPending_ = false;
    fileNumber_ = ownProgramNumber(pos, deck_.virtualIdMode());
    subNumber_ = 0;
    return openNext(pos, 0, pos.datePack, 0);
}

bool PlayToFile::openNext(const dat::TapePosition& pos, int preReadNumber, const DatePack& date,
                          int ownFrom)
{
    // A run never writes over a file it wrote itself: a number that comes back (START IDs
    // 1, 2, 1) continues with the next free sub-number.
    while (usedNames_.count({fileNumber_, subNumber_}) != 0)
        ++subNumber_;
    const std::string name = waveName(fileNumber_, subNumber_, date);
    if (!usableOutput(name) || !askOverwrite(name)) {
        closeCue();
        failWrite();
        return false;
    }
    if (!openWave(name, pos, preReadNumber, date)) {
        failWrite();
        return false;
    }
    usedNames_.insert({fileNumber_, subNumber_});
    framesUntilOwn_ = ownFrom;
    return true;
}

bool PlayToFile::setUpImage()
{
    std::string name = absoluteIn(request_.imageName, settings_.Dir);
    if (name.size() >= 4 && strcasecmp(name.c_str() + name.size() - 4, ".TVI") == 0)
        name.resize(name.size() - 4);
    imageName_ = name + ".TVI";
    imageFrames_ = 0;
    {
        std::lock_guard lock(nameMutex_);
        currentName_ = imageName_;
    }
    if (!usableOutput(imageName_) || !askOverwrite(imageName_))
        return false;
    if (!request_.imageFromHere &&
        !deck_.positionToAbs(dat::TimeCode{0, 0, 0, 0}, tr(msg::kPositioning)))
        return false;
    imageWriter_ = std::make_unique<formats::ImageWriter>(*sink_, imageLimits_);
    if (!imageWriter_->create(imageName_, request_.imageComment)) {
        imageWriter_.reset();
        return false;
    }
    // An image keeps every frame: it plays through the END ID area and stops after it.
    deck_.pipeline().setEndIdMode(1);
    return true;
}

bool PlayToFile::setUpPeer()
{
    if (peer_ == nullptr)
        return false;
    const bool wholeFrames = request_.destination == PlayDestination::PeerImage;
    if (wholeFrames) {
        if (!deck_.rewindForRun(tr(msg::kRewinding))) {
            message(tr(msg::kUnableToRewind));
            return false;
        }
        deck_.pipeline().setEndIdMode(1);
    }
    deck_.view().setText(Control::RunningStatusStaticText,
                         stringPrintf(tr(msg::kChecking), peer_->peerName().c_str()));
    if (!peer_->requestRecording(wholeFrames)) {
        refusedByPeer();
        return false;
    }
    return true;
}

void PlayToFile::refusedByPeer()
{
    const std::string why = peer_->refusal();
    message(why.empty() ? std::string(tr(msg::kTargetNotReady))
                        : stringPrintf("%s\n\n%s", tr(msg::kTargetNotReady), why.c_str()));
}

bool PlayToFile::waitForPeer()
{
    if (peer_ == nullptr)
        return false;
    if (peer_->waitUntilStarted())
        return true;
    // The other instance took the request but could not start: a copy that never began.
    if (!peerCancelled_.load())
        refusedByPeer();
    return false;
}

bool PlayToFile::fileOnly() const
{
    switch (request_.destination) {
    case PlayDestination::Wave:
    case PlayDestination::PeerAudio:
        return !request_.withSound;
    case PlayDestination::Image:
    case PlayDestination::PeerImage:
        return true;
    }
    return true;
}

std::string PlayToFile::runningText() const
{
    switch (request_.destination) {
    case PlayDestination::Wave:
        return stringPrintf(tr(msg::kPlayToFile), tr(msg::kWave));
    case PlayDestination::Image:
        return stringPrintf(tr(msg::kPlayToFile), tr(msg::kImage));
    case PlayDestination::PeerAudio:
    case PlayDestination::PeerImage:
        return stringPrintf(
            tr(msg::kPlayToPeer), peer_ ? peer_->peerName().c_str() : "",
            request_.destination == PlayDestination::PeerImage ? tr(msg::kPeerImageMark) : "");
    }
    return {};
}

// --- While playing (playback thread) --------------------------------------------------------

bool PlayToFile::image() const
{
    return request_.destination == PlayDestination::Image ||
           request_.destination == PlayDestination::PeerImage;
}

bool PlayToFile::peer() const
{
    return request_.destination == PlayDestination::PeerAudio ||
           request_.destination == PlayDestination::PeerImage;
}

void PlayToFile::failWrite()
{
    writeFailed_ = true;
}

void PlayToFile::failPeer()
{
    failWrite();
    // Our own Stop cancels the send: only the other side's end is news.
    if (!peerCancelled_.load())
        message(stringPrintf(tr(msg::kPeerLost), peer_->peerName().c_str()));
}

bool PlayToFile::writeFrame(const dat::DatFrame& frame, std::uint32_t idChange)
{
    // A frame is 30 ms of audio; half of that for high-rate and 24-bit frames.
    const TapeFormat& tape = deck_.pipeline().tapeFormat();
    audioMicros_.fetch_add(tape.rate > 48000 || tape.bits == 24 ? 15000 : 30000,
                           std::memory_order_relaxed);
    if (peer()) {
        if (!peer_->send(frame.data(), dat::kFrameBytes, deck_.pipeline().tapeFormat(), false,
                         idChange)) {
            failPeer();
            return false;
        }
        return true;
    }
    if (!imageWriter_ || imageWriter_->append(frame) != dat::kFrameBytes) {
        failWrite();
        return false;
    }
    ++imageFrames_;
    return true;
}

bool PlayToFile::writeAudio(const std::uint8_t* data, std::uint32_t bytes, std::uint32_t idChange)
{
    PlaybackPipeline& p = deck_.pipeline();
    const std::uint32_t perSecond = std::max<std::uint32_t>(1, p.outputFormat().avgBytesPerSec);
    audioMicros_.fetch_add(static_cast<std::uint64_t>(bytes) * 1000000 / perSecond,
                           std::memory_order_relaxed);
    if (peer()) {
        // The source's lead-in is no program: the other deck has a lead-in of its own.
        const dat::TapePosition& pos = *deck_.drive()->getPosition(deck_.driveIndex());
        if (dat::isLeadInDigits(static_cast<std::uint16_t>(pos.pNoDigits)))
            return true;
        const TapeFormat& f = p.tapeFormat();
        // Emphasis travels unless the audio was really de-emphasised on its way here (not
        // 24-bit pairs, not a rate without a filter).
        const bool emphasised = f.emphasis && !p.deEmphasising();
        if (!peer_->send(data, bytes, f, emphasised, idChange)) {
            failPeer();
            return false;
        }
        return true;
    }
    if (firstPending_ && !openFirst(*deck_.drive()->getPosition(deck_.driveIndex())))
        return false;
    commitPendingError();
    watchForExtendedPairs(data, bytes);
    if (!wave_ || !wave_->isOpen() || wave_->write(data, bytes) != bytes) {
        failWrite();
        return false;
    }
    framesInFile_ += p.tapeFormat().bits == 24 ? 2 : 1;
    return true;
}

void PlayToFile::errorFrame(const dat::TimeCode& abs, std::uint8_t errorByte, bool absError)
{
    if (request_.destination != PlayDestination::Wave)
        return;
    // The frame's error belongs to the file its audio goes to, which a division at this very
    // frame may change: it is kept until the frame is written (or the next one comes).
    commitPendingError();
    pending_ = {abs, errorByte, absError, deck_.pipeline().frameCounter()};
    hasPending_ = true;
}

void PlayToFile::commitPendingError()
{
    if (!hasPending_)
        return;
    hasPending_ = false;
    // Counted per file: the counts on the display may have been reset by the very ID that
    // divides, or may run on over several files.
    if (pending_.errorByte & dat::kSubIdInterpolatedLeft)
        ++current_.errorsLeft;
    if (pending_.errorByte & dat::kSubIdInterpolatedRight)
        ++current_.errorsRight;
    if (pending_.absError)
        ++current_.errorsAbs;
    if (pending_.errorByte != 0)
        current_.errorFrames.push_back({pending_.abs, pending_.errorByte});
}

void PlayToFile::formatChanged(const PlaybackPipeline& pipeline)
{
    preRead_ = preReadFrames(request_.preReadTenths, pipeline.tapeFormat());
}

void PlayToFile::watchForExtendedPairs(const std::uint8_t* data, std::uint32_t bytes)
{
    const TapeFormat& tape = deck_.pipeline().tapeFormat();
    if (extendedPairs_.load(std::memory_order_relaxed) || settings_.ExtendedFormatMode != 0 ||
        tape.bits != 16 || tape.rate <= 48000) {
        alternations_ = 0;
        return;
    }
    const bool lowByte = isLowByteFrame(data, bytes);
    alternations_ = lowByte != lastFrameLowByte_ ? alternations_ + 1 : 0;
    lastFrameLowByte_ = lowByte;
    if (alternations_ >= kExtendedPairEvidence)
        extendedPairs_.store(true, std::memory_order_relaxed);
}

bool PlayToFile::divide(PlaybackPipeline& /*pipeline*/, const dat::TapePosition& pos)
{
    if (request_.destination != PlayDestination::Wave)
        return true;
    if (hasPending_ && pending_.frame != deck_.pipeline().frameCounter())
        commitPendingError(); // an earlier frame that was not written
    if (firstPending_ && !openFirst(pos))
        return false;
    if (request_.divide) {
        int number = -1;
        bool preRead = false;
        if (!deck_.virtualIdMode() && preRead_ > 0) {
            const std::uint32_t coming =
                deck_.drive()->readAheadPeek(deck_.driveIndex(), preRead_ - 1);
            if (coming != 0) {
                number = static_cast<int>(coming);
                preRead = true;
                holdOff_ = kDivisionHoldOff;
            }
        }
        if (number < 0) {
            if (holdOff_ > 0)
                --holdOff_;
            else if (pos.idChange >= 1 && pos.idChange <= 998)
                number = static_cast<int>(pos.idChange);
        }
        if (number >= 0) {
            deck_.suspendDisplay();
            const bool ok = switchFile(number, preRead, false, pos);
            deck_.resumeDisplay();
            if (!ok)
                return false;
        }
    }
    if (rereader_) {
        // Counted in the file the frame's audio goes to, after a division at it.
        const std::uint8_t note = deck_.drive()->takenNote(deck_.driveIndex());
        if (note & Rereader::kNoteReread)
            ++current_.framesReread;
        if (note & Rereader::kNoteRecovered)
            ++current_.framesRecovered;
    }
    ownFrame(pos);
    // The file's last frame so far (a short text: no allocation per frame).
    current_.endAbs = app::absText(pos);
    return true;
}

void PlayToFile::ownFrame(const dat::TapePosition& pos)
{
    if (framesUntilOwn_ > 0) {
        --framesUntilOwn_; // pre-read audio of the program before
        return;
    }
    if (hasDate(current_.datePack) || !hasDate(pos.datePack) || !wave_ || !wave_->isOpen())
        return;
    // A file that starts without a date (the lead-in, a part before the first START ID)
    // takes the date of its first frame that has one.
    current_.datePack = pos.datePack;
    describe();
}

bool PlayToFile::switchFile(int number, bool preRead, bool formatRestart,
                            const dat::TapePosition& pos)
{
    if (!formatRestart && framesInFile_.load() == 0 && wave_->isOpen() &&
        (number == fileNumber_ || number == dat::kPNoStartWithoutNumber))
        return true; // the file just opened is already the one this ID starts
    if (!closeWave())
        return false;
    if (!formatRestart && number != dat::kPNoStartWithoutNumber && number != fileNumber_) {
        fileNumber_ = number;
        subNumber_ = 0;
    } else {
        ++subNumber_;
    }
    if (!preRead)
        return openNext(pos, 0, pos.datePack, 0);
    // The new file is named and dated by its START ID frame, a few frames ahead.
    const dat::DatFrame* idFrame = deck_.drive()->readAheadFrame(deck_.driveIndex(), preRead_ - 1);
    return openNext(pos, number,
                    idFrame != nullptr ? datePackOf(*idFrame) : dat::TapePosition::kNoDatePack,
                    preRead_);
}

bool PlayToFile::writeCue(const std::string& text)
{
    if (cue_ == nullptr)
        return false;
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), cue_) == text.size() && std::fflush(cue_) == 0)
        return true;
    const std::string why =
        errno != 0 ? stringPrintf("%s  (%s)", tr(msg::kUnableToWriteFile), std::strerror(errno))
                   : std::string(tr(msg::kUnableToWriteFile));
    // The list of the files written so far stays: it is closed with what it holds.
    message(stringPrintf(tr(msg::kNameAndText), why.c_str(), cueName_.c_str()));
    closeCue();
    failWrite();
    return false;
}

void PlayToFile::closeCue()
{
    if (cue_ != nullptr) {
        std::fclose(cue_);
        cue_ = nullptr;
    }
}

bool PlayToFile::closeWave()
{
    if (!wave_ || !wave_->isOpen())
        return true;
    const int splits = wave_->splitCount();
    describe(); // the description gets the file's error counts and its end
    const bool closed = wave_->finish(false);
    if (!closed)
        failWrite();
    const std::uint32_t frames = framesInFile_.load();
    if (frames <= 1) {
        // A file that caught only the frame before an ID holds nothing worth listing.
        ::unlink(current_.name.c_str());
        usedNames_.erase({fileNumber_, subNumber_});
        return closed;
    }
    PlaybackPipeline& p = deck_.pipeline();
    current_.parts.push_back(current_.name);
    for (int i = 1; i <= splits; ++i)
        current_.parts.push_back(wave_->partName(i));
    current_.frames = frames;
    current_.seconds = fileSeconds(frames, p.tapeFormat());
    std::string text = stringPrintf("%s\r\n; %s\r\n   PNo: %-3s  Format: %-16s %4s  Copy: %-8s  ",
                                    current_.name.c_str(), current_.startAbs.c_str(),
                                    current_.programText.c_str(), current_.formatText.c_str(),
                                    current_.emphasis ? "Emph" : "", current_.copyText.c_str());
    text +=
        stringPrintf("Err: %u,%u,%u\r\n   Frame: %-6u %s   Time: %02dh%02dm%02ds\r\n",
                     current_.errorsLeft, current_.errorsRight, current_.errorsAbs, current_.frames,
                     dat::timeText(dat::framesToAbs(current_.frames)).c_str(),
                     current_.seconds / 3600, current_.seconds / 60 % 60, current_.seconds % 60);
    // The error frames of this very file, as its counts above: the first of the list.
    const std::size_t listed =
        std::min<std::size_t>(current_.errorFrames.size(), PlaybackPipeline::kErrorListSize);
    for (std::size_t i = 0; i < listed; i += 4) {
        text += ";; Err:";
        for (std::size_t k = i; k < std::min<std::size_t>(i + 4, listed); ++k) {
            const WrittenFile::ErrorAt& e = current_.errorFrames[k];
            const bool left = (e.errorByte & dat::kSubIdInterpolatedLeft) != 0;
            const bool right = (e.errorByte & dat::kSubIdInterpolatedRight) != 0;
            text += stringPrintf("%s %s ", dat::timeText(e.abs).c_str(),
                                 left && right ? "LR"
                                 : right       ? "R "
                                 : left        ? "L "
                                               : "  ");
        }
        text += "\r\n";
    }
    p.clearErrorList();
    written_.push_back(std::move(current_));
    current_ = WrittenFile{};
    bool listedOk = writeCue(text);
    if (listedOk && ++cueEntries_ == 1 && ::rename(cueTemporary_.c_str(), cueName_.c_str()) != 0) {
        message(stringPrintf(
            tr(msg::kNameAndText),
            stringPrintf("%s  (%s)", tr(msg::kUnableToWriteFile), std::strerror(errno)).c_str(),
            cueName_.c_str()));
        failWrite();
        listedOk = false; // the list stays under its temporary name
    }
    return listedOk && closed;
}

// --- Restart and end (window thread) --------------------------------------------------------

bool PlayToFile::restart()
{
    if (request_.destination != PlayDestination::Wave)
        return true;
    // A restart without a held frame follows a search past a SKIP ID: the frames the feed
    // read before it are not where the tape now plays.
    if (rereader_ && !deck_.pipeline().heldFrame())
        rereader_->forget();
    const dat::TapePosition pos = *deck_.drive()->getPosition(deck_.driveIndex());
    if (firstPending_)
        return true; // the held frame opens the first file, in the new format
    if (framesInFile_.load() == 0) {
        // Nothing written yet (the very first frame set the format): the same file again, in
        // the new format.
        const WrittenFile kept = current_;
        if (!closeWave())
            return false;
        if (!openWave(kept.name, pos, 0, kept.datePack)) {
            failWrite();
            return false;
        }
        usedNames_.insert({fileNumber_, subNumber_});
        current_.startAbs = kept.startAbs;
        current_.programText = kept.programText;
        current_.framesReread = kept.framesReread;
        current_.framesRecovered = kept.framesRecovered;
        return true;
    }
    return switchFile(fileNumber_, false, true, pos);
}

void PlayToFile::stopRequested()
{
    if (peer_ != nullptr && peer()) {
        peerCancelled_.store(true);
        peer_->cancel();
    }
}

void PlayToFile::finish()
{
    endRereading();
    switch (request_.destination) {
    case PlayDestination::Wave:
        commitPendingError();
        closeWave();
        closeCue();
        // A run that archived nothing leaves no empty list behind.
        if (cueCreated_ && cueEntries_ == 0)
            ::unlink(cueTemporary_.c_str());
        cueCreated_ = false;
        wave_.reset();
        firstPending_ = false;
        break;
    case PlayDestination::Image:
        if (imageWriter_) {
            imageWriter_->setErrorFrameCount(deck_.pipeline().errorFrameTotal.load());
            if (!imageWriter_->finalise(false))
                failWrite();
            imageWriter_.reset();
        }
        break;
    case PlayDestination::PeerAudio:
    case PlayDestination::PeerImage:
        if (peer_ != nullptr)
            peer_->finish();
        break;
    }
    active_ = false;
}

void PlayToFile::abandon()
{
    finish();
}

} // namespace tarnvel::engine
