#pragma once

#include <QByteArray>

class TIniFile;

// The HTTPS server keys trusted on first use, kept in "Quoxel.ini" as [Box] "certfingerprint":
// space-separated "host:port=sha256//<base64>" entries. The HTTP client's TrustedKey and
// RememberKey hooks read and write through this.
class CertPins {
public:
    explicit CertPins(TIniFile& ini)
        : m_ini(ini) {}

    // The pin stored for host:port, or empty when there is none (or the entry is malformed).
    QByteArray pinFor(const QByteArray& hostPort) const;
    // Stores a first-seen pin; an existing pin for the same host is never replaced (a changed
    // certificate must be refused, not learned). False when not stored.
    bool remember(const QByteArray& hostPort, const QByteArray& pin);

private:
    TIniFile& m_ini;
};
