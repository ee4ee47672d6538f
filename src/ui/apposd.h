#pragma once

#include "ui/osd.h"
#include "ui/pictures.h"

#include <QPointer>

#include <memory>

namespace quoxel {

class AppController;
class EpgPanels;
class OsdController;
class TFrmQuoxel;

// The overlays and the in-window EPG panels put into the main window: answers their questions
// from the window, the view modes, the session and the player, and owns both. Built once the
// window is. UI thread.
class AppOsd : public OsdHost {
public:
    AppOsd(TFrmQuoxel& window, AppController& app);
    ~AppOsd() override;

    OsdController& osd() { return *m_osd; }
    EpgPanels& panels() { return *m_panels; }

    bool isFullscreen() const override;
    bool isInTransition() const override;
    bool isMenuOpen() const override;
    void setDblClickEPG(bool on) override;
    void startPopUpTimer() override;
    void hideBackdrop() override;
    QScreen* osdScreen() const override;

    TChannelRef AktChannel() const override;
    ChannelModel* channelModel() const override;
    bool channelBoxDroppedDown() const override;
    void setChannelBoxEnabled(bool on) override;
    void repaintChannelBox() override;
    void SwitchChannel(const TChannelRef& channel) override;
    void setCaption(const QString& caption) override;
    QPixmap logoFor(const TChannel& channel) override;

    const TStreamInfo* streamInfo() const override;
    int audioMenuCount() const override;

    int volume() const override;
    void setVolume(int position) override;
    void setEPGUpdateTimer(bool on) override;
    void setEPGChannelsTimer(bool on) override;

    // The volume twin in the info bar follows the main bar.
    void showVolume(int position);

private:
    TFrmQuoxel& m_w;
    AppController& m_app;
    std::unique_ptr<OsdController> m_osd;
    QPointer<EpgPanels> m_panels;
};

} // namespace quoxel
