#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// A loopback HTTP server for client tests, on POSIX sockets in threads of its own: each accepted
// connection plays the next scripted behaviour (the last one repeats) and the raw request bytes
// are recorded, so tests check the request line, headers and body as they went over the wire.
class RawHttpServer {
public:
    enum class Mode {
        Answer,      // status, headers, body, close
        Silent,      // status, headers, body, then no more bytes while holding the connection
        NeverAnswer, // read the request, never answer
        Trickle,     // status and headers, then one body byte every intervalMs
        CloseAtOnce, // accept and close without reading
        Huge,        // hugeBytes of body without Content-Length, close-delimited
        Chunked,     // the body in chunks of chunkBytes
        AnswerLate,  // as Answer, after delayMs
    };
    struct Script {
        Mode mode = Mode::Answer;
        QByteArray status = "200 OK";
        QList<QByteArray> headers; // extra header lines, without line ends
        QByteArray body;
        bool sendLength = true;      // Content-Length of the body
        qint64 announcedLength = -1; // a different Content-Length to announce
        int trickleBytes = -1;       // Trickle: bytes to send, -1 for ever
        bool silentAfterTrickle = false;
        int intervalMs = 1000;
        qint64 hugeBytes = 0;
        int chunkBytes = 7;
        int delayMs = 0;
        QByteArray requireAuth; // "user:password": 401 unless this Basic authorization comes
    };

    explicit RawHttpServer(const char* address);
    ~RawHttpServer();
    RawHttpServer(const RawHttpServer&) = delete;
    RawHttpServer& operator=(const RawHttpServer&) = delete;

    bool listening() const { return m_port > 0; }
    int port() const { return m_port; }
    QString address() const { return m_address; }
    QString url(const QString& pathAndQuery) const;

    void setScript(const Script& script);  // every connection from now on
    void pushScript(const Script& script); // the next connection (queued)

    QList<QByteArray> requests() const;
    int connections() const { return m_connections.load(); }
    // Bounded wait until n requests have been recorded.
    bool waitForRequests(int n, int timeoutMs) const;

    static Script answer(const QByteArray& body, const QByteArray& status = "200 OK");
    static QByteArray zlibCompress(const QByteArray& data);
    static QByteArray gzipCompress(const QByteArray& data);
    static QByteArray rawDeflate(const QByteArray& data);

private:
    void acceptLoop();
    void serve(int fd, Script script);
    bool readRequest(int fd, QByteArray* request);
    bool sendAll(int fd, const QByteArray& bytes);
    void hold(int fd);
    bool pause(int fd, int ms); // false when the peer left or the server stops
    QByteArray head(const Script& s, qint64 length) const;

    QString m_address;
    int m_listenFd = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::thread m_acceptThread;
    std::mutex m_threadsMutex;
    struct Connection {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> finished;
    };
    std::vector<Connection> m_threads; // finished ones are joined as new connections come

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    std::deque<Script> m_queue;
    Script m_default;
    QList<QByteArray> m_requests;
};
