#pragma once

#include "engine/Deck.h"
#include "engine/PlayToFile.h"
#include "engine/UiThread.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

// Playback to WAV files followed by the quality check, for the desktop program: it stands in
// for the deck's playback-to-file controller and passes every call on; once a run to WAV files
// has closed them, it measures them on a thread of its own and writes BASE.html (pictures in
// BASE.qc/) beside the cue list, so that the window never waits for it.
namespace tarnvel::qc {

// How a run ended, in the words of the report and the page; `errorText` is the error shown
// when a read error or a limit stopped it.
std::string runOutcome(engine::PlayStop stop, const std::string& errorText);

class PlayToFileCheck final : public engine::PlayToFileController {
public:
    PlayToFileCheck(engine::PlayToFile& inner, engine::Deck& deck, engine::UiThread& ui);
    // Stops a check in progress and waits for it.
    ~PlayToFileCheck() override;
    PlayToFileCheck(const PlayToFileCheck&) = delete;
    PlayToFileCheck& operator=(const PlayToFileCheck&) = delete;

    // Window thread: called when the page of a run is written (its path), or with an error.
    void setPageReady(std::function<void(const std::string& page, const std::string& error)> fn)
    {
        pageReady_ = std::move(fn);
    }
    // The page of the last run checked ("" until one is written; window thread).
    const std::string& page() const { return page_; }
    // A check runs (window thread).
    bool checking() const { return worker_.joinable() && !finished_->load(); }

    // PlayToFileController (window thread), passed on to the inner controller.
    bool setUp(engine::Modifiers modifiers) override;
    engine::PlayOutput* output() override { return inner_.output(); }
    bool fileOnly() const override { return inner_.fileOnly(); }
    std::string runningText() const override { return inner_.runningText(); }
    bool restart() override { return inner_.restart(); }
    void stopRequested() override { inner_.stopRequested(); }
    bool waitForPeer() override { return inner_.waitForPeer(); }
    void finish() override;
    void abandon() override { inner_.abandon(); }

private:
    void stopCheck();

    engine::PlayToFile& inner_;
    engine::Deck& deck_;
    engine::UiThread& ui_;
    std::function<void(const std::string&, const std::string&)> pageReady_;
    std::string started_;
    std::string page_;
    std::thread worker_;
    std::atomic<bool> stop_{false};
    // Shared with the tasks the worker posts: they do nothing once this object is gone.
    std::shared_ptr<std::atomic<bool>> finished_ = std::make_shared<std::atomic<bool>>(true);
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace tarnvel::qc
