#pragma once

#include <atomic>
#include <string>

// Ctrl-C (SIGINT) and SIGTERM for commands that write files or run for long.
//
// How a command uses it:
//   int run(...) {
//       InterruptScope scope;                 // for the whole run, before the first file opens
//       ImageWriter writer(sink);             // or a recorder, a WAV writer, a cue file ...
//       while (more && !interrupted()) { ... one frame / buffer / drive command ... }
//       // core loops that take a stop flag get &interruptFlag()
//       if (interrupted())
//           return reportInterrupted(file);   // after the writers are finished or destroyed
//   }
// The handler only sets a flag (nothing else is async-signal-safe); the loop sees it, ends, and
// the writers are finished by their owners as on any other early return (ImageWriter and
// WaveFileWriter complete their headers when destroyed; WaveRecorder::stop finishes its file),
// so an interrupted file's header always matches its data. System calls are restarted, so an
// interruption never turns into a failed write. A second signal ends the process at once, for a
// run stuck where it cannot look at the flag. Commands without a scope keep the default action.
// Main thread only. A scope made inside another joins it: the flag and the handlers stay as the
// outer one set them, so that a command can catch the signal before it starts a run whose
// follower makes a scope of its own (a signal in between is neither lost nor fatal).
namespace tarnvel::cli {

class InterruptScope {
public:
    // Clears the flag and catches SIGINT and SIGTERM until the outermost scope ends.
    InterruptScope();
    // The outermost scope puts the previous handlers back.
    ~InterruptScope();
    InterruptScope(const InterruptScope&) = delete;
    InterruptScope& operator=(const InterruptScope&) = delete;
};

// Set by the first SIGINT or SIGTERM inside a scope. Any thread.
const std::atomic<bool>& interruptFlag();
inline bool interrupted()
{
    return interruptFlag().load(std::memory_order_relaxed);
}
// 128 + the signal's number, the exit status shells give a process ended by that signal.
int interruptExitCode();
// Prints that the run was interrupted with `file` closed (nothing written when empty) and
// returns interruptExitCode().
int reportInterrupted(const std::string& file);

} // namespace tarnvel::cli
