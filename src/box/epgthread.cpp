#include "box/epgthread.h"

#include "box/boxcommands.h"
#include "box/epgparse.h"
#include "box/httpengine.h"
#include "core/log.h"

#include <QCoreApplication>
#include <QSet>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <vector>

struct EPGShared {
    std::mutex Mutex;
    std::condition_variable Wake;
    // Atomic as well as guarded: read in the waits, written by the UI thread under the mutex.
    std::atomic<bool> Stop{false};
    std::atomic<int> Selected{0};
    std::atomic<bool> AktRadio{false};
    std::atomic<bool> Running{false};
    // Channels in view, first to fetch; guarded by Mutex.
    QList<EPGChannelJob> InView;
    // Per position: a fetched result is on its way to the UI thread, which clears the mark once it
    // has written the record.
    std::vector<std::atomic<bool>> Pending;

    bool aborted() {
        std::lock_guard lock(Mutex);
        return Stop || EPGAbort.load();
    }
    // Sleeps ms unless told to stop; EPGAbort is polled every 20 ms. False when aborted.
    bool sleep(int ms) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        std::unique_lock lock(Mutex);
        while (!Stop && !EPGAbort.load()) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= deadline)
                return true;
            // Slices on the system clock: its wait (pthread_cond_timedwait) is one the thread
            // sanitizer follows, the steady-clock one is not, and a clock jump costs one slice only.
            const auto slice =
                std::min<std::chrono::steady_clock::duration>(deadline - now, std::chrono::milliseconds(20));
            Wake.wait_until(lock, std::chrono::system_clock::now() + slice);
        }
        return false;
    }
};

namespace {

class EPGWorker : public QObject {
    Q_OBJECT
public:
    EPGWorker(std::shared_ptr<EPGShared> shared, QList<EPGChannelJob> jobs, EPGPacing pacing, bool isStarting,
              EPGClientSettings settings)
        : m_shared(std::move(shared))
        , m_jobs(std::move(jobs))
        , m_pacing(pacing)
        , m_isStarting(isStarting)
        , m_settings(std::move(settings)) {}

    // The channel's list is in (or on its way in), so the walk leaves it alone.
    bool loaded(int i) const {
        return m_shared->Pending[size_t(i)].load() ? m_jobs[i].FetchedLoaded : bool(m_jobs[i].Channel->EPGLoaded);
    }
    // A channel in view may be another bouquet's record of a channel in the walk's list.
    bool loaded(const EPGChannelJob& job, int pos) const {
        return bool(job.Channel->EPGLoaded) || (pos >= 0 && loaded(pos));
    }

    void run() {
        m_http.Timeout = m_pacing.TimeoutSec;
        m_http.setIdentity(m_settings);
        // A stop gives up a request that hangs instead of waiting out its time-out.
        m_http.setClosingFlag(&m_shared->Stop);
        int lastSeen = -1;
        while (!m_shared->aborted()) {
            const int count = static_cast<int>(m_jobs.size());
            const int cur = m_shared->Selected.load();
            int start = 0;
            if (cur >= 0 && cur < count && !loaded(cur) && m_jobs[cur].Mode == mTV) {
                start = cur;
                m_isStarting = false;
            } else if (m_isStarting) {
                m_isStarting = false;
                start = cur;
            } else {
                start = cur != lastSeen ? cur : 0;
            }
            lastSeen = cur;
            start = std::clamp(start, 0, count);
            m_fetchedThisPass.clear();
            // Each step takes a channel in view when one waits, else the walk's next position.
            for (int i = start;;) {
                if (m_shared->aborted() || m_shared->Selected.load() != lastSeen) {
                    m_shared->sleep(m_pacing.ShortMs);
                    break;
                }
                std::optional<EPGChannelJob> inView = takeInView();
                if (!inView && i >= count)
                    break;
                const int pos = inView ? positionOf(inView->Id) : i++;
                if (inView || !loaded(pos)) {
                    if (!m_shared->sleep(m_pacing.BeforeLoadMs))
                        break;
                    // Loaded meanwhile (by the UI thread or an earlier result): nothing to fetch.
                    if (inView ? !loaded(*inView, pos) : !loaded(pos))
                        fetch(inView ? *inView : m_jobs[pos], pos);
                }
                if (!m_shared->sleep(m_pacing.ShortMs))
                    break;
                Log(LogFunc, QStringLiteral("Delay %1ms").arg(m_pacing.StepMs));
                if (!m_shared->sleep(m_pacing.StepMs))
                    break;
            }
            int open = 0;
            for (int i = 0; i < count; ++i)
                open += loaded(i) ? 0 : 1;
            {
                std::lock_guard lock(m_shared->Mutex);
                open += static_cast<int>(m_shared->InView.size());
            }
            if (m_shared->aborted() || open == 0)
                break;
            if (m_shared->AktRadio.load()) {
                Log(LogFunc, QStringLiteral("Delay %1ms").arg(m_pacing.RadioPassMs));
                if (!m_shared->sleep(m_pacing.RadioPassMs))
                    break;
            }
        }
        m_shared->Running = false;
        Q_EMIT done();
    }

Q_SIGNALS:
    void result(const EPGResult& result);
    void done();

private:
    // The first channel in view not fetched in this pass, or none.
    std::optional<EPGChannelJob> takeInView() {
        std::lock_guard lock(m_shared->Mutex);
        while (!m_shared->InView.isEmpty()) {
            EPGChannelJob job = m_shared->InView.takeFirst();
            const int pos = positionOf(job.Id);
            if (m_fetchedThisPass.contains(job.Id) || loaded(job, pos))
                continue;
            return job;
        }
        return std::nullopt;
    }

    int positionOf(const QString& id) const {
        for (qsizetype i = 0; i < m_jobs.size(); ++i) {
            if (m_jobs[i].Id == id)
                return static_cast<int>(i);
        }
        return -1;
    }

    // pos: the job's place in the walk's list, -1 for a channel outside it.
    void fetch(const EPGChannelJob& job, int pos) {
        EPGResult out;
        out.Position = pos;
        out.Id = job.Id;
        m_fetchedThisPass.insert(job.Id);
        try {
            WaitWhileBusy(MainRequestBusy);
            EPGRequestBusy = true;
            m_http.ExecuteURL(job.Url);
            const QString body = m_http.ResponseText;
            EPGRequestBusy = false;
            Log(LogThread, job.Url);
            if (auto programs = ParseEPGXml(body)) {
                out.Parsed = true;
                out.Programs = std::move(*programs);
            }
        } catch (...) {
            EPGRequestBusy = false;
            Log(LogThread, job.Url + QStringLiteral(" failed"));
        }
        // An answer cut off by a stop is no answer: the channel stays as it was, to be fetched again.
        if (m_shared->Stop.load())
            return;
        // A radio channel counts as loaded only while a TV channel is on air: song titles change.
        if (pos >= 0) {
            m_jobs[pos].FetchedLoaded = job.Mode == mTV || !m_shared->AktRadio.load();
            m_shared->Pending[size_t(pos)] = true;
        }
        Q_EMIT result(out);
    }

    std::shared_ptr<EPGShared> m_shared;
    QList<EPGChannelJob> m_jobs;
    EPGPacing m_pacing;
    bool m_isStarting;
    EPGClientSettings m_settings;
    TIEHTTP m_http;
    QSet<QString> m_fetchedThisPass;
};

} // namespace

void EPGThread::ThreadStop::operator()(QThread* thread) const {
    thread->quit();
    thread->wait();
    delete thread;
}

EPGThread::EPGThread(EPGPacing pacing, QObject* parent)
    : QObject(parent)
    , m_pacing(pacing)
    , m_shared(std::make_shared<EPGShared>()) {
    qRegisterMetaType<EPGResult>();
}

EPGThread::~EPGThread() {
    {
        std::lock_guard lock(m_shared->Mutex);
        m_shared->Stop = true;
    }
    m_shared->Wake.notify_all();
    m_thread.reset();
}

bool EPGThread::isRunning() const {
    return m_shared->Running.load();
}

void EPGThread::setSelected(int position) {
    m_shared->Selected = position;
}

void EPGThread::setAktRadio(bool radio) {
    m_shared->AktRadio = radio;
}

bool EPGThread::start(const QList<TChannelRef>& channels, int selected, bool aktIsRadio, bool isStarting) {
    if (isRunning())
        return false;
    m_thread.reset();
    m_shared = std::make_shared<EPGShared>();
    m_shared->Selected = selected;
    m_shared->AktRadio = aktIsRadio;
    m_shared->Running = true;
    m_shared->InView = inViewJobs();
    m_shared->Pending = std::vector<std::atomic<bool>>(size_t(channels.size()));
    m_channels = channels;
    QList<EPGChannelJob> jobs;
    for (const auto& ch : channels)
        jobs.append({ch->Id, ChannelEPGURL(ch->Id), ch->Mode, ch, false});
    m_thread.reset(new QThread);
    auto* worker =
        new EPGWorker(m_shared, std::move(jobs), m_pacing, isStarting, m_settings ? m_settings() : EPGClientSettings{});
    worker->moveToThread(m_thread.get());
    connect(m_thread.get(), &QThread::started, worker, &EPGWorker::run);
    connect(worker, &EPGWorker::result, this, &EPGThread::applyResult, Qt::QueuedConnection);
    connect(worker, &EPGWorker::done, this, &EPGThread::finished, Qt::QueuedConnection);
    connect(m_thread.get(), &QThread::finished, worker, &QObject::deleteLater);
    m_thread->start();
    return true;
}

QList<EPGChannelJob> EPGThread::inViewJobs() const {
    QList<EPGChannelJob> jobs;
    for (const auto& ch : m_inView)
        jobs.append({ch->Id, ChannelEPGURL(ch->Id), ch->Mode, ch, false});
    return jobs;
}

void EPGThread::setInView(const QList<TChannelRef>& channels) {
    m_inView.clear();
    for (const auto& ch : channels) {
        if (ch && !ch->Id.isEmpty())
            m_inView.append(ch);
    }
    QList<EPGChannelJob> jobs = inViewJobs();
    std::lock_guard lock(m_shared->Mutex);
    m_shared->InView = std::move(jobs);
}

void EPGThread::applyResult(const EPGResult& result) {
    // The walk's own record and any record in view of the same channel.
    QList<TChannel*> targets;
    if (result.Position >= 0 && result.Position < m_channels.size() && m_channels[result.Position]->Id == result.Id)
        targets.append(m_channels[result.Position].get());
    for (const auto& ch : m_inView) {
        if (ch->Id == result.Id && !targets.contains(ch.get()))
            targets.append(ch.get());
    }
    if (size_t(result.Position) < m_shared->Pending.size())
        m_shared->Pending[size_t(result.Position)] = false;
    if (targets.isEmpty())
        return;
    for (TChannel* ch : targets) {
        if (result.Parsed)
            ApplyChannelEPG(*ch, result.Programs);
        ch->EPGLoaded = ch->Mode == mTV || !m_shared->AktRadio.load();
    }
    int loaded = 0;
    for (const auto& c : m_channels)
        loaded += c->EPGLoaded ? 1 : 0;
    Q_EMIT channelApplied(result.Position, loaded, static_cast<int>(m_channels.size()));
}

int EPGThread::StopEPGThread(bool showMessage) {
    Log(LogFunc, QStringLiteral("StopEPGThread()"));
    if (!isRunning())
        return 0;
    if (showMessage)
        ShowStatus(QStringLiteral("stopping epg..."));
    EPGAbort = true;
    {
        std::lock_guard lock(m_shared->Mutex);
        m_shared->Stop = true;
    }
    m_shared->Wake.notify_all();
    int waits = 0;
    while (isRunning() && waits < 300) {
        QCoreApplication::processEvents();
        QThread::msleep(20);
        ++waits;
    }
    // The walk posts its results before it says it has ended: apply them now, so none of a stopped
    // walk lands after a restart and overwrites what the new walk sets.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    if (isRunning())
        Log(LogFunc, QStringLiteral("Thread is still running...!"));
    Log(LogFunc, QStringLiteral("EPG Thread stopped (%1)!").arg(waits));
    EPGAbort = false;
    return waits;
}

#include "epgthread.moc"
