#include "core/log.h"

#include "core/clock.h"
#include "core/options.h"
#include "core/ports.h"
#include "core/programdir.h"
#include "core/settingstable.h"

#include <QCoreApplication>
#include <QLocale>
#include <QRegularExpression>
#include <QThread>

#include <algorithm>
#include <atomic>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

StatusSink* g_statusSink = nullptr;
std::atomic<qint64> g_uiFixedWaitMs{0};

bool onMainThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

} // namespace

Logger::Logger(QString filePath)
    : m_path(std::move(filePath)) {}

Logger::~Logger() = default;

void Logger::setDetailSource(int category, std::function<QString(int)> source) {
    if (category >= 0 && category < 4)
        m_detail[category] = std::move(source);
}

const char* Logger::label(int category) {
    switch (category) {
    case LogFunc:
        return "FUNC  ";
    case LogVlc:
        return "VLC   ";
    case LogHttp:
        return "HTTP  ";
    case LogThread:
        return "THREAD";
    case LogMsg:
        return "MSG   ";
    case LogMsgDet:
        return "MSGDET";
    default:
        return "";
    }
}

QByteArray Logger::formatLine(const QString& time, int category, const QString& text, const QString& detail) {
    QString line = time + QStringLiteral(", ") + QLatin1String(label(category)) + QStringLiteral(", ") + text;
    if (!detail.isEmpty())
        line += QStringLiteral(", ") + detail;
    return line.toUtf8();
}

void Logger::acquire() {
    const bool main = onMainThread();
    while (m_busy.test_and_set(std::memory_order_acquire)) {
        QThread::msleep(20);
        if (main && m_pump)
            m_pump();
    }
}

void Logger::release() {
    m_busy.clear(std::memory_order_release);
}

QString Logger::maskUrlCredentials(const QString& text) {
    static const QRegularExpression userInfo(QStringLiteral("([A-Za-z][A-Za-z0-9+.-]*://[^/\\s:@]*):[^/\\s@]*@"));
    QString out = text;
    out.replace(userInfo, QStringLiteral("\\1:***@"));
    return out;
}

void Logger::setSecrets(const QStringList& secrets) {
    QStringList kept;
    for (const QString& s : secrets)
        if (s.size() >= kMinSecretLength && !kept.contains(s))
            kept.append(s);
    // Longest first, so a password that contains another is masked whole.
    std::sort(kept.begin(), kept.end(), [](const QString& a, const QString& b) { return a.size() > b.size(); });
    const std::lock_guard<std::mutex> lock(m_secretsLock);
    m_secrets = kept;
}

void Logger::log(int category, const QString& text, int code) {
    if (!enabled() || category == LogMsgDet)
        return;
    // The detail is fetched before taking the flag: a source may itself be slow.
    QString detail;
    if (category >= LogVlc && category <= LogThread && m_detail[category])
        detail = m_detail[category](code);
    const QString time = Clock::current().now().toString(QStringLiteral("hh:mm:ss:zzz"));
    QString masked = maskUrlCredentials(text);
    QString maskedDetail = maskUrlCredentials(detail);
    {
        const std::lock_guard<std::mutex> lock(m_secretsLock);
        for (const QString& s : std::as_const(m_secrets)) {
            masked.replace(s, QStringLiteral("***"));
            maskedDetail.replace(s, QStringLiteral("***"));
        }
    }
    const QByteArray line = formatLine(time, category, masked, maskedDetail);

    acquire();
    m_pending.append(line);
    if (m_pending.size() > kMaxPending)
        m_pending.remove(0, m_pending.size() - kMaxPending);
    flushLocked();
    release();
}

void Logger::restart(const QList<QByteArray>& head) {
    if (!enabled())
        return;
    acquire();
    m_pending = head;
    m_pending.append(QByteArray());
    m_truncateNext = true;
    m_file.close();
    flushLocked();
    release();
}

int Logger::pendingLines() const {
    return static_cast<int>(m_pending.size());
}

void Logger::flushLocked() {
    if (!m_file.isOpen()) {
        m_file.setFileName(m_path);
        const QIODevice::OpenMode mode =
            QIODevice::WriteOnly | (m_truncateNext ? QIODevice::Truncate : QIODevice::Append);
        // Created 0600 whatever the umask, and an older file loosened by hand is tightened again:
        // the log names the receiver, its users and what was watched.
        const QByteArray native = QFile::encodeName(m_path);
        const int fd =
            ::open(native.constData(), O_WRONLY | O_CREAT | O_CLOEXEC | (m_truncateNext ? O_TRUNC : O_APPEND), 0600);
        if (fd < 0)
            return; // the lines stay pending and go out with the next successful write
        if (::fchmod(fd, 0600) != 0 || !m_file.open(fd, mode, QFileDevice::AutoCloseHandle)) {
            ::close(fd);
            return;
        }
        m_truncateNext = false;
    }
    QByteArray chunk;
    for (const QByteArray& l : std::as_const(m_pending)) {
        chunk += l;
        chunk += '\n';
    }
    const qint64 before = m_file.size();
    if (m_file.write(chunk) != chunk.size() || !m_file.flush()) {
        // Cut a half-written line off again, so the retry does not leave a fragment in the file.
        m_file.resize(before);
        m_file.close();
        return;
    }
    m_pending.clear();
}

Logger& appLogger() {
    static Logger logger(AppDir() + QStringLiteral("Quoxel.log"));
    return logger;
}

void Log(int category, const QString& text, int code) {
    Logger& l = appLogger();
    l.setEnabled(!Options.NoLogging);
    l.log(category, text, code);
}

qint64 uiFixedWaitMs() {
    return g_uiFixedWaitMs.load();
}

void addUiFixedWait(int milliseconds) {
    if (milliseconds > 0 && onMainThread())
        g_uiFixedWaitMs += milliseconds;
}

void Delay(int milliseconds, bool logIt) {
    if (milliseconds > 0)
        QThread::msleep(static_cast<unsigned long>(milliseconds));
    addUiFixedWait(milliseconds);
    if (logIt)
        Log(LogFunc, QStringLiteral("Delay ") + QString::number(milliseconds) + QStringLiteral("ms"));
}

void setStatusSink(StatusSink* sink) {
    g_statusSink = sink;
}

StatusTexts statusTexts(const QString& text, AppMode mode, const QDateTime& now) {
    StatusTexts t;
    t.message = text.startsWith(QLatin1Char(' ')) ? text : QStringLiteral(" ") + text;
    const auto index = static_cast<size_t>(mode);
    t.mode = index < ModeNames.size() ? QLatin1String(ModeNames[index]) : QString();
    // Short date and the time without its seconds.
    const QString date = QLocale::system().toString(now.date(), QLocale::ShortFormat);
    QString time = now.time().toString(QStringLiteral("HH:mm:ss"));
    time.chop(3);
    t.stamp = QStringLiteral(" ") + date + QStringLiteral(" ") + time;
    return t;
}

int statusMessageWidth(int windowWidth, int modePanelWidth, int timePanelWidth) {
    return std::max(0, windowWidth - modePanelWidth - timePanelWidth - 20);
}

void ShowStatus(const QString& text) {
    if (!g_statusSink)
        return;
    const StatusTexts t = statusTexts(text, Options.Mode, Clock::current().now());
    g_statusSink->showStatus(t.message, t.mode, t.stamp);
}
