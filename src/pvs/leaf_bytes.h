#pragma once

// One byte per leaf, for the visibility pass's gates. A level of n leaves and p portals
// needs 4 * n * p bytes of them, hundreds of megabytes on large levels: taken one small
// array at a time, the system hands them out page by page and the page faults alone cost
// more than the flood. So all of a pass's arrays live in one zeroed block, which the
// system may back with large pages.

#include <sys/mman.h>

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <ostream>
#include <utility>
#include <vector>

namespace bsppvs {

// The leaves first to end - 1, outside which a byte-per-leaf array holds no ones. Passes
// over such arrays look at this range only. Empty (first == end) for an array of zeros.
struct LeafRange {
    int32_t first = 0;
    int32_t end = 0;

    bool Holds(int32_t leaf) const { return leaf >= first && leaf < end; }
    // Widens the range to hold leaf; an empty range becomes just that leaf.
    void Add(int32_t leaf) {
        if (first == end) {
            first = leaf;
            end = leaf + 1;
        } else {
            first = std::min(first, leaf);
            end = std::max(end, leaf + 1);
        }
    }
};

// A view of one byte per leaf inside a LeafByteStore, valid while the store keeps its block.
class LeafBytes {
public:
    LeafBytes() = default;
    LeafBytes(uint8_t* data, size_t size) : data_(data), size_(size) {}

    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    uint8_t* data() { return data_; }
    const uint8_t* data() const { return data_; }
    uint8_t& operator[](size_t i) { return data_[i]; }
    uint8_t operator[](size_t i) const { return data_[i]; }
    uint8_t* begin() { return data_; }
    uint8_t* end() { return data_ + size_; }
    const uint8_t* begin() const { return data_; }
    const uint8_t* end() const { return data_ + size_; }

    // Copies the bytes of other, which has the same size, into this view.
    void CopyFrom(const LeafBytes& other);

    friend bool operator==(const LeafBytes& a, const std::vector<uint8_t>& b);

private:
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

// Printed as the list of its bytes, so that failed comparisons say what differs.
std::ostream& operator<<(std::ostream& out, const LeafBytes& bytes);

// A zeroed block handed out as LeafBytes, front to back. Moving the store keeps its views
// valid; it cannot be copied, since the views would then point into someone else's block.
class LeafByteStore {
public:
    LeafByteStore() = default;
    ~LeafByteStore();
    LeafByteStore(LeafByteStore&& other) noexcept;
    LeafByteStore& operator=(LeafByteStore&& other) noexcept;
    LeafByteStore(const LeafByteStore&) = delete;
    LeafByteStore& operator=(const LeafByteStore&) = delete;

    // Drops the old block, views and all, and takes a new zeroed one of count * size
    // bytes. With largePages the system is asked to back it with large pages, which pays
    // when most of the block gets written; without, only the pages touched take memory.
    // Throws std::bad_alloc when the system refuses or the size does not fit.
    void Reset(size_t count, size_t size, bool largePages);
    // The next size bytes of the block; the block must have them left.
    LeafBytes Take(size_t size);

private:
    void Release();

    uint8_t* block_ = nullptr;
    size_t capacity_ = 0;
    size_t used_ = 0;
};

inline void LeafBytes::CopyFrom(const LeafBytes& other) {
    assert(other.size_ == size_);
    if (size_ != 0) {
        std::memcpy(data_, other.data_, size_);
    }
}

inline bool operator==(const LeafBytes& a, const std::vector<uint8_t>& b) {
    return a.size_ == b.size() && (a.size_ == 0 || std::memcmp(a.data_, b.data(), a.size_) == 0);
}

inline std::ostream& operator<<(std::ostream& out, const LeafBytes& bytes) {
    out << "{";
    for (size_t i = 0; i < bytes.size(); ++i) {
        out << (i == 0 ? "" : ", ") << int(bytes[i]);
    }
    return out << "}";
}

inline LeafByteStore::~LeafByteStore() {
    Release();
}

inline LeafByteStore::LeafByteStore(LeafByteStore&& other) noexcept
    : block_(std::exchange(other.block_, nullptr)),
      capacity_(std::exchange(other.capacity_, 0)),
      used_(std::exchange(other.used_, 0)) {}

inline LeafByteStore& LeafByteStore::operator=(LeafByteStore&& other) noexcept {
    if (this != &other) {
        Release();
        block_ = std::exchange(other.block_, nullptr);
        capacity_ = std::exchange(other.capacity_, 0);
        used_ = std::exchange(other.used_, 0);
    }
    return *this;
}

inline void LeafByteStore::Reset(size_t count, size_t size, bool largePages) {
    Release();
    if (size != 0 && count > SIZE_MAX / size) {
        throw std::bad_alloc();
    }
    const size_t capacity = count * size;
    if (capacity == 0) {
        return;
    }
    // Anonymous memory comes zeroed and is only backed when first touched, so the arrays
    // no one ever writes cost nothing. Large pages are a hint the system may ignore.
    void* block =
        ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) {
        throw std::bad_alloc();
    }
#ifdef MADV_HUGEPAGE
    if (largePages) {
        ::madvise(block, capacity, MADV_HUGEPAGE);
    }
#endif
    block_ = static_cast<uint8_t*>(block);
    capacity_ = capacity;
}

inline LeafBytes LeafByteStore::Take(size_t size) {
    assert(size <= capacity_ - used_);
    LeafBytes bytes(block_ + used_, size);
    used_ += size;
    return bytes;
}

inline void LeafByteStore::Release() {
    if (block_ != nullptr) {
        ::munmap(block_, capacity_);
    }
    block_ = nullptr;
    capacity_ = 0;
    used_ = 0;
}

}  // namespace bsppvs
