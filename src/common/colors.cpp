#include "colors.h"

namespace ansi {

bool enableColor;

const cmd C_RESET("\x1b[m");

std::ostream& operator<<(std::ostream& os, const color& c) {
    if (enableColor) {
        os << "\x1b[";
        for (const char* code : c.m_colors) {
            os << code;
        }
        os << 'm';
    }
    return os;
}

std::ostream& operator<<(std::ostream& os, const cmd& c) {
    if (enableColor) {
        os << c.str;
    }
    return os;
}

} // namespace ansi
