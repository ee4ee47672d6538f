#pragma once

#include <QByteArray>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>

// Runs the receiver simulator (tools/boxsim) as a child process on one loopback address for a
// test, and talks to its control endpoint. Test thread only; the process ends with the object.
class BoxSimProcess {
public:
    struct Reply {
        bool ok = false; // a complete HTTP answer arrived
        int status = 0;
        QByteArray head; // status line and headers
        QByteArray body;
        QByteArray raw; // everything received
    };

    explicit BoxSimProcess(QString address, QStringList extraArgs = {});
    ~BoxSimProcess();
    BoxSimProcess(const BoxSimProcess&) = delete;
    BoxSimProcess& operator=(const BoxSimProcess&) = delete;

    // Starts boxsim and waits up to timeoutMs for its "boxsim ready" line.
    bool start(int timeoutMs = 10000);
    // SIGTERM, then a bounded wait, then SIGKILL.
    void stop();
    bool isRunning() const;
    int exitCode() const;
    QString address() const { return m_address; }
    int httpPort() const { return m_httpPort; }
    QString stderrText();

    // Control endpoint: /boxsim/fault, /boxsim/requests, /boxsim/state, /boxsim/set.
    bool setFault(const QString& endpoint, const QString& mode, qint64 arg = -1, int count = 0);
    bool clearFaults();
    QStringList requests(const QString& service = QStringLiteral("http"));
    // The request targets only ("GET /control/zapto HTTP/1.1" gives "/control/zapto").
    QStringList requestTargets(const QString& service = QStringLiteral("http"));
    bool clearRequests();
    QMap<QString, QString> state();
    bool setState(const QString& key, const QString& value);
    Reply control(const QByteArray& pathAndQuery);

    // One HTTP/1.0 GET over a plain socket; the target goes out byte for byte (raw blanks too).
    static Reply httpGet(const QString& address, int port, const QByteArray& target, int timeoutMs = 5000,
                         const QByteArray& extraHeaders = QByteArray());
    static QString binaryPath();

private:
    QString m_address;
    QStringList m_args;
    int m_httpPort = 80;
    QProcess m_process;
    QByteArray m_stderr;
};
