#include "colors.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

class ColorSwitch : public ::testing::Test {
protected:
    void TearDown() override { ansi::enableColor = false; }
};

} // namespace

TEST_F(ColorSwitch, OffByDefaultAndWritesNothing) {
    EXPECT_FALSE(ansi::enableColor);
    std::ostringstream os;
    os << ansi::color(ansi::CT_BOLD, ansi::CFG_BLACK) << C_RESET << ansi::color();
    EXPECT_EQ(os.str(), "");
}

TEST_F(ColorSwitch, OnWritesExactEscapes) {
    ansi::enableColor = true;
    const std::pair<ansi::color, const char*> table[] = {
        {ansi::color(ansi::CT_INVERT, ansi::CFG_RED), "\x1b[;7;31m"},
        {ansi::color(ansi::CT_BOLD, ansi::CFG_BLACK), "\x1b[;1;30m"},
        {ansi::color(ansi::CBG_BLUE, ansi::CFG_YELLOW), "\x1b[;44;33m"},
        {ansi::color(ansi::CT_REVERSE), "\x1b[;3m"},
        {ansi::color(), "\x1b[m"},
    };
    for (const auto& [c, text] : table) {
        std::ostringstream os;
        os << c;
        EXPECT_EQ(os.str(), text);
    }
    std::ostringstream os;
    os << C_RESET;
    EXPECT_EQ(os.str(), "\x1b[m");
}
