#include "shelf/ShelfState.h"

#include "formats/PosixIo.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sys/file.h>
#include <unistd.h>

namespace tarnvel::shelf {

namespace {

using nlohmann::json;

constexpr std::size_t kMaxStateBytes = 64u << 20;

std::string systemError(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

bool stateOf(const std::string& name, TapeState& state)
{
    for (const TapeState s :
         {TapeState::Pending, TapeState::Claimed, TapeState::Done, TapeState::Failed})
        if (name == stateName(s)) {
            state = s;
            return true;
        }
    return false;
}

} // namespace

const char* stateName(TapeState state)
{
    switch (state) {
    case TapeState::Pending:
        return "pending";
    case TapeState::Claimed:
        return "claimed";
    case TapeState::Done:
        return "done";
    case TapeState::Failed:
        return "failed";
    }
    return "pending";
}

TapeRecord* ShelfState::find(std::string_view label)
{
    for (TapeRecord& t : tapes)
        if (t.label == label)
            return &t;
    return nullptr;
}

const TapeRecord* ShelfState::find(std::string_view label) const
{
    return const_cast<ShelfState*>(this)->find(label);
}

std::string toJson(const ShelfState& state)
{
    // In this order in the file, the label first, for a reader.
    using ordered = nlohmann::ordered_json;
    ordered tapes = ordered::array();
    for (const TapeRecord& t : state.tapes) {
        ordered o = {{"label", t.label},
                     {"state", stateName(t.state)},
                     {"reason", t.reason},
                     {"host", t.host},
                     {"pid", t.pid},
                     {"started", t.started},
                     {"ended", t.ended},
                     {"attempts", t.attempts},
                     {"programs", t.programs},
                     {"seconds", t.seconds},
                     {"errorFrames", t.errorFrames},
                     {"errorsLeft", t.errorsLeft},
                     {"errorsRight", t.errorsRight},
                     {"errorsAbs", t.errorsAbs},
                     {"folder", t.folder},
                     {"notes", t.notes}};
        tapes.push_back(std::move(o));
    }
    // Labels, hosts and notes are ASCII or UTF-8 of our own; anything else is replaced rather
    // than refused, so that a state is always written.
    return ordered{{"tapes", std::move(tapes)}}.dump(2, ' ', false,
                                                     ordered::error_handler_t::replace) +
           "\n";
}

bool fromJson(std::string_view text, ShelfState& state, std::string& error)
{
    state = {};
    json doc = json::parse(text, nullptr, false);
    if (doc.is_discarded() || !doc.is_object() || !doc.contains("tapes") ||
        !doc["tapes"].is_array()) {
        error = "not a shelf state (a JSON object with a \"tapes\" list)";
        return false;
    }
    for (const json& o : doc["tapes"]) {
        TapeRecord t;
        std::string why;
        // Every field is optional but must have its type: a hand-edited file with a wrong
        // type is refused rather than read as something else.
        const auto textField = [&](const char* key, std::string& out) {
            if (o.contains(key) && !o[key].is_string())
                why = std::string("\"") + key + "\" is not a text";
            else if (o.contains(key))
                out = o[key].get<std::string>();
        };
        const auto numberField = [&](const char* key, auto& out) {
            using T = std::remove_reference_t<decltype(out)>;
            if (!o.contains(key))
                return;
            if (!o[key].is_number_integer() ||
                (std::is_unsigned_v<T> && o[key].get<std::int64_t>() < 0))
                why = std::string("\"") + key + "\" is not a whole number";
            else
                out = o[key].get<T>();
        };
        if (!o.is_object() || !o.contains("label") || !o["label"].is_string()) {
            error = "a tape without a label";
            return false;
        }
        t.label = o["label"].get<std::string>();
        std::string stateText = "pending";
        textField("state", stateText);
        if (why.empty() && !stateOf(stateText, t.state))
            why = "unknown state \"" + stateText + "\"";
        textField("reason", t.reason);
        textField("host", t.host);
        numberField("pid", t.pid);
        textField("started", t.started);
        textField("ended", t.ended);
        numberField("attempts", t.attempts);
        numberField("programs", t.programs);
        numberField("seconds", t.seconds);
        numberField("errorFrames", t.errorFrames);
        numberField("errorsLeft", t.errorsLeft);
        numberField("errorsRight", t.errorsRight);
        numberField("errorsAbs", t.errorsAbs);
        textField("folder", t.folder);
        if (o.contains("notes")) {
            if (!o["notes"].is_array())
                why = "\"notes\" is not a list";
            else
                for (const json& n : o["notes"])
                    if (n.is_string())
                        t.notes.push_back(n.get<std::string>());
        }
        if (!why.empty()) {
            error = "tape " + t.label + ": " + why;
            return false;
        }
        if (state.find(t.label) != nullptr) {
            error = "tape " + t.label + " is there twice";
            return false;
        }
        state.tapes.push_back(std::move(t));
    }
    return true;
}

bool readStateFile(const std::string& path, ShelfState& state, std::string& error)
{
    state = {};
    formats::OpenFailure failure;
    const int fd = formats::openRegularFile(path, O_RDONLY, failure);
    if (fd < 0) {
        if (failure.problem == formats::OpenProblem::NotFound)
            return true;
        error = path + ": " + failure.text();
        return false;
    }
    std::string text(kMaxStateBytes + 1, '\0');
    const std::size_t n =
        formats::preadAll(fd, reinterpret_cast<std::uint8_t*>(text.data()), text.size(), 0);
    ::close(fd);
    text.resize(std::min(n, kMaxStateBytes + 1));
    if (n > kMaxStateBytes) {
        error = path + ": larger than a shelf state can be";
        return false;
    }
    if (!fromJson(text, state, error)) {
        error = path + ": " + error + " (the file is left as it is: correct it or move it away)";
        return false;
    }
    return true;
}

bool writeFileAtomically(const std::string& path, std::string_view data, std::string& error)
{
    const std::filesystem::path target(path);
    const std::string folder = target.parent_path().empty() ? "." : target.parent_path().string();
    const std::string temp = folder + "/." + target.filename().string() + "." + hostName() + "." +
                             std::to_string(::getpid()) + ".tmp";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = systemError(temp);
        return false;
    }
    const bool written = formats::writeAll(fd, reinterpret_cast<const std::uint8_t*>(data.data()),
                                           data.size()) == data.size();
    if (!written || ::fsync(fd) != 0) {
        error = systemError(temp);
        ::close(fd);
        ::unlink(temp.c_str());
        return false;
    }
    if (::close(fd) != 0 || ::rename(temp.c_str(), path.c_str()) != 0) {
        error = systemError(path);
        ::unlink(temp.c_str());
        return false;
    }
    // The rename itself reaches the disk only with the folder.
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

ShelfLock::ShelfLock(const std::string& folder)
{
    const std::string path = folder + "/shelf.lock";
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        error_ = systemError(path);
        return;
    }
    while (::flock(fd_, LOCK_EX) != 0) {
        if (errno == EINTR)
            continue;
        error_ = systemError(path);
        ::close(fd_);
        fd_ = -1;
        return;
    }
}

ShelfLock::~ShelfLock()
{
    if (fd_ >= 0)
        ::close(fd_); // drops the lock
}

std::string hostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
        return "localhost";
    return name;
}

std::string utcNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

} // namespace tarnvel::shelf
