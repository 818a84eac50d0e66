#include "link/PeerLink.h"

#include "support/TempDir.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tarnvel::link {
namespace {

using namespace std::chrono_literals;

// A receiving instance whose window thread is the server's own thread (the handlers run at
// once); it answers a start request with "preparing", then "started".
class Receiver {
public:
    explicit Receiver(const std::string& folder, const std::string& title = "Tarnvel:2")
        : server_(handler())
    {
        std::string error;
        listening = server_.listen(folder, title, error);
        EXPECT_TRUE(listening) << error;
    }
    PeerServer& server() { return server_; }
    std::atomic<int> starts{0};
    std::atomic<int> raises{0};
    std::atomic<bool> refuse{false};
    std::vector<std::string> failures;
    std::mutex failMutex;
    bool listening = false;

private:
    PeerServer::Handler handler()
    {
        PeerServer::Handler h;
        h.post = [](std::function<void()> fn) { fn(); };
        h.startRequested = [this](bool) {
            ++starts;
            if (refuse) {
                server_.reply(PeerState::Refused);
                return;
            }
            server_.reply(PeerState::Preparing);
            server_.reply(PeerState::Started);
        };
        h.raise = [this] { ++raises; };
        h.failed = [this](const std::string& why) {
            std::lock_guard lock(failMutex);
            failures.push_back(why);
        };
        return h;
    }
    PeerServer server_;
};

PeerFrameBlock audioBlock(std::uint32_t n)
{
    PeerFrameBlock b;
    b.byteCount = 5760;
    b.payload[0] = static_cast<std::uint8_t>(n);
    b.idChange = n == 0 ? 1 : 0;
    return b;
}

TEST(PeerLink, BlocksReachTheRecorderInOrderAndTheEndBlockEndsTheStream)
{
    tarnvel::test::TempDir dir;
    Receiver r(dir.path().string());
    ASSERT_TRUE(PeerClient::peerRunning(dir.path().string(), "Tarnvel:2"));
    struct stat st {};
    ASSERT_EQ(::stat(socketPath(dir.path().string(), "Tarnvel:2").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    PeerClient c;
    ASSERT_TRUE(c.start(dir.path().string(), "Tarnvel:2", false, {}));
    ASSERT_TRUE(c.waitUntilStarted({}));
    // The recorder asks for each block once its recording has started.
    std::atomic<bool> stop{false};
    std::vector<int> got;
    bool ended = false;
    std::thread recorder([&] {
        PeerFrameBlock b;
        while (r.server().takeBlock(b, stop)) {
            if (b.byteCount == 0) {
                ended = true;
                break;
            }
            got.push_back(b.payload[0]);
        }
    });
    for (std::uint32_t i = 0; i < 50; ++i)
        ASSERT_TRUE(c.send(audioBlock(i)));
    c.finish(2000);
    recorder.join();
    EXPECT_TRUE(ended);
    ASSERT_EQ(got.size(), 50u);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(got[static_cast<std::size_t>(i)], i);
    EXPECT_EQ(r.starts.load(), 1);
}

TEST(PeerLink, ARefusalAGoneReceiverAndStopAllEndTheSenderWithoutHanging)
{
    tarnvel::test::TempDir dir;
    const std::string folder = dir.path().string();
    {
        Receiver r(folder);
        r.refuse = true;
        PeerClient c;
        EXPECT_FALSE(c.start(folder, "Tarnvel:2", false, {}));
        EXPECT_EQ(c.state(), PeerState::Refused);
    }
    // Nobody answers at all.
    PeerClient none;
    EXPECT_FALSE(none.start(folder, "Tarnvel:2", false, {}));

    // The receiving process goes away in the middle of a copy.
    auto r = std::make_unique<Receiver>(folder);
    PeerClient c;
    ASSERT_TRUE(c.start(folder, "Tarnvel:2", false, {}));
    ASSERT_TRUE(c.waitUntilStarted({}));
    std::atomic<bool> stop{false};
    std::thread recorder([&] {
        PeerFrameBlock b;
        for (int i = 0; i < 5 && r->server().takeBlock(b, stop); ++i) {
        }
    });
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(c.send(audioBlock(static_cast<std::uint32_t>(i))));
    recorder.join();
    r.reset(); // the socket closes
    const auto t0 = std::chrono::steady_clock::now();
    bool sent = true;
    for (int i = 0; i < 3 && sent; ++i)
        sent = c.send(audioBlock(9));
    EXPECT_FALSE(sent);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 5s);
    c.finish(200);

    // Stop while the sender waits for the next request.
    Receiver quiet(folder);
    PeerClient waiting;
    ASSERT_TRUE(waiting.start(folder, "Tarnvel:2", false, {}));
    std::thread stopper([&] {
        std::this_thread::sleep_for(100ms);
        waiting.cancel();
    });
    EXPECT_FALSE(waiting.send(audioBlock(1))); // no recorder asks: only Stop ends the wait
    stopper.join();
}

TEST(PeerLink, AMalformedBlockEndsTheLinkWithAReason)
{
    tarnvel::test::TempDir dir;
    const std::string folder = dir.path().string();
    Receiver r(folder);
    PeerClient c;
    ASSERT_TRUE(c.start(folder, "Tarnvel:2", false, {}));
    std::atomic<bool> stop{false};
    std::atomic<bool> took{true};
    std::thread recorder([&] {
        PeerFrameBlock b;
        took = r.server().takeBlock(b, stop);
    });
    PeerFrameBlock bad = audioBlock(1);
    bad.byteCount = 5822; // a whole frame where audio was agreed
    bad.rate = 48000;
    EXPECT_TRUE(c.send(bad)); // the sender cannot know
    recorder.join();
    EXPECT_FALSE(took.load());
    std::lock_guard lock(r.failMutex);
    ASSERT_EQ(r.failures.size(), 1u);
    EXPECT_NE(r.failures[0].find("malformed block"), std::string::npos) << r.failures[0];
}

// Runs `body` in a child process as the user nobody; its result is the child's exit code.
template <typename Body> pid_t asNobody(Body body)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(99);
        ::_exit(body());
    }
    return pid;
}

int exitCodeOf(pid_t pid)
{
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Another user who reaches the socket (a folder or socket made reachable by mistake) gets
// nothing from either end: the receiver closes on it, the sender does not stream to it.
TEST(PeerLink, AnotherUsersProcessIsRefusedAtBothEnds)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    tarnvel::test::TempDir dir;
    const std::string folder = dir.path().string();
    ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
    {
        Receiver r(folder);
        const std::string path = socketPath(folder, "Tarnvel:2");
        ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
        // 0: the receiver closed the connection without a reply.
        const pid_t child = asNobody([&] {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un addr{};
            addr.sun_family = AF_UNIX;
            std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
            if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
                return 2;
            const std::uint8_t start[12] = {0, 0, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0};
            if (::send(fd, start, sizeof start, MSG_NOSIGNAL) != sizeof start)
                return 0; // already closed
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 5000) != 1)
                return 3;
            std::uint8_t reply[12];
            return ::recv(fd, reply, sizeof reply, 0) <= 0 ? 0 : 1;
        });
        EXPECT_EQ(exitCodeOf(child), 0);
        EXPECT_EQ(r.starts.load(), 0);
    }
    // A listener of another user where the other instance's socket belongs.
    const std::string path = socketPath(folder, "Tarnvel:2");
    const pid_t listener = asNobody([&] {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(fd, 1) != 0)
            return 2;
        const int c = ::accept(fd, nullptr, nullptr);
        const std::uint8_t started[12] = {2, 0, 0, 0, 4, 0, 0, 0, 2, 0, 0, 0};
        (void)!::send(c, started, sizeof started, MSG_NOSIGNAL);
        ::pause();
        return 0;
    });
    for (int i = 0; i < 500 && ::access(path.c_str(), F_OK) != 0; ++i)
        std::this_thread::sleep_for(10ms);
    PeerClient c;
    EXPECT_FALSE(PeerClient::peerRunning(folder, "Tarnvel:2"));
    EXPECT_FALSE(c.start(folder, "Tarnvel:2", false, {}));
    EXPECT_NE(c.problem().find("another user"), std::string::npos) << c.problem();
    ::kill(listener, SIGKILL);
    exitCodeOf(listener);
}

// A refusal can say why; the sender keeps the reason for its message.
TEST(PeerLink, ARefusalCarriesItsReason)
{
    tarnvel::test::TempDir dir;
    const std::string folder = dir.path().string();
    PeerServer* server = nullptr;
    PeerServer::Handler h;
    h.post = [](std::function<void()> fn) { fn(); };
    h.startRequested = [&](bool) {
        server->reply(PeerState::Preparing);
        server->refuse("Tarnvel:2: the tape has no lead-in.");
    };
    PeerServer s(h);
    server = &s;
    std::string error;
    ASSERT_TRUE(s.listen(folder, "Tarnvel:2", error)) << error;
    PeerClient c;
    if (c.start(folder, "Tarnvel:2", false, {})) {
        EXPECT_FALSE(c.waitUntilStarted({}));
    }
    EXPECT_EQ(c.state(), PeerState::Refused);
    EXPECT_EQ(c.problem(), "Tarnvel:2: the tape has no lead-in.");
}

TEST(PeerLink, AStaleSocketIsReplacedALiveOneRefusedAndARaiseArrives)
{
    tarnvel::test::TempDir dir;
    const std::string folder = dir.path().string();
    const std::string path = socketPath(folder, "Tarnvel");
    {
        // A socket left behind by an instance that crashed.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ::close(fd);
    }
    Receiver first(folder, "Tarnvel");
    EXPECT_TRUE(first.listening);
    PeerServer second({});
    std::string error;
    EXPECT_FALSE(second.listen(folder, "Tarnvel", error));
    EXPECT_NE(error.find("another instance"), std::string::npos) << error;

    EXPECT_TRUE(PeerClient::sendRaise(folder, "Tarnvel"));
    for (int i = 0; i < 200 && first.raises.load() == 0; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(first.raises.load(), 1);
    EXPECT_EQ(peerTitle("Tarnvel"), "Tarnvel:2");
    EXPECT_EQ(peerTitle("Tarnvel:2"), "Tarnvel");
}

} // namespace
} // namespace tarnvel::link
