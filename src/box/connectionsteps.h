#pragma once

#include "box/bouquets.h"
#include "box/epgparse.h"
#include "box/epgthread.h"
#include "box/records.h"
#include "core/ports.h"

#include <functional>
#include <memory>

class BoxClient;
class CertPins;
class TIEHTTP;

// The receiver's side of start-up, close and re-initialisation: the two HTTP clients, the bouquet
// model and the channel on air. The main window owns one and hands it to Connection and
// Lifecycle. UI thread.
class BoxSession final : public ConnectionSteps, public ShutdownSteps {
public:
    BoxSession();
    ~BoxSession() override;
    BoxSession(const BoxSession&) = delete;
    BoxSession& operator=(const BoxSession&) = delete;

    // ConnectionSteps
    void createClients(const QString& user, const QString& password) override;
    void setMainTimeout(int seconds) override;
    QString requestBoxTime() override;
    QString refusedText() override;
    QString requestVlcPage() override;
    QString requestRecordState() override;
    QString requestStandbyState() override;
    QString requestPlaybackFormat() override;
    void sendMessage(const QString& text) override;
    void lockRc() override;
    bool loadBouquets() override;
    void loadChannels() override;
    QString requestCurrentChannel() override;
    AktChannelPick selectAktChannel(const QString& id) override;
    void loadAllChannelEPG() override;

    // ShutdownSteps
    void abortEPG() override;
    void stopRemoteVlc(int limitMs) override;
    void unlockRc(int limitMs) override;
    void sendMessage(const QString& text, int limitMs) override;
    void setPesPlayback(int limitMs) override;
    void resetChannelEPG() override;
    void releaseClients() override;

    // Where both clients remember and look up the receiver's HTTPS keys (trust on first use);
    // installed on the clients now and on every later createClients. Null: no store, so a
    // self-signed receiver is refused. Replace it only while no request runs on another thread.
    void setKeyStore(std::unique_ptr<CertPins> pins);
    CertPins* keyStore() const { return m_keyStore.get(); }

    // The remote VLC's probe (its page, empty when it is not reachable) and its bounded stop, for
    // the start-up and the close; the layer above knows which interface it speaks. Unset: the old
    // interface's "http://<IP:PORT>" and "/?control=stop".
    void setRemoteVlc(std::function<QString()> probe, std::function<void(int limitMs)> stop) {
        m_vlcProbe = std::move(probe);
        m_vlcStop = std::move(stop);
    }

    // The EPG client's login and trust settings, for the background walk's own client.
    EPGClientSettings epgClientSettings() const;

    // Null before createClients and after releaseClients.
    TIEHTTP* mainHttp() const { return m_mainHttp.get(); }
    TIEHTTP* epgHttp() const { return m_epgHttp.get(); }
    BoxClient* box() const { return m_box.get(); }

    // The bouquets and the shown bouquet's channels; lives as long as the session.
    TBouquetModel& model() { return m_model; }
    const TBouquetModel& model() const { return m_model; }
    // The channel on air.
    TChannelRef AktChannel;

    // Asked between the lines of the all-channel EPG load; true stops it (the window also lets
    // messages run in it).
    void setEPGLoadStop(StopFn stop) { m_epgStop = std::move(stop); }

    // The bouquet list and the shown bouquet read anew, as the receiver's lists change while it
    // records: the bouquet it reports, and the channel on air selected (as the new record) when it
    // is still there. False without a bouquet list.
    bool reloadBouquets();

    // The request BoxClient::BoxRequest makes, or empty without a client.
    QString request(const QString& url);
    // One request that waits at most limitMs for its answer, also after IsClosing is set; the
    // answer is given up after that and its worker abandoned safely. Empty without an answer.
    QString boundedRequest(const QString& url, int limitMs);

private:
    void installKeyStore();

    std::unique_ptr<CertPins> m_keyStore; // outlives the clients: released after them
    std::unique_ptr<TIEHTTP> m_mainHttp;
    std::unique_ptr<TIEHTTP> m_epgHttp;
    std::unique_ptr<BoxClient> m_box;
    TBouquetModel m_model;
    StopFn m_epgStop;
    std::function<QString()> m_vlcProbe;
    std::function<void(int)> m_vlcStop;
};
