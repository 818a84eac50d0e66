#include "shelf/ShelfClaim.h"

#include "formats/PosixIo.h"
#include "shelf/ShelfState.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnvel::shelf {

namespace {

std::string claimText(const ClaimInfo& c)
{
    return "host " + c.host + "\npid " + std::to_string(c.pid) + "\nrenewed " +
           std::to_string(c.renewed) + "\n";
}

} // namespace

std::string claimPath(const std::string& folder, const std::string& label)
{
    return folder + "/" + label + ".claim";
}

bool createClaim(const std::string& path, const ClaimInfo& claim, std::string& error)
{
    error.clear();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (errno != EEXIST)
            error = path + ": " + std::strerror(errno);
        return false;
    }
    const std::string text = claimText(claim);
    const bool ok = formats::writeAll(fd, reinterpret_cast<const std::uint8_t*>(text.data()),
                                      text.size()) == text.size() &&
                    ::fsync(fd) == 0;
    ::close(fd);
    if (!ok) {
        error = path + ": " + std::strerror(errno);
        ::unlink(path.c_str());
    }
    return ok;
}

bool readClaim(const std::string& path, ClaimInfo& claim)
{
    claim = {};
    formats::OpenFailure failure;
    const int fd = formats::openRegularFile(path, O_RDONLY, failure);
    if (fd < 0)
        return false;
    char buffer[1024];
    const std::size_t n =
        formats::preadAll(fd, reinterpret_cast<std::uint8_t*>(buffer), sizeof buffer, 0);
    struct stat st {};
    const bool stated = ::fstat(fd, &st) == 0;
    ::close(fd);
    std::istringstream in(std::string(buffer, n));
    std::string key;
    bool whole = false;
    ClaimInfo c;
    if (in >> key && key == "host" && in >> c.host && in >> key && key == "pid" && in >> c.pid &&
        in >> key && key == "renewed" && in >> c.renewed)
        whole = true;
    if (whole) {
        claim = c;
    } else {
        claim.renewed = stated ? st.st_mtime : 0;
    }
    return true;
}

bool renewClaim(const std::string& path, const ClaimInfo& own, std::int64_t now)
{
    // Under the shelf's lock, as take-overs are: a renewal never lands on a claim that was
    // just taken over.
    const std::string folder = std::filesystem::path(path).parent_path().string();
    ShelfLock lock(folder.empty() ? "." : folder);
    if (!lock.held())
        return true; // the folder is unreachable for now: the claim stands as it was
    ClaimInfo current;
    if (!readClaim(path, current) || !current.sameOwner(own))
        return false;
    ClaimInfo renewed = own;
    renewed.renewed = now;
    std::string error;
    // Replaced whole: a reader never sees half a claim.
    return writeFileAtomically(path, claimText(renewed), error);
}

bool processRuns(std::int64_t pid)
{
    if (pid <= 0)
        return false;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

ClaimLife judgeClaim(const ClaimInfo& claim, const std::string& thisHost, std::int64_t now)
{
    if (claim.host == thisHost && claim.pid > 0 && !processRuns(claim.pid))
        return ClaimLife::ProcessGone;
    // A claim without an owner (its process died between creating and writing it) is judged
    // by its file's age alone, like one of another machine.
    if (claim.renewed + kClaimStaleSeconds <= now)
        return ClaimLife::NotRenewed;
    return ClaimLife::Live;
}

std::int64_t secondsNow()
{
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

ClaimRenewer::ClaimRenewer(std::string path, ClaimInfo own, int intervalSeconds)
    : path_(std::move(path)), own_(std::move(own)), interval_(intervalSeconds),
      thread_([this] { run(); })
{
}

ClaimRenewer::~ClaimRenewer()
{
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void ClaimRenewer::run()
{
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, std::chrono::seconds(interval_), [this] { return stop_; })) {
        lock.unlock();
        if (!renewClaim(path_, own_, secondsNow()))
            lost_.store(true);
        lock.lock();
    }
}

} // namespace tarnvel::shelf
