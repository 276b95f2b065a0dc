#pragma once

#include <cctype>
#include <string>

/// The text with every clock time "dd:dd:dd" replaced by "HH:MM:SS", so log lines can be
/// compared whole.
inline std::string maskTimes(std::string text) {
    const auto digit = [&](std::size_t i) {
        return std::isdigit(static_cast<unsigned char>(text[i])) != 0;
    };
    for (std::size_t i = 0; i + 8 <= text.size(); ++i) {
        if (digit(i) && digit(i + 1) && text[i + 2] == ':' && digit(i + 3) && digit(i + 4) &&
            text[i + 5] == ':' && digit(i + 6) && digit(i + 7)) {
            text.replace(i, 8, "HH:MM:SS");
            i += 7;
        }
    }
    return text;
}
