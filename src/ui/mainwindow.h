#pragma once

#include "core/ports.h"
#include "ui/menus.h"
#include "ui/viewmodes.h"

#include <QImage>
#include <QMainWindow>
#include <QMenu>
#include <QPixmap>
#include <QTimer>

#include <functional>
#include <memory>

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSystemTrayIcon;
class SettingsStore;

namespace quoxel {

class TFrmBlackScreen;
class TFrmSplash;

enum class VolumeMouse { Down, Move, Up };

// The main window FrmQuoxel: the video panel the player draws into, the channel row, the main
// menu, the status line with mode and clock, the context menu, the tray icon, the splash and
// about box. View changes go through ViewModes; the window itself only builds and forwards.
// UI thread.
class TFrmQuoxel : public QMainWindow, public StatusSink {
    Q_OBJECT
public:
    explicit TFrmQuoxel(QWidget* parent = nullptr);
    ~TFrmQuoxel() override;

    const MainMenu& menu() const { return m_menu; }
    ViewModes& view() { return *m_view; }
    // The panel the player draws into; a native window whose id stays fixed for the window's life.
    QWidget* Video() const { return m_video; }
    QWidget* Background() const { return m_background; }
    QLabel* Image1() const { return m_image1; }
    QWidget* PnlRealOSD() const { return m_realOsd; }
    QLabel* ImgRealOSD() const { return m_imgRealOsd; }
    QLabel* LblRealOSDClose() const { return m_realOsdClose; }
    QWidget* PnlTelnet() const { return m_telnet; }
    QLabel* Logo() const { return m_logo; }
    QComboBox* CmbChannels() const { return m_channels; }
    QPushButton* BtnPlay() const { return m_play; }
    QLabel* ImgVolOn() const { return m_volOn; }
    QLabel* ImgVolOff() const { return m_volOff; }
    QProgressBar* Volume() const { return m_volume; }
    QLabel* statusPanel(int i) const { return m_panels[i]; }
    // The mark in the status bar while the receiver records.
    QLabel* LblRecording() const { return m_recording; }
    void setRecordingShown(bool shown);
    QTimer& TimerTime() { return m_timerTime; }
    QTimer& PopUpTimer() { return m_popUpTimer; }
    QMenu& PopupMenu() { return m_popup; }
    QSystemTrayIcon& Tray() { return *m_tray; }
    QMenu& PopupMenu1() { return m_trayMenu; }
    QAction* Close2() const { return m_close2; }
    TFrmBlackScreen& FrmBlackScreen() { return *m_blackScreen; }
    TFrmSplash& FrmSplash() { return *m_splash; }

    // StatusSink: the three panel texts; the message panel takes the width the others leave.
    void showStatus(const QString& message, const QString& modeName, const QString& stamp) override;

    // Mute state as the speaker pictures show it.
    void setMuted(bool muted);
    bool muted() const;
    // The volume bar; the wheel and the mouse change it within 0..100.
    void setVolumePosition(int position);

    // The paused picture drawn in the video panel while the player has let its output go; a null
    // image takes it down.
    void setStillPicture(const QImage& picture);
    bool showsStillPicture() const { return !m_still.isNull(); }
    // The player's video output, taken up again after a pause, draws at the picture's own size
    // until the panel's window changes size: the panel changes by a pixel and back.
    void resendVideoSize();

    // Full screen backdrop while a stream restarts.
    void showBackdrop();
    void StartBackdropTimer();

    // The context menu: started by the right-click rule, opened from its timer tick.
    void startPopup();
    void PopUpTimerTimer();
    void PopupMenuPopup();
    void PopupAbbruchClick();

    void TrayClick();
    void TrayDblClick();
    void Close1Click();
    void Close2Click() { Close1Click(); }
    void N1Click();

    // Message boxes that open below a topmost main window and give the placement back after.
    void ShowInfo(const QString& text);
    bool ConfirmBox(const QString& text);
    // What shows the two boxes instead of a QMessageBox (tests answer here); still below a topmost window.
    void setMessageBoxes(std::function<bool(const QString&)> confirm, std::function<void(const QString&)> info) {
        m_confirmBox = std::move(confirm);
        m_infoBox = std::move(info);
    }

    // Runs the clock's work now (the timer ticks every 10 s).
    void TimerTimeTimer();
    // Clock labels of the in-window views ("hh:nn"), set on every tick.
    void setClockListener(std::function<void(const QString& hhmm)> listener) { m_clockListener = std::move(listener); }
    // Who decides a close request of "Close" and the tray's "Close"; without one the window
    // closes unless the start-up is under way.
    void setCloseRequestHandler(std::function<void()> handler) { m_closeRequest = std::move(handler); }
    // The close sequence; without one the window just closes.
    void setCloseHandler(std::function<void()> handler) { m_closeHandler = std::move(handler); }
    // Hooks of the view modes that belong to the overlays and the channel records.
    void setViewHooks(ViewHooks hooks);

    // The window state into the settings file (only with "remember state").
    bool saveWindowState(SettingsStore& store) const;

Q_SIGNALS:
    // The context menu is about to copy the main menu: run-time menus bring themselves up to date.
    void popupOpening();
    void volumeChosen(int position);
    // The clock's work of a tick is done (TimerTimeTimer).
    void clockTicked();
    // The mouse on the volume bar: x in the bar, its width, and whether the left button alone
    // is down with no modifier key.
    void volumeMouse(quoxel::VolumeMouse kind, int x, int barWidth, bool leftButtonOnly);
    void muteClicked();
    void playClicked();
    void logoClicked();
    // The "x" on the receiver's screen picture.
    void realOsdCloseClicked();
    // Minimised with "hide taskbar": the window has gone to the tray.
    void minimisedToTray();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildClient();
    void buildStatusBar();
    void buildTray();
    void connectMenu();

    MainMenu m_menu;
    std::unique_ptr<ViewModes> m_view;
    QWidget* m_client = nullptr;
    QWidget* m_video = nullptr;
    QImage m_still;
    QPixmap m_stillScaled; // m_still at the panel's size, made on the first paint at that size
    QWidget* m_background = nullptr;
    QLabel* m_image1 = nullptr;
    QWidget* m_realOsd = nullptr;
    QLabel* m_imgRealOsd = nullptr;
    QLabel* m_realOsdClose = nullptr;
    QWidget* m_telnet = nullptr;
    QLabel* m_logo = nullptr;
    QComboBox* m_channels = nullptr;
    QPushButton* m_play = nullptr;
    QLabel* m_volOn = nullptr;
    QLabel* m_volOff = nullptr;
    QProgressBar* m_volume = nullptr;
    QLabel* m_panels[3] = {nullptr, nullptr, nullptr};
    QLabel* m_recording = nullptr;
    QTimer m_timerTime;
    QTimer m_popUpTimer;
    QMenu m_popup;
    QMenu m_trayMenu;
    QAction* m_close2 = nullptr;
    QSystemTrayIcon* m_tray = nullptr;
    std::unique_ptr<TFrmBlackScreen> m_blackScreen;
    TFrmSplash* m_splash = nullptr;
    std::function<void(const QString&)> m_clockListener;
    std::function<void()> m_closeHandler;
    std::function<void()> m_closeRequest;
    std::function<bool(const QString&)> m_confirmBox;
    std::function<void(const QString&)> m_infoBox;
    bool m_closing = false;
};

} // namespace quoxel
