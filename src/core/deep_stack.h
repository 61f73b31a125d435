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

// A thread with a deep stack, for work shared between threads. When no such thread can be
// made, Start runs the work on the calling thread before returning.
class DeepStackThread {
public:
    DeepStackThread() = default;
    DeepStackThread(const DeepStackThread&) = delete;
    DeepStackThread& operator=(const DeepStackThread&) = delete;
    ~DeepStackThread() { Join(); }

    // work must outlive the thread (until Join returns).
    void Start(const std::function<void()>& work, size_t stackBytes = DEEP_STACK_BYTES);
    void Join();

private:
    unsigned long thread_ = 0;
    bool running_ = false;
};

}  // namespace bsppvs
