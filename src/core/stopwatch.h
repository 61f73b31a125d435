#pragma once

#include <chrono>

namespace bsppvs {

// Wall time since construction or the last restart, in seconds.
class Stopwatch {
public:
    using Clock = std::chrono::steady_clock;

    Stopwatch() : start_(Clock::now()) {}
    void Restart() { start_ = Clock::now(); }
    double Seconds() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }

private:
    Clock::time_point start_;
};

}  // namespace bsppvs
