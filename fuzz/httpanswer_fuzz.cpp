// Whole HTTP answers (status line, headers, body, gzip or not) through the real engine: a loopback
// server hands each input to the client as the receiver's answer. Slower than the pure functions,
// but it reaches the header handling that only runs behind curl.
#include "box/httpengine.h"

#include "fuzzutil.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <mutex>
#include <thread>

namespace {

constexpr const char* kAddress = "127.0.60.7";

struct AnswerServer {
    int listenFd = -1;
    int port = 0;
    std::mutex mutex;
    QByteArray answer;

    AnswerServer() {
        listenFd = ::socket(AF_INET, SOCK_STREAM, 0);
        const int one = 1;
        ::setsockopt(listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        ::inet_pton(AF_INET, kAddress, &addr.sin_addr);
        if (::bind(listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listenFd, 8) != 0)
            std::abort();
        socklen_t len = sizeof addr;
        ::getsockname(listenFd, reinterpret_cast<sockaddr*>(&addr), &len);
        port = ntohs(addr.sin_port);
        std::thread([this] { serve(); }).detach();
    }

    void serve() {
        for (;;) {
            const int fd = ::accept(listenFd, nullptr, nullptr);
            if (fd < 0)
                continue;
            timeval tv{2, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
            QByteArray request;
            char buf[4096];
            while (!request.contains("\r\n\r\n") && request.size() < 65536) {
                const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                if (n <= 0)
                    break;
                request.append(buf, n);
            }
            QByteArray out;
            {
                std::lock_guard lock(mutex);
                out = answer;
            }
            qsizetype sent = 0;
            while (sent < out.size()) {
                const ssize_t n =
                    ::send(fd, out.constData() + sent, static_cast<size_t>(out.size() - sent), MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                sent += n;
            }
            ::shutdown(fd, SHUT_WR);
            ::close(fd);
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static AnswerServer server;
    static TIEHTTP http;
    {
        std::lock_guard lock(server.mutex);
        server.answer = fuzz::bytes(data, size);
    }
    http.Timeout = 2;
    const bool answered =
        http.ExecuteURL(QStringLiteral("%1:%2/control/getbouquets").arg(QLatin1String(kAddress)).arg(server.port));
    FUZZ_CHECK(http.ResponseStream.size() <= TIEHTTP::kMaxAnswerBytes);
    FUZZ_CHECK(http.BytesRead <= TIEHTTP::kMaxAnswerBytes);
    FUZZ_CHECK(http.ContentLength >= 1);
    const QStringList lines = http.Response();
    for (const QString& line : lines)
        FUZZ_CHECK(!fuzz::hasLineBreak(line));
    // The text callers read holds the same lines, each ended by CR LF but the last.
    FUZZ_CHECK(http.ResponseText == lines.join(QStringLiteral("\r\n")));
    for (const QString& line : std::as_const(http.ResponseHeaders))
        FUZZ_CHECK(!fuzz::hasLineBreak(line));
    if (!answered)
        FUZZ_CHECK(!http.ErrorText.isEmpty());
    (void)http.StatusText();
    return 0;
}
