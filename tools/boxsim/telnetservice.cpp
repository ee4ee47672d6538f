#include "telnetservice.h"

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

// The socket side of the shell: telnet commands are dropped, the rest goes through the line editor.
class TelnetService::SocketTerminal : public ShellTerminal {
public:
    SocketTerminal(TelnetService& service, int fd)
        : m_service(service)
        , m_fd(fd) {}

    Read readLine(std::string* line, bool echo) override {
        line->clear();
        int idleMs = 0;
        while (true) {
            while (!m_pending.empty()) {
                const unsigned char c = (unsigned char)m_pending[0];
                if (c == IAC) {
                    if (m_pending.size() < 2)
                        break;
                    const unsigned char cmd = (unsigned char)m_pending[1];
                    if (cmd == IAC) {
                        m_pending.erase(0, 2);
                        line->push_back(char(IAC));
                    } else if (cmd == SB) {
                        const size_t end = m_pending.find(std::string{char(IAC), char(SE)});
                        if (end == std::string::npos)
                            break;
                        m_pending.erase(0, end + 2);
                    } else if (cmd >= WILL) {
                        if (m_pending.size() < 3)
                            break;
                        m_pending.erase(0, 3);
                    } else {
                        m_pending.erase(0, 2);
                    }
                    continue;
                }
                m_pending.erase(0, 1);
                std::string echoed;
                const LineEditor::Step step = m_editor.feed(c, echo, line, &echoed);
                if (!echoed.empty())
                    sendAll(m_fd, echoed);
                if (step == LineEditor::Step::Line)
                    return Read::Line;
                if (step == LineEditor::Step::CtrlC)
                    return Read::CtrlC;
            }
            if (m_service.m_life.stopping() || idleMs > kIdleLimitMs)
                return Read::Closed;
            if (!waitReadable(m_fd, 200)) {
                idleMs += 200;
                continue;
            }
            char buf[512];
            const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
            if (n <= 0)
                return Read::Closed;
            idleMs = 0;
            m_pending.append(buf, size_t(n));
        }
    }
    void write(const std::string& text) override { sendAll(m_fd, text); }
    void pauseMs(int ms) override { m_service.m_life.sleepMs(ms); }
    // The request log holds every line as the receiver got it, passwords too: tests check what was typed.
    void typed(const std::string& line, Typed) override { m_service.m_log.add("telnet", line); }

private:
    TelnetService& m_service;
    int m_fd;
    std::string m_pending;
    LineEditor m_editor;
};

void TelnetService::session(int fd) {
    const unsigned char negotiate[] = {IAC, WILL, ECHO_OPT, IAC, WILL, SGA_OPT};
    sendAll(fd, reinterpret_cast<const char*>(negotiate), sizeof negotiate);
    SocketTerminal term(*this, fd);
    ReceiverShell shell(
        term, m_user, [this] { return password(); },
        [this](const std::string& p) {
            std::lock_guard lock(m_mutex);
            m_password = p;
        },
        m_hooks);
    if (shell.login())
        shell.run();
}

} // namespace boxsim
