// Feeds arbitrary bytes to the model reader. Beyond not crashing, leaking or tripping a
// sanitizer, every model the reader accepts must be writable, and writing is a fixed point
// after one pass: the first pass normalises what the format lets vary (nonzero flags,
// trailing bytes), so reading and writing the result again must give the same bytes.

#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "model/model_reader.h"
#include "model/model_writer.h"

namespace {

std::vector<uint8_t> Rewrite(std::span<const uint8_t> bytes, bool mustLoad) {
    std::string reason;
    const auto model = bsppvs::LoadModelFromBytes(bytes, reason);
    if (!model) {
        if (mustLoad || reason.empty()) {
            std::abort();
        }
        return {};
    }
    std::vector<uint8_t> written;
    if (!bsppvs::SaveModelToBytes(*model, written, reason)) {
        std::abort();
    }
    return written;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> once = Rewrite({data, size}, false);
    if (!once.empty() && Rewrite(once, true) != once) {
        std::abort();
    }
    return 0;
}
