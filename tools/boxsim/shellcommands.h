#pragma once

#include <functional>
#include <string>

namespace boxsim {

// What the receiver's shell commands do to the rest of the simulated receiver.
struct ShellHooks {
    std::function<void()> stopWeb;  // killall nhttpd
    std::function<void()> startWeb; // nhttpd
    std::function<void()> reboot;
    std::function<void()> screenshot; // dboxshot -o /tmp/a.bmp
};

// The receiver console's line editing: echo, backspace, Ctrl+C, and lines ended by CR alone (the client),
// CR LF, CR NUL or LF.
class LineEditor {
public:
    enum class Step { More, Line, CtrlC };
    // One input byte; what the terminal echoes back is appended to echoOut.
    Step feed(unsigned char c, bool echo, std::string* line, std::string* echoOut);

private:
    bool m_afterCr = false;
};

// The line the shell talks through: a telnet socket of the simulator, or a terminal under a real telnetd.
class ShellTerminal {
public:
    enum class Read { Line, CtrlC, Closed };
    enum class Typed { LoginName, Secret, Command };
    virtual ~ShellTerminal() = default;
    virtual Read readLine(std::string* line, bool echo) = 0;
    virtual void write(const std::string& text) = 0;
    virtual void pauseMs(int ms) = 0;
    // Every line the peer typed (and "^C"): login names, passwords, command lines.
    virtual void typed(const std::string& line, Typed kind) = 0;
};

// The receiver's BusyBox login and shell as the client meets them: "dbox login:", "Password:" (only when a
// password is set), "Login incorrect", the prompt "~ # " and the commands the client types. Nothing is run
// for real; the hooks say what happened.
class ReceiverShell {
public:
    ReceiverShell(ShellTerminal& term, std::string user, std::function<std::string()> password,
                  std::function<void(const std::string&)> setPassword, ShellHooks hooks);

    // Like passwd run without root rights: a too short password ends it at once, before the retype.
    void setWeakPasswordEndsPasswd(bool on) { m_weakEnds = on; }

    // The banner and up to three login attempts; true once logged in.
    bool login();
    // The prompt loop until exit, reboot or a closed line.
    void run();

private:
    bool command(const std::string& line);
    bool passwd();

    ShellTerminal& m_term;
    std::string m_user;
    std::function<std::string()> m_password;
    std::function<void(const std::string&)> m_setPassword;
    ShellHooks m_hooks;
    bool m_weakEnds = false;
};

} // namespace boxsim
