#pragma once

#include <QByteArray>
#include <QHash>

#include <memory>
#include <mutex>

class QObject;
class TIniFile;

// The HTTPS server keys trusted on first use, kept in "Quoxel.ini" as [Box] "certfingerprint":
// space-separated "host:port=sha256//<base64>" entries. The HTTP client's TrustedKey and
// RememberKey hooks read and write through this.
// Any thread may ask and remember: the ini itself is only touched on the thread that created the
// store (the one that owns the ini); a key learned elsewhere is trusted at once and written to the
// ini from that thread's event loop. Must outlive every client that uses it.
class CertPins {
public:
    explicit CertPins(TIniFile& ini);
    ~CertPins();
    CertPins(const CertPins&) = delete;
    CertPins& operator=(const CertPins&) = delete;

    // The pin stored for host:port, or empty when there is none (or the entry is malformed).
    QByteArray pinFor(const QByteArray& hostPort) const;
    // Stores a first-seen pin; an existing pin for the same host is never replaced (a changed
    // certificate must be refused, not learned). False when not stored. A pin that cannot be
    // written stays trusted for the rest of the run.
    bool remember(const QByteArray& hostPort, const QByteArray& pin);
    // Forgets every stored key, for when the user has accepted a receiver's new certificate: the
    // next connection to each host trusts what it is shown, as on the first. Returns how many
    // hosts were forgotten, -1 when the ini could not be written (the keys then stay trusted).
    // On the ini's thread only.
    int forgetAll();

private:
    bool onIniThread() const;
    QByteArray pinLocked(const QByteArray& hostPort) const;
    bool writeToIni(const QByteArray& hostPort, const QByteArray& pin);

    TIniFile& m_ini;
    mutable std::mutex m_mutex;
    QHash<QByteArray, QByteArray> m_known; // what the ini held at the start, and every pin learned since
    quint64 m_forgets = 0;                 // forgetAll calls so far; a queued write from before one is dropped
    std::unique_ptr<QObject> m_iniThread;  // lives on the ini's thread; writes from elsewhere queue on it
};
