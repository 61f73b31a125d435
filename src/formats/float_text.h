#pragma once

#include <charconv>
#include <string>
#include <system_error>

namespace bsppvs {

// Appends the shortest decimal text that reads back to exactly this float.
inline void AppendShortestFloat(std::string& text, float value) {
    char buffer[32];
    const std::to_chars_result written = std::to_chars(buffer, buffer + sizeof buffer, value);
    text.append(buffer, written.ec == std::errc() ? written.ptr : buffer);
}

}  // namespace bsppvs
