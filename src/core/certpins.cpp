#include "core/certpins.h"

#include "core/inifile.h"

#include <QList>

namespace {

const QString kSection = QStringLiteral("Box");
const QString kKey = QStringLiteral("certfingerprint");

// No separators of the stored list inside a part, so one entry cannot forge another. The pin is
// base64 and may end in '='; the first '=' of an entry ends the host.
bool validPin(const QByteArray& s) {
    return s.startsWith("sha256//") && !s.contains(' ') && !s.contains('\t');
}
bool validHost(const QByteArray& s) {
    return !s.isEmpty() && !s.contains(' ') && !s.contains('\t') && !s.contains('=');
}

} // namespace

QByteArray CertPins::pinFor(const QByteArray& hostPort) const {
    const QByteArray all = m_ini.ReadString(kSection, kKey, QString()).toLatin1();
    for (const QByteArray& entry : all.split(' ')) {
        const qsizetype eq = entry.indexOf('=');
        if (eq > 0 && entry.left(eq) == hostPort && entry.mid(eq + 1).startsWith("sha256//"))
            return entry.mid(eq + 1);
    }
    return {};
}

bool CertPins::remember(const QByteArray& hostPort, const QByteArray& pin) {
    if (!validHost(hostPort) || !validPin(pin) || !pinFor(hostPort).isEmpty())
        return false;
    QByteArray all = m_ini.ReadString(kSection, kKey, QString()).toLatin1().trimmed();
    const QByteArray added = (all.isEmpty() ? QByteArray() : all + ' ') + hostPort + '=' + pin;
    // The ini cuts values at its limit; a list that no longer fits is not stored cut.
    if (added.size() > TIniFile::kMaxValueLength)
        return false;
    return m_ini.WriteString(kSection, kKey, QString::fromLatin1(added));
}
