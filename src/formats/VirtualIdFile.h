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

// Writes the header line and one line per row. Failures are shown through `sink` as
// "%s\n\n%s" with the path; a failed write leaves a partial file.
bool writeVirtualIdFile(const std::string& path, const std::vector<IdListRow>& rows,
                        MessageSink& sink);

enum class VirtualIdLoad { Loaded, CannotOpen, NoIds };

// Replaces the virtual table of `tracker` with the IDs of the file; malformed lines are
// skipped. CannotOpen after "Unable to open file." (the table is untouched); NoIds after
// "Unable to register ID." when nothing could be registered.
VirtualIdLoad readVirtualIdFile(const std::string& path, dat::TapeTracker& tracker,
                                MessageSink& sink);
// The same from a stream the caller owns (tests, fuzzing); returns the lines loaded.
int loadVirtualIds(std::FILE* stream, dat::TapeTracker& tracker);

} // namespace tarnvel::formats
