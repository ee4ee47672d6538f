#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// An ini file read and written with the Windows private-profile rules the settings rely on:
// section and key names match case-insensitively, the first match wins, names and values are
// trimmed, a value is cut to 2047 characters, missing keys give the caller's default.
// Lines the program does not write (comments, unknown sections and keys) are kept byte for byte.
// Not thread-safe; owned by the settings store on the UI thread.
class TIniFile {
public:
    static constexpr int kMaxValueLength = 2047;
    // Larger files are not read (and never overwritten): no real settings file comes near this.
    static constexpr qint64 kMaxFileSize = 64 * 1024 * 1024;

    explicit TIniFile(QString fileName);

    const QString& fileName() const { return m_fileName; }

    // Re-reads the file. A missing file is an empty one; false when it exists but cannot be read.
    bool reload();

    bool SectionExists(const QString& section) const;
    bool ValueExists(const QString& section, const QString& key) const;
    QString ReadString(const QString& section, const QString& key, const QString& defaultValue) const;
    // Decimal, or hexadecimal after "0x"; anything else (or out of 32-bit range) gives the default.
    int ReadInteger(const QString& section, const QString& key, int defaultValue) const;
    bool ReadBool(const QString& section, const QString& key, bool defaultValue) const;

    // Each write goes to disk at once (atomically, mode 0600) unless inside beginUpdate/endUpdate,
    // which writes all changes in one go. Returns false and sets lastError() on failure; the
    // file on disk is then unchanged.
    bool WriteString(const QString& section, const QString& key, const QString& value);
    bool WriteInteger(const QString& section, const QString& key, int value);
    bool WriteBool(const QString& section, const QString& key, bool value);

    void beginUpdate();
    bool endUpdate();

    QString lastError() const { return m_lastError; }

    // The file's lines as last read or written, for the copy at the head of the log.
    const QList<QByteArray>& lines() const { return m_lines; }

private:
    struct Entry {
        qsizetype line = -1;
        QByteArray value;
    };
    qsizetype findSection(const QByteArray& section) const;
    Entry findKey(qsizetype sectionLine, const QByteArray& key) const;
    bool commit();

    QString m_fileName;
    QList<QByteArray> m_lines;
    bool m_crlf = false;
    bool m_unreadable = false;
    int m_updateDepth = 0;
    bool m_dirty = false;
    QString m_lastError;
};
