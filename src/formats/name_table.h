#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace bsppvs {

// The index of a name in one of a level mesh's name lists (groups or materials), added when
// new. A hash map instead of the list's own search keeps readers linear when a hostile
// file names a new group on every line. The empty name means none and gets -1.
class NameTable {
public:
    explicit NameTable(std::vector<std::string>& names) : names_(names) {
        for (size_t i = 0; i < names_.size(); ++i) {
            indices_.emplace(names_[i], static_cast<int32_t>(i));
        }
    }

    int32_t IndexOf(const std::string& name) {
        if (name.empty()) {
            return -1;
        }
        const auto [entry, added] = indices_.emplace(name, static_cast<int32_t>(names_.size()));
        if (added) {
            names_.push_back(name);
        }
        return entry->second;
    }

private:
    std::vector<std::string>& names_;
    std::unordered_map<std::string, int32_t> indices_;
};

}  // namespace bsppvs
