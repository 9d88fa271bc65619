// Whether the test runs in a sanitizer build. The sanitizers reserve their
// shadow memory up front and do not run under an address-space limit
// (RLIMIT_AS, ulimit -v), so tests that set one skip there.
#pragma once

namespace testsupport {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kUnderSanitizer = true;
#else
inline constexpr bool kUnderSanitizer = false;
#endif

}  // namespace testsupport
