#include "core/deadline.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace bsppvs {

namespace {

// Limits beyond this (about 30 years) are taken as no limit, so that adding them to a time
// point cannot overflow.
constexpr double MAX_WAIT_SECONDS = 1e9;

}  // namespace

Deadline::Deadline(double seconds, Clock::time_point start, std::string message)
    : message_(std::move(message)) {
    const double wait = std::clamp(seconds, 0.0, MAX_WAIT_SECONDS);
    end_ = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(wait));
    watchdog_ = std::thread([this] { Watch(); });
}

Deadline::~Deadline() {
    Cancel();
}

void Deadline::Cancel() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        cancelled_ = true;
    }
    wake_.notify_all();
    if (watchdog_.joinable()) {
        watchdog_.join();
    }
}

void Deadline::Guarded(const std::function<void(std::string& temporaryFile)>& step,
                       bool thenCancel) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        step(temporaryFile_);
        cancelled_ = cancelled_ || thenCancel;
    }
    if (thenCancel) {
        wake_.notify_all();
    }
}

void Deadline::Watch() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (wake_.wait_until(lock, end_, [this] { return cancelled_; })) {
        return;
    }
    // The lock stays held until the process is gone, so no guarded step can start now.
    if (!temporaryFile_.empty()) {
        ::unlink(temporaryFile_.c_str());
    }
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", message_.c_str());
    std::fflush(stderr);
    std::_Exit(EXIT_DEADLINE);
}

namespace {

namespace fs = std::filesystem;

// Runs step under the deadline's guard when there is one.
void Guard(Deadline* deadline, const std::function<void(std::string&)>& step,
           bool thenCancel = false) {
    if (deadline != nullptr) {
        deadline->Guarded(step, thenCancel);
    } else {
        std::string unwatched;
        step(unwatched);
    }
}

bool WriteDirectly(const std::string& target, const std::function<bool(std::ostream&)>& write,
                   std::string& error) {
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    const bool written = out && write(out);
    out.close();
    if (!written || !out) {
        error = "cannot write \"" + target + "\"";
        return false;
    }
    return true;
}

// Creates an empty file beside path with a name no other file has; "" when none can be made.
std::string CreateTemporaryBeside(const fs::path& path, std::string& error) {
    // Built by appending: GCC 12 at -O3 warns falsely about overlapping copies in "." + name.
    std::string hidden = ".";
    hidden += path.filename().string();
    hidden += '.';
    const std::string stem = (path.parent_path() / hidden).string();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name =
            stem + std::to_string(::getpid()) + "-" + std::to_string(attempt) + ".tmp";
        // Mode 0666 less the umask: the finished file gets the permissions any new file gets.
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            return name;
        }
        if (errno != EEXIST) {
            error =
                "cannot create a file beside \"" + path.string() + "\": " + std::strerror(errno);
            return {};
        }
    }
    error = "cannot create a file beside \"" + path.string() + "\"";
    return {};
}

}  // namespace

bool WriteFileWhole(const std::string& target, const std::function<bool(std::ostream&)>& write,
                    Deadline* deadline, bool finishesRun, std::string& error) {
    fs::path path(target);
    struct stat status {};
    if (::stat(target.c_str(), &status) == 0) {
        if (!S_ISREG(status.st_mode)) {
            return WriteDirectly(target, write, error);
        }
        std::error_code ignored;
        if (fs::is_symlink(path, ignored)) {
            path = fs::canonical(path, ignored);
            if (ignored) {
                path = target;
            }
        }
    }
    // From its creation on, the watchdog removes the temporary file if it fires.
    std::string temporary;
    Guard(deadline, [&](std::string& watched) {
        temporary = CreateTemporaryBeside(path, error);
        watched = temporary;
    });
    if (temporary.empty()) {
        return false;
    }
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    const bool written = out && write(out);
    out.close();
    bool renamed = false;
    Guard(
        deadline,
        [&](std::string& watched) {
            if (written && out) {
                renamed = std::rename(temporary.c_str(), path.c_str()) == 0;
                if (!renamed) {
                    error = "cannot replace \"" + target + "\": " + std::strerror(errno);
                }
            } else {
                error = "cannot write \"" + target + "\"";
            }
            if (!renamed) {
                ::unlink(temporary.c_str());
            }
            watched.clear();
        },
        finishesRun);
    return renamed;
}

}  // namespace bsppvs
