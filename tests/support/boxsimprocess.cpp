#include "support/boxsimprocess.h"

#include <QDeadlineTimer>
#include <QUrl>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Connects with a bound wait; returns the socket or -1.
int connectTo(const QString& address, int port, int timeoutMs) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(uint16_t(port));
    if (inet_pton(AF_INET, address.toLatin1().constData(), &sa.sin_addr) != 1)
        return -1;
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        if (errno != EINPROGRESS) {
            ::close(fd);
            return -1;
        }
        pollfd p{fd, POLLOUT, 0};
        int err = 0;
        socklen_t len = sizeof err;
        if (poll(&p, 1, timeoutMs) <= 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
            ::close(fd);
            return -1;
        }
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

} // namespace

BoxSimProcess::BoxSimProcess(QString address, QStringList extraArgs)
    : m_address(std::move(address))
    , m_args(std::move(extraArgs)) {
    const int i = m_args.indexOf(QStringLiteral("--http-port"));
    if (i >= 0 && i + 1 < m_args.size())
        m_httpPort = m_args.at(i + 1).toInt();
}

BoxSimProcess::~BoxSimProcess() {
    stop();
}

QString BoxSimProcess::binaryPath() {
    return QStringLiteral(QUOXEL_BOXSIM_PATH);
}

bool BoxSimProcess::start(int timeoutMs) {
    m_process.setProgram(binaryPath());
    m_process.setArguments(QStringList{QStringLiteral("--address"), m_address} + m_args);
    m_process.start();
    if (!m_process.waitForStarted(timeoutMs))
        return false;
    QByteArray out;
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        m_process.waitForReadyRead(100);
        out += m_process.readAllStandardOutput();
        m_stderr += m_process.readAllStandardError();
        if (out.contains("boxsim ready\n"))
            return true;
        if (m_process.state() == QProcess::NotRunning)
            return false;
    }
    return false;
}

void BoxSimProcess::stop() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(2000);
    }
    m_stderr += m_process.readAllStandardError();
}

bool BoxSimProcess::isRunning() const {
    return m_process.state() != QProcess::NotRunning;
}

int BoxSimProcess::exitCode() const {
    return m_process.exitCode();
}

QString BoxSimProcess::stderrText() {
    m_stderr += m_process.readAllStandardError();
    return QString::fromLocal8Bit(m_stderr);
}

BoxSimProcess::Reply BoxSimProcess::httpGet(const QString& address, int port, const QByteArray& target, int timeoutMs,
                                            const QByteArray& extraHeaders) {
    Reply reply;
    const int fd = connectTo(address, port, timeoutMs);
    if (fd < 0)
        return reply;
    const QByteArray request =
        "GET " + target + " HTTP/1.0\r\nHost: " + address.toLatin1() + "\r\n" + extraHeaders + "\r\n";
    if (::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) != request.size()) {
        ::close(fd);
        return reply;
    }
    const QDeadlineTimer deadline(timeoutMs);
    char buf[65536];
    bool closed = false;
    while (!deadline.hasExpired()) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, int(std::min<qint64>(deadline.remainingTime(), 200))) <= 0)
            continue;
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            closed = true;
            break;
        }
        reply.raw.append(buf, int(n));
    }
    ::close(fd);
    const int headEnd = reply.raw.indexOf("\r\n\r\n");
    if (!closed || headEnd < 0 || !reply.raw.startsWith("HTTP/1."))
        return reply;
    reply.head = reply.raw.left(headEnd);
    reply.body = reply.raw.mid(headEnd + 4);
    reply.status = reply.head.mid(9, 3).toInt();
    reply.ok = true;
    return reply;
}

BoxSimProcess::Reply BoxSimProcess::control(const QByteArray& pathAndQuery) {
    return httpGet(m_address, m_httpPort, pathAndQuery);
}

bool BoxSimProcess::setFault(const QString& endpoint, const QString& mode, qint64 arg, int count) {
    QByteArray q = "/boxsim/fault?endpoint=" + QUrl::toPercentEncoding(endpoint) + "&mode=" + mode.toLatin1();
    if (arg >= 0)
        q += "&arg=" + QByteArray::number(arg);
    if (count > 0)
        q += "&count=" + QByteArray::number(count);
    const Reply r = control(q);
    return r.ok && r.status == 200 && r.body == "ok";
}

bool BoxSimProcess::clearFaults() {
    const Reply r = control("/boxsim/fault?clear");
    return r.ok && r.body == "ok";
}

QStringList BoxSimProcess::requests(const QString& service) {
    const Reply r = control("/boxsim/requests?service=" + QUrl::toPercentEncoding(service));
    if (!r.ok)
        return {};
    return QString::fromLatin1(r.body).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList BoxSimProcess::requestTargets(const QString& service) {
    QStringList targets;
    for (const QString& line : requests(service)) {
        const int start = line.indexOf(QLatin1Char(' '));
        const int end = line.lastIndexOf(QStringLiteral(" HTTP/"));
        targets << (start >= 0 && end > start ? line.mid(start + 1, end - start - 1) : line);
    }
    return targets;
}

bool BoxSimProcess::clearRequests() {
    const Reply r = control("/boxsim/requests?clear");
    return r.ok && r.body == "ok";
}

QMap<QString, QString> BoxSimProcess::state() {
    QMap<QString, QString> values;
    const Reply r = control("/boxsim/state");
    for (const QByteArray& line : r.body.split('\n')) {
        const int eq = line.indexOf('=');
        if (eq > 0)
            values.insert(QString::fromLatin1(line.left(eq)), QString::fromLatin1(line.mid(eq + 1)));
    }
    return values;
}

bool BoxSimProcess::setState(const QString& key, const QString& value) {
    const Reply r = control("/boxsim/set?" + QUrl::toPercentEncoding(key) + "=" + QUrl::toPercentEncoding(value));
    return r.ok && r.status == 200;
}
