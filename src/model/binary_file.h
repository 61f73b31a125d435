#pragma once

// A binary stream over a named file or over bytes already in memory. Reads and writes are
// block transfers of an exact width that either move every byte or report failure, and the
// stream knows how many bytes are left, so a reader can reject a count that the rest of the
// input could never hold before it allocates anything.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

namespace bsppvs {

class BinaryFile {
public:
    // Mode codes for Open; any other code leaves the stream closed.
    static constexpr int MODE_WRITE = 1;  // create or truncate, binary
    static constexpr int MODE_READ = 2;   // existing file, binary

    BinaryFile() = default;
    // A read-only stream over bytes the caller keeps alive for the stream's lifetime.
    explicit BinaryFile(std::span<const uint8_t> bytes);
    BinaryFile(const BinaryFile&) = delete;
    BinaryFile& operator=(const BinaryFile&) = delete;
    ~BinaryFile();

    // Opens fileName with a mode code. On failure the stream stays closed and Error() says
    // why.
    bool Open(const std::string& fileName, int mode);
    // Flushes and closes; false when buffered bytes could not be written.
    bool Close();
    bool IsOpen() const { return file_ != nullptr || memoryOpen_; }
    const std::string& Error() const { return error_; }

    // Reads exactly width bytes into destination. When fewer remain, destination is left
    // untouched, the stream moves to its end and the call returns false.
    bool Read(void* destination, size_t width);
    // Writes exactly width bytes; false on any short write or on a stream opened for reading.
    bool Write(const void* source, size_t width);
    // Bytes between the read position and the end of the input; 0 for a write stream.
    uint64_t BytesRemaining() const { return size_ - position_; }

private:
    std::FILE* file_ = nullptr;
    bool writing_ = false;
    bool memoryOpen_ = false;
    std::span<const uint8_t> memory_;
    std::vector<uint8_t> owned_;  // a named input file's bytes, read whole when it opens
    uint64_t size_ = 0;           // input size in bytes, fixed when the stream opens
    uint64_t position_ = 0;       // bytes consumed so far
    std::string error_;
};

}  // namespace bsppvs
