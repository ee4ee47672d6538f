#pragma once

#include "box/records.h"

#include <QObject>
#include <QTimer>

class QEvent;
class QWidget;

namespace quoxel {

enum class ClickSequence;

// The full-screen overlay windows (TFrmOSD_Info, TFrmOSD_Channels, TFrmOSD_Details).
enum class OsdWindow {
    Info,
    Channels,
    Details,
};

// Panels inside the main window that the rules look at.
enum class InWindowPanel {
    Info,     // the info bar PnlEPG
    Channels, // PnlEPGChannels
    Details,  // PnlEPGDetails
    Telnet,   // PnlTelnet
    RealOsd,  // PnlRealOSD, the receiver's screen picture
};

// Check marks of the View menu the rules read and write.
enum class ViewCheck {
    Fullscreen1,
    VideoOnly1,
    alwaysontop1,
    Telnet1,
};

// What the input rules need of the main window; AppInput implements it. UI thread.
class InputHost {
public:
    virtual ~InputHost() = default;

    // View state. setFullscreen also switches the view: the video goes full screen when the flag
    // is set and back into the window when it is cleared (the engine's own double-click toggle).
    // It does nothing else: the check mark, topmost placement, info, telnet panel and pointer are
    // the rules' to set, through the calls below. Setting the flag it already has changes nothing.
    virtual bool isFullscreen() const = 0;
    virtual void setFullscreen(bool on) = 0;
    virtual bool isInTransition() const = 0;
    virtual void setInTransition(bool on) = 0;
    virtual bool isMenuOpen() const = 0;
    virtual void setMenuOpen(bool on) = 0;
    virtual bool isDblClickEPG() const = 0;
    virtual void setDblClickEPG(bool on) = 0;
    virtual bool isAlwaysOnTop() const = 0;
    virtual void setAlwaysOnTop(bool on) = 0;
    virtual bool isChecked(ViewCheck item) const = 0;
    virtual void setChecked(ViewCheck item, bool on) = 0;
    // Topmost placement of the main window, without moving, sizing or activating it.
    virtual void setTopmost(bool on) = 0;
    // The main window is the active (foreground) window.
    virtual bool isForeground() const = 0;
    // `Video`: its screen rectangle decides "inside the video", and injected clicks go to it when
    // no window of the program lies under the pointer.
    virtual QWidget* videoPanel() const = 0;
    virtual void ShowMainWindow() = 0;
    virtual void BringMainWindowToFront() = 0;

    // Channels.
    virtual TChannelRef AktChannel() const = 0;
    virtual void SwitchChannel(const TChannelRef& channel) = 0;
    // CmbChannels: selected index (-1 none), the channel of an entry (null outside the box), whether
    // its list is dropped down, and re-selecting the entry whose text the closed box shows.
    virtual int channelBoxIndex() const = 0;
    virtual TChannelRef channelBoxChannel(int index) const = 0;
    virtual bool channelBoxDroppedDown() const = 0;
    virtual void reselectChannelBoxShownEntry() = 0;

    // Channel lists: the selected row of the channel overlay's list and of the in-window list
    // (-1 none), and the channel stored with row index of the in-window list (null outside it);
    // both lists hold the bouquet in the same order.
    virtual int osdChannelsIndex() const = 0;
    virtual int channelPanelIndex() const = 0;
    virtual TChannelRef channelPanelChannel(int index) const = 0;
    // Paging the in-window list with the wheel: its top row and its rows per page.
    virtual int channelPanelTopIndex() const = 0;
    virtual void setChannelPanelTopIndex(int row) = 0;
    virtual int channelPanelPageRows() const = 0;

    // Full-screen overlays. ShowOSD is for Info and Channels; details open with OpenDetailsOSD.
    virtual bool osdVisible(OsdWindow window) const = 0;
    virtual void ShowOSD(OsdWindow window, const TChannelRef& channel, bool autoHide) = 0;
    virtual void HideOSD(OsdWindow window) = 0;
    virtual void OpenDetailsOSD(const TChannelRef& channel, bool autoHide) = 0;
    virtual void CloseDetailsOSD() = 0;
    // Previous / next programme and previous / next channel of the details overlay.
    virtual void OsdDetailsPrev() = 0;
    virtual void OsdDetailsNext() = 0;
    virtual void OsdDetailsChanUp() = 0;
    virtual void OsdDetailsChanDown() = 0;
    // Before the context menu opens in full screen: stop the info overlay's hide timer, set its
    // interval to 1 ms and hide the overlay window.
    virtual void dropInfoOsdForMenu() = 0;
    // Info in the current view: the info overlay in full screen, the info bar in the window.
    virtual void ShowEPGInfo(const TChannelRef& channel) = 0;
    virtual void HideEPGInfo() = 0;

    // In-window panels.
    virtual bool panelVisible(InWindowPanel panel) const = 0;
    virtual void ShowChannelPanel() = 0; // selects AktChannel in the list
    virtual void HideChannelPanel() = 0;
    virtual void OpenDetailsPanel(const TChannelRef& channel) = 0;
    virtual void CloseDetailsPanel() = 0;
    virtual void PnlEpgPrevClick() = 0;
    virtual void PnlEpgNextClick() = 0;
    virtual void PnlEpgChanUp() = 0;
    virtual void PnlEpgChanDown() = 0;

    // Volume: the bar's position (0..100) and the mute state; setVolume gives the focus to
    // `Volume`, sets it and `VolumeOsd` to position and the engine volume to it.
    virtual bool isMuted() const = 0;
    virtual int volume() const = 0;
    virtual void setVolume(int position) = 0;

    // Commands.
    virtual bool IsPlaying() const = 0;
    virtual void VLCRestart1Click() = 0;
    virtual void Telnet1Click() = 0;
    virtual void DBoxOSD1Click() = 0;
    virtual void alwaysontop1Click() = 0;
    virtual void VideoOnly1Click() = 0;
    // Entering full screen: hide the telnet panel and uncheck Telnet1.
    virtual void hideTelnetPanel() = 0;
    // PopUpTimer (1 ms): opens the context menu at the pointer.
    virtual void startPopUpTimer() = 0;
    // View > "Programme Guide" (key G in the window and in full screen, which it leaves); a window
    // without a guide ignores the key.
    virtual void ShowGuide() {}
};

// The main window's handler of the hook messages: the key tables for full screen and the window,
// the mouse rules that keep the full-screen state in step, the window's own wheel (volume and
// list paging), ChannelStep and the 500 ms key block. Acts only through InputHost. UI thread.
class InputController : public QObject {
    Q_OBJECT
public:
    explicit InputController(InputHost& host, QObject* parent = nullptr);

    // Runs the rules for a "KeyHookMessage" or "MouseHookMessage" event; false for other events.
    bool hookEvent(QEvent* event);
    void KeyHookMessage(int key, bool leftCtrlDown);
    void MouseHookMessage(int code);

    // The window's own wheel events; true when handled (the widget under the pointer then does
    // not get the wheel). In full screen the wheel belongs to the hook rule and these do nothing.
    bool FormMouseWheelDown();
    bool FormMouseWheelUp();

    // d = -1 (PageUp) or +1 (PageDown): switch to the neighbour of the selected channel box entry.
    void ChannelStep(int d);

    QTimer& TimerInputBlockKey() { return m_timerInputBlockKey; }

private:
    void tableF(int key);
    void tableW(int key);
    void leftDoubleClick();
    bool formWheel(bool up);
    bool pointerInsideVideo() const;
    bool isRadio(const TChannelRef& channel) const;
    bool isTv(const TChannelRef& channel) const;
    void letMessagesRun();
    void synthesize(ClickSequence sequence);
    void restoreTopmost();

    InputHost& m_host;
    QTimer m_timerInputBlockKey;
};

} // namespace quoxel
