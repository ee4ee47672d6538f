#pragma once

#include "ui/inputcontroller.h"
#include "ui/inputfilter.h"

#include <QObject>

namespace quoxel {

class AppController;
class TFrmQuoxel;

// The input rules wired to the main window: the hook filter posts its messages to the window and
// this hands them to the InputController, answering its questions from the window, the view
// modes and the player; the overlays and in-window EPG panels are the controller's (AppOsd).
// UI thread.
class AppInput : public QObject, public InputHost {
    Q_OBJECT
public:
    AppInput(TFrmQuoxel& window, AppController& app, QObject* parent = nullptr);
    ~AppInput() override;

    InputController& controller() { return m_controller; }
    MouseKeyHook& hook() { return m_hook; }

    bool isFullscreen() const override;
    void setFullscreen(bool on) override;
    bool isInTransition() const override;
    void setInTransition(bool on) override;
    bool isMenuOpen() const override;
    void setMenuOpen(bool on) override;
    bool isDblClickEPG() const override;
    void setDblClickEPG(bool on) override;
    bool isAlwaysOnTop() const override;
    void setAlwaysOnTop(bool on) override;
    bool isChecked(ViewCheck item) const override;
    void setChecked(ViewCheck item, bool on) override;
    void setTopmost(bool on) override;
    bool isForeground() const override;
    QWidget* videoPanel() const override;
    void ShowMainWindow() override;
    void BringMainWindowToFront() override;

    TChannelRef AktChannel() const override;
    void SwitchChannel(const TChannelRef& channel) override;
    int channelBoxIndex() const override;
    TChannelRef channelBoxChannel(int index) const override;
    bool channelBoxDroppedDown() const override;
    void reselectChannelBoxShownEntry() override;

    int osdChannelsIndex() const override;
    int channelPanelIndex() const override;
    TChannelRef channelPanelChannel(int index) const override;
    int channelPanelTopIndex() const override;
    void setChannelPanelTopIndex(int index) override;
    int channelPanelPageRows() const override;

    bool osdVisible(OsdWindow window) const override;
    void ShowOSD(OsdWindow window, const TChannelRef& channel, bool autoHide) override;
    void HideOSD(OsdWindow window) override;
    void OpenDetailsOSD(const TChannelRef& channel, bool autoHide) override;
    void CloseDetailsOSD() override;
    void OsdDetailsPrev() override;
    void OsdDetailsNext() override;
    void OsdDetailsChanUp() override;
    void OsdDetailsChanDown() override;
    void dropInfoOsdForMenu() override;
    void ShowEPGInfo(const TChannelRef& channel) override;
    void HideEPGInfo() override;

    bool panelVisible(InWindowPanel panel) const override;
    void ShowChannelPanel() override;
    void HideChannelPanel() override;
    void OpenDetailsPanel(const TChannelRef& channel) override;
    void CloseDetailsPanel() override;
    void PnlEpgPrevClick() override;
    void PnlEpgNextClick() override;
    void PnlEpgChanUp() override;
    void PnlEpgChanDown() override;

    bool isMuted() const override;
    int volume() const override;
    void setVolume(int position) override;

    bool IsPlaying() const override;
    void VLCRestart1Click() override;
    void Telnet1Click() override;
    void DBoxOSD1Click() override;
    void alwaysontop1Click() override;
    void VideoOnly1Click() override;
    void hideTelnetPanel() override;
    void startPopUpTimer() override;
    void ShowGuide() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TFrmQuoxel& m_w;
    AppController& m_app;
    InputController m_controller;
    MouseKeyHook m_hook;
};

} // namespace quoxel
