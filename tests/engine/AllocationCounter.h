#pragma once

// Counts operator new calls made on the calling thread between start and stop (the test
// program replaces the global operator new).
namespace tarnvel::engine::test {
void startCountingAllocations();
int stopCountingAllocations();
} // namespace tarnvel::engine::test
