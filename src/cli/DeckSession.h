#pragma once

#include "app/Settings.h"
#include "cli/CliContext.h"
#include "cli/CliDeckView.h"
#include "engine/Deck.h"
#include "engine/UiThread.h"

#include <functional>
#include <memory>
#include <string>

namespace tarnvel::sound {
class AudioBackendProvider;
}

// What every deck command of the command line shares: the settings of the run, a deck on the
// drive of the global options with its tape checked, and Ctrl-C as the Stop button.
namespace tarnvel::cli {

// Prints `text` to stderr and returns `code`.
int failWith(const std::string& text, int code = 1);

// The driver type of a --driver name (alsa, pulse, jack); -1 for the null device, -2 when
// unknown.
int driverTypeOf(const std::string& name);
// True when the audio library offers a device of the driver type with inputs (or outputs).
bool hasDevice(sound::AudioBackendProvider& provider, int driverType, bool input);
// True when `number` is a device number of the settings (as `devices` lists them) for the
// driver type's inputs (or outputs); otherwise says so on stderr.
bool deviceNumberExists(sound::AudioBackendProvider& provider, int driverType, bool input,
                        int number);

// The settings of a run: the instance's file (or --ini), then the --set overrides. The
// command line never writes the settings file. False (with exitCode set and the reason
// printed) when --ini names no readable file or an override is refused.
bool loadRunSettings(const CliContext& ctx, app::Settings& settings, int& exitCode);

// A deck on the drive of the global options, activated, with its tape checked.
class DeckSession {
public:
    explicit DeckSession(const CliContext& ctx) : ctx_(ctx) {}
    ~DeckSession();
    DeckSession(const DeckSession&) = delete;
    DeckSession& operator=(const DeckSession&) = delete;

    // `adjust` changes the settings after loading, before the deck is made.
    bool open(std::shared_ptr<sound::AudioBackendProvider> audio, int& exitCode,
              const std::function<void(app::Settings&)>& adjust = {});
    // Polls until the transport is usable; a settled status without a tape ends the wait.
    bool waitForTape(int& exitCode);
    // Waits for the transport to come back after a wind or search.
    void settle();
    // Runs until the playback started before the call ends; Ctrl-C and SIGTERM are the Stop
    // button (so the files of a run to file are closed as at its end), a second one ends the
    // program.
    // Returns the exit code (1 when the run ended on an error).
    int followPlayback(std::uint64_t endsBefore);

    // A never recorded tape is offered its lead-in while the tape is checked (commands that
    // record); other commands leave such a tape alone.
    bool offerLeadIn = false;
    engine::EventLoop loop;
    app::Settings settings;
    std::unique_ptr<CliDeckView> view;
    std::unique_ptr<engine::Deck> deck;

private:
    const CliContext& ctx_;
};

} // namespace tarnvel::cli
