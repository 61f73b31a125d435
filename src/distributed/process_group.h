#pragma once

// The processes one compile is shared between. Started by mpirun (and built with MPI), each
// process of the job runs every stage on the same level, identically, and the visibility
// recursion is shared out between them (see pvs/gate_exchange.h); rank 0 reports and
// writes. Started any other way, the group is this process alone and MPI is never touched.

#include <cstdint>
#include <memory>

#include "pvs/gate_exchange.h"

namespace bsppvs {

class ProcessGroup {
public:
    // Joins the job mpirun started, when this process is part of one. Throws
    // std::runtime_error when it is but the job cannot be joined.
    ProcessGroup(int& argc, char**& argv);
    ~ProcessGroup();
    ProcessGroup(const ProcessGroup&) = delete;
    ProcessGroup& operator=(const ProcessGroup&) = delete;

    int32_t Rank() const { return rank_; }
    int32_t Processes() const { return processes_; }
    // Processes of the job on this machine.
    int32_t LocalProcesses() const { return localProcesses_; }
    // Whether each process may run the pass on more than one thread.
    bool ThreadsAllowed() const { return threadsAllowed_; }
    // The visibility pass's exchange; null for a group of one.
    GateExchange* Exchange() { return exchange_.get(); }

    // Whether this build can join jobs at all.
    static bool Supported();

private:
    int32_t rank_ = 0;
    int32_t processes_ = 1;
    int32_t localProcesses_ = 1;
    bool threadsAllowed_ = true;
    bool joined_ = false;
    std::unique_ptr<GateExchange> exchange_;
};

}  // namespace bsppvs
