#include "platform/cpu.h"

#include <atomic>

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define ACEKIT_HAVE_CPUID 1
#include <cpuid.h>
#endif

namespace acekit::platform {
namespace {

// Asking can trap under a hypervisor, so the answer is kept; threads that
// race here all store the same value.
template <bool (*Ask)()>
bool Kept() {
  static std::atomic<int> known{0};  // 0 not asked yet, 1 no, 2 yes
  int v = known.load(std::memory_order_relaxed);
  if (v == 0) {
    v = Ask() ? 2 : 1;
    known.store(v, std::memory_order_relaxed);
  }
  return v == 2;
}

#if defined(ACEKIT_HAVE_CPUID)
bool AskClmul() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid(1, &a, &b, &c, &d) == 0) return false;
  return (c & bit_PCLMUL) != 0 && (d & bit_SSE2) != 0;
}

bool AskBmi2() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid_count(7, 0, &a, &b, &c, &d) == 0) return false;
  return (b & bit_BMI2) != 0;
}
#else
bool AskClmul() {
  return false;
}
bool AskBmi2() {
  return false;
}
#endif

}  // namespace

bool CpuHasClmul() {
  return Kept<AskClmul>();
}
bool CpuHasBmi2() {
  return Kept<AskBmi2>();
}

}  // namespace acekit::platform
