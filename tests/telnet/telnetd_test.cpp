#include "telnet/telnetconsole.h"
#include "telnet/telnetsession.h"
#include "telnet/telnetview.h"

#include "core/log.h"
#include "core/options.h"
#include "support/appstate.h"

#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>

// Readable failure output for the record's lines.
void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

// The telnet client against a real telnet server: BusyBox telnetd with the receiver's shell (boxsim_shell)
// as its login program. The shell writes each command line it gets into a record file.
namespace {

constexpr char kUser[] = "root";
constexpr char kPassword[] = "Dbx7pass";

QString busybox() {
    const QString path = QStandardPaths::findExecutable(QStringLiteral("busybox"));
    if (path.isEmpty())
        return QString();
    QProcess list;
    list.start(path, {QStringLiteral("--list")});
    if (!list.waitForFinished(5000))
        return QString();
    return list.readAllStandardOutput().split('\n').contains("telnetd") ? path : QString();
}

QByteArray logText() {
    QFile f(appLogger().filePath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString shellQuote(const QString& s) {
    QString q = s;
    q.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + q + QLatin1Char('\'');
}

class RealTelnetdTest : public ::testing::Test {
protected:
    void SetUp() override {
        Options.TelnetNhttpd = QStringLiteral("nhttpd");
        m_busybox = busybox();
        if (m_busybox.isEmpty())
            GTEST_SKIP() << "busybox with the telnetd applet is not installed (Debian: busybox-static)";
        ASSERT_TRUE(m_dir.isValid());
    }
    void TearDown() override {
        m_console.reset();
        m_view.reset();
        m_session.reset();
        if (m_telnetd) {
            m_telnetd->terminate();
            if (!m_telnetd->waitForFinished(3000)) {
                m_telnetd->kill();
                m_telnetd->waitForFinished(3000);
            }
        }
    }

    // telnetd's -l takes a program without arguments: a wrapper script passes the shell its own.
    void startTelnetd(const char* address, const QStringList& shellArgs = {}) {
        m_address = QString::fromLatin1(address);
        const QString wrapper = m_dir.filePath(QStringLiteral("login.sh"));
        {
            QFile f(wrapper);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            const QString script = QStringLiteral("#!/bin/sh\nexec %1 --user %2 --password %3 --password-file %4 "
                                                  "--record %5 --idle-seconds 120 %6\n")
                                       .arg(shellQuote(QStringLiteral(QUOXEL_BOXSIM_SHELL_PATH)),
                                            QString::fromLatin1(kUser), shellQuote(QString::fromLatin1(kPassword)),
                                            shellQuote(m_dir.filePath(QStringLiteral("password"))),
                                            shellQuote(recordPath()), shellArgs.join(QLatin1Char(' ')));
            f.write(script.toUtf8());
            f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        }
        const QString issue = m_dir.filePath(QStringLiteral("issue"));
        QFile(issue).open(QIODevice::WriteOnly);
        // A free port now; another program may take it before telnetd binds, so a few tries.
        for (int attempt = 0; attempt < 3 && !m_port; ++attempt) {
            QTcpServer probe;
            ASSERT_TRUE(probe.listen(QHostAddress(m_address), 0)) << probe.errorString().toStdString();
            const quint16 port = probe.serverPort();
            probe.close();
            m_telnetd = std::make_unique<QProcess>();
            m_telnetd->setProcessChannelMode(QProcess::MergedChannels);
            m_telnetd->start(m_busybox, {QStringLiteral("telnetd"), QStringLiteral("-F"), QStringLiteral("-K"),
                                         QStringLiteral("-b"), QStringLiteral("%1:%2").arg(m_address).arg(port),
                                         QStringLiteral("-l"), wrapper, QStringLiteral("-f"), issue});
            ASSERT_TRUE(m_telnetd->waitForStarted(5000));
            // Listening once a connection is taken (that session ends at once, unrecorded).
            const bool up = QTest::qWaitFor(
                [&] {
                    if (m_telnetd->state() != QProcess::Running)
                        return true;
                    QTcpSocket s;
                    s.connectToHost(QHostAddress(m_address), port);
                    return s.waitForConnected(200);
                },
                5000);
            if (up && m_telnetd->state() == QProcess::Running)
                m_port = port;
        }
        ASSERT_NE(m_port, 0) << "telnetd did not listen: " << m_telnetd->readAll().toStdString();
        m_session = std::make_unique<TelnetSession>(Options);
        m_session->setHost(m_address);
        m_session->setPort(m_port);
        m_view = std::make_unique<TelnetView>(*m_session, &m_panel);
        m_console = std::make_unique<TelnetConsole>(Options, *m_session, m_panel, *m_view);
        m_console->setInformation([this](const QString& t) { m_shown << t; });
        m_console->setQuestion([this](const QString& q) {
            m_asked << q;
            return m_answer;
        });
    }

    QString recordPath() const { return m_dir.filePath(QStringLiteral("record.txt")); }
    QStringList recorded() const {
        QFile f(recordPath());
        if (!f.open(QIODevice::ReadOnly))
            return {};
        QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
        lines.removeAll(QString());
        return lines;
    }
    // The shell writes a line once it has read it: wait until the record holds at least `count`.
    QStringList waitForRecord(int count) const {
        QStringList lines;
        (void)QTest::qWaitFor(
            [&] {
                lines = recorded();
                return lines.size() >= count;
            },
            5000);
        return lines;
    }
    bool viewShows(const QString& text) const {
        for (int r = 0; r < m_view->screen().rows(); ++r) {
            if (m_view->shownRow(r).contains(text))
                return true;
        }
        return false;
    }
    bool login(const QString& password = QString::fromLatin1(kPassword)) {
        return m_console->TelnetLogin(QString::fromLatin1(kUser), password);
    }
    void expectNowhere(const QString& secret) const {
        EXPECT_FALSE(logText().contains(secret.toUtf8())) << "password in the log";
        EXPECT_FALSE(m_console->transcript().contains(secret)) << "password in the transcript";
        EXPECT_FALSE(m_session->capture().contains(secret)) << "password in the capture";
        EXPECT_FALSE(recorded().join(QLatin1Char('\n')).contains(secret)) << "password typed as a command";
    }

    ScopedAppState m_state;
    QString m_busybox;
    QTemporaryDir m_dir;
    QString m_address;
    quint16 m_port = 0;
    std::unique_ptr<QProcess> m_telnetd;
    std::unique_ptr<TelnetSession> m_session;
    QWidget m_panel;
    std::unique_ptr<TelnetView> m_view;
    std::unique_ptr<TelnetConsole> m_console;
    QStringList m_shown;
    QStringList m_asked;
    bool m_answer = true;
};

} // namespace

// The login reaches the prompt through telnetd's negotiation and terminal; typed commands come back on the
// console's screen; Ctrl+C goes through; logout ends the shell and with it the connection.
TEST_F(RealTelnetdTest, LoginTypeAndLogout) {
    startTelnetd("127.0.67.1");
    ASSERT_TRUE(login());
    EXPECT_TRUE(Options.TelnetLoggedIn);
    EXPECT_TRUE(m_console->transcript().endsWith(QLatin1String("~ # "))) << m_console->transcript().toStdString();
    const QString out = m_session->TelnetSend(QStringLiteral("echo hello67"), true);
    EXPECT_TRUE(out.contains(QLatin1String("hello67"))) << out.toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return viewShows(QStringLiteral("hello67")); }, 3000));
    m_panel.show();
    m_view->setFocus();
    QTest::keyClick(m_view.get(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(waitForRecord(2), (QStringList{"echo hello67", "^C"}));
    m_console->TelnetLogout();
    EXPECT_FALSE(Options.TelnetLoggedIn);
    EXPECT_EQ(waitForRecord(3), (QStringList{"echo hello67", "^C", "exit"}));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !m_session->isConnected(); }, 5000));
    // Logged out, the menu commands type nothing.
    m_console->Restartnhttpd1Click();
    m_console->ChangePass1Click();
    m_console->Reboot1Click();
    QTest::qWait(300);
    EXPECT_EQ(recorded().size(), 3);
    EXPECT_TRUE(m_shown.isEmpty());
    expectNowhere(QString::fromLatin1(kPassword));
}

// What a user can get wrong at the login: the receiver answers "Login incorrect" and the program is not
// logged in; nothing reaches the shell's command line. A line break in the user or password is refused
// before anything is sent: typed, the rows with one would log in and run what follows it.
struct BadLogin {
    const char* address;
    const char* user;
    const char* password;
};

void PrintTo(const BadLogin& c, std::ostream* os) {
    *os << c.user << " / \"" << c.password << "\"";
}

class RealTelnetdBadLogin : public RealTelnetdTest, public ::testing::WithParamInterface<BadLogin> {};

TEST_P(RealTelnetdBadLogin, IsNoLogin) {
    const BadLogin& c = GetParam();
    startTelnetd(c.address);
    QSignalSpy connections(m_session.get(), &TelnetSession::connectionChanged);
    EXPECT_FALSE(m_console->TelnetLogin(QString::fromUtf8(c.user), QString::fromUtf8(c.password)));
    const QByteArray typed = QByteArray(c.user) + c.password;
    if (typed.contains('\n') || typed.contains('\r')) {
        EXPECT_EQ(connections.count(), 0) << "refused before anything is sent";
    }
    EXPECT_FALSE(Options.TelnetLoggedIn);
    EXPECT_FALSE(m_session->isConnected());
    EXPECT_TRUE(recorded().isEmpty());
    // The right one still works afterwards, on a new connection.
    EXPECT_TRUE(login());
    EXPECT_TRUE(Options.TelnetLoggedIn);
    if (*c.password)
        expectNowhere(QString::fromUtf8(c.password));
}

INSTANTIATE_TEST_SUITE_P(
    Table, RealTelnetdBadLogin,
    ::testing::Values(BadLogin{"127.0.67.2", "root", "Wrong9pw"}, BadLogin{"127.0.67.3", "root", ""},
                      BadLogin{"127.0.67.4", "admin", "Dbx7pass"}, BadLogin{"127.0.67.5", "root", "Dbx7pas"},
                      BadLogin{"127.0.67.6", "root", "Dbx7pass "}, BadLogin{"127.0.67.16", "root", "Dbx7pass\nreboot"},
                      BadLogin{"127.0.67.17", "root\rDbx7pass", ""}));

// The password change as the shell answers it: "Telnet: Password changed!" only when it confirms, and the
// new password is the one for the next login; refused or cancelled, the old one stays.
struct PasswordCase {
    const char* address;
    bool confirm;      // OK in the input box
    const char* typed; // the new password
    bool changed;      // the shell takes it
};

void PrintTo(const PasswordCase& c, std::ostream* os) {
    *os << (c.confirm ? "OK " : "Cancel ") << c.typed;
}

class RealTelnetdPassword : public RealTelnetdTest, public ::testing::WithParamInterface<PasswordCase> {};

TEST_P(RealTelnetdPassword, ChangeAnswer) {
    const PasswordCase& c = GetParam();
    startTelnetd(c.address);
    ASSERT_TRUE(login());
    const QString typed = QString::fromUtf8(c.typed);
    m_console->setPasswordInput([&](QString* p) {
        *p = typed;
        return c.confirm;
    });
    m_console->ChangePass1Click();
    EXPECT_EQ(m_shown, QStringList{QString::fromLatin1(c.changed ? TelnetTexts::kPasswordChanged
                                                                 : TelnetTexts::kPasswordNotChanged)});
    EXPECT_EQ(waitForRecord(c.confirm ? 1 : 2), c.confirm ? QStringList{"passwd"} : (QStringList{"passwd", "^C"}));
    // The shell is at its prompt again and takes a command.
    EXPECT_TRUE(m_session->TelnetSend(QStringLiteral("pwd"), true).contains(QLatin1String("/root")));
    if (!typed.isEmpty())
        expectNowhere(typed);
    expectNowhere(QString::fromLatin1(kPassword));
    m_console->TelnetLogout();
    const QString now = c.changed ? typed : QString::fromLatin1(kPassword);
    const QString other = c.changed ? QString::fromLatin1(kPassword) : typed;
    if (!other.isEmpty()) {
        EXPECT_FALSE(login(other));
    }
    EXPECT_TRUE(login(now));
}

INSTANTIATE_TEST_SUITE_P(Table, RealTelnetdPassword,
                         ::testing::Values(PasswordCase{"127.0.67.7", true, "N3wPass9", true},
                                           PasswordCase{"127.0.67.8", true, "abcde", true},
                                           PasswordCase{"127.0.67.9", true, "abcd", false},
                                           PasswordCase{"127.0.67.10", true, "P\xc3\xa4sswort1", true},
                                           PasswordCase{"127.0.67.11", false, "N3wPass9", false}));

// A passwd that gives up after the first entry (as one without root rights does for a short password) is
// back at the shell prompt: the second copy of the password must not be typed there as a command line.
TEST_F(RealTelnetdTest, PasswdEndingEarlyGetsNoSecondCopy) {
    startTelnetd("127.0.67.15", {QStringLiteral("--weak-password-ends-passwd"), QStringLiteral("1")});
    ASSERT_TRUE(login());
    m_console->setPasswordInput([](QString* p) {
        *p = QStringLiteral("abc9");
        return true;
    });
    m_console->ChangePass1Click();
    EXPECT_EQ(m_shown, QStringList{QString::fromLatin1(TelnetTexts::kPasswordNotChanged)});
    EXPECT_EQ(waitForRecord(1), QStringList{"passwd"});
    QTest::qWait(500);
    EXPECT_EQ(recorded(), QStringList{"passwd"});
    expectNowhere(QStringLiteral("abc9"));
    EXPECT_TRUE(m_session->TelnetSend(QStringLiteral("pwd"), true).contains(QLatin1String("/root")));
}

// Reboot: cancelled types nothing and keeps the player; confirmed types "reboot", stops the player,
// closes the window, and the shell ending closes the connection.
TEST_F(RealTelnetdTest, RebootCancelledAndConfirmed) {
    startTelnetd("127.0.67.13");
    ASSERT_TRUE(login());
    int stops = 0;
    int closes = 0;
    m_console->setRebootHooks(
        [&] {
            ++stops;
            return 0;
        },
        [&] { ++closes; });
    m_answer = false;
    m_console->Reboot1Click();
    EXPECT_EQ(m_asked, QStringList{QString::fromLatin1(TelnetTexts::kRebootQuestion)});
    QTest::qWait(500);
    EXPECT_TRUE(recorded().isEmpty());
    EXPECT_EQ(stops + closes, 0);
    EXPECT_TRUE(m_shown.isEmpty());
    m_answer = true;
    m_console->Reboot1Click();
    EXPECT_EQ(stops, 1);
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(m_shown, QStringList{QString::fromLatin1(TelnetTexts::kRebooting)});
    EXPECT_EQ(waitForRecord(1), QStringList{"reboot"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return !m_session->isConnected(); }, 5000));
    EXPECT_FALSE(Options.TelnetLoggedIn);
}
