#pragma once

#include "box/httpengine.h"
#include "box/records.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QThread>

#include <functional>
#include <memory>

// What the worker needs of one channel; taken on the UI thread when the thread starts. The
// record's EPGLoaded is read live, as the UI thread may set or clear it while the walk runs.
struct EPGChannelJob {
    QString Id;
    QString Url;
    TChannelMode Mode = mTV;
    TChannelRef Channel;
    // The worker's own mark after a fetch, in force until the UI thread has applied the result.
    bool FetchedLoaded = false;
};

// One fetched channel, handed to the UI thread; Parsed is false when the answer changed nothing.
struct EPGResult {
    int Position = 0;
    QString Id;
    bool Parsed = false;
    QList<TChannelProgram> Programs;
};
Q_DECLARE_METATYPE(EPGResult)

// The pauses of the walk, in ms.
struct EPGPacing {
    int BeforeLoadMs = 5000;
    int ShortMs = 20;
    int StepMs = 1600;
    int RadioPassMs = 5000;
    int TimeoutSec = 20;
};

// The header of the channel panel and the OSD channel list while the lists arrive.
inline QString ChannelPreviewCaption(int loaded, int total) {
    return QStringLiteral("Channel Preview (%1/%2)").arg(loaded).arg(total);
}

// The worker's HTTP client is the session's EPG client to the receiver; taken at each start.
using EPGClientSettings = TIEHTTPIdentity;

struct EPGShared;

// Fetches channel lists in the background, one channel at a time, on its own thread with its own
// HTTP client. Results come back queued and are written into the channel records here. UI thread.
class EPGThread : public QObject {
    Q_OBJECT
public:
    explicit EPGThread(EPGPacing pacing = {}, QObject* parent = nullptr);
    ~EPGThread() override;

    // Starts a fresh loop over channels from the selected position; false when already running.
    bool start(const QList<TChannelRef>& channels, int selected, bool aktIsRadio, bool isStarting);
    bool isRunning() const;
    // The channel box selection and the mode of the channel on air, as the UI changes them.
    void setSelected(int position);
    void setAktRadio(bool radio);
    // The channels a view shows without their list, fetched first, one per step of the walk at its
    // own pace; replaces the last such list and holds for later starts. Channels outside the
    // walk's list (another bouquet's) are fetched into these records.
    void setInView(const QList<TChannelRef>& channels);
    // Tells the worker to end and waits at most 300 x 20 ms; returns the number of waits.
    int StopEPGThread(bool showMessage);
    // Where each start takes its client settings from; unset, the worker's client has none.
    void setClientSettings(std::function<EPGClientSettings()> source) { m_settings = std::move(source); }

Q_SIGNALS:
    void channelApplied(int position, int loaded, int total);
    void finished();

private:
    void applyResult(const EPGResult& result);
    QList<EPGChannelJob> inViewJobs() const;

    struct ThreadStop {
        void operator()(QThread* thread) const;
    };
    EPGPacing m_pacing;
    std::function<EPGClientSettings()> m_settings;
    QList<TChannelRef> m_channels;
    QList<TChannelRef> m_inView;
    std::shared_ptr<EPGShared> m_shared;
    std::unique_ptr<QThread, ThreadStop> m_thread;
};
