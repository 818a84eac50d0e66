#pragma once

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarnvel::test {

// Builds WAV files byte by byte, including malformed ones, for reader and list tests.
struct WavFixture {
    struct Chunk {
        std::string id;
        std::vector<std::uint8_t> body;
        bool pad = true; // add the RIFF pad byte after an odd-sized body
    };

    std::uint32_t fmtSize = 16;
    std::uint16_t tag = 1;
    std::uint16_t channels = 2;
    std::uint32_t rate = 44100;
    std::uint16_t bits = 16;
    // The header's block size when it is not channels × bits / 8.
    std::optional<std::uint16_t> blockAlign;
    // A WAVE_FORMAT_EXTENSIBLE header (tag 0xFFFE, 40-byte body) with this sub-format code.
    std::optional<std::uint16_t> subFormat;
    std::uint16_t extensibleSize = 22; // cbSize of the extensible header
    std::vector<Chunk> extraChunks;    // between "fmt " and "data"
    bool withData = true;
    std::vector<std::uint8_t> data;
    std::int64_t claimedDataSize = -1; // -1: the real size
    std::int64_t claimedRiffSize = -1; // -1: the real size

    // `frames` sample frames whose bytes count up, so that reads can be checked.
    WavFixture& withFrames(std::uint32_t frames)
    {
        data.resize(static_cast<std::size_t>(frames) * channels * bits / 8);
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<std::uint8_t>(i * 7 + 1);
        return *this;
    }

    std::vector<std::uint8_t> bytes() const
    {
        std::vector<std::uint8_t> out;
        auto put = [&out](const std::string& s) { out.insert(out.end(), s.begin(), s.end()); };
        auto le = [&out](std::uint64_t v, int n) {
            for (int i = 0; i < n; ++i)
                out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        };
        put("RIFF");
        le(0, 4);
        put("WAVE");
        put("fmt ");
        const std::uint32_t bodySize = subFormat ? std::max<std::uint32_t>(fmtSize, 40) : fmtSize;
        le(bodySize, 4);
        std::vector<std::uint8_t> fmt(bodySize, 0);
        auto set = [&fmt](std::size_t at, std::uint64_t v, int n) {
            for (int i = 0; i < n && at + i < fmt.size(); ++i)
                fmt[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
        };
        const std::uint16_t align =
            blockAlign.value_or(static_cast<std::uint16_t>(channels * bits / 8));
        set(0, subFormat ? 0xFFFE : tag, 2);
        set(2, channels, 2);
        set(4, rate, 4);
        set(8, std::uint64_t{rate} * align, 4);
        set(12, align, 2);
        set(14, bits, 2);
        if (subFormat) {
            static constexpr std::uint8_t kGuidTail[14] = {
                0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
            set(16, extensibleSize, 2);
            set(18, bits, 2);                  // valid bits
            set(20, channels == 2 ? 3 : 4, 4); // speaker mask
            set(24, *subFormat, 2);
            for (std::size_t i = 0; i < sizeof kGuidTail; ++i)
                fmt[26 + i] = kGuidTail[i];
        }
        out.insert(out.end(), fmt.begin(), fmt.end());
        for (const Chunk& c : extraChunks) {
            put(c.id);
            le(c.body.size(), 4);
            out.insert(out.end(), c.body.begin(), c.body.end());
            if (c.pad && c.body.size() % 2 == 1)
                out.push_back(0);
        }
        if (withData) {
            put("data");
            le(claimedDataSize < 0 ? data.size() : static_cast<std::uint64_t>(claimedDataSize), 4);
            out.insert(out.end(), data.begin(), data.end());
        }
        const std::uint64_t riff =
            claimedRiffSize < 0 ? out.size() - 8 : static_cast<std::uint64_t>(claimedRiffSize);
        for (int i = 0; i < 4; ++i)
            out[4 + i] = static_cast<std::uint8_t>(riff >> (8 * i));
        return out;
    }

    void write(const std::string& path) const { writeBytes(path, bytes()); }

    static void writeBytes(const std::string& path, const std::vector<std::uint8_t>& b)
    {
        std::ofstream f(path, std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
        if (!f)
            throw std::runtime_error("cannot write " + path);
    }

    static std::vector<std::uint8_t> readBytes(const std::string& path)
    {
        std::ifstream f(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
    }
};

} // namespace tarnvel::test
