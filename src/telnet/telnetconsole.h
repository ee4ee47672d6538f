#pragma once

#include <QObject>
#include <QString>
#include <QWidget>

#include <functional>

class TelnetSession;
class TelnetView;
class TOptions;

// The telnet menu commands of the main window: the console panel, login and logout, password change,
// web-server restart and reboot. A login counts only when the receiver's shell prompt appears, and a
// password change is reported as done only when the receiver confirms it. UI thread.
class TelnetConsole : public QObject {
    Q_OBJECT
public:
    TelnetConsole(TOptions& options, TelnetSession& session, QWidget& pnlTelnet, TelnetView& view,
                  QObject* parent = nullptr);

    void setFullscreenQuery(std::function<bool()> isFullscreen) { m_isFullscreen = std::move(isFullscreen); }
    // The input box: returns false on Cancel.
    void setPasswordInput(std::function<bool(QString* password)> input) { m_input = std::move(input); }
    // The warning question with OK and Cancel, and the information box.
    void setQuestion(std::function<bool(const QString&)> ask) { m_ask = std::move(ask); }
    void setInformation(std::function<void(const QString&)> inform) { m_inform = std::move(inform); }
    // Reboot: stops the player (its result is logged) and closes the main window.
    void setRebootHooks(std::function<int()> stopPlayer, std::function<void()> closeMain) {
        m_stopPlayer = std::move(stopPlayer);
        m_closeMain = std::move(closeMain);
    }

    void Telnet1Click();
    // The panel is shown. Read from the panel itself: entering full screen hides it behind the
    // command's back.
    bool telnet1Checked() const { return !m_panel.isHidden(); }
    // False when the connection or the receiver refused; user or password with a line break are not sent.
    bool TelnetLogin(const QString& user, const QString& password);
    void TelnetLogout();
    void ChangePass1Click();
    void Restartnhttpd1Click();
    void Reboot1Click();

    // What the receiver sent during the last login or command, for the checks above.
    QString transcript() const { return m_transcript; }

private:
    void inform(const QString& text);

    TOptions& m_options;
    TelnetSession& m_session;
    QWidget& m_panel;
    TelnetView& m_view;
    std::function<bool()> m_isFullscreen;
    std::function<bool(QString*)> m_input;
    std::function<bool(const QString&)> m_ask;
    std::function<void(const QString&)> m_inform;
    std::function<int()> m_stopPlayer;
    std::function<void()> m_closeMain;
    QString m_transcript;
};
