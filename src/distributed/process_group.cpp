#include "distributed/process_group.h"

#include <cstdlib>
#include <stdexcept>

#ifdef BSPPVS_WITH_MPI
#include <mpi.h>

#include "distributed/mpi_gate_exchange.h"
#endif

namespace bsppvs {
namespace {

#ifdef BSPPVS_WITH_MPI
// Whether a launcher started this process as part of a job. Joining a job of one costs a
// second or more and prints warnings on machines without a network, so plain runs never do.
bool StartedByLauncher() {
    for (const char* name : {"OMPI_COMM_WORLD_SIZE", "PMIX_RANK", "PMI_SIZE"}) {
        if (std::getenv(name) != nullptr) {
            return true;
        }
    }
    return false;
}

int32_t LocalProcessCount(MPI_Comm world) {
    MPI_Comm local;
    MPI_Comm_split_type(world, MPI_COMM_TYPE_SHARED, 0, MPI_INFO_NULL, &local);
    int size = 1;
    MPI_Comm_size(local, &size);
    MPI_Comm_free(&local);
    return size;
}
#endif

}  // namespace

bool ProcessGroup::Supported() {
#ifdef BSPPVS_WITH_MPI
    return true;
#else
    return false;
#endif
}

ProcessGroup::ProcessGroup([[maybe_unused]] int& argc, [[maybe_unused]] char**& argv) {
#ifdef BSPPVS_WITH_MPI
    if (!StartedByLauncher()) {
        return;
    }
    // The pass calls MPI from whichever worker holds its commit turn, one at a time.
    int provided = MPI_THREAD_SINGLE;
    if (MPI_Init_thread(&argc, &argv, MPI_THREAD_SERIALIZED, &provided) != MPI_SUCCESS) {
        throw std::runtime_error("cannot join the MPI job");
    }
    joined_ = true;
    threadsAllowed_ = provided >= MPI_THREAD_SERIALIZED;
    int rank = 0;
    int size = 1;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    MPI_Comm_size(MPI_COMM_WORLD, &size);
    rank_ = rank;
    processes_ = size;
    localProcesses_ = LocalProcessCount(MPI_COMM_WORLD);
    if (processes_ > 1) {
        exchange_ = std::make_unique<MpiGateExchange>(MPI_COMM_WORLD, rank_, processes_);
    }
#endif
}

ProcessGroup::~ProcessGroup() {
#ifdef BSPPVS_WITH_MPI
    exchange_.reset();
    if (joined_) {
        MPI_Finalize();
    }
#endif
}

}  // namespace bsppvs
