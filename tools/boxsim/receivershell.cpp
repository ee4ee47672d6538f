// boxsim_shell: the receiver's login shell for a real telnetd (busybox telnetd -l), so the client's telnet
// code meets a real server's negotiation and terminal. It speaks on stdin/stdout, runs nothing for real
// (no reboot, kill or passwd) and appends every command line to the record file.
//
//   boxsim_shell [--user root] [--password P] [--password-file F] [--record FILE] [--idle-seconds 600]
//                [--weak-password-ends-passwd 1]
//
// BOXSIM_SHELL_USER / BOXSIM_SHELL_PASSWORD stand in for missing --user / --password. With --password-file
// the password is read from the file when it exists and a changed one is written back, so it lasts beyond
// one connection.
#include "shellcommands.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace {

using boxsim::LineEditor;
using boxsim::ShellTerminal;

std::string readFile(const std::string& path, bool* ok) {
    std::ifstream in(path, std::ios::binary);
    *ok = bool(in);
    std::ostringstream s;
    s << in.rdbuf();
    std::string text = s.str();
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

class TtyTerminal : public ShellTerminal {
public:
    TtyTerminal(std::string record, int idleSeconds)
        : m_record(std::move(record))
        , m_idleMs(idleSeconds * 1000) {}

    Read readLine(std::string* line, bool echo) override {
        line->clear();
        int idleMs = 0;
        while (true) {
            while (m_at < m_pending.size()) {
                const unsigned char c = (unsigned char)m_pending[m_at++];
                std::string echoed;
                const LineEditor::Step step = m_editor.feed(c, echo, line, &echoed);
                if (!echoed.empty())
                    write(echoed);
                if (step == LineEditor::Step::Line)
                    return Read::Line;
                if (step == LineEditor::Step::CtrlC)
                    return Read::CtrlC;
            }
            m_pending.clear();
            m_at = 0;
            if (idleMs >= m_idleMs)
                return Read::Closed;
            pollfd p{STDIN_FILENO, POLLIN, 0};
            const int r = ::poll(&p, 1, 200);
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0) {
                idleMs += 200;
                continue;
            }
            char buf[512];
            const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return Read::Closed; // telnetd closed the terminal
            idleMs = 0;
            m_pending.assign(buf, size_t(n));
        }
    }

    void write(const std::string& text) override {
        size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = ::write(STDOUT_FILENO, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return;
            done += size_t(n);
        }
    }

    void pauseMs(int ms) override {
        timespec t{ms / 1000, long(ms % 1000) * 1000000L};
        while (::nanosleep(&t, &t) < 0 && errno == EINTR) {
        }
    }

    // Only command lines (and "^C") are recorded; login names and passwords never are.
    void typed(const std::string& line, Typed kind) override {
        if (kind != Typed::Command || m_record.empty())
            return;
        std::ofstream out(m_record, std::ios::app | std::ios::binary);
        out << line << '\n';
    }

private:
    std::string m_record;
    int m_idleMs;
    std::string m_pending;
    size_t m_at = 0;
    LineEditor m_editor;
};

// The shell does its own echo and line editing, byte by byte, as on the socket of the simulator.
void rawTerminal() {
    if (!::isatty(STDIN_FILENO))
        return;
    termios t{};
    if (::tcgetattr(STDIN_FILENO, &t) != 0)
        return;
    t.c_lflag &= tcflag_t(~(ICANON | ECHO | ECHONL | ISIG | IEXTEN));
    t.c_iflag &= tcflag_t(~(ICRNL | INLCR | IGNCR | IXON | ISTRIP));
    t.c_oflag &= tcflag_t(~OPOST);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &t);
}

int usage(const std::string& why) {
    std::cerr << "boxsim_shell: " << why
              << "\nusage: boxsim_shell [--user U] [--password P] [--password-file F] [--record FILE] "
                 "[--idle-seconds N] [--weak-password-ends-passwd 1]\n";
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    const char* envUser = std::getenv("BOXSIM_SHELL_USER");
    const char* envPass = std::getenv("BOXSIM_SHELL_PASSWORD");
    std::string user = envUser ? envUser : "root";
    std::string password = envPass ? envPass : "";
    std::string passwordFile;
    std::string record;
    int idleSeconds = 600;
    bool weakEnds = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc)
            return usage("missing value for " + a);
        const std::string v = argv[++i];
        if (a == "--user")
            user = v;
        else if (a == "--password")
            password = v;
        else if (a == "--password-file")
            passwordFile = v;
        else if (a == "--record")
            record = v;
        else if (a == "--weak-password-ends-passwd")
            weakEnds = v == "1";
        else if (a == "--idle-seconds")
            idleSeconds = std::max(1, std::atoi(v.c_str()));
        else
            return usage("unknown option " + a);
    }
    if (!passwordFile.empty()) {
        bool ok = false;
        const std::string stored = readFile(passwordFile, &ok);
        if (ok)
            password = stored;
    }
    // Ctrl+C arrives as a byte in raw mode; a stray signal must not end the shell either.
    std::signal(SIGINT, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    rawTerminal();
    TtyTerminal term(record, idleSeconds);
    boxsim::ReceiverShell shell(
        term, user, [&password] { return password; },
        [&password, &passwordFile](const std::string& p) {
            password = p;
            if (!passwordFile.empty())
                std::ofstream(passwordFile, std::ios::trunc | std::ios::binary) << p << '\n';
        },
        boxsim::ShellHooks{});
    shell.setWeakPasswordEndsPasswd(weakEnds);
    if (shell.login())
        shell.run();
    return 0;
}
