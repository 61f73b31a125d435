#pragma once

// Whether the tests run under AddressSanitizer, which makes them an order of magnitude
// slower: the largest inputs shrink to match, so the sanitized run stays within its time.

#if defined(__SANITIZE_ADDRESS__)
#define BSPPVS_TESTS_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BSPPVS_TESTS_SANITIZED 1
#endif
#endif

namespace bsppvs::levels {

#ifdef BSPPVS_TESTS_SANITIZED
inline constexpr bool SANITIZED = true;
#else
inline constexpr bool SANITIZED = false;
#endif

}  // namespace bsppvs::levels
