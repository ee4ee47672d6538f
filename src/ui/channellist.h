#pragma once

#include <QListView>
#include <QStyledItemDelegate>

class ChannelModel;
class TChannel;
class TChannelProgram;

// Where the parts of a channel list row go (left offsets, text lines, progress bar).
struct ChannelRowGeometry {
    int ItemHeight;
    int X1; // caption
    int X2; // now and next lines
    int Y2;
    int Y3;
    int B0; // bar left (absolute) and top offset
    int BR; // bar right (absolute)
    int BH; // bar bottom, up from the row bottom
};
// The in-window channel list and the full-screen channel overlay.
inline constexpr ChannelRowGeometry kInWindowRows{50, 43, 3, 17, 30, 3, 38, 35};
inline constexpr ChannelRowGeometry kOverlayRows{91, 110, 6, 27, 52, 6, 100, 91 - 25};

// The second line of a channel list row: now with its minutes, the song for radio.
QString channelRowNowLine(const TChannel& channel);
// The third line: next with its length for TV; empty for radio.
QString channelRowNextLine(const TChannel& channel);
// Right edge of the blue part of a row's bar, or -1 when the bar stays empty.
int channelRowBarFill(const TChannelProgram& now, int barRight);

// Draws the rows of a channel list from the ChannelModel. UI thread.
class ChannelRowDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit ChannelRowDelegate(ChannelRowGeometry geometry, QObject* parent = nullptr);
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    ChannelRowGeometry m_geometry;
};

// LbxChannels: the channel panel's list over the same ChannelModel as the channel box, so row k is
// the box's position k. Never shows a vertical scroll bar (paged by the panel's arrows); a double
// click asks for a switch. UI thread.
class ChannelListView : public QListView {
    Q_OBJECT
public:
    explicit ChannelListView(ChannelRowGeometry geometry = kInWindowRows, QWidget* parent = nullptr);

    void setChannelModel(ChannelModel* model);
    // Rows per page (list height div item height), and paging by one page.
    int pageRows() const;
    void pageUp();
    void pageDown();
    // Scrolls to and selects the row (ShowChannelPanel).
    void showRow(int row);

Q_SIGNALS:
    void channelActivated(int row, TChannel* channel);

private:
    ChannelModel* m_model = nullptr;
    ChannelRowGeometry m_geometry;
};
