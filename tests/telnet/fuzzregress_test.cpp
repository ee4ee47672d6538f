// Inputs the terminal fuzzer found, kept so the faults stay fixed.
#include "telnet/vtscreen.h"

#include <gtest/gtest.h>

namespace {

struct ShrinkCase {
    const char* name;
    QByteArray before; // bytes received before the console is made smaller
    int rows;
    int cols;
};

class VtScreenShrink : public ::testing::TestWithParam<ShrinkCase> {};

// Text on the bottom rows and the cursor near the top: the shrink pushes lines into the
// scroll-back, which moved the cursor above the screen (row -1).
TEST_P(VtScreenShrink, CursorStaysOnTheScreenAndTextLandsThere) {
    const ShrinkCase& c = GetParam();
    VtScreen screen(7, 40, 20);
    screen.feed(c.before);
    screen.resize(c.rows, c.cols);
    ASSERT_EQ(screen.rows(), c.rows);
    EXPECT_GE(screen.cursorRow(), 0);
    EXPECT_LT(screen.cursorRow(), screen.rows());
    EXPECT_GE(screen.cursorCol(), 0);
    EXPECT_LE(screen.cursorCol(), screen.cols());
    const int row = screen.cursorRow();
    screen.feed("Z");
    EXPECT_TRUE(screen.rowText(row).contains(QLatin1Char('Z'))) << screen.screenText().join('|').toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Fuzz, VtScreenShrink,
    ::testing::Values(ShrinkCase{"TopCursorFullBottom", "\x1b[7;1Hbottom\x1b[6;1Hsecond\x1b[1;1H", 2, 20},
                      ShrinkCase{"ToOneRow", "a\r\nb\r\nc\r\nd\r\ne\r\nf\r\ng\x1b[H", 1, 40},
                      ShrinkCase{"HomeAfterClear", "\r\n\x1b[2J\x1b[Hx\x1b[5;1Hy\x1b[7;3Hz\x1b[H", 2, 20},
                      ShrinkCase{"NarrowAndLow", "\x1b[7;40Hq\x1b[2;39H", 3, 5}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
