#pragma once

// One large zeroed block of memory handed out front to back. Many small arrays taken one
// at a time cost a page fault each as the system hands them out page by page; taken from
// one block, which the system may back with large pages, they cost far fewer. Anonymous
// memory comes zeroed and is only backed once touched, so pieces nobody writes cost
// nothing.

#include <sys/mman.h>

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

namespace bsppvs {

class ZeroedBlock {
public:
    ZeroedBlock() = default;
    ~ZeroedBlock() { Release(); }
    ZeroedBlock(ZeroedBlock&& other) noexcept
        : block_(std::exchange(other.block_, nullptr)),
          capacity_(std::exchange(other.capacity_, 0)),
          used_(std::exchange(other.used_, 0)) {}
    ZeroedBlock& operator=(ZeroedBlock&& other) noexcept {
        if (this != &other) {
            Release();
            block_ = std::exchange(other.block_, nullptr);
            capacity_ = std::exchange(other.capacity_, 0);
            used_ = std::exchange(other.used_, 0);
        }
        return *this;
    }
    // Pieces point into the block, so it cannot be copied.
    ZeroedBlock(const ZeroedBlock&) = delete;
    ZeroedBlock& operator=(const ZeroedBlock&) = delete;

    // Drops the old block, pieces and all, and takes a new zeroed one of count * size
    // bytes. With largePages the system is asked to back it with large pages, which pays
    // when most of the block gets written. Throws std::bad_alloc when the system refuses
    // or the size does not fit.
    void Reset(size_t count, size_t size, bool largePages) {
        Release();
        if (size != 0 && count > SIZE_MAX / size) {
            throw std::bad_alloc();
        }
        const size_t capacity = count * size;
        if (capacity == 0) {
            return;
        }
        void* block =
            ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (block == MAP_FAILED) {
            throw std::bad_alloc();
        }
#ifdef MADV_HUGEPAGE
        if (largePages) {
            ::madvise(block, capacity, MADV_HUGEPAGE);  // a hint the system may ignore
        }
#endif
        block_ = static_cast<uint8_t*>(block);
        capacity_ = capacity;
    }

    // The next size bytes of the block, zeroed; the block must have them left.
    uint8_t* Take(size_t size) {
        assert(size <= capacity_ - used_ && "a zeroed block hands out only what it holds");
        uint8_t* piece = block_ + used_;
        used_ += size;
        return piece;
    }

    size_t Capacity() const {
        return capacity_;
    }
    // Bytes not yet handed out.
    size_t Left() const {
        return capacity_ - used_;
    }

private:
    void Release() {
        if (block_ != nullptr) {
            ::munmap(block_, capacity_);
        }
        block_ = nullptr;
        capacity_ = 0;
        used_ = 0;
    }

    uint8_t* block_ = nullptr;
    size_t capacity_ = 0;
    size_t used_ = 0;
};

}  // namespace bsppvs
