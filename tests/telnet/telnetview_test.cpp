#include "telnet/telnetconsole.h"
#include "telnet/telnetsession.h"
#include "telnet/telnetview.h"

#include "core/options.h"
#include "support/boxsimprocess.h"

#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

namespace {

// The console and its commands against the simulated receiver's telnet service.
class TelnetConsoleTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_saved = Options;
        Options = TOptions();
        Options.TelnetNhttpd = QStringLiteral("nhttpd");
    }
    void TearDown() override {
        m_console.reset();
        m_view.reset();
        m_session.reset();
        Options = m_saved;
    }
    void start(const char* address, QStringList args = {}) {
        m_sim = std::make_unique<BoxSimProcess>(QString::fromLatin1(address), args);
        ASSERT_TRUE(m_sim->start()) << m_sim->stderrText().toStdString();
        m_session = std::make_unique<TelnetSession>(Options);
        m_session->setHost(QString::fromLatin1(address));
        m_session->setPort(23);
        m_view = std::make_unique<TelnetView>(*m_session, &m_panel);
        m_console = std::make_unique<TelnetConsole>(Options, *m_session, m_panel, *m_view);
        m_console->setInformation([this](const QString& t) { m_shown << t; });
        m_console->setQuestion([this](const QString& q) {
            m_asked << q;
            return m_answer;
        });
    }
    QStringList telnetLines() { return m_sim->requests(QStringLiteral("telnet")); }
    bool viewShows(const QString& text) {
        for (int r = 0; r < m_view->screen().rows(); ++r) {
            if (m_view->shownRow(r).contains(text))
                return true;
        }
        return false;
    }

    TOptions m_saved;
    std::unique_ptr<BoxSimProcess> m_sim;
    std::unique_ptr<TelnetSession> m_session;
    QWidget m_panel;
    std::unique_ptr<TelnetView> m_view;
    std::unique_ptr<TelnetConsole> m_console;
    QStringList m_shown;
    QStringList m_asked;
    bool m_answer = true;
};

} // namespace

// Logged in, typed keys reach the shell and its answer appears in the console's cells; Ctrl+C goes out as
// code 3; logout ends the commands.
TEST_F(TelnetConsoleTest, LoginTypeAndLogout) {
    start("127.0.57.30");
    ASSERT_TRUE(m_console->TelnetLogin(QStringLiteral("root"), QString()));
    EXPECT_TRUE(Options.TelnetLoggedIn);
    m_panel.show();
    m_view->setFocus();
    QTest::keyClicks(m_view.get(), QStringLiteral("echo hello42"));
    QTest::keyClick(m_view.get(), Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return viewShows(QStringLiteral("hello42")) && viewShows(QStringLiteral("~ #")); }, 5000));
    QTest::keyClick(m_view.get(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return telnetLines().contains(QStringLiteral("^C")); }, 5000));
    EXPECT_TRUE(telnetLines().contains(QStringLiteral("echo hello42")));
    m_console->TelnetLogout();
    EXPECT_FALSE(Options.TelnetLoggedIn);
    const int before = int(telnetLines().size());
    m_console->Restartnhttpd1Click();
    m_console->ChangePass1Click();
    EXPECT_TRUE(m_shown.isEmpty());
    EXPECT_LE(int(telnetLines().size()), before + 1); // at most the "exit"
}

// A password the receiver refuses leaves the program logged out and the connection closed.
TEST_F(TelnetConsoleTest, WrongPasswordIsNoLogin) {
    start("127.0.57.31", {"--telnet-password", "Secr3tPw"});
    EXPECT_FALSE(m_console->TelnetLogin(QStringLiteral("root"), QStringLiteral("wrong1")));
    EXPECT_FALSE(Options.TelnetLoggedIn);
    EXPECT_FALSE(m_session->isConnected());
    EXPECT_TRUE(m_console->TelnetLogin(QStringLiteral("root"), QStringLiteral("Secr3tPw")));
    EXPECT_TRUE(Options.TelnetLoggedIn);
}

// A line break in the user or password is refused before anything is sent.
TEST_F(TelnetConsoleTest, LineBreakNotSent) {
    start("127.0.57.32");
    EXPECT_FALSE(m_console->TelnetLogin(QStringLiteral("root"), QStringLiteral("pw\nreboot")));
    EXPECT_FALSE(m_console->TelnetLogin(QStringLiteral("root\r"), QString()));
    EXPECT_FALSE(Options.TelnetLoggedIn);
    EXPECT_TRUE(telnetLines().isEmpty());
    EXPECT_EQ(m_sim->state().value(QStringLiteral("reboots")), QStringLiteral("0"));
}

// The password change: confirmed by the receiver, refused by it (too short), and cancelled with Ctrl+C.
TEST_F(TelnetConsoleTest, PasswordChange) {
    start("127.0.57.33");
    ASSERT_TRUE(m_console->TelnetLogin(QStringLiteral("root"), QString()));
    const struct {
        bool confirm;
        const char* password;
        const char* shown;
    } cases[] = {{true, "abcde12", "Telnet: Password changed!"},
                 {true, "abc", "Telnet: Password not changed!"},
                 {false, "", "Telnet: Password not changed!"}};
    for (const auto& c : cases) {
        m_shown.clear();
        m_console->setPasswordInput([&c](QString* p) {
            *p = QString::fromLatin1(c.password);
            return c.confirm;
        });
        m_console->ChangePass1Click();
        EXPECT_EQ(m_shown, QStringList{QString::fromLatin1(c.shown)}) << c.password;
        if (!c.confirm) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return telnetLines().contains(QStringLiteral("^C")); }, 5000));
        }
    }
    EXPECT_EQ(m_sim->state().value(QStringLiteral("telnet_password")), QStringLiteral("abcde12"));
    // The shell is usable again after the cancel.
    EXPECT_FALSE(m_session->TelnetSend(QStringLiteral("pwd"), true).isEmpty());
}

// Colour and scroll-back as the view draws them, from recorded bytes.
TEST(TelnetView, DrawsColourAndScrollback) {
    TOptions o;
    TelnetSession session(o);
    TelnetView view(session);
    view.resize(view.sizeHint());
    EXPECT_EQ(view.sizeHint(), QSize(6 * 2 + 100 * 8, 4 * 2 + 7 * 10));
    view.screen().feed("\x1b[41m    \x1b[0m plain");
    const QImage img = view.grab().toImage();
    const QColor cell = img.pixelColor(TelnetView::kMarginX + 4, TelnetView::kMarginY + 5);
    EXPECT_GT(cell.red(), 150);
    EXPECT_LT(cell.green(), 80);
    EXPECT_EQ(img.pixelColor(TelnetView::kMarginX + 60 * 8, TelnetView::kMarginY + 5), QColor(Qt::white));
    for (int i = 0; i < 20; ++i)
        view.screen().feed(QByteArray("\r\nline ") + QByteArray::number(i));
    EXPECT_EQ(view.shownRow(6), QStringLiteral("line 19"));
    view.setScrollOffset(5);
    EXPECT_EQ(view.shownRow(6), QStringLiteral("line 14"));
    view.setScrollOffset(100000);
    EXPECT_EQ(view.scrollOffset(), view.screen().scrollbackCount());
}
