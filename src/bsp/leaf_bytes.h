#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <vector>

namespace bsppvs {

// A view of one byte per leaf, indexed by leaf index, in storage someone else owns (the
// visibility pass keeps all of its arrays in one block). Valid while that storage lives.
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
    void CopyFrom(const LeafBytes& other) {
        assert(other.size_ == size_ && "only views of one length are copied");
        if (size_ != 0) {
            std::memcpy(data_, other.data_, size_);
        }
    }

    friend bool operator==(const LeafBytes& a, const std::vector<uint8_t>& b) {
        return a.size_ == b.size() &&
               (a.size_ == 0 || std::memcmp(a.data_, b.data(), a.size_) == 0);
    }

    // Printed as the list of its bytes, so that failed comparisons say what differs.
    friend std::ostream& operator<<(std::ostream& out, const LeafBytes& bytes) {
        out << "{";
        for (size_t i = 0; i < bytes.size(); ++i) {
            out << (i == 0 ? "" : ", ") << int(bytes[i]);
        }
        return out << "}";
    }

private:
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

}  // namespace bsppvs
