#include "model/binary_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <new>

namespace bsppvs {

namespace {

// The size of an open regular file, leaving the position at its start; -1 if it cannot be
// told (a directory, a pipe or a device has no size to trust).
long FileSize(std::FILE* file) {
    struct stat info {};
    if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) {
        return -1;
    }
    if (std::fseek(file, 0, SEEK_END) != 0) {
        return -1;
    }
    const long size = std::ftell(file);
    if (std::fseek(file, 0, SEEK_SET) != 0) {
        return -1;
    }
    return size;
}

}  // namespace

BinaryFile::BinaryFile(std::span<const uint8_t> bytes)
    : memoryOpen_(true), memory_(bytes), size_(bytes.size()) {}

BinaryFile::~BinaryFile() {
    Close();
}

bool BinaryFile::Open(const std::string& fileName, int mode) {
    Close();
    error_.clear();
    if (mode != MODE_WRITE && mode != MODE_READ) {
        error_ = "unknown mode " + std::to_string(mode);
        return false;
    }
    writing_ = mode == MODE_WRITE;
    errno = 0;
    file_ = std::fopen(fileName.c_str(), writing_ ? "wb" : "rb");
    if (file_ == nullptr) {
        error_ = errno != 0 ? std::strerror(errno) : "unknown error";
        return false;
    }
    if (!writing_) {
        const long size = FileSize(file_);
        if (size < 0) {
            error_ = "not a regular file";
            Close();
            return false;
        }
        // The whole input is read at once: the reader takes it field by field, and one
        // block read is far cheaper than a library call per field.
        try {
            owned_.resize(static_cast<size_t>(size));
        } catch (const std::bad_alloc&) {
            error_ = "file too large to read into memory";
            Close();
            return false;
        }
        errno = 0;
        if (size > 0 && std::fread(owned_.data(), 1, owned_.size(), file_) != owned_.size()) {
            error_ = errno != 0 ? std::strerror(errno) : "cannot read the whole file";
            Close();
            return false;
        }
        std::fclose(file_);
        file_ = nullptr;
        memoryOpen_ = true;
        memory_ = owned_;
        size_ = owned_.size();
    }
    return true;
}

bool BinaryFile::Close() {
    bool ok = true;
    if (file_ != nullptr) {
        ok = std::fclose(file_) == 0;
        file_ = nullptr;
    }
    memoryOpen_ = false;
    memory_ = {};
    owned_.clear();
    owned_.shrink_to_fit();
    size_ = 0;
    position_ = 0;
    writing_ = false;
    return ok;
}

bool BinaryFile::Read(void* destination, size_t width) {
    if (!IsOpen() || writing_) {
        return false;
    }
    if (width > BytesRemaining()) {
        position_ = size_;
        return false;
    }
    if (memoryOpen_) {
        if (width > 0) {
            std::memcpy(destination, memory_.data() + position_, width);
        }
    } else if (std::fread(destination, 1, width, file_) != width) {
        // The file shrank under us: treat the rest as gone.
        position_ = size_;
        return false;
    }
    position_ += width;
    return true;
}

bool BinaryFile::Write(const void* source, size_t width) {
    if (file_ == nullptr || !writing_) {
        return false;
    }
    return std::fwrite(source, 1, width, file_) == width;
}

}  // namespace bsppvs
