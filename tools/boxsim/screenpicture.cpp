#include "screenpicture.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace boxsim {

namespace {

struct Rgb {
    unsigned char r, g, b;
    bool operator==(const Rgb&) const = default;
};
// Where the framebuffer holds nothing: never drawn with, so it stays apart from the colours.
constexpr Rgb kTransparent{1, 2, 3};

// 5 x 7 glyphs, row by row, '#' lit. Lower case is drawn as upper case; anything else missing as '?'.
struct Glyph {
    char c;
    const char* rows;
};
// clang-format off
constexpr Glyph kFont[] = {
    {' ', "..................................."},
    {'0', ".###.#...##..###.#.###..##...#.###."}, {'1', "..#...##....#....#....#....#...###."},
    {'2', ".###.#...#....#...#...#...#...#####"}, {'3', "#####...#...#.....#.....##...#.###."},
    {'4', "...#...##..#.#.#..#.#####...#....#."}, {'5', "######....####.....#....##...#.###."},
    {'6', "..##..#...#....####.#...##...#.###."}, {'7', "#####....#...#...#...#....#....#..."},
    {'8', ".###.#...##...#.###.#...##...#.###."}, {'9', ".###.#...##...#.####....#...#..##.."},
    {'A', ".###.#...##...#######...##...##...#"}, {'B', "####.#...##...#####.#...##...#####."},
    {'C', ".###.#...##....#....#....#...#.###."}, {'D', "###..#..#.#...##...##...##..#.###.."},
    {'E', "######....#....####.#....#....#####"}, {'F', "######....#....####.#....#....#...."},
    {'G', ".###.#...##....#.####...##...#.####"}, {'H', "#...##...##...#######...##...##...#"},
    {'I', ".###...#....#....#....#....#...###."}, {'J', "..###...#....#....#....#.#..#..##.."},
    {'K', "#...##..#.#.#..##...#.#..#..#.#...#"}, {'L', "#....#....#....#....#....#....#####"},
    {'M', "#...###.###.#.##.#.##...##...##...#"}, {'N', "#...##...###..##.#.##..###...##...#"},
    {'O', ".###.#...##...##...##...##...#.###."}, {'P', "####.#...##...#####.#....#....#...."},
    {'Q', ".###.#...##...##...##.#.##..#..##.#"}, {'R', "####.#...##...#####.#.#..#..#.#...#"},
    {'S', ".#####....#.....###.....#....#####."}, {'T', "#####..#....#....#....#....#....#.."},
    {'U', "#...##...##...##...##...##...#.###."}, {'V', "#...##...##...##...##...#.#.#...#.."},
    {'W', "#...##...##...##.#.##.#.##.#.#.#.#."}, {'X', "#...##...#.#.#...#...#.#.#...##...#"},
    {'Y', "#...##...#.#.#...#....#....#....#.."}, {'Z', "#####....#...#...#...#...#....#####"},
    {':', "......##...##.........##...##......"}, {'.', ".........................##...##..."},
    {',', "....................##....#...#...."}, {'-', "...............#####..............."},
    {'+', "......#....#..#####..#....#........"}, {'/', ".........#...#...#...#...#........."},
    {'(', "...#...#...#....#....#.....#.....#."}, {')', ".#.....#.....#....#....#...#...#..."},
    {'!', "..#....#....#....#....#.........#.."}, {'?', ".###.#...#....#...#...#.........#.."},
    {'\'', "..#....#...#......................."}, {'%', "##...##..#...#...#...#...#..##...##"},
    {'_', "..............................#####"}, {'#', ".#.#..#.#.#####.#.#.#####.#.#..#.#."},
    {'&', ".##..#..#.#.#...#...#.#.##..#..##.#"}, {'>', ".#.....#.....#.....#...#...#...#..."},
    {'<', "...#...#...#...#.....#.....#.....#."}, {'=', "..........#####.....#####.........."},
    {'*', "......#..#.#.#.###.#.#.#..#........"}, {'"', ".#.#..#.#.........................."},
};
// clang-format on

constexpr bool glyphsWellFormed() {
    for (const Glyph& g : kFont) {
        int n = 0;
        while (g.rows[n])
            ++n;
        if (n != 35)
            return false;
    }
    return true;
}
static_assert(glyphsWellFormed(), "every glyph is 5 x 7");

const Glyph& glyph(char c) {
    static const Glyph* unknown = nullptr;
    for (const Glyph& g : kFont) {
        if (g.c == c)
            return g;
        if (g.c == '?')
            unknown = &g;
    }
    return *unknown;
}

// To the font's letters: Latin-1 letters (U+00C0..U+00FF) lose their accents, the rest becomes '?'.
std::string fontText(const std::string& text, bool latin1) {
    static const char base[] = "AAAAAAACEEEEIIIIDNOOOOOXOUUUUYPSAAAAAAACEEEEIIIIDNOOOOO/OUUUUYPY";
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = (unsigned char)text[i];
        if (c < 0x80) {
            out.push_back(c < 0x20 ? '?' : char(std::toupper(c)));
        } else if (latin1) {
            out.push_back(c >= 0xC0 ? base[c - 0xC0] : '?');
        } else if (c == 0xC3 && i + 1 < text.size() && ((unsigned char)text[i + 1] & 0xC0) == 0x80) {
            out.push_back(base[((unsigned char)text[i + 1] & 0x3F)]);
            ++i;
        } else if ((c & 0xC0) != 0x80) {
            out.push_back('?'); // one mark for a whole sequence; its continuation bytes are skipped
        }
    }
    return out;
}

class Canvas {
public:
    Canvas(int w, int h, Rgb background)
        : m_w(w)
        , m_h(h)
        , m_px(size_t(w * h), background) {}

    void fill(int x, int y, int w, int h, Rgb c) {
        for (int yy = std::max(0, y); yy < std::min(m_h, y + h); ++yy)
            for (int xx = std::max(0, x); xx < std::min(m_w, x + w); ++xx)
                m_px[size_t(yy * m_w + xx)] = c;
    }
    void frame(int x, int y, int w, int h, Rgb c) {
        fill(x, y, w, 1, c);
        fill(x, y + h - 1, w, 1, c);
        fill(x, y, 1, h, c);
        fill(x + w - 1, y, 1, h, c);
    }
    // Draws up to maxChars characters; each takes 6 x 8 pixels times scale.
    void text(int x, int y, int scale, Rgb c, const std::string& raw, int maxChars, bool latin1 = false) {
        const std::string t = fontText(raw, latin1);
        for (int n = 0; n < int(t.size()) && n < maxChars; ++n) {
            const char* rows = glyph(t[size_t(n)]).rows;
            for (int gy = 0; gy < 7; ++gy)
                for (int gx = 0; gx < 5; ++gx)
                    if (rows[gy * 5 + gx] == '#')
                        fill(x + (n * 6 + gx) * scale, y + gy * scale, scale, scale, c);
        }
    }
    std::string bmp() const {
        const int row = (m_w * 3 + 3) / 4 * 4;
        const int imageSize = row * m_h;
        std::string out(size_t(54 + imageSize), '\0');
        const auto put32 = [&out](size_t at, unsigned v) {
            for (int i = 0; i < 4; ++i)
                out[at + size_t(i)] = char((v >> (8 * i)) & 0xff);
        };
        out[0] = 'B';
        out[1] = 'M';
        put32(2, unsigned(out.size()));
        put32(10, 54);
        put32(14, 40);
        put32(18, unsigned(m_w));
        put32(22, unsigned(m_h)); // positive: bottom-up rows
        out[26] = 1;
        out[28] = 24;
        put32(34, unsigned(imageSize));
        put32(38, 2835);
        put32(42, 2835);
        for (int y = 0; y < m_h; ++y) {
            const size_t line = size_t(54 + (m_h - 1 - y) * row);
            for (int x = 0; x < m_w; ++x) {
                const Rgb& p = m_px[size_t(y * m_w + x)];
                out[line + size_t(x * 3)] = char(p.b);
                out[line + size_t(x * 3) + 1] = char(p.g);
                out[line + size_t(x * 3) + 2] = char(p.r);
            }
        }
        return out;
    }

    // The screenshot tool's form: palette entries in order of first use, each with its
    // transparency byte.
    std::string bmp8(Rgb panel) const {
        std::vector<Rgb> palette;
        std::vector<unsigned char> index(m_px.size());
        for (size_t i = 0; i < m_px.size(); ++i) {
            size_t k = 0;
            while (k < palette.size() && !(palette[k] == m_px[i]))
                ++k;
            if (k == palette.size())
                palette.push_back(m_px[i]);
            index[i] = (unsigned char)std::min<size_t>(k, 255);
        }
        const int row = (m_w + 3) / 4 * 4;
        const int imageSize = row * m_h;
        const size_t dataAt = 54 + 256 * 4;
        std::string out(dataAt + size_t(imageSize), '\0');
        const auto put32 = [&out](size_t at, unsigned v) {
            for (int i = 0; i < 4; ++i)
                out[at + size_t(i)] = char((v >> (8 * i)) & 0xff);
        };
        out[0] = 'B';
        out[1] = 'M';
        put32(2, unsigned(out.size()));
        put32(10, unsigned(dataAt));
        put32(14, 40);
        put32(18, unsigned(m_w));
        put32(22, unsigned(m_h));
        out[26] = 1;
        out[28] = 8;
        put32(34, unsigned(imageSize + 1024)); // as the tool writes it: the palette counted in
        put32(38, 2835);
        put32(42, 2835);
        put32(46, 256);
        for (size_t k = 0; k < 256; ++k) {
            const Rgb c = k < palette.size() ? palette[k] : Rgb{0, 0, 0};
            const bool clear = c == kTransparent;
            const size_t at = 54 + k * 4;
            out[at] = char(clear ? kTransparentSlotGrey : c.b);
            out[at + 1] = char(clear ? kTransparentSlotGrey : c.g);
            out[at + 2] = char(clear ? kTransparentSlotGrey : c.r);
            out[at + 3] = char(clear ? 0xFF : c == panel ? 0x40 : 0x00);
        }
        for (int y = 0; y < m_h; ++y) {
            const size_t line = dataAt + size_t((m_h - 1 - y) * row);
            for (int x = 0; x < m_w; ++x)
                out[line + size_t(x)] = char(index[size_t(y * m_w + x)]);
        }
        return out;
    }

private:
    int m_w;
    int m_h;
    std::vector<Rgb> m_px;
};

constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kPanel{20, 30, 90};
constexpr Rgb kEdge{150, 170, 230};
constexpr Rgb kHighlight{200, 120, 20};
constexpr Rgb kYellow{250, 220, 60};

} // namespace

std::string renderScreenBmp(const ScreenView& v, ScreenForm form) {
    const bool framebuffer = form == ScreenForm::Dboxshot;
    Canvas c(kScreenWidth, kScreenHeight, framebuffer ? kTransparent : Rgb{0, 0, 0});
    const auto done = [&c, framebuffer] { return framebuffer ? c.bmp8(kPanel) : c.bmp(); };
    if (!v.standby) {
        // The picture behind: colour bars, darker and bluish in radio mode. The framebuffer holds
        // the on-screen display alone.
        static const Rgb bars[7] = {{180, 180, 180}, {0, 180, 180}, {180, 180, 0}, {0, 180, 0},
                                    {180, 0, 180},   {0, 0, 180},   {180, 0, 0}};
        for (int i = 0; i < 7 && !framebuffer; ++i) {
            const Rgb b = bars[i];
            const Rgb shown =
                v.radio ? Rgb{(unsigned char)(b.r / 4), (unsigned char)(b.g / 4), (unsigned char)(b.b / 4 + 60)} : b;
            c.fill(i * kScreenWidth / 7, 0, kScreenWidth / 7 + 1, kScreenHeight, shown);
        }
        c.fill(4, 4, 246, 22, kPanel);
        c.frame(4, 4, 246, 22, kEdge);
        c.text(9, 8, 2, kWhite, v.channel, 19, v.latin1);
    } else {
        c.text(kScreenWidth / 2 - 42, kScreenHeight / 2 - 7, 2, {90, 90, 90}, "STANDBY", 7);
    }
    c.fill(kClockBox[0], kClockBox[1], kClockBox[2], kClockBox[3], kPanel);
    c.frame(kClockBox[0], kClockBox[1], kClockBox[2], kClockBox[3], kEdge);
    c.text(kClockBox[0] + 4, kClockBox[1] + 4, 2, kYellow, v.clock, 8);
    if (v.standby)
        return done();

    if (v.menuOpen) {
        static const char* items[kMenuRows] = {"TV mode", "Radio mode", "Scart input", "Games", "Service", "Settings"};
        c.fill(80, 40, 200, 170, kPanel);
        c.frame(80, 40, 200, 170, kEdge);
        c.fill(81, 41, 198, 22, {40, 60, 150});
        c.text(92, 45, 2, kYellow, "Main menu", 15);
        const int sel = ((v.menuRow % kMenuRows) + kMenuRows) % kMenuRows;
        for (int i = 0; i < kMenuRows; ++i) {
            const int y = 70 + i * 22;
            if (i == sel)
                c.fill(84, y - 3, 192, 20, kHighlight);
            c.text(96, y + 1, 2, kWhite, items[i], 14);
        }
    }
    if (v.bar == ScreenView::Bar::Volume) {
        c.fill(40, 238, 280, 34, kPanel);
        c.frame(40, 238, 280, 34, kEdge);
        c.text(48, 248, 2, kWhite, v.muted ? "MUTE" : "VOL", 4);
        const int vol = std::clamp(v.volume, 0, 100);
        c.frame(110, 246, 202, 18, kWhite);
        if (!v.muted)
            c.fill(111, 247, vol * 2, 16, {60, 200, 60});
    } else if (v.bar == ScreenView::Bar::Info) {
        c.fill(10, 214, 340, 68, kPanel);
        c.frame(10, 214, 340, 68, kEdge);
        c.text(18, 222, 2, kWhite, v.channel, 27, v.latin1);
        c.text(18, 246, 1, kYellow, v.programme, 54, v.latin1);
        c.text(18, 264, 1, {180, 200, 255}, v.lastKey, 54);
    }
    return done();
}

} // namespace boxsim
