#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

// Lines split at CR, LF or CR LF; a final line end gives no empty last line. With maxLines, only
// the first maxLines lines are taken and the rest of the text is not read.
QStringList splitAnswerLines(const QString& text, qsizetype maxLines = -1);
// The same lines joined with CR LF, in one pass without a string for each line.
QString joinAnswerLines(const QString& text);

// Who a client is to the servers it asks: its login (and where it may go), the proxy login, the
// agent and the HTTPS key store. A worker thread's own client takes these from the session's client,
// copied on the UI thread; the key-store callbacks then run on the worker's thread.
struct TIEHTTPIdentity {
    QString UserName;
    QString Password;
    std::function<bool(const QByteArray& hostPort)> CredentialsFor;
    QString ProxyUser;
    QString ProxyPassword;
    QString Agent = QStringLiteral("tiehttp");
    std::function<QByteArray(const QByteArray& hostPort)> TrustedKey;
    std::function<void(const QByteArray& hostPort, const QByteArray& pin)> RememberKey;
};

// One HTTP client: one request at a time, the answer as lines and as bytes, with an inactivity
// time-out that holds even when the network hangs. The transfer is driven without blocking from
// the calling thread itself (name lookups run on curl's resolver thread), so no wait can outlast
// the time-out; one object per calling thread (the main thread, the EPG thread).
class TIEHTTP {
public:
    static constexpr qint64 kMaxAnswerBytes = 16 * 1024 * 1024;
    static constexpr const char* kTimeoutText = "[error 100: tiehttp timeout expired]";
    static constexpr const char* kMultipartContentType =
        "multipart/form-data; boundary=-----------------------------7cf87224d2020a";
    static constexpr const char* kFormContentType = "application/x-www-form-urlencoded";

    TIEHTTP();
    ~TIEHTTP();
    TIEHTTP(const TIEHTTP&) = delete;
    TIEHTTP& operator=(const TIEHTTP&) = delete;

    // Request settings; read at the start of Execute, so changing them while busy affects only
    // the next request.
    QString URL;                                   // no scheme: "http://" is put in front; port 443 is TLS
    QString RequestMethod = QStringLiteral("GET"); // "GET" or "POST", any case
    QString getStr;                                // appended to the query of the next GET, then emptied
    QString postStr;                               // appended to the body of the next POST, then emptied
    bool MultipartPOST = false;                    // send the form as multipart/form-data (implies POST)
    int Timeout = 90;                              // seconds without data; 0 or less: none
    bool BlockingMode = true;                      // false: the UI thread processes events while waiting
    int TimerIntervalSeconds = 0;                  // period of OnTimer; 0: never
    std::function<void()> OnPacketRead;            // calling thread, after new data arrived
    std::function<void()> OnTimer;                 // calling thread, every TimerIntervalSeconds
    // Asked when Execute is entered while a request runs (only possible from an event handler in
    // non-blocking mode); true gives up the running request. Unset: the new request is refused.
    std::function<bool(const QString& question)> OnBusyConfirm;
    QString UserName; // used when the URL carries no user name
    QString Password;
    // Unset: UserName and Password go to every server. Set: only where it answers yes for the URL's
    // "host:port", so the receiver's login never reaches another server asked through this client.
    std::function<bool(const QByteArray& hostPort)> CredentialsFor;
    QString ProxyUser; // credentials for a proxy, should curl use one
    QString ProxyPassword;
    QString Agent = QStringLiteral("tiehttp");
    // HTTPS trust on first use. Receivers carry self-signed certificates, so the chain is not
    // checked; instead the server key seen on the first contact with a host:port is remembered
    // through RememberKey, and every later connection is pinned to what TrustedKey returns
    // ("sha256//<base64>", curl's pin form): a changed key is refused before anything is sent.
    // Unset: curl checks the chain as usual, so a self-signed server is refused, never taken silently.
    // Both are called on the thread that runs Execute.
    std::function<QByteArray(const QByteArray& hostPort)> TrustedKey;
    std::function<void(const QByteArray& hostPort, const QByteArray& pin)> RememberKey;
    QString ContentType; // empty: none for GET, the form or multipart type for POST
    QStringList ExtraHeaders;

    // The outcome of the last request: the answer's lines joined with CR LF, without a final one.
    QString ResponseText;
    // The same as a list of lines, split when asked for: the receiver's answers are read as text,
    // and an answer of millions of lines is not split into a string each on every request. The
    // text's only line ends are the CR LF between lines, so an empty last line stays a line.
    QStringList Response() const {
        return ResponseText.isEmpty() ? QStringList() : ResponseText.split(QStringLiteral("\r\n"));
    }
    QByteArray ResponseStream;
    QStringList ResponseHeaders; // the raw header lines
    QByteArray RawHeaders;       // the same block as received
    QStringList Cookies;         // every Set-Cookie value, in order
    qint64 ContentLength = 1;    // Content-Length; 1 when absent or 0
    qint64 BytesRead = 0;        // body bytes received
    int StatusCode = 0;          // HTTP status, 0 without an answer
    QString ErrorText;
    int ErrorCode = 0; // 0, or 100 after a time-out
    int LastError = 0; // curl's code of the failed step (12005/12006 for a URL that cannot be split)

    // Sets URL, then Execute.
    bool ExecuteURL(const QString& url);
    // One request with the current settings; true when an HTTP answer arrived (of any status).
    bool Execute();
    bool Busy() const { return m_busy; }

    // Multipart form variables, emptied at the end of every request.
    bool AddMultipartVar(const QString& name, const QString& value);
    bool AddMultipartStream(const QString& name, QIODevice& stream);
    bool AddMultipartFile(const QString& name, const QString& fileName);
    const QList<QPair<QString, QString>>& multipartVars() const { return m_multipart; }

    TIEHTTPIdentity identity() const {
        return {UserName, Password, CredentialsFor, ProxyUser, ProxyPassword, Agent, TrustedKey, RememberKey};
    }
    void setIdentity(const TIEHTTPIdentity& id) {
        UserName = id.UserName;
        Password = id.Password;
        CredentialsFor = id.CredentialsFor;
        ProxyUser = id.ProxyUser;
        ProxyPassword = id.ProxyPassword;
        Agent = id.Agent;
        TrustedKey = id.TrustedKey;
        RememberKey = id.RememberKey;
    }

    // The program's closing flag: once set, a waiting request ends at once.
    void setClosingFlag(const std::atomic<bool>* closing) { m_closing = closing; }

    // What the log writes beside a request: the error text, else the status line.
    QString StatusText() const;

    struct Job;

private:
    // Takes a request out of the transfer for good; its results go nowhere.
    void dropTransfer(const std::shared_ptr<Job>& job);

    void clearAnswer();
    void deliver(const QByteArray& body);
    bool fail(const QString& text, int lastError = 0);
    bool composeMultipart(const QByteArray& form, QByteArray* body);

    const std::atomic<bool>* m_closing = nullptr;
    QList<QPair<QString, QString>> m_multipart;
    bool m_busy = false;
    std::shared_ptr<Job> m_current; // the request this object waits for
    void* m_multi = nullptr;        // curl's multi handle, kept for the connection cache
};

// A URL split as the request needs it: default scheme, %xx sequences decoded, "+" in the query
// sent as "%2B", credentials taken out. `url` is what curl gets: never any credentials.
struct SplitUrl {
    bool valid = false;
    int errorCode = 0; // 12006 unknown scheme, 12005 malformed
    QByteArray scheme;
    QByteArray host;
    int port = 0;
    QByteArray path;  // escaped, starts with "/"
    QByteArray query; // escaped, starts with "?" or is empty
    QString user;
    QString password;
    QByteArray url;
};
SplitUrl splitUrl(const QString& url);

// The curl pin ("sha256//<base64>") of a DER certificate's subjectPublicKeyInfo; empty when
// the certificate cannot be read.
QByteArray publicKeyPin(const QByteArray& derCertificate);
inline constexpr char kChangedCertificateText[] =
    "The server's certificate has changed since the first connection: refused";

// The lines of splitAnswerLines one at a time, as views into the text: an answer of millions of
// lines (a hostile receiver's, up to the answer cap) is walked without a copy of each.
class AnswerLines {
public:
    explicit AnswerLines(QStringView text)
        : m_text(text) {}
    // The next line into line; false when there is none.
    bool next(QStringView& line);

private:
    QStringView m_text;
    qsizetype m_pos = 0;
};

// Base64 (RFC 4648, "=" padding) with a carriage return after every 64th character.
QByteArray multipartBase64(const QByteArray& data);

enum class InflateResult { Ok, Broken, Cut };
enum class InflateFormat { Zlib, Gzip, Raw, Auto };
// Inflates `in`; at most maxBytes of output (Cut: `out` holds the first maxBytes).
InflateResult inflateCapped(const QByteArray& in, InflateFormat format, qint64 maxBytes, QByteArray* out);
