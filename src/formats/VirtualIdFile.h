#pragma once

#include "formats/IdListRows.h"

#include <cstdio>
#include <string>
#include <vector>

namespace tarnvel {
class MessageSink;
}
namespace tarnvel::dat {
class TapeTracker;
}

namespace tarnvel::formats {

// The virtual ID file (".TVV"): the virtual ID list as shown, one text line per row, so that
// a tape whose IDs are not written on it can be played with its virtual IDs again later.
inline constexpr const char* kVirtualIdDefaultName = "V_ID.TVV";
inline constexpr std::size_t kVirtualIdMaxLine = 100;

// One row as a line of the file (34 characters, CR LF not included).
std::string virtualIdLine(const IdListRow& row);

// Writes the header line, the `kept` lines (comments and rows the reader did not take, as
// they were) and one line per row. The file is written under a temporary name beside it and
// renamed over it, so that a failed write leaves the old file as it was. Failures are shown
// through `sink` as "%s\n\n%s" with the path.
bool writeVirtualIdFile(const std::string& path, const std::vector<IdListRow>& rows,
                        MessageSink& sink, const std::vector<std::string>& kept = {});

enum class VirtualIdLoad { Loaded, CannotOpen, NoIds };

// Replaces the virtual table of `tracker` with the IDs of the file. Comments, the header and
// lines numbered 0 are skipped; rows that are refused (a missing field, an unknown kind, a
// program number outside 1-799, a SKIP or END with a number, a time that is not HHhMMmSSsFF,
// a full table) or that replace an earlier row (same program number, same ABS time, a second
// END) are listed, one "line N: why" each, in one message after loading and in `notes`.
// CannotOpen after "Unable to open file." (the table is untouched); NoIds after
// "Unable to register ID." when nothing could be registered.
// `kept`, when given, receives the lines that are neither the header nor loaded rows:
// comments and refused rows, for a writer that keeps them.
VirtualIdLoad readVirtualIdFile(const std::string& path, dat::TapeTracker& tracker,
                                MessageSink& sink, std::vector<std::string>* notes = nullptr,
                                std::vector<std::string>* kept = nullptr);
// The same from a stream the caller owns (tests, fuzzing), without messages; returns the lines
// loaded and adds the notes to `notes` when given.
int loadVirtualIds(std::FILE* stream, dat::TapeTracker& tracker,
                   std::vector<std::string>* notes = nullptr,
                   std::vector<std::string>* kept = nullptr);

} // namespace tarnvel::formats
