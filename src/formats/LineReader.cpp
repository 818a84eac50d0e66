#include "formats/LineReader.h"

namespace tarnvel::formats {

bool LineReader::next(std::string& line)
{
    for (;;) {
        line.clear();
        lineNumber_ = lineFeeds_ + 1;
        bool ended = false; // by a line feed or by the length cut
        int c;
        while ((c = std::getc(file_)) != EOF) {
            if (c == '\n') {
                ended = true;
                break;
            }
            line.push_back(static_cast<char>(c));
            if (line.size() >= maxChars_) {
                ended = true;
                // A CR LF right at the cut still ends this line, not the next one.
                if (c == '\r') {
                    const int after = std::getc(file_);
                    if (after == '\n')
                        c = '\n';
                    else if (after != EOF)
                        std::ungetc(after, file_);
                }
                break;
            }
        }
        if (c == '\n')
            ++lineFeeds_;
        if (!ended)
            return false;
        if (!line.empty() && line.back() == '\r' && c == '\n')
            line.pop_back();
        if (!line.empty())
            return true;
    }
}

} // namespace tarnvel::formats
