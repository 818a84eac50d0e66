#include "cli/CliInterrupt.h"

#include "cli/CliMessages.h"
#include "formats/StringPrintf.h"

#include <csignal>
#include <iostream>
#include <string>

namespace tarnvel::cli {

namespace {

static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "the signal handler may only touch lock-free atomics");

std::atomic<bool> gInterrupted{false};
std::atomic<int> gSignal{0};

struct sigaction gPreviousInt;
struct sigaction gPreviousTerm;
int gDepth = 0; // scopes open on the main thread

void onSignal(int signal)
{
    gSignal.store(signal, std::memory_order_relaxed);
    gInterrupted.store(true, std::memory_order_relaxed);
}

} // namespace

InterruptScope::InterruptScope()
{
    if (gDepth++ > 0)
        return;
    gInterrupted.store(false);
    gSignal.store(0);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // Restarted system calls: a write in progress completes instead of failing with EINTR.
    // One-shot: the second signal takes the default action and ends the process.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGINT, &action, &gPreviousInt);
    sigaction(SIGTERM, &action, &gPreviousTerm);
}

InterruptScope::~InterruptScope()
{
    if (--gDepth > 0)
        return;
    sigaction(SIGINT, &gPreviousInt, nullptr);
    sigaction(SIGTERM, &gPreviousTerm, nullptr);
}

const std::atomic<bool>& interruptFlag()
{
    return gInterrupted;
}

int interruptExitCode()
{
    const int signal = gSignal.load(std::memory_order_relaxed);
    return 128 + (signal != 0 ? signal : SIGINT);
}

int reportInterrupted(const std::string& file)
{
    std::cerr << (file.empty() ? std::string(tr(msg::kInterruptedNothingWritten))
                               : formats::stringPrintf(tr(msg::kInterrupted), file.c_str()))
              << "\n";
    return interruptExitCode();
}

} // namespace tarnvel::cli
