#include "core/singleinstance.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

SingleInstance::SingleInstance(const QString& dir)
    : m_path(dir + kFileName) {}

SingleInstance::~SingleInstance() {
    if (m_fd >= 0)
        ::close(m_fd); // drops the lock; the file stays for the next start to lock again
}

SingleInstance::Result SingleInstance::acquire() {
    if (m_fd >= 0)
        return Result::Acquired;
    const QByteArray path = QFile::encodeName(m_path);
    // Close-on-exec: a child (a player, a browser) outliving us must not keep the lock.
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        m_error = QStringLiteral("cannot open %1: %2").arg(m_path, QString::fromLocal8Bit(std::strerror(errno)));
        return Result::Failed;
    }
    // flock belongs to the open file, so a second open even in this process conflicts, and the
    // kernel releases it when the last descriptor closes, also on SIGKILL.
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int err = errno;
        ::close(fd);
        if (err == EWOULDBLOCK)
            return Result::AlreadyRunning;
        m_error = QStringLiteral("cannot lock %1: %2").arg(m_path, QString::fromLocal8Bit(std::strerror(err)));
        return Result::Failed;
    }
    m_fd = fd;
    // The holder's pid, for whoever looks at the file; the lock alone decides.
    const QByteArray pid = QByteArray::number(static_cast<qint64>(::getpid())) + '\n';
    if (::ftruncate(fd, 0) == 0) {
        const ssize_t written = ::pwrite(fd, pid.constData(), static_cast<size_t>(pid.size()), 0);
        (void)written;
    }
    return Result::Acquired;
}
