#include "ui/appcontroller.h"

#include "box/boxcommands.h"
#include "core/appflags.h"
#include "core/certpins.h"
#include "core/log.h"
#include "core/options.h"
#include "core/programdir.h"
#include "core/settingsstore.h"
#include "core/version.h"
#include "playback/channelswitch.h"
#include "telnet/telnetconsole.h"
#include "telnet/telnetsession.h"
#include "telnet/telnetview.h"
#include "ui/appguide.h"
#include "ui/apponline.h"
#include "ui/apposd.h"
#include "ui/blackscreen.h"
#include "ui/channelbox.h"
#include "ui/channellist.h"
#include "ui/channelmenu.h"
#include "ui/channelmodel.h"
#include "ui/epgpanels.h"
#include "ui/mainwindow.h"
#include "ui/menucolumns.h"
#include "ui/optionsdialog.h"
#include "ui/osdchannels.h"
#include "ui/osdcontroller.h"
#include "ui/osddetails.h"
#include "ui/osdinfo.h"
#include "ui/osdtexts.h"
#include "ui/pictures.h"
#include "ui/remotecontrol.h"
#include "ui/splash.h"
#include "ui/taskbar.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QCursor>
#include <QElapsedTimer>
#include <QEvent>
#include <QGuiApplication>
#include <QImage>
#include <QInputDialog>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QTime>
#include <QTimer>
#include <QVBoxLayout>

namespace quoxel {

namespace {

// Between the lines of the all-channel EPG load the window's messages run this often at most: a
// huge answer has millions of lines.
constexpr int kEPGLoadEventsMs = 20;

} // namespace

AppController::AppController(TFrmQuoxel& window, VlcLibrary* library, QObject* parent)
    : QObject(parent)
    , m_w(window)
    , m_connection(*this, m_session, QString::fromLatin1(quoxel::kVersion))
    , m_lifecycle(*this, m_session, m_connection)
    , m_player(*this, library ? *library : vlcLibrary())
    , m_channelModel(std::make_unique<ChannelModel>())
    , m_recordWatch([this](const QString& url) {
        return m_session.box() ? m_session.box()->ShortRequest(url, RecordWatch::kTimeoutSec) : QString();
    }) {
    m_telnet = std::make_unique<TelnetSession>(Options);
    if (auto* box = qobject_cast<TComboBoxQuoxel*>(m_w.CmbChannels())) {
        box->setChannelModel(m_channelModel.get());
        // The logo beside the box follows the channel the box shows.
        connect(box, &TComboBoxQuoxel::logoChannelChanged, this, [this](TChannel* channel) {
            if (channel)
                showLogo(*channel);
        });
    } else {
        m_w.CmbChannels()->setModel(m_channelModel.get());
    }
    m_channelMenu = std::make_unique<ChannelMenuBuilder>(m_w.menu().Channels1, m_channelModel.get());
    setStatusSink(&m_w);
    // The EPG thread and timers live as long as the window; each connection resets them.
    m_epg = std::make_unique<EPGTimers>(*this, false);
    m_epg->thread().setClientSettings([this] { return m_session.epgClientSettings(); });
    m_osd = std::make_unique<AppOsd>(m_w, *this);
    m_guide = std::make_unique<AppGuide>(*this, m_w);
    // Entering full screen shows or hides the programme info; a radio channel keeps the window;
    // the in-window panels follow the video wherever it goes.
    m_w.setViewHooks(
        ViewHooks{[this] { return m_session.AktChannel && m_session.AktChannel->Mode == TChannelMode::mRadio; },
                  [this] { m_osd->osd().ShowEPGInfo(m_session.AktChannel); }, [this] { m_osd->osd().HideEPGInfo(); },
                  [this](const QRect& video, bool videoOnly) { m_osd->panels().placeOver(video, videoOnly); }});
    m_w.setClockListener([this](const QString& hhmm) { m_osd->panels().setClock(hhmm); });
    m_player.setClosingRequest([this](const QString& url) { m_session.boundedRequest(url, kCloseRequestLimitMs); });
    // The all-channel EPG load lets the window run between its lines and ends when the window
    // closes or the EPG is stopped.
    m_session.setEPGLoadStop([] {
        static QElapsedTimer sinceEvents;
        if (!sinceEvents.isValid() || sinceEvents.elapsed() >= kEPGLoadEventsMs) {
            QApplication::processEvents();
            sinceEvents.start();
        }
        return IsClosing.load() || EPGAbort.load();
    });
    connectWindow();
    m_online = new AppOnline(*this, m_w);
}

AppController::~AppController() {
    setStatusSink(nullptr);
}

void AppController::connectWindow() {
    const MainMenu& m = m_w.menu();
    m_w.setCloseHandler([this] { m_lifecycle.FormClose(); });
    m_w.setCloseRequestHandler([this] { m_lifecycle.Close1Click(); });
    connect(m.InitQuoxel1, &QAction::triggered, this, [this] { m_lifecycle.InitQuoxel1Click(); });
    connect(m.VLCPlay1, &QAction::triggered, this, [this] { m_player.VLCPlay1Click(); });
    connect(m.VLCStop1, &QAction::triggered, this, [this] { m_player.VLCStop1Click(); });
    connect(m.VLCRestart1, &QAction::triggered, this, [this] { m_player.VLCRestart1Click(); });
    connect(m.VLCMute1, &QAction::triggered, this, [this] { m_player.VLCMute1Click(); });
    connect(m.ResetEPG1, &QAction::triggered, this, [this] { m_epg->ResetEPG1Click(); });
    connect(m.StopEPG1, &QAction::triggered, this, [this] { m_epg->StopEPG1Click(); });
    // Receiver commands: the check mark shows what the receiver reports after the command, and a
    // failure text goes to the status line (the splash label is gone by then).
    auto toggle = [this](QAction* item, ToggleOutcome (*command)(BoxClient&, bool)) {
        connect(item, &QAction::triggered, this, [this, item, command] {
            // Qt has already flipped the mark; the command is given the state before the click.
            if (!m_session.box() || !hasChannelSelection()) {
                item->setChecked(!item->isChecked()); // nothing to command before the channel list
                return;
            }
            const ToggleOutcome out = command(*m_session.box(), !item->isChecked());
            item->setChecked(out.checked);
            if (!out.failure.isEmpty())
                ShowStatus(out.failure);
        });
    };
    toggle(m.SPTS1, &toggleSpts);
    toggle(m.StandbyOnOff1, &toggleStandby);
    connect(m.UDPStream1, &QAction::triggered, this, [this] {
        if (m_stream && m_session.AktChannel)
            m_stream->UDPStream1Click(m_session.AktChannel->Mode);
    });
    connect(m.CopyLiveURL1, &QAction::triggered, this, [this] {
        if (!m_stream)
            return;
        if (const std::optional<QString> url = m_stream->CopyLiveURL1Click())
            QGuiApplication::clipboard()->setText(*url);
    });
    connect(m.ProgramSettings1, &QAction::triggered, this, &AppController::ProgramSettings1Click);
    connect(m.RebootDBOX1, &QAction::triggered, this, &AppController::RebootDBOX1Click);
    connect(m.DBoxOSD1, &QAction::triggered, this, &AppController::DBoxOSD1Click);
    connect(m.Message1, &QAction::triggered, this, &AppController::Message1Click);
    connect(&m_w, &TFrmQuoxel::clockTicked, this, &AppController::recordWatchTick);
    connect(m.Audio1, &QMenu::aboutToShow, this, &AppController::buildAudioMenu);
    connect(&m_w, &TFrmQuoxel::popupOpening, this, &AppController::buildAudioMenu);
    connect(m.VLDStartup, &QAction::triggered, this, [this] { m_player.VLDStartupClick(); });
    connect(&m_w, &TFrmQuoxel::playClicked, this, [this] { m_player.BtnPlayClick(); });
    connect(&m_w, &TFrmQuoxel::muteClicked, this, [this] {
        if (m_player.muted())
            m_player.ImgVolOffClick();
        else
            m_player.ImgVolOnClick();
    });
    connect(&m_w, &TFrmQuoxel::volumeMouse, this, [this](VolumeMouse kind, int x, int width, bool leftOnly) {
        if (kind == VolumeMouse::Up)
            m_player.VolumeMouseUp();
        else if (!m_player.engine())
            return; // no engine to set yet
        else if (kind == VolumeMouse::Down)
            m_player.VolumeMouseDown(x, width, leftOnly);
        else
            m_player.VolumeMouseMove(x, width, leftOnly);
    });
    connect(&m_w, &TFrmQuoxel::logoClicked, this, [this] { m_osd->panels().LogoClick(); });
    connect(&m_w, &TFrmQuoxel::realOsdCloseClicked, this, &AppController::DBoxOSD1Click);
    // Gone to the tray: the receiver picture and the remote control go too (they are shown together).
    connect(&m_w, &TFrmQuoxel::minimisedToTray, this, [this] {
        if (m_remote && m_remote->isVisible())
            DBoxOSD1Click();
    });
    // The backdrop hands the screen over to the programme info when that is wanted.
    m_w.FrmBlackScreen().setShowEpgInfo([] { return Options.ShowEpgInfo; },
                                        [this] { m_osd->osd().ShowEPGInfo(m_session.AktChannel); });
    // The user's choice in the channel box only selects; Enter or Space switches.
    connect(m_w.CmbChannels(), &QComboBox::activated, this, [this](int row) {
        m_session.model().setSelectedIndex(row);
        if (m_switcher)
            m_switcher->CmbChannelsChange();
    });
    if (auto* box = qobject_cast<TComboBoxQuoxel*>(m_w.CmbChannels())) {
        connect(box, &TComboBoxQuoxel::switchKeyPressed, this, [this](int key) {
            if (m_switcher && !IsStarting)
                m_switcher->CmbChannelsKeyDown(key);
        });
        connect(box, &TComboBoxQuoxel::droppingDown, this, [this] {
            if (m_switcher)
                m_switcher->CmbChannelsDropDown();
            else
                setDropDownWidth(ChannelSwitcher::kDropDownWidth);
        });
    }
    // The background walk starts its next pass at the channel the user moved to.
    connect(m_w.CmbChannels(), &QComboBox::currentIndexChanged, this, [this](int row) {
        if (m_epg && row >= 0)
            m_epg->setSelected(row);
    });
    connect(m_channelMenu.get(), &ChannelMenuBuilder::channelClicked, this,
            [this](int row, TChannel*) { Channels1Click(row); });
    connect(m.Guide1, &QAction::triggered, this, [this] { m_guide->ShowGuide(); });
    // Queued: the switch may rebuild the very menu whose entry was clicked.
    connect(
        m_channelMenu.get(), &ChannelMenuBuilder::subChannelClicked, this,
        [this](int, TChannel* channel) {
            if (!m_switcher || IsStarting || IsSwitching)
                return;
            const QList<TChannelMenuEntry>& subs = m_switcher->subChannelsMenu();
            for (qsizetype i = 0; i < subs.size(); ++i) {
                if (subs[i].Channel.get() == channel) {
                    m_switcher->SubChannels1Click(static_cast<int>(i));
                    return;
                }
            }
        },
        Qt::QueuedConnection);
    connectTelnet();
    m_w.installEventFilter(this);
}

void AppController::connectTelnet() {
    const MainMenu& m = m_w.menu();
    m_telnetView = new TelnetView(*m_telnet, m_w.PnlTelnet());
    m_telnetView->setObjectName(QStringLiteral("Telnet"));
    auto* layout = new QVBoxLayout(m_w.PnlTelnet());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_telnetView);
    m_console = std::make_unique<TelnetConsole>(Options, *m_telnet, *m_w.PnlTelnet(), *m_telnetView);
    m_console->setFullscreenQuery([this] { return isFullscreen(); });
    m_console->setQuestion([this](const QString& question) { return m_w.ConfirmBox(question); });
    m_console->setInformation([this](const QString& text) { m_w.ShowInfo(text); });
    m_console->setPasswordInput([this](QString* password) {
        ViewModes::ModalScope below(m_w.view());
        bool ok = false;
        *password = QInputDialog::getText(&m_w, QString::fromLatin1(TelnetTexts::kPasswordTitle),
                                          QString::fromLatin1(TelnetTexts::kPasswordPrompt), QLineEdit::Password,
                                          QString(), &ok);
        return ok;
    });
    m_console->setRebootHooks(
        [this] {
            VlcEngine* engine = m_player.engine();
            return engine ? engine->VLC_Stop() : 0;
        },
        [this] { m_w.close(); });
    connect(m.Telnet1, &QAction::triggered, this, [this] {
        m_console->Telnet1Click();
        // Qt flipped the mark already; the panel's state decides it (full screen refuses the click).
        m_w.menu().Telnet1->setChecked(m_console->telnet1Checked());
    });
    // A lost connection leaves nothing to make a screen picture with: "D-Box OSD" goes off, and
    // an open picture closes (its toggle would refuse without the login).
    connect(m_telnet.get(), &TelnetSession::loggedInChanged, this, [this](bool loggedIn) {
        setReceiverOsdEnabled(loggedIn);
        if (!loggedIn && m_boxOsd && m_boxOsd->isOn())
            m_boxOsd->closeView();
    });
    connect(m.Login1, &QAction::triggered, this, [this] {
        m_console->TelnetLogin(Options.TelnetUser, Options.TelnetPass);
        setReceiverOsdEnabled(Options.TelnetLoggedIn);
    });
    connect(m.Logout1, &QAction::triggered, this, [this] {
        m_console->TelnetLogout();
        setReceiverOsdEnabled(false);
    });
    connect(m.ChangePass1, &QAction::triggered, this, [this] { m_console->ChangePass1Click(); });
    connect(m.Restartnhttpd1, &QAction::triggered, this, [this] { m_console->Restartnhttpd1Click(); });
    connect(m.Reboot1, &QAction::triggered, this, [this] { m_console->Reboot1Click(); });
}

bool AppController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &m_w && event->type() == QEvent::Show)
        applyTaskbarEntry();
    if (watched == &m_w && event->type() == QEvent::WindowActivate && !IsClosing)
        QMetaObject::invokeMethod(
            this, [this] { m_lifecycle.FormActivate(); }, Qt::QueuedConnection);
    // The remote-control window stays docked to the main window.
    if (watched == &m_w && (event->type() == QEvent::Move || event->type() == QEvent::Resize) && m_remote &&
        m_remote->isVisible())
        m_remote->placeBeside(m_w.frameGeometry());
    return QObject::eventFilter(watched, event);
}

ConnectionOutcome AppController::FormCreate() {
    IsStarting = true;
    const ConnectionOutcome outcome = m_connection.InitConnection();
    // In mode "quoxel" another instance zaps the receiver; its recordings are not ours to explain.
    if (outcome == ConnectionOutcome::Connected && Options.Mode != AppMode::Quoxel)
        lookForRecording(false);
    return outcome;
}

void AppController::lookForRecording(bool reloadOnChange) {
    const bool changed = m_recordWatch.check();
    m_w.setRecordingShown(m_recordWatch.recording());
    if (changed && reloadOnChange)
        reloadBouquets();
}

bool AppController::switchRunning() const {
    // A fast switch leaves IsSwitching clear (its requests run on a worker), yet holds the target record.
    return IsSwitching || (m_switcher && m_switcher->fastSwitching());
}

void AppController::recordWatchTick() {
    // Never in the middle of a request, a switch, the start-up or the close.
    if (!Options.RecordWatch || Options.Mode == AppMode::Quoxel || !m_session.box() || IsStarting || switchRunning() ||
        IsClosing || MainRequestBusy || m_connection.running() ||
        m_connection.lastOutcome() != ConnectionOutcome::Connected)
        return;
    lookForRecording(true);
}

void AppController::reloadBouquets() {
    // The walk holds the old lists' channels; it starts again on the new ones.
    if (m_epg) {
        m_epg->disableEPGTimer();
        m_epg->StopEPGThread(false);
    }
    if (m_session.reloadBouquets()) {
        if (m_switcher)
            m_switcher->setAktChannel(m_session.AktChannel);
        showChannels();
        m_session.loadAllChannelEPG();
    }
    if (m_epg)
        m_epg->enableEPGTimer();
}

void AppController::reloadBouquetsWhenIdle() {
    QTimer::singleShot(200, this, [this] {
        if (IsClosing)
            return;
        if (switchRunning() || MainRequestBusy || m_connection.running())
            reloadBouquetsWhenIdle();
        else
            reloadBouquets();
    });
}

void AppController::Message1Click() {
    if (!m_session.box())
        return;
    bool ok = false;
    QString text;
    {
        ViewModes::ModalScope below(m_w.view());
        text = QInputDialog::getText(&m_w, QStringLiteral("D-Box Message"), QStringLiteral("message on the TV screen:"),
                                     QLineEdit::Normal, QString(), &ok);
    }
    if (ok && !text.trimmed().isEmpty())
        sendBoxMessage(*m_session.box(), text);
}

void AppController::FormShow() {
    if (IsStarting && !m_shown)
        m_w.view().applySavedState(Options);
    m_shown = true;
}

// ConnectionView -------------------------------------------------------------------------------

void AppController::setCaption(const QString& caption) {
    m_w.setWindowTitle(caption);
    QApplication::setApplicationDisplayName(caption);
}

void AppController::processEvents() {
    QApplication::processEvents();
}

SplashView& AppController::createSplashAndOptions() {
    // A re-run ("Init Quoxel") releases the dialog and store of the last run first.
    m_options.reset();
    m_store =
        std::make_unique<SettingsStore>(m_iniPath.isEmpty() ? AppDir() + QStringLiteral("Quoxel.ini") : m_iniPath);
    // The receiver's HTTPS keys are remembered in the same ini, so a save of the dialog keeps them.
    m_session.setKeyStore(std::make_unique<CertPins>(m_store->ini()));
    m_options = std::make_unique<TFrmOptions>(*m_store, Options);
    m_options->setHideSplash([this] { hideSplash(); });
    m_options->setWindowStateSource([this] { return m_w.view().windowState(); });
    m_options->setQuestion([this](const QString& question) { return m_w.ConfirmBox(question); });
    m_options->setForgetCertificates([this] { return m_session.keyStore() ? m_session.keyStore()->forgetAll() : 0; });
    // On the very first start this opens the dialog for the receiver's address.
    m_options->createStore();
    m_online->applySettings(*m_store, true);
    setUdpStreamChecked(Options.StreamType != 0);
    return *this;
}

QList<QByteArray> AppController::settingsLogHead() {
    return m_store ? m_store->maskedCopy() : QList<QByteArray>{};
}

void AppController::refreshStatusAndClock() {
    ShowStatus(m_w.statusPanel(0)->text());
    m_osd->panels().setClock(clockText());
}

void AppController::hideReceiverItems() {
    hideReceiverMenus(m_w.menu());
    m_w.CmbChannels()->setEnabled(false);
    // The receiver's pages: the serving instance's user looks after the receiver.
    if (m_options)
        m_options->hideReceiverPages();
}

void AppController::showLogoHint() {
    m_w.Logo()->setToolTip(QStringLiteral("channel logo"));
}

void AppController::setTelnetTarget(const QString& host, const QString& port) {
    m_telnet->setHost(host);
    m_telnet->setPort(port);
}

void AppController::telnetLogin(const QString& user, const QString& password) {
    // Counts only when the receiver's shell answers; a refused login leaves TelnetLoggedIn clear.
    m_console->TelnetLogin(user, password);
}

void AppController::DBoxOSD1Click() {
    if (m_session.box()) {
        if (!m_boxOsd) {
            m_remote = std::make_unique<TFrmRemoteControl>();
            m_boxOsd = std::make_unique<BoxOsdView>(Options, *m_session.box(), *m_telnet, *m_w.ImgRealOSD(), *m_remote);
            m_boxOsd->setMainWindow(&m_w);
            m_boxOsd->setPanel(m_w.PnlRealOSD());
            m_boxOsd->setFullscreenQuery([this] { return isFullscreen(); });
            // The view hears the remote window's clicks and its close label itself.
            connect(m_boxOsd.get(), &BoxOsdView::checkedChanged, m_w.menu().DBoxOSD1, &QAction::setChecked);
        }
        m_boxOsd->DBoxOSD1Click();
    }
    // The menu flipped its mark on the click; the view's state decides it, a refused toggle too.
    m_w.menu().DBoxOSD1->setChecked(m_boxOsd && m_boxOsd->isOn());
}

void AppController::setReceiverOsdEnabled(bool enabled) {
    m_w.menu().DBoxOSD1->setEnabled(enabled);
}

void AppController::setStandbyChecked(bool checked) {
    m_w.menu().StandbyOnOff1->setChecked(checked);
}

void AppController::setSptsChecked(bool checked) {
    m_w.menu().SPTS1->setChecked(checked);
}

void AppController::buildBouquetsMenu() {
    QMenu* menu = m_w.menu().Bouquets1;
    menu->clear();
    const auto& bouquets = m_session.model().bouquets();
    for (int i = 0; i < bouquets.size(); ++i) {
        QAction* a = menu->addAction(widgetSafeText(bouquets[i].Caption));
        a->setCheckable(true);
        a->setChecked(bouquets[i].Checked);
        a->setProperty(MenuColumns::kBarBreakProperty, bouquets[i].BarBreak);
        connect(a, &QAction::triggered, this, [this, i] { clickBouquet(i); });
    }
    MenuColumns::apply(menu);
}

void AppController::buildAudioMenu() {
    QMenu* menu = m_w.menu().Audio1;
    menu->clear();
    if (!m_stream)
        return;
    for (int i = 0; i < m_stream->AudioMenu.size(); ++i) {
        const TAudioMenuItem& item = m_stream->AudioMenu[i];
        QAction* a = menu->addAction(widgetSafeText(item.Caption));
        a->setCheckable(true);
        a->setChecked(item.Checked);
        connect(a, &QAction::triggered, this, [this, i] { m_player.Audio1Click(i); });
    }
}

void AppController::checkAudioItem(int index) {
    if (m_stream)
        m_stream->checkAudioItem(index);
    buildAudioMenu();
}

void AppController::showChannels() {
    showBouquetChannels(true);
}

void AppController::showBouquetChannels(bool freshlyLoaded) {
    buildBouquetsMenu();
    // Entries restored from a bouquet's cache are plain menu text; a fresh load draws them.
    const QList<TChannelMenuEntry>& entries = m_session.model().channelMenu();
    m_channelMenu->setOwnerDrawn(entries.isEmpty() || entries.first().OwnerDrawn);
    m_channelModel->setItems(m_session.model().channelBox());
    m_channelMenu->rebuild();
    channelBoxChanged();
    // A bouquet load ends with the programme of its first channel in the in-window display.
    if (freshlyLoaded && m_channelModel->rowCount() > 0)
        m_osd->panels().ShowChannelInfo(m_channelModel->channelAt(0));
    m_guide->channelsChanged();
}

void AppController::Channels1Click(int row) {
    if (!m_switcher || IsStarting)
        return;
    const TChannelRef channel = m_channelModel->channelAt(row);
    if (!channel)
        return;
    const QList<bool> wasEnabled = disableTopMenus();
    setBusyCursor(true);
    processEvents();
    const bool fullscreen = beginMenuTransition();
    if (hasChannelSelection() && !IsSwitching)
        m_switcher->SwitchChannel(channel);
    if (fullscreen) {
        endMenuTransition([this, &channel] {
            // A radio channel never plays full screen.
            if (channel->Mode == mRadio)
                m_w.view().leaveFullscreen();
            else
                m_w.view().setFullscreenView(true);
        });
    }
    setBusyCursor(false);
    restoreTopMenus(wasEnabled);
}

QList<bool> AppController::disableTopMenus() {
    QList<bool> wasEnabled;
    for (QAction* item : m_w.menuBar()->actions()) {
        wasEnabled << item->isEnabled();
        item->setEnabled(false);
    }
    return wasEnabled;
}

void AppController::restoreTopMenus(const QList<bool>& wasEnabled) {
    const QList<QAction*> topItems = m_w.menuBar()->actions();
    for (qsizetype i = 0; i < topItems.size() && i < wasEnabled.size(); ++i)
        topItems[i]->setEnabled(wasEnabled[i]);
}

bool AppController::beginMenuTransition() {
    ViewModes& view = m_w.view();
    if (!view.IsFullscreen)
        return false;
    view.IsInTransition = true;
    view.IsMenuOpen = false;
    processEvents();
    processEvents();
    return true;
}

void AppController::endMenuTransition(const std::function<void()>& restoreView) {
    processEvents();
    processEvents();
    restoreView();
    ViewModes& view = m_w.view();
    view.IsMenuOpen = false;
    view.IsInTransition = false;
    processEvents();
    processEvents();
}

// SplashView -----------------------------------------------------------------------------------

void AppController::showSplash(const QString& versionLabel) {
    TFrmSplash& s = m_w.FrmSplash();
    s.setVersionText(versionLabel);
    s.centreOver(m_w);
    s.show();
    s.repaint();
}

void AppController::setSplashStatus(const QString& text) {
    m_w.FrmSplash().SetSplashStatus(text);
}

void AppController::hideSplash() {
    m_w.FrmSplash().hide();
}

// LifecycleView --------------------------------------------------------------------------------

bool AppController::hasChannelSelection() {
    return m_w.CmbChannels()->currentIndex() >= 0 && m_channelModel->channelAt(m_w.CmbChannels()->currentIndex());
}

bool AppController::hasChannelSelection() const {
    return const_cast<AppController*>(this)->hasChannelSelection();
}

void AppController::initPlayer() {
    if (!m_session.box())
        return;
    m_player.setBoxClient(m_session.box());
    if (!m_stream)
        m_stream = std::make_unique<StreamSetup>(*m_session.box(), *this);
    if (!m_switcher) {
        m_switcher =
            std::make_unique<ChannelSwitcher>(*this, m_session.model(), *m_session.box(), *m_stream, m_player, this);
    }
    m_online->attach(m_player, *m_stream, *m_switcher);
    // The channel the receiver showed at the start (again after "Init Quoxel").
    m_switcher->setAktChannel(m_session.AktChannel);
    m_switcher->setRecordingQuery([this] {
        // The lists are read again after the switch: the switch holds the channels it shows.
        if (m_recordWatch.check())
            reloadBouquetsWhenIdle();
        m_w.setRecordingShown(m_recordWatch.recording());
        return m_recordWatch.recording();
    });
    m_playerReady = m_player.VLCInit(static_cast<quintptr>(m_w.Video()->winId()), m_w.Video()->size());
}

void AppController::switchChannel() {
    if (m_switcher && hasChannelSelection())
        m_switcher->SwitchChannel(m_channelModel->channelAt(m_w.CmbChannels()->currentIndex()));
}

void AppController::startEPGTimer(int intervalMs) {
    m_epg->enableEPGTimer(intervalMs);
}

void AppController::setEPGStopped(bool stopped) {
    m_epg->setStopped(stopped);
}

bool AppController::epgStoppedByUser() const {
    return m_epg->isEPGStopped();
}

void AppController::createEPGThread() {
    // Not started: the first switch starts the walk. Each start takes fresh state and the client
    // settings of the session's EPG client; a walk of an earlier run ends here.
    if (m_epg->isThreadRunning())
        m_epg->StopEPGThread(false);
}

void AppController::stopEPGThread() {
    m_epg->StopEPGThread(false);
}

bool AppController::epgThreadRunning() const {
    return m_epg->isThreadRunning();
}

void AppController::startEpgThread() {
    m_epg->startThreadFromSwitch();
}

void AppController::startEpgShowTimer() {
    m_epg->startShowEPGOnSwitchTimer();
}

QList<TChannelRef> AppController::epgChannels() const {
    return m_channelModel->channels();
}

int AppController::selectedChannel() const {
    return m_w.CmbChannels()->currentIndex();
}

void AppController::repaintChannelViews() {
    m_channelModel->refresh();
}

void AppController::repaintChannelList() {
    m_osd->panels().LbxChannels()->viewport()->update();
}

void AppController::setChannelPreviewCaption(const QString& caption) {
    m_osd->panels().LblChannelsHeader()->setText(caption);
    m_osd->osd().FrmOSD_Channels().LblChannelsHeader()->setText(caption);
}

// The channel box's selection as the shared record the panels keep.
static TChannelRef selectedRef(const QComboBox& box, const ChannelModel& model) {
    return box.currentIndex() >= 0 ? model.channelAt(box.currentIndex()) : TChannelRef();
}

void AppController::refreshEPGDisplay() {
    if (const TChannelRef channel = selectedRef(*m_w.CmbChannels(), *m_channelModel))
        m_osd->panels().ShowChannelInfo(channel);
}

void AppController::refreshAktChannelEPG() {
    if (m_session.AktChannel)
        m_osd->panels().ShowChannelInfo(m_session.AktChannel);
}

void AppController::showTaskbarButton() {
    setTaskbarEntryVisible(m_w, true);
}

void AppController::applyTaskbarEntry() {
    if (IsClosing)
        return;
    if (Options.HideTaskbar)
        setTaskbarEntryVisible(m_w, false);
    else if (!IsStarting)
        setTaskbarEntryVisible(m_w, true);
}

// The EPG timers name a channel by its record; the overlays hold it by its shared reference.
static TChannelRef refOf(const TChannel& channel, const TChannelRef& akt, const ChannelModel& model) {
    if (akt.get() == &channel)
        return akt;
    for (const TChannelRef& ch : model.channels())
        if (ch.get() == &channel)
            return ch;
    return {};
}

void AppController::showEPGInfo(TChannel& channel) {
    if (TChannelRef ref = refOf(channel, m_session.AktChannel, *m_channelModel))
        m_osd->osd().ShowEPGInfo(ref);
}

void AppController::showChannelInfo(TChannel& channel) {
    if (TChannelRef ref = refOf(channel, m_session.AktChannel, *m_channelModel))
        m_osd->panels().ShowChannelInfo(ref);
}

bool AppController::channelPanelVisible() const {
    return m_osd->panels().channelsVisible();
}

void AppController::setStopEPGCaption(const QString& caption) {
    m_w.menu().StopEPG1->setText(caption);
}

bool AppController::channelBoxEnabled() {
    return m_w.CmbChannels()->isEnabled();
}

bool AppController::channelBoxEnabled() const {
    return m_w.CmbChannels()->isEnabled();
}

bool AppController::isFullscreen() {
    return m_w.view().IsFullscreen;
}

bool AppController::isFullscreen() const {
    return m_w.view().IsFullscreen;
}

void AppController::focusChannelBox() {
    if (m_w.CmbChannels()->isEnabled() && m_w.CmbChannels()->isVisible())
        m_w.CmbChannels()->setFocus();
}

void AppController::switchToFullscreen() {
    m_w.view().Fullscreen1Click();
}

void AppController::setBusyCursor(bool busy) {
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        while (QApplication::overrideCursor())
            QApplication::restoreOverrideCursor();
}

void AppController::minimise() {
    m_w.showMinimized();
}

void AppController::stopTimers() {
    m_w.TimerTime().stop();
    m_w.PopUpTimer().stop();
    m_w.FrmBlackScreen().TimerShow().stop();
    m_epg->disableEPGTimer();
    m_epg->stopEPGUpdateTimer();
    m_epg->stopEPGChannelsTimer();
    m_epg->showEPGOnSwitchTimer().stop();
    // The OSD timers: the in-window bar's and each overlay's show, hide and refresh timers.
    m_osd->panels().TimerOSD().stop();
    OsdController& osd = m_osd->osd();
    for (TFrmOSD* overlay : {static_cast<TFrmOSD*>(&osd.FrmOSD_Info()), static_cast<TFrmOSD*>(&osd.FrmOSD_Channels()),
                             static_cast<TFrmOSD*>(&osd.FrmOSD_Details())}) {
        overlay->TimerShow().stop();
        overlay->TimerHide().stop();
        overlay->TimerEPGUpdate().stop();
    }
    // The watchdog: a tick during the close's stop would restart the stream.
    if (m_switcher)
        m_switcher->TimerVLC().stop();
    // The input-block timers are the input rules' own.
    Q_EMIT timersStopped();
}

void AppController::stopPlayback() {
    m_player.Stop();
}

void AppController::shutDownPlayer() {
    // Both hold the receiver's client, which the next connection replaces ("Init Quoxel").
    m_online->detachStream();
    m_switcher.reset();
    m_stream.reset();
    m_playerReady = false;
    // The engine instance ends here, its threads and outputs with it; the next VLCInit makes a new one.
    if (VlcEngine* engine = m_player.engine())
        Log(LogVlc, QStringLiteral("VLC_Die()"), engine->VLC_Die());
}

void AppController::closeOptionsDialog() {
    // The dialog's close drops unsaved edits and stores the window state.
    if (m_options)
        static_cast<QDialog*>(m_options.get())->done(QDialog::Rejected);
    else if (m_store)
        m_w.saveWindowState(*m_store);
}

void AppController::ProgramSettings1Click() {
    if (!m_options)
        return;
    ViewModes::ModalScope below(m_w.view());
    m_options->setBoxClient(m_session.box());
    m_options->loadControls();
    // OK has read the file again: what the player, the stream setup and the remote VLC use follows.
    if (m_options->exec() == QDialog::Accepted && m_store)
        m_online->applySettings(*m_store, false);
    setUdpStreamChecked(Options.StreamType != 0);
}

void AppController::RebootDBOX1Click() {
    if (!hasChannelSelection() || !m_session.box())
        return;
    // The cursor comes back on every way out, the close included.
    struct BusyCursor {
        BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
        ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    } busy;
    if (!m_w.ConfirmBox(QStringLiteral("D-Box Reboot?")))
        return;
    if (VlcEngine* engine = m_player.engine())
        Log(LogVlc, QStringLiteral("VLC_Stop()"), engine->VLC_Stop());
    m_session.box()->BoxRequest(BoxURL(QStringLiteral("http://<IP:PORT>/control/reboot")));
    m_w.ShowInfo(QStringLiteral("D-Box Reboot! Plz Restart Quoxel!"));
    m_w.close();
}

void AppController::closeWindow() {
    m_w.close();
}

// SwitchHost -----------------------------------------------------------------------------------

bool AppController::channelBoxDroppedDown() const {
    if (auto* box = qobject_cast<TComboBoxQuoxel*>(m_w.CmbChannels()))
        return box->isDroppedDown();
    return false;
}

void AppController::showBackdrop() {
    m_w.showBackdrop();
}

void AppController::hideOsdWindows() {
    for (OsdWindow window : {OsdWindow::Info, OsdWindow::Channels, OsdWindow::Details})
        m_osd->osd().HideOSD(window);
}

void AppController::hideInfoPanels() {
    m_osd->panels().HideInfoPanel();
}

void AppController::showProgramBar(const TChannel&) {
    // The end of a switch outside full screen: the programme info of the channel now on air.
    m_osd->osd().ShowEPGInfo(m_session.AktChannel);
}

void AppController::showLogo(const TChannel& channel) {
    m_w.Logo()->setPixmap(m_pictures.logoFor(channel));
}

void AppController::aktChannelChanged(const TChannelRef& channel) {
    m_session.AktChannel = channel;
    // The background walk treats radio lists differently while a radio channel plays.
    if (m_epg && channel)
        m_epg->setAktRadio(channel->Mode == mRadio);
}

void AppController::setPlayCaption(const QString& caption) {
    // ";" is the pause glyph of the symbol font the caption was written for, "4" the play glyph.
    m_w.BtnPlay()->setText(caption == QLatin1String(";") ? QString(QChar(0x23F8)) : QString(QChar(0x25B6)));
}

void AppController::channelBoxChanged() {
    const int sel = m_session.model().selectedIndex();
    if (m_channelModel->rowCount() != m_session.model().channelBox().size())
        m_channelModel->setItems(m_session.model().channelBox());
    m_w.CmbChannels()->setCurrentIndex(sel);
    channelsMenuChanged();
}

void AppController::channelsMenuChanged() {
    m_channelMenu->checkRow(m_session.model().selectedIndex());
}

bool AppController::subChannelsMenuVisible() const {
    return m_w.menu().SubChannels1->menuAction()->isVisible();
}

void AppController::subChannelsMenuChanged() {
    QMenu* menu = m_w.menu().SubChannels1;
    menu->clear();
    if (!m_switcher)
        return;
    const QList<TChannelMenuEntry>& entries = m_switcher->subChannelsMenu();
    for (int i = 0; i < entries.size(); ++i) {
        QAction* a = menu->addAction(widgetSafeText(entries[i].Caption));
        a->setCheckable(true);
        a->setChecked(entries[i].Checked);
        // Queued: the click switches channels, and the switch rebuilds this very menu.
        connect(
            a, &QAction::triggered, this,
            [this, i] {
                if (m_switcher && !IsSwitching)
                    m_switcher->SubChannels1Click(i);
            },
            Qt::QueuedConnection);
    }
}

void AppController::setSubChannelsMenuVisible(bool visible) {
    m_w.menu().SubChannels1->menuAction()->setVisible(visible);
}

void AppController::focusVolumeBar() {
    m_w.Volume()->setFocus();
}

void AppController::closeDropDown() {
    m_w.CmbChannels()->hidePopup();
}

void AppController::setDropDownWidth(int pixels) {
    // The dropped list is this wide whatever its rows hold, and never narrower than the box.
    QComboBox* box = m_w.CmbChannels();
    box->view()->window()->setFixedWidth(std::max(pixels, box->width()));
}

void AppController::reshowStatus() {
    ShowStatus(m_w.statusPanel(0)->text());
}

void AppController::showZapTime(qint64 ms) {
    // Beside the status text, not in it: the texts of a switch stay as they are.
    m_w.statusPanel(0)->setToolTip(QStringLiteral("last zap: ") + QString::number(double(ms) / 1000.0, 'f', 2) +
                                   QStringLiteral(" s from the key to the first picture"));
}

void AppController::setProgramBarSuppressed(bool on) {
    m_osd->osd().setProgramBarSuppressed(on);
}

void AppController::movePointerAway() {
    // Off the picture: the pointer would otherwise sit over the video in full screen.
    QCursor::setPos(2000, 0);
}

void AppController::startBackdropShowTimer() {
    m_w.StartBackdropTimer();
}

void AppController::leaveFullscreen() {
    m_w.view().leaveFullscreen();
}

void AppController::switchToRow(int row) {
    if (!m_switcher || IsStarting)
        return;
    m_session.model().setSelectedIndex(row);
    m_w.CmbChannels()->setCurrentIndex(row);
    m_switcher->SwitchChannel(m_channelModel->channelAt(row));
}

void AppController::clickBouquet(int position) {
    switchBouquet(position);
}

void AppController::switchBouquet(int position, const QString& locateId) {
    setBusyCursor(true);
    processEvents();
    const auto& bouquets = m_session.model().bouquets();
    if (position < 0 || position >= bouquets.size() || bouquets[position].Checked) {
        buildBouquetsMenu(); // Qt has flipped the clicked mark; the model's marks stand
        setBusyCursor(false);
        return;
    }
    const bool fullscreen = beginMenuTransition();
    const QList<bool> wasEnabled = disableTopMenus();
    // The walk holds the old bouquet's channels; it starts again on the new ones.
    if (m_epg) {
        m_epg->disableEPGTimer();
        m_epg->StopEPGThread(false);
    }
    processEvents();

    const QString akt = m_session.AktChannel ? m_session.AktChannel->Id : QString();
    const TBouquetSwitch s = m_session.model().SwitchBouquet(position, locateId.isEmpty() ? akt : locateId);
    showBouquetChannels(s.FreshlyLoaded);
    if (s.FreshlyLoaded)
        m_session.loadAllChannelEPG();
    if (!fullscreen && m_w.CmbChannels()->isEnabled() && m_switcher) {
        m_switcher->CmbChannelsChange();
        // The channel on air is not in this bouquet: play the one the box now shows.
        if (s.Located < 0 && locateId.isEmpty() && hasChannelSelection() && !IsSwitching)
            switchChannel();
    }

    if (m_epg)
        m_epg->enableEPGTimer();
    if (fullscreen)
        endMenuTransition([this] { m_w.view().IsFullscreen = true; });
    restoreTopMenus(wasEnabled);
    setBusyCursor(false);
}

// PlayerView / StreamSetupView -----------------------------------------------------------------

bool AppController::selectedIsAktChannel() const {
    const int row = m_w.CmbChannels()->currentIndex();
    return row >= 0 && m_channelModel->channelAt(row) == m_session.AktChannel;
}

void AppController::switchToSelectedChannel() {
    switchChannel();
}

void AppController::setVolumePosition(int position) {
    m_w.setVolumePosition(position);
    m_osd->showVolume(m_w.Volume()->value());
}

void AppController::hideOsdInfo() {
    m_osd->osd().FrmOSD_Info().HideOSD();
}

void AppController::setMuteShown(bool muted) {
    m_w.setMuted(muted);
    m_w.menu().VLCMute1->setChecked(muted);
}

void AppController::showMainWindow() {
    m_w.show();
}

void AppController::engineMissing(const QString& message) {
    // Without the engine there is nothing to play: the user is told and the program ends, without
    // the close sequence (nothing was started that it would undo).
    m_w.ShowInfo(message);
    m_w.hide();
    QCoreApplication::exit(1);
}

void AppController::engineInitError(const QString& message) {
    m_w.ShowInfo(message);
}

void AppController::showRadioBackground(bool radio) {
    m_w.Background()->setVisible(radio);
    if (radio) {
        m_w.Background()->setGeometry(m_w.Video()->geometry());
        m_w.Background()->raise();
    }
}

bool AppController::isSptsChecked() const {
    return m_w.menu().SPTS1->isChecked();
}

void AppController::startWatchdog(int intervalMs) {
    // Quoxel mode: the watchdog follows the providing instance from the start.
    if (m_switcher)
        m_switcher->startWatchdog(intervalMs);
}

void AppController::stopEngineTwice() {
    if (VlcEngine* engine = m_player.engine()) {
        engine->VLC_Stop();
        Log(LogVlc, QStringLiteral("VLC_Stop()"), engine->VLC_Stop());
    }
}

void AppController::sendBehindBackdrop() {
    // The backdrop stays above the main window, which goes under it.
    m_w.lower();
    m_w.FrmBlackScreen().raise();
}

bool AppController::showStillPicture(const QString& file) {
    const QImage picture(file);
    if (picture.isNull())
        return false;
    m_w.setStillPicture(picture);
    return true;
}

void AppController::hideStillPicture() {
    m_w.setStillPicture(QImage());
}

void AppController::videoOutputBack() {
    m_w.resendVideoSize();
}

void AppController::streamNotAvailable() {
    if (!isFullscreen() && m_w.CmbChannels()->isEnabled())
        setBusyCursor(false);
    IsSwitching = false;
    startEPGTimer(1);
}

void AppController::setUdpStreamChecked(bool checked) {
    m_w.menu().UDPStream1->setCheckable(true);
    m_w.menu().UDPStream1->setChecked(checked);
}

} // namespace quoxel
