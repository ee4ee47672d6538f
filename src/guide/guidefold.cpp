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

// Appends folded units to out after its first `base` bytes: blank runs collapse, and an "e" right
// after "a", "o" or "u" is the spelled-out umlaut, so it is left out.
class Sink {
public:
    explicit Sink(QByteArray& out)
        : m_out(out)
        , m_base(out.size()) {}

    void unit(char32_t c) {
        const bool empty = m_out.size() == m_base;
        if (c == kBlank) {
            if (!empty && m_out.back() != ' ')
                m_out.append(' ');
            m_droppedE = false;
            return;
        }
        if (c == u'e' && !m_droppedE && !empty) {
            const char last = m_out.back();
            if (last == 'a' || last == 'o' || last == 'u') {
                m_droppedE = true;
                return;
            }
        }
        m_droppedE = false;
        if (c < 0x80) {
            m_out.append(static_cast<char>(c));
        } else if (c < 0x800) {
            m_out.append(static_cast<char>(0xC0 | (c >> 6)));
            m_out.append(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            m_out.append(static_cast<char>(0xE0 | (c >> 12)));
            m_out.append(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            m_out.append(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            m_out.append(static_cast<char>(0xF0 | (c >> 18)));
            m_out.append(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            m_out.append(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            m_out.append(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }

    // No blank at the end.
    void finish() {
        if (m_out.size() > m_base && m_out.back() == ' ')
            m_out.chop(1);
    }

private:
    QByteArray& m_out;
    qsizetype m_base;
    bool m_droppedE = false;
};

void appendFolded(QStringView text, QByteArray& out) {
    Sink sink(out);
    const auto& table = foldTable();
    const qsizetype n = text.size();
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
    sink.finish();
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
