#pragma once

#include "box/records.h"

#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include <functional>

class QFrame;
class QLabel;
class QScreen;
class TStreamInfo;
class ChannelModel;

namespace quoxel {

// What the overlays and the in-window panels need of the main window. AppOsd implements it.
// UI thread.
class OsdHost {
public:
    virtual ~OsdHost() = default;

    virtual bool isFullscreen() const = 0;
    virtual bool isInTransition() const = 0;
    virtual bool isMenuOpen() const = 0;
    virtual void setDblClickEPG(bool on) = 0;
    // PopUpTimer: opens the context menu at the pointer.
    virtual void startPopUpTimer() = 0;
    // Hides the black backdrop window when it is visible.
    virtual void hideBackdrop() = 0;
    // The screen the video is shown on (the overlays are placed and scaled for it); null = primary.
    virtual QScreen* osdScreen() const = 0;

    virtual TChannelRef AktChannel() const = 0;
    // The channel box's rows; row k is the channel with ListIndex k.
    virtual ChannelModel* channelModel() const = 0;
    virtual bool channelBoxDroppedDown() const = 0;
    virtual void setChannelBoxEnabled(bool on) = 0;
    virtual void repaintChannelBox() = 0;
    virtual void SwitchChannel(const TChannelRef& channel) = 0;
    // The main window's caption and the application title (radio song changes).
    virtual void setCaption(const QString& caption) = 0;
    virtual QPixmap logoFor(const TChannel& channel) = 0;

    // The current StreamInfo, or null; the number of items of the Audio menu.
    virtual const TStreamInfo* streamInfo() const = 0;
    virtual int audioMenuCount() const = 0;

    // The main volume bar (0..100); setVolume moves it and applies the engine volume.
    virtual int volume() const = 0;
    virtual void setVolume(int position) = 0;

    // The main window's TimerEPGUpdate (refreshes the info bar) and TimerEPGChannels (repaints the
    // channel list), which the panels start and stop; their ticks are the window's.
    virtual void setEPGUpdateTimer(bool /*on*/) {}
    virtual void setEPGChannelsTimer(bool /*on*/) {}
};

// The OSD time (osdshowtime) in milliseconds; 3000 when the setting is no number.
int osdShowTimeMs();
// True in mode "quoxel", where the channel is the serving instance's to choose.
bool isQuoxelMode();
// The channel d rows from `from` in the host's channel list; null past either end.
TChannelRef neighbourChannel(const OsdHost& host, const TChannelRef& from, int d);
// What a double click on a channel-list row switches to: null in quoxel mode or for no channel.
TChannelRef channelToSwitchTo(const OsdHost& host, int row);
// Overlay scale for a screen: the designed sizes fit a 1024 x 768 screen and grow with larger
// ones (logical pixels, so the device pixel ratio is already in).
double osdScaleFor(const QScreen* screen);
double osdScaleForSize(QSize logicalScreen);

// TFrmOSD: the base of the full-screen overlays. A frameless tool window that stays on top of the
// full-screen video, shown 200 ms after it was asked for, refreshed every 200 ms while shown and,
// with AutoHide, hidden after the OSD time. UI thread.
class TFrmOSD : public QWidget {
    Q_OBJECT
public:
    TFrmOSD(OsdHost& host, QSize designed, QWidget* parent = nullptr);

    virtual void CloseOSD();
    virtual void ShowNow();
    virtual void ShowOSD(const TChannelRef& channel, bool autoHide);
    virtual void HideOSD();

    QTimer& TimerHide() { return m_timerHide; }
    QTimer& TimerShow() { return m_timerShow; }
    QTimer& TimerEPGUpdate() { return m_timerEPGUpdate; }
    bool AutoHide = false;
    TChannelRef Channel;

    double scale() const { return m_scale; }
    // A designed pixel size at the current scale.
    int S(int px) const;

protected:
    // The TimerShow tick's preparation before ShowNow, and the TimerEPGUpdate tick.
    virtual void prepareShow() {}
    virtual void refreshTick() {}
    // Builds the controls at the current scale (again after a change of screen).
    virtual void buildLayout() = 0;

    void rebuildForScreen();
    QFont osdFont(int px, bool bold = true) const;
    QFrame* panel(QWidget* parent, const QRect& designed, const QColor& colour);
    QLabel* label(QWidget* parent, const QString& text, int fontPx, const QRect& designed,
                  Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter);
    // An arrow or close box that acts on a click.
    QLabel* button(QWidget* parent, const QString& text, const QRect& designed, std::function<void()> onClick);
    static void letMessagesRun();
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

    OsdHost& m_host;

private:
    QSize m_designed;
    double m_scale = 1.0;
    QTimer m_timerHide;
    QTimer m_timerShow;
    QTimer m_timerEPGUpdate;
};

// CmbEPGBar: the programme bar of a channel's running programme. UI thread.
class EpgBar : public QWidget {
public:
    // extra: 1 for the overlay's bar, 0 for the main window's.
    EpgBar(QWidget* parent, std::function<TChannelRef()> channel, int extra);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::function<TChannelRef()> m_channel;
    int m_extra;
};

inline const QColor kOsdDarkGrey{128, 128, 128};
QColor osdHighlight();
QColor osdActiveCaption();

} // namespace quoxel
