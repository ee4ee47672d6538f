#include "box/httpengine.h"

#include <QUrl>

#include <curl/curl.h>
#include <zlib.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

using SteadyClock = std::chrono::steady_clock;

void globalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct CurlDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct SlistDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

const QByteArray kGzipMarker("\x1f\x8b\x08\x00\x00\x00\x00\x00", 8);

} // namespace

// The state of one request, shared by the caller and its worker. A worker that was given up
// writes only here, never into the client object, so it cannot spoil a later request.
struct TIEHTTP::Job {
    QByteArray url;
    QByteArray user;
    QByteArray password;
    QByteArray method;
    QByteArray body;
    QByteArray contentType;
    QByteArray agent;
    QList<QByteArray> headers;

    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    std::atomic<bool> cancel{false};
    std::atomic<qint64> received{0};
    std::atomic<SteadyClock::rep> lastActivity{0};
    QByteArray data;
    QByteArray rawHeaders;
    bool overflow = false;
    CURLcode result = CURLE_OK;
    long status = 0;
    curl_off_t contentLength = -1;
    QString curlError;

    void touch() { lastActivity.store(SteadyClock::now().time_since_epoch().count()); }

    static size_t onData(char* ptr, size_t size, size_t n, void* user) {
        auto* job = static_cast<Job*>(user);
        const size_t bytes = size * n;
        job->touch();
        // Counted here: curl enforces its own size limit only when the length is announced.
        if (job->data.size() + static_cast<qint64>(bytes) > TIEHTTP::kMaxAnswerBytes) {
            job->overflow = true;
            return 0;
        }
        job->data.append(ptr, static_cast<qsizetype>(bytes));
        job->received.fetch_add(static_cast<qint64>(bytes));
        return bytes;
    }

    static size_t onHeader(char* ptr, size_t size, size_t n, void* user) {
        auto* job = static_cast<Job*>(user);
        job->touch();
        if (job->rawHeaders.size() < 64 * 1024)
            job->rawHeaders.append(ptr, static_cast<qsizetype>(size * n));
        return size * n;
    }

    static int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
        return static_cast<Job*>(user)->cancel.load() ? 1 : 0;
    }

    void run() {
        std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
        std::unique_ptr<curl_slist, SlistDeleter> list;
        char errbuf[CURL_ERROR_SIZE] = {};
        if (curl) {
            CURL* c = curl.get();
            curl_easy_setopt(c, CURLOPT_URL, url.constData());
            curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
            curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
            curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
            curl_easy_setopt(c, CURLOPT_USERAGENT, agent.constData());
            curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errbuf);
            curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &Job::onData);
            curl_easy_setopt(c, CURLOPT_WRITEDATA, this);
            curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &Job::onHeader);
            curl_easy_setopt(c, CURLOPT_HEADERDATA, this);
            curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
            curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &Job::onProgress);
            curl_easy_setopt(c, CURLOPT_XFERINFODATA, this);
            // Real gzip/deflate answers are decoded by curl; the write callback then caps the output.
            curl_easy_setopt(c, CURLOPT_ACCEPT_ENCODING, "");
            if (!user.isEmpty()) {
                curl_easy_setopt(c, CURLOPT_HTTPAUTH, CURLAUTH_BASIC);
                curl_easy_setopt(c, CURLOPT_USERNAME, user.constData());
                curl_easy_setopt(c, CURLOPT_PASSWORD, password.constData());
            }
            for (const QByteArray& h : std::as_const(headers))
                list.reset(curl_slist_append(list.release(), h.constData()));
            if (method == "POST") {
                const QByteArray ct = "Content-Type: " + contentType;
                list.reset(curl_slist_append(list.release(), ct.constData()));
                curl_easy_setopt(c, CURLOPT_POST, 1L);
                curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
                curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.constData());
            }
            if (list)
                curl_easy_setopt(c, CURLOPT_HTTPHEADER, list.get());
            touch();
            result = curl_easy_perform(c);
            curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
            curl_easy_getinfo(c, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &contentLength);
            curlError = errbuf[0] ? QString::fromUtf8(errbuf) : QString::fromUtf8(curl_easy_strerror(result));
        } else {
            result = CURLE_FAILED_INIT;
            curlError = QStringLiteral("cannot create a curl handle");
        }
        std::lock_guard lock(mutex);
        done = true;
        cv.notify_all();
    }
};

// A thread that runs one job after another until it is retired. Its state is shared with the
// client, so a retired worker still busy in a hung request owns what it touches.
struct TIEHTTP::Worker {
    std::mutex mutex;
    std::condition_variable cv;
    std::shared_ptr<Job> next;
    bool retired = false;

    static void start(const std::shared_ptr<Worker>& self) {
        std::thread([self] { self->loop(); }).detach();
    }

    void loop() {
        for (;;) {
            std::shared_ptr<Job> job;
            {
                std::unique_lock lock(mutex);
                cv.wait(lock, [this] { return retired || next; });
                if (!next)
                    return;
                job = std::move(next);
            }
            job->run();
            std::lock_guard lock(mutex);
            if (retired)
                return;
        }
    }

    void post(std::shared_ptr<Job> job) {
        std::lock_guard lock(mutex);
        next = std::move(job);
        cv.notify_one();
    }

    void retire() {
        std::lock_guard lock(mutex);
        retired = true;
        cv.notify_one();
    }
};

SplitUrl splitUrl(const QString& input) {
    SplitUrl out;
    QString text = input.trimmed();
    if (!text.contains(QLatin1String("://")))
        text.prepend(QStringLiteral("http://"));
    // %xx sequences stand for the characters themselves; "+" in the query stays a plus.
    const qsizetype q = text.indexOf(QLatin1Char('?'));
    QByteArray head = QByteArray::fromPercentEncoding(text.left(q < 0 ? text.size() : q).toUtf8());
    QByteArray query = q < 0 ? QByteArray() : QByteArray::fromPercentEncoding(text.mid(q).toUtf8());
    query.replace("+", "%2B");

    const qsizetype schemeEnd = head.indexOf("://");
    const qsizetype authStart = schemeEnd + 3;
    qsizetype pathStart = head.indexOf('/', authStart);
    if (pathStart < 0)
        pathStart = head.size();
    QByteArray authority = head.mid(authStart, pathStart - authStart);
    const qsizetype at = authority.lastIndexOf('@');
    if (at >= 0) {
        const QByteArray userInfo = authority.left(at);
        authority = authority.mid(at + 1);
        const qsizetype colon = userInfo.indexOf(':');
        out.user = QString::fromUtf8(colon < 0 ? userInfo : userInfo.left(colon));
        out.password = colon < 0 ? QString() : QString::fromUtf8(userInfo.mid(colon + 1));
    }
    if (authority.isEmpty() || authority.contains(' '))
        return out;
    const QByteArray scheme = head.left(schemeEnd).toLower();
    if (scheme != "http" && scheme != "https")
        return out;
    // What curl would refuse or a server misread goes escaped; separators stay as they are.
    const QByteArray rest = head.mid(pathStart) + query;
    QByteArray escaped;
    for (const char ch : rest) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c >= 0x7f || c == '"' || c == '#' || c == '<' || c == '>' || c == '\\' || c == '^' ||
            c == '`' || c == '{' || c == '|' || c == '}')
            escaped += '%' + QByteArray::number(c, 16).rightJustified(2, '0').toUpper();
        else
            escaped += ch;
    }
    out.url = scheme + "://" + authority + (escaped.isEmpty() ? QByteArray("/") : escaped);
    out.valid = true;
    return out;
}

bool inflateCapped(const QByteArray& in, qint64 maxBytes, QByteArray* out) {
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK)
        return false;
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.constData()));
    zs.avail_in = static_cast<uInt>(in.size());
    QByteArray result;
    char buf[16384];
    int rc = Z_OK;
    while (rc == Z_OK) {
        zs.next_out = reinterpret_cast<Bytef*>(buf);
        zs.avail_out = sizeof(buf);
        rc = inflate(&zs, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END)
            break;
        result.append(buf, static_cast<qsizetype>(sizeof(buf) - zs.avail_out));
        if (result.size() > maxBytes) {
            rc = Z_MEM_ERROR;
            break;
        }
        if (rc == Z_OK && zs.avail_in == 0 && zs.avail_out != 0)
            break; // truncated stream
    }
    inflateEnd(&zs);
    if (rc != Z_STREAM_END)
        return false;
    *out = std::move(result);
    return true;
}

TIEHTTP::TIEHTTP() {
    globalInit();
}

TIEHTTP::~TIEHTTP() {
    if (m_worker)
        m_worker->retire();
}

QString TIEHTTP::StatusText() const {
    if (!ErrorText.isEmpty())
        return ErrorText;
    const qsizetype eol = RawHeaders.indexOf('\n');
    return QString::fromLatin1(RawHeaders.left(eol < 0 ? RawHeaders.size() : eol)).trimmed();
}

bool TIEHTTP::ExecuteURL(const QString& url) {
    URL = url;
    return Execute();
}

void TIEHTTP::deliver(const QByteArray& body) {
    ResponseStream = body;
    BytesRead = body.size();
    const QString text = QString::fromLatin1(body);
    Response = text.split(QLatin1Char('\n'));
    for (QString& l : Response) {
        if (l.endsWith(QLatin1Char('\r')))
            l.chop(1);
    }
    if (!Response.isEmpty() && Response.last().isEmpty())
        Response.removeLast();
}

bool TIEHTTP::Execute() {
    ErrorText.clear();
    ErrorCode = 0;
    StatusCode = 0;
    ContentLength = 0;
    RawHeaders.clear();
    deliver(QByteArray());

    QString target = URL;
    const QByteArray method = RequestMethod.toUpper().toLatin1();
    if (method == "GET" && !getStr.isEmpty()) {
        target += (target.contains(QLatin1Char('?')) ? QStringLiteral("&") : QStringLiteral("?")) + getStr;
        getStr.clear();
    }
    const SplitUrl split = splitUrl(target);
    if (!split.valid) {
        ErrorText = QStringLiteral("TIE: Invalid URL. Error - 12006 = ");
        ErrorCode = 12006;
        return false;
    }

    auto job = std::make_shared<Job>();
    job->url = split.url;
    job->user = (split.user.isEmpty() ? UserName : split.user).toUtf8();
    job->password = (split.user.isEmpty() ? Password : split.password).toUtf8();
    job->method = method;
    job->agent = Agent.toUtf8();
    job->contentType = ContentType.toUtf8();
    for (const QString& h : std::as_const(ExtraHeaders))
        job->headers.append(h.toUtf8());
    if (method == "POST") {
        job->body = postStr.toUtf8();
        postStr.clear();
    }

    if (!m_worker) {
        m_worker = std::make_shared<Worker>();
        Worker::start(m_worker);
    }
    m_worker->post(job);

    // Wait for the worker: on data silence past Timeout, past six times Timeout in all (a server
    // dripping a byte just inside the time-out must not hold us for ever), or at closing.
    const auto start = SteadyClock::now();
    const auto idleLimit = std::chrono::seconds(Timeout > 0 ? Timeout : 0);
    bool timedOut = false;
    {
        std::unique_lock lock(job->mutex);
        while (!job->done) {
            job->cv.wait_for(lock, std::chrono::milliseconds(10));
            if (job->done)
                break;
            if (m_closing && m_closing->load()) {
                timedOut = true;
                break;
            }
            if (Timeout > 0) {
                const auto now = SteadyClock::now();
                const auto last = SteadyClock::time_point(SteadyClock::duration(job->lastActivity.load()));
                if (now - last > idleLimit || now - start > 6 * idleLimit) {
                    timedOut = true;
                    break;
                }
            }
        }
    }
    if (timedOut) {
        job->cancel = true; // the worker ends on its own; its results go nowhere
        m_worker->retire();
        m_worker.reset();
        deliver(QByteArray(kTimeoutText));
        ErrorCode = 100;
        ErrorText = QString::fromLatin1(kTimeoutText);
        return false;
    }

    RawHeaders = job->rawHeaders;
    StatusCode = static_cast<int>(job->status);
    ContentLength = job->contentLength > 0 ? static_cast<qint64>(job->contentLength) : 0;
    QByteArray body = job->data;
    if (job->overflow) {
        ErrorText = QStringLiteral("answer cut at %1 bytes").arg(kMaxAnswerBytes);
        ErrorCode = 1;
    } else if (job->result != CURLE_OK) {
        ErrorText = job->curlError;
        ErrorCode = static_cast<int>(job->result);
        deliver(body);
        return false;
    }
    if (body.startsWith(kGzipMarker)) {
        QByteArray inflated;
        if (inflateCapped(body.mid(kGzipMarker.size()), kMaxAnswerBytes, &inflated))
            body = inflated;
        else
            ErrorText = QStringLiteral("cannot inflate the answer");
    }
    deliver(body);
    return true;
}
