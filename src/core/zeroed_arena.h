#pragma once

// Zeroed pieces of many sizes, whose total is not known in advance, handed out from a list
// of large blocks. Pieces live until the arena is reset; none is freed on its own. Each
// block is mapped once, may be backed by large pages and is only backed where written, so
// a block's unused tail costs nothing. Threads may take pieces side by side.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "core/zeroed_block.h"

namespace bsppvs {

class ZeroedArena {
public:
    ZeroedArena() = default;
    // Pieces point into the blocks, and the lock cannot move.
    ZeroedArena(const ZeroedArena&) = delete;
    ZeroedArena& operator=(const ZeroedArena&) = delete;

    // Drops every block, pieces and all.
    void Reset() {
        const std::lock_guard<std::mutex> lock(mutex_);
        blocks_.clear();
        used_ = 0;
    }

    // size zeroed bytes, aligned to 8; nullptr for 0. Throws std::bad_alloc when the system
    // refuses a new block.
    uint8_t* Take(size_t size) {
        if (size == 0) {
            return nullptr;
        }
        size = (size + ALIGNMENT - 1) / ALIGNMENT * ALIGNMENT;
        const std::lock_guard<std::mutex> lock(mutex_);
        if (blocks_.empty() || blocks_.back().Left() < size) {
            // Blocks grow with what was taken so far, so that small levels map little and
            // large ones map few blocks.
            const size_t next = std::clamp(used_, MIN_BLOCK_BYTES, MAX_BLOCK_BYTES);
            blocks_.emplace_back().Reset(std::max(size, next), 1, true);
        }
        used_ += size;
        return blocks_.back().Take(size);
    }

    // Bytes handed out since the last reset, alignment included.
    size_t Used() const {
        const std::lock_guard<std::mutex> lock(mutex_);
        return used_;
    }

private:
    static constexpr size_t ALIGNMENT = 8;
    static constexpr size_t MIN_BLOCK_BYTES = size_t{1} << 20;
    static constexpr size_t MAX_BLOCK_BYTES = size_t{256} << 20;

    mutable std::mutex mutex_;
    std::vector<ZeroedBlock> blocks_;
    size_t used_ = 0;
};

}  // namespace bsppvs
