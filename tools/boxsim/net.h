#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>

namespace boxsim {

// Process-wide stop signal and a count of the connection threads still running,
// so shut-down can wait for them with a bound.
class Lifetime {
public:
    bool stopping() const { return m_stop.load(); }
    void requestStop();
    // Sleeps up to ms; returns false when stop was requested meanwhile.
    bool sleepMs(long long ms) const;
    void threadStarted();
    void threadEnded();
    // Waits up to ms for every connection thread to end.
    bool waitThreads(int ms);

private:
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    int m_threads = 0;
};

// Opens a listening TCP socket on address:port; returns -1 and fills error on failure.
int listenTcp(const std::string& address, int port, std::string* error);
// Waits up to ms for fd to become readable; false on timeout or stop.
bool waitReadable(int fd, int ms);
// Writes everything (looping over partial writes); false when the peer is gone.
bool sendAll(int fd, const char* data, size_t size);
inline bool sendAll(int fd, const std::string& data) {
    return sendAll(fd, data.data(), data.size());
}
void closeFd(int fd);

} // namespace boxsim
