#include "link/PeerLink.h"

#include "common/ByteOrder.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace tarnvel::link {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kHeaderBytes = 8;
// A peer that stops half-way through a message is given this long before the link ends.
constexpr int kMessageTimeoutMs = 5000;
// Connections other than the sender's (a probe, a raise request) get this long to speak.
constexpr int kTransientMs = 2000;
constexpr std::size_t kMaxTransient = 4;

bool makeAddress(const std::string& path, sockaddr_un& addr)
{
    addr = {};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path)
        return false;
    std::memcpy(addr.sun_path, path.data(), path.size());
    return true;
}

// Connects to the socket at `path`. With `problem`, only to a listener of this user: another
// user's is closed again and `problem` says why.
int connectTo(const std::string& path, std::string* problem = nullptr)
{
    sockaddr_un addr;
    if (!makeAddress(path, addr))
        return -1;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        const int e = errno;
        ::close(fd);
        errno = e;
        if (problem != nullptr)
            *problem = path + ": " + std::strerror(e);
        return -1;
    }
    if (problem != nullptr) {
        const std::string why = checkPeerUser(fd);
        if (!why.empty()) {
            ::close(fd);
            *problem = path + ": " + why;
            return -1;
        }
    }
    return fd;
}

bool writeAll(int fd, const std::uint8_t* p, std::size_t n)
{
    while (n > 0) {
        const ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

// Reads exactly n bytes: the first within `firstByteMs` (-1: no limit), the rest without a
// pause of kMessageTimeoutMs. 0 = fine, 1 = the other side closed before the first byte,
// -1 = an error, a time-out or a message cut short.
int readAll(int fd, std::uint8_t* p, std::size_t n, int firstByteMs)
{
    std::size_t done = 0;
    while (done < n) {
        pollfd pfd{fd, POLLIN, 0};
        const int r = ::poll(&pfd, 1, done == 0 ? firstByteMs : kMessageTimeoutMs);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return -1;
        const ssize_t got = ::recv(fd, p + done, n - done, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got == 0)
            return done == 0 ? 1 : -1;
        if (got < 0)
            return -1;
        done += static_cast<std::size_t>(got);
    }
    return 0;
}

// Header and payload in one call, without copying or allocating (blocks go out per frame).
bool sendMessage(int fd, MessageKind kind, const std::uint8_t* payload, std::uint32_t size)
{
    std::uint8_t header[kHeaderBytes];
    writeLe32(header, static_cast<std::uint32_t>(kind));
    writeLe32(header + 4, size);
    iovec parts[2] = {{header, kHeaderBytes}, {const_cast<std::uint8_t*>(payload), size}};
    msghdr m{};
    m.msg_iov = parts;
    m.msg_iovlen = size > 0 ? 2 : 1;
    ssize_t sent = 0;
    do
        sent = ::sendmsg(fd, &m, MSG_NOSIGNAL);
    while (sent < 0 && errno == EINTR);
    if (sent < 0)
        return false;
    const auto done = static_cast<std::size_t>(sent);
    if (done < kHeaderBytes)
        return writeAll(fd, header + done, kHeaderBytes - done) && writeAll(fd, payload, size);
    return writeAll(fd, payload + (done - kHeaderBytes), size - (done - kHeaderBytes));
}

// One message read and checked; false (with `error`, empty for a plain close) otherwise.
struct Message {
    MessageKind kind = MessageKind::Start;
    std::vector<std::uint8_t> payload;
};

bool readMessage(int fd, Message& m, std::string& error, int firstByteMs = kMessageTimeoutMs)
{
    std::array<std::uint8_t, kHeaderBytes> h{};
    const int r = readAll(fd, h.data(), h.size(), firstByteMs);
    if (r != 0) {
        error = r == 1 ? std::string{} : "a message was cut short";
        return false;
    }
    const std::uint32_t kind = readLe32(h.data());
    const std::uint32_t size = readLe32(h.data() + 4);
    std::uint32_t expected = 0;
    switch (static_cast<MessageKind>(kind)) {
    case MessageKind::Start:
    case MessageKind::Reply:
        expected = 4;
        break;
    case MessageKind::Block:
        expected = kPeerBlockBytes;
        break;
    case MessageKind::Raise:
        expected = 0;
        break;
    case MessageKind::Reason:
        expected = size <= kMaxReasonBytes ? size : kMaxReasonBytes;
        break;
    default:
        error = "an unknown message " + std::to_string(kind);
        return false;
    }
    if (size != expected) {
        error = "a message of " + std::to_string(size) + " bytes where " +
                std::to_string(expected) + " belong";
        return false;
    }
    m.kind = static_cast<MessageKind>(kind);
    m.payload.resize(size);
    if (size > 0 && readAll(fd, m.payload.data(), size, kMessageTimeoutMs) != 0) {
        error = "a message was cut short";
        return false;
    }
    return true;
}

} // namespace

std::string checkPeerUser(int fd)
{
    ucred cred{};
    socklen_t size = sizeof cred;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) != 0)
        return std::string("its user cannot be told: ") + std::strerror(errno);
    if (cred.uid != ::geteuid())
        return "it runs as another user (uid " + std::to_string(cred.uid) + ")";
    return {};
}

std::string socketPath(const std::string& runtimeFolder, const std::string& title)
{
    std::string folder = runtimeFolder;
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    return folder + title + ".sock";
}

std::string peerTitle(const std::string& title)
{
    const std::string suffix = ":2";
    if (title.size() > suffix.size() && title.compare(title.size() - 2, 2, suffix) == 0)
        return title.substr(0, title.size() - 2);
    return title + suffix;
}

// --- Receiving side ----------------------------------------------------------------------

PeerServer::PeerServer(Handler handler) : handler_(std::move(handler)) {}

PeerServer::~PeerServer()
{
    close();
}

bool PeerServer::listen(const std::string& runtimeFolder, const std::string& title,
                        std::string& error)
{
    path_ = socketPath(runtimeFolder, title);
    sockaddr_un addr;
    if (!makeAddress(path_, addr)) {
        error = path_ + ": the path is too long for a socket";
        return false;
    }
    struct stat st {};
    if (::lstat(path_.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            error = path_ + ": exists and is not a socket";
            return false;
        }
        const int probe = connectTo(path_);
        if (probe >= 0) {
            ::close(probe);
            error = path_ + ": another instance answers on it";
            return false;
        }
        ::unlink(path_.c_str()); // left by an instance that ended without removing it
    }
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::chmod(path_.c_str(), 0600) != 0 || ::listen(listenFd_, 4) != 0 ||
        ::pipe2(wakePipe_, O_CLOEXEC) != 0) {
        error = path_ + ": " + std::strerror(errno);
        close();
        return false;
    }
    thread_ = std::thread([this] { run(); });
    return true;
}

void PeerServer::close()
{
    if (wakePipe_[1] >= 0) {
        const char c = 'q';
        (void)!::write(wakePipe_[1], &c, 1);
    }
    if (thread_.joinable())
        thread_.join();
    for (int* fd : {&listenFd_, &wakePipe_[0], &wakePipe_[1]}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    if (!path_.empty()) {
        ::unlink(path_.c_str());
        path_.clear();
    }
    wake();
}

void PeerServer::reply(PeerState state)
{
    std::lock_guard lock(writeMutex_);
    const int fd = clientFd_.load();
    if (fd < 0)
        return;
    std::uint8_t p[4];
    writeLe32(p, static_cast<std::uint32_t>(state));
    sendMessage(fd, MessageKind::Reply, p, 4);
}

void PeerServer::refuse(const std::string& why)
{
    std::lock_guard lock(writeMutex_);
    const int fd = clientFd_.load();
    if (fd < 0)
        return;
    const std::uint32_t n =
        static_cast<std::uint32_t>(std::min<std::size_t>(why.size(), kMaxReasonBytes));
    if (n > 0)
        sendMessage(fd, MessageKind::Reason, reinterpret_cast<const std::uint8_t*>(why.data()), n);
    std::uint8_t p[4];
    writeLe32(p, static_cast<std::uint32_t>(PeerState::Refused));
    sendMessage(fd, MessageKind::Reply, p, 4);
}

std::string PeerServer::fault() const
{
    std::lock_guard lock(mutex_);
    return fault_;
}

void PeerServer::wake()
{
    std::lock_guard lock(mutex_);
    arrived_.notify_all();
}

bool PeerServer::takeBlock(PeerFrameBlock& block, const std::atomic<bool>& stop)
{
    {
        std::lock_guard lock(mutex_);
        pending_.reset();
    }
    reply(PeerState::ReadyForBlock);
    std::unique_lock lock(mutex_);
    while (!pending_ && !gone_ && !stop.load())
        arrived_.wait_for(lock, std::chrono::milliseconds(20));
    if (!pending_)
        return false;
    block = *pending_;
    pending_.reset();
    return true;
}

void PeerServer::run()
{
    struct Transient {
        int fd;
        Clock::time_point deadline;
    };
    std::vector<Transient> transient;
    for (;;) {
        std::vector<pollfd> fds{{wakePipe_[0], POLLIN, 0}, {listenFd_, POLLIN, 0}};
        const int client = clientFd_.load();
        if (client >= 0)
            fds.push_back({client, POLLIN, 0});
        for (const Transient& t : transient)
            fds.push_back({t.fd, POLLIN, 0});
        const int r = ::poll(fds.data(), fds.size(), 200);
        if (r < 0 && errno != EINTR)
            break;
        if (fds[0].revents != 0)
            break;
        std::size_t next = 2;
        if (client >= 0) {
            if (fds[next].revents != 0)
                serve(client);
            ++next;
        }
        // A new connection says what it is with its first message: a start request makes it
        // the sender (one at a time), a raise request or a probe is closed after it.
        std::size_t polled = fds.size() - next; // connections accepted below wait a turn
        for (std::size_t i = 0; i < polled;) {
            const pollfd& p = fds[next + i];
            bool done = Clock::now() > transient[i].deadline;
            bool keep = false;
            if (!done && p.revents != 0) {
                done = true;
                Message m;
                std::string error;
                const int fd = transient[i].fd;
                if (readMessage(fd, m, error)) {
                    if (m.kind == MessageKind::Raise) {
                        if (handler_.raise && handler_.post)
                            handler_.post(handler_.raise);
                    } else if (m.kind == MessageKind::Start && clientFd_.load() < 0) {
                        clientFd_.store(fd);
                        keep = true;
                        startRun(readLe32(m.payload.data()) != 0);
                    } else if (m.kind == MessageKind::Start) {
                        std::uint8_t refused[4] = {0, 0, 0, 0};
                        sendMessage(fd, MessageKind::Reply, refused, 4); // busy with a copy
                    }
                }
            }
            if (done) {
                if (!keep)
                    ::close(transient[i].fd);
                transient.erase(transient.begin() + static_cast<std::ptrdiff_t>(i));
                fds.erase(fds.begin() + static_cast<std::ptrdiff_t>(next + i));
                --polled;
            } else {
                ++i;
            }
        }
        if (fds[1].revents & POLLIN) {
            const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            // Another user's process never gets a word in (nor the tape's audio).
            if (fd >= 0 && !checkPeerUser(fd).empty())
                ::close(fd);
            else if (fd >= 0 && transient.size() < kMaxTransient)
                transient.push_back({fd, Clock::now() + std::chrono::milliseconds(kTransientMs)});
            else if (fd >= 0)
                ::close(fd);
        }
    }
    for (const Transient& t : transient)
        ::close(t.fd);
    // Under the write lock: a reply on another thread may be using the descriptor.
    std::lock_guard lock(writeMutex_);
    const int fd = clientFd_.exchange(-1);
    if (fd >= 0)
        ::close(fd);
}

void PeerServer::startRun(bool wholeFrames)
{
    wholeFrames_.store(wholeFrames);
    {
        std::lock_guard lock(mutex_);
        gone_ = false;
        fault_.clear();
        pending_.reset();
    }
    if (handler_.startRequested && handler_.post)
        handler_.post([this, wholeFrames] { handler_.startRequested(wholeFrames); });
    else
        reply(PeerState::Refused);
}

void PeerServer::serve(int fd)
{
    Message m;
    std::string error;
    auto endLink = [&](const std::string& why) {
        {
            std::lock_guard lock(writeMutex_);
            clientFd_.store(-1);
            ::close(fd);
        }
        // Said before the recorder hears of it, so that its end can show the reason.
        if (!why.empty() && handler_.failed && handler_.post)
            handler_.post([this, why] { handler_.failed(why); });
        std::lock_guard lock(mutex_);
        gone_ = true;
        fault_ = why;
        arrived_.notify_all();
    };
    if (!readMessage(fd, m, error)) {
        endLink(error.empty() ? std::string{}
                              : "The other instance sent " + error + "; the link was ended.");
        return;
    }
    switch (m.kind) {
    case MessageKind::Start:
        startRun(readLe32(m.payload.data()) != 0);
        break;
    case MessageKind::Block: {
        PeerFrameBlock block;
        if (!decodePeerBlock(m.payload.data(), m.payload.size(), wholeFrames_.load(), block,
                             error)) {
            endLink("The other instance sent a malformed block (" + error +
                    "); the copy was ended.");
            return;
        }
        std::lock_guard lock(mutex_);
        pending_ = block;
        arrived_.notify_all();
        break;
    }
    case MessageKind::Raise:
        if (handler_.raise && handler_.post)
            handler_.post(handler_.raise);
        break;
    case MessageKind::Reply:
    case MessageKind::Reason:
        endLink("The other instance sent a reply where a block belongs; the link was ended.");
        break;
    }
}

// --- Sending side --------------------------------------------------------------------------

PeerClient::~PeerClient()
{
    closeConnection();
}

bool PeerClient::peerRunning(const std::string& runtimeFolder, const std::string& title)
{
    std::string problem;
    const int fd = connectTo(socketPath(runtimeFolder, title), &problem);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

bool PeerClient::sendRaise(const std::string& runtimeFolder, const std::string& title)
{
    std::string problem;
    const int fd = connectTo(socketPath(runtimeFolder, title), &problem);
    if (fd < 0)
        return false;
    const bool ok = sendMessage(fd, MessageKind::Raise, nullptr, 0);
    ::close(fd);
    return ok;
}

bool PeerClient::waitFor(const std::function<bool()>& done, int timeoutMs,
                         const std::function<void(int)>& pump)
{
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (timeoutMs >= 0 && Clock::now() >= until)
            return false;
        if (pump) {
            pump(5);
        } else {
            std::unique_lock lock(mutex_);
            changed_.wait_for(lock, std::chrono::milliseconds(5));
        }
    }
    return true;
}

bool PeerClient::start(const std::string& runtimeFolder, const std::string& title, bool wholeFrames,
                       const std::function<void(int)>& pump)
{
    closeConnection();
    cancelled_ = false;
    gone_ = false;
    state_ = static_cast<std::uint32_t>(PeerState::Waiting);
    std::string problem;
    fd_ = connectTo(socketPath(runtimeFolder, title), &problem);
    {
        std::lock_guard lock(mutex_);
        problem_ = problem;
    }
    if (fd_ < 0)
        return false;
    reader_ = std::thread([this] { readReplies(); });
    std::uint8_t p[4];
    writeLe32(p, wholeFrames ? 1 : 0);
    if (!sendMessage(fd_, MessageKind::Start, p, 4))
        return false;
    // An instance that never answers is given half a minute.
    waitFor([&] { return state() != PeerState::Waiting || gone_ || cancelled_; }, 30000, pump);
    return state() != PeerState::Waiting && state() != PeerState::Refused && !gone_ && !cancelled_;
}

bool PeerClient::waitUntilStarted(const std::function<void(int)>& pump)
{
    waitFor([&] { return state() != PeerState::Preparing || gone_ || cancelled_; }, -1, pump);
    // The first request for a block may follow "started" before this thread looks.
    const PeerState s = state();
    return (s == PeerState::Started || s == PeerState::ReadyForBlock) && !gone_ && !cancelled_;
}

bool PeerClient::send(const PeerFrameBlock& block)
{
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] {
            const PeerState s = state();
            return s == PeerState::ReadyForBlock || s == PeerState::Stopped || gone_ || cancelled_;
        });
    }
    if (state() == PeerState::Stopped || gone_ || cancelled_)
        return false;
    state_ = static_cast<std::uint32_t>(PeerState::Waiting);
    std::array<std::uint8_t, kPeerBlockBytes> bytes{};
    encodePeerBlock(block, bytes.data());
    if (!sendMessage(fd_, MessageKind::Block, bytes.data(), kPeerBlockBytes)) {
        gone_ = true;
        return false;
    }
    return true;
}

std::string PeerClient::problem() const
{
    std::lock_guard lock(mutex_);
    return problem_;
}

void PeerClient::cancel()
{
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    changed_.notify_all();
}

void PeerClient::finish(int waitMs)
{
    if (fd_ < 0)
        return;
    // The end block goes out even after Stop: the other instance must not record on, waiting.
    waitFor(
        [&] {
            const PeerState s = state();
            return s == PeerState::ReadyForBlock || s == PeerState::Stopped || gone_;
        },
        waitMs, {});
    if (!gone_ && state() != PeerState::Stopped) {
        PeerFrameBlock end; // byte count 0
        std::array<std::uint8_t, kPeerBlockBytes> bytes{};
        encodePeerBlock(end, bytes.data());
        sendMessage(fd_, MessageKind::Block, bytes.data(), kPeerBlockBytes);
    }
    closeConnection();
}

void PeerClient::readReplies()
{
    for (;;) {
        Message m;
        std::string error;
        if (!readMessage(fd_, m, error, -1))
            break;
        std::lock_guard lock(mutex_);
        if (m.kind == MessageKind::Reason) {
            problem_.assign(m.payload.begin(), m.payload.end());
            continue;
        }
        if (m.kind != MessageKind::Reply)
            break;
        state_ = readLe32(m.payload.data());
        changed_.notify_all();
    }
    std::lock_guard lock(mutex_);
    gone_ = true;
    changed_.notify_all();
}

void PeerClient::closeConnection()
{
    if (fd_ >= 0)
        ::shutdown(fd_, SHUT_RDWR);
    if (reader_.joinable())
        reader_.join();
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

} // namespace tarnvel::link
