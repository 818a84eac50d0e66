#include "common/Message.h"

#include <atomic>

namespace tarnvel {

namespace {
std::atomic<bool> gEnglish{true};
}

void setEnglishMode(bool english)
{
    gEnglish.store(english, std::memory_order_relaxed);
}

bool englishMode()
{
    return gEnglish.load(std::memory_order_relaxed);
}

} // namespace tarnvel
