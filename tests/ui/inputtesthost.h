#pragma once

#include "ui/inputcontroller.h"
#include "ui/inputfilter.h"

#include <QLineEdit>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <ostream>
#include <vector>

// Readable test failures.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QStringList& list, std::ostream* os) {
    *os << '{';
    for (const QString& s : list)
        *os << ' ' << '"' << s.toStdString() << '"';
    *os << " }";
}

// A real top-level window with a video panel and a focusable child that plays the main window
// for the input rules: the hook filter posts to it, its event() hands the messages to a real
// InputController, and every host call the rules make is recorded with its arguments. The view
// state it keeps follows the calls (showing an overlay makes it visible and so on), so sequences
// of input behave as in the program. UI thread.
class InputTestHost : public QWidget, public quoxel::InputHost {
public:
    InputTestHost();
    ~InputTestHost() override;

    // Shows the window, activates it and gives the focus to the child editor.
    bool showActive();

    quoxel::InputController& controller() { return *m_controller; }
    quoxel::MouseKeyHook& hook() { return *m_hook; }
    QWidget* video() const { return m_video; }
    QLineEdit* editor() const { return m_editor; }

    // The recorded calls, e.g. "ShowOSD Info ZDF auto", "SwitchChannel arte", "setFullscreen 1".
    QStringList calls;
    // Hook messages run by the window so far, and their codes.
    int keyMessages = 0;
    int mouseMessages = 0;
    QList<int> keyCodes;
    QList<int> mouseCodes;
    QList<bool> keyCtrl;

    // The bouquet: "Das Erste", "ZDF", "arte" (TV) and "Bayern 3" (radio), ListIndex 0..3.
    QList<TChannelRef> channels;
    TChannelRef akt;
    int boxIndex = 1;
    int osdListIndex = 2;
    int panelListIndex = 2;
    bool droppedDown = false;
    int panelTop = 0;
    int pageRows = 5;

    bool fullscreen = false;
    bool inTransition = false;
    bool menuOpen = false;
    bool dblClickEPG = false;
    bool alwaysOnTop = false;
    bool playing = true;
    bool muted = false;
    int volumePos = 50;
    std::map<quoxel::ViewCheck, bool> checks;
    std::map<quoxel::OsdWindow, bool> osd;
    std::map<quoxel::InWindowPanel, bool> panels;
    // Flags seen at each SwitchChannel call: in transition, menu open.
    QList<std::pair<bool, bool>> switchFlags;

    // InputHost
    bool isFullscreen() const override { return fullscreen; }
    void setFullscreen(bool on) override;
    bool isInTransition() const override { return inTransition; }
    void setInTransition(bool on) override { inTransition = on; }
    bool isMenuOpen() const override { return menuOpen; }
    void setMenuOpen(bool on) override { menuOpen = on; }
    bool isDblClickEPG() const override { return dblClickEPG; }
    void setDblClickEPG(bool on) override { dblClickEPG = on; }
    bool isAlwaysOnTop() const override { return alwaysOnTop; }
    void setAlwaysOnTop(bool on) override { alwaysOnTop = on; }
    bool isChecked(quoxel::ViewCheck item) const override;
    void setChecked(quoxel::ViewCheck item, bool on) override { checks[item] = on; }
    void setTopmost(bool on) override;
    bool isForeground() const override;
    QWidget* videoPanel() const override { return m_video; }
    void ShowMainWindow() override;
    void BringMainWindowToFront() override;

    TChannelRef AktChannel() const override { return akt; }
    void SwitchChannel(const TChannelRef& channel) override;
    int channelBoxIndex() const override { return boxIndex; }
    TChannelRef channelBoxChannel(int index) const override;
    bool channelBoxDroppedDown() const override { return droppedDown; }
    void reselectChannelBoxShownEntry() override;

    int osdChannelsIndex() const override { return osdListIndex; }
    int channelPanelIndex() const override { return panelListIndex; }
    TChannelRef channelPanelChannel(int index) const override { return channelBoxChannel(index); }
    int channelPanelTopIndex() const override { return panelTop; }
    void setChannelPanelTopIndex(int row) override;
    int channelPanelPageRows() const override { return pageRows; }

    bool osdVisible(quoxel::OsdWindow window) const override;
    void ShowOSD(quoxel::OsdWindow window, const TChannelRef& channel, bool autoHide) override;
    void HideOSD(quoxel::OsdWindow window) override;
    void OpenDetailsOSD(const TChannelRef& channel, bool autoHide) override;
    void CloseDetailsOSD() override;
    void OsdDetailsPrev() override { calls << "OsdDetailsPrev"; }
    void OsdDetailsNext() override { calls << "OsdDetailsNext"; }
    void OsdDetailsChanUp() override { calls << "OsdDetailsChanUp"; }
    void OsdDetailsChanDown() override { calls << "OsdDetailsChanDown"; }
    void dropInfoOsdForMenu() override;
    void ShowEPGInfo(const TChannelRef& channel) override;
    void HideEPGInfo() override;

    bool panelVisible(quoxel::InWindowPanel panel) const override;
    void ShowChannelPanel() override;
    void HideChannelPanel() override;
    void OpenDetailsPanel(const TChannelRef& channel) override;
    void CloseDetailsPanel() override;
    void PnlEpgPrevClick() override { calls << "PnlEpgPrevClick"; }
    void PnlEpgNextClick() override { calls << "PnlEpgNextClick"; }
    void PnlEpgChanUp() override { calls << "PnlEpgChanUp"; }
    void PnlEpgChanDown() override { calls << "PnlEpgChanDown"; }

    bool isMuted() const override { return muted; }
    int volume() const override { return volumePos; }
    void setVolume(int position) override;

    bool IsPlaying() const override { return playing; }
    void VLCRestart1Click() override { calls << "VLCRestart1Click"; }
    void Telnet1Click() override;
    void DBoxOSD1Click() override;
    void alwaysontop1Click() override;
    void VideoOnly1Click() override;
    void hideTelnetPanel() override;
    void startPopUpTimer() override { calls << "startPopUpTimer"; }
    void ShowGuide() override { calls << "ShowGuide"; }

protected:
    bool event(QEvent* event) override;

private:
    static QString name(const TChannelRef& channel);

    QWidget* m_video = nullptr;
    QLineEdit* m_editor = nullptr;
    std::unique_ptr<quoxel::InputController> m_controller;
    std::unique_ptr<quoxel::MouseKeyHook> m_hook;
};

// The state a table row starts from, built from small pieces.
using Setup = std::function<void(InputTestHost&)>;
Setup full(Setup more = {});
Setup window(Setup more = {});
Setup osd(std::initializer_list<quoxel::OsdWindow> shown);
Setup panels(std::initializer_list<quoxel::InWindowPanel> shown);
Setup both(Setup a, Setup b);
// After the input message arrived: waits for the row's calls (a row that makes none waits out a
// second) and a little more, so a late extra call would be seen.
void settle(InputTestHost& host, int expectedCalls);
