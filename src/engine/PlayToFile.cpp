#include "engine/PlayToFile.h"

#include "app/TimeDisplay.h"
#include "engine/EngineMessages.h"
#include "formats/BroadcastWave.h"
#include "formats/StringPrintf.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
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

// The program number as a cue entry shows it.
std::string programText(const dat::TapePosition& pos, int preReadNumber)
{
    if (preReadNumber > 0)
        return std::to_string(preReadNumber);
    if (pos.pNoDigits == dat::kPNoDigitsLeadIn)
        return "BB";
    if (pos.pNoDigits == dat::kPNoDigitsEnd)
        return "EE";
    if (pos.currentPNo >= 1 && pos.currentPNo <= dat::kMaxProgramNumber)
        return std::to_string(pos.currentPNo);
    return "--";
}

// The Broadcast Wave description of a file: where it came from and how well it read.
std::vector<std::uint8_t> bextOf(const WrittenFile& f, const formats::WaveFormat& out,
                                 const TapeFormat& tape)
{
    formats::BextInfo b;
    b.description = stringPrintf("DAT transfer, PNo %s, error frames L %u R %u ABS %u",
                                 f.programText.c_str(), f.errorsLeft, f.errorsRight, f.errorsAbs);
    b.originator = "Tarnvel";
    int seconds = 0;
    if (formats::bextDateOfPack(f.datePack, b.date, b.time, seconds))
        b.timeReference = static_cast<std::uint64_t>(seconds) * out.samplesPerSec;
    b.codingHistory =
        stringPrintf("A=PCM,F=%d,W=%d,M=stereo,T=DAT%s%s\r\n", tape.rate, tape.bits,
                     tape.longPlay ? " long play" : "", tape.emphasis ? " with emphasis" : "");
    return formats::bextChunkBody(b);
}

} // namespace

// Messages of the writers come on the playback thread; they are shown on the window thread.
class PlayToFile::Sink final : public MessageSink {
public:
    explicit Sink(Deck& deck) : deck_(deck) {}
    void showMessage(const std::string& text, MessageIcon icon, const std::string& caption) override
    {
        deck_.ui().invoke([&] { deck_.view().showMessage(text, icon, caption); });
    }

private:
    Deck& deck_;
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
    return active_;
}

std::string PlayToFile::waveName(int number, int sub, const dat::TapePosition& pos) const
{
    std::string name = base_ + stringPrintf("%02d", number);
    if (sub > 0)
        name += stringPrintf("%02d", sub);
    return name + dateSuffix(pos.datePack) + ".WAV";
}

bool PlayToFile::setUpWave()
{
    base_ = request_.waveBase;
    if (base_.size() >= 4 && strcasecmp(base_.c_str() + base_.size() - 4, ".WAV") == 0)
        base_.resize(base_.size() - 4);
    base_ = absoluteIn(base_, settings_.Dir);
    cueName_ = base_ + ".TVC";
    const dat::TapePosition pos = *deck_.drive()->getPosition(deck_.driveIndex());
    fileNumber_ = pos.currentPNo;
    subNumber_ = 0;
    const std::string first = waveName(fileNumber_, 0, pos);
    if (!askOverwrite(cueName_) || !askOverwrite(first))
        return false;
    wave_ = std::make_unique<formats::WaveFileWriter>(*sink_);
    if (!openWave(first, pos, 0))
        return false;
    cue_ = std::fopen(cueName_.c_str(), "wb");
    if (cue_ == nullptr) {
        message(
            stringPrintf(tr(msg::kNameAndText), tr(msg::kUnableToCreateFile), cueName_.c_str()));
        // The WAV file just opened would be left without its list.
        wave_->finish(false);
        ::unlink(first.c_str());
        wave_.reset();
        return false;
    }
    preRead_ = preReadFrames(request_.preReadTenths, deck_.pipeline().tapeFormat());
    holdOff_ = 0;
    return true;
}

bool PlayToFile::openWave(const std::string& name, const dat::TapePosition& pos, int preReadNumber)
{
    PlaybackPipeline& p = deck_.pipeline();
    wave_->setFileName(name);
    wave_->setFormat(p.outputFormat());
    WrittenFile described;
    described.programText = programText(pos, preReadNumber);
    described.datePack = pos.datePack;
    if (bwf_)
        wave_->setExtraChunk("bext", bextOf(described, p.outputFormat(), p.tapeFormat()));
    else
        wave_->setExtraChunk({}, {});
    if (!wave_->create())
        return false;
    framesInFile_ = 0;
    {
        std::lock_guard lock(nameMutex_);
        currentName_ = name;
    }
    current_ = WrittenFile{};
    current_.name = name;
    current_.programText = programText(pos, preReadNumber);
    current_.datePack = pos.datePack;
    const formats::WaveFormat& f = p.outputFormat();
    const TapeFormat& tape = p.tapeFormat();
    current_.formatText =
        stringPrintf("%5d / %s%d (%s)", static_cast<int>(f.samplesPerSec), f.isFloat() ? "F" : "",
                     static_cast<int>(f.bitsPerSample),
                     tape.longPlay ? "LP" : stringPrintf("%2d", tape.bits).c_str());
    current_.emphasis = tape.emphasis;
    current_.copyText = trimmed(tr(msg::kCopyTexts[tape.copyBits & 3]));
    std::string when = app::absText(pos);
    if (preReadNumber > 0)
        when = stringPrintf("%s <0.%dsec", when.c_str(), request_.preReadTenths);
    current_.startAbs = when;
    current_.errorFrames.reserve(4096); // an error list that grows rarely allocates per frame
    cueEntry_ =
        stringPrintf("%s\r\n; %s\r\n   PNo: %-3s  Format: %-16s %4s  Copy: %-8s  ", name.c_str(),
                     when.c_str(), current_.programText.c_str(), current_.formatText.c_str(),
                     current_.emphasis ? "Emph" : "", current_.copyText.c_str());
    p.clearErrorList();
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
    if (!askOverwrite(imageName_))
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
        // Emphasis travels only when the sender did not take it out.
        const bool emphasised = f.emphasis && !settings_.EnableDeEmphasis;
        if (!peer_->send(data, bytes, f, emphasised, idChange)) {
            failPeer();
            return false;
        }
        return true;
    }
    commitPendingError();
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

bool PlayToFile::divide(PlaybackPipeline& /*pipeline*/, const dat::TapePosition& pos)
{
    if (request_.destination != PlayDestination::Wave || !request_.divide)
        return true;
    if (hasPending_ && pending_.frame != deck_.pipeline().frameCounter())
        commitPendingError(); // an earlier frame that was not written
    int number = -1;
    bool preRead = false;
    if (!deck_.virtualIdMode() && preRead_ > 0) {
        const std::uint32_t coming = deck_.drive()->readAheadPeek(deck_.driveIndex(), preRead_ - 1);
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
    if (number < 0)
        return true;
    deck_.suspendDisplay();
    const bool ok = switchFile(number, preRead, false, pos);
    deck_.resumeDisplay();
    return ok;
}

bool PlayToFile::switchFile(int number, bool preRead, bool formatRestart,
                            const dat::TapePosition& pos)
{
    if (!formatRestart && framesInFile_.load() == 0 &&
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
    const std::string name = waveName(fileNumber_, subNumber_, pos);
    if (!askOverwrite(name)) {
        closeCue();
        return false;
    }
    if (!openWave(name, pos, preRead ? number : 0)) {
        failWrite();
        return false;
    }
    return true;
}

bool PlayToFile::writeCue(const std::string& text)
{
    if (cue_ == nullptr)
        return false;
    if (std::fwrite(text.data(), 1, text.size(), cue_) == text.size() && std::fflush(cue_) == 0)
        return true;
    // The list of the files written so far stays: it is closed with what it holds.
    message(stringPrintf(tr(msg::kNameAndText), tr(msg::kUnableToWriteFile), cueName_.c_str()));
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
    if (bwf_) // the description gets the file's error counts
        wave_->updateExtraChunk(bextOf(current_, wave_->format(), deck_.pipeline().tapeFormat()));
    const bool closed = wave_->finish(false);
    if (!closed)
        failWrite();
    const std::uint32_t frames = framesInFile_.load();
    if (frames <= 1) {
        // A file that caught only the frame before an ID holds nothing worth listing.
        ::unlink(current_.name.c_str());
        return closed;
    }
    PlaybackPipeline& p = deck_.pipeline();
    current_.parts.push_back(current_.name);
    for (int i = 1; i <= splits; ++i) {
        const auto dot = current_.name.rfind('.');
        current_.parts.push_back(current_.name.substr(0, dot) + "_" + std::to_string(i) +
                                 current_.name.substr(dot));
    }
    current_.frames = frames;
    current_.seconds = fileSeconds(frames, p.tapeFormat());
    std::string text = cueEntry_;
    text +=
        stringPrintf("Err: %u,%u,%u\r\n   Frame: %-6u %s   Time: %02dh%02dm%02ds\r\n",
                     current_.errorsLeft, current_.errorsRight, current_.errorsAbs, current_.frames,
                     dat::timeText(dat::framesToAbs(current_.frames)).c_str(),
                     current_.seconds / 3600, current_.seconds / 60 % 60, current_.seconds % 60);
    for (int i = 0; i < p.errorListCount(); i += 4) {
        text += ";; Err:";
        for (int k = i; k < std::min(i + 4, p.errorListCount()); ++k) {
            const ErrorFrame& e = p.errorListEntry(k);
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
    return writeCue(text) && closed;
}

// --- Restart and end (window thread) --------------------------------------------------------

bool PlayToFile::restart()
{
    if (request_.destination != PlayDestination::Wave)
        return true;
    const dat::TapePosition pos = *deck_.drive()->getPosition(deck_.driveIndex());
    if (framesInFile_.load() == 0) {
        // Nothing written yet (the very first frame set the format): the same file again, in
        // the new format.
        const std::string name = current_.name;
        const std::string startAbs = current_.startAbs;
        const std::string programText = current_.programText;
        if (!closeWave())
            return false;
        if (!openWave(name, pos, 0))
            return false;
        current_.startAbs = startAbs;
        current_.programText = programText;
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
    switch (request_.destination) {
    case PlayDestination::Wave:
        commitPendingError();
        closeWave();
        closeCue();
        wave_.reset();
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
