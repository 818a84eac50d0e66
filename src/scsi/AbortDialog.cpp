#include "scsi/AbortDialog.h"

#include "scsi/ScsiMessages.h"
#include "scsi/ScsiTransport.h"

#include <cstdio>

namespace tarnvel::scsi {

namespace {

constexpr int kWaitMs = 500;
constexpr int kWaits = 20;

std::string question(const std::string& name, const std::string& text)
{
    char buffer[1024];
    std::snprintf(buffer, sizeof buffer, tr(msg::kCommandAndQuestion), name.c_str(), text.c_str());
    return buffer;
}

} // namespace

bool runAbortDialog(ScsiTransport& transport, const AbortDialogView& view)
{
    const std::string name = transport.commandInProgressName();
    if (name.empty())
        return true;
    if (!view.ask(question(name, tr(msg::kTryAbort))))
        return false;
    const bool canAbort = !transport.isSpti();
    const bool resets = canAbort && transport.abortResetsDevice();
    bool resetAsked = false;
    for (int round = 0;; ++round) {
        if (canAbort && (!resets || round > 0)) {
            if (resets) {
                transport.takeAbortOutcome(); // nothing left over from an earlier reset
                resetAsked = true;
            }
            transport.abort();
        }
        for (int i = 0; i < kWaits; ++i) {
            view.wait(kWaitMs);
            if (transport.commandInProgressName().empty()) {
                if (resetAsked) {
                    const char* what =
                        ScsiTransport::abortOutcomeText(transport.takeAbortOutcome());
                    const std::string refused = transport.abortProblem();
                    if (what[0] != '\0')
                        view.tell(what);
                    else if (!refused.empty())
                        view.tell(refused);
                }
                return true;
            }
        }
        std::string next = tr(msg::kAbortFailedTryAgain);
        if (resets && !resetAsked) {
            next = tr(msg::kResetQuestion);
        } else if (resets) {
            const std::string refused = transport.abortProblem();
            if (!refused.empty())
                next = refused + "\n\n" + next;
        }
        if (!view.ask(question(name, next)))
            return true;
    }
}

} // namespace tarnvel::scsi
