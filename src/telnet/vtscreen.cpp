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

} // namespace

struct VtScreen::Impl {
    std::unique_ptr<VTerm, VTermDeleter> vt;
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
}

VtScreen::~VtScreen() = default;

void VtScreen::feed(const QByteArray& bytes) {
    if (bytes.isEmpty())
        return;
    vterm_input_write(m_impl->vt.get(), bytes.constData(), size_t(bytes.size()));
    vterm_screen_flush_damage(m_impl->screen);
}

void VtScreen::reset() {
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
    // libvterm can leave the cursor above the screen when a shrink pushes lines into the
    // scroll-back; put it back on the screen before the next byte is drawn there.
    VTermPos pos{};
    vterm_state_get_cursorpos(m_impl->state, &pos);
    if (pos.row < 0 || pos.row >= r || pos.col < 0 || pos.col > c) {
        const QByteArray home = QByteArrayLiteral("\x1b[") + QByteArray::number(std::clamp(pos.row, 0, r - 1) + 1) +
                                ';' + QByteArray::number(std::clamp(pos.col, 0, c - 1) + 1) + 'H';
        vterm_input_write(m_impl->vt.get(), home.constData(), size_t(home.size()));
    }
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
