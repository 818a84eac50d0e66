#include "engine/ArchiveReport.h"

#include "formats/FlacFileWriter.h"
#include "formats/PosixIo.h"
#include "formats/Sha256.h"
#include "formats/StringPrintf.h"
#include "formats/WaveFileReader.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnvel::engine {

using formats::stringPrintf;

namespace {

constexpr char kTitle[] = "Tarnvel archive report";
constexpr char kFileKey[] = "File: ";
constexpr char kFileHashKey[] = "  SHA-256 of the file: ";
constexpr char kHashKey[] = "  SHA-256 of the audio data: ";
constexpr char kReportHashKey[] = "Report SHA-256: ";
// Longer lines are not ours (no file name is this long): they are hashed, not parsed.
constexpr std::size_t kMaxLine = 16384;
constexpr std::size_t kHashChunk = 1 << 20;

bool startsWith(const std::string& s, const char* key)
{
    return s.compare(0, std::strlen(key), key) == 0;
}

std::string dateText(const std::array<std::uint8_t, dat::kPackBytes>& p)
{
    if (p[1] == 0xAA)
        return "none";
    return stringPrintf("%02X/%02X/%02X %02X:%02X:%02X", p[1], p[2], p[3], p[4], p[5], p[6]);
}

std::string baseName(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string folderOf(const std::string& path)
{
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::absolute(path, ec).lexically_normal();
    return p.parent_path().string();
}

// Writes `text` to a new file beside `path` and moves it over `path`.
bool replaceFileWithText(const std::string& path, const std::string& text, std::string& error)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        error = path + ": " + (S_ISDIR(st.st_mode) ? "is a directory" : "not a regular file");
        return false;
    }
    static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kChars - 2);
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = path + ".partial-";
        for (int i = 0; i < 6; ++i)
            temporary += kChars[pick(random)];
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        error = path + ": unable to write the report (" + std::strerror(errno) + ")";
        return false;
    }
    errno = 0;
    bool ok = formats::writeAll(fd, reinterpret_cast<const std::uint8_t*>(text.data()),
                                text.size()) == text.size();
    ok = ok && ::fdatasync(fd) == 0;
    int why = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        why = errno;
    }
    if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) {
        ok = false;
        why = errno;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        error = path + ": unable to write the report" +
                (why != 0 ? std::string(" (") + std::strerror(why) + ")" : std::string());
    }
    return ok;
}

// One line of a report with its line feed; the first kMaxLine bytes are kept, all are hashed.
// `before` gets the hash state at the line's start. False at the end of the file.
bool nextLine(std::FILE* f, formats::Sha256& running, formats::Sha256& before, std::string& line)
{
    line.clear();
    before = running;
    char chunk[4096];
    bool any = false;
    while (std::fgets(chunk, sizeof chunk, f) != nullptr) {
        any = true;
        const std::size_t n = std::strlen(chunk);
        running.update(chunk, n);
        if (line.size() < kMaxLine)
            line.append(chunk, std::min(n, kMaxLine - line.size()));
        if (n > 0 && chunk[n - 1] == '\n')
            break;
    }
    if (!line.empty() && line.back() == '\n')
        line.pop_back();
    return any;
}

} // namespace

namespace {

// A FLAC file: its bytes, and the audio it decodes to in the layout of a WAV file's data (so
// that it hashes as the WAV archive of the same tape does); libFLAC checks the audio against
// the MD5 the file carries on the way.
bool flacFileSha256(const std::string& path, std::string& wholeHex, std::string& dataHex,
                    std::string& error)
{
    formats::Sha256 data;
    const formats::FlacReadResult r = formats::readFlacFile(
        path, [&](const std::uint8_t* bytes, std::size_t n) { data.update(bytes, n); });
    if (!r.ok) {
        error = r.error;
        return false;
    }
    formats::OpenFailure failure;
    const int fd = formats::openRegularFile(path, O_RDONLY, failure);
    if (fd < 0) {
        error = failure.text();
        return false;
    }
    formats::Sha256 whole;
    std::vector<std::uint8_t> buffer(kHashChunk);
    for (off_t at = 0;;) {
        errno = 0;
        const std::size_t n = formats::preadAll(fd, buffer.data(), buffer.size(), at);
        if (n < buffer.size() && errno != 0) {
            error = std::strerror(errno);
            ::close(fd);
            return false;
        }
        whole.update(buffer.data(), n);
        at += static_cast<off_t>(n);
        if (n < buffer.size())
            break;
    }
    ::close(fd);
    wholeHex = whole.finishHex();
    dataHex = data.finishHex();
    return true;
}

} // namespace

bool replaceWithText(const std::string& path, const std::string& text, std::string& error)
{
    return replaceFileWithText(path, text, error);
}

bool waveFileSha256(const std::string& path, std::string& wholeHex, std::string& dataHex,
                    std::string& error)
{
    if (formats::hasFlacExtension(path))
        return flacFileSha256(path, wholeHex, dataHex, error);
    formats::WaveFileReader reader;
    if (!reader.readHeader(path)) {
        error = reader.errorText();
        return false;
    }
    const std::uint64_t dataBegin = reader.dataOffset();
    const std::uint64_t dataEnd = dataBegin + reader.dataLength();
    reader.close();
    formats::OpenFailure failure;
    const int fd = formats::openRegularFile(path, O_RDONLY, failure);
    if (fd < 0) {
        error = failure.text();
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error = std::strerror(errno);
        ::close(fd);
        return false;
    }
    const auto size = static_cast<std::uint64_t>(st.st_size);
    formats::Sha256 whole;
    formats::Sha256 data;
    std::vector<std::uint8_t> buffer(kHashChunk);
    bool ok = true;
    for (std::uint64_t at = 0; at < size;) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size - at));
        const std::size_t n = formats::preadAll(fd, buffer.data(), want, static_cast<off_t>(at));
        if (n == 0) {
            error = "the file could not be read to its end";
            ok = false;
            break;
        }
        whole.update(buffer.data(), n);
        const std::uint64_t from = std::max(at, dataBegin);
        const std::uint64_t to = std::min(at + n, dataEnd);
        if (from < to)
            data.update(buffer.data() + (from - at), static_cast<std::size_t>(to - from));
        at += n;
    }
    ::close(fd);
    if (ok && dataEnd > size) {
        error = "the file is shorter than its header says";
        ok = false;
    }
    if (ok) {
        wholeHex = whole.finishHex();
        dataHex = data.finishHex();
    }
    return ok;
}

bool writeArchiveReport(const std::string& path, const ArchiveRun& run,
                        const std::vector<WrittenFile>& files, std::string& error)
{
    std::vector<std::vector<FileHashes>> hashes;
    return writeArchiveReport(path, run, files, hashes, error);
}

bool writeArchiveReport(const std::string& path, const ArchiveRun& run,
                        const std::vector<WrittenFile>& files,
                        std::vector<std::vector<FileHashes>>& hashes, std::string& error)
{
    hashes.assign(files.size(), {});
    std::string text = std::string(kTitle) + "\n";
    if (!run.label.empty()) {
        std::string label = run.label;
        for (char& c : label) // one line, whatever was typed
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
                c = ' ';
        text += "Label: " + label + "\n";
    }
    text += "Program: " + run.program + "\n";
    text += "Drive: " + run.drive + "\n";
    text += "Settings:";
    for (const auto& [key, value] : run.settings)
        text += " " + key + "=" + value;
    text += "\n";
    text += "Started: " + run.started + "\n";
    text += "Ended: " + run.ended + "\n";
    text += "Outcome: " + run.outcome + "\n";
    // Files are named relative to the report's folder; where they were written is information.
    text += "Written in: " + folderOf(path) + "\n";
    text += "Cue file: " + baseName(run.cueFile) + "\n";
    std::uint64_t errorFrames = 0;
    for (std::size_t index = 0; index < files.size(); ++index) {
        const WrittenFile& f = files[index];
        for (std::size_t part = 0; part < f.parts.size(); ++part) {
            const std::string& name = f.parts[part];
            std::string whole;
            std::string data;
            if (!waveFileSha256(name, whole, data, error)) {
                error = name + ": " + error;
                return false;
            }
            {
                struct stat st {};
                const std::uint64_t size =
                    ::stat(name.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
                hashes[index].push_back({name, size, whole, data});
            }
            text += "\n" + std::string(kFileKey) + baseName(name) + "\n";
            if (part > 0) {
                text += stringPrintf("  Continues: %s\n", baseName(f.name).c_str());
            } else {
                text += stringPrintf("  Program number: %s\n", f.programText.c_str());
                text += "  Date: " + dateText(f.datePack) + "\n";
                text += "  Format: " + f.formatText + (f.emphasis ? " Emph" : "") +
                        "  Copy: " + f.copyText + "\n";
                text += "  Starts at ABS:" + f.startAbs + "\n";
                text += stringPrintf("  Frames: %u  Duration: %02dh%02dm%02ds\n", f.frames,
                                     f.seconds / 3600, f.seconds / 60 % 60, f.seconds % 60);
                text += stringPrintf("  Error frames: L %u  R %u  ABS %u\n", f.errorsLeft,
                                     f.errorsRight, f.errorsAbs);
                if (run.retries > 0)
                    text += stringPrintf("  Re-read: %u frames, recovered %u\n", f.framesReread,
                                         f.framesRecovered);
                for (std::size_t i = 0; i < f.errorFrames.size(); i += 6) {
                    text += "  Errors at:";
                    for (std::size_t k = i; k < std::min(i + 6, f.errorFrames.size()); ++k) {
                        const auto& e = f.errorFrames[k];
                        const bool l = (e.errorByte & dat::kSubIdInterpolatedLeft) != 0;
                        const bool r = (e.errorByte & dat::kSubIdInterpolatedRight) != 0;
                        text += dat::timeText(e.abs) + " " +
                                (l && r ? "LR"
                                 : l    ? "L"
                                 : r    ? "R"
                                        : "-");
                    }
                    text += "\n";
                }
                errorFrames += f.errorFrames.size();
                if (index < run.fileNotes.size())
                    for (const std::string& note : run.fileNotes[index])
                        text += note + "\n";
            }
            // The whole file first (a changed header is a change too), then the audio data,
            // which ends the entry as in reports written before the whole-file hash.
            text += kFileHashKey + whole + "\n";
            text += kHashKey + data + "\n";
        }
    }
    text += stringPrintf("\nFiles: %zu  Error frames: %llu\n", files.size(),
                         static_cast<unsigned long long>(errorFrames));
    text += kReportHashKey + formats::Sha256::hex(text.data(), text.size()) + "\n";
    return replaceFileWithText(path, text, error);
}

ArchiveVerification verifyArchiveReport(const std::string& path,
                                        const std::function<void(const VerifiedFile&)>& onFile,
                                        std::string& error)
{
    ArchiveVerification v;
    formats::OpenFailure failure;
    const int fd = formats::openRegularFile(path, O_RDONLY, failure);
    std::FILE* f = fd < 0 ? nullptr : ::fdopen(fd, "rb");
    if (f == nullptr) {
        if (fd >= 0)
            ::close(fd);
        error = path + ": " + (fd < 0 ? failure.text() : std::string(std::strerror(errno)));
        return v;
    }
    const std::string folder = folderOf(path);
    formats::Sha256 running;
    formats::Sha256 before;
    std::string line;
    if (!nextLine(f, running, before, line) || line != kTitle) {
        std::fclose(f);
        error = path + ": not an archive report";
        return v;
    }
    v.readable = true;
    bool hashLineLast = false;
    bool hashMatches = false;
    std::string name;
    std::string fileHash;
    while (nextLine(f, running, before, line)) {
        hashLineLast = false;
        if (startsWith(line, kReportHashKey)) {
            // The last line: a SHA-256 of every byte before it.
            hashLineLast = true;
            hashMatches = line.substr(sizeof kReportHashKey - 1) == before.finishHex();
            continue;
        }
        if (startsWith(line, kFileKey)) {
            name = line.substr(sizeof kFileKey - 1);
            fileHash.clear();
            continue;
        }
        if (name.empty())
            continue;
        if (startsWith(line, kFileHashKey)) {
            fileHash = line.substr(sizeof kFileHashKey - 1);
            continue;
        }
        if (!startsWith(line, kHashKey))
            continue;
        const std::string stated = line.substr(sizeof kHashKey - 1);
        // The file beside the report, whatever folder it was written in (older reports name
        // it by its absolute path).
        VerifiedFile checked;
        checked.name = folder + "/" + baseName(name);
        name.clear();
        struct stat st {};
        std::string whole;
        std::string data;
        std::string why;
        if (::lstat(checked.name.c_str(), &st) != 0) {
            checked.result = VerifiedFile::Result::Missing;
        } else if (!waveFileSha256(checked.name, whole, data, why)) {
            checked.result = VerifiedFile::Result::Mismatch;
            checked.detail = why;
        } else {
            checked.wholeHex = whole;
            checked.dataHex = data;
            if (data != stated) {
                checked.result = VerifiedFile::Result::Mismatch;
            } else if (!fileHash.empty() && whole != fileHash) {
                checked.result = VerifiedFile::Result::Mismatch;
                checked.detail = "the audio data is unchanged; the header differs";
            }
        }
        ++v.files;
        if (checked.result != VerifiedFile::Result::Ok)
            ++v.problems;
        if (onFile)
            onFile(checked);
    }
    const bool readError = std::ferror(f) != 0;
    std::fclose(f);
    v.reportIntact = hashLineLast && hashMatches && !readError;
    return v;
}

} // namespace tarnvel::engine
