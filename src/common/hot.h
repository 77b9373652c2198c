// The one attribute the hot loops of both engines use: functions and lambdas
// that must be inlined into their loop, where a call would cost more than the
// work they do. Other compilers get a plain inline.
#pragma once

#if defined(__GNUC__)
#define ACEKIT_HOT inline __attribute__((always_inline))
#define ACEKIT_HOT_LAMBDA __attribute__((always_inline))
#else
#define ACEKIT_HOT inline
#define ACEKIT_HOT_LAMBDA
#endif
