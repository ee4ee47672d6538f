#include "core/settingsstore.h"

#include "core/log.h"
#include "core/options.h"
#include "core/ports.h"

namespace {

QString str(const char* s) {
    return QString::fromLatin1(s);
}

QString sectionOf(SettingId id) {
    return str(settingDef(id).section);
}

QString keyOf(SettingId id) {
    return str(settingDef(id).key);
}

bool isWindowKey(const SettingDef& d) {
    return d.type == SettingType::WindowInt || d.type == SettingType::WindowBool;
}

} // namespace

QString soutVideo(const QString& vcodec, const QString& vbitrate, const QString& scale, const QString& acodec,
                  const QString& abitrate, const QString& achannels) {
    QString s = scale;
    s.replace(QLatin1Char(','), QLatin1Char('.'));
    return QStringLiteral(":sout=#transcode{vcodec=") + vcodec + QStringLiteral(",vb=") + vbitrate +
           QStringLiteral(",scale=") + s + QStringLiteral(",acodec=") + acodec + QStringLiteral(",ab=") + abitrate +
           QStringLiteral(",channels=") + achannels + QStringLiteral("}:duplicate{dst=std{access=http,mux=asf");
}

QString soutAudio(const QString& acodec, const QString& abitrate, const QString& achannels) {
    return QStringLiteral(":sout=#transcode{acodec=") + acodec + QStringLiteral(",ab=") + abitrate +
           QStringLiteral(",channels=") + achannels + QStringLiteral("}:duplicate{dst=std{access=http,mux=asf");
}

SettingsStore::SettingsStore(const QString& iniPath)
    : m_ini(iniPath) {
    for (const SettingDef& d : settingsTable())
        m_values[static_cast<int>(d.id)] = str(d.absent);
}

int SettingsStore::itemIndex(SettingId id) const {
    return static_cast<int>(settingItems(id).indexOf(value(id)));
}

void SettingsStore::setFirstStartValues() {
    for (const SettingDef& d : settingsTable()) {
        if (d.firstStart)
            m_values[static_cast<int>(d.id)] = str(d.firstStart);
    }
}

void SettingsStore::create(TOptions& options, FirstStartDialog* firstStart) {
    if (isFirstStart() && firstStart) {
        setFirstStartValues();
        firstStart->runFirstStart(*this);
    }
    LoadSettings(options);
    // Changed while the program runs, so a dialog's Cancel (which reads the file again) leaves them.
    options.GuideAllBouquets = flag(SettingId::GuideAllBouquets);
    options.GuideDescriptions = flag(SettingId::GuideDescriptions);
    options.Mode = static_cast<AppMode>(std::clamp(itemIndex(SettingId::Mode), 0, int(ModeNames.size()) - 1));
    options.StreamType = static_cast<uint8_t>(std::max(0, itemIndex(SettingId::StreamType)));
    const QString host = options.Mode == AppMode::Online ? value(SettingId::IpInet) : value(SettingId::IpLan);
    options.BoxAddress = host + QLatin1Char(':') + value(SettingId::DboxPort);
}

void SettingsStore::LoadSettings(TOptions& o) {
    m_ini.reload();
    for (const SettingDef& d : settingsTable()) {
        if (isWindowKey(d))
            continue;
        QString& v = m_values[static_cast<int>(d.id)];
        const QString section = str(d.section);
        const QString key = str(d.key);
        switch (d.type) {
        case SettingType::Flag:
            v = m_ini.ReadBool(section, key, str(d.absent) == QLatin1String("1")) ? QStringLiteral("1")
                                                                                  : QStringLiteral("0");
            break;
        case SettingType::List: {
            // A value not in the list falls back to the default item, so Mode is always a valid index.
            const QString read = m_ini.ReadString(section, key, str(d.absent));
            const QStringList& items = settingItems(d.id);
            auto it = std::find_if(items.begin(), items.end(),
                                   [&](const QString& item) { return item.compare(read, Qt::CaseInsensitive) == 0; });
            v = it != items.end() ? *it : str(d.absent);
            break;
        }
        default:
            v = m_ini.ReadString(section, key, str(d.absent));
            break;
        }
    }

    o.RememberState = flag(SettingId::RememberState);
    if (o.RememberState) {
        const QString w = QStringLiteral("Window");
        o.WinHeight = m_ini.ReadInteger(w, keyOf(SettingId::WinHeight), 0);
        o.WinWidth = m_ini.ReadInteger(w, keyOf(SettingId::WinWidth), 0);
        o.WinLeft = m_ini.ReadInteger(w, keyOf(SettingId::WinLeft), 0);
        o.WinTop = m_ini.ReadInteger(w, keyOf(SettingId::WinTop), 0);
        o.AlwaysOnTop = m_ini.ReadBool(w, keyOf(SettingId::WinAlwaysOnTop), false);
        o.VideoOnly = m_ini.ReadBool(w, keyOf(SettingId::WinVideoOnly), false);
    }

    o.SoutVideo = soutVideo(value(SettingId::VCodec), value(SettingId::VBitrate), value(SettingId::VScale),
                            value(SettingId::ACodec), value(SettingId::ABitrate), value(SettingId::AChannels));
    o.SoutAudio = soutAudio(value(SettingId::ACodec), value(SettingId::ABitrate), value(SettingId::AChannels));

    const QString colon(QLatin1Char(':'));
    const QString space(QLatin1Char(' '));
    o.IpPc = value(SettingId::IpPc);
    o.QuoxelAddress = value(SettingId::IpQuoxel) + colon + value(SettingId::StreamPortProv);
    o.IpLan = value(SettingId::IpLan);
    o.VlcAddress = value(SettingId::IpInet) + colon + value(SettingId::VlcPort);
    o.OnlineStreamAddress = value(SettingId::IpInet) + colon + value(SettingId::StreamPortHttp);
    o.StreamPortUdp = value(SettingId::StreamPortUdp);
    o.UdpTargetPc = value(SettingId::IpPc) + space + value(SettingId::StreamPortUdp);
    o.UdpTargetVlc = value(SettingId::VlcIp) + space + value(SettingId::StreamPortUdp);
    o.StreamPortProv = value(SettingId::StreamPortProv);
    o.OsdShowTime = value(SettingId::OsdShowTime);
    o.WebUser = value(SettingId::WebUser);
    o.WebPass = value(SettingId::WebPass);
    o.TelnetPort = value(SettingId::TelnetPort);
    o.TelnetUser = value(SettingId::TelnetUser);
    o.TelnetPass = value(SettingId::TelnetPass);
    o.TelnetNhttpd = value(SettingId::TelnetNhttpd);

    o.AutoSpts = flag(SettingId::AutoSpts);
    o.ProvideStream = flag(SettingId::ProvideStream);
    o.Fullscreen = flag(SettingId::Fullscreen);
    o.LockRc = flag(SettingId::LockRc);
    o.HideTaskbar = flag(SettingId::HideTaskbar);
    o.ShowEpgInfo = flag(SettingId::ShowEpgInfo);
    o.ShowMessage = flag(SettingId::ShowMessage);
    o.TelnetAutoLogin = flag(SettingId::TelnetAutoLogin);
    o.CheckRecord = flag(SettingId::CheckRecord);
    o.NoLogging = flag(SettingId::NoLogging);
    o.NoEpgData = flag(SettingId::NoEpgData);
    o.RecordWatch = flag(SettingId::RecordWatch);
    o.FastZap = flag(SettingId::FastZap);
    o.Priority = value(SettingId::Priority);
    // Whatever path a password takes into a log line (a URL, an error text), it is masked there.
    appLogger().setSecrets({o.WebPass, o.TelnetPass, value(SettingId::VlcPassword)});
}

bool SettingsStore::SaveSettings() {
    // One write for the whole dialog: an interrupted save leaves the previous file.
    m_ini.beginUpdate();
    const int n = settingsSaveCount();
    for (int i = 0; i < n; ++i) {
        const SettingId id = settingsSaveOrder()[i];
        m_ini.WriteString(sectionOf(id), keyOf(id), value(id));
    }
    return m_ini.endUpdate();
}

bool SettingsStore::SaveWindowState(const WindowState& w, const TOptions& o) {
    const QString extras = sectionOf(SettingId::GuideAllBouquets);
    const auto guideKeyChanged = [&](SettingId id, bool on) { return m_ini.ReadBool(extras, keyOf(id), false) != on; };
    // The guide's choices are the user's whatever the window state; the file is only written when
    // something is to be kept.
    const bool guide = guideKeyChanged(SettingId::GuideAllBouquets, o.GuideAllBouquets) ||
                       guideKeyChanged(SettingId::GuideDescriptions, o.GuideDescriptions);
    if (!o.RememberState && !guide)
        return true;
    m_ini.beginUpdate();
    if (o.RememberState) {
        const QString s = QStringLiteral("Window");
        m_ini.WriteInteger(s, keyOf(SettingId::WinHeight), w.videoOnly ? w.height + 55 : w.height);
        m_ini.WriteInteger(s, keyOf(SettingId::WinWidth), w.width);
        m_ini.WriteInteger(s, keyOf(SettingId::WinLeft), w.left);
        m_ini.WriteInteger(s, keyOf(SettingId::WinTop), w.top);
        m_ini.WriteBool(s, keyOf(SettingId::WinAlwaysOnTop), w.alwaysOnTop);
        m_ini.WriteBool(s, keyOf(SettingId::WinVideoOnly), w.videoOnly);
    }
    if (guide) {
        m_ini.WriteBool(extras, keyOf(SettingId::GuideAllBouquets), o.GuideAllBouquets);
        m_ini.WriteBool(extras, keyOf(SettingId::GuideDescriptions), o.GuideDescriptions);
    }
    return m_ini.endUpdate();
}

QList<QByteArray> SettingsStore::maskedCopy() const {
    QList<QByteArray> out;
    QByteArray section;
    for (const QByteArray& raw : m_ini.lines()) {
        QByteArray line = raw.endsWith('\r') ? raw.left(raw.size() - 1) : raw;
        const QByteArray t = line.trimmed();
        if (t.startsWith('[')) {
            const qsizetype close = t.indexOf(']');
            section = (close < 0 ? t.mid(1) : t.mid(1, close - 1)).trimmed();
        } else if (const qsizetype eq = line.indexOf('='); eq > 0 && !t.startsWith(';')) {
            const QByteArray key = line.left(eq).trimmed();
            for (const SettingDef& d : settingsTable()) {
                if (d.type == SettingType::Secret && section.compare(d.section, Qt::CaseInsensitive) == 0 &&
                    key.compare(d.key, Qt::CaseInsensitive) == 0 && !line.mid(eq + 1).trimmed().isEmpty()) {
                    line = line.left(eq + 1) + "***";
                    break;
                }
            }
        }
        out.append(line);
    }
    return out;
}
