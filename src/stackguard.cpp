// The stack protector's guard value and its check's failure, for the
// Windows program. gcc's own pair (libssp) seeds the guard from
// advapi32's CryptGenRandom: a DLL, and imports, that the program has
// never needed. The seed here comes from what changes with every start
// and needs no import: the processor's cycle counter and the addresses
// at which Windows placed the stack and the program.
#if defined(_WIN32)
#include <cstdint>
#include <cstdlib>
#include <x86intrin.h>

extern "C" {
uintptr_t __stack_chk_guard;

[[noreturn]] void __stack_chk_fail()
{
    abort();  // a smashed stack: nothing of the frame can be trusted
}
}

// Runs before any protected function, and must not be one itself: the
// guard changes under it.
__attribute__((constructor(101), no_stack_protector)) static void seedguard()
{
    uintptr_t here = reinterpret_cast<uintptr_t>(&here);
    uintptr_t image = reinterpret_cast<uintptr_t>(&seedguard);
    uint64_t seed = __rdtsc() ^ (uint64_t(here) << 16) ^ image;
    seed *= 0x9e3779b97f4a7c15ULL;  // spread every bit over the whole word
    // A zero byte at the bottom stops a string copy that runs into it.
    __stack_chk_guard = static_cast<uintptr_t>(seed >> 32) & ~uintptr_t(0xff);
}
#endif
