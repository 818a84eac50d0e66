#include "app/CompactPath.h"

#include <vector>

namespace tarnvel::app {

namespace {

constexpr const char* kEllipsis = "...";

// Bytes of the UTF-8 character that begins at `i` are never split: a cut goes back to a
// character boundary.
bool continuation(const std::string& s, std::size_t i)
{
    return i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80;
}

std::size_t boundaryAtOrBefore(const std::string& s, std::size_t i)
{
    while (i > 0 && continuation(s, i))
        --i;
    return i;
}

std::size_t boundaryAtOrAfter(const std::string& s, std::size_t i)
{
    while (continuation(s, i))
        ++i;
    return i;
}

} // namespace

std::string compactPath(const std::string& path,
                        const std::function<bool(const std::string&)>& fits)
{
    if (fits(path))
        return path;
    const std::size_t lastSlash = path.rfind('/');
    const std::string name = lastSlash == std::string::npos ? path : path.substr(lastSlash + 1);
    if (lastSlash != std::string::npos && lastSlash > 0) {
        // Folders between the first one and the file name, dropped from the right of the
        // first one until the rest fits.
        std::vector<std::size_t> slashes;
        for (std::size_t i = path.find('/', 1); i != std::string::npos && i < lastSlash;
             i = path.find('/', i + 1))
            slashes.push_back(i);
        for (std::size_t keep = slashes.size(); keep-- > 0;) {
            const std::string candidate =
                path.substr(0, slashes[keep]) + "/" + kEllipsis + "/" + name;
            if (candidate.size() < path.size() && fits(candidate))
                return candidate;
        }
        const std::string shortest = std::string("/") + kEllipsis + "/" + name;
        if (fits(shortest))
            return shortest;
    }
    // The file name alone is too wide: characters go from its middle, so that its start and
    // its end (a take number, the extension) stay.
    for (std::size_t keep = name.size(); keep-- > 0;) {
        const std::size_t head = boundaryAtOrBefore(name, keep / 2);
        const std::size_t tail = boundaryAtOrAfter(name, name.size() - (keep - keep / 2));
        const std::string candidate = name.substr(0, head) + kEllipsis + name.substr(tail);
        if (fits(candidate))
            return candidate;
    }
    return kEllipsis;
}

} // namespace tarnvel::app
