#pragma once
// ANSI colour escapes behind one process-wide switch.

#include <ostream>
#include <vector>

namespace ansi {

/// When false (the start value), nothing of this module reaches any output.
extern bool enableColor;

/// A fixed escape sequence.
struct cmd {
    explicit constexpr cmd(const char* text) : str(text) {}
    const char* str;
};

/// A selection of SGR codes, written as ESC "[" codes... "m".
struct color {
    template <class... Codes> explicit color(Codes... codes) : m_colors{codes...} {}
    std::vector<const char*> m_colors;
};

constexpr const char* CT_NORMAL = ";0";
constexpr const char* CT_BOLD = ";1";
constexpr const char* CT_REVERSE = ";3";
constexpr const char* CT_ULINE = ";4";
constexpr const char* CT_BLINK = ";5";
constexpr const char* CT_INVERT = ";7";

constexpr const char* CFG_BLACK = ";30";
constexpr const char* CFG_RED = ";31";
constexpr const char* CFG_GREEN = ";32";
constexpr const char* CFG_YELLOW = ";33";
constexpr const char* CFG_BLUE = ";34";
constexpr const char* CFG_MAGENTA = ";35";
constexpr const char* CFG_CYAN = ";36";
constexpr const char* CFG_WHITE = ";37";

constexpr const char* CBG_BLACK = ";40";
constexpr const char* CBG_RED = ";41";
constexpr const char* CBG_GREEN = ";42";
constexpr const char* CBG_YELLOW = ";43";
constexpr const char* CBG_BLUE = ";44";
constexpr const char* CBG_MAGENTA = ";45";
constexpr const char* CBG_CYAN = ";46";
constexpr const char* CBG_WHITE = ";47";

/// ESC "[" "m": back to the terminal's defaults.
extern const cmd C_RESET;

std::ostream& operator<<(std::ostream& os, const color& c);
std::ostream& operator<<(std::ostream& os, const cmd& c);

} // namespace ansi

using ansi::C_RESET;
