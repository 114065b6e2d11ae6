#pragma once

#if defined(__GLIBC__)
#include <malloc.h>
#endif

// glibc keeps small freed blocks in "fast bins" and merges them all at some later, larger
// allocation: after a list of 100,000 notes is freed, that merge landed on the first paint of
// the next search (10 ms and more). Without fast bins the merging happens as blocks are freed;
// the per-thread cache still serves the common small allocations. Called first thing in main.
inline void tuneMemoryAllocator()
{
#if defined(__GLIBC__)
    mallopt(M_MXFAST, 0);
#endif
}
