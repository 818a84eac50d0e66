#include "formats/BroadcastWave.h"

#include "common/ByteOrder.h"

#include <cstdio>
#include <cstring>

namespace tarnvel::formats {

namespace {

void putText(std::vector<std::uint8_t>& body, std::size_t offset, std::size_t size,
             const std::string& text)
{
    std::memcpy(body.data() + offset, text.data(), std::min(size, text.size()));
}

int bcd(std::uint8_t b)
{
    return (b >> 4) * 10 + (b & 0x0F);
}

bool isBcd(std::uint8_t b)
{
    return (b >> 4) < 10 && (b & 0x0F) < 10;
}

} // namespace

std::vector<std::uint8_t> bextChunkBody(const BextInfo& info)
{
    std::vector<std::uint8_t> body(kBextFixedBytes + info.codingHistory.size(), 0);
    putText(body, 0, 256, info.description);
    putText(body, 256, 32, info.originator);
    putText(body, 288, 32, info.originatorReference);
    putText(body, 320, 10, info.date);
    putText(body, 330, 8, info.time);
    writeLe32(body.data() + 338, static_cast<std::uint32_t>(info.timeReference));
    writeLe32(body.data() + 342, static_cast<std::uint32_t>(info.timeReference >> 32));
    writeLe16(body.data() + 346, 1); // version 1: UMID and 190 reserved bytes follow, all zero
    std::memcpy(body.data() + kBextFixedBytes, info.codingHistory.data(),
                info.codingHistory.size());
    return body;
}

bool bextDateOfPack(const std::array<std::uint8_t, 8>& pack, std::string& date, std::string& time,
                    int& secondsOfDay)
{
    for (int i = 1; i <= 6; ++i)
        if (!isBcd(pack[static_cast<std::size_t>(i)]))
            return false; // 0xAA: no date
    const int yy = bcd(pack[1]);
    const int year = yy >= 80 ? 1900 + yy : 2000 + yy;
    char d[16];
    std::snprintf(d, sizeof d, "%04d-%02d-%02d", year, bcd(pack[2]), bcd(pack[3]));
    char t[16];
    std::snprintf(t, sizeof t, "%02d:%02d:%02d", bcd(pack[4]), bcd(pack[5]), bcd(pack[6]));
    date = d;
    time = t;
    secondsOfDay = bcd(pack[4]) * 3600 + bcd(pack[5]) * 60 + bcd(pack[6]);
    return true;
}

} // namespace tarnvel::formats
