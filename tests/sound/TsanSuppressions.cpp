// ThreadSanitizer reads this when the test program is built with it (ignored otherwise).
// The PulseAudio client library hands data between its own threads through shared ring
// buffers ordered by its own atomics, which the sanitizer cannot see. Races reported inside
// that library are its own: our code is never called back from its threads (the audio
// library calls our callbacks from a thread of its own), so every access of ours is still
// checked.
extern "C" __attribute__((visibility("default"), used)) const char* __tsan_default_suppressions()
{
    return "race:libpulse\n";
}
