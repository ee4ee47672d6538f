#include "box/httpengine.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

namespace {

// A loopback server that answers every connection with a random, mostly broken HTTP answer:
// random status lines, header blocks, lengths that lie, chunking, encodings and bytes.
class RandomAnswerServer {
public:
    // With a script, the answers are its entries in turn, each sent whole.
    explicit RandomAnswerServer(uint32_t seed, std::vector<std::string> script = {})
        : m_rng(seed)
        , m_script(std::move(script)) {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = 0;
        ::inet_pton(AF_INET, "127.0.46.9", &a.sin_addr);
        const int one = 1;
        ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 || ::listen(m_fd, 16) != 0)
            return;
        socklen_t len = sizeof(a);
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~RandomAnswerServer() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        ::close(m_fd);
    }
    int port() const { return m_port; }

private:
    std::string randomBytes(size_t n) {
        std::string s(n, '\0');
        for (char& c : s)
            c = static_cast<char>(m_rng() & 0xff);
        return s;
    }

    std::string answer() {
        if (!m_script.empty())
            return m_script[m_next++ % m_script.size()];
        static const char* statuses[] = {"HTTP/1.1 200 OK\r\n",   "HTTP/1.0 404 Not Found\r\n", "HTTP/1.1 999 X\r\n",
                                         "HTTP/1.1 200\r\n",      "HTTP/9.9 200 OK\r\n",        "",
                                         "HTTP/1.1 301 Moved\r\n"};
        static const char* headers[] = {"Content-Length: 5\r\n",
                                        "Content-Length: 999999999\r\n",
                                        "Content-Length: -1\r\n",
                                        "Transfer-Encoding: chunked\r\n",
                                        "Content-Encoding: gzip\r\n",
                                        "Content-Encoding: deflate\r\n",
                                        "Location: http://10.1.2.3/\r\n",
                                        "X: \x01\x02\r\n",
                                        "Broken header\r\n",
                                        " folded: continued\r\n"};
        std::string out = statuses[m_rng() % std::size(statuses)];
        const int n = static_cast<int>(m_rng() % 5);
        for (int i = 0; i < n; ++i)
            out += headers[m_rng() % std::size(headers)];
        if (m_rng() % 4 == 0)
            out += randomBytes(m_rng() % 300) + "\r\n";
        out += "\r\n";
        switch (m_rng() % 4) {
        case 0:
            out += randomBytes(m_rng() % 5000);
            break;
        case 1: // chunks with sizes that may lie
            for (int i = 0; i < 3; ++i) {
                char head[32];
                std::snprintf(head, sizeof(head), "%x\r\n", static_cast<unsigned>(m_rng() % 400));
                out += head + randomBytes(m_rng() % 400) + "\r\n";
            }
            break;
        case 2:
            out += std::string("\x1f\x8b\x08\x00\x00\x00\x00\x00", 8) + randomBytes(m_rng() % 200);
            break;
        default:
            break;
        }
        return out;
    }

    void serve() {
        while (!m_stop) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const int c = ::accept(m_fd, nullptr, nullptr);
            if (c < 0)
                continue;
            char buf[4096];
            pollfd r{c, POLLIN, 0};
            if (::poll(&r, 1, 500) > 0)
                (void)::recv(c, buf, sizeof(buf), 0);
            const std::string a = answer();
            // Random split points, so the client meets every cut of the answer.
            size_t off = 0;
            while (off < a.size()) {
                const size_t n =
                    m_script.empty() ? std::min(a.size() - off, static_cast<size_t>(1 + m_rng() % 700)) : a.size();
                if (::send(c, a.data() + off, n, MSG_NOSIGNAL) <= 0)
                    break;
                off += n;
            }
            ::close(c);
        }
    }

    std::mt19937 m_rng;
    std::vector<std::string> m_script;
    size_t m_next = 0;
    int m_fd = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace

// Random answers never crash the client, never exceed the cap, and always leave a consistent result.
TEST(HttpFuzz, RandomAnswers) {
    RandomAnswerServer server(20261207);
    ASSERT_GT(server.port(), 0);
    TIEHTTP http;
    http.Timeout = 1;
    const QString url = QStringLiteral("http://127.0.46.9:%1/control/getmode").arg(server.port());
    int answered = 0;
    for (int round = 0; round < 300; ++round) {
        const bool ok = http.ExecuteURL(url);
        answered += ok ? 1 : 0;
        ASSERT_LE(http.ResponseStream.size(), TIEHTTP::kMaxAnswerBytes);
        // Not equal to the stream's size in general: BytesRead counts the body as it came, and a
        // compressed one is delivered inflated, a timed-out one as the time-out text.
        ASSERT_LE(http.BytesRead, TIEHTTP::kMaxAnswerBytes);
        if (!ok) {
            ASSERT_FALSE(http.ErrorText.isEmpty()) << "round " << round;
        }
    }
    // Some of the random answers are valid enough to be taken.
    EXPECT_GT(answered, 0);
}

// An answer whose first header line is a continuation, right after an answer with headers: the
// transfer library kept a pointer into the last answer's freed headers when its handle was
// reused. It is refused, and the client goes on.
TEST(HttpFuzz, FoldedFirstHeaderAfterAnotherAnswer) {
    const std::string good = "HTTP/1.0 200 OK\r\nServer: box\r\nContent-Type: text/plain\r\n\r\nok";
    RandomAnswerServer server(1, {good, "HTTP/1.0 200 OK\r\n folded: x\r\nA: b\r\n\r\nbad", good});
    ASSERT_GT(server.port(), 0);
    TIEHTTP http;
    http.Timeout = 2;
    const QString url = QStringLiteral("http://127.0.46.9:%1/control/info").arg(server.port());
    ASSERT_TRUE(http.ExecuteURL(url)) << http.ErrorText.toStdString();
    EXPECT_EQ(http.ResponseStream, QByteArray("ok"));
    EXPECT_FALSE(http.ExecuteURL(url));
    EXPECT_FALSE(http.ErrorText.isEmpty());
    ASSERT_TRUE(http.ExecuteURL(url)) << http.ErrorText.toStdString();
    EXPECT_EQ(http.ResponseStream, QByteArray("ok"));
}
