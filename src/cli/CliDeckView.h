#pragma once

#include "engine/DeckView.h"
#include "engine/StatusLine.h"

#include <chrono>
#include <functional>
#include <string>

namespace tarnvel::cli {

// The deck in a terminal: status changes and messages as lines, questions answered by --yes,
// and during playback a live status line (redrawn in place on a terminal, plain lines now and
// then when the output is a file or a pipe).
class CliDeckView final : public engine::DeckView {
public:
    CliDeckView(bool assumeYes, bool terminal) : assumeYes_(assumeYes), terminal_(terminal) {}

    void setText(engine::Control c, const std::string& text) override;
    void setVisible(engine::Control c, bool visible) override;
    void showTime(const engine::TimeTexts& texts) override { fields_.time = texts; }
    void showDisplays(const engine::DisplayRefresh& refresh) override;
    void showSubcodeWindow(int mode, const std::string& text, bool visible) override;
    void showMessage(const std::string& text, MessageIcon icon,
                     const std::string& caption) override;
    engine::Answer ask(const std::string& text, engine::Buttons buttons, MessageIcon icon,
                       const std::string& caption) override;
    // A save dialog answered by the command line's option (empty: cancelled).
    std::string askSaveFileName(const engine::SaveFileQuestion& question) override;
    void setSaveFileAnswer(const std::string& path) { saveFileAnswer_ = path; }

    // Live status while a run goes on (call it from the event loop, often).
    void live(bool force = false);
    // Ends the live line and prints the final status line.
    void finish();
    void setLive(bool on) { liveOn_ = on; }
    // Text the live line carries after the deck's status (the file being written, ...).
    void setLiveExtra(std::function<std::string()> extra) { liveExtra_ = std::move(extra); }
    // Status line changes are printed only while echoing (the start-up and the idle polls
    // around a command are not news).
    void setEcho(bool on) { echo_ = on; }
    const std::string& runningText() const { return running_; }
    const std::string& errorText() const { return error_; }
    const engine::StatusLineFields& fields() const { return fields_; }
    const std::string& subcodeDump() const { return dump_; }
    // The last message shown (serve tells the other instance why a copy could not start).
    const std::string& lastMessage() const { return lastMessage_; }
    void clearLastMessage() { lastMessage_.clear(); }

private:
    void printLine(const std::string& line, bool toErr = false);

    bool assumeYes_;
    bool terminal_;
    bool liveOn_ = false;
    bool echo_ = false;
    std::function<std::string()> liveExtra_;
    bool liveShown_ = false;
    engine::StatusLineFields fields_;
    bool idVisible_ = false;
    std::string idText_;
    std::string running_;
    std::string error_;
    std::string lastMessage_;
    std::string lastPrintedRunning_;
    std::string lastPlainProgram_;
    std::string dump_;
    std::string saveFileAnswer_;
    std::chrono::steady_clock::time_point lastLive_{};
    std::chrono::steady_clock::time_point lastPlain_{};
};

} // namespace tarnvel::cli
