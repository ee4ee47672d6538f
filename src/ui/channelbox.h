#pragma once

#include <QComboBox>
#include <QStyledItemDelegate>

class ChannelModel;
class TChannel;

// Draws one channel row of the channel box: the now-progress bar at x 4..40, then the text at
// x 43 (49 for a sub channel). UI thread.
class ChannelBoxDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // The row as the box draws it into rect; `highlighted` picks the highlight colours.
    static void drawChannelRow(QPainter* painter, const QRect& rect, const QModelIndex& index, const QPalette& palette,
                               bool highlighted);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

// The owner-drawn channel box CmbChannels: one row per channel of the ChannelModel with its
// now-title and a small progress bar. Keeps track of the channel whose logo belongs beside it.
// A user's choice in it only selects (QComboBox::activated); Enter or Space asks for the switch,
// closed or dropped down. Letters are left to the window's key rules: they must not move the
// selection under the "I", "O", "R" and "T" commands. UI thread.
class TComboBoxQuoxel : public QComboBox {
    Q_OBJECT
public:
    explicit TComboBoxQuoxel(QWidget* parent = nullptr);

    void setChannelModel(ChannelModel* model);
    ChannelModel* channelModel() const { return m_model; }
    // The record of the selected row, or null.
    TChannel* currentChannel() const;
    // The channel whose logo was last announced.
    const TChannel* logoChannel() const { return m_logoChannel; }
    bool isDroppedDown() const { return m_droppedDown; }

    void showPopup() override;
    void hidePopup() override;

Q_SIGNALS:
    // The selected channel changed (or its row was drawn first): the logo beside the box follows.
    void logoChannelChanged(TChannel* channel);
    // The list is about to drop down (CmbChannelsDropDown).
    void droppingDown();
    // Enter (13) or Space (32) in the box or its dropped list (CmbChannelsKeyDown); a row
    // highlighted in the dropped list has been chosen (activated) before.
    void switchKeyPressed(int key);

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void announceLogo();
    // Enter and Space take the switch, letters are not the box's; true when the key was taken.
    bool handleKey(QKeyEvent* event, bool inList);

    ChannelModel* m_model = nullptr;
    const TChannel* m_logoChannel = nullptr;
    bool m_droppedDown = false;
};
