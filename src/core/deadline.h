#pragma once

// A time limit for a whole run, and output files that appear whole or not at all.
//
// The compile stages cannot be interrupted from inside, so the limit is kept by a watchdog
// thread that ends the process when the time is up. Whatever file is being written at that
// moment is a temporary one beside its target, which the watchdog removes; the target is
// only ever replaced by a rename once its content is complete.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>

namespace bsppvs {

// Exit status of a run that the deadline stopped.
inline constexpr int EXIT_DEADLINE = 4;

class Deadline {
public:
    using Clock = std::chrono::steady_clock;

    // Once seconds have passed since start, prints message and a line end on standard
    // error (after flushing standard output), removes the registered temporary file and
    // ends the process with EXIT_DEADLINE, without running any destructor or exit handler.
    Deadline(double seconds, Clock::time_point start, std::string message);
    // Cancels the deadline.
    ~Deadline();
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

    // Stops the watchdog; from then on the deadline never fires.
    void Cancel();

    // Runs step so that the deadline fires either before it starts or not until it has
    // finished; step may change the temporary file the watchdog removes ("" for none). A
    // step that creates or renames a file therefore never races the watchdog's removal.
    // With thenCancel the deadline is cancelled before the watchdog can look again, so a
    // run whose last step was guarded cannot be stopped after it.
    void Guarded(const std::function<void(std::string& temporaryFile)>& step,
                 bool thenCancel = false);

private:
    void Watch();

    Clock::time_point end_;
    std::string message_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool cancelled_ = false;
    std::string temporaryFile_;
    std::thread watchdog_;
};

// Writes a file through write, into a temporary file in the target's directory that is
// renamed over the target once write returns true and the data is flushed; on failure the
// temporary file is removed and the target left as it was. deadline may be null; with
// finishesRun its last step (the rename, or giving up) also cancels the deadline, since the
// run is then over but for its exit. A target that exists and is no regular file (a
// terminal, a pipe, a device) is written directly, since it cannot be replaced; a symbolic
// link is followed, so the file it names is replaced rather than the link. Returns false
// with error set to one line of text.
bool WriteFileWhole(const std::string& target, const std::function<bool(std::ostream&)>& write,
                    Deadline* deadline, bool finishesRun, std::string& error);

}  // namespace bsppvs
