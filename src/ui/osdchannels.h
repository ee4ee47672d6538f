#pragma once

#include "ui/osd.h"

class ChannelListView;

namespace quoxel {

class OsdController;

// TFrmOSD_Channels: every channel of the bouquet with now/next and progress, for choosing one.
// Its list shows the channel box's rows in the box's order. UI thread.
class TFrmOSD_Channels : public TFrmOSD {
    Q_OBJECT
public:
    TFrmOSD_Channels(OsdHost& host, OsdController& controller, QWidget* parent = nullptr);

    void ShowOSD(const TChannelRef& channel, bool autoHide) override;

    ChannelListView* LbxChannels() const { return m_list; }
    QLabel* LblEPGChannelsTime() const { return m_lblTime; }
    QLabel* LblChannelsHeader() const { return m_lblHeader; }
    // The selected row, -1 for none.
    int selectedIndex() const;
    int topIndex() const;

    void Panel2Click(); // page up
    void Panel7Click(); // page down
    void PnlEPGCloseClick();
    // Double-click on a row (not in mode "quoxel"): hide, then switch to the row's channel.
    void LbxChannelsDblClick(int row);

protected:
    void prepareShow() override;
    void refreshTick() override;
    void buildLayout() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    OsdController& m_controller;
    ChannelListView* m_list = nullptr;
    QLabel* m_lblTime = nullptr;
    QLabel* m_lblHeader = nullptr;
};

} // namespace quoxel
