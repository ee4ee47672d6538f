#include "box/boxcommands.h"

#include "box/httpengine.h"
#include "core/log.h"
#include "core/options.h"

#include <QCoreApplication>
#include <QThread>

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

QString encodeMessageText(const QString& text) {
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

QString BoxClient::execute(const QString& url, bool* timedOut, const QStringList& headers) {
    const QStringList saved = m_http.ExtraHeaders;
    m_http.ExtraHeaders += headers;
    m_http.ExecuteURL(url);
    m_http.ExtraHeaders = saved;
    const QString untrimmed = m_http.ResponseText;
    Log(LogHttp, url);
    *timedOut = untrimmed.contains(QLatin1String("timeout"));
    return trimAnswer(untrimmed);
}

QString BoxClient::BoxRequest(const QString& url, const QStringList& headers) {
    BusyGuard busy(MainRequestBusy);
    WaitWhileBusy(EPGRequestBusy);
    bool timedOut = false;
    const QString answer = execute(url, &timedOut, headers);
    if (timedOut) {
        ShowStatus(QStringLiteral("ERROR, http timeout (") + url + QStringLiteral(")!"));
        return QString();
    }
    return answer;
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
