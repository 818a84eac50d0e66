#pragma once

#include "app/Settings.h"
#include "common/MessageSink.h"

#include <functional>
#include <string>
#include <vector>

// The playback-to-file dialog without widgets: where the played frames go, the names, and
// the rules of its OK button.
namespace tarnvel::engine {

enum class PlayDestination {
    Wave = 1,      // WAV files with a cue list
    Image = 2,     // a tape image file
    PeerAudio = 3, // the other instance records the audio
    PeerImage = 4, // the other instance records whole frames (duplication by image)
};

// What a playback to file is asked to do; names are absolute.
struct PlayToFileRequest {
    PlayDestination destination = PlayDestination::Wave;
    std::string waveBase;  // without ".WAV"
    std::string imageName; // ".TVI" added when missing
    std::string imageComment;
    bool withSound = false;
    bool divide = true;
    int preReadTenths = 0;      // 0..5
    bool imageFromHere = false; // the image starts where the tape stands (no locate to 0)
    int retries = 0; // passes of re-reading over a bad stretch (0: none; WAV files and images)
};

class PlayToFileForm {
public:
    // The items of the ID pre-read box, in tenths of a second by index.
    static const std::vector<std::string>& preReadItems();

    // Showing: the boxes take the settings, the names stay from the last showing, the last
    // destination is selected again; the two peer destinations only while the other instance
    // runs (else "Wave file" is selected in their place).
    void show(const app::Settings& settings, bool peerRunning, bool virtualIdMode);

    bool destinationEnabled(PlayDestination d) const;
    // "Divide at each ID (PNo)", or the virtual ID form while virtual ID mode is on.
    std::string divideCaption() const;

    // OK. An empty name for the destination shows "Please input file name." and keeps the
    // dialog open (false). A name is made absolute in `Dir`, and `Dir` becomes its folder.
    // For an image with Shift held, `askOkCancel` is asked whether the image may start where
    // the tape stands; Cancel keeps the dialog open. The settings take the check boxes.
    bool ok(app::Settings& settings, bool shift,
            const std::function<bool(const std::string&)>& askOkCancel, MessageSink& sink);

    // The request after a successful OK.
    const PlayToFileRequest& request() const { return request_; }

    // The dialog's fields.
    PlayDestination destination = PlayDestination::Wave;
    std::string waveBase;
    std::string imageName;
    std::string imageComment;
    bool withSound = false;
    bool divide = true;
    int preReadIndex = 0;

private:
    bool peerRunning_ = false;
    bool virtualIdMode_ = false;
    PlayToFileRequest request_;
};

// A name as the dialog keeps it: absolute names as they are, others placed in `dir`.
std::string absoluteIn(const std::string& name, const std::string& dir);

} // namespace tarnvel::engine
