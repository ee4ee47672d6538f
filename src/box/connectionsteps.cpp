#include "box/connectionsteps.h"

#include "box/boxcommands.h"
#include "box/httpengine.h"
#include "core/appflags.h"
#include "core/certpins.h"
#include "core/log.h"
#include "core/options.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

constexpr int kFirstRequestTimeoutSec = 3000;
constexpr int kEPGTimeoutSec = 20;

// A flag that turns true at a deadline, for the client to give up its wait there. The timer
// thread ends early when the request is over.
class DeadlineFlag {
public:
    explicit DeadlineFlag(int limitMs)
        : m_thread([this, limitMs] {
            std::unique_lock lock(m_mutex);
            if (!m_cv.wait_for(lock, std::chrono::milliseconds(limitMs), [this] { return m_over; }))
                flag = true;
        }) {}
    ~DeadlineFlag() {
        {
            std::lock_guard lock(m_mutex);
            m_over = true;
        }
        m_cv.notify_all();
        m_thread.join();
    }
    DeadlineFlag(const DeadlineFlag&) = delete;
    DeadlineFlag& operator=(const DeadlineFlag&) = delete;

    std::atomic<bool> flag{false};

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_over = false;
    std::thread m_thread;
};

} // namespace

BoxSession::BoxSession()
    : m_model([this](const QString& url) { return request(url); }) {}

BoxSession::~BoxSession() {
    releaseClients();
}

QString BoxSession::request(const QString& url) {
    if (!m_box)
        return QString();
    const QString answer = m_box->BoxRequest(url);
    // A refused key is the one failure the user must act on; the log line carries it as well.
    if (m_mainHttp && m_mainHttp->ErrorText == QLatin1String(kChangedCertificateText))
        ShowStatus(m_mainHttp->ErrorText);
    return answer;
}

void BoxSession::setKeyStore(std::unique_ptr<CertPins> pins) {
    m_keyStore = std::move(pins);
    installKeyStore();
}

void BoxSession::installKeyStore() {
    for (TIEHTTP* http : {m_mainHttp.get(), m_epgHttp.get()}) {
        if (!http)
            continue;
        CertPins* pins = m_keyStore.get();
        if (!pins) {
            http->TrustedKey = nullptr;
            http->RememberKey = nullptr;
            continue;
        }
        http->TrustedKey = [pins](const QByteArray& hostPort) { return pins->pinFor(hostPort); };
        http->RememberKey = [pins](const QByteArray& hostPort, const QByteArray& pin) {
            if (pins->remember(hostPort, pin))
                Log(LogMsg, QStringLiteral("server key of %1 trusted on first use").arg(QString::fromLatin1(hostPort)));
        };
    }
}

EPGClientSettings BoxSession::epgClientSettings() const {
    return m_epgHttp ? m_epgHttp->identity() : EPGClientSettings{};
}

QString BoxSession::boundedRequest(const QString& url, int limitMs) {
    if (!m_mainHttp)
        return QString();
    TIEHTTP& http = *m_mainHttp;
    const int savedTimeout = http.Timeout;
    http.Timeout = std::max(1, (limitMs + 999) / 1000);
    QString answer;
    {
        // Our own give-up flag stands in for IsClosing during this one request: the request is
        // sent even while closing, and its wait ends at the deadline whatever the receiver does.
        DeadlineFlag deadline(std::max(0, limitMs));
        http.setClosingFlag(&deadline.flag);
        http.ExecuteURL(url);
        http.setClosingFlag(&IsClosing);
        answer = trimAnswer(http.ResponseText);
    }
    Log(LogHttp, url);
    http.Timeout = savedTimeout;
    if (answer.contains(QLatin1String("timeout")))
        return QString();
    return answer;
}

void BoxSession::createClients(const QString& user, const QString& password) {
    releaseClients();
    m_mainHttp = std::make_unique<TIEHTTP>();
    m_mainHttp->Timeout = kFirstRequestTimeoutSec;
    m_epgHttp = std::make_unique<TIEHTTP>();
    m_epgHttp->Timeout = kEPGTimeoutSec;
    for (TIEHTTP* http : {m_mainHttp.get(), m_epgHttp.get()}) {
        http->UserName = user;
        http->Password = password;
        http->setClosingFlag(&IsClosing);
    }
    // The main client also asks the remote VLC, which may sit on the internet: the receiver's web
    // login goes to the receiver's address and port alone.
    m_mainHttp->CredentialsFor = [](const QByteArray& hostPort) {
        return QString::fromLatin1(hostPort).compare(Options.BoxAddress.trimmed(), Qt::CaseInsensitive) == 0;
    };
    installKeyStore();
    m_box = std::make_unique<BoxClient>(*m_mainHttp);
}

void BoxSession::setMainTimeout(int seconds) {
    if (m_mainHttp)
        m_mainHttp->Timeout = seconds;
}

QString BoxSession::requestBoxTime() {
    return request(BoxURL(QStringLiteral("http://<IP:PORT>/control/gettime?rawtime")));
}

QString BoxSession::refusedText() {
    return m_box ? m_box->refusedText() : QString();
}

QString BoxSession::requestVlcPage() {
    if (m_vlcProbe)
        return m_box ? m_vlcProbe() : QString();
    return request(VlcURL(QStringLiteral("http://<IP:PORT>")));
}

QString BoxSession::requestRecordState() {
    return request(BoxURL(QStringLiteral("http://<IP:PORT>/control/setmode?status")));
}

QString BoxSession::requestStandbyState() {
    return request(BoxURL(QStringLiteral("http://<IP:PORT>/control/standby")));
}

QString BoxSession::requestPlaybackFormat() {
    return request(BoxURL(QStringLiteral("http://<IP:PORT>/control/system?getAViAExtPlayBack")));
}

void BoxSession::sendMessage(const QString& text) {
    if (m_box)
        sendBoxMessage(*m_box, text);
}

void BoxSession::lockRc() {
    if (m_box)
        lockRemoteControl(*m_box, true);
}

bool BoxSession::loadBouquets() {
    return m_box && m_model.LoadBouquets();
}

void BoxSession::loadChannels() {
    if (m_box)
        m_model.LoadBouquet(m_model.CurBouquetNr);
}

bool BoxSession::reloadBouquets() {
    if (!m_box)
        return false;
    // The old place in the list means nothing in the new one. Without an answer the old list stays.
    const QList<TBouquetMenuItem> old = m_model.bouquets();
    const QString oldNr = m_model.CurBouquetNr;
    m_model.CurBouquetNr = QStringLiteral("0");
    if (!m_model.LoadBouquets()) {
        m_model.bouquets() = old;
        m_model.CurBouquetNr = oldNr;
        return false;
    }
    m_model.LoadBouquet(m_model.CurBouquetNr);
    const int at = AktChannel ? m_model.LocateChannel(AktChannel->Id) : -1;
    m_model.setSelectedIndex(std::max(at, 0));
    m_model.checkChannelMenu(at);
    if (at >= 0)
        AktChannel = m_model.channelBox()[at].Channel;
    return true;
}

QString BoxSession::requestCurrentChannel() {
    return request(BoxURL(QStringLiteral("http://<IP:PORT>/control/zapto")));
}

AktChannelPick BoxSession::selectAktChannel(const QString& id) {
    AktChannelPick pick;
    const QList<TChannelItem>& items = m_model.channelBox();
    if (items.isEmpty())
        return pick;
    m_model.setSelectedIndex(0);
    for (int i = 0; i < items.size(); ++i) {
        const TChannelRef& channel = items[i].Channel;
        if (!channel) {
            pick.recordMissing = true;
            return pick;
        }
        // No answer is no channel, even if a record carries an empty id.
        if (id.isEmpty() || channel->Id != id)
            continue;
        m_model.setSelectedIndex(i);
        m_model.checkChannelMenu(i);
        AktChannel = channel;
        pick.found = true;
        pick.radio = channel->Mode == mRadio;
        return pick;
    }
    return pick;
}

void BoxSession::loadAllChannelEPG() {
    if (!m_box)
        return;
    QList<TChannelRef> channels;
    for (const TChannelItem& item : m_model.channelBox())
        if (item.Channel)
            channels.append(item.Channel);
    ParseEPG([this](const QString& url) { return request(url); }, channels, m_epgStop);
}

void BoxSession::abortEPG() {
    EPGAbort = true;
}

void BoxSession::stopRemoteVlc(int limitMs) {
    if (m_vlcStop && m_mainHttp) {
        m_vlcStop(limitMs);
        return;
    }
    boundedRequest(VlcURL(QStringLiteral("http://<IP:PORT>/?control=stop")), limitMs);
}

void BoxSession::unlockRc(int limitMs) {
    boundedRequest(BoxURL(QStringLiteral("http://<IP:PORT>/control/rc?unlock")), limitMs);
}

void BoxSession::sendMessage(const QString& text, int limitMs) {
    boundedRequest(BoxURL(QStringLiteral("http://<IP:PORT>/control/message?nmsg=<msg>"), QStringLiteral("<msg>"),
                          encodeMessageText(text)),
                   limitMs);
}

void BoxSession::setPesPlayback(int limitMs) {
    boundedRequest(BoxURL(QStringLiteral("http://<IP:PORT>/control/system?setAViAExtPlayBack=pes")), limitMs);
}

void BoxSession::resetChannelEPG() {
    for (const TChannelItem& item : m_model.channelBox())
        if (item.Channel)
            item.Channel->Clear();
    for (const TBouquetMenuItem& bouquet : m_model.bouquets()) {
        if (!bouquet.Bouquet)
            continue;
        for (const TChannelItem& item : bouquet.Bouquet->Channels)
            if (item.Channel)
                item.Channel->Clear();
    }
}

void BoxSession::releaseClients() {
    // The command layer first: it points at the main client. A client's destructor ends its idle
    // worker and waits a bounded time for the given-up ones, which were told to cancel.
    m_box.reset();
    m_mainHttp.reset();
    m_epgHttp.reset();
}
