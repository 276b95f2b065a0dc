#pragma once
// Conversion of value texts into the types an argument can be bound to.

#include <sstream>
#include <string>
#include <type_traits>

namespace knob {
namespace detail {

/// Any text is a valid string, the empty one included.
inline bool setValue(const std::string& text, std::string& variable) {
    variable = text;
    return true;
}

/// A number, read with the formatted extraction of T. Leading white space is skipped; anything
/// after the number, out-of-range values and (for unsigned T) a minus sign refuse the text.
/// The variable is written only when the text is accepted.
template <class T> bool setValue(const std::string& text, T& variable) {
    static_assert(std::is_arithmetic<T>::value, "no conversion for this type");
    std::istringstream in(text);
    if (std::is_unsigned<T>::value) {
        // The extraction would wrap "-1" silently to the largest value of T.
        in >> std::ws;
        if (in.peek() == '-') {
            return false;
        }
    }
    T value{};
    in >> value;
    if (in.fail() || !in.eof()) {
        return false;
    }
    variable = value;
    return true;
}

} // namespace detail
} // namespace knob
