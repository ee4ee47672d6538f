#include "support/rawhttpserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>

namespace {

constexpr int kIoWaitMs = 5000; // a client that stalls this long mid-request is given up

QByteArray deflateWith(const QByteArray& data, int windowBits) {
    z_stream zs{};
    if (deflateInit2(&zs, Z_BEST_COMPRESSION, Z_DEFLATED, windowBits, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    QByteArray out(static_cast<qsizetype>(deflateBound(&zs, static_cast<uLong>(data.size()))), '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&zs, Z_FINISH);
    out.truncate(static_cast<qsizetype>(zs.total_out));
    deflateEnd(&zs);
    return rc == Z_STREAM_END ? out : QByteArray();
}

} // namespace

RawHttpServer::RawHttpServer(const char* address)
    : m_address(QString::fromLatin1(address)) {
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0)
        return;
    const int one = 1;
    ::setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = 0;
    if (::inet_pton(AF_INET, address, &a.sin_addr) != 1 ||
        ::bind(m_listenFd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 || ::listen(m_listenFd, 32) != 0)
        return;
    socklen_t len = sizeof(a);
    ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&a), &len);
    m_port = ntohs(a.sin_port);
    m_acceptThread = std::thread([this] { acceptLoop(); });
}

RawHttpServer::~RawHttpServer() {
    m_stop = true;
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    std::vector<Connection> threads;
    {
        std::lock_guard lock(m_threadsMutex);
        threads.swap(m_threads);
    }
    for (Connection& c : threads)
        c.thread.join();
    if (m_listenFd >= 0)
        ::close(m_listenFd);
}

QString RawHttpServer::url(const QString& pathAndQuery) const {
    return QStringLiteral("http://%1:%2%3").arg(m_address).arg(m_port).arg(pathAndQuery);
}

void RawHttpServer::setScript(const Script& script) {
    std::lock_guard lock(m_mutex);
    m_queue.clear();
    m_default = script;
}

void RawHttpServer::pushScript(const Script& script) {
    std::lock_guard lock(m_mutex);
    m_queue.push_back(script);
}

QList<QByteArray> RawHttpServer::requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

bool RawHttpServer::waitForRequests(int n, int timeoutMs) const {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_requests.size() >= n; });
}

RawHttpServer::Script RawHttpServer::answer(const QByteArray& body, const QByteArray& status) {
    Script s;
    s.body = body;
    s.status = status;
    return s;
}

QByteArray RawHttpServer::zlibCompress(const QByteArray& data) {
    return deflateWith(data, 15);
}
QByteArray RawHttpServer::gzipCompress(const QByteArray& data) {
    return deflateWith(data, 15 + 16);
}
QByteArray RawHttpServer::rawDeflate(const QByteArray& data) {
    return deflateWith(data, -15);
}

void RawHttpServer::acceptLoop() {
    while (!m_stop) {
        pollfd p{m_listenFd, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0)
            continue;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        ++m_connections;
        Script script;
        {
            std::lock_guard lock(m_mutex);
            if (!m_queue.empty()) {
                script = m_queue.front();
                m_queue.pop_front();
            } else {
                script = m_default;
            }
        }
        std::lock_guard lock(m_threadsMutex);
        for (auto it = m_threads.begin(); it != m_threads.end();) {
            if (it->finished->load()) {
                it->thread.join();
                it = m_threads.erase(it);
            } else {
                ++it;
            }
        }
        auto finished = std::make_shared<std::atomic<bool>>(false);
        m_threads.push_back({std::thread([this, fd, script, finished] {
                                 serve(fd, script);
                                 ::close(fd);
                                 finished->store(true);
                             }),
                             finished});
    }
}

bool RawHttpServer::pause(int fd, int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!m_stop) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            return true;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(std::min<long long>(left, 20))) > 0) {
            char c;
            // Bytes after the request are ignored; an orderly close or an error means the client left.
            if (::recv(fd, &c, 1, MSG_DONTWAIT) <= 0)
                return false;
        }
    }
    return false;
}

void RawHttpServer::hold(int fd) {
    while (pause(fd, 1000)) {
    }
}

bool RawHttpServer::sendAll(int fd, const QByteArray& bytes) {
    qsizetype off = 0;
    while (off < bytes.size() && !m_stop) {
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, 20) <= 0)
            continue;
        const ssize_t n =
            ::send(fd, bytes.constData() + off, static_cast<size_t>(bytes.size() - off), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        if (n <= 0)
            return false;
        off += n;
    }
    return off == bytes.size();
}

bool RawHttpServer::readRequest(int fd, QByteArray* request) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kIoWaitMs);
    qsizetype headEnd = -1;
    qint64 bodyLength = 0;
    char buf[4096];
    while (!m_stop && std::chrono::steady_clock::now() < end) {
        if (headEnd >= 0 && request->size() >= headEnd + 4 + bodyLength)
            return true;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0)
            continue;
        const ssize_t n = ::recv(fd, buf, sizeof(buf), 0);
        if (n <= 0)
            return false;
        request->append(buf, n);
        if (headEnd < 0) {
            headEnd = request->indexOf("\r\n\r\n");
            if (headEnd >= 0) {
                for (const QByteArray& line : request->left(headEnd).split('\n')) {
                    if (line.toLower().startsWith("content-length:"))
                        bodyLength = line.mid(15).trimmed().toLongLong();
                }
            }
        }
    }
    return false;
}

QByteArray RawHttpServer::head(const Script& s, qint64 length) const {
    QByteArray h = "HTTP/1.1 " + s.status + "\r\n";
    for (const QByteArray& line : s.headers)
        h += line + "\r\n";
    if (length >= 0)
        h += "Content-Length: " + QByteArray::number(length) + "\r\n";
    h += "Connection: close\r\n\r\n";
    return h;
}

void RawHttpServer::serve(int fd, Script s) {
    if (s.mode == Mode::CloseAtOnce)
        return;
    QByteArray request;
    const bool complete = readRequest(fd, &request);
    {
        std::lock_guard lock(m_mutex);
        m_requests.append(request);
    }
    m_cv.notify_all();
    if (!complete)
        return;
    if (!s.requireAuth.isEmpty()) {
        const QByteArray expected = "authorization: basic " + s.requireAuth.toBase64();
        bool ok = false;
        for (const QByteArray& line : request.split('\n')) {
            if (line.trimmed().toLower() == expected.toLower())
                ok = true;
        }
        if (!ok) {
            Script refused = answer("unauthorized\n", "401 Unauthorized");
            refused.headers = {"WWW-Authenticate: Basic realm=\"box\""};
            sendAll(fd, head(refused, refused.body.size()) + refused.body);
            return;
        }
    }
    const qint64 length = s.announcedLength >= 0 ? s.announcedLength : (s.sendLength ? s.body.size() : -1);
    switch (s.mode) {
    case Mode::CloseAtOnce:
        return;
    case Mode::AnswerLate:
        if (!pause(fd, s.delayMs))
            return;
        [[fallthrough]];
    case Mode::Answer:
        sendAll(fd, head(s, length) + s.body);
        return;
    case Mode::Silent:
        if (sendAll(fd, head(s, length) + s.body))
            hold(fd);
        return;
    case Mode::NeverAnswer:
        hold(fd);
        return;
    case Mode::Trickle: {
        const qint64 announced = s.announcedLength >= 0 ? s.announcedLength : s.trickleBytes >= 0 ? s.trickleBytes : -1;
        if (!sendAll(fd, head(s, announced)))
            return;
        const QByteArray source = s.body.isEmpty() ? QByteArray("x") : s.body;
        for (int i = 0; s.trickleBytes < 0 || i < s.trickleBytes; ++i) {
            if (!pause(fd, s.intervalMs) || !sendAll(fd, source.mid(i % source.size(), 1)))
                return;
        }
        if (s.silentAfterTrickle)
            hold(fd);
        return;
    }
    case Mode::Huge: {
        if (!sendAll(fd, head(s, -1)))
            return;
        const QByteArray block(64 * 1024, 'a');
        for (qint64 sent = 0; sent < s.hugeBytes; sent += block.size()) {
            if (!sendAll(fd, block))
                return;
        }
        return;
    }
    case Mode::Chunked: {
        Script chunked = s;
        chunked.headers.append("Transfer-Encoding: chunked");
        QByteArray out = head(chunked, -1);
        for (qsizetype i = 0; i < s.body.size(); i += s.chunkBytes) {
            const QByteArray part = s.body.mid(i, s.chunkBytes);
            out += QByteArray::number(part.size(), 16) + "\r\n" + part + "\r\n";
        }
        out += "0\r\n\r\n";
        sendAll(fd, out);
        return;
    }
    }
}
