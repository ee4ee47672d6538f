#include "telnetsession.h"

#include "core/log.h"
#include "core/options.h"

#include <libtelnet.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

namespace {

struct TelnetFree {
    void operator()(telnet_t* t) const { telnet_free(t); }
};

// We let the receiver echo (local echo off) and suppress go-ahead; we tell our terminal type and size when
// asked. Everything else libtelnet refuses for us.
const telnet_telopt_t kTelopts[] = {
    {TELNET_TELOPT_ECHO, TELNET_WONT, TELNET_DO},
    {TELNET_TELOPT_SGA, TELNET_WILL, TELNET_DO},
    {TELNET_TELOPT_TTYPE, TELNET_WILL, TELNET_DONT},
    {TELNET_TELOPT_NAWS, TELNET_WILL, TELNET_DONT},
    {-1, 0, 0},
};

constexpr qint64 kReadChunk = 64 * 1024;
constexpr char kMasked[] = "********";

bool hasControlCharacters(const QString& text) {
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; });
}

// passwd's prompts: "Retype password:", "Re-enter new password:", "New password:".
bool asksForPassword(const QString& answer) {
    return answer.trimmed().endsWith(QLatin1String("password:"), Qt::CaseInsensitive);
}

} // namespace

// libtelnet's state for one connection, and what its callbacks collect while telnet_recv/telnet_send run.
struct TelnetSession::Engine {
    TelnetSession* owner = nullptr;
    std::unique_ptr<telnet_t, TelnetFree> telnet;
    QByteArray chunk; // data of the read being decoded
    QString fault;    // set inside a callback; acted on once libtelnet has returned
    bool faultHandled = false;
    int warnings = 0;
    bool naws = false;

    static void onEvent(telnet_t* t, telnet_event_t* ev, void* user) {
        Engine* self = static_cast<Engine*>(user);
        TelnetSession* s = self->owner;
        switch (ev->type) {
        case TELNET_EV_DATA:
            self->chunk.append(ev->data.buffer, qsizetype(ev->data.size));
            break;
        case TELNET_EV_SEND:
            if (!self->fault.isEmpty())
                break;
            s->m_socket->write(ev->data.buffer, qint64(ev->data.size));
            if (s->m_socket->bytesToWrite() > kMaxUnsent)
                self->fault = QStringLiteral("Telnet: peer does not read, connection closed");
            break;
        case TELNET_EV_DO:
            if (ev->neg.telopt == TELNET_TELOPT_NAWS) {
                self->naws = true;
                self->sendWindowSize(t, s->m_cols, s->m_rows);
            }
            break;
        case TELNET_EV_DONT:
            if (ev->neg.telopt == TELNET_TELOPT_NAWS)
                self->naws = false;
            break;
        case TELNET_EV_TTYPE:
            if (ev->ttype.cmd == TELNET_TTYPE_SEND)
                telnet_ttype_is(t, "VT100");
            break;
        case TELNET_EV_WARNING:
            if (++self->warnings <= kMaxLoggedWarnings)
                Log(LogFunc, QStringLiteral("Telnet: protocol warning: ") + QString::fromUtf8(ev->error.msg));
            break;
        case TELNET_EV_ERROR:
            self->fault = QStringLiteral("Telnet: protocol error: ") + QString::fromUtf8(ev->error.msg);
            break;
        default:
            break;
        }
    }

    static void sendWindowSize(telnet_t* t, int cols, int rows) {
        const char size[4] = {char((cols >> 8) & 0xff), char(cols & 0xff), char((rows >> 8) & 0xff), char(rows & 0xff)};
        telnet_begin_sb(t, TELNET_TELOPT_NAWS);
        telnet_send(t, size, sizeof size);
        telnet_finish_sb(t);
    }
};

// Marks the session busy for one command with waits; a destroyed session is left alone.
class TelnetSession::BusyGuard {
public:
    explicit BusyGuard(TelnetSession* s)
        : m_session(s) {
        s->m_busy = true;
    }
    ~BusyGuard() {
        if (m_session)
            m_session->m_busy = false;
    }
    BusyGuard(const BusyGuard&) = delete;
    BusyGuard& operator=(const BusyGuard&) = delete;

private:
    QPointer<TelnetSession> m_session;
};

TelnetSession::TelnetSession(TOptions& options, QObject* parent)
    : QObject(parent)
    , m_options(options)
    , m_socket(std::make_unique<QTcpSocket>()) {
    // Bounded: Qt stops reading from the system while this much is unread.
    m_socket->setReadBufferSize(kReadChunk);
    connect(m_socket.get(), &QTcpSocket::connected, this, &TelnetSession::onConnected);
    connect(m_socket.get(), &QTcpSocket::disconnected, this, &TelnetSession::onDisconnected);
    connect(m_socket.get(), &QTcpSocket::readyRead, this, &TelnetSession::onReadyRead);
}

TelnetSession::~TelnetSession() {
    // No signals into a half-destroyed object.
    m_socket->disconnect(this);
    m_socket->abort();
}

void TelnetSession::setPort(const QString& port) {
    bool ok = false;
    const uint value = port.trimmed().toUInt(&ok);
    m_port = ok && value > 0 && value <= 65535 ? quint16(value) : 0;
}

void TelnetSession::setTargetFromOptions() {
    if (m_options.Mode == AppMode::Quoxel)
        return;
    if (m_options.Mode == AppMode::Online) {
        // BoxAddress is ip_inet + ":" + dboxport in mode 1.
        const QString& a = m_options.BoxAddress;
        const qsizetype colon = a.lastIndexOf(QLatin1Char(':'));
        m_host = colon < 0 ? a : a.left(colon);
    } else {
        m_host = m_options.IpLan;
    }
    setPort(m_options.TelnetPort);
}

void TelnetSession::connectToBox() {
    QPointer<TelnetSession> self(this);
    if (m_socket->state() != QAbstractSocket::UnconnectedState)
        m_socket->abort();
    if (!self) // a receiver of the disconnect signals deleted us
        return;
    dropEngine();
    if (m_host.isEmpty() || m_port == 0)
        return;
    m_socket->connectToHost(m_host, m_port);
}

void TelnetSession::disconnectFromBox() {
    QPointer<TelnetSession> self(this);
    m_socket->abort();
    if (self)
        dropEngine();
}

bool TelnetSession::isConnected() const {
    return m_engine && m_engine->fault.isEmpty() && m_socket->state() == QAbstractSocket::ConnectedState;
}

void TelnetSession::onConnected() {
    m_engine = std::make_unique<Engine>();
    m_engine->owner = this;
    m_engine->telnet.reset(telnet_init(kTelopts, &Engine::onEvent, 0, m_engine.get()));
    if (!m_engine->telnet) {
        Log(LogFunc, QStringLiteral("Telnet: no protocol state"));
        m_engine.reset();
        m_socket->abort();
        return;
    }
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    Log(LogFunc, QStringLiteral("Telnet: connected to %1:%2").arg(m_host).arg(m_port));
    Q_EMIT connectionChanged(true);
}

void TelnetSession::onDisconnected() {
    const bool had = m_engine != nullptr;
    dropEngine();
    if (!had)
        return;
    Log(LogFunc, QStringLiteral("Telnet: connection closed"));
    QPointer<TelnetSession> self(this);
    // The flag means an open connection; a lost one leaves nothing to send commands into.
    if (m_options.TelnetLoggedIn)
        setLoggedIn(false);
    if (self)
        Q_EMIT connectionChanged(false);
}

void TelnetSession::dropEngine() {
    m_engine.reset();
    m_passwordPending = false;
}

void TelnetSession::onReadyRead() {
    QPointer<TelnetSession> self(this);
    while (isConnected() && m_socket->bytesAvailable() > 0) {
        const QByteArray raw = m_socket->read(kReadChunk);
        if (raw.isEmpty())
            break;
        m_engine->chunk.clear();
        telnet_recv(m_engine->telnet.get(), raw.constData(), size_t(raw.size()));
        const QByteArray chunk = std::exchange(m_engine->chunk, QByteArray());
        const bool fault = !m_engine->fault.isEmpty();
        if (!chunk.isEmpty()) {
            appendCapture(chunk);
            Q_EMIT received(chunk);
            if (!self)
                return;
        }
        if (fault) {
            handleFault();
            return;
        }
    }
}

void TelnetSession::sendThroughEngine(const QByteArray& bytes) {
    telnet_send(m_engine->telnet.get(), bytes.constData(), size_t(bytes.size()));
    if (!m_engine->fault.isEmpty())
        handleFault();
}

void TelnetSession::handleFault() {
    if (!m_engine || m_engine->faultHandled)
        return;
    m_engine->faultHandled = true;
    Log(LogFunc, m_engine->fault);
    // Closed from the event loop: aborting here would emit signals while our callers still run.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_engine && m_engine->faultHandled) {
                m_socket->abort();
                dropEngine();
            }
        },
        Qt::QueuedConnection);
}

void TelnetSession::appendCapture(const QByteArray& chunk) {
    // The text of a chunk loses only its zero bytes (telnet's CR NUL); what follows a NUL is kept.
    QByteArray text = chunk;
    text.replace('\0', QByteArray());
    m_capture += "\r\n";
    m_capture += text;
    if (m_capture.size() > kMaxCapture)
        m_capture.remove(0, m_capture.size() - kMaxCapture);
}

void TelnetSession::sendRaw(const QByteArray& bytes) {
    if (!isConnected() || bytes.isEmpty())
        return;
    sendThroughEngine(bytes);
}

void TelnetSession::setWindowSize(int cols, int rows) {
    m_cols = std::clamp(cols, 1, 0xffff);
    m_rows = std::clamp(rows, 1, 0xffff);
    if (isConnected() && m_engine->naws) {
        Engine::sendWindowSize(m_engine->telnet.get(), m_cols, m_rows);
        if (!m_engine->fault.isEmpty())
            handleFault();
    }
}

QString TelnetSession::capture() const {
    return QString::fromLatin1(m_capture);
}

QString TelnetSession::takeCapture() {
    return QString::fromLatin1(std::exchange(m_capture, QByteArray()));
}

bool TelnetSession::busyRefused(const char* what) {
    if (!m_busy)
        return false;
    Log(LogFunc, QStringLiteral("Telnet: busy, %1 ignored").arg(QLatin1String(what)));
    return true;
}

bool TelnetSession::waitSteps(bool untilConnected) {
    QPointer<TelnetSession> self(this);
    for (int i = 0; i < kWaitSteps; ++i) {
        QCoreApplication::processEvents();
        if (!self)
            return false;
        QEventLoop loop;
        QTimer::singleShot(kWaitStepMs, &loop, &QEventLoop::quit);
        loop.exec();
        if (!self)
            return false;
        if (untilConnected && isConnected())
            break;
    }
    return true;
}

bool TelnetSession::typeLine(const QString& text, bool wait, bool secret, QString* captured) {
    Log(LogFunc, QStringLiteral("TelnetSend: ") + (secret ? QLatin1String(kMasked) : text));
    if (hasControlCharacters(text)) {
        // A line break inside would type a second, unchecked command.
        Log(LogFunc, QStringLiteral("TelnetSend: line with control characters not sent"));
    } else {
        sendRaw(text.toUtf8() + QByteArray("\r\0", 2));
    }
    if (wait && !waitSteps(false))
        return false;
    *captured = takeCapture();
    return true;
}

void TelnetSession::setLoggedIn(bool on) {
    m_options.TelnetLoggedIn = on;
    Q_EMIT loggedInChanged(on);
}

QString TelnetSession::TelnetSend(const QString& command, bool wait) {
    if (busyRefused("TelnetSend"))
        return QString();
    BusyGuard guard(this);
    QString out;
    typeLine(command, wait, false, &out);
    return out;
}

void TelnetSession::TelnetLogin(const QString& user, const QString& password) {
    if (busyRefused("TelnetLogin"))
        return;
    BusyGuard guard(this);
    Log(LogFunc, QStringLiteral("TelnetLogin: %1 at %2:%3").arg(user, m_host).arg(m_port));
    if (!m_host.isEmpty() && m_port != 0) {
        connectToBox();
        if (!waitSteps(true))
            return;
    }
    // Without a connection nothing can be typed, so the user's wait is skipped too.
    if (isConnected()) {
        QString ignored;
        if (!user.isEmpty() && !typeLine(user, true, false, &ignored))
            return;
        if (!password.isEmpty() && !typeLine(password, false, true, &ignored))
            return;
    }
    m_capture.clear();
    const bool open = isConnected();
    Log(LogFunc, open ? QStringLiteral("TelnetLogin: connected") : QStringLiteral("TelnetLogin: no connection"));
    setLoggedIn(open);
}

void TelnetSession::TelnetLogout() {
    if (busyRefused("TelnetLogout"))
        return;
    BusyGuard guard(this);
    QString ignored;
    typeLine(QStringLiteral("exit"), false, false, &ignored);
    m_passwordPending = false;
    setLoggedIn(false);
}

bool TelnetSession::startPasswordChange() {
    if (!m_options.TelnetLoggedIn || busyRefused("passwd"))
        return false;
    BusyGuard guard(this);
    QString ignored;
    typeLine(QStringLiteral("passwd"), false, false, &ignored);
    m_passwordPending = true;
    return true;
}

QString TelnetSession::confirmPasswordChange(const QString& newPassword) {
    // Without a running passwd the password would be typed as a shell command, in plain sight.
    if (!m_options.TelnetLoggedIn || !m_passwordPending || busyRefused("new password"))
        return QString();
    BusyGuard guard(this);
    m_passwordPending = false;
    QString answer;
    if (!typeLine(newPassword, true, true, &answer))
        return QString();
    // A passwd that gave up after the first entry is back at the shell: the second copy would be typed
    // there as a command line, echoed and kept in the shell's history.
    if (!asksForPassword(answer)) {
        Log(LogFunc, QStringLiteral("Telnet: passwd did not ask for the password again, not typed"));
        return QString();
    }
    if (!typeLine(newPassword, true, true, &answer))
        return QString();
    return QLatin1String(TelnetTexts::kPasswordChanged);
}

QString TelnetSession::cancelPasswordChange() {
    if (!m_options.TelnetLoggedIn || busyRefused("Ctrl+C"))
        return QString();
    m_passwordPending = false;
    Log(LogFunc, QStringLiteral("TelnetSend: ^C"));
    sendRaw(QByteArray(1, '\x03'));
    return QLatin1String(TelnetTexts::kPasswordNotChanged);
}

QString TelnetSession::restartNhttpd() {
    if (!m_options.TelnetLoggedIn || busyRefused("restart nhttpd"))
        return QString();
    BusyGuard guard(this);
    m_capture.clear();
    QString ignored;
    if (!typeLine(QStringLiteral("killall nhttpd"), true, false, &ignored))
        return QString();
    if (m_options.TelnetNhttpd.isEmpty())
        m_options.TelnetNhttpd = QStringLiteral("nhttpd");
    if (!typeLine(m_options.TelnetNhttpd, true, false, &ignored))
        return QString();
    return QLatin1String(TelnetTexts::kNhttpdRestarted);
}

bool TelnetSession::rebootBox() {
    if (!m_options.TelnetLoggedIn || busyRefused("reboot"))
        return false;
    BusyGuard guard(this);
    QString ignored;
    typeLine(QStringLiteral("reboot"), false, false, &ignored);
    return true;
}

bool TelnetSession::requestScreenshot() {
    if (!m_options.TelnetLoggedIn || busyRefused("screenshot"))
        return false;
    BusyGuard guard(this);
    QString ignored;
    typeLine(QLatin1String(kScreenshotCommand), false, false, &ignored);
    return true;
}
