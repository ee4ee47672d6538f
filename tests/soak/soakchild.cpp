#include "soakchild.h"

#include "box/boxcommands.h"
#include "core/appflags.h"
#include "core/freememory.h"
#include "core/log.h"
#include "core/options.h"
#include "playback/vlcapi.h"
#include "playback/vlcplayer.h"
#include "ui/appcontroller.h"
#include "ui/appinput.h"
#include "ui/apposd.h"
#include "ui/blackscreen.h"
#include "ui/epgpanels.h"
#include "ui/inputcontroller.h"
#include "ui/mainwindow.h"
#include "ui/menus.h"
#include "ui/optionsdialog.h"
#include "ui/osdcontroller.h"
#include "ui/viewmodes.h"

#include <QAction>
#include <QApplication>
#include <QBackingStore>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <execinfo.h>
#include <malloc.h>
#include <pthread.h>
#include <random>
#include <thread>
#include <unistd.h>
#include <vector>

using quoxel::AppController;
using quoxel::AppInput;
using quoxel::OsdController;
using quoxel::OsdWindow;
using quoxel::TFrmQuoxel;

namespace {

constexpr int kProbeMs = 50;
constexpr int kStallMs = 250;
constexpr int kWorstKept = 5;

// A crash leaves the stack on stderr, where the driver collects it.
void crashHandler(int sig) {
    static const char head[] = "SOAK crash: fatal signal, stack follows\n";
    if (::write(STDERR_FILENO, head, sizeof head - 1) < 0) {
    }
    void* frames[64];
    const int n = backtrace(frames, 64);
    backtrace_symbols_fd(frames, n, STDERR_FILENO);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

// The window thread's stack, taken from the sampler while the thread is held up: the file
// "stall-stacks.txt" in the working folder tells what a stall was spent in.
void* g_stallFrames[64];
std::atomic<int> g_stallFrameCount{-1};
std::atomic<std::int64_t> g_lastTickNs{0};

void stallStackHandler(int) {
    g_stallFrameCount = backtrace(g_stallFrames, 64);
}

std::int64_t steadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void installCrashHandler() {
    for (int sig : {SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL})
        std::signal(sig, crashHandler);
}

int procStatusValue(const QByteArray& status, const char* key) {
    // Called every 100 ms while the thread count settles: a plain line walk, no pattern.
    const QByteArray prefix = QByteArray(key) + ':';
    for (const QByteArray& line : status.split('\n')) {
        if (line.startsWith(prefix)) {
            bool ok = false;
            const int value = line.mid(prefix.size()).trimmed().split(' ').value(0).toInt(&ok);
            return ok ? value : -1;
        }
    }
    return -1;
}

struct Stall {
    qint64 ms = 0;      // lateness minus the program's own fixed waits
    qint64 rawMs = 0;   // lateness as measured
    qint64 atMs = 0;    // since the start
    QString lastAction; // what the user did last, and how long before
};

class SoakChild : public QObject {
public:
    explicit SoakChild(const SoakChildConfig& config)
        : m_config(config)
        , m_app(m_w)
        , m_input(m_w, m_app)
        , m_rng(config.seed) {}
    ~SoakChild() override {
        m_samplerStop = true;
        if (m_sampler.joinable())
            m_sampler.join();
    }

    int run();

private:
    void say(const QByteArray& line) {
        std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    void metric(const char* key, const QString& value) { say(QByteArray("SOAK metric ") + key + ' ' + value.toUtf8()); }
    int uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(m_rng); }
    void note(const QString& action) {
        m_lastAction = action;
        m_lastActionAt = m_clock.elapsed();
        ++m_actions;
        // The driver keeps the last one for a crash report.
        say("SOAK action " + action.toUtf8());
    }

    void probeTick();
    qint64 fixedWaitMs();
    void scheduleInput();
    void inputTick();
    void keyAction();
    void bouquetAction();
    void pauseAction();
    void resumeAction(int triesLeft);
    void optionsAction();
    void serviceModals();
    void readCommands();
    void controlTick();
    void recover(const QByteArray& label);
    void finish();
    void sampleFigures(const char* prefix);
    bool settleForFigures(const char* prefix);
    // Returns whether the figures were taken.
    bool sampleComparable(const char* prefix);
    void sampleTrend();
    void showEveryOverlay();
    // A channel plays and no switch runs: the state the figures are compared in.
    bool settled() { return !IsSwitching && m_depth == 0 && m_app.player().isPlaying(); }

    SoakChildConfig m_config;
    TFrmQuoxel m_w;
    AppController m_app;
    AppInput m_input;
    std::mt19937_64 m_rng;
    QElapsedTimer m_clock;
    QTimer m_probe;
    QTimer m_inputTimer;
    QTimer m_control;
    QTimer m_modalWatch;
    QTimer m_trendTimer;
    qint64 m_lastTick = 0;
    qint64 m_maxLate = 0;
    qint64 m_maxRawLate = 0;
    int m_stalls = 0;
    std::vector<Stall> m_worst;
    qint64 m_fixedWaitSeen = 0;
    qint64 m_fixedWaitTotal = 0;
    QString m_lastAction = QStringLiteral("start");
    qint64 m_lastActionAt = 0;
    int m_actions = 0;
    int m_keys = 0;
    int m_bouquets = 0;
    int m_fullscreens = 0;
    int m_pauses = 0;
    int m_optionsOk = 0;
    int m_optionsCancel = 0;
    int m_modalsClosed = 0;
    int m_infoBoxes = 0;
    qint64 m_lastOptionsAt = -1000000;
    int m_depth = 0; // our own actions running; events keep being processed inside them
    bool m_paused = false;
    QByteArray m_pendingRecover;
    bool m_pendingFinish = false;
    bool m_finishing = false;
    // Waiting for the warm-up to end, due at the next settled moment, or taken.
    // A baseline that finds nothing playing is tried again, without showing the overlays again.
    enum class Baseline { Waiting, Due, OverlaysShown, Taken };
    Baseline m_baseline = Baseline::Waiting;
    bool m_trendDue = false;
    // Time the window's thread spent in a receiver request, sampled from a thread of our own.
    std::atomic<qint64> m_requestNs{0};
    qint64 m_requestWaitTotal = 0;
    std::atomic<bool> m_samplerStop{false};
    std::atomic<int> m_waitSamples{0};
    std::atomic<int> m_elsewhereSamples{0};
    std::thread m_sampler;
    QSocketNotifier* m_stdin = nullptr;
    QByteArray m_stdinBuffer;
    QWidget* m_seenModal = nullptr;
    int m_seenModalTicks = 0;
};

// A tick of the 50 ms probe: how late it came, less the program's fixed waits meanwhile (its
// delays and the caching wait, which sleep without handling events) and less the time a receiver
// request held the window (a control request waits for its answer or its time-out).
void SoakChild::probeTick() {
    const qint64 now = m_clock.elapsed();
    g_lastTickNs = steadyNs();
    const qint64 late = now - m_lastTick - kProbeMs;
    m_lastTick = now;
    const qint64 slept = fixedWaitMs();
    const qint64 requests = m_requestNs.exchange(0) / 1000000;
    m_requestWaitTotal += requests;
    const qint64 stall = std::max<qint64>(0, late - slept - requests);
    m_maxRawLate = std::max(m_maxRawLate, late);
    m_maxLate = std::max(m_maxLate, stall);
    if (stall <= kStallMs)
        return;
    ++m_stalls;
    Stall s{stall, late, now, m_lastAction + QStringLiteral(" (%1 ms before the late tick)").arg(now - m_lastActionAt)};
    m_worst.push_back(s);
    std::sort(m_worst.begin(), m_worst.end(), [](const Stall& a, const Stall& b) { return a.ms > b.ms; });
    if (m_worst.size() > size_t(kWorstKept))
        m_worst.resize(kWorstKept);
}

qint64 SoakChild::fixedWaitMs() {
    const qint64 total = uiFixedWaitMs();
    const qint64 since = total - m_fixedWaitSeen;
    m_fixedWaitSeen = total;
    m_fixedWaitTotal += since;
    return since;
}

void SoakChild::scheduleInput() {
    m_inputTimer.start(uniform(150, 1500));
}

void SoakChild::inputTick() {
    scheduleInput();
    if (m_paused || m_finishing || QApplication::activeModalWidget())
        return;
    // Inside the program's own event pumping (a switch, a request wait) only keys come, as from an
    // impatient user; menus and dialogs wait for the main loop.
    const bool nested = SoakApplication::depth() > 1;
    const int roll = uniform(0, 99);
    ++m_depth;
    if (nested || roll < 70) {
        if (m_depth == 1)
            keyAction();
    } else if (roll < 82) {
        bouquetAction();
    } else if (roll < 90) {
        note(m_w.view().IsFullscreen ? QStringLiteral("full screen out (menu)")
                                     : QStringLiteral("full screen in (menu)"));
        ++m_fullscreens;
        m_w.menu().Fullscreen1->trigger();
    } else if (roll < 96) {
        pauseAction();
    } else {
        optionsAction();
    }
    --m_depth;
}

void SoakChild::keyAction() {
    struct Key {
        Qt::Key key;
        const char* name;
        int weight;
    };
    static const Key keys[] = {
        {Qt::Key_PageUp, "PageUp (channel up)", 20},
        {Qt::Key_PageDown, "PageDown (channel down)", 20},
        {Qt::Key_I, "I (info overlay)", 10},
        {Qt::Key_O, "O (channel overlay)", 10},
        {Qt::Key_Escape, "Esc", 8},
        {Qt::Key_Left, "Left", 4},
        {Qt::Key_Right, "Right", 4},
        {Qt::Key_Up, "Up", 4},
        {Qt::Key_Down, "Down", 4},
        {Qt::Key_Return, "Return", 4},
    };
    int total = 0;
    for (const Key& k : keys)
        total += k.weight;
    int pick = uniform(0, total - 1);
    for (const Key& k : keys) {
        if (pick < k.weight) {
            note(QLatin1String(k.name) +
                 (SoakApplication::depth() > 1 ? QStringLiteral(" [while the program pumps events]") : QString()));
            ++m_keys;
            QTest::keyClick(&m_w, k.key);
            return;
        }
        pick -= k.weight;
    }
}

// The play button, and again a moment later: a pause held for good would keep the watchdog from
// restarting a stream the faults stopped.
void SoakChild::pauseAction() {
    if (IsPaused || IsSwitching)
        return;
    note(QStringLiteral("play button (pause)"));
    ++m_pauses;
    m_w.BtnPlay()->click();
    QTimer::singleShot(uniform(300, 4000), this, [this] { resumeAction(40); });
}

// At the top only, like the other commands; a pause the program has since left (a switch, a stop)
// needs no click.
void SoakChild::resumeAction(int triesLeft) {
    if (!IsPaused || m_finishing)
        return;
    if (SoakApplication::depth() > 1 || m_depth > 0 || IsSwitching || QApplication::activeModalWidget()) {
        if (triesLeft > 0)
            QTimer::singleShot(500, this, [this, triesLeft] { resumeAction(triesLeft - 1); });
        return;
    }
    note(QStringLiteral("play button (resume)"));
    m_w.BtnPlay()->click();
}

void SoakChild::bouquetAction() {
    const QList<QAction*> bouquets = m_w.menu().Bouquets1->actions();
    QList<QAction*> usable;
    for (QAction* a : bouquets)
        if (a->isEnabled() && !a->isSeparator())
            usable << a;
    if (usable.isEmpty())
        return;
    QAction* a = usable.at(uniform(0, int(usable.size()) - 1));
    note(QStringLiteral("bouquet \"%1\"").arg(a->text()));
    ++m_bouquets;
    a->trigger();
}

// File > Options, then OK (Cancel when a value does not pass); the dialog runs modally, so a
// timer started before answers it from inside its loop.
void SoakChild::optionsAction() {
    if (m_clock.elapsed() - m_lastOptionsAt < 45000)
        return;
    m_lastOptionsAt = m_clock.elapsed();
    auto tries = std::make_shared<int>(0);
    auto answer = std::make_shared<std::function<void()>>();
    *answer = [this, tries, answer] {
        auto* dialog = qobject_cast<TFrmOptions*>(QApplication::activeModalWidget());
        if (!dialog) {
            if (++*tries < 50)
                QTimer::singleShot(100, this, [answer] {
                    if (*answer)
                        (*answer)();
                });
            return;
        }
        if (dialog->okButton()->isEnabled()) {
            note(QStringLiteral("options OK"));
            ++m_optionsOk;
            dialog->okButton()->click();
        } else {
            note(QStringLiteral("options Cancel (OK disabled: %1)").arg(dialog->problemText()));
            ++m_optionsCancel;
            dialog->cancelButton()->click();
        }
        // OK may ask a question of its own; the modal watch answers it.
    };
    QTimer::singleShot(uniform(300, 1500), this, [answer] {
        if (*answer)
            (*answer)();
    });
    note(QStringLiteral("options open"));
    m_w.menu().ProgramSettings1->trigger();
    *answer = nullptr; // ends the cycle of the shared function
}

// A message box left open for a second gets its default answer, any other stray dialog a Cancel.
void SoakChild::serviceModals() {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || modal != m_seenModal) {
        m_seenModal = modal;
        m_seenModalTicks = 0;
        return;
    }
    if (++m_seenModalTicks < 2)
        return;
    // The options dialog is answered by its own timer unless that failed for 10 s.
    if (qobject_cast<TFrmOptions*>(modal) && m_seenModalTicks < 20)
        return;
    ++m_modalsClosed;
    m_seenModalTicks = 0;
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        note(QStringLiteral("answered message box \"%1\"").arg(box->text().left(60)));
        if (QAbstractButton* b = box->defaultButton())
            b->click();
        else
            box->accept();
    } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
        note(QStringLiteral("cancelled dialog %1").arg(QLatin1String(modal->metaObject()->className())));
        dialog->reject();
    }
}

void SoakChild::readCommands() {
    char buf[512];
    const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
    if (n <= 0) {
        // The driver went away: end as if told so.
        m_stdin->setEnabled(false);
        m_pendingFinish = true;
        return;
    }
    m_stdinBuffer.append(buf, n);
    qsizetype nl;
    while ((nl = m_stdinBuffer.indexOf('\n')) >= 0) {
        const QByteArray line = m_stdinBuffer.left(nl).trimmed();
        m_stdinBuffer.remove(0, nl + 1);
        if (line.startsWith("recover "))
            m_pendingRecover = line.mid(8);
        else if (line == "end")
            m_pendingFinish = true;
    }
}

// Commands run only at the top: not inside one of our actions, not during a switch, no dialog open.
void SoakChild::controlTick() {
    if (SoakApplication::depth() > 1 || m_depth > 0 || IsSwitching || QApplication::activeModalWidget())
        return;
    if (!m_pendingRecover.isEmpty()) {
        const QByteArray label = m_pendingRecover;
        m_pendingRecover.clear();
        recover(label);
        return;
    }
    if (m_pendingFinish && !m_finishing) {
        finish();
        return;
    }
    if ((m_baseline == Baseline::Due || m_baseline == Baseline::OverlaysShown) && !m_finishing && settled()) {
        if (m_baseline == Baseline::Due) {
            showEveryOverlay();
            m_baseline = Baseline::OverlaysShown;
        }
        if (sampleComparable("baseline"))
            m_baseline = Baseline::Taken;
        return;
    }
    if (m_trendDue && m_baseline == Baseline::Taken && !m_finishing && settled()) {
        m_trendDue = false;
        sampleTrend();
    }
}

// The faults are gone: the user picks the next channel in the channel box (twice more if one
// does not play, as the list holds a channel without a picture) and expects the picture back.
// A programme's details or the channel list left open over the picture hold the keys (the details
// also grey the channel box out): the user closes them with Esc first.
void SoakChild::recover(const QByteArray& label) {
    m_paused = true;
    ++m_depth;
    QElapsedTimer t;
    t.start();
    bool ok = false;
    int switches = 0;
    quoxel::EpgPanels& panels = m_app.osd().panels();
    OsdController& osd = m_app.osd().osd();
    const auto panelOpen = [&] {
        return panels.detailsVisible() || panels.channelsVisible() || osd.osdVisible(OsdWindow::Details) ||
               osd.osdVisible(OsdWindow::Channels);
    };
    for (; switches < 3 && !ok;) {
        for (int i = 0; i < 3 && panelOpen(); ++i) {
            note(QStringLiteral("recovery: Esc closes the panel over the picture"));
            QTest::keyClick(&m_w, Qt::Key_Escape);
            (void)QTest::qWaitFor([&] { return !panelOpen(); }, 2000);
        }
        QComboBox* box = m_w.CmbChannels();
        if (box->count() == 0) {
            // Nothing listed (the bouquets failed to load): the first bouquet again.
            const QList<QAction*> bouquets = m_w.menu().Bouquets1->actions();
            note(QStringLiteral("recovery: first bouquet"));
            if (!bouquets.isEmpty())
                bouquets.first()->trigger();
            ++switches;
            ok = QTest::qWaitFor([&] { return !IsSwitching && m_app.player().isPlaying(); }, 15000);
            continue;
        }
        const int row = (std::max(0, box->currentIndex()) + 1) % int(box->count());
        note(QStringLiteral("recovery: channel box row %1 \"%2\"").arg(row).arg(box->itemText(row)));
        // Chosen in the box, then Enter: the user's way to switch.
        box->setCurrentIndex(row);
        Q_EMIT box->activated(row);
        QTest::keyClick(box, Qt::Key_Return);
        ++switches;
        ok = QTest::qWaitFor([&] { return !IsSwitching && m_app.player().isPlaying(); }, 15000);
    }
    say(QByteArray("SOAK recovered ") + label + ' ' + (ok ? "1 " : "0 ") + QByteArray::number(t.elapsed()) + ' ' +
        QByteArray::number(switches) + ' ' + m_w.CmbChannels()->currentText().toUtf8().toPercentEncoding());
    --m_depth;
    m_paused = false;
}

// This process's threads by name, "name*count" sorted: which ones a growth consists of.
QString threadNames() {
    QMap<QString, int> byName;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(tid + QStringLiteral("/comm")));
        if (comm.open(QIODevice::ReadOnly))
            ++byName[QString::fromUtf8(comm.readAll().trimmed())];
    }
    QStringList parts;
    for (auto it = byName.cbegin(); it != byName.cend(); ++it)
        parts << (it.value() > 1 ? QStringLiteral("%1*%2").arg(it.key()).arg(it.value()) : it.key());
    return parts.join(QStringLiteral(", "));
}

// The windows holding a drawing surface of their own, with its size: on X each is a shared-memory
// image, so a window first shown after the baseline shows up as shared memory grown.
QString backingStores() {
    QStringList parts;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        const QBackingStore* store = w->testAttribute(Qt::WA_WState_Created) ? w->backingStore() : nullptr;
        if (!store)
            continue;
        const QString name = w->objectName().isEmpty() ? QLatin1String(w->metaObject()->className()) : w->objectName();
        parts << QStringLiteral("%1%2 %3x%4")
                     .arg(name, w->isVisible() ? QString() : QStringLiteral(" (hidden)"))
                     .arg(store->size().width())
                     .arg(store->size().height());
    }
    return parts.join(QStringLiteral(", "));
}

void SoakChild::sampleFigures(const char* prefix) {
    const ProcFigures f = readProcFigures();
    const QByteArray p(prefix);
    metric((p + "_rss_kb").constData(), QString::number(f.rssKb));
    metric((p + "_fds").constData(), QString::number(f.fds));
    metric((p + "_threads").constData(), QString::number(f.threads));
    metric((p + "_rss_parts_kb").constData(),
           QStringLiteral("anon %1 file %2 shmem %3").arg(f.rssAnonKb).arg(f.rssFileKb).arg(f.rssShmemKb));
    metric((p + "_heap_in_use_kb").constData(), QString::number(f.heapInUseKb));
    metric((p + "_heap_free_kb").constData(), QString::number(f.heapFreeKb));
    const RssWhere w = readRssWhere();
    metric((p + "_rss_brk_kb").constData(), QString::number(w.brkKb));
    metric((p + "_rss_arenas_kb").constData(), QString::number(w.arenasKb));
    metric((p + "_rss_stacks_kb").constData(), QString::number(w.stacksKb));
    metric((p + "_rss_other_anon_kb").constData(), QString::number(w.otherAnonKb));
    metric((p + "_other_anon_regions").constData(), QString::number(w.otherAnonRegions));
    metric((p + "_rss_shmem_maps_kb").constData(), QString::number(w.shmemKb));
    metric((p + "_shmem_maps").constData(), w.shmemMaps.join(QStringLiteral(", ")));
    metric((p + "_rss_files_kb").constData(), QString::number(w.filesKb));
    metric((p + "_rss_files_private_kb").constData(), QString::number(w.filesPrivateKb));
    metric((p + "_thread_names").constData(), threadNames());
    metric((p + "_backing_stores").constData(), backingStores());
    metric((p + "_at_s").constData(), QString::number(m_clock.elapsed() / 1000.0, 'f', 1));
}

// The figures are compared in one state: the bouquet of the start listed (a cut garbage list of
// thousands of channels is memory in use, not a leak), its first channel playing (the engine's
// threads and buffers come and go with playback), and every free page of the allocator handed back.
// False when nothing came to play (a fault struck meanwhile).
bool SoakChild::settleForFigures(const char* prefix) {
    // In the window, not full screen: each size of the window has its own shared-memory image.
    if (m_w.view().IsFullscreen) {
        note(QStringLiteral("figures: full screen out (menu)"));
        m_w.menu().Fullscreen1->trigger();
        (void)QTest::qWaitFor([&] { return !m_w.view().IsFullscreen; }, 5000);
    }
    const QList<QAction*> bouquets = m_w.menu().Bouquets1->actions();
    if (!bouquets.isEmpty()) {
        note(QStringLiteral("figures: first bouquet"));
        bouquets.first()->trigger();
    }
    const auto playing = [&] { return !IsSwitching && m_app.player().isPlaying(); };
    bool ok = QTest::qWaitFor(playing, 20000);
    // Its first channel, a TV one, with a picture decoded: a radio channel runs fewer of the
    // engine's threads and buffers, and so does a TV channel before its first picture.
    QComboBox* box = m_w.CmbChannels();
    if (ok && box->count() > 0) {
        note(QStringLiteral("figures: channel box row 0 \"%1\"").arg(box->itemText(0)));
        box->setCurrentIndex(0);
        Q_EMIT box->activated(0);
        QTest::keyClick(box, Qt::Key_Return);
        ok = QTest::qWaitFor(
            [&] {
                const VlcEngine* engine = m_app.player().engine();
                return playing() && engine && engine->stats().decodedVideo > 0;
            },
            20000);
    }
    // Around a switch threads come and go for a while (the last stop finishing, a name lookup, the
    // engine starting its decoders): the count is taken once it has held for two seconds.
    const auto threadCount = [] {
        QFile status(QStringLiteral("/proc/self/status"));
        return status.open(QIODevice::ReadOnly) ? procStatusValue(status.readAll(), "Threads") : -1;
    };
    QElapsedTimer held;
    QElapsedTimer waited;
    held.start();
    waited.start();
    int threads = threadCount();
    while (held.elapsed() < 2000 && waited.elapsed() < 20000) {
        QTest::qWait(100);
        const int now = threadCount();
        if (now != threads) {
            threads = now;
            held.restart();
        }
    }
    metric((QByteArray(prefix) + "_threads_held").constData(),
           held.elapsed() >= 2000 ? QStringLiteral("yes after %1 ms").arg(waited.elapsed()) : QStringLiteral("no"));
    // The window hands free pages back only once they pass a threshold, so what it holds unreturned
    // at a given moment varies by up to that much: the figures are taken with all of it returned,
    // and the resident size before is kept beside them.
    metric((QByteArray(prefix) + "_rss_unreturned_kb").constData(), QString::number(readProcFigures().rssKb));
    ReturnFreeMemory(0);
    return ok;
}

bool SoakChild::sampleComparable(const char* prefix) {
    ++m_depth;
    const bool ok = settleForFigures(prefix);
    // A baseline taken while nothing plays would make the engine's threads and buffers look like
    // growth: try again at the next settled moment.
    if (!ok && !m_finishing) {
        --m_depth;
        return false;
    }
    sampleFigures(prefix);
    metric((QByteArray(prefix) + "_settled").constData(), ok ? QStringLiteral("yes") : QStringLiteral("no"));
    --m_depth;
    return true;
}

// A point of the memory curve between baseline and end, in the same state as both: whether a
// growth goes on or levels off after the first hour.
void SoakChild::sampleTrend() {
    ++m_depth;
    const QByteArray key = "trend_" + QByteArray::number(m_clock.elapsed() / 1000) + "s";
    if (settleForFigures(key.constData())) {
        const ProcFigures f = readProcFigures();
        const RssWhere w = readRssWhere();
        metric(key.constData(), QStringLiteral("rss_kb %1 heap_in_use_kb %2 brk_kb %3 arenas_kb %4 other_anon_kb %5 "
                                               "shmem_kb %6 threads %7 fds %8")
                                    .arg(f.rssKb)
                                    .arg(f.heapInUseKb)
                                    .arg(w.brkKb)
                                    .arg(w.arenasKb)
                                    .arg(w.otherAnonKb)
                                    .arg(w.shmemKb)
                                    .arg(f.threads)
                                    .arg(f.fds));
    } else {
        m_trendDue = true;
    }
    --m_depth;
}

// Each overlay window and the full-screen backdrop keep a drawing surface once first shown (an X
// image of their size, several MB in all). A short run may never have shown some of them before the
// baseline and would count their surfaces as growth, so each is shown once first.
void SoakChild::showEveryOverlay() {
    ++m_depth;
    if (!m_w.view().IsFullscreen) {
        note(QStringLiteral("overlays: full screen in (menu)"));
        m_w.menu().Fullscreen1->trigger();
        (void)QTest::qWaitFor([&] { return m_w.view().IsFullscreen; }, 5000);
    }
    // Up (within a bound), a moment on screen, and down again.
    const auto showOnce = [this](const char* what, const auto& show, const auto& visible, const auto& hide) {
        note(QStringLiteral("overlays: %1 shown and hidden").arg(QLatin1String(what)));
        show();
        (void)QTest::qWaitFor(visible, 2000);
        QTest::qWait(300);
        hide();
    };
    if (m_w.view().IsFullscreen)
        showOnce(
            "backdrop", [&] { m_app.showBackdrop(); }, [&] { return m_w.FrmBlackScreen().isVisible(); },
            [&] { m_app.osd().hideBackdrop(); });
    OsdController& osd = m_app.osd().osd();
    const TChannelRef channel = m_app.osd().AktChannel();
    if (channel) {
        const std::pair<OsdWindow, const char*> windows[] = {
            {OsdWindow::Info, "info"}, {OsdWindow::Channels, "channels"}, {OsdWindow::Details, "details"}};
        for (const auto& entry : windows) {
            const OsdWindow window = entry.first;
            showOnce(
                entry.second, [&] { osd.ShowOSD(window, channel, false); }, [&] { return osd.osdVisible(window); },
                [&] { osd.HideOSD(window); });
        }
    }
    --m_depth;
}

void SoakChild::finish() {
    m_finishing = true;
    m_inputTimer.stop();
    sampleComparable("end");
    m_probe.stop();
    metric("stall_max_ms", QString::number(m_maxLate));
    metric("stall_max_raw_ms", QString::number(m_maxRawLate));
    metric("stalls_over_250ms", QString::number(m_stalls));
    metric("held_up_samples", QStringLiteral("in fixed waits %1, elsewhere %2 (every 20 ms from 100 ms on)")
                                  .arg(m_waitSamples.load())
                                  .arg(m_elsewhereSamples.load()));
    metric("fixed_waits_ms", QString::number(m_fixedWaitTotal));
    metric("request_waits_ms", QString::number(m_requestWaitTotal));
    for (size_t i = 0; i < m_worst.size(); ++i) {
        const Stall& s = m_worst[i];
        metric(("stall_worst_" + std::to_string(i + 1)).c_str(), QStringLiteral("%1 ms (raw %2) at %3 s after %4")
                                                                     .arg(s.ms)
                                                                     .arg(s.rawMs)
                                                                     .arg(s.atMs / 1000.0, 0, 'f', 1)
                                                                     .arg(s.lastAction));
    }
    metric("actions", QString::number(m_actions));
    metric("actions_keys", QString::number(m_keys));
    metric("actions_bouquet", QString::number(m_bouquets));
    metric("actions_fullscreen", QString::number(m_fullscreens));
    metric("actions_pause", QString::number(m_pauses));
    metric("actions_options_ok", QString::number(m_optionsOk));
    metric("actions_options_cancel", QString::number(m_optionsCancel));
    metric("modal_boxes_answered", QString::number(m_modalsClosed));
    metric("info_boxes", QString::number(m_infoBoxes));
    // QUOXEL_SOAK_EXIT_LIVE=1 ends right here, everything still held: a heap profiler's "leaked"
    // then lists what was in use at the end, and two runs of different lengths tell what grows.
    if (qEnvironmentVariableIntValue("QUOXEL_SOAK_EXIT_LIVE") != 0) {
        say("SOAK done");
        std::exit(0);
    }
    m_w.close();
    const bool closed = QTest::qWaitFor([&] { return !m_w.isVisible(); }, 30000);
    metric("window_closed", closed ? QStringLiteral("yes") : QStringLiteral("no"));
    say("SOAK done");
    QApplication::exit(closed ? 0 : 4);
}

int SoakChild::run() {
    m_clock.start();
    m_w.setMessageBoxes([](const QString&) { return true; },
                        [this](const QString& text) {
                            ++m_infoBoxes;
                            note(QStringLiteral("info box \"%1\"").arg(text.left(60)));
                        });
    m_app.setIniPath(m_config.iniPath);
    if (m_app.FormCreate() != ConnectionOutcome::Connected) {
        say("SOAK fatal not connected");
        return 3;
    }
    m_app.FormShow();
    m_w.show();
    m_w.activateWindow();
    if (!QTest::qWaitForWindowExposed(&m_w, 10000)) {
        say("SOAK fatal window not shown");
        return 3;
    }
    m_app.lifecycle().FormActivate();
    if (!m_app.switcher() || !QTest::qWaitFor([&] { return m_app.player().isPlaying(); }, 30000)) {
        say("SOAK fatal nothing plays");
        return 3;
    }
    sampleFigures("start");

    void* warm[4];
    backtrace(warm, 4); // loads the unwinder now, not inside the signal handler
    std::signal(SIGPROF, stallStackHandler);
    g_lastTickNs = steadyNs();
    m_sampler = std::thread([this, uiThread = pthread_self()] {
        constexpr int kStepMs = 5;
        // Dense enough to tell the program's own waits from the time between them: a hold-up
        // is sampled from 100 ms on, every 20 ms.
        constexpr std::int64_t kFirstSampleNs = 100'000'000;
        constexpr std::int64_t kSampleEveryNs = 20'000'000;
        constexpr int kMaxSamples = 20000;
        int samples = 0;
        std::int64_t sampledTick = 0;
        int sampledSteps = 0;
        // The time really passed is counted: a sleep of 5 ms takes a little longer each time,
        // which over a 20 s request would add up to a hold-up that is not there.
        std::int64_t stepStart = steadyNs();
        // Times in the file are seconds since the child started, on the sampler's own clock.
        const std::int64_t originNs = stepStart - m_clock.nsecsElapsed();
        while (!m_samplerStop.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kStepMs));
            const std::int64_t stepEnd = steadyNs();
            if (MainRequestBusy.load())
                m_requestNs += stepEnd - stepStart;
            stepStart = stepEnd;
            const std::int64_t tick = g_lastTickNs.load();
            if (tick != sampledTick) {
                sampledTick = tick;
                sampledSteps = 0;
            }
            // A receiver request's wait is counted apart already; its stacks would only fill the file.
            if (samples >= kMaxSamples || MainRequestBusy.load() ||
                steadyNs() - tick < kFirstSampleNs + kSampleEveryNs * sampledSteps)
                continue;
            ++sampledSteps;
            g_stallFrameCount = -1;
            pthread_kill(uiThread, SIGPROF);
            for (int i = 0; i < 100 && g_stallFrameCount.load() < 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            const int n = g_stallFrameCount.load();
            if (n <= 0)
                continue; // the window's thread did not answer in time: no sample
            // Inside one of the program's own sleeps: counted, not written; the file keeps what
            // the time between them went to.
            if (std::any_of(g_stallFrames, g_stallFrames + n, [](void* frame) {
                    Dl_info info{};
                    return dladdr(frame, &info) != 0 && info.dli_sname &&
                           std::strstr(info.dli_sname, "QThread6msleep") != nullptr;
                })) {
                ++m_waitSamples;
                continue;
            }
            ++m_elsewhereSamples;
            FILE* f = std::fopen("stall-stacks.txt", "a");
            if (!f)
                continue;
            const std::int64_t now = steadyNs();
            std::fprintf(f, "---- window thread held up for %lld ms at %.1f s (hold-up since %.1f s)\n",
                         static_cast<long long>((now - tick) / 1000000), double(now - originNs) / 1e9,
                         double(tick - originNs) / 1e9);
            std::fflush(f);
            backtrace_symbols_fd(g_stallFrames, n, fileno(f));
            std::fclose(f);
            ++samples;
        }
    });
    m_probe.setTimerType(Qt::PreciseTimer);
    m_probe.setInterval(kProbeMs);
    connect(&m_probe, &QTimer::timeout, this, [this] { probeTick(); });
    m_lastTick = m_clock.elapsed();
    m_probe.start();

    m_inputTimer.setSingleShot(true);
    connect(&m_inputTimer, &QTimer::timeout, this, [this] { inputTick(); });
    scheduleInput();

    m_control.setInterval(100);
    connect(&m_control, &QTimer::timeout, this, [this] { controlTick(); });
    m_control.start();

    m_modalWatch.setInterval(500);
    connect(&m_modalWatch, &QTimer::timeout, this, [this] { serviceModals(); });
    m_modalWatch.start();

    // Taken at the first settled moment after the warm-up (see controlTick).
    QTimer::singleShot(m_config.warmupSeconds * 1000, this, [this] { m_baseline = Baseline::Due; });
    if (m_config.trendSeconds > 0) {
        m_trendTimer.setInterval(m_config.trendSeconds * 1000);
        connect(&m_trendTimer, &QTimer::timeout, this, [this] { m_trendDue = true; });
        m_trendTimer.start();
    }

    m_stdin = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(m_stdin, &QSocketNotifier::activated, this, [this] { readCommands(); });

    say("SOAK ready");
    return QApplication::exec();
}

} // namespace

ProcFigures readProcFigures() {
    ProcFigures f;
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        const QByteArray text = status.readAll();
        f.rssKb = procStatusValue(text, "VmRSS");
        f.threads = procStatusValue(text, "Threads");
        f.rssAnonKb = procStatusValue(text, "RssAnon");
        f.rssFileKb = procStatusValue(text, "RssFile");
        f.rssShmemKb = procStatusValue(text, "RssShmem");
    }
#ifdef __GLIBC__
    const struct mallinfo2 mi = mallinfo2();
    f.heapInUseKb = qint64((mi.uordblks + mi.hblkhd) / 1024);
    f.heapFreeKb = qint64(mi.fordblks / 1024);
#endif
    // The listing's own descriptor is not counted.
    f.fds = int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size()) - 1;
    return f;
}

RssWhere rssWhere(const QByteArray& smaps) {
    RssWhere w;
    static const QRegularExpression header(QStringLiteral("^([0-9a-f]+)-([0-9a-f]+) (\\S+) \\S+ \\S+ \\d+\\s*(.*)$"));
    qint64* bucket = nullptr;
    quint64 guardEnd = 0; // end of the small inaccessible private range right below, 0 if none
    for (const QByteArray& raw : smaps.split('\n')) {
        // A mapping's header starts with its address in lower-case hex; its fields with a
        // capitalised name. Only headers go through the pattern.
        const char c = raw.isEmpty() ? '\0' : raw.front();
        if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')) {
            const QRegularExpressionMatch m = header.match(QString::fromLatin1(raw));
            if (!m.hasMatch())
                continue;
            const quint64 start = m.captured(1).toULongLong(nullptr, 16);
            const quint64 end = m.captured(2).toULongLong(nullptr, 16);
            const QString perms = m.captured(3);
            const QString name = m.captured(4).trimmed();
            if (name == QLatin1String("[heap]")) {
                bucket = &w.brkKb;
            } else if (name == QLatin1String("[stack]")) {
                bucket = &w.stacksKb;
            } else if (name.isEmpty()) {
                // The allocator's other arenas are aligned to their 64 MB reservation; a thread's
                // stack sits right above its guard pages.
                if (start % (64ULL << 20) == 0)
                    bucket = &w.arenasKb;
                else if (guardEnd != 0 && guardEnd == start)
                    bucket = &w.stacksKb;
                else
                    bucket = &w.otherAnonKb;
            } else if (name.startsWith(QLatin1String("/memfd:")) || name.startsWith(QLatin1String("/dev/shm/")) ||
                       name.startsWith(QLatin1String("/SYSV")) || name.endsWith(QLatin1String("(deleted)"))) {
                bucket = &w.shmemKb;
                w.shmemMaps << QStringLiteral("%1 %2 kB").arg(name).arg((end - start) / 1024);
            } else if (name.startsWith('[')) {
                bucket = nullptr; // [vdso], [vvar] and the like
            } else {
                bucket = &w.filesKb;
            }
            guardEnd = name.isEmpty() && perms == QLatin1String("---p") && end - start <= (1ULL << 20) ? end : 0;
            continue;
        }
        if (bucket && raw.startsWith("Rss:")) {
            const qint64 kb = raw.mid(4).trimmed().split(' ').value(0).toLongLong();
            *bucket += kb;
            if (bucket == &w.otherAnonKb && kb > 0)
                ++w.otherAnonRegions;
        } else if (bucket == &w.filesKb && raw.startsWith("Anonymous:")) {
            w.filesPrivateKb += raw.mid(10).trimmed().split(' ').value(0).toLongLong();
        }
    }
    return w;
}

RssWhere readRssWhere() {
    QFile smaps(QStringLiteral("/proc/self/smaps"));
    return smaps.open(QIODevice::ReadOnly) ? rssWhere(smaps.readAll()) : RssWhere{};
}

int runSoakChild(const SoakChildConfig& config) {
    installCrashHandler();
    int rc = 0;
    {
        SoakChild child(config);
        rc = child.run();
    }
    return rc;
}
