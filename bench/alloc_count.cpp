#include "alloc_count.h"

#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

// The linker routes calls from the statically linked code to the __wrap_
// functions (-Wl,--wrap=...), which reach the C library through __real_.
extern "C" {
void* __real_malloc(size_t size);
void* __real_calloc(size_t count, size_t size);
void* __real_realloc(void* p, size_t size);
void __real_free(void* p);
void* __real_aligned_alloc(size_t alignment, size_t size);
int __real_posix_memalign(void** out, size_t alignment, size_t size);
}

namespace {

// One thread runs the benchmark; no atomics needed.
int64_t g_current = 0;
int64_t g_peak = 0;

void Took(void* p) {
  if (p == nullptr) return;
  g_current += static_cast<int64_t>(malloc_usable_size(p));
  if (g_current > g_peak) g_peak = g_current;
}

void Gave(void* p) {
  if (p != nullptr) g_current -= static_cast<int64_t>(malloc_usable_size(p));
}

}  // namespace

extern "C" {

void* __wrap_malloc(size_t size) {
  void* p = __real_malloc(size);
  Took(p);
  return p;
}

void* __wrap_calloc(size_t count, size_t size) {
  void* p = __real_calloc(count, size);
  Took(p);
  return p;
}

void* __wrap_realloc(void* old, size_t size) {
  const int64_t before = old != nullptr ? static_cast<int64_t>(malloc_usable_size(old)) : 0;
  void* p = __real_realloc(old, size);
  if (p != nullptr || size == 0) {
    g_current -= before;
    Took(p);
  }
  return p;
}

void __wrap_free(void* p) {
  Gave(p);
  __real_free(p);
}

void* __wrap_aligned_alloc(size_t alignment, size_t size) {
  void* p = __real_aligned_alloc(alignment, size);
  Took(p);
  return p;
}

int __wrap_posix_memalign(void** out, size_t alignment, size_t size) {
  const int rc = __real_posix_memalign(out, alignment, size);
  if (rc == 0) Took(*out);
  return rc;
}

}  // extern "C"

// operator new lives in the shared C++ runtime, whose malloc calls the
// linker cannot wrap; replacing it here sends engine containers through the
// counted path as well.
void* operator new(size_t size) {
  if (void* p = std::malloc(size != 0 ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t size) {
  return operator new(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  return std::malloc(size != 0 ? size : 1);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  return std::malloc(size != 0 ? size : 1);
}
void* operator new(size_t size, std::align_val_t al) {
  const size_t a = static_cast<size_t>(al);
  if (void* p = std::aligned_alloc(a, (size + a - 1) / a * a)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t size, std::align_val_t al) {
  return operator new(size, al);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
  std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
  std::free(p);
}
void operator delete(void* p, size_t, std::align_val_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, size_t, std::align_val_t) noexcept {
  std::free(p);
}

namespace bench {

HeapMark Heap() {
  return HeapMark{g_current, g_peak};
}

void ResetPeak() {
  g_peak = g_current;
}

void* CountedZalloc(void*, unsigned items, unsigned size) {
  return std::calloc(items, size);
}

void CountedZfree(void*, void* p) {
  std::free(p);
}

namespace {

int64_t StatusField(const char* field) {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (f == nullptr) return 0;
  char line[256];
  int64_t kb = 0;
  const size_t n = std::strlen(field);
  while (std::fgets(line, sizeof line, f) != nullptr) {
    if (std::strncmp(line, field, n) == 0 && line[n] == ':') {
      kb = std::strtoll(line + n + 1, nullptr, 10);
      break;
    }
  }
  std::fclose(f);
  return kb * 1024;
}

}  // namespace

int64_t RssNow() {
  return StatusField("VmRSS");
}
int64_t RssPeak() {
  return StatusField("VmHWM");
}

void ResetRssPeak() {
  // Writing 5 to clear_refs restarts VmHWM at the current resident size.
  if (FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
    std::fputs("5", f);
    std::fclose(f);
  }
}

}  // namespace bench
