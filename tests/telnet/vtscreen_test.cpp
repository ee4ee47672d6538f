#include "telnet/vtscreen.h"

#include <gtest/gtest.h>

#include <QRandomGenerator>

namespace {

QByteArray numberedLines(int count) {
    QByteArray out;
    for (int i = 0; i < count; ++i)
        out += "line " + QByteArray::number(i) + "\r\n";
    return out;
}

} // namespace

// A new screen has the console's size, is blank and has its cursor at the top left.
TEST(VtScreenTest, StartsBlankWithConsoleSize) {
    VtScreen s;
    EXPECT_EQ(s.rows(), 7);
    EXPECT_EQ(s.cols(), 100);
    EXPECT_EQ(s.scrollbackLimit(), 1000);
    EXPECT_EQ(s.screenText(), QStringList(7, QString()));
    EXPECT_EQ(s.cursorRow(), 0);
    EXPECT_EQ(s.cursorCol(), 0);
    EXPECT_TRUE(s.cursorVisible());
}

// Text with CR LF fills rows; the cursor stands after the last character.
TEST(VtScreenTest, TextAndLineBreaks) {
    VtScreen s;
    const quint64 before = s.changeCount();
    s.feed("dbox login: root\r\n~ # ");
    EXPECT_EQ(s.rowText(0), "dbox login: root");
    EXPECT_EQ(s.rowText(1), "~ #");
    EXPECT_EQ(s.cursorRow(), 1);
    EXPECT_EQ(s.cursorCol(), 4);
    EXPECT_GT(s.changeCount(), before);
    EXPECT_EQ(s.rowText(-1), QString());
    EXPECT_EQ(s.rowText(7), QString());
}

// A bare LF moves down without returning; a bare CR returns and overwrites.
TEST(VtScreenTest, BareLineFeedAndCarriageReturn) {
    VtScreen s;
    s.feed("abc\ndef");
    EXPECT_EQ(s.rowText(0), "abc");
    EXPECT_EQ(s.rowText(1), "   def");
    s.feed("\rX");
    EXPECT_EQ(s.rowText(1), "X  def");
}

// Lines scrolled off the top land in the scroll-back, oldest first.
TEST(VtScreenTest, ScrolledLinesGoToScrollback) {
    VtScreen s;
    s.feed(numberedLines(20));
    // 20 line breaks on 7 rows: rows 0..5 hold lines 14..19, the cursor row is empty.
    EXPECT_EQ(s.rowText(0), "line 14");
    EXPECT_EQ(s.rowText(5), "line 19");
    EXPECT_EQ(s.rowText(6), QString());
    ASSERT_EQ(s.scrollbackCount(), 14);
    EXPECT_EQ(s.scrollbackLine(0), "line 0");
    EXPECT_EQ(s.scrollbackLine(13), "line 13");
    EXPECT_EQ(s.scrollbackLine(14), QString());
}

// The scroll-back keeps only its limit of newest lines.
TEST(VtScreenTest, ScrollbackIsBounded) {
    VtScreen s(7, 100, 3);
    s.feed(numberedLines(50));
    ASSERT_EQ(s.scrollbackCount(), 3);
    EXPECT_EQ(s.scrollbackLine(0), "line 41");
    EXPECT_EQ(s.scrollbackLine(2), "line 43");

    VtScreen big;
    big.feed(numberedLines(3000));
    EXPECT_EQ(big.scrollbackCount(), 1000);
    EXPECT_EQ(big.scrollbackLine(999), "line 2993");
}

// Cursor addressing, erase and a line longer than the screen, which wraps.
TEST(VtScreenTest, CursorAddressingEraseAndWrap) {
    VtScreen s;
    s.feed("junk\x1b[2J\x1b[3;5HX");
    EXPECT_EQ(s.rowText(0), QString());
    EXPECT_EQ(s.rowText(2), "    X");
    EXPECT_EQ(s.cursorRow(), 2);
    EXPECT_EQ(s.cursorCol(), 5);
    s.feed("\x1b[H" + QByteArray(150, 'a'));
    EXPECT_EQ(s.rowText(0), QString(100, 'a'));
    EXPECT_EQ(s.rowText(1), QString(50, 'a'));
    s.feed("\x1b[?25l");
    EXPECT_FALSE(s.cursorVisible());
}

// Colours: default black on white, SGR red and reverse per cell.
TEST(VtScreenTest, CellColoursAndAttributes) {
    VtScreen s;
    s.feed("a\x1b[31;1mR\x1b[0;7mV");
    const VtScreen::Cell plain = s.cell(0, 0);
    EXPECT_EQ(plain.text, "a");
    EXPECT_TRUE(plain.defaultFg);
    EXPECT_TRUE(plain.defaultBg);
    EXPECT_EQ(plain.fg, 0x000000u);
    EXPECT_EQ(plain.bg, 0xffffffu);
    const VtScreen::Cell red = s.cell(0, 1);
    EXPECT_EQ(red.text, "R");
    EXPECT_FALSE(red.defaultFg);
    EXPECT_TRUE(red.bold);
    EXPECT_GT(red.fg >> 16, 0x80u); // mostly red
    EXPECT_EQ(red.fg & 0xffffu, 0u);
    EXPECT_TRUE(s.cell(0, 2).reverse);
    EXPECT_EQ(s.cell(0, 3).text, QString());
    EXPECT_EQ(s.cell(-1, 0).text, QString());
    EXPECT_EQ(s.cell(0, 100).text, QString());
}

// UTF-8 text, including a wide character that takes two cells.
TEST(VtScreenTest, Utf8AndWideCharacters) {
    VtScreen s;
    s.feed("caf\xc3\xa9 \xe6\x97\xa5!");
    EXPECT_EQ(s.rowText(0), QString::fromUtf8("caf\xc3\xa9 \xe6\x97\xa5!"));
    EXPECT_EQ(s.cell(0, 5).width, 2);
    EXPECT_EQ(s.cell(0, 7).text, "!");
}

// Device queries are answered through the output, which the console sends to the peer.
TEST(VtScreenTest, AnswersDeviceQueries) {
    VtScreen s;
    s.feed("\x1b[3;7H\x1b[6n");
    EXPECT_EQ(s.takeOutput(), "\x1b[3;7R");
    s.feed("\x1b[c");
    EXPECT_TRUE(s.takeOutput().startsWith("\x1b[?"));
    EXPECT_TRUE(s.takeOutput().isEmpty());
}

// Typed keys give the bytes a VT100 sends, following the cursor-key mode.
TEST(VtScreenTest, TypedKeys) {
    VtScreen s;
    s.typeKey(VtKey::Up);
    EXPECT_EQ(s.takeOutput(), "\x1b[A");
    s.feed("\x1b[?1h"); // application cursor keys
    s.typeKey(VtKey::Up);
    EXPECT_EQ(s.takeOutput(), "\x1bOA");
    s.typeKey(VtKey::Enter);
    EXPECT_EQ(s.takeOutput(), "\r");
    s.typeChar(U'c', true);
    EXPECT_EQ(s.takeOutput(), "\x03");
    s.typeChar(U'\u00e9');
    EXPECT_EQ(s.takeOutput(), "\xc3\xa9");
}

// Resizing clamps silly sizes and keeps the screen usable.
TEST(VtScreenTest, ResizeIsClamped) {
    VtScreen s(0, 100000, -5);
    EXPECT_EQ(s.rows(), 1);
    EXPECT_EQ(s.cols(), VtScreen::kMaxCols);
    EXPECT_EQ(s.scrollbackLimit(), 0);
    s.resize(100000, 0);
    EXPECT_EQ(s.rows(), VtScreen::kMaxRows);
    EXPECT_EQ(s.cols(), 1);
    s.resize(7, 100);
    s.feed("ok");
    EXPECT_EQ(s.rowText(0), "ok");
}

// Random bytes, an endless string sequence and a query flood leave a bounded, working screen.
TEST(VtScreenTest, HostileInputStaysBounded) {
    VtScreen s;
    QRandomGenerator rng(4711);
    QByteArray noise(1 << 20, '\0');
    for (char& c : noise)
        c = char(rng.bounded(256));
    s.feed(noise);
    EXPECT_EQ(s.rows(), 7);
    EXPECT_EQ(s.cols(), 100);
    for (const QString& row : s.screenText())
        EXPECT_LE(row.size(), 100 * 6);
    EXPECT_LE(s.scrollbackCount(), 1000);
    EXPECT_LE(s.takeOutput().size(), VtScreen::kMaxOutput);

    s.reset();
    s.feed("\x1b]0;" + QByteArray(1 << 20, 'x') + "\x07" + "\x1b[2J\x1b[Hafter");
    EXPECT_EQ(s.rowText(0), "after");
    EXPECT_LE(s.title().size(), 256);

    QByteArray queries;
    for (int i = 0; i < 100000; ++i)
        queries += "\x1b[c";
    s.feed(queries);
    const QByteArray out = s.takeOutput();
    EXPECT_GT(out.size(), 0);
    EXPECT_LE(out.size(), VtScreen::kMaxOutput);
}
