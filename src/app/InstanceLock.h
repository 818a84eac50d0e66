#pragma once

#include <string>

namespace tarnvel::app {

// What a starting process learns from the two instance locks.
enum class InstanceClaim {
    First,     // holds "qor_tv_mutex": instance 1
    Second,    // "qor_tv_mutex" was taken, holds "qor_tv_mutex2": instance 2
    BothTaken, // two instances run: ask instance 2 to come to the front, then exit
    Failed,    // the locks could not be used (see the error text)
};

inline constexpr const char* kFirstInstanceLock = "qor_tv_mutex";
inline constexpr const char* kSecondInstanceLock = "qor_tv_mutex2";

// The per-user folder of the instance locks and sockets: `$XDG_RUNTIME_DIR/tarnvel/`, or
// `/tmp/tarnvel-<uid>/` when XDG_RUNTIME_DIR is unset or not absolute. Ends with "/".
std::string runtimeFolderPath(const char* xdgRuntimeDir, unsigned uid);
std::string runtimeFolderPath(); // from the environment

// Creates the folder with mode 0700 when it is missing. An existing folder must be a real
// directory (not a link) owned by this user; group and other permissions are removed.
// Returns false with a describable error text otherwise.
bool prepareRuntimeFolder(const std::string& folder, std::string& error);

// Which of at most two running instances this process is, held with flock on a lock file
// per instance. The kernel drops the lock when the process ends in any way, crash
// included, so a stale file never blocks a start. Move-only; releases on destruction.
class InstanceLock {
public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(InstanceLock&& other) noexcept;
    InstanceLock& operator=(InstanceLock&& other) noexcept;
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Takes the first lock if it is free, else the second. `folder` must exist (see
    // prepareRuntimeFolder). On Failed, `error` names the file and the reason.
    InstanceClaim claim(const std::string& folder, std::string& error);

    // 1 or 2 while a lock is held, 0 otherwise.
    int instance() const { return instance_; }
    void release();

private:
    int fd_ = -1;
    int instance_ = 0;
};

// The process start: prepares the runtime folder of the environment and claims a lock.
// On Failed the caller reports `error` (the folder or the lock file is unusable).
InstanceClaim claimInstance(InstanceLock& lock, std::string& error);

} // namespace tarnvel::app
