#pragma once

#include "box/records.h"

#include <QAbstractListModel>
#include <QList>
#include <QString>

// The song title of a radio programme: the first line of Info2 without "Titel: ".
QString radioSongTitle(const TChannelProgram& now);
// The channel box text of a channel: "->" + caption for a sub channel, the song for radio.
QString channelBoxText(const TChannel& channel);
// Width of the blue part of a progress bar `width` pixels wide for a programme, or -1 when its
// duration is "0", empty or not a number (the bar then stays unfilled). Elapsed is capped at the
// duration.
int programmeProgressWidth(const TChannelProgram& prog, int width);
// Receiver text made fit for a widget: C0 control characters other than tab and line feed go.
QString widgetSafeText(QString text);

// The channels of the shown bouquet as the channel box, the "Channels" menu and the channel list
// show them. All three views read this one model, so row k is the same record in each. UI thread;
// the EPG thread's results reach the records through the UI thread, which then calls refresh().
class ChannelModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        ChannelRole = Qt::UserRole + 1, // TChannel* (the row's record)
        CaptionRole,                    // Caption
        NowTitleRole,                   // Title of NowEPG
        ProgressRole,                   // programmeProgressWidth(NowEPG, 35)
        IsRadioRole,
        IsSubChannelRole,
    };

    explicit ChannelModel(QObject* parent = nullptr);

    // Replaces all rows (a bouquet load or restore).
    void setItems(const QList<TChannelItem>& items);
    void setChannels(const QList<TChannelRef>& channels);
    // Inserts a sub channel's record at row (the box and the list show it there; the menu under the
    // entry above it).
    void insertChannel(int row, TChannelRef channel);
    void clear();

    const QList<TChannelRef>& channels() const { return m_channels; }
    TChannelRef channelAt(int row) const;
    // First row whose channel has exactly this id, or -1.
    int locate(const QString& id) const;
    int rowOf(const TChannel* channel) const;

    // The records changed (EPG results, the EPG timer): every row is drawn again.
    void refresh();
    void refreshRow(int row);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    QList<TChannelRef> m_channels;
};

Q_DECLARE_METATYPE(TChannel*)
