#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace bsppvs {

// Runs work(begin, end) over consecutive slices of [0, count) on up to `threads` threads,
// the calling thread included, and returns when every slice is done. Slices hold at least
// `grain` items; with one thread, or too little work to share, everything runs on the
// calling thread in order. Callers keep the results order-independent: each slice writes
// only its own items.
void ParallelFor(int32_t threads, size_t count, size_t grain,
                 const std::function<void(size_t begin, size_t end)>& work);

}  // namespace bsppvs
