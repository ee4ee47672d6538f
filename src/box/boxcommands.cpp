#include "box/boxcommands.h"

#include "box/httpengine.h"
#include "core/log.h"
#include "core/options.h"

#include <QCoreApplication>
#include <QThread>

#include <cstring>

std::atomic<bool> MainRequestBusy{false};
std::atomic<bool> EPGRequestBusy{false};
std::atomic<bool> EPGAbort{false};

namespace {

QString substitute(QString url, const QString& placeholder, const QString& value) {
    if (!placeholder.isEmpty())
        url.replace(placeholder, value);
    return url;
}

bool onUiThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

// Clears a busy flag however the request ends.
class BusyGuard {
public:
    explicit BusyGuard(std::atomic<bool>& flag)
        : m_flag(flag) {
        m_flag.store(true);
    }
    ~BusyGuard() { m_flag.store(false); }
    BusyGuard(const BusyGuard&) = delete;
    BusyGuard& operator=(const BusyGuard&) = delete;

private:
    std::atomic<bool>& m_flag;
};

} // namespace

QString BoxURL(const QString& templ, const QString& placeholder, const QString& value) {
    QString url = substitute(templ, placeholder, value);
    if (url.contains(QLatin1String("PORT")))
        url.replace(QLatin1String("<IP:PORT>"), Options.BoxAddress);
    else
        url.replace(QLatin1String("<IP"), Options.IpLan);
    return url;
}

QString VlcURL(const QString& templ, const QString& placeholder, const QString& value) {
    QString url = substitute(templ, placeholder, value);
    url.replace(QLatin1String("<IP:PORT>"), Options.VlcAddress);
    return url;
}

QString encodeQueryValue(const QString& text) {
    QString out;
    const QByteArray utf8 = text.toUtf8();
    for (const char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        // The HTTP engine turns %xx back into characters before sending, so the query separators
        // are escaped twice to reach the receiver escaped once; other bytes the engine escapes again.
        if (c == '&' || c == '#' || c == '%' || c == '+')
            out += QStringLiteral("%25") + QString::number(c, 16).toUpper();
        else if (c < 0x20 || c >= 0x7f)
            out += QStringLiteral("%") + QString::number(c, 16).rightJustified(2, QLatin1Char('0')).toUpper();
        else
            out += QLatin1Char(ch);
    }
    return out;
}

QString encodeMessageText(const QString& text) {
    QString out;
    const QByteArray utf8 = text.toUtf8();
    for (const char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        // A blank survives every decoding (the engine sends it as %20); "%2525XX" reaches the
        // receiver as "%25XX", its server makes that "%XX" and the message handler the byte.
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (plain || c == ' ' || (c != 0 && std::strchr("!()*,-./:;=?@_~'", c) != nullptr))
            out += QLatin1Char(ch);
        else
            out += QStringLiteral("%2525") + QString::number(c, 16).rightJustified(2, QLatin1Char('0')).toUpper();
    }
    return out;
}

bool hasControlCharacter(const QString& text) {
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    }
    return false;
}

QString trimAnswer(const QString& body) {
    const auto blank = [](QChar c) {
        return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\r') || c == QLatin1Char('\n');
    };
    qsizetype b = 0;
    qsizetype e = body.size();
    while (b < e && blank(body[b]))
        ++b;
    while (e > b && blank(body[e - 1]))
        --e;
    return body.mid(b, e - b);
}

void WaitWhileBusy(const std::atomic<bool>& flag) {
    const bool ui = onUiThread();
    while (flag.load()) {
        if (EPGAbort.load())
            return;
        if (ui)
            QCoreApplication::processEvents();
        Delay(50, false);
    }
}

BoxClient::BoxClient(TIEHTTP& mainHttp)
    : m_http(mainHttp) {
    appLogger().setDetailSource(LogHttp, [this](int) { return m_http.StatusText(); });
}

BoxClient::~BoxClient() {
    appLogger().setDetailSource(LogHttp, nullptr);
}

QString BoxClient::execute(const QString& url, bool* timedOut, const QStringList& headers, const QString& shown) {
    const QStringList saved = m_http.ExtraHeaders;
    m_http.ExtraHeaders += headers;
    m_http.ExecuteURL(url);
    m_http.ExtraHeaders = saved;
    const QString untrimmed = m_http.ResponseText;
    Log(LogHttp, shown.isEmpty() ? url : shown);
    // A 401 is no answer, whatever page came with it: it would be read as a channel list.
    if (m_http.StatusCode == 401) {
        m_refused = m_http.UserName.isEmpty() ? BoxTexts::kLoginWanted : BoxTexts::kLoginRefused;
        *timedOut = false;
        return QString();
    }
    m_refused.clear();
    *timedOut = untrimmed.contains(QLatin1String("timeout"));
    return trimAnswer(untrimmed);
}

QString BoxClient::BoxRequest(const QString& url, const QStringList& headers) {
    return request(url, url, headers);
}

QString BoxClient::MaskedRequest(const QString& url, const QString& logged) {
    return request(url, logged, {});
}

QString BoxClient::request(const QString& url, const QString& shown, const QStringList& headers) {
    BusyGuard busy(MainRequestBusy);
    WaitWhileBusy(EPGRequestBusy);
    bool timedOut = false;
    const QString answer = execute(url, &timedOut, headers, shown);
    if (!m_refused.isEmpty())
        ShowStatus(m_refused);
    if (timedOut) {
        ShowStatus(QStringLiteral("ERROR, http timeout (") + shown + QStringLiteral(")!"));
        return QString();
    }
    return answer;
}

QString BoxClient::ShortRequest(const QString& url, int timeoutSec) {
    BusyGuard busy(MainRequestBusy);
    WaitWhileBusy(EPGRequestBusy);
    const int saved = m_http.Timeout;
    m_http.Timeout = timeoutSec;
    bool timedOut = false;
    const QString answer = execute(url, &timedOut);
    m_http.Timeout = saved;
    if (!m_refused.isEmpty())
        ShowStatus(m_refused);
    return timedOut ? QString() : answer;
}

QString BoxClient::QuickRequest(const QString& url) {
    BusyGuard busy(MainRequestBusy);
    m_http.Timeout = kQuickTimeoutSec;
    WaitWhileBusy(EPGRequestBusy);
    bool timedOut = false;
    const QString answer = execute(url, &timedOut);
    m_http.Timeout = kTimeoutSec;
    return answer;
}

ToggleOutcome toggleSpts(BoxClient& box, bool checked) {
    if (!checked) {
        const bool ok =
            box.BoxRequest(BoxURL(QStringLiteral("http://<IP:PORT>/control/system?setAViAExtPlayBack=spts"))) ==
            QLatin1String("ok");
        return ok ? ToggleOutcome{true, {}} : ToggleOutcome{false, QStringLiteral("Quoxel SPTS-Mode ON failed!")};
    }
    const bool ok = box.BoxRequest(BoxURL(QStringLiteral("http://<IP:PORT>/control/system?setAViAExtPlayBack=pes"))) ==
                    QLatin1String("ok");
    return ok ? ToggleOutcome{false, {}} : ToggleOutcome{true, QStringLiteral("Quoxel SPTS-Mode OFF failed!")};
}

ToggleOutcome toggleStandby(BoxClient& box, bool checked) {
    if (!checked) {
        const bool ok =
            box.BoxRequest(BoxURL(QStringLiteral("http://<IP:PORT>/control/standby?on"))) == QLatin1String("ok");
        return ok ? ToggleOutcome{true, {}} : ToggleOutcome{false, QStringLiteral("Quoxel Standby ON failed!")};
    }
    const bool ok =
        box.BoxRequest(BoxURL(QStringLiteral("http://<IP:PORT>/control/standby?off"))) == QLatin1String("ok");
    return ok ? ToggleOutcome{false, {}} : ToggleOutcome{true, QStringLiteral("Quoxel Standby OFF failed!")};
}

void sendBoxMessage(BoxClient& box, const QString& text) {
    box.BoxRequest(BoxURL(QStringLiteral("http://<IP:PORT>/control/message?nmsg=<msg>"), QStringLiteral("<msg>"),
                          encodeMessageText(text)));
}

void lockRemoteControl(BoxClient& box, bool lock) {
    box.BoxRequest(BoxURL(lock ? QStringLiteral("http://<IP:PORT>/control/rc?lock")
                               : QStringLiteral("http://<IP:PORT>/control/rc?unlock")));
}
