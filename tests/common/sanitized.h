// Sanitized builds run every test several times slower; sweeps over sizes
// and thread counts keep there the cases that reach distinct code and leave
// the rest to the plain build.
#pragma once

namespace acekit::testing {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

}  // namespace acekit::testing
