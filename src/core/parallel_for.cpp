#include "core/parallel_for.h"

#include "core/deep_stack.h"

#include <algorithm>
#include <atomic>
#include <vector>

namespace bsppvs {

void ParallelFor(int32_t threads, size_t count, size_t grain,
                 const std::function<void(size_t begin, size_t end)>& work) {
    grain = std::max<size_t>(grain, 1);
    const size_t slices = (count + grain - 1) / grain;
    const size_t workers = std::min<size_t>(static_cast<size_t>(std::max(threads, 1)), slices);
    if (workers <= 1) {
        if (count > 0) {
            work(0, count);
        }
        return;
    }
    // Slices are handed out in order from a shared counter, so a slow slice does not hold
    // up the others.
    std::atomic<size_t> next{0};
    const auto drain = [&] {
        for (size_t slice = next++; slice < slices; slice = next++) {
            const size_t begin = slice * grain;
            work(begin, std::min(count, begin + grain));
        }
    };
    // The helpers get the same deep stacks as the compile thread: the slices may recurse
    // as deep as the level is.
    const std::function<void()> drainWork = drain;
    std::vector<DeepStackThread> helpers(workers - 1);
    for (DeepStackThread& helper : helpers) {
        helper.Start(drainWork);
    }
    drain();
    for (DeepStackThread& helper : helpers) {
        helper.Join();
    }
}

}  // namespace bsppvs
