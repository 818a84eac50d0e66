#include "sound/SampleConversion.h"

#include "common/ByteOrder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tarnvel::sound {

int bitLengthOfSampleType(int type)
{
    switch (type) {
    case kInt16Lsb:
        return 16;
    case kInt24Lsb:
        return 24;
    case kInt32Lsb:
    case 24:
    case 25:
    case 26:
    case 27: // 32-bit containers holding 16/18/20/24 significant bits
        return 32;
    case kFloat32Lsb:
        return -32;
    case kFloat64Lsb:
        return -64;
    default:
        return 0;
    }
}

int bytesOfSampleType(int type)
{
    switch (type) {
    case kInt16Lsb:
        return 2;
    case kInt24Lsb:
        return 3;
    case kInt32Lsb:
    case kFloat32Lsb:
    case 24:
    case 25:
    case 26:
    case 27:
        return 4;
    case kFloat64Lsb:
        return 8;
    default:
        return 0;
    }
}

bool outputBitLengthAccepted(int deviceBits, int bits)
{
    const int need = bits < 0 ? 24 : bits;
    return std::abs(deviceBits) >= need;
}

InputFit inputBitLengthTest(int deviceBits, int bits, bool allowReduce)
{
    const int r = bits < 0 ? 24 : bits;
    const int d = deviceBits;
    if ((d == 16 && r == 16) || (d == 24 && r == 24) || (d == 32 && r == 32) ||
        (d == 32 && r == 24))
        return InputFit::Accepted;
    if (allowReduce && (d == 24 || d == 32) && r == 16)
        return InputFit::Reduced;
    return InputFit::Refused;
}

std::int16_t roundTo16(std::int32_t w)
{
    if (w >= 0) {
        if ((static_cast<std::uint32_t>(w) >> 16) != 0x7FFF)
            w += 0x1000;
        return static_cast<std::int16_t>(w >> 16);
    }
    // Mirror of the positive case on the magnitude: an arithmetic shift alone would move every
    // negative sample one step down.
    const std::int64_t m = (-static_cast<std::int64_t>(w) + 0x1000) >> 16;
    return static_cast<std::int16_t>(-std::min<std::int64_t>(m, 32768));
}

std::int32_t floatTo24(float f)
{
    if (!(f == f))
        return 0;
    const double v = std::nearbyint(static_cast<double>(f) * 8388608.0);
    if (v > 8388607.0)
        return 8388607;
    if (v < -8388608.0)
        return -8388608;
    return static_cast<std::int32_t>(v);
}

int nativeSampleTypeFor(const formats::WaveFormat& f)
{
    if (f.isFloat())
        return kFloat32Lsb;
    switch (f.bitsPerSample) {
    case 24:
        return kInt24Lsb;
    case 32:
        return kInt32Lsb;
    default:
        return kInt16Lsb;
    }
}

namespace {

inline std::int32_t read24(const std::uint8_t* p)
{
    // Sign-extend three little-endian bytes.
    const std::uint32_t u = static_cast<std::uint32_t>(p[0]) |
                            (static_cast<std::uint32_t>(p[1]) << 8) |
                            (static_cast<std::uint32_t>(p[2]) << 16);
    return static_cast<std::int32_t>(u << 8) >> 8;
}
inline void write24(std::uint8_t* p, std::int32_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
}
inline std::int16_t read16(const std::uint8_t* p)
{
    return static_cast<std::int16_t>(readLe16(p));
}
inline std::int32_t read32(const std::uint8_t* p)
{
    return static_cast<std::int32_t>(readLe32(p));
}
inline float readF(const std::uint8_t* p)
{
    float f;
    std::memcpy(&f, p, 4);
    return f;
}
inline void writeF(std::uint8_t* p, float f)
{
    std::memcpy(p, &f, 4);
}

// One ring sample (Bits: 8, 16, 24, 32, -32) to one device sample (Type).
template <int Bits, int Type> inline bool encodeOut(const std::uint8_t* s, std::uint8_t* d)
{
    if constexpr (Type == kInt16Lsb) {
        if constexpr (Bits == 8)
            writeLe16(d, static_cast<std::uint16_t>((s[0] - 128) * 256));
        else if constexpr (Bits == 16)
            std::memcpy(d, s, 2);
        else
            return false;
    } else if constexpr (Type == kInt24Lsb) {
        if constexpr (Bits == 8) {
            d[0] = 0;
            d[1] = 0;
            d[2] = static_cast<std::uint8_t>(s[0] + 128);
        } else if constexpr (Bits == 16) {
            d[0] = 0;
            d[1] = s[0];
            d[2] = s[1];
        } else if constexpr (Bits == 24) {
            std::memcpy(d, s, 3);
        } else if constexpr (Bits == -32) {
            write24(d, floatTo24(readF(s)));
        } else {
            return false;
        }
    } else if constexpr (Type == kInt32Lsb) {
        std::int32_t v;
        if constexpr (Bits == 8)
            v = static_cast<std::int32_t>(static_cast<std::uint32_t>(s[0] - 128) << 24);
        else if constexpr (Bits == 16)
            v = static_cast<std::int32_t>(static_cast<std::uint32_t>(read16(s)) << 16);
        else if constexpr (Bits == 24)
            v = static_cast<std::int32_t>(static_cast<std::uint32_t>(read24(s)) << 8);
        else if constexpr (Bits == 32)
            v = read32(s);
        else
            v = static_cast<std::int32_t>(static_cast<std::uint32_t>(floatTo24(readF(s))) << 8);
        writeLe32(d, static_cast<std::uint32_t>(v));
    } else if constexpr (Type == kFloat32Lsb) {
        if constexpr (Bits == -32)
            std::memcpy(d, s, 4);
        else
            return false;
    }
    return true;
}

// One device sample (Type) to one ring sample (Bits).
template <int Type, int Bits> inline bool decodeIn(const std::uint8_t* s, std::uint8_t* d)
{
    if constexpr (Type == kInt16Lsb) {
        if constexpr (Bits == 16)
            std::memcpy(d, s, 2);
        else if constexpr (Bits == 8)
            d[0] = static_cast<std::uint8_t>((read16(s) >> 8) + 128);
        else
            return false;
    } else if constexpr (Type == kInt24Lsb || Type == kInt32Lsb) {
        std::int32_t w;
        if constexpr (Type == kInt24Lsb)
            w = static_cast<std::int32_t>(static_cast<std::uint32_t>(read24(s)) << 8);
        else
            w = read32(s);
        if constexpr (Bits == 16)
            writeLe16(d, static_cast<std::uint16_t>(roundTo16(w)));
        else if constexpr (Bits == 24)
            write24(d, w >> 8);
        else if constexpr (Bits == 32 && Type == kInt32Lsb)
            writeLe32(d, static_cast<std::uint32_t>(w));
        else if constexpr (Bits == -32)
            writeF(d, static_cast<float>(static_cast<double>(w) * (1.0 / 2147483648.0)));
        else
            return false;
    } else if constexpr (Type == kFloat32Lsb) {
        if constexpr (Bits == -32)
            std::memcpy(d, s, 4);
        else
            return false;
    }
    return true;
}

template <int Bits, int Type>
bool outLoop(const std::uint8_t* ring, int ringChannels, std::uint8_t* device, int deviceChannels,
             std::size_t frames)
{
    constexpr int sb = Bits < 0 ? 4 : Bits / 8;
    constexpr int db = Type == kInt16Lsb ? 2 : Type == kInt24Lsb ? 3 : 4;
    const std::size_t ringStep = static_cast<std::size_t>(sb) * ringChannels;
    for (std::size_t f = 0; f < frames; ++f) {
        for (int k = 0; k < deviceChannels; ++k) {
            const int sample = ringChannels == 1 ? 0 : (k < 2 ? k : 1);
            if (!encodeOut<Bits, Type>(ring + sample * sb, device + k * db))
                return false;
        }
        ring += ringStep;
        device += static_cast<std::size_t>(db) * deviceChannels;
    }
    return true;
}

template <int Type, int Bits>
bool inLoop(const std::uint8_t* device, int deviceChannels, std::uint8_t* ring, int ringChannels,
            std::size_t frames)
{
    constexpr int sb = Bits < 0 ? 4 : Bits / 8;
    constexpr int db = Type == kInt16Lsb ? 2 : Type == kInt24Lsb ? 3 : 4;
    constexpr std::uint8_t silence = Bits == 8 ? 128 : 0;
    for (std::size_t f = 0; f < frames; ++f) {
        for (int k = 0; k < ringChannels; ++k) {
            if (k < deviceChannels) {
                if (!decodeIn<Type, Bits>(device + k * db, ring + k * sb))
                    return false;
            } else {
                std::memset(ring + k * sb, silence, sb);
            }
        }
        ring += static_cast<std::size_t>(sb) * ringChannels;
        device += static_cast<std::size_t>(db) * deviceChannels;
    }
    return true;
}

template <int Type>
bool outForType(const std::uint8_t* ring, int bits, int rc, std::uint8_t* dev, int dc,
                std::size_t n)
{
    switch (bits) {
    case 8:
        return outLoop<8, Type>(ring, rc, dev, dc, n);
    case 16:
        return outLoop<16, Type>(ring, rc, dev, dc, n);
    case 24:
        return outLoop<24, Type>(ring, rc, dev, dc, n);
    case 32:
        return outLoop<32, Type>(ring, rc, dev, dc, n);
    case -32:
        return outLoop<-32, Type>(ring, rc, dev, dc, n);
    default:
        return false;
    }
}

template <int Type>
bool inForType(const std::uint8_t* dev, int dc, std::uint8_t* ring, int bits, int rc, std::size_t n)
{
    switch (bits) {
    case 8:
        return inLoop<Type, 8>(dev, dc, ring, rc, n);
    case 16:
        return inLoop<Type, 16>(dev, dc, ring, rc, n);
    case 24:
        return inLoop<Type, 24>(dev, dc, ring, rc, n);
    case 32:
        return inLoop<Type, 32>(dev, dc, ring, rc, n);
    case -32:
        return inLoop<Type, -32>(dev, dc, ring, rc, n);
    default:
        return false;
    }
}

} // namespace

bool convertToDevice(const std::uint8_t* ring, int bits, int ringChannels, std::uint8_t* device,
                     int type, int deviceChannels, std::size_t frames)
{
    bool ok = false;
    if (ringChannels >= 1 && ringChannels <= 2 && deviceChannels >= 1) {
        switch (type) {
        case kInt16Lsb:
            ok = outForType<kInt16Lsb>(ring, bits, ringChannels, device, deviceChannels, frames);
            break;
        case kInt24Lsb:
            ok = outForType<kInt24Lsb>(ring, bits, ringChannels, device, deviceChannels, frames);
            break;
        case kInt32Lsb:
            ok = outForType<kInt32Lsb>(ring, bits, ringChannels, device, deviceChannels, frames);
            break;
        case kFloat32Lsb:
            ok = outForType<kFloat32Lsb>(ring, bits, ringChannels, device, deviceChannels, frames);
            break;
        default:
            break;
        }
    }
    if (!ok) {
        const int b = bytesOfSampleType(type);
        if (b > 0 && deviceChannels > 0)
            std::memset(device, 0, frames * static_cast<std::size_t>(b) * deviceChannels);
    }
    return ok;
}

bool convertFromDevice(const std::uint8_t* device, int type, int deviceChannels, std::uint8_t* ring,
                       int bits, int ringChannels, std::size_t frames)
{
    bool ok = false;
    if (ringChannels >= 1 && ringChannels <= 2 && deviceChannels >= 1) {
        switch (type) {
        case kInt16Lsb:
            ok = inForType<kInt16Lsb>(device, deviceChannels, ring, bits, ringChannels, frames);
            break;
        case kInt24Lsb:
            ok = inForType<kInt24Lsb>(device, deviceChannels, ring, bits, ringChannels, frames);
            break;
        case kInt32Lsb:
            ok = inForType<kInt32Lsb>(device, deviceChannels, ring, bits, ringChannels, frames);
            break;
        case kFloat32Lsb:
            ok = inForType<kFloat32Lsb>(device, deviceChannels, ring, bits, ringChannels, frames);
            break;
        default:
            break;
        }
    }
    if (!ok && ringChannels > 0) {
        const int sb = bits < 0 ? 4 : bits / 8;
        if (sb > 0)
            std::memset(ring, bits == 8 ? 128 : 0,
                        frames * static_cast<std::size_t>(sb) * ringChannels);
    }
    return ok;
}

} // namespace tarnvel::sound
