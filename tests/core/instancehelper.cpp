// A second program for the single-instance and priority tests, which need another process.
//   instancehelper lock DIR        prints "acquired", "running" or "failed", then (when acquired)
//                                  holds the lock until stdin closes or 30 s pass
//   instancehelper lock-eintr DIR  the same with errno left at EINTR first, as a call that a
//                                  signal interrupted and that was retried leaves it
//   instancehelper priority TEXT   starts a thread, applies the priority and prints every thread's
//                                  nice value, one per line
#include "core/lifecycle.h"
#include "core/singleinstance.h"

#include <QCoreApplication>
#include <QDir>
#include <QString>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <poll.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

int holdLock(const QString& dir) {
    SingleInstance instance(dir);
    switch (instance.acquire()) {
    case SingleInstance::Result::Acquired:
        std::printf("acquired\n");
        break;
    case SingleInstance::Result::AlreadyRunning:
        std::printf("running\n");
        return 3;
    case SingleInstance::Result::Failed:
        std::printf("failed\n");
        return 4;
    }
    std::fflush(stdout);
    pollfd in{STDIN_FILENO, POLLIN, 0};
    ::poll(&in, 1, 30000);
    return 0;
}

int showPriority(const QString& text) {
    std::atomic<bool> stop{false};
    std::thread other([&] {
        while (!stop.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    });
    const bool ok = applyPriority(text);
    std::printf("%s\n", ok ? "applied" : "refused");
    for (const QString& tid : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        errno = 0;
        const int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(tid.toInt()));
        std::printf("%d\n", nice);
    }
    stop = true;
    other.join();
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc == 3 && QString::fromLocal8Bit(argv[1]) == QLatin1String("lock"))
        return holdLock(QString::fromLocal8Bit(argv[2]));
    if (argc == 3 && QString::fromLocal8Bit(argv[1]) == QLatin1String("lock-eintr")) {
        errno = EINTR;
        return holdLock(QString::fromLocal8Bit(argv[2]));
    }
    if (argc == 3 && QString::fromLocal8Bit(argv[1]) == QLatin1String("priority"))
        return showPriority(QString::fromLocal8Bit(argv[2]));
    return 2;
}
