#include "model/ply_model.h"

#include <utility>

namespace bsppvs {

namespace {

// Mask of the bits of the running hash that are folded back in at each step.
constexpr uint32_t HASH_FOLD_MASK = 0xFFF00000u;
constexpr int HASH_SHIFT = 6;

}  // namespace

uint32_t HashName(const std::string& name) {
    uint32_t h = 0;
    for (const char byte : name) {
        // Bytes count as signed, so 0x80..0xFF extend to 0xFFFFFF80..0xFFFFFFFF.
        const auto c = static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(byte)));
        h = (h << HASH_SHIFT) ^ (h & HASH_FOLD_MASK) ^ c;
    }
    return h;
}

// Trees from files can hang a million nodes on one chain, so the subtrees are detached
// onto an explicit stack and each node dies with no links left to follow.
PlyNode::~PlyNode() {
    std::vector<std::unique_ptr<PlyNode>> pending;
    if (child) {
        pending.push_back(std::move(child));
    }
    if (sibling) {
        pending.push_back(std::move(sibling));
    }
    while (!pending.empty()) {
        std::unique_ptr<PlyNode> node = std::move(pending.back());
        pending.pop_back();
        if (node->child) {
            pending.push_back(std::move(node->child));
        }
        if (node->sibling) {
            pending.push_back(std::move(node->sibling));
        }
    }
}

PlyModel::~PlyModel() = default;

}  // namespace bsppvs
