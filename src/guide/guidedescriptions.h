#pragma once

#include "box/records.h"
#include "guide/guidefold.h"

#include <QList>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// The folded descriptions (Info1 and Info2) of one guide row: each text once, however often the
// row repeats it, and for every search entry of the row the text it has (-1: none).
struct GuideRowDescriptions {
    FoldedTexts Texts;
    std::vector<int32_t> Of;

    qsizetype bytes() const {
        return Texts.bytes() + static_cast<qsizetype>(Of.capacity() * sizeof(int32_t)) +
               static_cast<qsizetype>(sizeof(*this));
    }
};

// What a row's descriptions are folded from: its own copy of the records' lists (shared, not
// copied; the records may change meanwhile) and the programme slots of its search entries.
struct GuideDescriptionJob {
    int Row = 0;
    quint64 Generation = 0;
    QList<TChannelProgram> EPG;
    TChannelProgram Now;
    TChannelProgram Next;
    std::vector<int32_t> Slots;
};

// Folds descriptions on a thread of its own, so a large guide's first description search does not
// hold the window. Jobs go in and finished rows come out on the caller's thread; notify is called
// on the worker's thread, at most once until the next take().
class GuideDescriptionFolder {
public:
    struct Done {
        int Row = 0;
        quint64 Generation = 0;
        std::shared_ptr<const GuideRowDescriptions> Descriptions;
    };

    GuideDescriptionFolder() = default;
    ~GuideDescriptionFolder();
    GuideDescriptionFolder(const GuideDescriptionFolder&) = delete;
    GuideDescriptionFolder& operator=(const GuideDescriptionFolder&) = delete;

    void setNotify(std::function<void()> notify);
    void add(std::vector<GuideDescriptionJob> jobs);
    // Drops the jobs not begun; their rows are gone.
    void cancel();
    std::vector<Done> take();
    // Stops the thread and waits for it.
    void stop();

    static std::shared_ptr<const GuideRowDescriptions> fold(const GuideDescriptionJob& job);

private:
    void run();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<GuideDescriptionJob> m_jobs;
    std::vector<Done> m_done;
    std::function<void()> m_notify;
    bool m_notified = false;
    bool m_stop = false;
    std::thread m_thread;
};
