#pragma once

#include "ui/osd.h"

#include <QObject>
#include <QTimer>

class ChannelListView;
class QFrame;
class QLabel;
class QPlainTextEdit;
class QProgressBar;

namespace quoxel {

// The programme information inside the main window in window mode, laid over the lower part of
// the video: the info bar, the details panel and the channel panel. All start hidden. UI thread.
class EpgPanels : public QObject {
    Q_OBJECT
public:
    // parent: the widget over the video the panels are placed in.
    EpgPanels(OsdHost& host, QWidget* parent);

    void ShowInfoPanel(const TChannelRef& channel);
    void HideInfoPanel();
    void ShowChannelInfo(const TChannelRef& channel);
    void OpenDetailsPanel(const TChannelRef& channel);
    void CloseDetailsPanel();
    void FillDetails(const TChannelRef& channel, int k);
    void ShowChannelPanel();
    void HideChannelPanel();

    void LblEPGInfoClick() { OpenDetailsPanel(m_host.AktChannel()); }
    void PnlEPGCloseClick() { CloseDetailsPanel(); }
    void PnlEpgPrevClick();
    void PnlEpgNextClick();
    void PnlEpgChanUp() { chanStep(-1); }
    void PnlEpgChanDown() { chanStep(+1); }
    // The logo beside the channel box (and ImgEPGLogo): toggles the channel panel.
    void LogoClick();
    void ImgEPGLogoClick() { LogoClick(); }
    void PnlChannelCloseClick();
    void PnlChannelUpClick();
    void PnlChannelDownClick();
    void LbxChannelsDblClick(int row);
    void TimerOSDTimer();

    bool infoVisible() const;
    bool detailsVisible() const;
    bool channelsVisible() const;

    int32_t ShownIndex = 0;
    TChannelRef DetailsChannel;

    QFrame* PnlEPG() const { return m_pnlEPG; }
    QLabel* LblEPGChannel() const { return m_lblChannel; }
    QLabel* LblEPGInfo() const { return m_lblInfo; }
    QLabel* LblDurCurr() const { return m_lblDurCurr; }
    QLabel* LblDurNext() const { return m_lblDurNext; }
    QLabel* LblTime() const { return m_lblTime; }
    QLabel* LblStats() const { return m_lblStats; }
    QWidget* CmbEPGBar() const { return m_bar; }
    QFrame* PnlEPGDetails() const { return m_pnlDetails; }
    QLabel* LblTitle() const { return m_lblTitle; }
    QLabel* LblInfo1() const { return m_lblInfo1; }
    QPlainTextEdit* MmoInfo2() const { return m_memo; }
    QLabel* LblEPGTime() const { return m_lblEPGTime; }
    QLabel* LblEPGDate() const { return m_lblEPGDate; }
    QFrame* PnlEPGChannels() const { return m_pnlChannels; }
    QLabel* LblChannelsHeader() const { return m_lblChannelsHeader; }
    ChannelListView* LbxChannels() const { return m_list; }
    QLabel* LblEPGChannelsTime() const { return m_lblChannelsTime; }
    QTimer& TimerOSD() { return m_timerOSD; }
    // Text assignments made by ShowChannelInfo (only changed texts are set).
    int textAssignments() const { return m_assignments; }

    // The clock ("hh:nn") of the info bar and the channel panel, set by the window's 10 s tick.
    void setClock(const QString& hhmm);
    // Follows the video panel's bounds: the info bar at its bottom, the channel and details panels
    // over its height.
    void placeOver(const QRect& video, bool videoOnly);

    // HideEPGInfo of the overlays' controller, called by the TimerOSD tick.
    void setHideEpgInfo(std::function<void()> hide) { m_hideEpgInfo = std::move(hide); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void build(QWidget* parent);
    void set(QLabel* label, const QString& text);
    void chanStep(int d);
    void setInfoBarVisible(bool on);

    OsdHost& m_host;
    std::function<void()> m_hideEpgInfo;
    QList<QWidget*> m_infoParts;
    QFrame* m_pnlEPG = nullptr;
    QLabel* m_lblChannel = nullptr;
    QLabel* m_lblInfo = nullptr;
    QLabel* m_lblDurCurr = nullptr;
    QLabel* m_lblDurNext = nullptr;
    QLabel* m_lblTime = nullptr;
    QLabel* m_lblStats = nullptr;
    QLabel* m_imgLogo = nullptr;
    QWidget* m_bar = nullptr;
    QProgressBar* m_volumeOsd = nullptr;
    QFrame* m_pnlDetails = nullptr;
    QLabel* m_lblTitle = nullptr;
    QLabel* m_lblInfo1 = nullptr;
    QPlainTextEdit* m_memo = nullptr;
    QLabel* m_lblEPGTime = nullptr;
    QLabel* m_lblEPGDate = nullptr;
    QFrame* m_pnlChannels = nullptr;
    QLabel* m_lblChannelsHeader = nullptr;
    QLabel* m_lblChannelsTime = nullptr;
    ChannelListView* m_list = nullptr;
    QTimer m_timerOSD;
    QList<QWidget*> m_detailsBottom; // the paging row, kept at the panel's bottom
    QList<QWidget*> m_channelsBottom;
    const TChannel* m_logoOf = nullptr;
    int m_assignments = 0;
};

} // namespace quoxel
