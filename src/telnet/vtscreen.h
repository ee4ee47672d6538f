#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

// Keys of the console that send escape sequences rather than a character.
enum class VtKey {
    Enter,
    Tab,
    Backspace,
    Escape,
    Up,
    Down,
    Left,
    Right,
    Insert,
    Delete,
    Home,
    End,
    PageUp,
    PageDown,
};

// A VT100 screen model: the receiver's bytes go in; rows of text, cell colours, the cursor and a bounded
// scroll-back come out for the console widget to draw. Keys typed into the console become the bytes owed
// to the peer (takeOutput), together with the terminal's answers to device queries. One thread (the UI's).
class VtScreen {
public:
    static constexpr int kDefaultRows = 7;
    static constexpr int kDefaultCols = 100;
    static constexpr int kDefaultScrollback = 1000;
    // Sizes beyond these are clamped, so a bad resize cannot ask for gigabytes of cells.
    static constexpr int kMaxRows = 500;
    static constexpr int kMaxCols = 1000;
    // Bytes owed to the peer kept at most; a flood of device queries from a peer that never reads is cut.
    static constexpr qsizetype kMaxOutput = 64 * 1024;

    struct Cell {
        QString text;    // empty for a blank cell, or the right half of a wide character
        uint32_t fg = 0; // 0xRRGGBB
        uint32_t bg = 0;
        bool defaultFg = true;
        bool defaultBg = true;
        bool bold = false;
        bool underline = false;
        bool italic = false;
        bool reverse = false;
        int width = 1;
    };

    explicit VtScreen(int rows = kDefaultRows, int cols = kDefaultCols, int scrollbackRows = kDefaultScrollback);
    ~VtScreen();
    VtScreen(const VtScreen&) = delete;
    VtScreen& operator=(const VtScreen&) = delete;

    // Interprets received bytes (UTF-8 text and VT100/ANSI control sequences); any byte string is safe.
    void feed(const QByteArray& bytes);
    // Hard reset: blank screen, cursor home, scroll-back kept.
    void reset();

    int rows() const;
    int cols() const;
    void resize(int rows, int cols);

    // One visible row without its trailing blanks; empty for a row out of range.
    QString rowText(int row) const;
    QStringList screenText() const;
    Cell cell(int row, int col) const;

    int cursorRow() const;
    int cursorCol() const;
    bool cursorVisible() const;

    // Lines scrolled off the top, oldest first, at most the scroll-back size.
    int scrollbackCount() const;
    QString scrollbackLine(int index) const;
    int scrollbackLimit() const;

    // Typed input in the terminal's current modes (e.g. application cursor keys); collected for takeOutput.
    void typeChar(char32_t c, bool ctrl = false);
    void typeKey(VtKey key);
    QByteArray takeOutput();

    // Grows with every change of the visible screen or cursor, so a view knows when to repaint.
    quint64 changeCount() const;
    // Rings of the bell since the last call.
    int takeBells();
    // The window title an OSC sequence set, if any.
    QString title() const;

    // Default colours (0xRRGGBB) for cells without a colour of their own; the console is black on white.
    void setDefaultColors(uint32_t fg, uint32_t bg);

private:
    void keepCursorOnScreen();
    void moveCursor(int row, int col);

    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
