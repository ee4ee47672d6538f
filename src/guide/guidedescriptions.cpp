#include "guide/guidedescriptions.h"

#include "guide/guidelayout.h"

#include <QHash>

#include <utility>

GuideDescriptionFolder::~GuideDescriptionFolder() {
    stop();
}

void GuideDescriptionFolder::setNotify(std::function<void()> notify) {
    const std::lock_guard lock(m_mutex);
    m_notify = std::move(notify);
}

void GuideDescriptionFolder::add(std::vector<GuideDescriptionJob> jobs) {
    if (jobs.empty())
        return;
    {
        const std::lock_guard lock(m_mutex);
        if (m_stop)
            return;
        for (GuideDescriptionJob& job : jobs)
            m_jobs.push_back(std::move(job));
        if (!m_thread.joinable())
            m_thread = std::thread([this] { run(); });
    }
    m_wake.notify_one();
}

void GuideDescriptionFolder::cancel() {
    const std::lock_guard lock(m_mutex);
    m_jobs.clear();
}

std::vector<GuideDescriptionFolder::Done> GuideDescriptionFolder::take() {
    const std::lock_guard lock(m_mutex);
    m_notified = false;
    return std::exchange(m_done, {});
}

void GuideDescriptionFolder::stop() {
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
        m_jobs.clear();
        m_notify = nullptr;
    }
    m_wake.notify_one();
    if (m_thread.joinable())
        m_thread.join();
}

void GuideDescriptionFolder::run() {
    std::unique_lock lock(m_mutex);
    while (true) {
        m_wake.wait(lock, [this] { return m_stop || !m_jobs.empty(); });
        if (m_stop)
            return;
        const GuideDescriptionJob job = std::move(m_jobs.front());
        m_jobs.pop_front();
        lock.unlock();
        Done done{job.Row, job.Generation, fold(job)};
        lock.lock();
        m_done.push_back(std::move(done));
        if (!m_notified && m_notify) {
            m_notified = true;
            // Called under the lock, so stop() cannot pull the callee's object away meanwhile; the
            // callee only posts.
            m_notify();
        }
    }
}

std::shared_ptr<const GuideRowDescriptions> GuideDescriptionFolder::fold(const GuideDescriptionJob& job) {
    auto out = std::make_shared<GuideRowDescriptions>();
    out->Of.reserve(job.Slots.size());
    // The receiver repeats a programme's text with every showing: each text is folded once.
    QHash<std::pair<QStringView, QStringView>, int32_t> seen;
    for (const int32_t slot : job.Slots) {
        const TChannelProgram* p = slot >= 0                      ? (slot < job.EPG.size() ? &job.EPG[slot] : nullptr)
                                   : slot == GuideBlock::kNowSlot ? &job.Now
                                                                  : &job.Next;
        if (!p || (p->Info1.isEmpty() && p->Info2.isEmpty())) {
            out->Of.push_back(-1);
            continue;
        }
        const std::pair<QStringView, QStringView> key(p->Info1, p->Info2);
        auto it = seen.constFind(key);
        if (it == seen.constEnd()) {
            it = seen.insert(key, static_cast<int32_t>(out->Texts.size()));
            out->Texts.append(p->Info1, p->Info2);
        }
        out->Of.push_back(*it);
    }
    out->Texts.squeeze();
    out->Of.shrink_to_fit();
    return out;
}
