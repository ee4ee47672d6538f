#pragma once

#include "faults.h"
#include "net.h"
#include "shellcommands.h"

#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace boxsim {

using TelnetHooks = ShellHooks;

// The receiver's telnet login shell (RFC 854 with server echo) over ReceiverShell. One thread per connection.
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
    class SocketTerminal;
    void acceptLoop();
    void session(int fd);

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
