#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnvel {
class MessageSink;
}

namespace tarnvel::app {
struct Settings;
}

namespace tarnvel::formats {
struct WaveFormat;
}

namespace tarnvel::record {

// The dialog's settings, kept by the engine between showings. The defaults are the settings
// file's.
struct RecFileSettings {
    int preSilenceSec = 0;        // DlgPreSilenceSec
    int postSilenceSec = 4;       // DlgPostSilenceSec
    bool longPlayMode = false;    // DlgLongPlayMode
    bool emphasis = false;        // DlgEmphasis
    int copyBits = 0;             // DlgCopyBits: Permit 0, Prohibit 2, Once 3
    bool recAutoEndId = false;    // RecAutoEndID ("Write END ID")
    bool recFromFileOnly = false; // RecFromFileOnly (not "with output to Sound device")
    std::string imagePath;        // kept in memory only
    std::string dir;              // Dir: the folder the dialog's file choosers start in

    // The keys of the settings record ("Setting3" and Dir); the image path stays empty.
    static RecFileSettings fromSettings(const app::Settings& settings);
    // Back into the record; Dir only when a folder was chosen.
    void storeIn(app::Settings& settings) const;
    bool operator==(const RecFileSettings&) const = default;
};

// The dialog's result: what the recording is made from.
enum class RecFileMode { Cancelled = 0, WaveList = 1, Image = 2 };

// What OK hands over to the recording.
struct RecFileDecision {
    RecFileMode mode = RecFileMode::Cancelled;
    std::string recSourceName;    // RecSourceName: the first entry's path, or the image path
    bool recFromFileOnly = false; // RecFromFileOnly (RecFileDirect): no sound output
    bool recAutoEndId = false;    // RecAutoEndID
    int preSilenceSec = 0;        // the pending pre-silence before the first file
    bool disableAutoId = false;   // the user agreed to uncheck the main window's AutoID_CheckBox
    // Image recorded at the current position, without rewinding and without a lead-in (OK with
    // Shift, confirmed).
    bool imageWithoutRewind = false;
};

// One entry as the recording pipeline takes it.
struct RecFileEntry {
    std::string path;
    int pno = 0; // 0: no START ID; 1111: the END ID pseudo-entry
    bool longPlay = false;
    bool emphasis = false;
    int copyBits = 0;
    int silenceSec = 0;
};

// The WAV list of the record-from-file dialog: up to 99 entries with their program number,
// format, emphasis, copy bits and trailing silence, the total tape time, editing, and the
// cue file. Every row is held as the texts of its eight columns, which the dialog shows as
// they are (column 1 shortened to its width) and the cue file stores.
// Window thread only.
class RecFileList {
public:
    static constexpr int kMaxEntries = 99;
    static constexpr int kColumns = 8;
    enum Column { kPNo, kWaveFile, kTime, kFormat, kEmph, kCopy, kSilence, kPath };
    using Row = std::array<std::string, kColumns>;

    // Highest program number an entry can carry; numbering past it gives 0 (no START ID).
    static constexpr int kMaxPNo = 799;
    // The silence column holds three characters, the pre-silence box two.
    static constexpr std::size_t kSilenceChars = 3;
    static constexpr std::size_t kPreSilenceChars = 2;

    // OK/Cancel question; true for OK.
    using AskOkCancel = std::function<bool(const std::string& question)>;

    // Without `ask`, every question is answered Cancel.
    explicit RecFileList(MessageSink& sink, AskOkCancel ask = {});

    // Showing the dialog: controls from the settings (the two boxes, the image name), the
    // radio button of the last mode, next program number 1.
    void show(const RecFileSettings& settings = {});
    // The settings as the controls left them.
    const RecFileSettings& settings() const { return settings_; }

    // PNoStartEdit: the program number of the next new entry (negative values give 0, values
    // above 799 give 799).
    void setPNoStart(int pno);
    int pNoStart() const { return pNoStart_; }
    // PreSilenceLenComboBox (at most 2 characters) and SilenceLenComboBox (at most 3) texts.
    void setPreSilenceText(const std::string& text);
    const std::string& preSilenceText() const { return preSilenceText_; }
    void setSilenceText(const std::string& text);
    const std::string& silenceText() const { return silenceText_; }
    void setLongPlay(bool on);
    bool longPlay() const { return settings_.longPlayMode; }
    void setEmphasisText(const std::string& text); // "Off" or "On"
    const std::string& emphasisText() const { return emphText_; }
    void setCopyText(const std::string& text); // "Permit", "Prohibit" or "Once"
    const std::string& copyText() const { return copyText_; }

    // The radio buttons "&Wave file" and "&Image file".
    void setMode(RecFileMode mode);
    RecFileMode mode() const { return mode_; }
    // "with output to Sound device" (the opposite of RecFromFileOnly) and "Write END ID";
    // they reach the settings at OK.
    void setWithSound(bool on) { withSound_ = on; }
    bool withSound() const { return withSound_; }
    void setAutoEndId(bool on) { autoEndId_ = on; }
    bool autoEndId() const { return autoEndId_; }
    // ImageFileNameEdit.
    void setImageName(const std::string& name) { imageName_ = name; }
    const std::string& imageName() const { return imageName_; }
    // "Property": the image opened in probe mode; ImageFileStatusStaticText gets its frame
    // count, duration, first and last ABS time, error frames and comment, or "Unable to open
    // file or invalid format.". true when the image could be probed.
    bool showImageProperty();
    const std::string& imageStatusText() const { return imageStatus_; }

    // OK: the decision, or nothing when the dialog stays open ("Please input file name.", or
    // the Auto ID or the image rewinding question answered Cancel). `autoIdChecked` is the main
    // window's AutoID_CheckBox; `shift` whether Shift was held.
    std::optional<RecFileDecision> ok(bool autoIdChecked, bool shift);
    // Cancel: mode 0, nothing handed over.
    RecFileDecision cancel() const { return {}; }

    // Playing the selected entry: its path (empty when none), and the message when the sound
    // output refused ("Unable to play.", a line feed, a blank, the device's text in brackets).
    std::string selectedPath() const;
    void showUnableToPlay(const std::string& deviceError);
    static std::string unableToPlayText(const std::string& deviceError);

    // Registers a WAV file (with the format checks and their messages). false when refused;
    // the list is then unchanged.
    bool registerFile(const std::string& path);
    // Files chosen together: registered in order up to the first refusal.
    int registerFiles(const std::vector<std::string>& paths);
    // Files dropped on the list: ".WAV" files are registered; any other file is read as a
    // cue file and ends the drop.
    void dropFiles(const std::vector<std::string>& paths);
    // A file dropped on the image name: selects the image mode; false after "File extent is
    // not 'TVI'.", else the name is taken and its properties shown.
    bool dropImageFile(const std::string& path);

    int count() const { return count_; }
    // Rows 1..count().
    const Row& row(int r) const { return rows_.at(static_cast<std::size_t>(r - 1)); }
    int selectedRow() const { return selected_; }
    void selectRow(int r);
    // TotalRecTimeStaticText's value, "%02dm%02ds".
    const std::string& totalRecTime() const { return totalText_; }

    void renumber();
    // Exchange the selected entry with the one above / below; the selection follows it.
    bool moveUp();
    bool moveDown();
    void deleteSelected();
    void deleteAll();

    // A double-click on the cells rows top..bottom, columns left..right: the current
    // settings are applied to them. Returns true when a single name cell was clicked, which
    // asks the dialog to play that file.
    bool applySettingsToCells(int top, int bottom, int left, int right, bool shift);

    bool saveCueFile(const std::string& path);
    // Replaces the list with the cue file's entries; false when none could be registered.
    // Lines with values outside the list's ranges are refused and named in one message.
    bool loadCueFile(const std::string& path);
    // The last cue file loaded completely: no file refused, no line refused.
    bool cueLoadComplete() const { return cueLoadComplete_; }
    const std::string& cueFilePath() const { return cueFilePath_; }

    // For the recording pipeline: the entries one by one, then (when "Write END ID" is on)
    // the pseudo-entry " END ID" with program number 1111, then nothing.
    std::optional<RecFileEntry> nextFileEntry(bool first);

    static const char* columnTitle(int column);
    static const char* copyTextOf(int copyBits);
    static int copyBitsOf(std::string_view text);
    // Column 3 for a file's format.
    static std::string formatText(const formats::WaveFormat& format, bool longPlay);
    static std::string durationText(long long seconds);
    // Tape time per second of audio for a format text: 0.5 LP, 2 for 96000 Hz, 2 for bit
    // depths other than 16.
    static double tapeFactor(std::string_view formatText);
    // The program number after `pno`: 0 stays 0, and 799 is followed by 0.
    static int nextPNo(int pno);

private:
    bool registerFile(const std::string& path, bool fromCue);
    void removeRow(int r);
    void recomputeTotal();
    void showMessage(const std::string& text);

    MessageSink& sink_;
    AskOkCancel ask_;
    RecFileSettings settings_;
    RecFileMode mode_ = RecFileMode::WaveList;
    bool withSound_ = true;
    bool autoEndId_ = false;
    std::string imageName_;
    std::string imageStatus_;
    bool cueLoadComplete_ = false;
    std::array<Row, kMaxEntries> rows_{};
    int count_ = 0;
    int selected_ = 0;
    int pNoStart_ = 1;
    std::string preSilenceText_ = "0";
    std::string silenceText_ = "0";
    std::string emphText_ = "Off";
    std::string copyText_ = "Permit";
    std::string totalText_ = "00m00s";
    std::string cueFilePath_;
    int cursor_ = 0;
    bool endPending_ = false;
};

} // namespace tarnvel::record
