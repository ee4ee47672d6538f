#include "core/connection.h"

#include "core/appflags.h"
#include "core/clock.h"
#include "core/log.h"
#include "core/options.h"
#include "core/ports.h"

#include <QStringList>

namespace {

// Receiver times past 2100-01-01 00:00 UTC are garbage, as are negative ones.
constexpr qint64 kMaxBoxTimeSec = 4102444800;

// The host part of "host:port" (the port is the part after the last colon).
QString hostOf(const QString& address) {
    const qsizetype colon = address.lastIndexOf(QLatin1Char(':'));
    return colon < 0 ? address : address.left(colon);
}

} // namespace

QString versionText(const QString& version) {
    const QStringList parts = version.trimmed().split(QLatin1Char('.'));
    QStringList numbers;
    for (const QString& part : parts) {
        bool ok = false;
        const uint n = part.toUInt(&ok);
        if (!ok)
            return ConnectionTexts::kNoVersion;
        numbers << QString::number(n);
    }
    if (numbers.isEmpty() || numbers.size() > 4)
        return ConnectionTexts::kNoVersion;
    while (numbers.size() < 4)
        numbers << QStringLiteral("0");
    return numbers.join(QLatin1Char('.'));
}

bool standbyMeansOn(const QString& answer) {
    return answer == QLatin1String("on") || answer == QLatin1String("ok");
}

std::optional<int32_t> boxTimeOffsetMinutes(const QString& answer, qint64 pcUtcSec) {
    bool ok = false;
    const qint64 boxSec = answer.trimmed().toLongLong(&ok);
    if (!ok || boxSec < 0 || boxSec > kMaxBoxTimeSec)
        return std::nullopt;
    // Integer division truncates towards zero, as the offset is meant to.
    return static_cast<int32_t>((boxSec - pcUtcSec) / 60);
}

Connection::Connection(ConnectionView& view, ConnectionSteps& steps, QString version)
    : m_view(view)
    , m_steps(steps)
    , m_version(versionText(version)) {}

ConnectionOutcome Connection::fail(ConnectionOutcome outcome, const QString& text) {
    ShowStatus(text);
    if (m_splash)
        m_splash->setSplashStatus(text);
    IsStarting = false;
    Log(LogMsg, text);
    return outcome;
}

ConnectionOutcome Connection::InitConnection() {
    struct Running {
        bool& flag;
        explicit Running(bool& f)
            : flag(f) {
            flag = true;
        }
        ~Running() { flag = false; }
    } running(m_running);
    m_lastOutcome = run();
    return m_lastOutcome;
}

ConnectionOutcome Connection::run() {
    using namespace ConnectionTexts;
    m_view.setCaption(kCaption + QStringLiteral(" v") + m_version);
    m_view.processEvents();

    m_splash = &m_view.createSplashAndOptions();
    m_view.setEPGStopped(Options.NoEpgData);
    m_view.refreshStatusAndClock();

    Log(LogFunc, QString());
    if (!Options.NoLogging)
        appLogger().restart(m_view.settingsLogHead());

    const bool quoxelMode = Options.Mode == AppMode::Quoxel;
    if (quoxelMode)
        m_view.hideReceiverItems();

    m_splash->showSplash(QStringLiteral(" v") + m_version);
    m_splash->setSplashStatus(kConnecting);
    m_view.showLogoHint();

    QString telnetHost;
    if (Options.Mode == AppMode::Online)
        telnetHost = hostOf(Options.BoxAddress); // built from ip_inet in online mode
    else if (Options.Mode == AppMode::Live)
        telnetHost = Options.IpLan;
    m_view.setTelnetTarget(telnetHost, Options.TelnetPort);
    if (!quoxelMode) {
        if (Options.TelnetAutoLogin)
            m_view.telnetLogin(Options.TelnetUser, Options.TelnetPass);
        m_view.setReceiverOsdEnabled(Options.TelnetAutoLogin);
    }

    IsStarting = true;
    m_view.createEPGThread();
    IsClosing = false;

    m_steps.createClients(Options.WebUser, Options.WebPass);
    const QString boxTime = m_steps.requestBoxTime();
    if (boxTime.isEmpty()) {
        // A receiver that wants a login says so; that is no lost connection.
        const QString refused = m_steps.refusedText();
        return fail(ConnectionOutcome::NoConnection, refused.isEmpty() ? kNoConnection : refused);
    }
    if (const auto offset = boxTimeOffsetMinutes(boxTime, Clock::current().now().toSecsSinceEpoch()))
        Options.BoxTimeOffset = *offset;
    else
        Log(LogMsg, QStringLiteral("receiver time not understood: ") + boxTime.left(80));
    m_steps.setMainTimeout(20);

    if (!quoxelMode) {
        const QString vlcPage = Options.Mode == AppMode::Online ? m_steps.requestVlcPage() : QStringLiteral("present");
        if (vlcPage.isEmpty())
            return fail(ConnectionOutcome::NoConnection, kNoConnection);
        if (Options.CheckRecord && m_steps.requestRecordState() == QLatin1String("on"))
            return fail(ConnectionOutcome::Recording, kRecording);
        m_view.setStandbyChecked(standbyMeansOn(m_steps.requestStandbyState()));
        m_view.setSptsChecked(m_steps.requestPlaybackFormat() == QLatin1String("1"));
    }

    if (Options.ShowMessage)
        m_steps.sendMessage(kActiveMessage);
    if (Options.LockRc)
        m_steps.lockRc();

    m_splash->setSplashStatus(kLoadingBouquets);
    if (!m_steps.loadBouquets())
        return fail(ConnectionOutcome::NoBouquets, kNoStream);
    m_splash->setSplashStatus(kLoadingChannels);
    m_steps.loadChannels();

    const QString onAir = m_steps.requestCurrentChannel();
    const AktChannelPick pick = m_steps.selectAktChannel(onAir);
    m_view.showChannels();
    if (pick.recordMissing) {
        Log(LogMsg, QStringLiteral("channel list holds an entry without channel"));
        return ConnectionOutcome::NoChannelRecord;
    }
    if (pick.found && pick.radio) {
        m_view.showRadioBackground();
        m_view.processEvents();
    }
    m_steps.loadAllChannelEPG();
    m_splash->setSplashStatus(kInitializingVlc);
    return ConnectionOutcome::Connected;
}
