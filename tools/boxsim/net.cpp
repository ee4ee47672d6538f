#include "net.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace boxsim {

void Lifetime::requestStop() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_cv.notify_all();
}

bool Lifetime::sleepMs(long long ms) const {
    std::unique_lock lock(m_mutex);
    return !m_cv.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_stop.load(); });
}

void Lifetime::threadStarted() {
    std::lock_guard lock(m_mutex);
    ++m_threads;
}

void Lifetime::threadEnded() {
    // Notify under the lock: the waiter may destroy this object as soon as it sees zero.
    std::lock_guard lock(m_mutex);
    --m_threads;
    m_cv.notify_all();
}

bool Lifetime::waitThreads(int ms) {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_threads == 0; });
}

int listenTcp(const std::string& address, int port, std::string* error) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(uint16_t(port));
    if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) {
        *error = "bad address " + address;
        return -1;
    }
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = std::string("socket: ") + std::strerror(errno);
        return -1;
    }
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(fd, 64) != 0) {
        *error = address + ":" + std::to_string(port) + ": " + std::strerror(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

bool waitReadable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, ms) > 0;
}

bool sendAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

void closeFd(int fd) {
    if (fd >= 0)
        ::close(fd);
}

} // namespace boxsim
