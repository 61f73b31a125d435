#pragma once

#include <cstddef>
#include <functional>

namespace bsppvs {

// Stack reserved for the compile stages that recurse as deep as the level is: portal
// clipping follows the tree's depth and the visibility pass the longest chain of gates.
// Only the pages actually used are ever touched.
inline constexpr size_t DEEP_STACK_BYTES = size_t{1} << 30;

// Runs work to completion on a thread with a stack of the given size and returns once it
// is done, so callers stay single-threaded in effect. Falls back to the calling thread
// when no such thread can be made.
void RunOnDeepStack(const std::function<void()>& work, size_t stackBytes = DEEP_STACK_BYTES);

}  // namespace bsppvs
