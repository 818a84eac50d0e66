#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The shelf's list of tapes, shelf.txt: one label a line, optionally followed by options for
// that tape's archive, `#` starting a comment.
namespace tarnvel::shelf {

// What a tape's line may change in its archive: only what the archive run offers.
struct TapeOptions {
    bool noDivide = false;      // --no-divide: one file for the whole tape
    std::optional<int> preRead; // --preread N (tenths of a second, 0-5)
    bool bwf = false;           // --bwf: Broadcast Wave files
    bool noQc = false;          // --no-qc: no quality-control page
    int retries = 0;            // --retries N: re-reading of bad stretches (0-99)
    bool flac = false;          // --flac: FLAC files instead of WAV
};

struct ShelfTape {
    std::string label;
    TapeOptions options;
    std::string optionText; // the options as written, for messages
    int line = 0;           // in shelf.txt, from 1
};

// The longest label: it names a folder and every file in it.
inline constexpr std::size_t kMaxLabelLength = 64;

// Letters (ASCII), digits, '-' and '_', 1 to kMaxLabelLength characters, not starting with '-'
// (it would read as an option in a command line).
bool isValidLabel(std::string_view label);

// Reads the options of one tape; false with the reason for an unknown option, a bad value or
// an option the archive does not offer.
bool parseTapeOptions(const std::vector<std::string>& words, TapeOptions& options,
                      std::string& error);

// The whole list. False with "line N: ..." for the first bad line: a shelf with a mistake does
// not start, so that no tape is archived with options other than those meant. Labels repeated
// (letter case ignored: they would share a folder on some file systems) are refused too.
bool parseShelfList(std::string_view text, std::vector<ShelfTape>& tapes, std::string& error);

// parseShelfList of a file (at most 4 MB).
bool readShelfList(const std::string& path, std::vector<ShelfTape>& tapes, std::string& error);

} // namespace tarnvel::shelf
