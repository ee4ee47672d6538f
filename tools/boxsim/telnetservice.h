#pragma once

#include "faults.h"
#include "net.h"

#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace boxsim {

// What the receiver's shell commands do to the rest of the simulated receiver.
struct TelnetHooks {
    std::function<void()> stopWeb;  // killall nhttpd
    std::function<void()> startWeb; // nhttpd
    std::function<void()> reboot;
    std::function<void()> screenshot; // dboxshot -o /tmp/a.bmp
};

// The receiver's telnet login shell (RFC 854 with server echo): login and password prompts,
// a BusyBox-like prompt and the few commands the client types. One thread per connection.
class TelnetService {
public:
    TelnetService(Lifetime& life, RequestLog& log, std::string user, std::string password, TelnetHooks hooks);
    ~TelnetService();
    TelnetService(const TelnetService&) = delete;
    TelnetService& operator=(const TelnetService&) = delete;

    bool listen(const std::string& address, int port, std::string* error);
    void stop();
    std::string password() const;

private:
    enum class Read { Line, CtrlC, Closed };
    void acceptLoop();
    void session(int fd);
    Read readLine(int fd, std::string* line, bool echo, std::string* pending);
    bool command(int fd, const std::string& line, std::string* pending);

    Lifetime& m_life;
    RequestLog& m_log;
    std::string m_user;
    mutable std::mutex m_mutex;
    std::string m_password;
    TelnetHooks m_hooks;
    int m_fd = -1;
    std::thread m_thread;
};

} // namespace boxsim
