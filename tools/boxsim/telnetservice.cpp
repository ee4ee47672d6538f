#include "telnetservice.h"

#include "textutil.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace boxsim {

namespace {
constexpr unsigned char IAC = 255;
constexpr unsigned char SB = 250;
constexpr unsigned char SE = 240;
constexpr unsigned char WILL = 251;
constexpr unsigned char ECHO_OPT = 1;
constexpr unsigned char SGA_OPT = 3;
constexpr int kIdleLimitMs = 10 * 60 * 1000;
} // namespace

TelnetService::TelnetService(Lifetime& life, RequestLog& log, std::string user, std::string password, TelnetHooks hooks)
    : m_life(life)
    , m_log(log)
    , m_user(std::move(user))
    , m_password(std::move(password))
    , m_hooks(std::move(hooks)) {}

TelnetService::~TelnetService() {
    stop();
}

bool TelnetService::listen(const std::string& address, int port, std::string* error) {
    m_fd = listenTcp(address, port, error);
    if (m_fd < 0)
        return false;
    m_thread = std::thread([this] { acceptLoop(); });
    return true;
}

void TelnetService::stop() {
    if (m_thread.joinable())
        m_thread.join();
    closeFd(m_fd);
    m_fd = -1;
}

std::string TelnetService::password() const {
    std::lock_guard lock(m_mutex);
    return m_password;
}

void TelnetService::acceptLoop() {
    while (!m_life.stopping()) {
        if (!waitReadable(m_fd, 100))
            continue;
        const int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        m_life.threadStarted();
        std::thread([this, fd] {
            session(fd);
            ::shutdown(fd, SHUT_RDWR);
            ::close(fd);
            m_life.threadEnded();
        }).detach();
    }
}

// Reads one line; the client ends its lines with CR alone, others with CR LF, CR NUL or LF.
TelnetService::Read TelnetService::readLine(int fd, std::string* line, bool echo, std::string* pending) {
    line->clear();
    int idleMs = 0;
    while (true) {
        while (!pending->empty()) {
            const unsigned char c = (unsigned char)(*pending)[0];
            if (c == IAC) {
                if (pending->size() < 2)
                    break;
                const unsigned char cmd = (unsigned char)(*pending)[1];
                if (cmd == IAC) {
                    pending->erase(0, 2);
                    line->push_back(char(IAC));
                } else if (cmd == SB) {
                    const size_t end = pending->find(std::string{char(IAC), char(SE)});
                    if (end == std::string::npos)
                        break;
                    pending->erase(0, end + 2);
                } else if (cmd >= WILL) {
                    if (pending->size() < 3)
                        break;
                    pending->erase(0, 3);
                } else {
                    pending->erase(0, 2);
                }
                continue;
            }
            pending->erase(0, 1);
            if (c == '\r' || c == '\n') {
                if (c == '\r' && !pending->empty() && ((*pending)[0] == '\n' || (*pending)[0] == '\0'))
                    pending->erase(0, 1);
                if (echo)
                    sendAll(fd, "\r\n");
                return Read::Line;
            }
            if (c == 0) // the NUL after a bare CR that arrived in a separate chunk
                continue;
            if (c == 3) {
                sendAll(fd, "^C\r\n");
                return Read::CtrlC;
            }
            if (c == 8 || c == 127) {
                if (!line->empty()) {
                    line->pop_back();
                    if (echo)
                        sendAll(fd, "\b \b");
                }
                continue;
            }
            line->push_back(char(c));
            if (echo)
                sendAll(fd, std::string(1, char(c)));
        }
        if (m_life.stopping() || idleMs > kIdleLimitMs)
            return Read::Closed;
        if (!waitReadable(fd, 200)) {
            idleMs += 200;
            continue;
        }
        char buf[512];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return Read::Closed;
        idleMs = 0;
        pending->append(buf, size_t(n));
    }
}

void TelnetService::session(int fd) {
    const unsigned char negotiate[] = {IAC, WILL, ECHO_OPT, IAC, WILL, SGA_OPT};
    sendAll(fd, reinterpret_cast<const char*>(negotiate), sizeof negotiate);
    sendAll(fd, "\r\n\r\ndbox2 - Neutrino\r\n\r\n");
    std::string pending;
    bool loggedIn = false;
    for (int attempt = 0; attempt < 3 && !loggedIn; ++attempt) {
        sendAll(fd, "dbox login: ");
        std::string user;
        if (readLine(fd, &user, true, &pending) == Read::Closed)
            return;
        m_log.add("telnet", user);
        std::string pass;
        const std::string expected = password();
        // Like BusyBox login, an account without password gets no password prompt.
        if (!expected.empty()) {
            sendAll(fd, "Password: ");
            const Read r = readLine(fd, &pass, false, &pending);
            if (r == Read::Closed)
                return;
            m_log.add("telnet", pass);
            sendAll(fd, "\r\n");
        }
        loggedIn = user == m_user && pass == expected;
        if (!loggedIn) {
            m_life.sleepMs(300);
            sendAll(fd, "Login incorrect\r\n");
        }
    }
    if (!loggedIn)
        return;
    sendAll(fd, "\r\n\r\nBusyBox v1.1.3 (2008.01.01-00:00+0000) Built-in shell (ash)\r\n"
                "Enter 'help' for a list of built-in commands.\r\n\r\n");
    while (true) {
        sendAll(fd, "~ # ");
        std::string line;
        const Read r = readLine(fd, &line, true, &pending);
        if (r == Read::Closed)
            return;
        if (r == Read::CtrlC) {
            m_log.add("telnet", "^C");
            continue;
        }
        m_log.add("telnet", line);
        if (!command(fd, trim(line), &pending))
            return;
    }
}

bool TelnetService::command(int fd, const std::string& line, std::string* pending) {
    const std::vector<std::string> words = split(line, ' ');
    const std::string& cmd = words[0];
    if (line.empty())
        return true;
    if (cmd == "exit" || cmd == "logout") {
        sendAll(fd, "logout\r\n");
        return false;
    }
    if (cmd == "passwd") {
        sendAll(fd, "Changing password for " + m_user +
                        "\r\nEnter the new password (minimum of 5, maximum of 8 "
                        "characters)\r\nPlease use a combination of upper and lower "
                        "case letters and numbers.\r\nEnter new password: ");
        std::string first;
        const Read r1 = readLine(fd, &first, false, pending);
        if (r1 == Read::Closed)
            return false;
        m_log.add("telnet", r1 == Read::CtrlC ? "^C" : first);
        if (r1 == Read::CtrlC)
            return true;
        sendAll(fd, "\r\n");
        if (first.size() < 5)
            sendAll(fd, "Bad password: too short.\r\n\r\nWarning: weak password (continuing).\r\n");
        sendAll(fd, "Re-enter new password: ");
        std::string second;
        const Read r2 = readLine(fd, &second, false, pending);
        if (r2 == Read::Closed)
            return false;
        m_log.add("telnet", r2 == Read::CtrlC ? "^C" : second);
        if (r2 == Read::CtrlC)
            return true;
        sendAll(fd, "\r\n");
        if (first != second || first.size() < 5) {
            sendAll(fd, first != second ? "Passwords do not match.\r\n" : "");
            sendAll(fd, "passwd: The password for " + m_user + " is unchanged.\r\n");
            return true;
        }
        {
            std::lock_guard lock(m_mutex);
            m_password = first;
        }
        sendAll(fd, "Password changed.\r\n");
        return true;
    }
    if (cmd == "killall") {
        if (words.size() > 1 && words[1] == "nhttpd") {
            if (m_hooks.stopWeb)
                m_hooks.stopWeb();
            return true;
        }
        sendAll(fd, "killall: " + (words.size() > 1 ? words[1] : std::string()) + ": no process killed\r\n");
        return true;
    }
    if (cmd == "nhttpd" || (cmd.size() > 7 && cmd.substr(cmd.size() - 7) == "/nhttpd")) {
        if (m_hooks.startWeb)
            m_hooks.startWeb();
        sendAll(fd, "[nhttpd] Neutrino HTTP-Server starting...\r\n");
        return true;
    }
    if (cmd == "reboot") {
        sendAll(fd, "\r\nThe system is going down NOW !!\r\nSending SIGTERM to all processes.\r\n");
        if (m_hooks.reboot)
            m_hooks.reboot();
        return false;
    }
    if (cmd == "dboxshot" || cmd == "/bin/dboxshot") {
        if (m_hooks.screenshot)
            m_hooks.screenshot();
        return true;
    }
    if (cmd == "uname") {
        sendAll(fd, "Linux dbox 2.4.35.5-dbox2 #1 Tue Jan 1 00:00:00 CET 2008 ppc unknown\r\n");
        return true;
    }
    if (cmd == "ls") {
        sendAll(fd, "bin   dev   etc   lib   mnt   proc  root  sbin  share tmp   var\r\n");
        return true;
    }
    if (cmd == "pwd") {
        sendAll(fd, "/root\r\n");
        return true;
    }
    if (cmd == "echo") {
        sendAll(fd, (line.size() > 5 ? line.substr(5) : std::string()) + "\r\n");
        return true;
    }
    if (cmd == "help") {
        sendAll(fd, "Built-in commands:\r\n-------------------\r\n\t. : alias bg break cd chdir continue eval exec "
                    "exit export false fg hash help history jobs kill let local pwd read readonly return set "
                    "shift times trap true type ulimit umask unalias unset wait\r\n\r\n");
        return true;
    }
    sendAll(fd, "-sh: " + cmd + ": not found\r\n");
    return true;
}

} // namespace boxsim
