#include "telnet/telnetview.h"

#include "telnet/telnetsession.h"

#include <QKeyEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>

TelnetView::TelnetView(TelnetSession& session, QWidget* parent)
    : QWidget(parent)
    , m_session(session) {
    setObjectName(QStringLiteral("Telnet"));
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Black on white, as the console has always looked.
    m_screen.setDefaultColors(0x000000, 0xffffff);
    QFont f(QStringLiteral("Terminal"));
    f.setStyleHint(QFont::TypeWriter);
    f.setPixelSize(kLineHeight);
    setFont(f);
    connect(&m_session, &TelnetSession::received, this, [this](const QByteArray& data) {
        m_screen.feed(data);
        flushOutput(); // the terminal's answers to device queries
        m_scroll = 0;
        update();
    });
    connect(&m_session, &TelnetSession::connectionChanged, this, [this](bool connected) {
        if (connected)
            m_session.setWindowSize(m_screen.cols(), m_screen.rows());
    });
}

QSize TelnetView::sizeHint() const {
    return {2 * kMarginX + m_screen.cols() * kCharWidth, 2 * kMarginY + m_screen.rows() * kLineHeight};
}

void TelnetView::setScrollOffset(int rows) {
    m_scroll = std::clamp(rows, 0, m_screen.scrollbackCount());
    update();
}

QString TelnetView::shownRow(int row) const {
    const int back = m_screen.scrollbackCount();
    const int line = back - m_scroll + row; // index into scroll-back followed by the screen
    if (line < 0)
        return QString();
    if (line < back)
        return m_screen.scrollbackLine(line);
    return m_screen.rowText(line - back);
}

void TelnetView::flushOutput() {
    const QByteArray out = m_screen.takeOutput();
    if (!out.isEmpty())
        m_session.sendRaw(out);
}

void TelnetView::typeChar(char32_t c, bool ctrl) {
    m_screen.typeChar(c, ctrl);
    flushOutput();
}

bool TelnetView::focusNextPrevChild(bool) {
    return false; // Tab goes to the receiver's shell
}

void TelnetView::keyPressEvent(QKeyEvent* event) {
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    if (shift && (event->key() == Qt::Key_PageUp || event->key() == Qt::Key_PageDown)) {
        setScrollOffset(m_scroll + (event->key() == Qt::Key_PageUp ? 1 : -1) * m_screen.rows());
        return;
    }
    static const struct {
        int qt;
        VtKey vt;
    } keys[] = {{Qt::Key_Return, VtKey::Enter},     {Qt::Key_Enter, VtKey::Enter},
                {Qt::Key_Tab, VtKey::Tab},          {Qt::Key_Backspace, VtKey::Backspace},
                {Qt::Key_Escape, VtKey::Escape},    {Qt::Key_Up, VtKey::Up},
                {Qt::Key_Down, VtKey::Down},        {Qt::Key_Left, VtKey::Left},
                {Qt::Key_Right, VtKey::Right},      {Qt::Key_Insert, VtKey::Insert},
                {Qt::Key_Delete, VtKey::Delete},    {Qt::Key_Home, VtKey::Home},
                {Qt::Key_End, VtKey::End},          {Qt::Key_PageUp, VtKey::PageUp},
                {Qt::Key_PageDown, VtKey::PageDown}};
    for (const auto& k : keys) {
        if (event->key() == k.qt) {
            m_screen.typeKey(k.vt);
            flushOutput();
            return;
        }
    }
    if (event->modifiers() & Qt::ControlModifier && event->key() >= Qt::Key_A && event->key() <= Qt::Key_Z) {
        typeChar(char32_t(U'a' + (event->key() - Qt::Key_A)), true);
        return;
    }
    const QString text = event->text();
    if (text.isEmpty()) {
        QWidget::keyPressEvent(event);
        return;
    }
    for (const char32_t c : text.toUcs4())
        m_screen.typeChar(c);
    flushOutput();
}

void TelnetView::wheelEvent(QWheelEvent* event) {
    const int steps = event->angleDelta().y() / 40;
    setScrollOffset(m_scroll + steps);
}

void TelnetView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    const int back = m_screen.scrollbackCount();
    for (int row = 0; row < m_screen.rows(); ++row) {
        const int y = kMarginY + row * kLineHeight;
        const int line = back - m_scroll + row;
        if (line < back) {
            // Scroll-back keeps text only.
            p.setPen(Qt::black);
            p.drawText(QRect(kMarginX, y, width() - 2 * kMarginX, kLineHeight), Qt::AlignLeft | Qt::AlignVCenter,
                       line >= 0 ? m_screen.scrollbackLine(line) : QString());
            continue;
        }
        const int screenRow = line - back;
        for (int col = 0; col < m_screen.cols(); ++col) {
            const VtScreen::Cell c = m_screen.cell(screenRow, col);
            QColor fg = c.defaultFg ? QColor(Qt::black) : QColor::fromRgb(c.fg);
            QColor bg = c.defaultBg ? QColor(Qt::white) : QColor::fromRgb(c.bg);
            if (c.reverse)
                std::swap(fg, bg);
            const QRect cellRect(kMarginX + col * kCharWidth, y, kCharWidth * std::max(1, c.width), kLineHeight);
            if (bg != Qt::white)
                p.fillRect(cellRect, bg);
            if (!c.text.isEmpty()) {
                QFont f = font();
                f.setBold(c.bold);
                f.setUnderline(c.underline);
                f.setItalic(c.italic);
                p.setFont(f);
                p.setPen(fg);
                p.drawText(cellRect, Qt::AlignLeft | Qt::AlignVCenter, c.text);
            }
        }
    }
    if (m_scroll == 0 && m_screen.cursorVisible() && hasFocus()) {
        const QRect cur(kMarginX + m_screen.cursorCol() * kCharWidth, kMarginY + m_screen.cursorRow() * kLineHeight,
                        kCharWidth, kLineHeight);
        p.fillRect(cur, QColor(0, 0, 0, 110));
    }
}
