#pragma once

// The gate exchange over MPI: each final set is one message of 64-bit words to every other
// process, [position, first leaf, end leaf, the set's words...], so a gate costs
// (processes - 1) * (24 + 8 * words) bytes on the network.

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include <mpi.h>

#include "pvs/gate_exchange.h"

namespace bsppvs {

class MpiGateExchange : public GateExchange {
public:
    // This process is rank of the communicator's processes.
    MpiGateExchange(MPI_Comm comm, int32_t rank, int32_t processes);
    ~MpiGateExchange() override;

    int32_t Rank() const override { return rank_; }
    int32_t Processes() const override { return processes_; }
    void Publish(const Set& set) override;
    void Poll(const Deliver& deliver) override;
    void Finish() override;

private:
    // One published set, kept until every send of it has completed.
    struct Outgoing {
        std::vector<uint64_t> message;
        std::vector<MPI_Request> requests;
    };
    void DropCompleted();

    MPI_Comm comm_;
    int32_t rank_ = 0;
    int32_t processes_ = 1;
    std::deque<Outgoing> outgoing_;
    std::vector<uint64_t> incoming_;
};

}  // namespace bsppvs
