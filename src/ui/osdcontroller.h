#pragma once

#include "ui/inputcontroller.h"
#include "ui/osd.h"

#include <memory>

namespace quoxel {

class EpgPanels;
class TFrmOSD_Channels;
class TFrmOSD_Details;
class TFrmOSD_Info;

// Owns the three full-screen overlays and decides between them and the in-window panels: the
// entry points the channel switch, the EPG timers and the input rules call. UI thread.
class OsdController {
public:
    explicit OsdController(OsdHost& host);
    ~OsdController();

    // The in-window panels used in window mode; may stay unset (then window mode shows nothing).
    void setPanels(EpgPanels* panels) { m_panels = panels; }

    // Shows nothing while suppressed: a channel switch is under way and would show stale programmes.
    void ShowEPGInfo(const TChannelRef& channel);
    void setProgramBarSuppressed(bool on) { m_suppressed = on; }
    bool programBarSuppressed() const { return m_suppressed; }
    void HideEPGInfo();
    void OpenDetailsOSD(const TChannelRef& channel, bool autoHide);
    void CloseDetailsOSD();

    bool osdVisible(OsdWindow window) const;
    void ShowOSD(OsdWindow window, const TChannelRef& channel, bool autoHide);
    void HideOSD(OsdWindow window);
    void OsdDetailsPrev();
    void OsdDetailsNext();
    void OsdDetailsChanUp();
    void OsdDetailsChanDown();
    void dropInfoOsdForMenu();
    int osdChannelsIndex() const;

    TFrmOSD_Info& FrmOSD_Info() { return *m_info; }
    TFrmOSD_Channels& FrmOSD_Channels() { return *m_channels; }
    TFrmOSD_Details& FrmOSD_Details() { return *m_details; }

    // For the overlays: what showing one of them does to the others.
    void hideInfoAndDetails();
    void hideInfoAndLowerChannels();
    void focusChannelsList();

private:
    OsdHost& m_host;
    EpgPanels* m_panels = nullptr;
    bool m_suppressed = false;
    std::unique_ptr<TFrmOSD_Info> m_info;
    std::unique_ptr<TFrmOSD_Channels> m_channels;
    std::unique_ptr<TFrmOSD_Details> m_details;
};

} // namespace quoxel
