#include "scsi/SgSysfs.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace tarnvel::scsi {

namespace {

// A decimal number without sign or other characters; -1 otherwise.
int parseNumber(const std::string& text)
{
    if (text.empty() || text.size() > 6)
        return -1;
    int n = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

} // namespace

std::vector<int> numberedNames(SgIo& io, const char* folder, const char* prefix)
{
    std::vector<int> numbers;
    const std::size_t prefixLength = std::strlen(prefix);
    for (const std::string& name : io.listDirectory(folder)) {
        if (name.compare(0, prefixLength, prefix) != 0)
            continue;
        const int n = parseNumber(name.substr(prefixLength));
        if (n >= 0)
            numbers.push_back(n);
    }
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    return numbers;
}

bool entryFromSysfs(SgIo& io, const std::string& deviceDir, ScsiDeviceEntry& entry)
{
    const int type = parseNumber(io.readSmallFile((deviceDir + "/type").c_str()));
    if (type < 0)
        return false;
    entry.deviceType = static_cast<std::uint8_t>(type & 0x1F);

    // The device folder is a link to ".../H:C:T:L".
    const std::string link = io.readLink(deviceDir.c_str());
    const std::size_t slash = link.find_last_of('/');
    const std::string address = slash == std::string::npos ? link : link.substr(slash + 1);
    unsigned host = 0, channel = 0, target = 0, lun = 0;
    if (std::sscanf(address.c_str(), "%u:%u:%u:%u", &host, &channel, &target, &lun) == 4) {
        entry.hostAdapter = static_cast<std::uint8_t>(host);
        entry.target = static_cast<std::uint8_t>(target);
        entry.lun = static_cast<std::uint8_t>(lun);
    }

    // The strings as INQUIRY gives them: blank-padded fields.
    std::uint8_t inquiry[36];
    std::memset(inquiry, ' ', sizeof inquiry);
    auto put = [&](const char* attribute, std::size_t offset, std::size_t width) {
        const std::string text = io.readSmallFile((deviceDir + "/" + attribute).c_str());
        std::memcpy(inquiry + offset, text.data(), std::min(width, text.size()));
    };
    put("vendor", 8, 8);
    put("model", 16, 16);
    put("rev", 32, 4);
    setIdentification(entry, inquiry);
    return true;
}

} // namespace tarnvel::scsi
