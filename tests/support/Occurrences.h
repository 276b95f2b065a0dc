#pragma once

#include <cstddef>
#include <string>

/// How often `part` (not empty) stands in `text`, overlapping places counted.
inline size_t occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}
