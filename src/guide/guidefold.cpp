#include "guide/guidefold.h"

#include <QChar>

#include <algorithm>
#include <array>
#include <cstring>

namespace {

// What one UTF-16 unit of the basic plane folds to: up to three units, a blank, or nothing.
struct Folded {
    char16_t Units[3] = {0, 0, 0};
    uint8_t Length = 0;
};

constexpr char16_t kBlank = u' ';

void put(Folded& f, QStringView units) {
    for (QChar c : units) {
        if (f.Length < 3)
            f.Units[f.Length++] = c.unicode();
    }
}

Folded foldUnit(char32_t c) {
    Folded f;
    switch (c) {
    case U'ß':
    case U'ẞ':
        put(f, u"ss");
        return f;
    case U'æ':
    case U'Æ':
        put(f, u"ae");
        return f;
    case U'œ':
    case U'Œ':
        put(f, u"oe");
        return f;
    case U'ø':
    case U'Ø':
        put(f, u"o");
        return f;
    case U'đ':
    case U'Đ':
        put(f, u"d");
        return f;
    case U'ł':
    case U'Ł':
        put(f, u"l");
        return f;
    case U'þ':
    case U'Þ':
        put(f, u"th");
        return f;
    case U'ı':
        put(f, u"i");
        return f;
    case 0xFFFD: // what invalid bytes became
        f.Units[f.Length++] = kBlank;
        return f;
    default:
        break;
    }
    const QChar::Category cat = QChar::category(c);
    switch (cat) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
    case QChar::Other_Format: // soft hyphen, zero-width marks
        return f;
    case QChar::Other_Control:
    case QChar::Other_Surrogate:
    case QChar::Other_NotAssigned:
    case QChar::Other_PrivateUse:
    case QChar::Separator_Space:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        f.Units[f.Length++] = kBlank;
        return f;
    default:
        break;
    }
    // Decomposed ("é" = "e" + mark, "ﬁ" = "f" "i"), the marks left out, each part folded again.
    if (QChar::decompositionTag(c) != QChar::NoDecomposition) {
        const QString parts = QChar::decomposition(c);
        for (QChar part : parts) {
            const Folded sub = foldUnit(part.unicode());
            put(f, QStringView(sub.Units, sub.Length));
        }
        return f;
    }
    const char32_t lower = QChar::toCaseFolded(c);
    if (lower > 0xFFFF) {
        f.Units[f.Length++] = kBlank;
        return f;
    }
    f.Units[f.Length++] = static_cast<char16_t>(lower);
    return f;
}

// The whole basic plane, worked out once on first use.
const std::array<Folded, 0x10000>& foldTable() {
    static const auto table = [] {
        auto t = std::make_unique<std::array<Folded, 0x10000>>();
        for (char32_t c = 0; c < 0x10000; ++c)
            (*t)[c] = foldUnit(c);
        return t;
    }();
    return *table;
}

// Writes folded units as UTF-8 from `begin` on: blank runs collapse, and an "e" right after "a",
// "o" or "u" is the spelled-out umlaut, so it is left out. The caller makes room for kMaxBytesPerUnit
// bytes per unit of input.
class Sink {
public:
    explicit Sink(char* begin)
        : m_begin(begin)
        , m_at(begin) {}

    void unit(char32_t c) {
        const bool empty = m_at == m_begin;
        if (c == kBlank) {
            if (!empty && m_at[-1] != ' ')
                *m_at++ = ' ';
            m_droppedE = false;
            return;
        }
        if (c == u'e' && !m_droppedE && !empty) {
            const char last = m_at[-1];
            if (last == 'a' || last == 'o' || last == 'u') {
                m_droppedE = true;
                return;
            }
        }
        m_droppedE = false;
        if (c < 0x80) {
            *m_at++ = static_cast<char>(c);
        } else if (c < 0x800) {
            *m_at++ = static_cast<char>(0xC0 | (c >> 6));
            *m_at++ = static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            *m_at++ = static_cast<char>(0xE0 | (c >> 12));
            *m_at++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *m_at++ = static_cast<char>(0x80 | (c & 0x3F));
        } else {
            *m_at++ = static_cast<char>(0xF0 | (c >> 18));
            *m_at++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            *m_at++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *m_at++ = static_cast<char>(0x80 | (c & 0x3F));
        }
    }

    // Bytes written, without a blank at the end.
    qsizetype finish() {
        if (m_at != m_begin && m_at[-1] == ' ')
            --m_at;
        return m_at - m_begin;
    }

private:
    char* m_begin;
    char* m_at;
    bool m_droppedE = false;
};

// A unit of the basic plane folds to at most three units of three UTF-8 bytes each.
constexpr qsizetype kMaxBytesPerUnit = 9;

void appendFolded(QStringView text, QByteArray& out) {
    const qsizetype n = text.size();
    const qsizetype base = out.size();
    const qsizetype room = base + n * kMaxBytesPerUnit;
    if (out.capacity() < room)
        out.reserve(std::max(room, out.capacity() * 2));
    out.resize(room);
    Sink sink(out.data() + base);
    const auto& table = foldTable();
    const char16_t* u = reinterpret_cast<const char16_t*>(text.utf16());
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = u[i];
        if (c < 0x80) {
            // The common case, without the table.
            if (c >= u'A' && c <= u'Z')
                sink.unit(c + 32);
            else if (c < 0x20 || c == 0x7F)
                sink.unit(kBlank);
            else
                sink.unit(c);
            continue;
        }
        if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(u[i + 1])) {
            const char32_t cp = QChar::surrogateToUcs4(c, u[i + 1]);
            ++i;
            const QChar::Category cat = QChar::category(cp);
            if (cat == QChar::Mark_NonSpacing || cat == QChar::Mark_SpacingCombining || cat == QChar::Other_Format)
                continue;
            sink.unit(QChar::isLetterOrNumber(cp) ? QChar::toCaseFolded(cp) : char32_t(kBlank));
            continue;
        }
        const Folded& f = table[c];
        for (uint8_t k = 0; k < f.Length; ++k)
            sink.unit(f.Units[k]);
    }
    out.resize(base + sink.finish());
}

} // namespace

QByteArray foldForSearch(QStringView text) {
    QByteArray out;
    out.reserve(text.size());
    appendFolded(text, out);
    return out;
}

QList<QByteArray> searchWords(const QByteArray& folded) {
    QList<QByteArray> words;
    for (const QByteArray& w : folded.split(' ')) {
        if (!w.isEmpty() && !words.contains(w))
            words.append(w);
    }
    std::stable_sort(words.begin(), words.end(),
                     [](const QByteArray& a, const QByteArray& b) { return a.size() > b.size(); });
    return words;
}

qsizetype findBytes(QByteArrayView haystack, QByteArrayView needle, qsizetype from) {
    if (from < 0 || from > haystack.size() || needle.isEmpty())
        return -1;
    const void* at = memmem(haystack.data() + from, static_cast<size_t>(haystack.size() - from), needle.data(),
                            static_cast<size_t>(needle.size()));
    return at ? static_cast<const char*>(at) - haystack.data() : -1;
}

void FoldedTexts::clear() {
    m_text.clear();
    m_keys.clear();
    m_starts.clear();
}

void FoldedTexts::reserve(qsizetype entries, qsizetype bytes) {
    m_keys.reserve(static_cast<size_t>(entries));
    m_starts.reserve(static_cast<size_t>(entries));
    m_text.reserve(bytes);
}

void FoldedTexts::append(int key, QStringView text) {
    m_keys.push_back(key);
    m_starts.push_back(static_cast<int>(m_text.size()));
    appendFolded(text, m_text);
    m_text.append('\0');
}

void FoldedTexts::squeeze() {
    m_text.squeeze();
    m_keys.shrink_to_fit();
    m_starts.shrink_to_fit();
}

qsizetype FoldedTexts::bytes() const {
    return m_text.capacity() + static_cast<qsizetype>((m_keys.capacity() + m_starts.capacity()) * sizeof(int));
}

qsizetype FoldedTexts::entryOf(qsizetype offset) const {
    const auto it = std::upper_bound(m_starts.begin(), m_starts.end(), static_cast<int>(offset));
    return static_cast<qsizetype>(it - m_starts.begin()) - 1;
}

bool FoldedTexts::holds(qsizetype entry, QByteArrayView word) const {
    const qsizetype begin = m_starts[static_cast<size_t>(entry)];
    const qsizetype end = entry + 1 < size() ? m_starts[static_cast<size_t>(entry + 1)] : m_text.size();
    return findBytes(QByteArrayView(m_text.constData() + begin, end - begin), word) >= 0;
}
