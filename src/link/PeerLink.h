#pragma once

#include "link/PeerFrameBlock.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

// The link between two running instances: each listens on a Unix-domain socket named after
// its title in the per-user runtime folder (mode 0600 in a 0700 folder); the playing instance
// connects to the other's socket and streams blocks, the recording instance answers with its
// state. Messages are an 8-byte header (kind, payload size; little-endian) and the payload.
// Both ends take only a peer of their own user (the kernel's credentials of the socket).
namespace tarnvel::link {

enum class MessageKind : std::uint32_t {
    Start = 0,  // payload: u32, 1 for duplication by image
    Block = 1,  // payload: one 5840-byte PeerFrameBlock
    Reply = 2,  // payload: u32 PeerState
    Raise = 3,  // no payload: a third start asks instance 2 to come to the front
    Reason = 4, // payload: text (at most kMaxReasonBytes), why the reply that follows refuses
};

inline constexpr std::uint32_t kMaxReasonBytes = 512;

// Empty when the process at the other end of the connected socket `fd` runs as this user;
// otherwise why it is not taken.
std::string checkPeerUser(int fd);

// The socket file of the instance with this title ("Tarnvel", "Tarnvel:2").
std::string socketPath(const std::string& runtimeFolder, const std::string& title);
// The title of the other instance: "Tarnvel:2" for "Tarnvel" and back.
std::string peerTitle(const std::string& title);

// The receiving side: this instance's socket. Its thread reads each message, checks it, and
// hands it over: start requests and raise requests to `Handler` on a thread of the caller's
// choice (through `post`), blocks to the recorder through takeBlock.
class PeerServer {
public:
    struct Handler {
        // A start request (duplication by image when `wholeFrames`); answer with reply().
        std::function<void(bool wholeFrames)> startRequested;
        // A third start wants this window in front.
        std::function<void()> raise;
        // The link ended by a fault of the other side (a malformed message, a lost
        // connection during a run): a user text.
        std::function<void(const std::string&)> failed;
        // Runs a handler call on the window thread.
        std::function<void(std::function<void()>)> post;
    };

    explicit PeerServer(Handler handler);
    ~PeerServer();
    PeerServer(const PeerServer&) = delete;
    PeerServer& operator=(const PeerServer&) = delete;

    // Creates the socket (a stale one left by a crashed instance is replaced; one that a live
    // instance answers on is refused) and starts the thread. False with `error`.
    bool listen(const std::string& runtimeFolder, const std::string& title, std::string& error);
    void close();

    // Any thread: the state reply to the connected sender (dropped when none is connected).
    void reply(PeerState state);
    // Any thread: refuses the start with a reason the sender can show.
    void refuse(const std::string& why);
    // Recording thread: asks for the next block (reply 3) and waits for it. False when the
    // run is to end: `stop` set, the sender gone, or a malformed block. A block of byte count 0
    // is the end of the stream and is returned (true) for the caller to see.
    bool takeBlock(PeerFrameBlock& block, const std::atomic<bool>& stop);
    // Blocks are checked against whole frames (duplication by image) or frame audio.
    void setWholeFrames(bool on) { wholeFrames_.store(on); }
    // Wakes a takeBlock that waits (the Stop button).
    void wake();
    bool connected() const { return clientFd_.load() >= 0; }
    // Why the last link ended by a fault of the other side (a malformed message); empty when
    // it was closed (the other instance stopped) or has not ended.
    std::string fault() const;

private:
    void run();
    void serve(int fd);
    void startRun(bool wholeFrames);

    Handler handler_;
    std::string path_;
    int listenFd_ = -1;
    int wakePipe_[2] = {-1, -1};
    std::atomic<int> clientFd_{-1};
    std::mutex writeMutex_;
    std::atomic<bool> wholeFrames_{false};
    std::thread thread_;

    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::optional<PeerFrameBlock> pending_;
    bool gone_ = false; // the sender closed the connection or broke the protocol
    std::string fault_; // why, when it broke the protocol
};

// The sending side: a connection to the other instance's socket.
class PeerClient {
public:
    PeerClient() = default;
    ~PeerClient();
    PeerClient(const PeerClient&) = delete;
    PeerClient& operator=(const PeerClient&) = delete;

    // True when the other instance answers on its socket (the dialog offers the peer
    // destinations only then).
    static bool peerRunning(const std::string& runtimeFolder, const std::string& title);
    // Asks the instance with `title` to come to the front (a third start).
    static bool sendRaise(const std::string& runtimeFolder, const std::string& title);

    // Connects and sends the start request; waits for the first reply, calling `pump`
    // between checks (the window thread keeps serving events). False when the other instance
    // refused, does not answer, is gone, or `cancelled` was set.
    bool start(const std::string& runtimeFolder, const std::string& title, bool wholeFrames,
               const std::function<void(int)>& pump);
    // Waits while the other instance prepares; true once it reports that it records.
    bool waitUntilStarted(const std::function<void(int)>& pump);
    // Playback thread: waits until the other instance asks for a block, then sends it. False
    // when it stopped, is gone, or cancel() was called.
    bool send(const PeerFrameBlock& block);
    // Any thread: a waiting start or send returns false.
    void cancel();
    // The end-of-stream block, waiting at most `waitMs` for the other side to take it; then
    // the connection is closed.
    void finish(int waitMs);
    PeerState state() const { return static_cast<PeerState>(state_.load()); }
    // Why the last start failed or the other instance refused, when known ("" otherwise).
    std::string problem() const;

private:
    void readReplies();
    void closeConnection();
    bool waitFor(const std::function<bool()>& done, int timeoutMs,
                 const std::function<void(int)>& pump);

    int fd_ = -1;
    std::atomic<std::uint32_t> state_{static_cast<std::uint32_t>(PeerState::Waiting)};
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> gone_{false};
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::string problem_; // under mutex_
    std::thread reader_;
};

} // namespace tarnvel::link
