#include "playback/remotevlc.h"

#include "box/boxcommands.h"
#include "box/httpengine.h"
#include "core/appflags.h"
#include "core/log.h"
#include "core/options.h"
#include "playback/streamsetup.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr int kStreamUdp = 1;

const QString kCache = QStringLiteral("<cache>");

bool isDigits(const QString& s) {
    if (s.isEmpty() || s.size() > 9)
        return false;
    for (const QChar c : s) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

bool isSuccess(int status) {
    return status >= 200 && status < 300;
}

// Every page of the old interface names the player; an error page of some other server does not.
bool looksLikeVlcPage(const QString& page) {
    return page.contains(QLatin1String("VLC"), Qt::CaseInsensitive) ||
           page.contains(QLatin1String("VideoLAN"), Qt::CaseInsensitive);
}

QString decodeEntities(QStringView text) {
    QString out = text.toString();
    out.replace(QLatin1String("&lt;"), QLatin1String("<"));
    out.replace(QLatin1String("&gt;"), QLatin1String(">"));
    out.replace(QLatin1String("&quot;"), QLatin1String("\""));
    out.replace(QLatin1String("&#39;"), QLatin1String("'"));
    out.replace(QLatin1String("&amp;"), QLatin1String("&"));
    return out;
}

// VLC 3 ignores the per-access caching options without a word; its one network caching option
// does their job.
QString luaOption(const QString& option) {
    for (const char* old : {":http-caching=", ":udp-caching="}) {
        if (option.startsWith(QLatin1String(old)))
            return QStringLiteral(":network-caching=") + option.mid(qsizetype(qstrlen(old)));
    }
    return option;
}

// The Lua interface's basic auth (empty user); a header, so it never reaches the log.
QString luaAuthHeader(const QString& password) {
    return QStringLiteral("Authorization: Basic ") +
           QString::fromLatin1((QByteArray(":") + password.toUtf8()).toBase64());
}

// The header on a client for one request that runs no other command meanwhile.
class LuaAuth {
public:
    LuaAuth(TIEHTTP& http, const QString& password)
        : m_http(http)
        , m_saved(http.ExtraHeaders) {
        m_http.ExtraHeaders.append(luaAuthHeader(password));
    }
    ~LuaAuth() { m_http.ExtraHeaders = m_saved; }
    LuaAuth(const LuaAuth&) = delete;
    LuaAuth& operator=(const LuaAuth&) = delete;

private:
    TIEHTTP& m_http;
    QStringList m_saved;
};

} // namespace

QString playItemFromPage(const QString& page) {
    const QString marker = QString::fromLatin1(kPlayLinkMarker);
    // Each marker found takes the one character after it too; the text behind the last one stays.
    qsizetype from = 0;
    for (qsizetype at = page.indexOf(marker, from); at >= 0; at = page.indexOf(marker, from))
        from = std::min(page.size(), at + marker.size() + 1);
    const QString rest = page.mid(from);
    const qsizetype tem = rest.indexOf(QLatin1String("tem="));
    if (tem < 0)
        return QString();
    const QString after = rest.mid(tem + 4).trimmed();
    const qsizetype quote = after.indexOf(QLatin1Char('"'));
    return (quote < 0 ? after : after.left(quote)).trimmed();
}

QString playItemForMrl(const QString& page, const QString& mrl) {
    if (mrl.isEmpty())
        return QString();
    const QString marker = QString::fromLatin1(kPlayLinkMarker);
    const QStringView all(page);
    QString found;
    for (qsizetype at = page.indexOf(marker); at >= 0;) {
        const qsizetype next = page.indexOf(marker, at + marker.size());
        // item=N">name (address)</a>
        const QStringView link = all.mid(at + marker.size(), (next < 0 ? page.size() : next) - at - marker.size());
        const qsizetype quote = link.indexOf(QLatin1Char('"'));
        const qsizetype close = link.indexOf(QLatin1String("</a>"));
        if (link.startsWith(QLatin1String("item=")) && quote > 5 && close > quote &&
            decodeEntities(link.mid(quote + 1, close - quote - 1)).contains(mrl))
            found = link.mid(5, quote - 5).trimmed().toString();
        at = next;
    }
    return found;
}

QString playItemFor(const QString& page, const QString& mrl) {
    // VLC 0.8 lists a node with its own play link before the items, and announced streams after
    // them: the item just added is the link that shows its MRL. The last link is the fallback.
    QString item = playItemForMrl(page, mrl);
    if (item.isEmpty())
        item = playItemFromPage(page);
    if (!item.isEmpty() && !isDigits(item)) {
        Log(LogFunc, QStringLiteral("remote VLC: no item number on its page"));
        item.clear();
    }
    return item;
}

RemoteItem remoteItem(const QString& liveUrl, TChannelMode channelMode, int streamType,
                      const StreamSettings& settings) {
    const QString dst =
        QStringLiteral(",dst=") + settings.VlcIp + QLatin1Char(':') + settings.StreamPortHttp + QStringLiteral("}}");
    RemoteItem item;
    if (channelMode == mRadio) {
        item.Mrl = liveUrl;
        item.Options = {VlcURL(QStringLiteral(":http-caching=<cache>"), kCache, settings.CacheOnline),
                        Options.SoutAudio + dst};
    } else if (streamType == kStreamUdp) {
        item.Mrl = QStringLiteral("udp://@:") + Options.StreamPortUdp;
        item.Options = {VlcURL(QStringLiteral(":udp-caching=<cache>"), kCache, settings.CacheOnline),
                        Options.SoutVideo + dst};
    } else {
        item.Mrl = liveUrl;
        item.Options = {VlcURL(QStringLiteral(":http-caching=<cache>"), kCache, settings.CacheOnline),
                        Options.SoutVideo + dst};
    }
    return item;
}

QString classicAddRequest(const QString& liveUrl, TChannelMode channelMode, int streamType,
                          const StreamSettings& settings) {
    const RemoteItem item = remoteItem(liveUrl, channelMode, streamType, settings);
    return VlcURL(QStringLiteral("http://<IP:PORT>/?control=add&mrl=")) + QLatin1Char(' ') + item.Mrl +
           QLatin1Char(' ') + item.Options.join(QLatin1Char(' '));
}

QStringList onlineLocalOptions(int streamType, const StreamSettings& settings) {
    QStringList options{
        VlcURL(streamType == kStreamUdp ? QStringLiteral(":udp-caching=<cache>")
                                        : QStringLiteral(":http-caching=<cache>"),
               kCache, settings.CacheOnline),
        VlcURL(QStringLiteral(":deinterlace-mode=<dmode>"), QStringLiteral("<dmode>"), QStringLiteral("mean"))};
    if (Options.ProvideStream)
        options.append(QStringLiteral(":sout=#duplicate{dst=display,dst=std{access=http,mux=ts,dst=") + Options.IpPc +
                       QLatin1Char(':') + Options.StreamPortProv + QStringLiteral("}}"));
    return options;
}

QString luaQueryValue(const QString& value) {
    static const QByteArray plain("-._~:/,");
    QString out;
    for (const char ch : value.toUtf8()) {
        const auto c = static_cast<unsigned char>(ch);
        if (std::isalnum(c) && c < 0x80) {
            out += QLatin1Char(ch);
        } else if (plain.contains(ch)) {
            out += QLatin1Char(ch);
        } else {
            // "%25" reaches the wire as "%" after the HTTP engine's own decoding, so the interface
            // decodes the character once, after splitting the query at "&" and "=".
            out += QStringLiteral("%25") + QString::number(c, 16).rightJustified(2, QLatin1Char('0')).toUpper();
        }
    }
    return out;
}

RemoteVlc::RemoteVlc(RemoteVlcHost& host)
    : m_host(host) {}

RemoteVlc::~RemoteVlc() = default;

void RemoteVlc::setPassword(const QString& password) {
    if (password != m_password)
        m_known = false;
    m_password = password;
}

QString RemoteVlc::request(const QString& url, const Sender& send) {
    if (!m_box)
        return QString();
    if (m_active != RemoteVlcInterface::Lua)
        return send ? send(url) : m_box->BoxRequest(url);
    // The password goes only with this request: the request call lets other commands (to the
    // receiver) run while it waits, and those must not carry it.
    if (!send)
        return m_box->BoxRequest(url, {luaAuthHeader(m_password)});
    LuaAuth auth(m_box->http(), m_password);
    return send(url);
}

int RemoteVlc::lastStatus() const {
    return m_box ? m_box->http().StatusCode : 0;
}

QString RemoteVlc::MainPage() {
    m_known = false;
    if (!m_box)
        return QString();
    // VLC 2 and later want a password; without one only the old interface can be meant.
    if (!m_password.isEmpty()) {
        m_active = RemoteVlcInterface::Lua;
        const QString status = request(VlcURL(QStringLiteral("http://<IP:PORT>/requests/status.xml")));
        // 0.8.6 has a status page too, without the API version of the Lua interface.
        if (isSuccess(lastStatus()) && status.contains(QLatin1String("<root>")) &&
            status.contains(QLatin1String("<apiversion>"))) {
            Log(LogFunc, QStringLiteral("remote VLC speaks the Lua interface"));
            m_known = true;
            return status;
        }
    }
    m_active = RemoteVlcInterface::Classic;
    const QString url = VlcURL(QStringLiteral("http://<IP:PORT>"));
    const QString page = request(url);
    const int status = lastStatus();
    if (isSuccess(status) && looksLikeVlcPage(page)) {
        m_known = true;
        return page;
    }
    // Reachable but refusing: the log says what the user can do about it.
    if (status == 401)
        Log(LogMsg, QStringLiteral("remote VLC: it asks for a password (vlcpassword in the options)"));
    else if (status == 403)
        Log(LogMsg,
            QStringLiteral("remote VLC: it refuses this PC (403); its .hosts file must list this PC's address"));
    else if (!page.isEmpty() || status != 0)
        Log(LogMsg, QStringLiteral("remote VLC: the answer of ") + url + QStringLiteral(" is not its web interface (") +
                        QString::number(status) + QLatin1Char(')'));
    return QString();
}

bool RemoteVlc::notAvailable(const QString& liveUrl) {
    if (!liveUrl.contains(QLatin1String("0,0x0000,0x0000,0x0000")) &&
        !liveUrl.contains(QLatin1String("0 0x0000 0x0000 0x0000")))
        return false;
    ShowStatus(QStringLiteral("stream is not available!"));
    if (!m_host.isFullscreen() && m_host.isChannelBoxEnabled())
        m_host.setBusyCursor(false);
    IsSwitching.store(false);
    m_host.startEpgTimer();
    return true;
}

bool RemoteVlc::StartOnline(StreamSetup& setup, TChannelMode channelMode) {
    // After a change of the settings the remote is asked again which interface it speaks; one
    // that does not answer is driven the old way, as the requests cost only their time-outs.
    if (!m_known)
        MainPage();
    return m_active == RemoteVlcInterface::Lua ? startLua(setup, channelMode) : startClassic(setup, channelMode);
}

namespace {

// A radio channel is always fetched over HTTP: the box's UDP command is no address a remote VLC
// can open, and a radio stream has no UDP start of its own.
QString remoteSource(const StreamSetup& setup, TChannelMode channelMode) {
    if (channelMode != mRadio || Options.StreamType != kStreamUdp || !setup.StreamInfo)
        return setup.LiveURL;
    return buildLiveURL(*setup.StreamInfo, mRadio, Options.Mode, 0).value_or(QString());
}

} // namespace

bool RemoteVlc::startClassic(StreamSetup& setup, TChannelMode channelMode) {
    m_host.processPendingEvents();
    ShowStatus(QStringLiteral("preparing vlc..."));
    request(VlcURL(QStringLiteral("http://<IP:PORT>/?control=empty")));
    Delay(500, true);
    if (notAvailable(setup.LiveURL))
        return false;
    m_host.processPendingEvents();
    const QString source = remoteSource(setup, channelMode);
    request(classicAddRequest(source, channelMode, Options.StreamType, setup.settings()));
    Delay(1000, true);
    m_host.processPendingEvents();
    const QString page = request(VlcURL(QStringLiteral("http://<IP:PORT>")));
    Delay(200, true);
    const QString item = playItemFor(page, remoteItem(source, channelMode, Options.StreamType, setup.settings()).Mrl);
    m_host.processPendingEvents();
    request(VlcURL(QStringLiteral("http://<IP:PORT>/?control=play&item=")) + item);
    Delay(1000, true);
    playLocally(setup, channelMode);
    return true;
}

bool RemoteVlc::startLua(StreamSetup& setup, TChannelMode channelMode) {
    m_host.processPendingEvents();
    ShowStatus(QStringLiteral("preparing vlc..."));
    request(VlcURL(QStringLiteral("http://<IP:PORT>/requests/status.xml?command=pl_empty")));
    Delay(500, true);
    if (notAvailable(setup.LiveURL))
        return false;
    m_host.processPendingEvents();
    const RemoteItem item =
        remoteItem(remoteSource(setup, channelMode), channelMode, Options.StreamType, setup.settings());
    QString url =
        VlcURL(QStringLiteral("http://<IP:PORT>/requests/status.xml?command=in_play&input=")) + luaQueryValue(item.Mrl);
    for (const QString& option : item.Options)
        url += QStringLiteral("&option=") + luaQueryValue(luaOption(option));
    request(url);
    Delay(1000, true);
    playLocally(setup, channelMode);
    return true;
}

void RemoteVlc::playLocally(StreamSetup& setup, TChannelMode channelMode) {
    const bool udp = Options.StreamType == kStreamUdp && channelMode != mRadio;
    m_host.processPendingEvents();
    const QString mrl = QStringLiteral("http://") + Options.OnlineStreamAddress;
    m_host.addTarget(mrl, onlineLocalOptions(udp ? kStreamUdp : 0, setup.settings()));
    Delay(500, true);
    if (udp) {
        m_host.play(false);
        if (m_box)
            m_box->QuickRequest(setup.LiveURL);
        m_host.waitCaching();
    } else {
        m_host.play(true);
    }
    setup.LiveURL = mrl;
}

void RemoteVlc::RemoteStop(const Sender& send) {
    if (m_active == RemoteVlcInterface::Lua)
        request(VlcURL(QStringLiteral("http://<IP:PORT>/requests/status.xml?command=pl_stop")), send);
    else
        request(VlcURL(QStringLiteral("http://<IP:PORT>/?control=stop")), send);
}

void RemoteVlc::OnlineMode1Click() {
    m_host.setBusyCursor(true);
    m_host.processPendingEvents();
    if (Options.Mode != AppMode::Online) {
        if (MainPage().isEmpty()) {
            ShowStatus(QStringLiteral("remote vlc is not available!"));
            m_host.showSplashStatus(QStringLiteral("remote vlc is not available..."));
            m_host.setBusyCursor(false);
            return;
        }
        Options.Mode = AppMode::Online;
        m_host.setOnlineChecked(true);
    } else {
        RemoteStop();
        Options.Mode = AppMode::Live;
        m_host.setOnlineChecked(false);
    }
    if (m_host.hasChannelSelection() && !IsSwitching.load())
        m_host.switchToSelectedChannel();
    m_host.setBusyCursor(false);
}
