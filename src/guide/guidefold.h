#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <vector>

// Search folding for programme titles and descriptions: lower case, accents and other marks
// dropped, umlauts and their spelled-out forms made one ("König", "Koenig" and "Konig" all give
// "konig"), "ß" as "ss", control characters, invalid text and blank runs as one blank, trimmed.
// The result is UTF-8; letters of other scripts stay, lower-cased. Any thread.
QByteArray foldForSearch(QStringView text);

// The words of a folded query (split at blanks), longest first: the longest is the rarest and
// is looked for first.
QList<QByteArray> searchWords(const QByteArray& folded);

// Looks for one word in large folded buffers: set up once, then called for every find, so a word
// that is in every text costs little more per find than the step to the next text.
class WordFinder {
public:
    explicit WordFinder(QByteArrayView word)
        : m_word(word) {}
    // Offset of the word in haystack at or after from, or -1.
    qsizetype find(QByteArrayView haystack, qsizetype from) const;

private:
    QByteArrayView m_word;
};

// Appends the folding of text to out, as foldForSearch() gives it.
void appendFoldedForSearch(QStringView text, QByteArray& out);

// Folded texts kept end to end, each ended by a NUL; an entry is known by its position. Built once
// per change of its source; a search walks the buffer whole. Immutable once built, so a finished
// store can be handed to another thread.
class FoldedTexts {
public:
    void clear();
    void reserve(qsizetype entries, qsizetype bytes);
    void append(QStringView text);
    // Two texts as one entry, a blank between them.
    void append(QStringView first, QStringView second);
    // Gives back the room kept for appending.
    void squeeze();
    qsizetype size() const { return static_cast<qsizetype>(m_starts.size()); }
    // Memory held, for the benchmark's account.
    qsizetype bytes() const;

    // Sets bit in marks[entry] for every entry that holds the word; marks has size() elements.
    void mark(const WordFinder& word, uint32_t bit, uint32_t* marks) const;

private:
    void endEntry(qsizetype begin);

    QByteArray m_text;
    std::vector<int> m_starts; // offset of each entry in m_text
};
