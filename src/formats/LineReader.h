#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace tarnvel::formats {

// Reads the lines of the cue and virtual ID files: bytes up to a line feed, a carriage
// return just before it dropped, empty lines skipped. A line is cut after `maxChars`
// characters and the rest read as the next line; text after the last line feed is ignored.
// Memory stays bounded by `maxChars` whatever the file holds.
class LineReader {
public:
    LineReader(std::FILE* file, std::size_t maxChars) : file_(file), maxChars_(maxChars) {}

    // The next non-empty line; false at the end of the file.
    bool next(std::string& line);
    // The line number in the file (from 1) of the line next() gave last; the rest of a cut
    // line keeps its number.
    std::size_t lineNumber() const { return lineNumber_; }

private:
    std::FILE* file_;
    std::size_t maxChars_;
    std::size_t lineFeeds_ = 0;
    std::size_t lineNumber_ = 0;
};

} // namespace tarnvel::formats
