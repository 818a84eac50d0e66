#include "formats/DiskSpace.h"

#include "formats/ImageMessages.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <system_error>
#include <vector>

namespace tarnvel::formats {

namespace {

namespace fs = std::filesystem;

fs::path absolutePath(const std::string& path)
{
    std::error_code ec;
    fs::path p = fs::absolute(path.empty() ? fs::path(".") : fs::path(path), ec);
    if (ec)
        return fs::path("/");
    return p.lexically_normal();
}

// The nearest existing folder at or above `path`: the file itself need not exist yet.
fs::path existingFolder(const std::string& path)
{
    fs::path p = absolutePath(path);
    struct stat st {};
    if (::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return p;
    for (p = p.parent_path();; p = p.parent_path()) {
        if (::stat(p.c_str(), &st) == 0)
            return p;
        if (p == p.root_path() || p.empty())
            return fs::path("/");
    }
}

} // namespace

std::uint64_t freeDiskBytes(const std::string& path)
{
    struct statvfs vfs {};
    if (::statvfs(existingFolder(path).c_str(), &vfs) != 0)
        return 0;
    return static_cast<std::uint64_t>(vfs.f_bavail) * vfs.f_frsize;
}

std::string diskOf(const std::string& path)
{
    fs::path p = existingFolder(path);
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0)
        return "/";
    // Walk up while the device stays the same: the last folder on it is the mount point.
    while (p != p.root_path()) {
        const fs::path parent = p.parent_path();
        struct stat pst {};
        if (::stat(parent.c_str(), &pst) != 0 || pst.st_dev != st.st_dev)
            break;
        p = parent;
    }
    return p.string();
}

bool checkDiskSpace(const std::string& path, std::uint64_t needed, const std::string& caption,
                    MessageSink& sink, std::uint64_t* freeBytes)
{
    const std::uint64_t available = freeDiskBytes(path);
    if (freeBytes != nullptr)
        *freeBytes = available;
    if (available >= needed)
        return true;
    constexpr std::uint64_t kMb = 1048576;
    constexpr std::uint64_t kHundredth = 10486;
    const auto mb = [](std::uint64_t bytes) {
        return static_cast<int>(std::min<std::uint64_t>(bytes / kMb, INT_MAX));
    };
    const std::string disk = diskOf(path);
    const std::string full = absolutePath(path).string();
    const char* fmt = tr(kMsgDiskSpaceLow);
    const auto format = [&](char* out, std::size_t size) {
        return std::snprintf(out, size, fmt, tr(kMsgDiskSpaceInsufficient), disk.c_str(),
                             tr(kMsgDiskSpaceTail), mb(available),
                             static_cast<int>((available % kMb) / kHundredth), full.c_str(),
                             mb(needed), static_cast<int>((needed % kMb) / kHundredth));
    };
    const int n = format(nullptr, 0);
    std::vector<char> text(n > 0 ? static_cast<std::size_t>(n) + 1 : 1, '\0');
    if (n > 0)
        format(text.data(), text.size());
    sink.showMessage(text.data(), MessageIcon::Warning, caption);
    return false;
}

} // namespace tarnvel::formats
