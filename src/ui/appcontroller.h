#pragma once

#include "box/connectionsteps.h"
#include "box/epgtimers.h"
#include "box/recordwatch.h"
#include "core/connection.h"
#include "core/lifecycle.h"
#include "core/ports.h"
#include "playback/streamsetup.h"
#include "playback/switchhost.h"
#include "playback/vlcplayer.h"

#include "ui/pictures.h"

#include <QObject>

#include <functional>
#include <memory>

class ChannelMenuBuilder;
class ChannelModel;
class ChannelSwitcher;
class TFrmOptions;
class TelnetConsole;
class TelnetSession;
class TelnetView;
class TFrmRemoteControl;
class BoxOsdView;
class QLabel;

namespace quoxel {

class AppOnline;
class AppGuide;
class AppOsd;
class TFrmQuoxel;

// The program put together: the main window's side of the connection sequence, activation,
// close, the channel switch and the player, over the receiver session. Owns the long-lived
// objects the window needs; the window only shows. UI thread.
class AppController : public QObject,
                      public ConnectionView,
                      public LifecycleView,
                      public SplashView,
                      public SwitchHost,
                      public PlayerView,
                      public StreamSetupView,
                      public EPGTimersHost {
    Q_OBJECT
public:
    // library: the engine's binding; the program's own (vlcLibrary()) unless given.
    explicit AppController(TFrmQuoxel& window, VlcLibrary* library = nullptr, QObject* parent = nullptr);
    ~AppController() override;

    // FormCreate: the connection sequence while the window is not yet shown.
    ConnectionOutcome FormCreate();
    // FormShow for the first show: the saved window state.
    void FormShow();

    // File > Options: the options dialog, modal below a topmost main window.
    void ProgramSettings1Click();
    // D-Box > D-Box Reboot: asks, stops the player, reboots the receiver and closes the window.
    void RebootDBOX1Click();
    // View > D-Box OSD: the receiver's screen and the remote-control window beside the main window.
    void DBoxOSD1Click();
    // D-Box > D-Box Message...: asks for a text and shows it on the TV screen.
    void Message1Click();
    TelnetSession& telnet() { return *m_telnet; }
    // The terminal panel and the telnet menu commands.
    TelnetConsole& console() { return *m_console; }
    TelnetView& telnetView() { return *m_telnetView; }
    // Null until D-Box OSD is first used with a receiver.
    TFrmRemoteControl* remoteControl() const { return m_remote.get(); }

    // Where the settings file is read; AppDir() + "Quoxel.ini" unless set before FormCreate.
    void setIniPath(const QString& path) { m_iniPath = path; }

    BoxSession& session() { return m_session; }
    // Null until the player has been set up at the first activation.
    ChannelSwitcher* switcher() const { return m_switcher.get(); }
    Lifecycle& lifecycle() { return m_lifecycle; }
    VLCPlayer& player() { return m_player; }
    ChannelModel& channelModel() { return *m_channelModel; }
    // Null until the first stream setup.
    const StreamSetup* stream() const { return m_stream.get(); }
    // The overlays and in-window EPG panels.
    AppOsd& osd() { return *m_osd; }
    // The EPG thread, the EPG timers and the two EPG commands.
    EPGTimers& epgTimers() { return *m_epg; }
    // Logos and backgrounds, loaded once for the window and the overlays.
    ChannelPictures& pictures() { return m_pictures; }
    // The programme guide window and its rows.
    AppGuide& guide() { return *m_guide; }
    // Selects the channel box row and switches to its channel, as a click in the Channels menu does.
    void switchToRow(int row);
    // A click on bouquet menu item `position`; locateId names the channel to select in the new
    // bouquet instead of the one on air (which is then not switched to by the bouquet switch).
    void switchBouquet(int position, const QString& locateId = {});

    // ConnectionView
    void setCaption(const QString& caption) override;
    void processEvents() override;
    SplashView& createSplashAndOptions() override;
    QList<QByteArray> settingsLogHead() override;
    void setEPGStopped(bool stopped) override;
    void refreshStatusAndClock() override;
    void hideReceiverItems() override;
    void showLogoHint() override;
    void setTelnetTarget(const QString& host, const QString& port) override;
    void telnetLogin(const QString& user, const QString& password) override;
    void setReceiverOsdEnabled(bool enabled) override;
    void createEPGThread() override;
    void setStandbyChecked(bool checked) override;
    void setSptsChecked(bool checked) override;
    void showChannels() override;
    void showRadioBackground() override { showRadioBackground(true); }

    // SplashView
    void showSplash(const QString& versionLabel) override;
    void setSplashStatus(const QString& text) override;
    void hideSplash() override;

    // LifecycleView
    void showTaskbarButton() override;
    bool hasChannelSelection() override;
    void refreshEPGDisplay() override;
    void refreshAktChannelEPG() override;
    void initPlayer() override;
    bool playerInitialised() override { return m_playerReady; }
    void switchChannel() override;
    void startEPGTimer(int intervalMs) override;
    bool channelBoxEnabled() override;
    bool isFullscreen() override;
    void focusChannelBox() override;
    void switchToFullscreen() override;
    void setBusyCursor(bool busy) override;
    void minimise() override;
    void stopTimers() override;
    void stopPlayback() override;
    void stopEPGThread() override;
    void shutDownPlayer() override;
    void closeOptionsDialog() override;
    void closeWindow() override;

    // SwitchHost
    bool isFullscreen() const override;
    bool channelBoxEnabled() const override;
    bool channelBoxDroppedDown() const override;
    void showBackdrop() override;
    void setProgramBarSuppressed(bool on) override;
    void hideInfoPanels() override;
    void showLogo(const TChannel& channel) override;
    void aktChannelChanged(const TChannelRef& channel) override;
    void setPlayCaption(const QString& caption) override;
    void channelBoxChanged() override;
    void channelsMenuChanged() override;
    void subChannelsMenuChanged() override;
    bool subChannelsMenuVisible() const override;
    void setSubChannelsMenuVisible(bool visible) override;
    void focusVolumeBar() override;
    void closeDropDown() override;
    void setDropDownWidth(int pixels) override;
    void reshowStatus() override;
    void showZapTime(qint64 ms) override;
    void startBackdropShowTimer() override;
    void movePointerAway() override;
    void startEpgShowTimer() override;
    void showProgramBar(const TChannel& channel) override;
    bool epgThreadRunning() const override;
    bool epgStoppedByUser() const override;
    void startEpgThread() override;
    void hideOsdWindows() override;
    void leaveFullscreen() override;
    void clickBouquet(int position) override;

    // PlayerView and StreamSetupView
    bool hasChannelSelection() const override;
    bool selectedIsAktChannel() const override;
    void switchToSelectedChannel() override;
    void processPendingEvents() override { processEvents(); }
    void setVolumePosition(int position) override;
    void hideOsdInfo() override;
    void setMuteShown(bool muted) override;
    void showMainWindow() override;
    void splashStatus(const QString& text) override { setSplashStatus(text); }
    void engineMissing(const QString& message) override;
    void engineInitError(const QString& message) override;
    void showRadioBackground(bool radio) override;
    bool isSptsChecked() const override;
    void setUdpStreamChecked(bool checked) override;
    void checkAudioItem(int index) override;
    void startWatchdog(int intervalMs) override;
    void stopEngineTwice() override;
    void sendBehindBackdrop() override;
    void streamNotAvailable() override;
    bool showsStillPictures() const override { return true; }
    bool showStillPicture(const QString& file) override;
    void hideStillPicture() override;
    void videoOutputBack() override;

Q_SIGNALS:
    // The close sequence has stopped the window's timers; the input rules stop theirs.
    void timersStopped();

protected:
    // The main window's activation runs FormActivate.
    bool eventFilter(QObject* watched, QEvent* event) override;

    // EPGTimersHost
    QList<TChannelRef> epgChannels() const override;
    int selectedChannel() const override;
    TChannelRef aktChannel() const override { return m_session.AktChannel; }
    bool channelListDroppedDown() const override { return channelBoxDroppedDown(); }
    void repaintChannelViews() override;
    void repaintChannelList() override;
    bool channelPanelVisible() const override;
    void setChannelPreviewCaption(const QString& caption) override;
    void showEPGInfo(TChannel& channel) override;
    void showChannelInfo(TChannel& channel) override;
    void setStopEPGCaption(const QString& caption) override;

private:
    bool switchRunning() const;
    void connectWindow();
    void connectTelnet();
    // On every show: the task-list entry as "hide taskbar" wants it.
    void applyTaskbarEntry();
    void buildBouquetsMenu();
    // The bouquet's channels into the channel box, the "Channels" menu and the channel list;
    // freshlyLoaded: they came from the receiver rather than the bouquet's cache.
    void showBouquetChannels(bool freshlyLoaded);
    // A click on the "Channels" menu entry of model row `row` (the context menu's copy too).
    void Channels1Click(int row);
    // The menu bar's items are disabled while a menu command switches; back as they were after it.
    QList<bool> disableTopMenus();
    void restoreTopMenus(const QList<bool>& wasEnabled);
    // A menu command in full screen: the view is marked in transition while the command runs (false
    // when not full screen); the end restores the view through restoreView and clears the marks.
    bool beginMenuTransition();
    void endMenuTransition(const std::function<void()>& restoreView);
    // The "Audio" menu from the stream setup's entries of the stream now playing.
    void buildAudioMenu();
    // Looks whether the receiver records and marks it; a change reloads the bouquets, as the
    // receiver's lists change with it.
    void lookForRecording(bool reloadOnChange);
    void recordWatchTick();
    void reloadBouquets();
    // The same once no switch or request runs any more (a switch found the recording).
    void reloadBouquetsWhenIdle();

    TFrmQuoxel& m_w;
    BoxSession m_session;
    Connection m_connection;
    Lifecycle m_lifecycle;
    VLCPlayer m_player;
    std::unique_ptr<StreamSetup> m_stream;
    std::unique_ptr<ChannelSwitcher> m_switcher;
    std::unique_ptr<ChannelModel> m_channelModel;
    std::unique_ptr<ChannelMenuBuilder> m_channelMenu;
    std::unique_ptr<SettingsStore> m_store;
    std::unique_ptr<TFrmOptions> m_options;
    std::unique_ptr<TelnetSession> m_telnet;
    TelnetView* m_telnetView = nullptr; // child of the window's telnet panel
    std::unique_ptr<TelnetConsole> m_console;
    std::unique_ptr<TFrmRemoteControl> m_remote;
    std::unique_ptr<BoxOsdView> m_boxOsd;
    std::unique_ptr<EPGTimers> m_epg;
    ChannelPictures m_pictures;
    RecordWatch m_recordWatch;
    std::unique_ptr<AppOsd> m_osd;
    AppOnline* m_online = nullptr; // child of this
    std::unique_ptr<AppGuide> m_guide;
    QString m_iniPath;
    bool m_playerReady = false;
    bool m_shown = false;
};

} // namespace quoxel
