#pragma once

#include <cstdint>
#include <functional>

namespace bsppvs {

// Called by long stages with the work done and the work in all; may be empty.
using ProgressFn = std::function<void(int64_t done, int64_t total)>;

}  // namespace bsppvs
