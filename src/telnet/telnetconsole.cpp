#include "telnet/telnetconsole.h"

#include "core/log.h"
#include "core/options.h"
#include "telnet/telnetsession.h"
#include "telnet/telnetview.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QInputDialog>
#include <QMessageBox>
#include <QPointer>
#include <QRegularExpression>
#include <QTimer>
#include <QWidget>

namespace {

bool hasLineBreak(const QString& text) {
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    }
    return false;
}

// The shell waits for a command: "~ # ", "$ " or "> " at the end of what arrived.
bool endsWithPrompt(const QString& text) {
    static const QRegularExpression prompt(QStringLiteral("[#$>] ?$"));
    QString t = text;
    while (t.endsWith(QLatin1Char('\n')) || t.endsWith(QLatin1Char('\r')))
        t.chop(1);
    return prompt.match(t).hasMatch() && !t.endsWith(QLatin1String("login: "));
}

} // namespace

TelnetConsole::TelnetConsole(TOptions& options, TelnetSession& session, QWidget& pnlTelnet, TelnetView& view,
                             QObject* parent)
    : QObject(parent)
    , m_options(options)
    , m_session(session)
    , m_panel(pnlTelnet)
    , m_view(view) {
    connect(&m_session, &TelnetSession::received, this, [this](const QByteArray& data) {
        m_transcript += QString::fromLatin1(data);
        if (m_transcript.size() > 64 * 1024)
            m_transcript.remove(0, m_transcript.size() - 64 * 1024);
    });
    m_input = [this](QString* password) {
        bool ok = false;
        *password = QInputDialog::getText(m_panel.window(), QString::fromLatin1(TelnetTexts::kPasswordTitle),
                                          QString::fromLatin1(TelnetTexts::kPasswordPrompt), QLineEdit::Password,
                                          QString(), &ok);
        return ok;
    };
    m_ask = [this](const QString& q) {
        return QMessageBox::warning(m_panel.window(), QStringLiteral("Quoxel"), q,
                                    QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
    };
    m_inform = [this](const QString& t) { QMessageBox::information(m_panel.window(), QStringLiteral("Quoxel"), t); };
}

void TelnetConsole::inform(const QString& text) {
    if (m_inform)
        m_inform(text);
}

void TelnetConsole::Telnet1Click() {
    if (m_isFullscreen && m_isFullscreen())
        return;
    QCoreApplication::processEvents();
    if (telnet1Checked()) {
        m_panel.hide();
    } else {
        m_panel.show();
        m_panel.raise();
        m_view.setFocus();
    }
}

bool TelnetConsole::TelnetLogin(const QString& user, const QString& password) {
    if (hasLineBreak(user) || hasLineBreak(password)) {
        // A line break would submit a shell line of its own; nothing is sent.
        Log(LogFunc, QStringLiteral("TelnetLogin: user or password holds a control character, not sent"));
        m_session.disconnectFromBox();
        m_options.TelnetLoggedIn = false;
        return false;
    }
    m_transcript.clear();
    QPointer<TelnetConsole> self(this);
    m_session.TelnetLogin(user, password);
    if (!self || !m_options.TelnetLoggedIn)
        return false;
    // The answer to the password comes after the login returned: wait for the prompt or the refusal.
    for (int i = 0; i < TelnetSession::kWaitSteps; ++i) {
        if (endsWithPrompt(m_transcript) || m_transcript.contains(QLatin1String("Login incorrect")) ||
            !m_session.isConnected())
            break;
        QEventLoop loop;
        QTimer::singleShot(TelnetSession::kWaitStepMs, &loop, &QEventLoop::quit);
        loop.exec();
        if (!self)
            return false;
    }
    if (m_session.isConnected() && endsWithPrompt(m_transcript) &&
        !m_transcript.contains(QLatin1String("Login incorrect")))
        return true;
    Log(LogFunc, QStringLiteral("TelnetLogin: refused by the receiver"));
    m_session.disconnectFromBox();
    m_options.TelnetLoggedIn = false;
    return false;
}

void TelnetConsole::TelnetLogout() {
    m_session.TelnetLogout();
}

void TelnetConsole::ChangePass1Click() {
    if (!m_options.TelnetLoggedIn || !m_session.startPasswordChange())
        return;
    QString password;
    if (!m_input || !m_input(&password)) {
        m_session.cancelPasswordChange();
        inform(QString::fromLatin1(TelnetTexts::kPasswordNotChanged));
        return;
    }
    m_transcript.clear();
    QPointer<TelnetConsole> self(this);
    const QString done = m_session.confirmPasswordChange(password);
    if (!self)
        return;
    // passwd says "Password changed." (or "password for root changed by root"); anything else is a refusal.
    static const QRegularExpression changed(QStringLiteral("password( for \\S+)? changed"),
                                            QRegularExpression::CaseInsensitiveOption);
    const bool ok = !done.isEmpty() && changed.match(m_transcript).hasMatch();
    inform(QString::fromLatin1(ok ? TelnetTexts::kPasswordChanged : TelnetTexts::kPasswordNotChanged));
}

void TelnetConsole::Restartnhttpd1Click() {
    if (!m_options.TelnetLoggedIn)
        return;
    const QString done = m_session.restartNhttpd();
    if (!done.isEmpty())
        inform(done);
}

void TelnetConsole::Reboot1Click() {
    if (!m_options.TelnetLoggedIn)
        return;
    if (!m_ask || !m_ask(QString::fromLatin1(TelnetTexts::kRebootQuestion)))
        return;
    if (m_stopPlayer)
        Log(LogVlc, QStringLiteral("VLC_Stop()"), m_stopPlayer());
    if (!m_session.rebootBox())
        return;
    inform(QString::fromLatin1(TelnetTexts::kRebooting));
    if (m_closeMain)
        m_closeMain();
}
