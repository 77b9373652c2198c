// What the processor offers beyond the baseline the library is compiled for,
// so that a hot loop can pick a faster build of itself. Each answer is asked
// for once and kept. Targets without the query answer false.
#pragma once

namespace acekit::platform {

// Carry-less multiplication together with SSE2.
bool CpuHasClmul();
// BMI2's flag-free shifts.
bool CpuHasBmi2();

}  // namespace acekit::platform
