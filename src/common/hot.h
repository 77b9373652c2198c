// The attributes the hot loops of both engines use: functions and lambdas
// that must be inlined into their loop, where a call would cost more than the
// work they do; and rare paths kept out of it, so that the loop keeps its
// registers. Other compilers get a plain inline, and nothing.
#pragma once

#if defined(__GNUC__)
#define ACEKIT_HOT inline __attribute__((always_inline))
#define ACEKIT_HOT_LAMBDA __attribute__((always_inline))
#define ACEKIT_COLD __attribute__((noinline))
#else
#define ACEKIT_HOT inline
#define ACEKIT_HOT_LAMBDA
#define ACEKIT_COLD
#endif
