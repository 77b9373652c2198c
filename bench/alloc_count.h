// Heap accounting for the benchmark. Every malloc, calloc, realloc and free
// made by code linked statically into the benchmark (the engines, the
// benchmark itself, and operator new, which is replaced to go through malloc)
// is counted; shared libraries keep the plain allocator, so zlib's state is
// counted through its own allocation hooks instead.
//
// Sizes are those the allocator reports as usable for each block, so a figure
// is what the process really holds for the engine, rounding included.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bench {

struct HeapMark {
  int64_t current = 0;
  int64_t peak = 0;
};

// Bytes held now, and the most held since the last ResetPeak().
HeapMark Heap();
// Starts a new peak at the current level, so Heap().peak - before.current is
// what the code run since then took at its worst.
void ResetPeak();

// zlib's zalloc/zfree, counted the same way.
void* CountedZalloc(void* opaque, unsigned items, unsigned size);
void CountedZfree(void* opaque, void* p);

// Resident set: the current size, and the peak since the last ResetRssPeak()
// (which restarts the kernel's high-water mark at the current size). Bytes;
// 0 where the system does not tell.
int64_t RssNow();
int64_t RssPeak();
void ResetRssPeak();

}  // namespace bench
