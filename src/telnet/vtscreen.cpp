#include "vtscreen.h"

#include <vterm.h>

#include <algorithm>
#include <deque>
#include <utility>
#include <vector>

namespace {

struct VTermDeleter {
    void operator()(VTerm* vt) const { vterm_free(vt); }
};

constexpr int kMaxTitle = 256;

uint32_t rgbOf(const VTermScreen* screen, VTermColor color) {
    vterm_screen_convert_color_to_rgb(screen, &color);
    return (uint32_t(color.rgb.red) << 16) | (uint32_t(color.rgb.green) << 8) | uint32_t(color.rgb.blue);
}

VTermColor colorOf(uint32_t rgb) {
    VTermColor c;
    vterm_color_rgb(&c, uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb));
    return c;
}

// The characters of a row of cells, trailing blanks removed; the right half of a wide glyph adds nothing.
QString textOfCells(const VTermScreenCell* cells, int count) {
    QString out;
    for (int i = 0; i < count; ++i) {
        const VTermScreenCell& c = cells[i];
        if (c.chars[0] == 0) {
            out += QLatin1Char(' ');
            continue;
        }
        for (int k = 0; k < VTERM_MAX_CHARS_PER_CELL && c.chars[k] != 0; ++k)
            out += QString::fromUcs4(reinterpret_cast<const char32_t*>(&c.chars[k]), 1);
        if (c.width > 1)
            i += c.width - 1;
    }
    while (out.endsWith(QLatin1Char(' ')))
        out.chop(1);
    return out;
}

// libvterm 0.1 keeps a control sequence's parameters in a fixed array of 16 and writes past it
// when a peer sends more ("ESC [1;2;...;17m", or ':' sub-parameters): a hostile telnet peer
// could crash the program. A sequence with more parameters than that, or longer than any real
// one, is dropped whole before the terminal sees it. C1 controls written in UTF-8 (U+0080 to
// U+009F) are dropped too: libvterm draws them with a width of -1, the cursor moves left off the
// screen and the next glyph lands outside the cells. The repeat sequence ("ESC [ n b") is carried
// out here by sending the last glyph again: libvterm's own repeat loops for ever before the
// first glyph and writes through a null pointer when a repeated glyph wraps the line.
// Everything else passes unchanged, split across pieces as it arrives.
class CsiGuard {
public:
    static constexpr int kMaxSeparators = 15;
    static constexpr qsizetype kMaxLength = 256;

    // A repeat never sends more glyphs than fill the screen: any more only scroll them away.
    void setRepeatLimit(int glyphs) { m_repeatLimit = std::max(1, glyphs); }

    // Returns the bytes for the terminal; `ends` gets the offsets in them just after each escape
    // sequence, where the caller checks what the sequence did to the cursor.
    QByteArray filter(const QByteArray& in, std::vector<qsizetype>& ends) {
        QByteArray out;
        ends.clear();
        out.reserve(in.size() + m_pending.size());
        for (const char ch : in) {
            const auto c = static_cast<unsigned char>(ch);
            switch (m_state) {
            case State::Text:
                if (c == 0x1b) {
                    m_state = State::Escape; // held until the next byte tells what it starts
                    m_escape = QByteArray(1, '\x1b');
                } else if (c < 0x20 || c == 0x7f)
                    out += ch; // controls and escapes leave a character begun before them open
                else
                    textByte(ch, out);
                break;
            case State::Escape:
                if (c == '[') {
                    // The terminal opens a sequence on '[' whatever intermediates came before, and
                    // forgets them before the final byte: "ESC # [ 5 b" is a plain repeat there.
                    m_state = State::Csi;
                    m_pending = QByteArrayLiteral("\x1b[");
                    m_separators = 0;
                    m_dropping = false;
                } else if (c >= 0x7f) {
                    // The terminal ignores stray high bytes inside an escape, however many
                    // ("ESC \xff [" still opens a sequence): they are dropped, and the escape goes on.
                } else if (c >= 0x20 && c <= 0x2f) {
                    // Intermediates do not end the escape either; the terminal keeps only the first
                    // few, so more than any real escape has are dropped.
                    if (m_escape.size() < kMaxLength)
                        m_escape += ch;
                } else if (c < 0x20 && c != 0x1b && c != 0x18 && c != 0x1a) {
                    // Carried out inside the escape, which goes on ("ESC ^U [" still opens a sequence).
                    out += ch;
                } else if (c == 0x1b) {
                    // A new escape starts over; the held one did nothing. Passing it on would
                    // leave the terminal inside it if what follows is dropped here.
                    m_escape = QByteArray(1, '\x1b');
                } else {
                    out += m_escape;
                    out += ch;
                    ends.push_back(out.size());
                    m_state = State::Text;
                }
                break;
            case State::Csi:
                if (csiByte(ch, out))
                    ends.push_back(out.size());
                break;
            }
        }
        return out;
    }

private:
    enum class State { Text, Escape, Csi };

    void textByte(char ch, QByteArray& out) {
        const auto c = static_cast<unsigned char>(ch);
        if (m_heldLead) {
            m_heldLead = false;
            if (c >= 0x80 && c <= 0x9f)
                return;
            if (c <= 0xbf) {
                emitText('\xc2', out);
                emitText(ch, out);
                return;
            }
            // A lead without its second byte: the terminal would show a replacement and could
            // still pair the lead with a later byte.
            for (const char r : kReplacement)
                emitText(r, out);
        }
        if (c == 0xc2)
            m_heldLead = true; // may start a C1 control, held until the next text byte tells
        else
            emitText(ch, out);
    }

    // Passes a text byte on and follows the UTF-8 decoding, so that the last whole glyph is known
    // for a repeat.
    void emitText(char ch, QByteArray& out) {
        out += ch;
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x80 && c <= 0xbf && m_glyphNeeds > 0) {
            m_glyph += ch;
            if (--m_glyphNeeds == 0)
                m_lastGlyph = m_glyph;
            return;
        }
        m_glyphNeeds = 0;
        if (c < 0x80) {
            if (c >= 0x20 && c != 0x7f)
                m_lastGlyph = QByteArray(1, ch);
        } else if (c >= 0xc0 && c <= 0xf7) {
            m_glyph = QByteArray(1, ch);
            m_glyphNeeds = c >= 0xf0 ? 3 : c >= 0xe0 ? 2 : 1;
        } else {
            m_lastGlyph = QByteArray(kReplacement, sizeof kReplacement);
        }
    }

    // "ESC [ n b" with no leader or intermediates: the last glyph again, n times (at least once).
    bool repeatSequence() const {
        if (m_pending.size() < 3 || !m_pending.endsWith('b'))
            return false;
        for (qsizetype i = 2; i + 1 < m_pending.size(); ++i) {
            const char p = m_pending[i];
            if (!(p >= '0' && p <= '9') && p != ';' && p != ':')
                return false;
        }
        return true;
    }

    void repeatLastGlyph(QByteArray& out) {
        qint64 count = 0;
        for (qsizetype i = 2; i + 1 < m_pending.size() && m_pending[i] >= '0' && m_pending[i] <= '9'; ++i)
            count = std::min<qint64>(count * 10 + (m_pending[i] - '0'), m_repeatLimit);
        if (m_lastGlyph.isEmpty() || m_glyphNeeds > 0)
            return;
        const QByteArray glyph = m_lastGlyph;
        for (qint64 k = 0; k < std::max<qint64>(count, 1); ++k)
            for (const char g : glyph)
                emitText(g, out);
    }

    // True when the byte ended the sequence.
    bool csiByte(char ch, QByteArray& out) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == 0x1b || c == 0x18 || c == 0x1a) {
            // A new escape or a cancel ends the sequence unfinished; it does nothing, so it is
            // not passed on (libvterm would carry its parameters on into the next one).
            m_pending.clear();
            m_dropping = false;
            if (c == 0x1b) {
                m_state = State::Escape;
                m_escape = QByteArray(1, '\x1b');
            } else {
                out += ch;
                m_state = State::Text;
            }
            return false;
        }
        if (c < 0x20 || c == 0x7f) {
            // The terminal carries out controls inside a sequence at once, their effect not
            // depending on the parameters held back, and skips DEL as if it were not there.
            out += ch;
            return false;
        }
        if (c >= 0x80) {
            // Ends the sequence unfinished for the terminal, which swallows the byte; passing the
            // rest on would make it text there, out of step with this guard.
            m_pending.clear();
            m_dropping = false;
            m_state = State::Text;
            return false;
        }
        if (!m_dropping) {
            m_pending += ch;
            if (c == ';' || c == ':')
                ++m_separators;
            if (m_separators > kMaxSeparators || m_pending.size() > kMaxLength) {
                m_dropping = true;
                m_pending.clear();
            }
        }
        if (c >= 0x40 && c <= 0x7e) {
            release(out);
            m_state = State::Text;
            return true;
        }
        return false;
    }

    void release(QByteArray& out) {
        if (!m_dropping && repeatSequence())
            repeatLastGlyph(out);
        else if (!m_dropping)
            out += m_pending;
        m_pending.clear();
        m_dropping = false;
    }

    static constexpr char kReplacement[] = {'\xef', '\xbf', '\xbd'}; // U+FFFD

    State m_state = State::Text;
    QByteArray m_lastGlyph; // the last whole glyph sent, for a repeat
    QByteArray m_glyph;     // the glyph being decoded
    int m_glyphNeeds = 0;   // its continuation bytes still to come
    int m_repeatLimit = 1;
    bool m_heldLead = false;                     // a 0xc2 text byte, held until the next text byte tells what it starts
    QByteArray m_escape = QByteArray(1, '\x1b'); // the held escape and its intermediates
    QByteArray m_pending;
    int m_separators = 0;
    bool m_dropping = false;
};

} // namespace

struct VtScreen::Impl {
    std::unique_ptr<VTerm, VTermDeleter> vt;
    CsiGuard guard;
    std::vector<qsizetype> sequenceEnds;
    VTermScreen* screen = nullptr;
    VTermState* state = nullptr;
    std::deque<QString> scrollback;
    int scrollbackLimit = 0;
    QByteArray output;
    quint64 changes = 0;
    int bells = 0;
    bool cursorVisible = true;
    QString title;

    static int onDamage(VTermRect, void* user) {
        ++static_cast<Impl*>(user)->changes;
        return 1;
    }
    static int onMoveCursor(VTermPos, VTermPos, int, void* user) {
        ++static_cast<Impl*>(user)->changes;
        return 1;
    }
    static int onTermProp(VTermProp prop, VTermValue* val, void* user) {
        Impl* self = static_cast<Impl*>(user);
        if (prop == VTERM_PROP_CURSORVISIBLE) {
            self->cursorVisible = val->boolean != 0;
            ++self->changes;
        } else if (prop == VTERM_PROP_TITLE && val->string) {
            self->title = QString::fromUtf8(val->string).left(kMaxTitle);
        }
        return 1;
    }
    static int onBell(void* user) {
        Impl* self = static_cast<Impl*>(user);
        self->bells = std::min(self->bells + 1, 1000);
        return 1;
    }
    static int onPushLine(int cols, const VTermScreenCell* cells, void* user) {
        Impl* self = static_cast<Impl*>(user);
        if (self->scrollbackLimit <= 0)
            return 1;
        self->scrollback.push_back(textOfCells(cells, cols));
        while (int(self->scrollback.size()) > self->scrollbackLimit)
            self->scrollback.pop_front();
        return 1;
    }
    // Written by libvterm for typed keys and for answers to queries; copied and kept for takeOutput.
    static void onOutput(const char* bytes, size_t len, void* user) {
        Impl* self = static_cast<Impl*>(user);
        const qsizetype room = kMaxOutput - self->output.size();
        if (room > 0)
            self->output.append(bytes, std::min<qsizetype>(room, qsizetype(len)));
    }
};

VtScreen::VtScreen(int rows, int cols, int scrollbackRows)
    : m_impl(std::make_unique<Impl>()) {
    static const VTermScreenCallbacks callbacks = {
        &Impl::onDamage, nullptr, &Impl::onMoveCursor, &Impl::onTermProp,
        &Impl::onBell,   nullptr, &Impl::onPushLine,   nullptr,
    };
    rows = std::clamp(rows, 1, kMaxRows);
    cols = std::clamp(cols, 1, kMaxCols);
    m_impl->scrollbackLimit = std::max(0, scrollbackRows);
    m_impl->vt.reset(vterm_new(rows, cols));
    vterm_set_utf8(m_impl->vt.get(), 1);
    vterm_output_set_callback(m_impl->vt.get(), &Impl::onOutput, m_impl.get());
    m_impl->state = vterm_obtain_state(m_impl->vt.get());
    m_impl->screen = vterm_obtain_screen(m_impl->vt.get());
    vterm_screen_set_callbacks(m_impl->screen, &callbacks, m_impl.get());
    vterm_screen_set_damage_merge(m_impl->screen, VTERM_DAMAGE_SCROLL);
    setDefaultColors(0x000000, 0xffffff);
    vterm_screen_reset(m_impl->screen, 1);
    m_impl->guard.setRepeatLimit(rows * cols);
}

VtScreen::~VtScreen() = default;

void VtScreen::feed(const QByteArray& bytes) {
    if (bytes.isEmpty())
        return;
    std::vector<qsizetype>& ends = m_impl->sequenceEnds;
    const QByteArray safe = m_impl->guard.filter(bytes, ends);
    if (safe.isEmpty())
        return;
    // libvterm restores a cursor saved on a larger console ("ESC 7", a shrink, "ESC 8") as it was,
    // below the screen, and then draws outside its cell buffer: after each sequence the cursor is
    // brought back onto the screen.
    qsizetype from = 0;
    for (const qsizetype end : ends) {
        vterm_input_write(m_impl->vt.get(), safe.constData() + from, size_t(end - from));
        from = end;
        keepCursorOnScreen();
    }
    if (from < safe.size())
        vterm_input_write(m_impl->vt.get(), safe.constData() + from, size_t(safe.size() - from));
    vterm_screen_flush_damage(m_impl->screen);
}

void VtScreen::keepCursorOnScreen() {
    int r = 0, c = 0;
    vterm_get_size(m_impl->vt.get(), &r, &c);
    VTermPos pos{};
    vterm_state_get_cursorpos(m_impl->state, &pos);
    if (pos.row < 0 || pos.row >= r || pos.col < 0 || pos.col > c)
        moveCursor(pos.row, pos.col);
}

// To the cell nearest (row, col); the margins are the whole screen or lie on it, so even in
// origin mode the cursor ends up on the screen.
void VtScreen::moveCursor(int row, int col) {
    int r = 0, c = 0;
    vterm_get_size(m_impl->vt.get(), &r, &c);
    const QByteArray cup = QByteArrayLiteral("\x1b[") + QByteArray::number(std::clamp(row, 0, r - 1) + 1) + ';' +
                           QByteArray::number(std::clamp(col, 0, c - 1) + 1) + 'H';
    vterm_input_write(m_impl->vt.get(), cup.constData(), size_t(cup.size()));
}

void VtScreen::reset() {
    m_impl->guard = CsiGuard();
    m_impl->guard.setRepeatLimit(rows() * cols());
    vterm_screen_reset(m_impl->screen, 1);
    m_impl->cursorVisible = true;
    ++m_impl->changes;
}

int VtScreen::rows() const {
    int r = 0, c = 0;
    vterm_get_size(m_impl->vt.get(), &r, &c);
    return r;
}

int VtScreen::cols() const {
    int r = 0, c = 0;
    vterm_get_size(m_impl->vt.get(), &r, &c);
    return c;
}

void VtScreen::resize(int rows, int cols) {
    const int r = std::clamp(rows, 1, kMaxRows);
    const int c = std::clamp(cols, 1, kMaxCols);
    vterm_set_size(m_impl->vt.get(), r, c);
    m_impl->guard.setRepeatLimit(r * c);
    // As xterm does, the scrolling margins go back to the whole screen: libvterm keeps margins
    // the peer set for a larger screen and then scrolls with negative lengths. DECSTBM homes
    // the cursor, so it is put back where it was (on the screen: a shrink that pushes lines into
    // the scroll-back can leave it above). The peer's saved cursor is left alone.
    VTermPos pos{};
    vterm_state_get_cursorpos(m_impl->state, &pos);
    static constexpr char kFullMargins[] = "\x1b[r\x1b[?69l";
    vterm_input_write(m_impl->vt.get(), kFullMargins, sizeof kFullMargins - 1);
    moveCursor(pos.row, pos.col);
    vterm_screen_flush_damage(m_impl->screen);
    ++m_impl->changes;
}

QString VtScreen::rowText(int row) const {
    const int r = rows();
    const int c = cols();
    if (row < 0 || row >= r)
        return QString();
    std::vector<VTermScreenCell> cells(static_cast<size_t>(c));
    for (int col = 0; col < c; ++col) {
        if (!vterm_screen_get_cell(m_impl->screen, VTermPos{row, col}, &cells[size_t(col)]))
            cells[size_t(col)] = VTermScreenCell{};
    }
    return textOfCells(cells.data(), c);
}

QStringList VtScreen::screenText() const {
    QStringList out;
    const int r = rows();
    for (int row = 0; row < r; ++row)
        out << rowText(row);
    return out;
}

VtScreen::Cell VtScreen::cell(int row, int col) const {
    Cell out;
    VTermScreenCell c{};
    if (row < 0 || col < 0 || row >= rows() || col >= cols() ||
        !vterm_screen_get_cell(m_impl->screen, VTermPos{row, col}, &c))
        return out;
    for (int k = 0; k < VTERM_MAX_CHARS_PER_CELL && c.chars[k] != 0; ++k)
        out.text += QString::fromUcs4(reinterpret_cast<const char32_t*>(&c.chars[k]), 1);
    out.defaultFg = VTERM_COLOR_IS_DEFAULT_FG(&c.fg);
    out.defaultBg = VTERM_COLOR_IS_DEFAULT_BG(&c.bg);
    out.fg = rgbOf(m_impl->screen, c.fg);
    out.bg = rgbOf(m_impl->screen, c.bg);
    out.bold = c.attrs.bold;
    out.underline = c.attrs.underline != 0;
    out.italic = c.attrs.italic;
    out.reverse = c.attrs.reverse;
    out.width = std::max(1, int(c.width));
    return out;
}

int VtScreen::cursorRow() const {
    VTermPos pos{};
    vterm_state_get_cursorpos(m_impl->state, &pos);
    return pos.row;
}

int VtScreen::cursorCol() const {
    VTermPos pos{};
    vterm_state_get_cursorpos(m_impl->state, &pos);
    return pos.col;
}

bool VtScreen::cursorVisible() const {
    return m_impl->cursorVisible;
}

int VtScreen::scrollbackCount() const {
    return int(m_impl->scrollback.size());
}

QString VtScreen::scrollbackLine(int index) const {
    if (index < 0 || index >= int(m_impl->scrollback.size()))
        return QString();
    return m_impl->scrollback[size_t(index)];
}

int VtScreen::scrollbackLimit() const {
    return m_impl->scrollbackLimit;
}

void VtScreen::typeChar(char32_t c, bool ctrl) {
    // libvterm turns Ctrl+letter into the control code itself.
    vterm_keyboard_unichar(m_impl->vt.get(), uint32_t(c), ctrl ? VTERM_MOD_CTRL : VTERM_MOD_NONE);
}

void VtScreen::typeKey(VtKey key) {
    VTermKey k = VTERM_KEY_NONE;
    switch (key) {
    case VtKey::Enter:
        k = VTERM_KEY_ENTER;
        break;
    case VtKey::Tab:
        k = VTERM_KEY_TAB;
        break;
    case VtKey::Backspace:
        k = VTERM_KEY_BACKSPACE;
        break;
    case VtKey::Escape:
        k = VTERM_KEY_ESCAPE;
        break;
    case VtKey::Up:
        k = VTERM_KEY_UP;
        break;
    case VtKey::Down:
        k = VTERM_KEY_DOWN;
        break;
    case VtKey::Left:
        k = VTERM_KEY_LEFT;
        break;
    case VtKey::Right:
        k = VTERM_KEY_RIGHT;
        break;
    case VtKey::Insert:
        k = VTERM_KEY_INS;
        break;
    case VtKey::Delete:
        k = VTERM_KEY_DEL;
        break;
    case VtKey::Home:
        k = VTERM_KEY_HOME;
        break;
    case VtKey::End:
        k = VTERM_KEY_END;
        break;
    case VtKey::PageUp:
        k = VTERM_KEY_PAGEUP;
        break;
    case VtKey::PageDown:
        k = VTERM_KEY_PAGEDOWN;
        break;
    }
    vterm_keyboard_key(m_impl->vt.get(), k, VTERM_MOD_NONE);
}

QByteArray VtScreen::takeOutput() {
    return std::exchange(m_impl->output, QByteArray());
}

quint64 VtScreen::changeCount() const {
    return m_impl->changes;
}

int VtScreen::takeBells() {
    return std::exchange(m_impl->bells, 0);
}

QString VtScreen::title() const {
    return m_impl->title;
}

void VtScreen::setDefaultColors(uint32_t fg, uint32_t bg) {
    const VTermColor f = colorOf(fg);
    const VTermColor b = colorOf(bg);
    vterm_state_set_default_colors(m_impl->state, &f, &b);
    ++m_impl->changes;
}
