#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>

// One HTTP client: one request at a time, the answer as lines and as bytes, with an inactivity
// time-out that holds even when the network hangs. Each request runs on a worker thread of its own;
// the calling thread waits for it. One object per thread (the main thread and the EPG thread).
class TIEHTTP {
public:
    static constexpr qint64 kMaxAnswerBytes = 16 * 1024 * 1024;
    static constexpr const char* kTimeoutText = "[error 100: tiehttp timeout expired]";

    TIEHTTP();
    ~TIEHTTP();
    TIEHTTP(const TIEHTTP&) = delete;
    TIEHTTP& operator=(const TIEHTTP&) = delete;

    QString URL;
    QString RequestMethod = QStringLiteral("GET");
    QString getStr;   // appended to the query of the next GET, then emptied
    QString postStr;  // the body of the next POST, then emptied
    int Timeout = 90; // seconds without data; 0 or less: none
    QString UserName;
    QString Password;
    QString Agent = QStringLiteral("tiehttp");
    QString ContentType = QStringLiteral("application/x-www-form-urlencoded");
    QStringList ExtraHeaders;

    QStringList Response;
    QByteArray ResponseStream;
    QByteArray RawHeaders;
    qint64 ContentLength = 0;
    qint64 BytesRead = 0;
    int StatusCode = 0;
    QString ErrorText;
    int ErrorCode = 0;

    // Sends the request to `url`; true when an HTTP answer arrived (of any status).
    bool ExecuteURL(const QString& url);
    bool Execute();

    // The program's closing flag: once set, a waiting request ends at once.
    void setClosingFlag(const std::atomic<bool>* closing) { m_closing = closing; }

    // What the log writes beside a request: the error text, else the status line.
    QString StatusText() const;

    struct Job;
    struct Worker;

private:
    void deliver(const QByteArray& body);

    const std::atomic<bool>* m_closing = nullptr;
    // Reused across requests (a fresh thread per request doubles curl's cost); replaced by a new
    // one after a time-out, since the old one may stay stuck in the network call.
    std::shared_ptr<Worker> m_worker;
};

// The URL as curl takes it: blanks, control and non-ASCII characters escaped, credentials taken
// out into user/password. Exposed for tests.
struct SplitUrl {
    QByteArray url;
    QString user;
    QString password;
    bool valid = false;
};
SplitUrl splitUrl(const QString& url);

// Inflates a zlib stream, at most maxBytes of output; false on a broken stream or past the cap.
bool inflateCapped(const QByteArray& in, qint64 maxBytes, QByteArray* out);
