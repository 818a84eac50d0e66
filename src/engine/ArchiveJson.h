#pragma once

#include "engine/ArchiveReport.h"

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

// BASE.json beside the report: the same facts for a catalogue to import, one object per file
// with its hashes, its place on the tape, its format and its errors (docs/archive.schema.json).
// The JSON library stays inside ArchiveJson.cpp.
namespace tarnvel::engine {

// Writes the JSON (under a temporary name first, as the report). `hashes` as the report
// writer gave them. File names are relative to the JSON's folder.
bool writeArchiveJson(const std::string& path, const ArchiveRun& run,
                      const std::vector<WrittenFile>& files,
                      const std::vector<std::vector<FileHashes>>& hashes, std::string& error);

struct JsonVerification {
    bool readable = false;
    std::size_t files = 0;    // file entries (continuations included)
    std::size_t problems = 0; // entries whose hashes differ from the file, or no file
    bool allGood() const { return readable && problems == 0; }
};

// Checks every file the JSON lists, in the JSON's folder, against its two hashes. `known`:
// hashes already made of files by their base name ((whole, audio data)); the others are
// hashed here. Each problem goes to `onProblem` (the file, why).
JsonVerification
verifyArchiveJson(const std::string& path,
                  const std::map<std::string, std::pair<std::string, std::string>>& known,
                  const std::function<void(const std::string&, const std::string&)>& onProblem,
                  std::string& error);

} // namespace tarnvel::engine
