#pragma once

#include <functional>
#include <string>

namespace tarnvel::scsi {

class ScsiTransport;

// What the abort dialog needs from the window: a yes/no question, a wait that keeps the
// window responsive, and a message.
struct AbortDialogView {
    std::function<bool(const std::string& question)> ask;
    std::function<void(int milliseconds)> wait;
    std::function<void(const std::string& text)> tell;
};

// Escape (or closing the window) while a drive command runs and nothing else can be stopped.
// The user is shown the command's name and asked whether to abort. A command of an in-process
// target is asked to end at once. On a kernel device an abort is a reset of the drive (its
// whole state, possibly its audio mode; behind a USB bridge it waits for the command to
// finish first), so the first yes only waits, up to 10 s, for the command to end by itself;
// the drive is reset only when the user confirms a second time, and the user is then told
// what the reset did. In SPTI mode nothing can be aborted: the dialog only waits.
// Returns false when the user answered no to the first question (the window stays open);
// true when no command runs any more or the user stopped waiting for it.
// Thread: the window's; the command runs on another thread.
bool runAbortDialog(ScsiTransport& transport, const AbortDialogView& view);

} // namespace tarnvel::scsi
