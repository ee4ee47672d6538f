#pragma once

#include "telnet/vtscreen.h"

#include <QWidget>

class TelnetSession;

// The console: draws the VT100 screen of the telnet session cell by cell, scroll-back on the wheel and
// Shift+PageUp/PageDown, and sends typed keys to the receiver (no local echo). UI thread.
class TelnetView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kCharWidth = 8;
    static constexpr int kLineHeight = 10;
    static constexpr int kMarginX = 6;
    static constexpr int kMarginY = 4;

    explicit TelnetView(TelnetSession& session, QWidget* parent = nullptr);

    VtScreen& screen() { return m_screen; }
    // Rows scrolled back from the live screen (0: live).
    int scrollOffset() const { return m_scroll; }
    void setScrollOffset(int rows);
    // The text shown in a row of the view, scroll-back included.
    QString shownRow(int row) const;
    // Feeds one typed character as if pressed (Ctrl+C is code 3).
    void typeChar(char32_t c, bool ctrl = false);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    void flushOutput();

    TelnetSession& m_session;
    VtScreen m_screen;
    int m_scroll = 0;
};
