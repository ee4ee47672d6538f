#include "core/inifile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <limits>

namespace {

QByteArray stripCr(const QByteArray& line) {
    return line.endsWith('\r') ? line.left(line.size() - 1) : line;
}

// "[name]" with optional blanks; a header without "]" names the rest of the line.
bool sectionName(const QByteArray& line, QByteArray* name) {
    const QByteArray t = stripCr(line).trimmed();
    if (!t.startsWith('['))
        return false;
    const qsizetype close = t.indexOf(']');
    *name = (close < 0 ? t.mid(1) : t.mid(1, close - 1)).trimmed();
    return true;
}

bool keyValue(const QByteArray& line, QByteArray* key, QByteArray* value) {
    const QByteArray t = stripCr(line);
    const QByteArray trimmed = t.trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith(';'))
        return false;
    const qsizetype eq = t.indexOf('=');
    if (eq < 0)
        return false;
    *key = t.left(eq).trimmed();
    *value = t.mid(eq + 1).trimmed();
    return !key->isEmpty();
}

bool sameName(const QByteArray& a, const QByteArray& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// The value without one pair of enclosing quotes, as the profile API returns it.
QByteArray unquote(const QByteArray& v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        return v.mid(1, v.size() - 2);
    return v;
}

// A line break inside a value would split it into a second, forged key.
QByteArray oneLine(const QString& s) {
    QByteArray b = s.toUtf8();
    b.replace('\r', ' ');
    b.replace('\n', ' ');
    return b;
}

} // namespace

TIniFile::TIniFile(QString fileName)
    : m_fileName(std::move(fileName)) {
    reload();
}

bool TIniFile::reload() {
    m_lines.clear();
    m_crlf = false;
    m_unreadable = false;
    m_dirty = false;
    QFile f(m_fileName);
    if (!f.exists())
        return true;
    if (f.size() > kMaxFileSize || !f.open(QIODevice::ReadOnly)) {
        m_unreadable = true;
        m_lastError = QStringLiteral("cannot read %1").arg(m_fileName);
        return false;
    }
    QByteArray all = f.readAll();
    if (all.isEmpty())
        return true;
    m_crlf = all.contains("\r\n");
    if (all.endsWith('\n'))
        all.chop(1);
    m_lines = all.split('\n');
    return true;
}

qsizetype TIniFile::findSection(const QByteArray& section) const {
    QByteArray name;
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        if (sectionName(m_lines[i], &name) && sameName(name, section))
            return i;
    }
    return -1;
}

TIniFile::Entry TIniFile::findKey(qsizetype sectionLine, const QByteArray& key) const {
    QByteArray name;
    QByteArray k;
    QByteArray v;
    for (qsizetype i = sectionLine + 1; i < m_lines.size(); ++i) {
        if (sectionName(m_lines[i], &name))
            break;
        if (keyValue(m_lines[i], &k, &v) && sameName(k, key))
            return {i, v};
    }
    return {};
}

bool TIniFile::SectionExists(const QString& section) const {
    return findSection(section.toUtf8().trimmed()) >= 0;
}

bool TIniFile::ValueExists(const QString& section, const QString& key) const {
    const qsizetype s = findSection(section.toUtf8().trimmed());
    return s >= 0 && findKey(s, key.toUtf8().trimmed()).line >= 0;
}

QString TIniFile::ReadString(const QString& section, const QString& key, const QString& defaultValue) const {
    const qsizetype s = findSection(section.toUtf8().trimmed());
    if (s < 0)
        return defaultValue.left(kMaxValueLength);
    const Entry e = findKey(s, key.toUtf8().trimmed());
    if (e.line < 0)
        return defaultValue.left(kMaxValueLength);
    return QString::fromUtf8(unquote(e.value)).left(kMaxValueLength);
}

int TIniFile::ReadInteger(const QString& section, const QString& key, int defaultValue) const {
    const QString text = ReadString(section, key, QString()).trimmed();
    if (text.isEmpty())
        return defaultValue;
    bool ok = false;
    qlonglong v = 0;
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        v = text.mid(2).toLongLong(&ok, 16);
    else
        v = text.toLongLong(&ok, 10);
    if (!ok || v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
        return defaultValue;
    return static_cast<int>(v);
}

bool TIniFile::ReadBool(const QString& section, const QString& key, bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

bool TIniFile::WriteString(const QString& section, const QString& key, const QString& value) {
    const QByteArray sec = section.toUtf8().trimmed();
    const QByteArray k = key.toUtf8().trimmed();
    const QByteArray cr = m_crlf ? QByteArray("\r") : QByteArray();
    QByteArray line = k + '=' + oneLine(value) + cr;

    qsizetype s = findSection(sec);
    if (s < 0) {
        m_lines.append('[' + sec + ']' + cr);
        m_lines.append(line);
    } else {
        const Entry e = findKey(s, k);
        if (e.line >= 0) {
            // Keep the spelling of the key already in the file.
            QByteArray existing;
            QByteArray dummy;
            keyValue(m_lines[e.line], &existing, &dummy);
            m_lines[e.line] = existing + '=' + oneLine(value) + cr;
        } else {
            // After the section's last non-blank line, so blank separators stay before the next section.
            qsizetype end = s;
            QByteArray name;
            for (qsizetype i = s + 1; i < m_lines.size(); ++i) {
                if (sectionName(m_lines[i], &name))
                    break;
                if (!stripCr(m_lines[i]).trimmed().isEmpty())
                    end = i;
            }
            m_lines.insert(end + 1, line);
        }
    }
    m_dirty = true;
    if (m_updateDepth > 0)
        return true;
    return commit();
}

bool TIniFile::WriteInteger(const QString& section, const QString& key, int value) {
    return WriteString(section, key, QString::number(value));
}

bool TIniFile::WriteBool(const QString& section, const QString& key, bool value) {
    return WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void TIniFile::beginUpdate() {
    ++m_updateDepth;
}

bool TIniFile::endUpdate() {
    if (m_updateDepth > 0 && --m_updateDepth > 0)
        return true;
    return m_dirty ? commit() : true;
}

bool TIniFile::commit() {
    const auto fail = [this](const QString& why) {
        m_lastError = QStringLiteral("cannot write %1: %2").arg(m_fileName, why);
        // Memory follows the disk again, so a failed save is not silently kept as if written.
        reload();
        m_lastError = QStringLiteral("cannot write %1: %2").arg(m_fileName, why);
        return false;
    };
    if (m_unreadable)
        return fail(QStringLiteral("the existing file could not be read"));
    const QFileInfo info(m_fileName);
    if (info.exists() && !info.isWritable())
        return fail(QStringLiteral("the file is read-only"));

    QSaveFile out(m_fileName);
    if (!out.open(QIODevice::WriteOnly))
        return fail(out.errorString());
    // On the temporary file, before it takes the real name: the file holds passwords and must
    // never be readable by others, not even for the moment between rename and chmod.
    if (!out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        out.cancelWriting();
        return fail(QStringLiteral("cannot restrict the permissions"));
    }
    QByteArray all;
    for (const QByteArray& l : std::as_const(m_lines)) {
        all += l;
        all += '\n';
    }
    // A short write (full disk, size limit) is not an error to QSaveFile: check the count ourselves
    // so a cut file never replaces the good one.
    if (out.write(all) != all.size()) {
        out.cancelWriting();
        return fail(QStringLiteral("short write"));
    }
    if (!out.commit())
        return fail(out.errorString());
    QFile::setPermissions(m_fileName, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    m_dirty = false;
    return true;
}
