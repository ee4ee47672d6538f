#pragma once

#include <QApplication>
#include <QByteArray>
#include <QString>
#include <QStringList>

// The program's side of the soak: the real main window, controller and input rules against the
// simulator, driven by random input, with an event-loop latency probe. Talks to the driver over
// stdin/stdout in "SOAK ..." lines.
struct SoakChildConfig {
    QString iniPath;
    quint64 seed = 1;
    int warmupSeconds = 60; // when the baseline of memory, descriptors and threads is taken
    int trendSeconds = 0;   // how often a point of the memory curve is taken after it; 0: never
};

int runSoakChild(const SoakChildConfig& config);

// Counts how deeply event deliveries nest: 1 is the main loop's own, more means inside some
// handler that lets events run (a switch, a request wait). The driver's commands wait for 1.
class SoakApplication : public QApplication {
public:
    SoakApplication(int& argc, char** argv)
        : QApplication(argc, argv) {}
    bool notify(QObject* receiver, QEvent* event) override {
        ++s_depth;
        const bool handled = QApplication::notify(receiver, event);
        --s_depth;
        return handled;
    }
    static int depth() { return s_depth; }

private:
    static inline int s_depth = 0;
};

// This process's resident memory, threads and open descriptors from /proc/self.
struct ProcFigures {
    qint64 rssKb = -1;
    // Of it: private memory, mapped files (libraries, fonts), shared memory (X images).
    qint64 rssAnonKb = -1;
    qint64 rssFileKb = -1;
    qint64 rssShmemKb = -1;
    int threads = -1;
    int fds = -1;
    // The allocator's view: bytes handed out and bytes it holds free. Telling a leak (in use
    // grows) from memory kept by the allocator (free grows).
    qint64 heapInUseKb = -1;
    qint64 heapFreeKb = -1;
};
ProcFigures readProcFigures();

// Where the resident pages sit, from /proc/self/smaps: the allocator's main heap and its other
// arenas, thread stacks, other private mappings (the allocator's large blocks, the engine's own),
// shared memory and mapped files. A growth between two samples shows in one of them.
struct RssWhere {
    qint64 brkKb = 0;
    qint64 arenasKb = 0;
    qint64 stacksKb = 0;
    qint64 otherAnonKb = 0;
    int otherAnonRegions = 0;
    qint64 shmemKb = 0;
    QStringList shmemMaps; // "name size kB" each
    qint64 filesKb = 0;
    qint64 filesPrivateKb = 0; // of them: pages copied on write (libraries' data)
};
RssWhere rssWhere(const QByteArray& smaps);
RssWhere readRssWhere();
