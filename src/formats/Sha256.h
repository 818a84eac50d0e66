#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// SHA-256 (FIPS 180-4), for the checksums of an archive's files and of its report.
namespace tarnvel::formats {

class Sha256 {
public:
    Sha256();
    void update(const void* data, std::size_t bytes);
    // The digest; the object is spent afterwards.
    std::array<std::uint8_t, 32> finish();
    // finish() as 64 lower-case hexadecimal digits.
    std::string finishHex();

    static std::string hex(const void* data, std::size_t bytes);

private:
    void block(const std::uint8_t* p);

    std::array<std::uint32_t, 8> h_;
    std::array<std::uint8_t, 64> buffer_{};
    std::size_t used_ = 0;
    std::uint64_t length_ = 0;
};

// The SHA-256 of the bytes `offset`..`offset + length` of a file; false with `error` when the
// file cannot be read that far.
bool sha256OfFileRange(const std::string& path, std::uint64_t offset, std::uint64_t length,
                       std::string& hex, std::string& error);

} // namespace tarnvel::formats
