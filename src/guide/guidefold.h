#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringView>

#include <vector>

// Search folding for programme titles and descriptions: lower case, accents and other marks
// dropped, umlauts and their spelled-out forms made one ("König", "Koenig" and "Konig" all give
// "konig"), "ß" as "ss", control characters, invalid text and blank runs as one blank, trimmed.
// The result is UTF-8; letters of other scripts stay, lower-cased. Any thread.
QByteArray foldForSearch(QStringView text);

// The words of a folded query (split at blanks), longest first: the longest is the rarest and
// is looked for first.
QList<QByteArray> searchWords(const QByteArray& folded);

// Offset of needle in haystack at or after from, or -1 (memmem: the buffers are large).
qsizetype findBytes(QByteArrayView haystack, QByteArrayView needle, qsizetype from = 0);

// Folded texts of one row kept end to end, each ended by a NUL, with the key of each (a
// programme slot). Built once per change of the row's data; a search walks the buffer whole.
class FoldedTexts {
public:
    void clear();
    void reserve(qsizetype entries, qsizetype bytes);
    void append(int key, QStringView text);
    // Gives back the room kept for appending.
    void squeeze();
    qsizetype size() const { return static_cast<qsizetype>(m_keys.size()); }
    int key(qsizetype entry) const { return m_keys[static_cast<size_t>(entry)]; }
    // Memory held, for the benchmark's account.
    qsizetype bytes() const;

    // Calls hit(entry) once for every entry that holds every word (words as from searchWords);
    // hit returns false to stop.
    template <typename Hit>
    void find(const QList<QByteArray>& words, Hit hit) const;

private:
    qsizetype entryOf(qsizetype offset) const;
    bool holds(qsizetype entry, QByteArrayView word) const;

    QByteArray m_text;
    std::vector<int> m_keys;
    std::vector<int> m_starts; // offset of each entry in m_text
};

template <typename Hit>
void FoldedTexts::find(const QList<QByteArray>& words, Hit hit) const {
    if (words.isEmpty() || m_keys.empty())
        return;
    const QByteArrayView first(words.first());
    qsizetype from = 0;
    while (true) {
        const qsizetype at = findBytes(m_text, first, from);
        if (at < 0)
            return;
        const qsizetype entry = entryOf(at);
        bool all = true;
        for (qsizetype w = 1; w < words.size() && all; ++w)
            all = holds(entry, words[w]);
        if (all && !hit(entry))
            return;
        // On past this entry: one hit per entry.
        from = entry + 1 < size() ? m_starts[static_cast<size_t>(entry + 1)] : m_text.size();
    }
}
