#include "platform/fault.h"

#include <array>

namespace acekit::platform {
namespace detail {

bool g_fault_active = false;

namespace {

constexpr size_t kKinds = static_cast<size_t>(Fault::kCount);
// Countdown per primitive: 0 is unarmed, 1 fails the next call.
std::array<uint32_t, kKinds> g_countdown{};
std::array<uint32_t, kKinds> g_calls{};

size_t Index(Fault which) {
  const auto i = static_cast<size_t>(which);
  return i < kKinds ? i : kKinds;
}

}  // namespace

bool FaultHit(Fault which) {
  const size_t i = Index(which);
  if (i == kKinds) return false;
  ++g_calls[i];
  if (g_countdown[i] == 0) return false;
  return --g_countdown[i] == 0;
}

}  // namespace detail

void ArmFault(Fault which, uint32_t nth) {
  const auto i = static_cast<size_t>(which);
  if (i >= detail::kKinds) return;
  detail::g_fault_active = true;
  detail::g_countdown[i] = nth;
}

void DisarmFaults() {
  detail::g_fault_active = true;
  detail::g_countdown.fill(0);
  detail::g_calls.fill(0);
}

uint32_t FaultCalls(Fault which) {
  const auto i = static_cast<size_t>(which);
  return i < detail::kKinds ? detail::g_calls[i] : 0;
}

}  // namespace acekit::platform
