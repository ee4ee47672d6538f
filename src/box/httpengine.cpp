#include "box/httpengine.h"

#include <QCryptographicHash>

#include <QCoreApplication>
#include <QFile>
#include <QStringDecoder>
#include <QThread>

#include <curl/curl.h>
#include <zlib.h>

#include <cctype>
#include <chrono>
#include <cstring>
#include <mutex>

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr qint64 kMaxHeaderBytes = 64 * 1024;
constexpr qsizetype kMaxUrlBytes = 64 * 1024;
constexpr int kUnrecognizedScheme = 12006;
constexpr int kInvalidUrl = 12005;
const QByteArray kGzipMarker("\x1f\x8b\x08\x00\x00\x00\x00\x00", 8);
const QByteArray kBoundaryLine("-------------------------------7cf87224d2020a");

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

enum class EscapeSet { Path, Query, Extra };

// Escapes what curl would refuse or a server misread; separators of the part stay as they are.
// A "%" left after decoding goes as it is: callers that need one on the wire escape it twice.
QByteArray escapeBytes(const QByteArray& in, EscapeSet set) {
    QByteArray out;
    out.reserve(in.size());
    for (const char ch : in) {
        const auto c = static_cast<unsigned char>(ch);
        bool escape = c <= 0x20 || c >= 0x7f || c == '"' || c == '#' || c == '<' || c == '>' || c == '\\' || c == '^' ||
                      c == '`' || c == '{' || c == '|' || c == '}';
        if (set == EscapeSet::Path && c == '?')
            escape = true;
        if (set == EscapeSet::Query && c == '+')
            escape = true;
        if (escape)
            out += '%' + QByteArray::number(c, 16).rightJustified(2, '0').toUpper();
        else
            out += ch;
    }
    return out;
}

bool validHost(const QByteArray& host) {
    if (host.isEmpty())
        return false;
    if (host.startsWith('[')) {
        if (!host.endsWith(']') || host.size() < 3)
            return false;
        for (const char c : host.mid(1, host.size() - 2)) {
            if (!(std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.'))
                return false;
        }
        return true;
    }
    for (const char c : host) {
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_'))
            return false;
    }
    return true;
}

// UTF-8 when the bytes are valid UTF-8, else Latin-1, so no byte is lost.
QString decodeText(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        return QString::fromLatin1(bytes);
    return text;
}

QString cutText() {
    return QStringLiteral("answer cut at %1 bytes").arg(TIEHTTP::kMaxAnswerBytes);
}

} // namespace

// The state of one request. curl's callbacks write only here, never into the client object, and
// a request that was given up leaves the transfer at once, so it cannot spoil a later one.
struct TIEHTTP::Job {
    QByteArray url;
    QByteArray user;
    QByteArray password;
    QByteArray proxyUser;
    QByteArray proxyPassword;
    QByteArray agent;
    bool https = false;
    QByteArray pin;     // the key this host must show; empty on first contact
    QByteArray seenPin; // the key shown, read on first contact
    bool post = false;
    QByteArray body;
    QList<QByteArray> headers;

    std::unique_ptr<CURL, CurlDeleter> easy;
    std::unique_ptr<curl_slist, SlistDeleter> headerList;
    char errbuf[CURL_ERROR_SIZE] = {};
    qint64 received = 0;
    SteadyClock::time_point lastActivity;

    QByteArray data;
    QByteArray rawHeaders;
    bool overflow = false;
    CURLcode result = CURLE_OK;
    long status = 0;
    curl_off_t contentLength = -1;
    QString curlError;

    void touch() { lastActivity = SteadyClock::now(); }

    static size_t onData(char* ptr, size_t size, size_t n, void* user) {
        auto* job = static_cast<Job*>(user);
        const qint64 bytes = static_cast<qint64>(size * n);
        job->touch();
        // Counted here: curl enforces its own size limit only when the length is announced.
        const qint64 room = TIEHTTP::kMaxAnswerBytes - job->data.size();
        if (bytes > room) {
            job->data.append(ptr, static_cast<qsizetype>(room));
            job->received += room;
            job->overflow = true;
            return 0;
        }
        job->data.append(ptr, static_cast<qsizetype>(bytes));
        job->received += bytes;
        return size * n;
    }

    static size_t onHeader(char* ptr, size_t size, size_t n, void* user) {
        auto* job = static_cast<Job*>(user);
        const qsizetype bytes = static_cast<qsizetype>(size * n);
        job->touch();
        // A new status line starts a new block (an interim answer); keep only the last block.
        if (bytes >= 5 && std::memcmp(ptr, "HTTP/", 5) == 0)
            job->rawHeaders.clear();
        if (job->rawHeaders.size() + bytes <= kMaxHeaderBytes)
            job->rawHeaders.append(ptr, bytes);
        return size * n;
    }

    // The pin of the server certificate (the first of the chain) of the finished transfer.
    static QByteArray peerPin(CURL* c) {
        curl_certinfo* info = nullptr;
        if (curl_easy_getinfo(c, CURLINFO_CERTINFO, &info) != CURLE_OK || !info || info->num_of_certs < 1)
            return {};
        for (curl_slist* e = info->certinfo[0]; e; e = e->next) {
            const QByteArray field(e->data);
            if (!field.startsWith("Cert:"))
                continue;
            QByteArray b64;
            for (const QByteArray& line : field.mid(5).split('\n'))
                if (!line.startsWith("-----"))
                    b64 += line.trimmed();
            return publicKeyPin(QByteArray::fromBase64(b64));
        }
        return {};
    }

    // A fresh handle for every request: libcurl 7.88 keeps a pointer into the last answer's freed
    // headers across transfers of one handle, and an answer that opens with a continued header
    // line then reads freed memory. False: no handle.
    bool setUp() {
        easy.reset(curl_easy_init());
        CURL* c = easy.get();
        if (!c)
            return false;
        curl_easy_setopt(c, CURLOPT_URL, url.constData());
        curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(c, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
        // Never follow: a redirect must not carry the credentials elsewhere.
        curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(c, CURLOPT_UNRESTRICTED_AUTH, 0L);
        curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(c, CURLOPT_USERAGENT, agent.constData());
        curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errbuf);
        curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &Job::onData);
        curl_easy_setopt(c, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &Job::onHeader);
        curl_easy_setopt(c, CURLOPT_HEADERDATA, this);
        // Content encodings are undone by the client itself, under its own cap, and a body
        // that does not inflate is still delivered.
        curl_easy_setopt(c, CURLOPT_HTTP_CONTENT_DECODING, 0L);
        if (!user.isEmpty()) {
            curl_easy_setopt(c, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
            curl_easy_setopt(c, CURLOPT_USERNAME, user.constData());
            curl_easy_setopt(c, CURLOPT_PASSWORD, password.constData());
        }
        if (!proxyUser.isEmpty()) {
            curl_easy_setopt(c, CURLOPT_PROXYUSERNAME, proxyUser.constData());
            curl_easy_setopt(c, CURLOPT_PROXYPASSWORD, proxyPassword.constData());
        }
        for (const QByteArray& h : std::as_const(headers)) {
            curl_slist* grown = curl_slist_append(headerList.get(), h.constData());
            if (grown) {
                (void)headerList.release();
                headerList.reset(grown);
            }
        }
        if (post) {
            curl_easy_setopt(c, CURLOPT_POST, 1L);
            curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
            curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.constData());
        }
        if (headerList)
            curl_easy_setopt(c, CURLOPT_HTTPHEADER, headerList.get());
        if (https) {
            curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 0L);
            curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 0L);
            if (!pin.isEmpty())
                curl_easy_setopt(c, CURLOPT_PINNEDPUBLICKEY, pin.constData());
            else
                curl_easy_setopt(c, CURLOPT_CERTINFO, 1L);
        }
        return true;
    }

    // Reads what the finished transfer left in the handle.
    void finish(CURLcode code) {
        CURL* c = easy.get();
        result = code;
        if (https && pin.isEmpty())
            seenPin = peerPin(c);
        curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
        curl_easy_getinfo(c, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &contentLength);
        curlError = errbuf[0] ? QString::fromUtf8(errbuf).trimmed() : QString::fromUtf8(curl_easy_strerror(result));
    }
};

namespace {

// One DER element at pos: its tag, and where its content begins and ends. False when cut.
bool derElement(const QByteArray& d, qsizetype pos, uchar* tag, qsizetype* content, qsizetype* end) {
    if (pos + 2 > d.size())
        return false;
    *tag = static_cast<uchar>(d[pos]);
    qsizetype len = static_cast<uchar>(d[pos + 1]);
    qsizetype at = pos + 2;
    if (len & 0x80) {
        const int bytes = static_cast<int>(len & 0x7f);
        if (bytes < 1 || bytes > 4 || at + bytes > d.size())
            return false;
        len = 0;
        for (int i = 0; i < bytes; ++i)
            len = (len << 8) | static_cast<uchar>(d[at++]);
    }
    if (len > d.size() - at)
        return false;
    *content = at;
    *end = at + len;
    return true;
}

} // namespace

QByteArray publicKeyPin(const QByteArray& der) {
    uchar tag = 0;
    qsizetype content = 0, end = 0;
    // Certificate ::= SEQUENCE { tbsCertificate SEQUENCE { [0] version?, serial, signature,
    // issuer, validity, subject, subjectPublicKeyInfo, ... }, ... }
    if (!derElement(der, 0, &tag, &content, &end) || tag != 0x30)
        return {};
    if (!derElement(der, content, &tag, &content, &end) || tag != 0x30)
        return {};
    qsizetype pos = content;
    const qsizetype tbsEnd = end;
    qsizetype elemContent = 0, elemEnd = 0;
    if (!derElement(der, pos, &tag, &elemContent, &elemEnd))
        return {};
    if (tag == 0xa0)
        pos = elemEnd;
    for (int skip = 0; skip < 5; ++skip) {
        if (!derElement(der, pos, &tag, &elemContent, &elemEnd) || elemEnd > tbsEnd)
            return {};
        pos = elemEnd;
    }
    if (!derElement(der, pos, &tag, &elemContent, &elemEnd) || tag != 0x30 || elemEnd > tbsEnd)
        return {};
    const QByteArray spki = der.mid(pos, elemEnd - pos);
    return "sha256//" + QCryptographicHash::hash(spki, QCryptographicHash::Sha256).toBase64();
}

bool AnswerLines::next(QStringView& line) {
    const qsizetype n = m_text.size();
    if (m_pos >= n)
        return false;
    for (qsizetype i = m_pos; i < n; ++i) {
        const QChar c = m_text.at(i);
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            line = m_text.mid(m_pos, i - m_pos);
            if (c == QLatin1Char('\r') && i + 1 < n && m_text.at(i + 1) == QLatin1Char('\n'))
                ++i;
            m_pos = i + 1;
            return true;
        }
    }
    line = m_text.mid(m_pos);
    m_pos = n;
    return true;
}

QStringList splitAnswerLines(const QString& text, qsizetype maxLines) {
    QStringList lines;
    AnswerLines walk(text);
    QStringView line;
    while ((maxLines < 0 || lines.size() < maxLines) && walk.next(line))
        lines.append(line.toString());
    return lines;
}

QString joinAnswerLines(const QString& text) {
    QString out;
    out.reserve(text.size() + 1);
    AnswerLines walk(text);
    QStringView line;
    bool first = true;
    while (walk.next(line)) {
        if (!first)
            out.append(QLatin1String("\r\n"));
        out.append(line);
        first = false;
    }
    return out;
}

SplitUrl splitUrl(const QString& input) {
    SplitUrl out;
    QByteArray text = input.trimmed().toUtf8();
    out.errorCode = kInvalidUrl;
    if (text.isEmpty() || text.size() > kMaxUrlBytes)
        return out;
    qsizetype sep = text.indexOf("://");
    if (sep < 0) {
        text.prepend("http://");
        sep = 4;
    }
    out.scheme = text.left(sep).toLower();
    if (out.scheme != "http" && out.scheme != "https") {
        out.errorCode = kUnrecognizedScheme;
        return out;
    }
    const QByteArray rest = text.mid(sep + 3);
    qsizetype authEnd = rest.size();
    for (const char stop : {'/', '?', '#'}) {
        const qsizetype i = rest.indexOf(stop);
        if (i >= 0 && i < authEnd)
            authEnd = i;
    }
    QByteArray authority = rest.left(authEnd);
    QByteArray tail = rest.mid(authEnd);
    const qsizetype at = authority.lastIndexOf('@');
    if (at >= 0) {
        const QByteArray userInfo = authority.left(at);
        authority = authority.mid(at + 1);
        const qsizetype colon = userInfo.indexOf(':');
        out.user = QString::fromUtf8(QByteArray::fromPercentEncoding(colon < 0 ? userInfo : userInfo.left(colon)));
        if (colon >= 0)
            out.password = QString::fromUtf8(QByteArray::fromPercentEncoding(userInfo.mid(colon + 1)));
    }
    authority = QByteArray::fromPercentEncoding(authority);
    QByteArray portText;
    const qsizetype closeBracket = authority.lastIndexOf(']');
    const qsizetype colon = authority.lastIndexOf(':');
    if (colon >= 0 && colon > closeBracket) {
        portText = authority.mid(colon + 1);
        authority.truncate(colon);
    }
    out.host = authority.toLower();
    if (!validHost(out.host))
        return out;
    if (!portText.isEmpty() || colon >= 0) {
        bool ok = false;
        const int port = portText.toInt(&ok);
        if (!ok || port < 1 || port > 65535 || portText.startsWith('+') || portText.startsWith('-'))
            return out;
        out.port = port;
    } else {
        out.port = out.scheme == "https" ? 443 : 80;
    }
    if (tail.startsWith('#'))
        tail.clear(); // a bare fragment: nothing to send
    const qsizetype q = tail.indexOf('?');
    out.path = escapeBytes(QByteArray::fromPercentEncoding(q < 0 ? tail : tail.left(q)), EscapeSet::Path);
    if (out.path.isEmpty())
        out.path = "/";
    if (q >= 0)
        out.query = '?' + escapeBytes(QByteArray::fromPercentEncoding(tail.mid(q + 1)), EscapeSet::Query);
    out.url = out.scheme + "://" + out.host + (colon >= 0 ? ':' + QByteArray::number(out.port) : QByteArray()) +
              out.path + out.query;
    out.errorCode = 0;
    out.valid = true;
    return out;
}

QByteArray multipartBase64(const QByteArray& data) {
    const QByteArray plain = data.toBase64();
    QByteArray out;
    out.reserve(plain.size() + plain.size() / 64 + 1);
    for (qsizetype i = 0; i < plain.size(); i += 64) {
        out += plain.mid(i, 64);
        if (i + 64 <= plain.size())
            out += '\r';
    }
    return out;
}

InflateResult inflateCapped(const QByteArray& in, InflateFormat format, qint64 maxBytes, QByteArray* out) {
    int windowBits = 15;
    switch (format) {
    case InflateFormat::Zlib:
        windowBits = 15;
        break;
    case InflateFormat::Gzip:
        windowBits = 15 + 16;
        break;
    case InflateFormat::Raw:
        windowBits = -15;
        break;
    case InflateFormat::Auto:
        windowBits = 15 + 32;
        break;
    }
    z_stream zs{};
    if (inflateInit2(&zs, windowBits) != Z_OK)
        return InflateResult::Broken;
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.constData()));
    zs.avail_in = static_cast<uInt>(in.size());
    QByteArray result;
    char buf[65536];
    InflateResult verdict = InflateResult::Broken;
    for (;;) {
        zs.next_out = reinterpret_cast<Bytef*>(buf);
        zs.avail_out = sizeof(buf);
        const int rc = inflate(&zs, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END)
            break; // broken, or truncated (Z_BUF_ERROR with no input left)
        const qint64 produced = static_cast<qint64>(sizeof(buf) - zs.avail_out);
        if (result.size() + produced > maxBytes) {
            result.append(buf, static_cast<qsizetype>(maxBytes - result.size()));
            verdict = InflateResult::Cut;
            break;
        }
        result.append(buf, static_cast<qsizetype>(produced));
        if (rc == Z_STREAM_END) {
            verdict = InflateResult::Ok;
            break;
        }
        if (zs.avail_in == 0 && zs.avail_out != 0)
            break; // input ended inside the stream
    }
    inflateEnd(&zs);
    if (verdict != InflateResult::Broken)
        *out = std::move(result);
    return verdict;
}

TIEHTTP::TIEHTTP() {
    globalInit();
}

TIEHTTP::~TIEHTTP() {
    if (m_current)
        dropTransfer(m_current);
    if (m_multi)
        curl_multi_cleanup(static_cast<CURLM*>(m_multi));
}

void TIEHTTP::dropTransfer(const std::shared_ptr<Job>& job) {
    // Once out of the multi handle curl calls none of the job's callbacks again.
    if (m_multi && job->easy)
        curl_multi_remove_handle(static_cast<CURLM*>(m_multi), job->easy.get());
    job->easy.reset();
}

QString TIEHTTP::StatusText() const {
    if (!ErrorText.isEmpty())
        return ErrorText;
    if (ErrorCode == 100)
        return QString::fromLatin1(kTimeoutText);
    const qsizetype eol = RawHeaders.indexOf('\n');
    return QString::fromLatin1(RawHeaders.left(eol < 0 ? RawHeaders.size() : eol)).trimmed();
}

bool TIEHTTP::ExecuteURL(const QString& url) {
    URL = url;
    return Execute();
}

void TIEHTTP::clearAnswer() {
    ResponseText.clear();
    ResponseStream.clear();
    ResponseHeaders.clear();
    RawHeaders.clear();
    Cookies.clear();
    ContentLength = 1;
    BytesRead = 0;
    StatusCode = 0;
    ErrorText.clear();
    ErrorCode = 0;
    LastError = 0;
}

void TIEHTTP::deliver(const QByteArray& body) {
    ResponseStream = body;
    ResponseText = joinAnswerLines(decodeText(body));
}

bool TIEHTTP::fail(const QString& text, int lastError) {
    ErrorText = text;
    if (lastError != 0)
        LastError = lastError;
    return false;
}

bool TIEHTTP::AddMultipartVar(const QString& name, const QString& value) {
    if (!MultipartPOST) {
        ErrorText = QStringLiteral("tiehttp not in multipart mode");
        return false;
    }
    // The name goes between double quotes in a header line.
    if (name.isEmpty() || name.size() > 255 || name.contains(QLatin1Char('"')) || name.contains(QLatin1Char('\r')) ||
        name.contains(QLatin1Char('\n'))) {
        ErrorText = QStringLiteral("multipart variable name not allowed: ") + name.left(255);
        return false;
    }
    for (auto& var : m_multipart) {
        if (var.first == name) {
            var.second = value;
            return true;
        }
    }
    m_multipart.append({name, value});
    return true;
}

bool TIEHTTP::AddMultipartStream(const QString& name, QIODevice& stream) {
    if (!stream.isReadable()) {
        ErrorText = QStringLiteral("multipart stream not readable: ") + name;
        return false;
    }
    const QByteArray bytes = stream.readAll();
    if (bytes.size() > kMaxAnswerBytes) {
        ErrorText = QStringLiteral("multipart stream too large: ") + name;
        return false;
    }
    return AddMultipartVar(name, QString::fromLatin1(multipartBase64(bytes)));
}

bool TIEHTTP::AddMultipartFile(const QString& name, const QString& fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        ErrorText = QStringLiteral("cannot read ") + fileName;
        return false;
    }
    return AddMultipartStream(name, file);
}

bool TIEHTTP::composeMultipart(const QByteArray& form, QByteArray* body) {
    if (!form.isEmpty()) {
        for (const QByteArray& pair : form.split('&')) {
            const QList<QByteArray> parts = pair.split('=');
            if (parts.size() != 2) {
                ErrorText =
                    QStringLiteral("could not convert ") + QString::fromUtf8(pair) + QStringLiteral(" to multipart");
                return false;
            }
            const bool wasMultipart = MultipartPOST;
            MultipartPOST = true; // the content type asked for multipart, whatever the flag says
            const bool added = AddMultipartVar(QString::fromUtf8(QByteArray::fromPercentEncoding(parts[0])),
                                               QString::fromUtf8(QByteArray::fromPercentEncoding(parts[1])));
            MultipartPOST = wasMultipart;
            if (!added)
                return false;
        }
    }
    if (m_multipart.isEmpty()) {
        ErrorText = QStringLiteral("multipart error: no variables to post");
        return false;
    }
    body->clear();
    for (const auto& [name, value] : std::as_const(m_multipart)) {
        const QByteArray v = value.toUtf8();
        // A value holding the fixed boundary would end its part early.
        if (v.contains(kBoundaryLine.mid(2))) {
            ErrorText = QStringLiteral("multipart value of ") + name + QStringLiteral(" contains the boundary");
            return false;
        }
        *body += kBoundaryLine + "\r\n";
        *body += "Content-Disposition: form-data; name=\"" + name.toUtf8() + "\"\r\n";
        *body += "\r\n";
        *body += v + "\r\n";
    }
    *body += kBoundaryLine + "--\r\n";
    return true;
}

bool TIEHTTP::Execute() {
    if (m_busy) {
        // Re-entered from an event handler while waiting; only an explicit yes gives up the
        // running request (its wait then returns without touching the results).
        const QString question = QStringLiteral("Request is in progress (iehttp). Override and continue?");
        if (!OnBusyConfirm || !OnBusyConfirm(question))
            return false;
        if (m_current) {
            dropTransfer(m_current);
            m_current.reset();
        }
    }
    m_busy = true;
    struct Reset {
        TIEHTTP* self;
        ~Reset() {
            self->m_busy = false;
            self->m_multipart.clear();
        }
    } reset{this};
    clearAnswer();

    const QString extraQuery = getStr;
    const QString extraBody = postStr;
    getStr.clear();
    postStr.clear();

    if (URL.trimmed().isEmpty())
        return fail(QStringLiteral("TIEHTTP: no url in execute method"));
    if (m_closing && m_closing->load())
        return fail(QStringLiteral("request not sent: the program is closing"));
    const QString method = MultipartPOST ? QStringLiteral("POST") : RequestMethod.trimmed().toUpper();
    if (method != QLatin1String("GET") && method != QLatin1String("POST"))
        return fail(QStringLiteral("Unsupported method. Allowed methods: GET, POST"));
    SplitUrl split = splitUrl(URL);
    if (!split.valid)
        return fail(QStringLiteral("TIE: Invalid URL. Error - %1 = ").arg(split.errorCode), split.errorCode);
    // The receiver's addresses are always written "http://"; its web server on port 443 speaks
    // TLS, so such a request goes secure, under the same key pinning as an "https" one.
    if (split.scheme == "http" && split.port == 443) {
        split.scheme = "https";
        split.url = "https" + split.url.mid(4);
    }

    auto job = std::make_shared<Job>();
    const bool post = method == QLatin1String("POST");
    const QByteArray origin = split.url.left(split.url.size() - split.path.size() - split.query.size());
    QByteArray objectName;
    if (post) {
        objectName = split.path;
        job->body = split.query.mid(1);
        if (!extraBody.isEmpty()) {
            if (!job->body.isEmpty())
                job->body += '&';
            job->body += extraBody.toUtf8();
        }
    } else {
        if (!extraBody.isEmpty())
            return fail(QStringLiteral("No poststr allowed in GET method"));
        objectName = split.path + split.query;
        if (!extraQuery.isEmpty()) {
            objectName += objectName.contains('?') ? '&' : '?';
            objectName += escapeBytes(extraQuery.toUtf8(), EscapeSet::Extra);
        }
    }
    job->url = origin + objectName;
    job->post = post;

    QString contentType = ContentType;
    if (contentType.isEmpty() && post)
        contentType = QLatin1String(MultipartPOST ? kMultipartContentType : kFormContentType);
    if (contentType.toLower().contains(QLatin1String("multipart"))) {
        QByteArray body;
        if (!composeMultipart(job->body, &body))
            return false;
        job->body = body;
    }
    // Header lines travel one by one; a line break inside an entry starts a new line rather than
    // smuggling bytes into the request.
    QStringList headerLines;
    if (!contentType.isEmpty()) {
        headerLines.append(contentType.contains(QLatin1String("Content-Type:"), Qt::CaseInsensitive)
                               ? contentType
                               : QStringLiteral("Content-Type: ") + contentType);
    }
    headerLines += ExtraHeaders;
    for (const QString& entry : std::as_const(headerLines)) {
        for (const QString& line : splitAnswerLines(entry)) {
            if (!line.trimmed().isEmpty())
                job->headers.append(line.toUtf8());
        }
    }

    const QByteArray hostPort = split.host + ':' + QByteArray::number(split.port);
    const bool urlUser = !split.user.isEmpty();
    if (urlUser) {
        job->user = split.user.toUtf8();
        job->password = split.password.toUtf8();
    } else if (!CredentialsFor || CredentialsFor(hostPort)) {
        job->user = UserName.toUtf8();
        job->password = Password.toUtf8();
    }
    job->proxyUser = ProxyUser.toUtf8();
    job->proxyPassword = ProxyPassword.toUtf8();
    job->agent = Agent.toUtf8();
    // Without a key store curl's own chain check stays in force: a self-signed server fails.
    if (split.scheme == "https" && TrustedKey && RememberKey) {
        job->https = true;
        job->pin = TrustedKey(hostPort);
    }

    if (!m_multi)
        m_multi = curl_multi_init();
    CURLM* multi = static_cast<CURLM*>(m_multi);
    const auto start = SteadyClock::now();
    job->touch();
    if (!multi || !job->setUp()) {
        job->result = CURLE_FAILED_INIT;
        job->curlError = QStringLiteral("Could not open Internet");
    } else if (curl_multi_add_handle(multi, job->easy.get()) != CURLM_OK) {
        job->easy.reset();
        return fail(QStringLiteral("cannot start the request"));
    }
    m_current = job;

    // Drive the transfer until it ends, on data silence past Timeout, past six times Timeout in
    // all (a server dripping a byte just inside the time-out must not hold us for ever), or at
    // closing. curl never blocks here: between its steps we wait for its sockets a slice at most.
    const QCoreApplication* app = QCoreApplication::instance();
    const bool pumpEvents = !BlockingMode && app && QThread::currentThread() == app->thread();
    constexpr int kSliceMs = 10;
    const auto idleLimit = std::chrono::seconds(Timeout > 0 ? Timeout : 0);
    enum class Outcome { Done, TimedOut, Closing, Superseded } outcome = Outcome::Done;
    qint64 reported = 0;
    auto lastTimer = start;
    while (job->easy) {
        int running = 0;
        curl_multi_perform(multi, &running);
        bool finished = false;
        int left = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
            if (msg->msg == CURLMSG_DONE && msg->easy_handle == job->easy.get()) {
                job->finish(msg->data.result);
                finished = true;
            }
        }
        if (finished)
            break;
        if (OnPacketRead && job->received != reported) {
            reported = job->received;
            OnPacketRead();
        }
        if (OnTimer && TimerIntervalSeconds > 0 &&
            SteadyClock::now() - lastTimer >= std::chrono::seconds(TimerIntervalSeconds)) {
            lastTimer = SteadyClock::now();
            OnTimer();
        }
        if (pumpEvents)
            QCoreApplication::processEvents();
        if (m_current != job) {
            outcome = Outcome::Superseded;
            break;
        }
        if (m_closing && m_closing->load()) {
            outcome = Outcome::Closing;
            break;
        }
        if (Timeout > 0) {
            const auto now = SteadyClock::now();
            if (now - job->lastActivity > idleLimit || now - start > 6 * idleLimit) {
                outcome = Outcome::TimedOut;
                break;
            }
        }
        curl_multi_poll(multi, nullptr, 0, kSliceMs, nullptr);
    }

    if (outcome != Outcome::Done) {
        if (outcome == Outcome::Superseded)
            return false; // the request that replaced this one dropped this transfer and owns the results
        dropTransfer(job);
        m_current.reset();
        if (outcome == Outcome::Closing)
            return fail(QStringLiteral("request given up: the program is closing"));
        BytesRead = job->received;
        deliver(QByteArray(kTimeoutText));
        ErrorCode = 100;
        ErrorText = QString::fromLatin1(kTimeoutText);
        return false;
    }
    dropTransfer(job);
    m_current.reset();

    RawHeaders = job->rawHeaders;
    for (const QString& line : splitAnswerLines(QString::fromLatin1(RawHeaders))) {
        if (line.isEmpty())
            continue;
        ResponseHeaders.append(line);
        if (line.startsWith(QLatin1String("Set-Cookie:"), Qt::CaseInsensitive))
            Cookies.append(line.mid(11).trimmed());
    }
    StatusCode = static_cast<int>(job->status);
    if (job->https && job->pin.isEmpty() && job->result == CURLE_OK && !job->seenPin.isEmpty())
        RememberKey(hostPort, job->seenPin);
    ContentLength = job->contentLength > 0 ? static_cast<qint64>(job->contentLength) : 1;
    BytesRead = job->received;
    QByteArray body = std::move(job->data);

    if (job->overflow) {
        ErrorText = cutText();
    } else if (job->result == CURLE_SSL_PINNEDPUBKEYNOTMATCH) {
        LastError = static_cast<int>(job->result);
        ErrorText = QString::fromLatin1(kChangedCertificateText);
        deliver(body);
        return false;
    } else if (job->result != CURLE_OK) {
        LastError = static_cast<int>(job->result);
        if (job->result == CURLE_COULDNT_CONNECT || job->result == CURLE_COULDNT_RESOLVE_HOST)
            ErrorText = QStringLiteral("Could not connect to server ") + QString::fromUtf8(split.host) +
                        QStringLiteral(": ") + job->curlError;
        else
            ErrorText = job->curlError;
        deliver(body);
        return false;
    }

    QString encoding;
    for (const QString& line : std::as_const(ResponseHeaders)) {
        if (line.startsWith(QLatin1String("Content-Encoding:"), Qt::CaseInsensitive))
            encoding = line.mid(17).trimmed().toLower();
    }
    auto inflateInto = [&](InflateFormat format, const QByteArray& in) {
        QByteArray inflated;
        const InflateResult r = inflateCapped(in, format, kMaxAnswerBytes, &inflated);
        if (r != InflateResult::Broken)
            body = std::move(inflated);
        if (r == InflateResult::Cut)
            ErrorText = cutText();
        return r != InflateResult::Broken;
    };
    if (!encoding.isEmpty() && encoding != QLatin1String("identity") && !job->overflow) {
        bool ok = false;
        if (encoding == QLatin1String("gzip") || encoding == QLatin1String("x-gzip"))
            ok = inflateInto(InflateFormat::Gzip, body);
        else if (encoding == QLatin1String("deflate"))
            ok = inflateInto(InflateFormat::Zlib, body) || inflateInto(InflateFormat::Raw, body);
        if (!ok)
            ErrorText =
                QStringLiteral("cannot decode the answer (") + encoding + QStringLiteral("), delivered as received");
    }
    if (body.startsWith(kGzipMarker)) {
        // A zlib stream behind the marker, or else a whole gzip member.
        if (!inflateInto(InflateFormat::Zlib, body.mid(kGzipMarker.size())) && !inflateInto(InflateFormat::Gzip, body))
            ErrorText = QStringLiteral("cannot inflate the answer, delivered as received");
    }
    deliver(body);
    return true;
}
