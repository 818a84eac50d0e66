#include "formats/FlacFileWriter.h"

#include "common/Message.h"
#include "common/MessageSink.h"
#include "formats/FormatMessages.h"
#include "formats/PosixIo.h"
#include "formats/StringPrintf.h"

#include <FLAC++/decoder.h>
#include <FLAC++/encoder.h>
#include <FLAC++/metadata.h>
#include <FLAC/metadata.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

namespace tarnvel::formats {

namespace {

// Samples handed to the encoder per call: bounds the conversion buffer.
constexpr std::size_t kChunkFrames = 4096;

// Vorbis comments are UTF-8: a byte that does not belong to a valid sequence (a label typed in
// another encoding) becomes '?', instead of the file being refused.
std::string validUtf8(const std::string& s)
{
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t n = c < 0x80           ? 1
                        : (c >> 5) == 0x6  ? 2
                        : (c >> 4) == 0xE  ? 3
                        : (c >> 3) == 0x1E ? 4
                                           : 0;
        bool ok = n > 0 && i + n <= s.size();
        for (std::size_t k = 1; ok && k < n; ++k)
            ok = (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
        if (ok && n > 1) {
            // Overlong forms, surrogates and values above U+10FFFF are not UTF-8 either.
            std::uint32_t v = c & (0x7F >> n);
            for (std::size_t k = 1; k < n; ++k)
                v = v << 6 | (static_cast<unsigned char>(s[i + k]) & 0x3F);
            static constexpr std::uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
            ok = v >= kMin[n] && v <= 0x10FFFF && (v < 0xD800 || v > 0xDFFF);
        }
        if (!ok) {
            out += '?';
            ++i;
            continue;
        }
        out.append(s, i, n);
        i += n;
    }
    return out;
}

bool setComments(FLAC__StreamMetadata* block, const FlacTags& tags)
{
    if (!FLAC__metadata_object_vorbiscomment_resize_comments(block, 0))
        return false;
    for (const auto& [field, value] : tags) {
        FLAC__StreamMetadata_VorbisComment_Entry entry{};
        if (!FLAC__metadata_object_vorbiscomment_entry_from_name_value_pair(
                &entry, field.c_str(), validUtf8(value).c_str()))
            return false; // a field name FLAC does not allow: ours are fixed ones
        if (!FLAC__metadata_object_vorbiscomment_append_comment(block, entry, false)) {
            std::free(entry.entry);
            return false;
        }
    }
    return true;
}

// Replaces the Vorbis comments of a finished file, in its padding when they fit.
bool rewriteComments(const std::string& path, const FlacTags& tags, std::string& why)
{
    FLAC__Metadata_Chain* chain = FLAC__metadata_chain_new();
    if (chain == nullptr) {
        why = "out of memory";
        return false;
    }
    bool ok = FLAC__metadata_chain_read(chain, path.c_str());
    if (ok) {
        FLAC__Metadata_Iterator* it = FLAC__metadata_iterator_new();
        ok = it != nullptr;
        bool found = false;
        if (ok) {
            FLAC__metadata_iterator_init(it, chain);
            do {
                if (FLAC__metadata_iterator_get_block_type(it) ==
                    FLAC__METADATA_TYPE_VORBIS_COMMENT) {
                    found = true;
                    ok = setComments(FLAC__metadata_iterator_get_block(it), tags);
                    break;
                }
            } while (FLAC__metadata_iterator_next(it));
            FLAC__metadata_iterator_delete(it);
        }
        ok = ok && found;
        ok = ok && FLAC__metadata_chain_write(chain, true, false);
    }
    if (!ok)
        why = FLAC__Metadata_ChainStatusString[FLAC__metadata_chain_status(chain)];
    FLAC__metadata_chain_delete(chain);
    return ok;
}

} // namespace

class FlacFileWriter::Encoder final : public FLAC::Encoder::File {
public:
    FLAC::Metadata::VorbisComment comments;
    FLAC::Metadata::Padding padding{kPaddingBytes};
};

FlacFileWriter::FlacFileWriter(MessageSink& sink, int compressionLevel)
    : sink_(sink), level_(std::clamp(compressionLevel, 0, 8))
{
}

FlacFileWriter::~FlacFileWriter()
{
    finish(false);
}

bool FlacFileWriter::canHold(const WaveFormat& f)
{
    return f.formatTag == kWaveFormatPcm && f.channels >= 1 && f.channels <= 8 &&
           (f.bitsPerSample == 16 || f.bitsPerSample == 24 || f.bitsPerSample == 32) &&
           f.blockAlign == f.channels * f.bitsPerSample / 8 && f.samplesPerSec > 0 &&
           f.samplesPerSec <= 655350;
}

bool hasFlacExtension(const std::string& name)
{
    return name.size() >= 5 && strcasecmp(name.c_str() + name.size() - 5, ".flac") == 0;
}

void FlacFileWriter::showError(const char* text, const std::string& detail)
{
    const std::string first =
        detail.empty() ? std::string(text) : stringPrintf("%s  (%s)", text, detail.c_str());
    sink_.showMessage(stringPrintf("%s\n\n%s", first.c_str(), name_.c_str()), MessageIcon::Warning);
}

bool FlacFileWriter::create()
{
    finish(false);
    if (!canHold(format_)) {
        showError(tr(msg::kUnableToCreate),
                  stringPrintf("FLAC holds integer samples of 16, 24 or 32 bits, not %s%d",
                               format_.isFloat() ? "float " : "", format_.bitsPerSample));
        return false;
    }
    OpenFailure failure;
    std::FILE* file = createRegularStream(name_, failure);
    if (file == nullptr) {
        showError(tr(msg::kUnableToCreate), failure.text());
        return false;
    }
    auto e = std::make_unique<Encoder>();
    // libFLAC computes the MD5 of the audio for STREAMINFO unless told not to.
    bool ok = e->set_channels(format_.channels) && e->set_bits_per_sample(format_.bitsPerSample) &&
              e->set_sample_rate(format_.samplesPerSec) && e->set_compression_level(level_);
    for (const auto& [field, value] : tags_)
        ok = ok && e->comments.append_comment(FLAC::Metadata::VorbisComment::Entry(
                       field.c_str(), validUtf8(value).c_str()));
    FLAC::Metadata::Prototype* blocks[] = {&e->comments, &e->padding};
    ok = ok && e->set_metadata(blocks, 2);
    if (!ok) {
        std::fclose(file);
        ::unlink(name_.c_str());
        showError(tr(msg::kUnableToCreate), "the encoder refused its settings");
        return false;
    }
    errno = 0;
    const FLAC__StreamEncoderInitStatus status = e->init(file); // the encoder owns the file now
    if (status != FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
        const int error = errno;
        std::string why = FLAC__StreamEncoderInitStatusString[status];
        if (status == FLAC__STREAM_ENCODER_INIT_STATUS_ENCODER_ERROR)
            why = e->get_state().as_cstring();
        if (error != 0)
            why += std::string(", ") + std::strerror(error);
        e->finish();
        ::unlink(name_.c_str());
        showError(tr(msg::kUnableToCreate), why);
        return false;
    }
    writtenTags_ = tags_;
    samples_.resize(kChunkFrames * format_.channels);
    encoder_ = std::move(e);
    return true;
}

std::size_t FlacFileWriter::write(const std::uint8_t* data, std::size_t bytes)
{
    if (!encoder_)
        return 0;
    const std::size_t frameBytes = format_.blockAlign;
    const std::size_t channels = format_.channels;
    std::size_t frames = bytes / frameBytes;
    const int bytesPerSample = format_.bitsPerSample / 8;
    while (frames > 0) {
        const std::size_t n = std::min(frames, kChunkFrames);
        const std::size_t count = n * channels;
        std::int32_t* out = samples_.data();
        switch (bytesPerSample) {
        case 2:
            for (std::size_t i = 0; i < count; ++i, data += 2)
                out[i] = static_cast<std::int16_t>(data[0] | data[1] << 8);
            break;
        case 3:
            for (std::size_t i = 0; i < count; ++i, data += 3)
                out[i] = static_cast<std::int32_t>(static_cast<std::uint32_t>(data[0]) << 8 |
                                                   static_cast<std::uint32_t>(data[1]) << 16 |
                                                   static_cast<std::uint32_t>(data[2]) << 24) >>
                         8;
            break;
        default:
            for (std::size_t i = 0; i < count; ++i, data += 4)
                out[i] = static_cast<std::int32_t>(static_cast<std::uint32_t>(data[0]) |
                                                   static_cast<std::uint32_t>(data[1]) << 8 |
                                                   static_cast<std::uint32_t>(data[2]) << 16 |
                                                   static_cast<std::uint32_t>(data[3]) << 24);
            break;
        }
        errno = 0;
        if (!encoder_->process_interleaved(samples_.data(), static_cast<unsigned>(n))) {
            const int error = errno;
            std::string why = encoder_->get_state().as_cstring();
            if (error != 0)
                why = std::strerror(error);
            encoder_->finish();
            encoder_.reset();
            showError(tr(msg::kUnableToWrite), why);
            return 0;
        }
        frames -= n;
    }
    // The chunk's layout leaves no part frame; one given anyway is not audio of this format.
    return bytes;
}

bool FlacFileWriter::finish(bool keepOpen)
{
    if (!encoder_ || keepOpen)
        return true;
    errno = 0;
    const bool finished = encoder_->finish();
    const int error = errno;
    const std::string state = encoder_->get_state().as_cstring();
    encoder_.reset();
    if (!finished) {
        showError(tr(msg::kUnableToClose), error != 0 ? std::strerror(error) : state);
        return false;
    }
    if (tags_ != writtenTags_) {
        std::string why;
        if (!rewriteComments(name_, tags_, why)) {
            showError(tr(msg::kUnableToWrite), "comments: " + why);
            return false;
        }
        writtenTags_ = tags_;
    }
    return true;
}

// --- Reading --------------------------------------------------------------------------------

namespace {

class Decoder final : public FLAC::Decoder::File {
public:
    explicit Decoder(const std::function<void(const std::uint8_t*, std::size_t)>& onData)
        : onData_(onData)
    {
    }
    FlacReadResult result;

protected:
    FLAC__StreamDecoderWriteStatus write_callback(const FLAC__Frame* frame,
                                                  const FLAC__int32* const buffer[]) override
    {
        const unsigned channels = frame->header.channels;
        const unsigned bits = frame->header.bits_per_sample;
        const unsigned bytes = (bits + 7) / 8;
        const unsigned shift = bytes * 8 - bits;
        const unsigned blocksize = frame->header.blocksize;
        bytes_.resize(static_cast<std::size_t>(blocksize) * channels * bytes);
        std::uint8_t* out = bytes_.data();
        for (unsigned i = 0; i < blocksize; ++i)
            for (unsigned c = 0; c < channels; ++c) {
                const auto v = static_cast<std::uint32_t>(buffer[c][i]) << shift;
                if (bytes == 1) {
                    *out++ = static_cast<std::uint8_t>(v + 128); // 8-bit WAV data is unsigned
                    continue;
                }
                for (unsigned b = 0; b < bytes; ++b)
                    *out++ = static_cast<std::uint8_t>(v >> (8 * b));
            }
        result.frames += blocksize;
        if (onData_)
            onData_(bytes_.data(), bytes_.size());
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    }
    void metadata_callback(const FLAC__StreamMetadata* metadata) override
    {
        if (metadata->type != FLAC__METADATA_TYPE_STREAMINFO)
            return;
        const auto& s = metadata->data.stream_info;
        const unsigned bytes = (s.bits_per_sample + 7) / 8;
        result.format = WaveFormat::make(kWaveFormatPcm, static_cast<std::uint16_t>(s.channels),
                                         s.sample_rate, static_cast<std::uint16_t>(bytes * 8));
        result.md5Checked = std::any_of(std::begin(s.md5sum), std::end(s.md5sum),
                                        [](FLAC__byte b) { return b != 0; });
    }
    void error_callback(FLAC__StreamDecoderErrorStatus status) override
    {
        if (result.error.empty())
            result.error = FLAC__StreamDecoderErrorStatusString[status];
    }

private:
    const std::function<void(const std::uint8_t*, std::size_t)>& onData_;
    std::vector<std::uint8_t> bytes_;
};

} // namespace

FlacReadResult readFlacFile(const std::string& path,
                            const std::function<void(const std::uint8_t*, std::size_t)>& onData)
{
    Decoder d(onData);
    OpenFailure failure;
    const int fd = openRegularFile(path, O_RDONLY, failure);
    std::FILE* file = fd < 0 ? nullptr : ::fdopen(fd, "rb");
    if (file == nullptr) {
        if (fd >= 0)
            ::close(fd);
        d.result.error = fd < 0 ? failure.text() : std::string(std::strerror(errno));
        return d.result;
    }
    d.set_md5_checking(true);
    if (d.init(file) != FLAC__STREAM_DECODER_INIT_STATUS_OK) { // the decoder owns the file
        d.result.error = "the FLAC decoder could not start";
        return d.result;
    }
    const bool decoded = d.process_until_end_of_stream();
    const FLAC__StreamDecoderState state = d.get_state();
    const bool md5Ok = d.finish(); // false: the decoded audio differs from the MD5
    FlacReadResult r = d.result;
    if (!decoded && r.error.empty())
        r.error = FLAC__StreamDecoderStateString[state];
    if (decoded && state != FLAC__STREAM_DECODER_END_OF_STREAM && r.error.empty())
        r.error = FLAC__StreamDecoderStateString[state];
    r.md5Matches = r.md5Checked && md5Ok;
    if (r.error.empty() && r.md5Checked && !md5Ok)
        r.error = "the decoded audio does not match the MD5 in the file";
    r.ok = r.error.empty();
    return r;
}

bool readFlacStreamInfo(const std::string& path, WaveFormat& format, std::uint64_t& frames)
{
    FLAC__StreamMetadata info{};
    if (!FLAC__metadata_get_streaminfo(path.c_str(), &info))
        return false;
    const auto& s = info.data.stream_info;
    const unsigned bytes = (s.bits_per_sample + 7) / 8;
    format = WaveFormat::make(kWaveFormatPcm, static_cast<std::uint16_t>(s.channels), s.sample_rate,
                              static_cast<std::uint16_t>(bytes * 8));
    frames = s.total_samples;
    return true;
}

bool readFlacTags(const std::string& path, FlacTags& tags)
{
    FLAC__StreamMetadata* block = nullptr;
    if (!FLAC__metadata_get_tags(path.c_str(), &block))
        return false;
    tags.clear();
    const auto& vc = block->data.vorbis_comment;
    for (FLAC__uint32 i = 0; i < vc.num_comments; ++i) {
        char* field = nullptr;
        char* value = nullptr;
        if (FLAC__metadata_object_vorbiscomment_entry_to_name_value_pair(vc.comments[i], &field,
                                                                         &value)) {
            tags.emplace_back(field, value);
            std::free(field);
            std::free(value);
        }
    }
    FLAC__metadata_object_delete(block);
    return true;
}

} // namespace tarnvel::formats
