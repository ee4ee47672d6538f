#include "playback/streamsetup.h"

#include "box/boxcommands.h"
#include "box/httpengine.h"
#include "core/appflags.h"
#include "core/log.h"
#include "core/options.h"
#include "core/settingsstore.h"

#include <cmath>

namespace {

constexpr int kStreamUdp = 1;
constexpr int kMaxPid = 0x1FFF;

std::optional<int> toInt(const QString& text) {
    bool ok = false;
    const int v = text.trimmed().toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return v;
}

QString beforeFirstBlank(QStringView line) {
    const qsizetype blank = line.indexOf(QLatin1Char(' '));
    return (blank < 0 ? line : line.left(blank)).toString();
}

bool isTeletextLine(QStringView line) {
    return line.contains(QLatin1String("VTXT"), Qt::CaseInsensitive);
}

bool isPidListEnd(QStringView line) {
    return isTeletextLine(line) || line.contains(QLatin1String("PMT"), Qt::CaseInsensitive);
}

// The streaminfo answer's fields are its first six lines; the rest of a longer answer is not read.
constexpr int kDescriptionLines = 6;

// The descriptive fields of the streaminfo answer, read in line order: a line that is missing or
// cannot be read leaves its field and the later ones empty. The PIDs are read regardless, as the
// stream does not depend on these texts.
void readDescription(const QStringList& lines, AppMode mode, const StreamSettings& s, TStreamInfo& info) {
    if (lines.isEmpty())
        return;
    const bool online = mode == AppMode::Online;
    if (online) {
        // The transcoded size; a failure here leaves only the size empty.
        const std::optional<int> w = scaledDimension(s.VScale, lines.value(0));
        const std::optional<int> h = scaledDimension(s.VScale, lines.value(1));
        if (w && h && lines.size() >= 2)
            info.Resolution = QString::number(*w) + QLatin1Char('x') + QString::number(*h);
        info.VideoRate = s.VCodec + QLatin1Char(' ') + s.VBitrate + QStringLiteral("kbit");
    } else {
        if (lines.size() < 2)
            return;
        info.Resolution = lines[0] + QLatin1Char('x') + lines[1];
        if (lines.size() < 3)
            return;
        // The receiver gives bytes per second (the MPEG bit-rate field times 50), not bits.
        const std::optional<int> bytesPerSec = toInt(lines[2]);
        if (!bytesPerSec)
            return;
        info.VideoRate = QString::number(qint64(*bytesPerSec) * 8 / 1000) + QStringLiteral("kbit");
    }
    if (lines.size() < 4)
        return;
    info.Format = lines[3];
    if (lines.size() < 5)
        return;
    info.FrameRate = lines[4] + QStringLiteral("fps");
    if (online)
        info.Audio = s.ACodec + QLatin1Char(' ') + s.ABitrate + QStringLiteral("kbit");
    else if (lines.size() >= 6)
        info.Audio = lines[5];
}

// The PID list: video first, then audio lines up to the teletext or PMT line, then those two.
// Walked line by line: the end line may come after any number of audio lines.
bool readPids(QStringView videoLine, AnswerLines& rest, TStreamInfo& info, QList<TAudioMenuItem>& menu) {
    info.VideoPid = videoLine.toString();
    QStringView line;
    bool ended = false;
    while (rest.next(line)) {
        if (isPidListEnd(line)) {
            ended = true;
            break;
        }
        // The record has room for eleven audio PIDs; a longer list is cut there.
        if (info.AudioSlotsUsed < TStreamInfo::kAudioSlots) {
            const qsizetype blank = line.indexOf(QLatin1Char(' '));
            const int slot = info.AudioSlotsUsed++;
            info.AudioPids[slot] = (blank < 0 ? line : line.left(blank)).trimmed().toString();
            info.AudioNames[slot] = blank < 0 ? QString() : line.mid(blank + 1).trimmed().toString();
            // The receiver pads PIDs with zeros ("00000"); a zero PID is no track however it is written.
            if (toInt(info.AudioPids[slot]).value_or(-1) != 0)
                menu.append(TAudioMenuItem{info.AudioNames[slot], false, slot});
        }
    }
    if (!menu.isEmpty())
        menu.first().Checked = true;
    if (!ended)
        return true;
    if (isTeletextLine(line)) {
        info.TeletextPid = beforeFirstBlank(line);
        // A teletext line with nothing after it leaves the PMT unknown.
        QStringView pmtLine;
        if (!rest.next(pmtLine))
            return false;
        info.PmtPid = beforeFirstBlank(pmtLine);
    } else {
        info.PmtPid = beforeFirstBlank(line);
    }
    return true;
}

std::optional<QString> joinedAudio(const TStreamInfo& info, const QString& separator) {
    QStringList parts;
    for (int i = 0; i < info.AudioSlotsUsed; ++i) {
        const std::optional<QString> h = hex4(info.AudioPids[i]);
        if (!h)
            return std::nullopt;
        parts.append(*h);
    }
    return parts.join(separator);
}

} // namespace

StreamSettings StreamSettings::fromStore(const SettingsStore& store) {
    StreamSettings s;
    s.VCodec = store.value(SettingId::VCodec);
    s.VBitrate = store.value(SettingId::VBitrate);
    s.VScale = store.value(SettingId::VScale);
    s.ACodec = store.value(SettingId::ACodec);
    s.ABitrate = store.value(SettingId::ABitrate);
    s.VlcIp = store.value(SettingId::VlcIp);
    s.StreamPortHttp = store.value(SettingId::StreamPortHttp);
    s.CacheOnline = store.value(SettingId::CacheOnline);
    s.CacheLive = store.value(SettingId::CacheLive);
    return s;
}

std::optional<QString> hex4(const QString& decimalPid) {
    const std::optional<int> v = toInt(decimalPid);
    if (!v || *v < 0 || *v > kMaxPid)
        return std::nullopt;
    return QStringLiteral("0x") + QString::number(*v, 16).toUpper().rightJustified(4, QLatin1Char('0'));
}

std::optional<int> scaledDimension(const QString& vscale, const QString& dimension) {
    QString scaleText = vscale.trimmed();
    scaleText.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double scale = scaleText.toDouble(&ok);
    const std::optional<int> n = toInt(dimension);
    if (!ok || !n || !std::isfinite(scale))
        return std::nullopt;
    const double scaled = std::nearbyint((scale + 0.01111111) * double(*n));
    if (!std::isfinite(scaled) || std::fabs(scaled) > 1e9)
        return std::nullopt;
    return int(scaled);
}

ParsedStreamInfo parseStreamInfo(const QString& streamInfoAnswer, const QString& pidsAnswer, AppMode mode,
                                 const StreamSettings& settings) {
    ParsedStreamInfo out;
    readDescription(splitAnswerLines(streamInfoAnswer, kDescriptionLines), mode, settings, out.info);
    AnswerLines pids(pidsAnswer);
    QStringView videoLine;
    if (!pids.next(videoLine)) {
        out.pidsComplete = true;
        return out;
    }
    QList<TAudioMenuItem> menu;
    out.pidsComplete = readPids(videoLine, pids, out.info, menu);
    out.menu = menu;
    return out;
}

std::optional<QString> buildLiveURL(const TStreamInfo& info, TChannelMode channelMode, AppMode mode, int streamType) {
    if (streamType == kStreamUdp) {
        const std::optional<QString> pmt = hex4(info.PmtPid);
        const std::optional<QString> video = hex4(info.VideoPid);
        const std::optional<QString> audio = joinedAudio(info, QStringLiteral(" "));
        if (!pmt || !video || !audio)
            return std::nullopt;
        QString url = BoxURL(QStringLiteral("http://<IP:PORT>/control/exec?api udp_stream start ")) +
                      (mode == AppMode::Online ? Options.UdpTargetVlc : Options.UdpTargetPc) + QStringLiteral(" 0 ") +
                      *pmt + QLatin1Char(' ') + *video + QLatin1Char(' ');
        Log(LogFunc, QStringLiteral("LiveURL:") + url);
        return url + *audio;
    }
    const std::optional<QString> audio = joinedAudio(info, QStringLiteral(","));
    if (!audio)
        return std::nullopt;
    QString url;
    if (channelMode == mRadio) {
        url = BoxURL(QStringLiteral("http://<IP:31338/")) + *audio;
    } else {
        const std::optional<QString> pmt = hex4(info.PmtPid);
        const std::optional<QString> video = hex4(info.VideoPid);
        if (!pmt || !video)
            return std::nullopt;
        url = BoxURL(QStringLiteral("http://<IP:31339/0,")) + *pmt + QLatin1Char(',') + *video + QLatin1Char(',') +
              *audio;
    }
    Log(LogFunc, QStringLiteral("LiveURL: ") + url);
    return url;
}

StreamSetup::StreamSetup(BoxClient& box, StreamSetupView& view)
    : m_box(box)
    , m_view(view) {}

TStreamInfo StreamSetup::GetStreamInfo(TChannelMode channelMode) {
    LiveURL.clear();
    const QString info = m_box.BoxRequest(BoxURL(QStringLiteral("http://<IP:PORT>/control/info?streaminfo")));
    const QString pids = m_box.BoxRequest(BoxURL(QStringLiteral("http://<IP:PORT>/control/zapto?getallpids")));
    return takeStreamInfo(info, pids, channelMode);
}

TStreamInfo StreamSetup::takeStreamInfo(const QString& info, const QString& pids, TChannelMode channelMode) {
    LiveURL.clear();
    ParsedStreamInfo parsed = parseStreamInfo(info, pids, Options.Mode, m_settings);
    if (parsed.menu)
        AudioMenu = *parsed.menu;
    if (parsed.pidsComplete) {
        if (const std::optional<QString> url = buildLiveURL(parsed.info, channelMode, Options.Mode, Options.StreamType))
            LiveURL = *url;
    }
    if (LiveURL.isEmpty())
        Log(LogFunc, QStringLiteral("GetStreamInfo: no usable PID list"));
    StreamInfo = parsed.info;
    return parsed.info;
}

void StreamSetup::SetDboxMode(const TChannel& channel) {
    Log(LogFunc, QStringLiteral("SetDboxMode()"));
    const bool quoxel = Options.Mode == AppMode::Quoxel;
    if (channel.Mode != mRadio) {
        m_view.showRadioBackground(false);
        m_view.processPendingEvents();
        if (quoxel)
            return;
        if (m_box.BoxRequest(BoxURL(QStringLiteral("http://<IP:PORT>/control/getmode"))) == QLatin1String("radio")) {
            ShowStatus(QStringLiteral("setting tv mode..."));
            m_box.BoxRequest(BoxURL(QStringLiteral("http://<IP:PORT>/control/setmode?tv")));
        }
        if (!m_view.isSptsChecked()) {
            m_box.BoxRequest(BoxURL(QStringLiteral("http://<IP:PORT>/control/system?setAViAExtPlayBack=spts")));
            m_view.setSptsChecked(true);
        }
        return;
    }
    m_view.showRadioBackground(true);
    m_view.processPendingEvents();
    if (!quoxel &&
        m_box.BoxRequest(BoxURL(QStringLiteral("http://<IP:PORT>/control/getmode"))) == QLatin1String("tv")) {
        m_box.BoxRequest(BoxURL(QStringLiteral("http://<IP:PORT>/control/system?setAViAExtPlayBack=pes")));
        m_view.setSptsChecked(false);
        m_box.BoxRequest(BoxURL(QStringLiteral("http://<IP:PORT>/control/setmode?radio")));
        ShowStatus(QStringLiteral("setting radio mode..."));
    }
    m_view.processPendingEvents();
}

void StreamSetup::UDPStream1Click(TChannelMode aktChannelMode) {
    if (aktChannelMode == mRadio)
        return;
    m_view.setBusyCursor(true);
    m_view.processPendingEvents();
    if (Options.StreamType == kStreamUdp) {
        Options.StreamType = 0;
        m_view.setUdpStreamChecked(false);
        m_view.stopEngineTwice();
        m_box.BoxRequest(BoxURL(QStringLiteral("http://<IP:PORT>/control/exec?api udp_stream kill_all_streams")));
    } else {
        Options.StreamType = kStreamUdp;
        m_view.setUdpStreamChecked(true);
    }
    if (m_view.hasChannelSelection() && !IsSwitching.load())
        m_view.switchToSelectedChannel();
    m_view.setBusyCursor(false);
}

std::optional<QString> StreamSetup::CopyLiveURL1Click() const {
    if (!m_view.hasChannelSelection())
        return std::nullopt;
    return LiveURL;
}

void StreamSetup::checkAudioItem(int index) {
    for (int i = 0; i < AudioMenu.size(); ++i)
        AudioMenu[i].Checked = i == index;
}
