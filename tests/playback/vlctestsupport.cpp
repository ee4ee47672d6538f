#include "playback/vlctestsupport.h"

#include "core/log.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

QStringList headlessEngineArgs() {
    return {QStringLiteral("--vout=vdummy"), QStringLiteral("--aout=alsa"), QStringLiteral("--alsa-audio-device=null")};
}

bool RecordingView::showStillPicture(const QString& file) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    stillBytes = f.readAll();
    ++stillShows;
    return !stillBytes.isEmpty();
}

QStringList displayEngineArgs() {
    return {QStringLiteral("--vout=xcb_x11"), QStringLiteral("--aout=alsa"),
            QStringLiteral("--alsa-audio-device=null")};
}

void RecordingView::processPendingEvents() {
    ++pumps;
    if (onPump)
        onPump();
    QCoreApplication::processEvents();
}

qint64 logSize() {
    return QFile(appLogger().filePath()).size();
}

QStringList logLinesSince(qint64 from) {
    QFile f(appLogger().filePath());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    if (from > 0 && from <= f.size())
        f.seek(from);
    QStringList lines;
    for (const QByteArray& l : f.readAll().split('\n'))
        lines << QString::fromUtf8(l).trimmed();
    return lines;
}

bool waitFor(const std::function<bool()>& cond, int timeoutMs) {
    return QTest::qWaitFor(cond, timeoutMs);
}

QByteArray readHttpStream(const QString& address, int port, const QByteArray& target, int ms) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(uint16_t(port));
    inet_pton(AF_INET, address.toLatin1().constData(), &sa.sin_addr);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        if (fd >= 0)
            ::close(fd);
        return {};
    }
    const QByteArray req = "GET " + target + " HTTP/1.0\r\nHost: " + address.toLatin1() + "\r\n\r\n";
    ::send(fd, req.constData(), size_t(req.size()), MSG_NOSIGNAL);
    QByteArray raw;
    const QDeadlineTimer deadline(ms);
    char buf[65536];
    while (!deadline.hasExpired()) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        raw.append(buf, int(n));
    }
    ::close(fd);
    const qsizetype head = raw.indexOf("\r\n\r\n");
    return head < 0 ? QByteArray() : raw.mid(head + 4);
}
