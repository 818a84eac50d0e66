// Read by the sanitizers when the test program is built with them (ignored otherwise). Both
// entries concern the PulseAudio client library only; our code is never called back from its
// threads (the audio library calls our callbacks from a thread of its own), so every access and
// allocation of ours is still checked.

// The client library hands data between its own threads through shared ring buffers ordered by
// its own atomics, which the thread checker cannot see.
extern "C" __attribute__((visibility("default"), used)) const char* __tsan_default_suppressions()
{
    return "race:libpulse\n";
}

// The audio library's PulseAudio device listing leaves some of the client library's small
// allocations behind when it returns.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions()
{
    return "leak:libpulse\n";
}
