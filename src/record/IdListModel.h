#pragma once

#include "dat/TimeCode.h"
#include "formats/IdListRows.h"

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarnvel {
class MessageSink;
}
namespace tarnvel::dat {
class TapeTracker;
}

namespace tarnvel::record {

// The ID list window without its widgets: the rows of the tape's IDs and of the virtual IDs
// as the two grids show them, their selections, the editing buttons, the virtual ID file and
// the modified flag. The tables and their rules belong to the drive's TapeTracker; this
// model only presents and edits them. Window thread only.
class IdListModel {
public:
    enum class List { Tape = 0, Virtual = 1 };
    static constexpr int kColumns = 5;
    // Yes/No question; true for Yes.
    using AskYesNo = std::function<bool(const std::string& question)>;

    // A search the deck should start after a double-click (by program number, or by ABS
    // time for the END row).
    struct SearchRequest {
        bool byAbsTime = false;
        int pNo = 0;
        dat::TimeCode abs{0, 0, 0, 0};
        int seconds = 0;
        // The search runs with virtual ID mode switched off (a row of the tape list).
        bool tapeList = false;
    };

    IdListModel(dat::TapeTracker& tracker, MessageSink& sink, AskYesNo ask);

    static const char* columnTitle(int column);

    // Rows of a list; row r of the grid is rows(list)[r - 1].
    const std::vector<formats::IdListRow>& rows(List list) const { return lists_[index(list)]; }
    int rowCount(List list) const { return static_cast<int>(rows(list).size()); }
    // Selected grid row, 1 or more (it may be past the last row of an empty list).
    int selectedRow(List list) const { return selected_[index(list)]; }
    void selectRow(List list, int row);

    // Sorts the table and rebuilds its rows, selecting the row of `second` when given and
    // found, else keeping the selected row (limited to the rows).
    void rebuild(List list, std::optional<int> second = std::nullopt);

    // The window shown, and the "Virtual ID mode" box. The deck applies the mode to the
    // drive; the tape list's Del. and Del.All work only with the box unchecked.
    void show();
    void setVirtualIdMode(bool on);
    bool virtualIdMode() const { return virtualIdMode_; }
    bool tapeDeleteEnabled() const { return !virtualIdMode_ && !busy_; }

    // Notifications from the main window and the recorder.
    void idListChanged(List list, int second);
    void idListSelect(List list, int second);
    void virtualIdsModified() { modified_ = true; }
    void setBusy(bool busy) { busy_ = busy; }
    bool busy() const { return busy_; }

    // Double-click on a row: the search to run, if any.
    std::optional<SearchRequest> activateRow(List list, int row) const;

    // Tape list buttons.
    void deleteTapeId();
    void deleteAllTapeIds(); // asks first

    // Virtual list buttons; each marks the list modified.
    void copyToVirtual();
    // `shiftIndex`: CopyShiftSecComboBox's item, 0..10 tenths of a second earlier.
    void copyAllToVirtual(int shiftIndex);
    void deleteVirtualId();
    void deleteAllVirtualIds(); // asks first; clears the modified flag
    // The Modify edits: hours, minutes, seconds, frame as typed (read as hexadecimal, so
    // that the typed digits become the BCD bytes). Set from the selected virtual row.
    const std::array<std::string, 4>& modifyEdits() const { return modifyEdits_; }
    void setModifyEdit(int field, const std::string& text);
    void modify();
    void renumber();

    // The virtual ID file; the path chosen is remembered, its folder kept in dir().
    bool saveVirtualIdFile(const std::string& path); // only when the list has rows
    // Rows refused or replaced are named in one message; `notes` gets them as well.
    bool loadVirtualIdFile(const std::string& path, std::vector<std::string>* notes = nullptr);
    const std::string& virtualIdFilePath() const { return filePath_; }
    // What the Save dialog proposes: the file saved or opened last, else "V_ID.TVV" in dir()
    // (the settings' folder), never in whatever folder the program was started from.
    std::string saveDialogPath() const;
    const std::string& dir() const { return dir_; }
    void setDir(const std::string& dir) { dir_ = dir; }

    bool modified() const { return modified_; }
    // Before another file is loaded or the program ends: when the modified list has rows,
    // asks whether to save it. true for Yes (the caller then chooses a file and saves).
    // The rows are rebuilt from the table first, so that IDs registered while the window was
    // hidden count (saving rebuilds them too).
    bool askToSave();
    // The program ends: the question was answered, nothing more to keep.
    void closeAtExit() { modified_ = false; }

private:
    static std::size_t index(List list) { return list == List::Tape ? 0 : 1; }
    void fillModifyEdits();
    void rememberPath(const std::string& path);

    dat::TapeTracker& tracker_;
    MessageSink& sink_;
    AskYesNo ask_;
    std::array<std::vector<formats::IdListRow>, 2> lists_;
    std::array<int, 2> selected_{1, 1};
    std::array<std::string, 4> modifyEdits_{"00", "00", "00", "00"};
    bool virtualIdMode_ = false;
    bool modified_ = false;
    bool busy_ = false;
    std::string filePath_;
    std::string dir_;
};

} // namespace tarnvel::record
