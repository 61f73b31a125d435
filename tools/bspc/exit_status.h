#pragma once

namespace bsppvs {

// bspc's exit statuses; 4 (the time limit) is the deadline's own.
inline constexpr int EXIT_OK = 0;
inline constexpr int EXIT_BAD_LEVEL = 1;
inline constexpr int EXIT_USAGE = 2;
inline constexpr int EXIT_PVS_VIOLATION = 3;
inline constexpr int EXIT_TOO_LARGE = 5;

}  // namespace bsppvs
