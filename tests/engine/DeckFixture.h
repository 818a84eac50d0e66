#pragma once

#include "dat/DatDrive.h"
#include "dat/RecSubcode.h"
#include "engine/Deck.h"
#include "engine/UiThread.h"
#include "sim/Cassette.h"
#include "sim/SimulatedDrive.h"
#include "sound/NullAudioBackend.h"
#include "support/TempDir.h"

#include <atomic>
#include <chrono>
#include <ctime>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A deck on a simulated drive, driven from the test thread as its window thread, with a view
// that records everything the deck shows and answers its questions from a script.
namespace tarnvel::engine::test {

inline const char* eventName(DeckEvent e)
{
    switch (e) {
    case DeckEvent::DeckBusy:
        return "DeckBusy";
    case DeckEvent::PlayActive:
        return "PlayActive";
    case DeckEvent::FilePlayActive:
        return "FilePlayActive";
    case DeckEvent::RecActive:
        return "RecActive";
    case DeckEvent::IdListSelect:
        return "IdListSelect";
    case DeckEvent::FileRecActive:
        return "FileRecActive";
    case DeckEvent::TapeIdListChanged:
        return "TapeIdListChanged";
    case DeckEvent::VirtualIdListChanged:
        return "VirtualIdListChanged";
    case DeckEvent::VirtualIdMode:
        return "VirtualIdMode";
    }
    return "?";
}

// Every text and event the deck shows, in order (`history`).
class RecordingView : public DeckView {
public:
    void setEnabled(Control c, bool enabled) override { enabled_[c] = enabled; }
    void setVisible(Control c, bool visible) override { visible_[c] = visible; }
    void setText(Control c, const std::string& text) override
    {
        texts_[c] = text;
        history.push_back(std::string(controlName(c)) + "=" + text);
    }
    void showTime(const TimeTexts& t) override { time = t; }
    void showDisplays(const DisplayRefresh& r) override
    {
        ++displayRefreshes;
        if (r.samples != nullptr)
            lastLevels = r.samples->levels;
    }
    void showSubcodeWindow(int mode, const std::string& text, bool visible) override
    {
        subcodeMode = mode;
        subcodeText = text;
        subcodeVisible = visible;
    }
    void showMessage(const std::string& text, MessageIcon, const std::string&) override
    {
        messages.push_back(text);
    }
    Answer ask(const std::string& text, Buttons, MessageIcon, const std::string&) override
    {
        questions.push_back(text);
        if (answers.empty())
            return {};
        const Answer a = answers.front();
        answers.pop_front();
        return a;
    }
    void beep() override { ++beeps; }
    void notify(DeckEvent e, int value) override
    {
        events.emplace_back(e, value);
        history.push_back("notify " + std::string(eventName(e)) + "=" + std::to_string(value));
    }

    bool enabled(Control c) const
    {
        auto it = enabled_.find(c);
        return it != enabled_.end() && it->second;
    }
    bool visible(Control c) const
    {
        auto it = visible_.find(c);
        return it != visible_.end() && it->second;
    }
    std::string text(Control c) const
    {
        auto it = texts_.find(c);
        return it == texts_.end() ? std::string{} : it->second;
    }
    bool shown(Control c, const std::string& text) const
    {
        const std::string entry = std::string(controlName(c)) + "=" + text;
        for (const auto& h : history)
            if (h == entry)
                return true;
        return false;
    }

    std::vector<std::string> history;
    std::vector<std::string> messages;
    std::vector<std::string> questions;
    std::deque<Answer> answers;
    std::vector<std::pair<DeckEvent, int>> events;
    TimeTexts time;
    int displayRefreshes = 0;
    app::LevelValues lastLevels;
    int subcodeMode = -1;
    std::string subcodeText;
    bool subcodeVisible = false;
    int beeps = 0;

private:
    std::map<Control, bool> enabled_;
    std::map<Control, bool> visible_;
    std::map<Control, std::string> texts_;
};

// Sample word k of the frame at tape index i: the index in word 0, a pattern after it.
inline std::int16_t tapeSample(std::int64_t i, std::size_t k)
{
    if (k == 0)
        return static_cast<std::int16_t>(i);
    return static_cast<std::int16_t>(1000 + static_cast<int>(k % 50) * 20 + (i % 7));
}

// Records frames onto a cassette with the recorder's subcode rules.
class TapeBuilder {
public:
    explicit TapeBuilder(sim::Cassette& cassette, int rate = 48000, int quantize = 0,
                         bool emphasis = false)
        : c_(cassette)
    {
        dat::initRecSubcode(frame_.subcode, state_, dat::kIdControlNone, dat::TimeCode{0, 0, 0, 0},
                            0, quantize, rate, emphasis, dat::kIdCodeNone);
    }
    // A new format from here on; the ABS time runs on.
    void format(int rate, int quantize = 0, bool emphasis = false)
    {
        dat::initRecSubcode(frame_.subcode, state_, dat::kIdControlNone, std::nullopt, 0, quantize,
                            rate, emphasis, dat::kIdCodeNone);
        rate_ = rate;
    }
    void start(int pNo) { dat::startIdRun(frame_.subcode, state_, dat::kIdControlStart, pNo); }
    void skip() { dat::startIdRun(frame_.subcode, state_, dat::kIdControlSkip, dat::kIdCodeNone); }
    void end() { dat::startIdRun(frame_.subcode, state_, dat::kIdControlNone, dat::kIdCodeEnd); }
    // Fills the audio of the frame at a tape index instead of the sample pattern.
    std::function<void(std::int64_t index, dat::DatFrame& frame)> audio;

    // The recording date every frame carries from here on (20yy-mm-dd hh:mm:ss); noDate():
    // none.
    void date(int yy, int mm, int dd, int hh, int mi, int ss)
    {
        std::tm t{};
        t.tm_year = 100 + yy;
        t.tm_mon = mm - 1;
        t.tm_mday = dd;
        t.tm_hour = hh;
        t.tm_min = mi;
        t.tm_sec = ss;
        dat::setDatePack(frame_.subcode, true, t);
    }
    void noDate() { dat::setDatePack(frame_.subcode, false); }
    void frames(int n)
    {
        const std::size_t words = (rate_ == 44100 ? dat::kAudioBytes44k : dat::kAudioBytes) / 2;
        std::string error;
        for (int i = 0; i < n; ++i) {
            frame_.audio.fill(0);
            for (std::size_t k = 0; k < words && !audio; ++k) {
                const auto v = static_cast<std::uint16_t>(tapeSample(next_, k));
                frame_.audio[2 * k] = static_cast<std::uint8_t>(v);
                frame_.audio[2 * k + 1] = static_cast<std::uint8_t>(v >> 8);
            }
            if (audio)
                audio(next_, frame_);
            ASSERT_TRUE(c_.writeFrame(next_, frame_.data(), error)) << error;
            ++next_;
            dat::advanceRecSubcode(frame_.subcode, state_);
        }
    }
    // 24-bit sample k of block i (sign-extended), carried by an upper-word and a low-byte frame.
    static std::int32_t sample24(int i, std::size_t k)
    {
        const std::int32_t v =
            static_cast<std::int32_t>((k + 1) * 2749 + static_cast<std::size_t>(i) * 7) & 0xFFFFFF;
        return v & 0x800000 ? v - 0x1000000 : v;
    }
    // One frame of block i: the upper words or the low bytes of its samples.
    void frame24(int i, bool upper)
    {
        frame_.audio.fill(0);
        for (std::size_t k = 0; k < dat::kAudioBytes / 2; ++k) {
            const auto v = static_cast<std::uint32_t>(sample24(i, k));
            if (upper) {
                frame_.audio[2 * k] = static_cast<std::uint8_t>(v >> 8);
                frame_.audio[2 * k + 1] = static_cast<std::uint8_t>(v >> 16);
            } else {
                frame_.audio[2 * k] = static_cast<std::uint8_t>(v);
            }
        }
        std::string error;
        ASSERT_TRUE(c_.writeFrame(next_, frame_.data(), error)) << error;
        ++next_;
        dat::advanceRecSubcode(frame_.subcode, state_);
    }
    std::int64_t position() const { return next_; }

private:
    sim::Cassette& c_;
    dat::DatFrame frame_;
    dat::RecSubcodeState state_;
    std::int64_t next_ = 0;
    int rate_ = 48000;
};

// The simulated drive as the deck reaches it, with a hand on the WRITE(6) commands: after
// `writesLeft` more writes every write fails with a write error (the tape is not touched), as
// a drive with a bad stretch or a full tape does; -1 lets every write through.
class WriteGate : public scsi::ScsiTarget {
public:
    explicit WriteGate(std::shared_ptr<scsi::ScsiTarget> target) : target_(std::move(target)) {}
    std::uint8_t hostAdapter() const override { return target_->hostAdapter(); }
    std::uint8_t targetId() const override { return target_->targetId(); }
    scsi::TargetReply command(const std::uint8_t* cdb, std::size_t cdbLength,
                              scsi::DataDirection direction, std::uint8_t* buffer,
                              std::uint32_t length) override
    {
        if (cdbLength > 0 && cdb[0] == 0x0A) {
            int left = writesLeft.load();
            while (left > 0 && !writesLeft.compare_exchange_weak(left, left - 1)) {
            }
            if (left == 0) {
                scsi::TargetReply r;
                r.status = scsi::kTargetCheckCondition;
                r.sense[0] = 0x70;
                r.sense[2] = 0x03; // medium error
                r.sense[7] = 10;
                r.sense[12] = 0x0C; // write error
                return r;
            }
        }
        return target_->command(cdb, cdbLength, direction, buffer, length);
    }
    scsi::AbortAnswer abort() override { return target_->abort(); }
    std::atomic<int> writesLeft{-1};

private:
    std::shared_ptr<scsi::ScsiTarget> target_;
};

class DeckFixture : public ::testing::Test {
protected:
    tarnvel::test::TempDir dir;
    std::string cassettePath = dir.file("tape.tvs");
    EventLoop loop;
    RecordingView view;
    app::Settings settings;
    std::shared_ptr<sim::SimulatedDrive> simDrive;
    WriteGate* writeGate = nullptr; // owned by the deck's drive object
    std::unique_ptr<Deck> deck;
    // Every output block of the null sound device, as the device received it.
    std::mutex tapMutex;
    std::vector<std::uint8_t> heard;
    // Fills every input block of the null sound device (silence when empty); set before
    // openDeck.
    std::function<void(std::uint8_t*, std::size_t)> inputSource;

    static sim::SimOptions fastSim()
    {
        sim::SimOptions o;
        o.cueMilliseconds = 30;
        o.motionScale = 0.01;
        return o;
    }

    // A cassette recorded by `fill`.
    void makeTape(const std::function<void(sim::Cassette&)>& fill, int minutes = 2)
    {
        std::string error;
        auto c = sim::Cassette::create(cassettePath, minutes, error);
        ASSERT_TRUE(c) << error;
        fill(*c);
    }

    // The deck with the cassette in its drive (or an empty drive), activated; its motion
    // waits are the real ones, on a fast simulated drive.
    void openDeck(bool withCassette = true, sim::SimOptions options = fastSim())
    {
        settings.PlayRecDriverType = 0;
        DeckOptions o;
        o.openDrive = [this, withCassette, options](std::string& error) {
            auto sim = sim::SimulatedDrive::open(withCassette ? cassettePath : std::string{},
                                                 options, error);
            if (!sim)
                return std::unique_ptr<dat::DatDrive>{};
            simDrive = std::shared_ptr<sim::SimulatedDrive>(std::move(sim));
            auto gate = std::make_shared<WriteGate>(simDrive);
            writeGate = gate.get();
            auto drive = std::make_unique<dat::DatDrive>(false, nullptr);
            drive->addTarget(gate);
            drive->scanDevices(scsi::kTypeSequentialAccess);
            return drive;
        };
        sound::NullDeviceOptions nullDevice;
        nullDevice.realTime = false;
        nullDevice.outputTap = [this](const std::uint8_t* data, std::size_t bytes) {
            std::lock_guard lock(tapMutex);
            heard.insert(heard.end(), data, data + bytes);
        };
        if (inputSource)
            nullDevice.inputSource = inputSource;
        o.audio = std::make_shared<sound::NullBackendProvider>(nullDevice);
        o.errorPauseMs = 0;
        o.recordSettleMs = 0;
        o.recordAfterWriteMs = 0;
        o.leadInFrameSleepMs = 0;
        // The simulated tape moves a hundred times faster than a real one; so do the polls.
        o.motionSleep = [](int) { std::this_thread::sleep_for(std::chrono::microseconds(300)); };
        deck = std::make_unique<Deck>(loop, view, settings, o);
        deck->firstActivation();
    }

    // Polls until the transport is usable (the tape has arrived and was checked), without
    // waiting for the once-a-second timer.
    void waitForTape()
    {
        for (int i = 0; i < 500 && !deck->transportEnabled(); ++i) {
            loop.pumpFor(5);
            if (deck->idle())
                deck->pollNow();
        }
        ASSERT_TRUE(deck->transportEnabled()) << view.text(Control::RunningStatusStaticText);
    }

    // Plays until the run ends.
    void playToEnd(Modifiers m = {})
    {
        const auto ends = deck->playEnds();
        deck->play(m);
        ASSERT_TRUE(loop.runUntil([&] { return deck->playEnds() > ends && deck->idle(); }, 60000));
    }

    // The tape indices of the frames heard, in order (from word 0 of each 48 kHz frame).
    std::vector<std::int64_t> heardFrames(std::size_t frameBytes = dat::kAudioBytes)
    {
        std::lock_guard lock(tapMutex);
        std::vector<std::int64_t> out;
        for (std::size_t at = 0; at + frameBytes <= heard.size(); at += frameBytes) {
            const auto v = static_cast<std::int16_t>(heard[at] | heard[at + 1] << 8);
            out.push_back(v);
        }
        return out;
    }

    void TearDown() override
    {
        if (deck)
            deck.reset();
    }
};

} // namespace tarnvel::engine::test
