#pragma once

#include <functional>
#include <string>
#include <utility>

namespace tarnvel::app {

// Caption, size and text field of the subcode window in one of its modes.
struct SubcodeWindowLayout {
    std::string caption;
    int width = 0;
    int height = 0;
    bool labelVisible = false;
    std::string label; // "Creating..." or "Reading..."
    int textLeft = 0;
    int textTop = 0;
    int textWidth = 0;
    int textHeight = 0;
    int dropBelowCentre = 0; // pixels below the main window's centre line
};

// The small window that shows the subcode dump of the last frame (mode 2, "SubCode & Data")
// or, for a few seconds, the name of the file being created (mode 0) or read (mode 1).
// Window thread only; the view applies the layout and runs the hide timer.
class SubcodeWindowModel {
public:
    static constexpr int kModeCreating = 0;
    static constexpr int kModeReading = 1;
    static constexpr int kModeDump = 2;
    // A file name shows this long, then the window hides.
    static constexpr int kHideAfterMs = 8000;
    // The most text the window keeps.
    static constexpr std::size_t kMaxText = 4096;

    SubcodeWindowModel() { setMode(kModeDump); }

    // Modes outside 0..2 are taken as 2.
    void setMode(int mode);
    int mode() const { return mode_; }
    const SubcodeWindowLayout& layout() const { return layout_; }

    // Stores the text; a file name (modes 0 and 1) is shortened to the text field, `fits`
    // telling whether a text fits its width. Returns the text to show.
    const std::string& setText(const std::string& text,
                               const std::function<bool(const std::string&)>& fits);
    const std::string& text() const { return text_; }

    // How long a showing lasts before the window hides itself (0: until closed).
    int hideAfterMs() const { return mode_ == kModeDump ? 0 : kHideAfterMs; }

    // Top-left corner over a main window: centred across it, centred down it and then lowered
    // by 40 pixels (dump) or 120 (file names).
    std::pair<int, int> placement(int mainX, int mainY, int mainWidth, int mainHeight) const;

private:
    int mode_ = kModeDump;
    SubcodeWindowLayout layout_;
    std::string text_;
};

} // namespace tarnvel::app
