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

namespace {

QByteArray csiWithParameters(int count, char separator) {
    QByteArray seq = "\x1b[";
    for (int k = 0; k < count; ++k) {
        if (k > 0)
            seq += separator;
        seq += k == count - 1 ? "1" : "0";
    }
    return seq + 'm';
}

} // namespace

// The terminal library keeps 16 parameters of a sequence and wrote past them (the fuzzer's
// "ESC [1;3:::...:2m"): such a sequence is dropped whole, the text around it still shows, and
// sequences within the limit still work, also when split across pieces.
TEST(VtScreenParameters, OverlongSequencesDroppedOthersKept) {
    for (const char separator : {';', ':'}) {
        SCOPED_TRACE(separator);
        VtScreen screen(7, 40, 20);
        screen.feed("a" + csiWithParameters(17, separator) + "b");
        EXPECT_EQ(screen.rowText(0), QStringLiteral("ab"));
        EXPECT_FALSE(screen.cell(0, 1).bold);
        screen.feed("\x1b[1;3" + QByteArray(40, separator) + "2mc");
        EXPECT_EQ(screen.rowText(0), QStringLiteral("abc"));
        EXPECT_FALSE(screen.cell(0, 2).bold);
    }
    VtScreen screen(7, 40, 20);
    // Sixteen parameters, the last one bold, fed a byte at a time.
    for (const char ch : csiWithParameters(16, ';') + "d")
        screen.feed(QByteArray(1, ch));
    EXPECT_EQ(screen.rowText(0), QStringLiteral("d"));
    EXPECT_TRUE(screen.cell(0, 0).bold);
    // A sequence longer than any real one goes too; a line break inside one is still carried out.
    screen.feed("\x1b[" + QByteArray(300, '1') + "\r\nmX");
    EXPECT_EQ(screen.rowText(1), QStringLiteral("X"));
    // A control between the escape and its bracket still opens the sequence.
    screen.feed("\x1b\x15[1;3" + QByteArray(20, ':') + "mZ");
    EXPECT_TRUE(screen.rowText(1).endsWith(QLatin1Char('Z')));
    screen.feed("\x1b#[" + QByteArray(20, ':') + "mW");
    screen.feed("\x1b\xff\xff[" + QByteArray(20, ':') + "m");
    EXPECT_TRUE(screen.rowText(1).endsWith(QLatin1Char('W')));
    // However many stray high bytes follow an escape, the terminal still holds it open and a
    // later bracket opens a sequence, which must still be counted.
    screen.feed("\x1b[m\x1b" + QByteArray(400, '\xff') + QByteArray("\x01\x00[1;3", 6) + QByteArray(20, ':') + "mV");
    EXPECT_TRUE(screen.rowText(1).endsWith(QStringLiteral("WV")));
    EXPECT_FALSE(screen.cell(1, screen.rowText(1).size() - 1).bold);
    EXPECT_FALSE(screen.cell(1, screen.rowText(1).size() - 1).italic);
    // An escape followed by another and a dropped sequence leaves nothing open: the "8" after
    // them is text, not a cursor restore.
    screen.feed("\x1b\x1b[\xff"
                "8");
    EXPECT_EQ(screen.rowText(1).right(2), QStringLiteral("V8"));
    // An escape cut off by the end of a piece goes on in the next.
    screen.feed("\x1b");
    screen.feed("[2J\x1b[HY");
    EXPECT_EQ(screen.rowText(0), QStringLiteral("Y"));
}

// Margins the peer set for a larger console are gone after a shrink, as in xterm; the cursor
// stays where it was.
TEST(VtScreenParameters, ResizeResetsMargins) {
    VtScreen screen(7, 40, 20);
    screen.feed("\x1b[2;6r\x1b[?69h\x1b[5;30s\x1b[3;4Hx");
    screen.resize(3, 10);
    EXPECT_EQ(screen.cursorRow(), 2);
    EXPECT_EQ(screen.cursorCol(), 4);
    // Line feeds at the bottom scroll the whole screen now, and character inserts work on it.
    screen.feed("\r\na\r\nb\r\nc\x1b[1;1H\x1b[5@\x1b[3M");
    EXPECT_EQ(screen.rows(), 3);
    screen.feed("\x1b[3;1Hlast");
    EXPECT_EQ(screen.rowText(2), QStringLiteral("last"));
}

// "Repeat the last glyph" sends that glyph again. Before any glyph it does nothing (libvterm
// looped for ever), a wide glyph repeated across the line end wraps (libvterm wrote through a
// null pointer), and a huge count fills the screen at most.
TEST(VtScreenParameters, RepeatSendsTheLastGlyphAgain) {
    VtScreen screen(7, 40, 20);
    screen.feed("\x1b[3b");
    EXPECT_EQ(screen.cursorCol(), 0);
    screen.feed("x\x1b[2b");
    EXPECT_EQ(screen.rowText(0), QStringLiteral("xxx"));
    // The glyph last sent, not the cell left of the cursor; the first parameter counts, 0 is once.
    screen.feed("\x1b[1;10H\x1b[b\x1b[0;5b");
    EXPECT_EQ(screen.rowText(0), QStringLiteral("xxx      xx"));
    screen.reset();
    screen.feed("\x1b[b\r\nok");
    EXPECT_EQ(screen.rowText(1), QStringLiteral("ok"));
    // DEL inside the sequence is skipped by the terminal: still a repeat, here of nothing.
    screen.reset();
    screen.feed("\x1b[\x7f"
                "b\r\nok\x1b[2\x7f"
                "b");
    EXPECT_EQ(screen.rowText(1), QStringLiteral("okkk"));

    screen.reset();
    screen.feed("A\xe4\xb8\x80\x1b[39b"); // U+4E00, two cells wide
    EXPECT_EQ(screen.rowText(0), QStringLiteral("A") + QString(19, QChar(0x4e00)));
    EXPECT_EQ(screen.rowText(1), QString(20, QChar(0x4e00)));
    EXPECT_EQ(screen.rowText(2), QString(1, QChar(0x4e00)));
    // Intermediates before the '[' are forgotten by the terminal: still a repeat.
    screen.reset();
    screen.feed("A\xe4\xb8\x80\x1b#[39b");
    EXPECT_EQ(screen.rowText(1), QString(20, QChar(0x4e00)));
    screen.reset();
    screen.feed("z\x1b #\x1b#[2bq");
    EXPECT_EQ(screen.rowText(0), QStringLiteral("zzzq"));
    // A glyph split across pieces, and a repeat while the next one is still unfinished.
    screen.reset();
    screen.feed("\xc3");
    screen.feed("\xa9\x1b[2b\xe2\x82\x1b[3b\xac");
    EXPECT_EQ(screen.rowText(0), QStringLiteral("\u00e9\u00e9\u00e9\u20ac"));

    screen.reset();
    screen.feed("\xb7\xe4\xb7\xb7\x1b[111b"); // the fuzzer's input
    screen.feed("y\x1b[99999999999999999999b\r\nend");
    EXPECT_EQ(screen.rowText(0), QString(40, QLatin1Char('y')));
    EXPECT_EQ(screen.rowText(screen.cursorRow()), QStringLiteral("end"));
}

// A cursor the peer saved stays saved across a resize; one saved below the new last row comes
// back on the screen, and the text after it lands there (libvterm drew outside its cells).
TEST(VtScreenParameters, SavedCursorAcrossResize) {
    VtScreen screen(24, 40, 20);
    screen.feed("\x1b[2;3H\0337\x1b[H");
    screen.resize(5, 20);
    screen.feed("\0338Y");
    EXPECT_EQ(screen.rowText(1), QStringLiteral("  Y"));

    screen.resize(24, 40);
    screen.feed("\x1b[20;30H\0337\x1b[H");
    screen.resize(6, 15);
    screen.feed("\0338X");
    ASSERT_GE(screen.cursorRow(), 0);
    ASSERT_LT(screen.cursorRow(), 6);
    EXPECT_EQ(screen.rowText(5), QStringLiteral("              X"));
}

// C1 controls written in UTF-8 have no glyph and are dropped, also split across pieces; other
// characters with the same lead byte still show.
TEST(VtScreenParameters, Utf8C1ControlsDropped) {
    VtScreen screen(5, 20, 0);
    screen.feed("\xc2\x93x");
    EXPECT_EQ(screen.cursorCol(), 1);
    screen.feed("ab\xc2\x80\xc2\x9f");
    screen.feed("\xc2");
    screen.feed("\x9b"
                "c\xc2");
    screen.feed("\xa9"
                "d\xc2\xc2\xa0");
    EXPECT_EQ(screen.rowText(0), QStringLiteral(u"xabc\u00a9d\ufffd\u00a0"));
    EXPECT_EQ(screen.cursorCol(), 8);
    // The terminal finishes a character after controls and escapes that came between its bytes,
    // and a high byte ends a control sequence; at the start of a line the control went left.
    const std::pair<QByteArray, int> cases[] = {
        {QByteArray(1, '\0'), 0}, {"\a\x7f", 0}, {"\x1b[1C", 1}, {QByteArray("\x1b") + '7', 0}, {"\x1b[1\xc2", 0}};
    for (const auto& [between, zAt] : cases) {
        SCOPED_TRACE(between.toHex().toStdString());
        VtScreen other(5, 20, 0);
        other.feed("\xc2" + between);
        other.feed("\x93z");
        EXPECT_EQ(other.cursorCol(), zAt + 1);
        EXPECT_EQ(other.rowText(0), QString(zAt, QLatin1Char(' ')) + QLatin1Char('z'));
    }
    // A lead byte left without its second byte is not paired with a later one.
    VtScreen lone(5, 20, 0);
    lone.feed("\xc2\xc2\x93\x93z");
    EXPECT_EQ(lone.rowText(0), QStringLiteral(u"\ufffd\ufffdz"));
}
