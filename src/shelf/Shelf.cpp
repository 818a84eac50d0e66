#include "shelf/Shelf.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <unistd.h>

namespace tarnvel::shelf {

namespace {

namespace fs = std::filesystem;

std::string claimDescription(const ClaimInfo& c)
{
    return c.host.empty() ? std::string("an unfinished claim")
                          : "host " + c.host + " process " + std::to_string(c.pid);
}

std::string hms(std::int64_t seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%02lldh%02lldm%02llds",
                  static_cast<long long>(seconds / 3600), static_cast<long long>(seconds / 60 % 60),
                  static_cast<long long>(seconds % 60));
    return text;
}

} // namespace

std::string moveAside(const std::string& folder, const std::string& kind, std::string& error)
{
    for (int n = 1; n < 100000; ++n) {
        const std::string to = folder + "." + kind + "-" + std::to_string(n);
        std::error_code ec;
        if (fs::exists(fs::symlink_status(to, ec)))
            continue;
        // rename() never replaces a folder that is not empty, and the name was free a moment
        // ago under the shelf's lock: nothing is overwritten.
        if (::rename(folder.c_str(), to.c_str()) != 0) {
            if (errno == EEXIST || errno == ENOTEMPTY)
                continue;
            error = "cannot move " + folder + " aside to " + to + ": " + std::strerror(errno);
            return {};
        }
        return fs::path(to).filename().string();
    }
    error = "cannot move " + folder + " aside: no free name";
    return {};
}

Shelf::Shelf(std::string folder, std::string host, std::int64_t pid)
    : folder_(std::move(folder)), host_(std::move(host)), pid_(pid < 0 ? ::getpid() : pid)
{
    while (folder_.size() > 1 && folder_.back() == '/')
        folder_.pop_back();
}

bool Shelf::open(std::string& error)
{
    std::error_code ec;
    if (!fs::is_directory(folder_, ec)) {
        error = folder_ + ": not a folder (a shelf is a folder holding shelf.txt)";
        return false;
    }
    return readShelfList(folder_ + "/shelf.txt", tapes_, error);
}

Shelf::Next Shelf::claimNext(Claim& claim, std::string& error)
{
    ShelfLock lock(folder_);
    if (!lock.held()) {
        error = lock.errorText();
        return Next::Failed;
    }
    ShelfState state;
    if (!readStateFile(statePath(), state, error))
        return Next::Failed;
    for (std::size_t i = 0; i < tapes_.size(); ++i) {
        const ShelfTape& tape = tapes_[i];
        const TapeRecord* rec = state.find(tape.label);
        const std::string file = claimPath(folder_, tape.label);
        if (rec != nullptr && (rec->state == TapeState::Done || rec->state == TapeState::Failed)) {
            // A claim left behind by a process that ended after recording the tape's end.
            ClaimInfo left;
            if (readClaim(file, left) && judgeClaim(left, host_, secondsNow()) != ClaimLife::Live)
                ::unlink(file.c_str());
            continue;
        }
        claim = {};
        if (claimOne(state, tape, static_cast<int>(i) + 1, claim, error))
            return Next::Claimed;
        if (!error.empty())
            return Next::Failed;
    }
    return Next::NoneLeft;
}

bool Shelf::claimOne(ShelfState& state, const ShelfTape& tape, int number, Claim& claim,
                     std::string& error)
{
    error.clear();
    const std::string file = claimPath(folder_, tape.label);
    ClaimInfo held;
    std::vector<std::string> notes;
    if (readClaim(file, held)) {
        const ClaimLife life = judgeClaim(held, host_, secondsNow());
        if (life == ClaimLife::Live)
            return false;
        notes.push_back(
            utcNow() + " taken over from " + claimDescription(held) +
            (life == ClaimLife::ProcessGone
                 ? ": its process is gone"
                 : ": not renewed for " + std::to_string(kClaimStaleSeconds / 60) + " minutes"));
        if (::unlink(file.c_str()) != 0 && errno != ENOENT) {
            error = file + ": " + std::strerror(errno);
            return false;
        }
    }
    ClaimInfo own{host_, pid_, secondsNow()};
    if (!createClaim(file, own, error))
        return false; // another process was quicker (error empty), or the folder refused
    const std::string output = outputFolder(tape.label);
    std::error_code ec;
    if (fs::exists(fs::symlink_status(output, ec))) {
        const std::string aside = moveAside(output, "incomplete", error);
        if (aside.empty()) {
            ::unlink(file.c_str());
            return false;
        }
        notes.push_back(utcNow() + " output of an unfinished attempt kept in " + aside);
    }
    TapeRecord* rec = state.find(tape.label);
    if (rec == nullptr) {
        state.tapes.push_back({});
        rec = &state.tapes.back();
        rec->label = tape.label;
    }
    rec->state = TapeState::Claimed;
    rec->reason.clear();
    rec->host = host_;
    rec->pid = pid_;
    rec->started = utcNow();
    rec->ended.clear();
    rec->attempts += 1;
    rec->notes.insert(rec->notes.end(), notes.begin(), notes.end());
    if (!writeFileAtomically(statePath(), toJson(state), error)) {
        ::unlink(file.c_str());
        return false;
    }
    claim.tape = tape;
    claim.number = number;
    claim.notes = std::move(notes);
    claim.info = own;
    claim.file = file;
    return true;
}

bool Shelf::finish(const Claim& claim, const TapeOutcome& outcome, std::string& error)
{
    ShelfLock lock(folder_);
    if (!lock.held()) {
        error = lock.errorText();
        return false;
    }
    ClaimInfo current;
    if (!readClaim(claim.file, current) || !current.sameOwner(claim.info)) {
        error = "the claim on " + claim.tape.label + " was taken over by " +
                claimDescription(current) + ": its state is theirs to record";
        return false;
    }
    ShelfState state;
    if (!readStateFile(statePath(), state, error))
        return false;
    TapeRecord* rec = state.find(claim.tape.label);
    if (rec == nullptr) {
        state.tapes.push_back({});
        rec = &state.tapes.back();
        rec->label = claim.tape.label;
    }
    rec->state = outcome.done ? TapeState::Done : TapeState::Failed;
    rec->reason = outcome.done ? std::string() : outcome.reason;
    rec->host = claim.info.host;
    rec->pid = claim.info.pid;
    rec->ended = utcNow();
    rec->programs = outcome.programs;
    rec->seconds = outcome.seconds;
    rec->errorFrames = outcome.errorFrames;
    rec->errorsLeft = outcome.errorsLeft;
    rec->errorsRight = outcome.errorsRight;
    rec->errorsAbs = outcome.errorsAbs;
    rec->folder = outcome.done ? claim.tape.label : std::string();
    if (!writeFileAtomically(statePath(), toJson(state), error))
        return false;
    ::unlink(claim.file.c_str());
    return true;
}

bool Shelf::release(const Claim& claim, const std::string& reason, std::string& error)
{
    ShelfLock lock(folder_);
    if (!lock.held()) {
        error = lock.errorText();
        return false;
    }
    ClaimInfo current;
    if (!readClaim(claim.file, current) || !current.sameOwner(claim.info))
        return true; // someone else's now
    ShelfState state;
    if (!readStateFile(statePath(), state, error))
        return false;
    if (TapeRecord* rec = state.find(claim.tape.label)) {
        rec->state = TapeState::Pending;
        rec->reason = reason;
        rec->ended = utcNow();
    }
    if (!writeFileAtomically(statePath(), toJson(state), error))
        return false;
    ::unlink(claim.file.c_str());
    return true;
}

bool Shelf::redo(const std::string& label, std::string& error)
{
    bool listed = false;
    for (const ShelfTape& t : tapes_)
        listed = listed || t.label == label;
    if (!listed) {
        error = "--redo " + label + ": the shelf lists no such tape";
        return false;
    }
    ShelfLock lock(folder_);
    if (!lock.held()) {
        error = lock.errorText();
        return false;
    }
    const std::string file = claimPath(folder_, label);
    ClaimInfo held;
    if (readClaim(file, held)) {
        if (judgeClaim(held, host_, secondsNow()) == ClaimLife::Live) {
            error = "--redo " + label + ": the tape is being archived by " + claimDescription(held);
            return false;
        }
        ::unlink(file.c_str());
    }
    ShelfState state;
    if (!readStateFile(statePath(), state, error))
        return false;
    TapeRecord* rec = state.find(label);
    if (rec == nullptr) {
        state.tapes.push_back({});
        rec = &state.tapes.back();
        rec->label = label;
    }
    const std::string output = outputFolder(label);
    std::error_code ec;
    std::string note = utcNow() + " to be done again on request";
    if (fs::exists(fs::symlink_status(output, ec))) {
        const std::string aside = moveAside(output, "previous", error);
        if (aside.empty())
            return false;
        note += "; the earlier archive kept in " + aside;
    }
    rec->state = TapeState::Pending;
    rec->reason.clear();
    rec->folder.clear();
    rec->notes.push_back(note);
    return writeFileAtomically(statePath(), toJson(state), error);
}

bool Shelf::readState(ShelfState& state, std::string& error) const
{
    ShelfState stored;
    {
        ShelfLock lock(folder_);
        if (!lock.held()) {
            error = lock.errorText();
            return false;
        }
        if (!readStateFile(statePath(), stored, error))
            return false;
    }
    state = {};
    for (const ShelfTape& t : tapes_) {
        if (const TapeRecord* rec = stored.find(t.label)) {
            state.tapes.push_back(*rec);
            // A claimed tape whose run has stopped is said to be so: it waits for a run to
            // take it over.
            ClaimInfo held;
            if (rec->state == TapeState::Claimed &&
                (!readClaim(claimPath(folder_, t.label), held) ||
                 judgeClaim(held, host_, secondsNow()) != ClaimLife::Live))
                state.tapes.back().reason = "its run has stopped: the next run does it again";
        } else {
            state.tapes.push_back({});
            state.tapes.back().label = t.label;
        }
    }
    return true;
}

ShelfTotals totalsOf(const ShelfState& state)
{
    ShelfTotals t;
    for (const TapeRecord& r : state.tapes) {
        ++t.tapes;
        if (r.state == TapeState::Done) {
            ++t.done;
            t.seconds += r.seconds;
            if (r.errorFrames > 0)
                ++t.withErrors;
        } else if (r.state == TapeState::Failed) {
            ++t.failed;
        } else {
            ++t.left;
        }
    }
    return t;
}

std::vector<std::string> statusLines(const ShelfState& state)
{
    std::vector<std::string> lines;
    std::size_t width = 5;
    for (const TapeRecord& r : state.tapes)
        width = std::max(width, r.label.size());
    for (const TapeRecord& r : state.tapes) {
        std::string line = r.label + std::string(width - r.label.size() + 2, ' ');
        std::string word = stateName(r.state);
        line += word + std::string(9 - word.size(), ' ');
        switch (r.state) {
        case TapeState::Done:
            line += std::to_string(r.programs) + (r.programs == 1 ? " file   " : " files  ") +
                    hms(r.seconds) + "  " + std::to_string(r.errorFrames) + " error frames";
            break;
        case TapeState::Failed:
            line += r.reason;
            break;
        case TapeState::Claimed:
            line += "by host " + r.host + " process " + std::to_string(r.pid) + " since " +
                    r.started + (r.reason.empty() ? "" : " (" + r.reason + ")");
            break;
        case TapeState::Pending:
            if (!r.reason.empty())
                line += "(" + r.reason + ")";
            break;
        }
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        lines.push_back(line);
    }
    const ShelfTotals t = totalsOf(state);
    char total[200];
    std::snprintf(total, sizeof total,
                  "%d tapes: %d done, %d failed, %d left; %.2f hours archived; %d %s with errors",
                  t.tapes, t.done, t.failed, t.left, static_cast<double>(t.seconds) / 3600.0,
                  t.withErrors, t.withErrors == 1 ? "tape" : "tapes");
    lines.emplace_back(total);
    return lines;
}

std::string statusJson(const ShelfState& state)
{
    using json = nlohmann::ordered_json;
    json doc = json::parse(toJson(state));
    const ShelfTotals t = totalsOf(state);
    doc["total"] = {{"tapes", t.tapes}, {"done", t.done},       {"failed", t.failed},
                    {"left", t.left},   {"seconds", t.seconds}, {"tapesWithErrors", t.withErrors}};
    return doc.dump(2) + "\n";
}

} // namespace tarnvel::shelf
