#include "distributed/mpi_gate_exchange.h"

#include <algorithm>
#include <stdexcept>

namespace bsppvs {
namespace {

constexpr int SET_TAG = 46;
constexpr int HEADER_WORDS = 3;

}  // namespace

MpiGateExchange::MpiGateExchange(MPI_Comm comm, int32_t rank, int32_t processes)
    : comm_(comm), rank_(rank), processes_(processes) {}

MpiGateExchange::~MpiGateExchange() {
    Finish();
}

void MpiGateExchange::Publish(const Set& set) {
    DropCompleted();
    const WordRange words = WordsOf(set.range);
    Outgoing& out = outgoing_.emplace_back();
    out.message.reserve(HEADER_WORDS + words.Size());
    out.message.push_back(static_cast<uint64_t>(set.position));
    out.message.push_back(static_cast<uint64_t>(set.range.first));
    out.message.push_back(static_cast<uint64_t>(set.range.end));
    out.message.insert(out.message.end(), set.words, set.words + words.Size());
    for (int32_t peer = 0; peer < processes_; ++peer) {
        if (peer != rank_) {
            MPI_Isend(out.message.data(), static_cast<int>(out.message.size()), MPI_UINT64_T, peer,
                      SET_TAG, comm_, &out.requests.emplace_back());
        }
    }
}

void MpiGateExchange::Poll(const Deliver& deliver) {
    DropCompleted();
    for (;;) {
        int arrived = 0;
        MPI_Status status;
        MPI_Iprobe(MPI_ANY_SOURCE, SET_TAG, comm_, &arrived, &status);
        if (arrived == 0) {
            return;
        }
        int count = 0;
        MPI_Get_count(&status, MPI_UINT64_T, &count);
        incoming_.resize(static_cast<size_t>(std::max(count, 0)));
        MPI_Recv(incoming_.data(), count, MPI_UINT64_T, status.MPI_SOURCE, SET_TAG, comm_,
                 MPI_STATUS_IGNORE);
        if (count < HEADER_WORDS) {
            throw std::runtime_error("a process sent a visibility set without its header");
        }
        Set set;
        set.position = static_cast<int32_t>(incoming_[0]);
        set.range = {static_cast<int32_t>(incoming_[1]), static_cast<int32_t>(incoming_[2])};
        if (WordsOf(set.range).Size() != static_cast<size_t>(count - HEADER_WORDS)) {
            throw std::runtime_error("a process sent a visibility set of the wrong size");
        }
        set.words = incoming_.data() + HEADER_WORDS;
        deliver(set);
    }
}

void MpiGateExchange::Finish() {
    for (Outgoing& out : outgoing_) {
        MPI_Waitall(static_cast<int>(out.requests.size()), out.requests.data(),
                    MPI_STATUSES_IGNORE);
    }
    outgoing_.clear();
}

void MpiGateExchange::DropCompleted() {
    while (!outgoing_.empty()) {
        Outgoing& out = outgoing_.front();
        int done = 0;
        MPI_Testall(static_cast<int>(out.requests.size()), out.requests.data(), &done,
                    MPI_STATUSES_IGNORE);
        if (done == 0) {
            return;
        }
        outgoing_.pop_front();
    }
}

}  // namespace bsppvs
