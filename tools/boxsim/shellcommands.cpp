#include "shellcommands.h"

#include "textutil.h"

#include <vector>

namespace boxsim {

namespace {
constexpr size_t kMinPassword = 5;
} // namespace

LineEditor::Step LineEditor::feed(unsigned char c, bool echo, std::string* line, std::string* echoOut) {
    const bool afterCr = m_afterCr;
    m_afterCr = false;
    if (afterCr && (c == '\n' || c == 0))
        return Step::More; // the second half of CR LF or CR NUL
    if (c == '\r' || c == '\n') {
        m_afterCr = c == '\r';
        if (echo)
            *echoOut += "\r\n";
        return Step::Line;
    }
    if (c == 0)
        return Step::More;
    if (c == 3) {
        *echoOut += "^C\r\n";
        return Step::CtrlC;
    }
    if (c == 8 || c == 127) {
        if (!line->empty()) {
            line->pop_back();
            if (echo)
                *echoOut += "\b \b";
        }
        return Step::More;
    }
    line->push_back(char(c));
    if (echo)
        echoOut->push_back(char(c));
    return Step::More;
}

ReceiverShell::ReceiverShell(ShellTerminal& term, std::string user, std::function<std::string()> password,
                             std::function<void(const std::string&)> setPassword, ShellHooks hooks)
    : m_term(term)
    , m_user(std::move(user))
    , m_password(std::move(password))
    , m_setPassword(std::move(setPassword))
    , m_hooks(std::move(hooks)) {}

bool ReceiverShell::login() {
    m_term.write("\r\n\r\ndbox2 - Neutrino\r\n\r\n");
    for (int attempt = 0; attempt < 3; ++attempt) {
        m_term.write("dbox login: ");
        std::string user;
        if (m_term.readLine(&user, true) == ShellTerminal::Read::Closed)
            return false;
        m_term.typed(user, ShellTerminal::Typed::LoginName);
        std::string pass;
        const std::string expected = m_password();
        // Like BusyBox login, an account without password gets no password prompt.
        if (!expected.empty()) {
            m_term.write("Password: ");
            if (m_term.readLine(&pass, false) == ShellTerminal::Read::Closed)
                return false;
            m_term.typed(pass, ShellTerminal::Typed::Secret);
            m_term.write("\r\n");
        }
        if (user == m_user && pass == expected)
            return true;
        m_term.pauseMs(300);
        m_term.write("Login incorrect\r\n");
    }
    return false;
}

void ReceiverShell::run() {
    m_term.write("\r\n\r\nBusyBox v1.1.3 (2008.01.01-00:00+0000) Built-in shell (ash)\r\n"
                 "Enter 'help' for a list of built-in commands.\r\n\r\n");
    while (true) {
        m_term.write("~ # ");
        std::string line;
        const ShellTerminal::Read r = m_term.readLine(&line, true);
        if (r == ShellTerminal::Read::Closed)
            return;
        if (r == ShellTerminal::Read::CtrlC) {
            m_term.typed("^C", ShellTerminal::Typed::Command);
            continue;
        }
        m_term.typed(line, ShellTerminal::Typed::Command);
        if (!command(trim(line)))
            return;
    }
}

// BusyBox passwd run by root: the new password twice, never echoed; Ctrl+C ends it unchanged.
bool ReceiverShell::passwd() {
    m_term.write("Changing password for " + m_user + "\r\nNew password: ");
    std::string first;
    const ShellTerminal::Read r1 = m_term.readLine(&first, false);
    if (r1 == ShellTerminal::Read::Closed)
        return false;
    m_term.typed(r1 == ShellTerminal::Read::CtrlC ? "^C" : first,
                 r1 == ShellTerminal::Read::CtrlC ? ShellTerminal::Typed::Command : ShellTerminal::Typed::Secret);
    if (r1 == ShellTerminal::Read::CtrlC)
        return true;
    m_term.write("\r\n");
    const std::string unchanged = "passwd: password for " + m_user + " is unchanged\r\n";
    // The receiver's passwd warns about a short one and asks again, then refuses it.
    if (first.size() < kMinPassword) {
        m_term.write("Bad password: too short\r\n");
        if (m_weakEnds) {
            m_term.write(unchanged);
            return true;
        }
    }
    m_term.write("Retype password: ");
    std::string second;
    const ShellTerminal::Read r2 = m_term.readLine(&second, false);
    if (r2 == ShellTerminal::Read::Closed)
        return false;
    m_term.typed(r2 == ShellTerminal::Read::CtrlC ? "^C" : second,
                 r2 == ShellTerminal::Read::CtrlC ? ShellTerminal::Typed::Command : ShellTerminal::Typed::Secret);
    if (r2 == ShellTerminal::Read::CtrlC)
        return true;
    m_term.write("\r\n");
    if (first != second || first.size() < kMinPassword) {
        m_term.write((first != second ? "Passwords don't match\r\n" : "") + unchanged);
        return true;
    }
    m_setPassword(first);
    m_term.write("Password for " + m_user + " changed by " + m_user + "\r\n");
    return true;
}

bool ReceiverShell::command(const std::string& line) {
    if (line.empty())
        return true;
    const std::vector<std::string> words = split(line, ' ');
    const std::string& cmd = words[0];
    if (cmd == "exit" || cmd == "logout") {
        m_term.write("logout\r\n");
        return false;
    }
    if (cmd == "passwd")
        return passwd();
    if (cmd == "killall") {
        if (words.size() > 1 && words[1] == "nhttpd") {
            if (m_hooks.stopWeb)
                m_hooks.stopWeb();
            return true;
        }
        m_term.write("killall: " + (words.size() > 1 ? words[1] : std::string()) + ": no process killed\r\n");
        return true;
    }
    if (cmd == "nhttpd" || (cmd.size() > 7 && cmd.substr(cmd.size() - 7) == "/nhttpd")) {
        if (m_hooks.startWeb)
            m_hooks.startWeb();
        m_term.write("[nhttpd] Neutrino HTTP-Server starting...\r\n");
        return true;
    }
    if (cmd == "reboot") {
        m_term.write("\r\nThe system is going down NOW !!\r\nSending SIGTERM to all processes.\r\n");
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
        m_term.write("Linux dbox 2.4.35.5-dbox2 #1 Tue Jan 1 00:00:00 CET 2008 ppc unknown\r\n");
        return true;
    }
    if (cmd == "ls") {
        m_term.write("bin   dev   etc   lib   mnt   proc  root  sbin  share tmp   var\r\n");
        return true;
    }
    if (cmd == "pwd") {
        m_term.write("/root\r\n");
        return true;
    }
    if (cmd == "echo") {
        m_term.write((line.size() > 5 ? line.substr(5) : std::string()) + "\r\n");
        return true;
    }
    if (cmd == "help") {
        m_term.write("Built-in commands:\r\n-------------------\r\n\t. : alias bg break cd chdir continue eval exec "
                     "exit export false fg hash help history jobs kill let local pwd read readonly return set "
                     "shift times trap true type ulimit umask unalias unset wait\r\n\r\n");
        return true;
    }
    m_term.write("-sh: " + cmd + ": not found\r\n");
    return true;
}

} // namespace boxsim
