#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class QTcpSocket;
class TOptions;

// Texts the main window shows after the telnet commands.
namespace TelnetTexts {
inline constexpr char kPasswordTitle[] = "Change Password";
inline constexpr char kPasswordPrompt[] = "Please Enter New Password (Min. 5 Chars)";
inline constexpr char kPasswordChanged[] = "Telnet: Password changed!";
inline constexpr char kPasswordNotChanged[] = "Telnet: Password not changed!";
inline constexpr char kNhttpdRestarted[] = "Telnet: Nhttpd restarted!";
inline constexpr char kRebootQuestion[] = "D-Box Reboot?";
inline constexpr char kRebooting[] = "D-Box Reboot! Plz Restart Quoxel!";
} // namespace TelnetTexts

// The one telnet connection to the receiver's login shell: RFC 854 option negotiation, the login, the shell
// commands typed into it with their fixed waits, and the capture of what the receiver sends. It sets and
// clears TelnetLoggedIn of the settings record. UI thread; the waits let pending events run.
class TelnetSession : public QObject {
    Q_OBJECT
public:
    // Each wait is this many steps of this length (2.2 s in all).
    static constexpr int kWaitSteps = 11;
    static constexpr int kWaitStepMs = 200;
    // The capture keeps the newest bytes up to this size.
    static constexpr qsizetype kMaxCapture = 1024 * 1024;
    // A peer that stops reading while we owe it more than this is cut off.
    static constexpr qint64 kMaxUnsent = 1024 * 1024;
    // Protocol warnings logged per connection; a hostile peer could make one every few bytes.
    static constexpr int kMaxLoggedWarnings = 10;
    // The command that makes the receiver's screenshot.
    static constexpr char kScreenshotCommand[] = "/bin/dboxshot -o /tmp/a.bmp";

    explicit TelnetSession(TOptions& options, QObject* parent = nullptr);
    ~TelnetSession() override;
    TelnetSession(const TelnetSession&) = delete;
    TelnetSession& operator=(const TelnetSession&) = delete;

    void setHost(const QString& host) { m_host = host; }
    QString host() const { return m_host; }
    // 0 means no port; a text that is not a port number 1..65535 gives 0.
    void setPort(quint16 port) { m_port = port; }
    void setPort(const QString& port);
    quint16 port() const { return m_port; }
    // The start-up's target: ip_inet in mode 1, ip_lan in mode 0 (mode 2 leaves it), port TelnetPort.
    void setTargetFromOptions();

    // Opens the connection (asynchronously); a connection that is open or opening is dropped first.
    void connectToBox();
    void disconnectFromBox();
    bool isConnected() const;

    // Bytes typed into the console (or produced by the terminal), sent as they are, IAC escaped.
    void sendRaw(const QByteArray& bytes);
    // The window size the peer is told when it asks (NAWS).
    void setWindowSize(int cols, int rows);

    // Types the command and a carriage return; with wait, lets the shell react for 2.2 s.
    // Returns the capture and empties it. A command holding control characters is not sent.
    QString TelnetSend(const QString& command, bool wait);
    // Connects, waits up to 2.2 s for the connection, types user (then waits) and password; sets
    // TelnetLoggedIn to whether the connection is open.
    void TelnetLogin(const QString& user, const QString& password);
    // Types "exit" and clears TelnetLoggedIn.
    void TelnetLogout();

    // The shell commands of the telnet menu; each does nothing and returns false or an empty text while
    // TelnetLoggedIn is clear. The password change is started, then confirmed with the new password (typed
    // twice, the second time only when passwd asks again; never logged) or cancelled with Ctrl+C.
    bool startPasswordChange();
    QString confirmPasswordChange(const QString& newPassword);
    QString cancelPasswordChange();
    // "killall nhttpd" and the nhttpd setting (made "nhttpd" when empty), each with its wait.
    QString restartNhttpd();
    // Types "reboot"; stopping the player and closing the window are the caller's part.
    bool rebootBox();
    // Types the screenshot command without waiting.
    bool requestScreenshot();

    // What arrived since the last command: each received chunk as CR LF and its text.
    QString capture() const;
    QString takeCapture();
    bool isWaiting() const { return m_busy; }

Q_SIGNALS:
    // Data for the terminal, telnet commands removed; one signal per received chunk.
    void received(const QByteArray& data);
    void connectionChanged(bool connected);
    // After every login attempt and logout, and when the connection is lost: TelnetLoggedIn's new value
    // (the window enables "D-Box OSD" with it).
    void loggedInChanged(bool loggedIn);

private:
    struct Engine;
    class BusyGuard;

    void onConnected();
    void onDisconnected();
    void onReadyRead();
    void dropEngine();
    // Sends through libtelnet; a fault found while inside libtelnet is handled only after it returns.
    void sendThroughEngine(const QByteArray& bytes);
    void handleFault();
    void appendCapture(const QByteArray& chunk);
    // One typed line; secret lines are logged masked. Returns false when this object died during the wait.
    bool typeLine(const QString& text, bool wait, bool secret, QString* captured);
    // Let pending events run and sleep one step, kWaitSteps times or until connected. False: destroyed.
    bool waitSteps(bool untilConnected);
    void setLoggedIn(bool on);
    bool busyRefused(const char* what);

    TOptions& m_options;
    QString m_host;
    quint16 m_port = 0;
    int m_cols = 100;
    int m_rows = 7;
    std::unique_ptr<QTcpSocket> m_socket;
    std::unique_ptr<Engine> m_engine;
    QByteArray m_capture;
    bool m_busy = false;
    bool m_passwordPending = false; // passwd was typed and waits for the new password
};
