#include "core/lifecycle.h"

#include "core/appflags.h"
#include "core/connection.h"
#include "core/log.h"
#include "core/options.h"
#include "core/ports.h"

#include <QDir>

#include <cerrno>
#include <cstring>
#include <sys/resource.h>

namespace {

// Runs a step whose errors are discarded; what escaped is logged, not shown.
template <typename F>
void guarded(const char* what, F&& step) {
    try {
        step();
    } catch (const std::exception& e) {
        Log(LogMsg, QString::fromLatin1(what) + QStringLiteral(" failed: ") + QString::fromLocal8Bit(e.what()));
    } catch (...) {
        Log(LogMsg, QString::fromLatin1(what) + QStringLiteral(" failed"));
    }
}

} // namespace

bool priorityNice(const QString& priority, int* nice) {
    if (priority == QLatin1String("IDLE"))
        *nice = 19;
    else if (priority == QLatin1String("NORMAL"))
        *nice = 0;
    else if (priority == QLatin1String("HIGH"))
        *nice = -10;
    else
        return false;
    return true;
}

bool applyPriority(const QString& priority) {
    int nice = 0;
    if (!priorityNice(priority, &nice))
        return true;
    // The nice value belongs to each thread on Linux, and the engine's threads exist already,
    // so every thread of the process gets it, not only the calling one.
    QStringList tids = QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    if (tids.isEmpty())
        tids << QStringLiteral("0");
    bool allSet = true;
    for (const QString& tid : std::as_const(tids)) {
        bool ok = false;
        const int id = tid.toInt(&ok);
        if (!ok)
            continue;
        if (::setpriority(PRIO_PROCESS, static_cast<id_t>(id), nice) != 0 && errno != ESRCH) {
            allSet = false;
            Log(LogMsg,
                QStringLiteral("priority %1 refused: %2").arg(priority, QString::fromLocal8Bit(std::strerror(errno))));
            break;
        }
    }
    return allSet;
}

Lifecycle::Lifecycle(LifecycleView& view, ShutdownSteps& steps, Connection& connection)
    : m_view(view)
    , m_steps(steps)
    , m_connection(connection) {}

void Lifecycle::FormActivate() {
    m_view.hideSplash();
    if (!Options.HideTaskbar && IsStarting)
        m_view.showTaskbarButton();
    // The first step lets messages run, and a second activation may come in meanwhile; it must not
    // start the player a second time.
    if (IsStarting && !m_activating && !m_connection.running() && m_view.hasChannelSelection()) {
        m_activating = true;
        m_view.processEvents();
        guarded("EPG display", [&] { m_view.refreshEPGDisplay(); });
        m_view.initPlayer();
        // Without the engine the program is ending: nothing is zapped or played.
        if (!m_view.playerInitialised()) {
            IsStarting = false;
            m_activating = false;
            return;
        }
        m_view.switchChannel();
        IsStarting = false;
        m_view.startEPGTimer(1);
        if (m_view.channelBoxEnabled() && !m_view.isFullscreen())
            m_view.focusChannelBox();
        m_activating = false;
        if (Options.Fullscreen) {
            Delay(1000, true);
            m_view.processEvents();
            m_view.switchToFullscreen();
        }
    }
    applyPriority(Options.Priority);
}

bool Lifecycle::closeAllowed() const {
    if (!IsStarting)
        return true;
    if (m_connection.running() || m_activating)
        return false;
    return m_connection.lastOutcome() == ConnectionOutcome::NoChannelRecord || !m_view.hasChannelSelection();
}

void Lifecycle::Close1Click() {
    if (!closeAllowed())
        return;
    m_view.setBusyCursor(true);
    m_view.processEvents();
    m_view.closeWindow();
    m_view.setBusyCursor(false);
}

bool Lifecycle::FormClose() {
    if (IsClosing)
        return false;
    m_view.setBusyCursor(true);
    ShowStatus(LifecycleTexts::kShuttingDown);
    if (Options.Mode == AppMode::Online) {
        m_steps.stopRemoteVlc(kCloseRemoteVlcLimitMs);
        Delay(kCloseDelayMs, true);
    }
    m_view.minimise();
    m_view.stopTimers();
    IsClosing = true;
    m_steps.abortEPG();
    if (!m_view.playerInitialised())
        return true;
    m_view.stopPlayback();
    if (Options.LockRc)
        m_steps.unlockRc(kCloseRequestLimitMs);
    if (Options.ShowMessage)
        m_steps.sendMessage(LifecycleTexts::kClosedMessage, kCloseRequestLimitMs);
    if (Options.Mode != AppMode::Quoxel && Options.AutoSpts) {
        m_steps.setPesPlayback(kCloseRequestLimitMs);
        Delay(kCloseDelayMs, true);
    }
    m_view.stopEPGThread();
    guarded("VLC_Die", [&] { m_view.shutDownPlayer(); });
    guarded("closing the options dialog", [&] { m_view.closeOptionsDialog(); });
    guarded("releasing the clients", [&] { m_steps.releaseClients(); });
    return true;
}

void Lifecycle::InitQuoxel1Click() {
    if (IsClosing || m_connection.running())
        return;
    m_view.setBusyCursor(true);
    m_view.processEvents();
    guarded("Init Quoxel", [&] {
        m_view.stopPlayback();
        if (m_view.playerInitialised())
            m_view.shutDownPlayer();
        m_view.stopEPGThread();
        m_steps.resetChannelEPG();
        guarded("EPG display", [&] { m_view.refreshAktChannelEPG(); });
        m_connection.InitConnection();
    });
    // The hourglass would otherwise stay until something else resets it.
    m_view.setBusyCursor(false);
}
