#include "core/certpins.h"

#include "core/inifile.h"
#include "core/log.h"

#include <QList>
#include <QMetaObject>
#include <QObject>
#include <QSet>
#include <QThread>

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

// Calls f(host, pin) for each well-formed entry of a stored list, in order, while it returns true.
template <typename F>
void forEachEntry(const QByteArray& all, F&& f) {
    for (const QByteArray& entry : all.split(' ')) {
        const qsizetype eq = entry.indexOf('=');
        if (eq <= 0)
            continue;
        const QByteArray host = entry.left(eq);
        const QByteArray pin = entry.mid(eq + 1);
        if (validHost(host) && validPin(pin) && !f(host, pin))
            return;
    }
}

// The pin of host:port in a stored list; empty when absent.
QByteArray pinInList(const QByteArray& all, const QByteArray& hostPort) {
    QByteArray found;
    forEachEntry(all, [&](const QByteArray& host, const QByteArray& pin) {
        if (host != hostPort)
            return true;
        found = pin;
        return false;
    });
    return found;
}

} // namespace

CertPins::CertPins(TIniFile& ini)
    : m_ini(ini)
    , m_iniThread(std::make_unique<QObject>()) {
    forEachEntry(m_ini.ReadString(kSection, kKey, QString()).toLatin1(),
                 [this](const QByteArray& host, const QByteArray& pin) {
                     if (!m_known.contains(host))
                         m_known.insert(host, pin);
                     return true;
                 });
}

// Destroying the context object drops writes still queued on it.
CertPins::~CertPins() = default;

bool CertPins::onIniThread() const {
    return QThread::currentThread() == m_iniThread->thread();
}

QByteArray CertPins::pinLocked(const QByteArray& hostPort) const {
    // The ini is the record of what is trusted (it may have been re-read since); on other threads
    // the copy taken at the start and the pins learned since stand in for it.
    if (onIniThread()) {
        const QByteArray stored = pinInList(m_ini.ReadString(kSection, kKey, QString()).toLatin1(), hostPort);
        if (!stored.isEmpty())
            return stored;
    }
    return m_known.value(hostPort);
}

QByteArray CertPins::pinFor(const QByteArray& hostPort) const {
    std::lock_guard lock(m_mutex);
    return pinLocked(hostPort);
}

bool CertPins::remember(const QByteArray& hostPort, const QByteArray& pin) {
    if (!validHost(hostPort) || !validPin(pin))
        return false;
    std::lock_guard lock(m_mutex);
    if (!pinLocked(hostPort).isEmpty())
        return false;
    m_known.insert(hostPort, pin);
    if (onIniThread())
        return writeToIni(hostPort, pin);
    // A forget that comes first wins: the key it dropped is not written back afterwards.
    const quint64 forgets = m_forgets;
    QMetaObject::invokeMethod(
        m_iniThread.get(),
        [this, hostPort, pin, forgets] {
            std::lock_guard later(m_mutex);
            if (m_forgets == forgets)
                writeToIni(hostPort, pin);
        },
        Qt::QueuedConnection);
    return true;
}

int CertPins::forgetAll() {
    if (!onIniThread())
        return -1;
    std::lock_guard lock(m_mutex);
    QSet<QByteArray> hosts(m_known.keyBegin(), m_known.keyEnd());
    const QByteArray all = m_ini.ReadString(kSection, kKey, QString()).toLatin1().trimmed();
    forEachEntry(all, [&hosts](const QByteArray& host, const QByteArray&) {
        hosts.insert(host);
        return true;
    });
    if (!all.isEmpty() && !m_ini.WriteString(kSection, kKey, QString())) {
        Log(LogMsg, QStringLiteral("stored server keys not forgotten: ") + m_ini.lastError());
        return -1;
    }
    m_known.clear();
    ++m_forgets;
    return static_cast<int>(hosts.size());
}

bool CertPins::writeToIni(const QByteArray& hostPort, const QByteArray& pin) {
    QByteArray all = m_ini.ReadString(kSection, kKey, QString()).toLatin1().trimmed();
    if (!pinInList(all, hostPort).isEmpty())
        return false; // never replaced
    const QByteArray added = (all.isEmpty() ? QByteArray() : all + ' ') + hostPort + '=' + pin;
    // The ini cuts values at its limit; a list that no longer fits is not stored cut.
    if (added.size() > TIniFile::kMaxValueLength) {
        Log(LogMsg, QStringLiteral("server key of %1 not stored: the list is full").arg(QString::fromLatin1(hostPort)));
        return false;
    }
    // One atomic write of the whole file, as every ini write.
    if (!m_ini.WriteString(kSection, kKey, QString::fromLatin1(added))) {
        Log(LogMsg,
            QStringLiteral("server key of %1 not stored: %2").arg(QString::fromLatin1(hostPort), m_ini.lastError()));
        return false;
    }
    return true;
}
