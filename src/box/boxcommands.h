#pragma once

#include <QString>
#include <QStringList>

#include <atomic>

class TIEHTTP;

// Requests of the main thread and of the EPG thread are kept apart by these flags (see BoxClient).
extern std::atomic<bool> MainRequestBusy;
extern std::atomic<bool> EPGRequestBusy;
extern std::atomic<bool> EPGAbort;

// Receiver URL from a template: the placeholder first, then "<IP:PORT>" (when the template holds
// "PORT") or the bare "<IP". Values go in as they stand, without percent-encoding.
QString BoxURL(const QString& templ, const QString& placeholder = QString(), const QString& value = QString());
// The same for the remote VLC: always "<IP:PORT>", never "<IP".
QString VlcURL(const QString& templ, const QString& placeholder = QString(), const QString& value = QString());

// A value for a query the receiver decodes once (its settings page): the characters that would end
// or split the query ("&", "#", "%", "+", control and non-ASCII characters) are escaped, for the
// HTTP engine's own decoding too; blanks stay as they are.
QString encodeQueryValue(const QString& text);
// The text of an on-screen message. The receiver decodes it twice (its web server, then the message
// handler, each turning "+" into a blank), and the HTTP engine once before sending: every character
// but letters, digits, blanks and a few safe marks goes escaped three times, as UTF-8.
QString encodeMessageText(const QString& text);

// What the status line says when the receiver answers 401.
namespace BoxTexts {
inline const QString kLoginWanted = QStringLiteral("receiver asks for a web user and password: Options, Webserver");
inline const QString kLoginRefused = QStringLiteral("receiver refused the web user and password: Options, Webserver");
} // namespace BoxTexts

// A control character (below blank, or DEL) anywhere in the text.
bool hasControlCharacter(const QString& text);

// An answer body without leading and trailing blanks, tabs and line breaks.
QString trimAnswer(const QString& body);

// Waits while the flag is set, in 50 ms steps, unless the EPG thread is being stopped.
// On the UI thread pending events run meanwhile.
void WaitWhileBusy(const std::atomic<bool>& flag);

// Every receiver and remote-VLC command of the main thread goes through here. UI thread.
class BoxClient {
public:
    static constexpr int kTimeoutSec = 20;
    static constexpr int kQuickTimeoutSec = 1;

    // The client's status text becomes the detail of the log's HTTP lines while this object lives.
    explicit BoxClient(TIEHTTP& mainHttp);
    ~BoxClient();
    BoxClient(const BoxClient&) = delete;
    BoxClient& operator=(const BoxClient&) = delete;

    TIEHTTP& http() { return m_http; }

    // The trimmed answer; empty when the receiver is unreachable, silent or timed out
    // (a time-out also puts "ERROR, http timeout (<url>)!" on the status line), and when it
    // refuses the request for want of a login (which the status line then says).
    // headers: extra header lines for this request alone, sent only once it goes out (not while
    // it waits for the EPG thread, when other commands may run).
    QString BoxRequest(const QString& url, const QStringList& headers = {});
    // As BoxRequest, for a URL that carries a password: the log and the status line get `logged`.
    QString MaskedRequest(const QString& url, const QString& logged);
    // For remote-VLC commands whose answer does not matter: one second, the time-out text kept.
    QString QuickRequest(const QString& url);
    // A check the program makes by itself (a read-back, a periodic look): as BoxRequest, but the
    // window waits at most timeoutSec without data, and a time-out is only logged.
    QString ShortRequest(const QString& url, int timeoutSec);

    // The text for the last request's 401, empty when the last request was not refused.
    QString refusedText() const { return m_refused; }

private:
    QString request(const QString& url, const QString& shown, const QStringList& headers);
    QString execute(const QString& url, bool* timedOut, const QStringList& headers = {},
                    const QString& shown = QString());

    TIEHTTP& m_http;
    QString m_refused;
};

// The receiver commands that stand alone. Each returns the new check state of its menu item and,
// on failure, the text for the splash window's status label.
struct ToggleOutcome {
    bool checked = false;
    QString failure;
};
ToggleOutcome toggleSpts(BoxClient& box, bool checked);
ToggleOutcome toggleStandby(BoxClient& box, bool checked);

// Shows a message on the TV screen; answer ignored.
void sendBoxMessage(BoxClient& box, const QString& text);
// Locks or unlocks the receiver's remote control; answer ignored.
void lockRemoteControl(BoxClient& box, bool lock);
