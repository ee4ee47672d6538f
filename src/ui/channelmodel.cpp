#include "ui/channelmodel.h"

#include "box/epgparse.h"

#include <algorithm>
#include <cmath>

QString radioSongTitle(const TChannelProgram& now) {
    QString song = now.Info2.section(QLatin1Char('\n'), 0, 0);
    if (song.endsWith(QLatin1Char('\r')))
        song.chop(1);
    return song.remove(QStringLiteral("Titel: "));
}

QString channelBoxText(const TChannel& channel) {
    const TChannelProgram& now = channel.NowEPG;
    if (channel.IsSubChannel)
        return QStringLiteral("->") + channel.Caption + QStringLiteral(", ") + now.Title;
    if (channel.Mode == mRadio)
        return channel.Caption + QStringLiteral(", ") + now.Title + QStringLiteral(" - ") + radioSongTitle(now);
    return channel.Caption + QStringLiteral(", ") + now.Title;
}

int programmeProgressWidth(const TChannelProgram& prog, int width) {
    qint64 d = 0;
    if (prog.DurationSec.isEmpty() || prog.DurationSec == QLatin1String("0") || !parseBoxNumber(prog.DurationSec, &d) ||
        d <= 0)
        return -1;
    qint64 e = 0;
    if (!parseBoxNumber(prog.ElapsedSec, &e) || e < 0)
        e = 0;
    e = std::min(e, d);
    return static_cast<int>(std::lround(static_cast<double>(width) * static_cast<double>(e) / static_cast<double>(d)));
}

QString widgetSafeText(QString text) {
    text.removeIf([](QChar c) { return c.unicode() < 0x20 && c != QLatin1Char('\t') && c != QLatin1Char('\n'); });
    return text;
}

ChannelModel::ChannelModel(QObject* parent)
    : QAbstractListModel(parent) {}

void ChannelModel::setItems(const QList<TChannelItem>& items) {
    QList<TChannelRef> channels;
    channels.reserve(items.size());
    for (const TChannelItem& item : items)
        channels.append(item.Channel);
    setChannels(channels);
}

void ChannelModel::setChannels(const QList<TChannelRef>& channels) {
    beginResetModel();
    m_channels.clear();
    // A row without a record would be a hole in every view; such items are not shown at all.
    for (const TChannelRef& ch : channels) {
        if (ch)
            m_channels.append(ch);
    }
    endResetModel();
}

void ChannelModel::insertChannel(int row, TChannelRef channel) {
    if (!channel)
        return;
    row = std::clamp<int>(row, 0, static_cast<int>(m_channels.size()));
    beginInsertRows(QModelIndex(), row, row);
    m_channels.insert(row, std::move(channel));
    endInsertRows();
}

void ChannelModel::clear() {
    setChannels({});
}

TChannelRef ChannelModel::channelAt(int row) const {
    if (row < 0 || row >= m_channels.size())
        return {};
    return m_channels[row];
}

int ChannelModel::locate(const QString& id) const {
    for (qsizetype i = 0; i < m_channels.size(); ++i) {
        if (m_channels[i]->Id == id)
            return static_cast<int>(i);
    }
    return -1;
}

int ChannelModel::rowOf(const TChannel* channel) const {
    for (qsizetype i = 0; i < m_channels.size(); ++i) {
        if (m_channels[i].get() == channel)
            return static_cast<int>(i);
    }
    return -1;
}

void ChannelModel::refresh() {
    if (!m_channels.isEmpty())
        Q_EMIT dataChanged(index(0), index(static_cast<int>(m_channels.size()) - 1));
}

void ChannelModel::refreshRow(int row) {
    if (row >= 0 && row < m_channels.size())
        Q_EMIT dataChanged(index(row), index(row));
}

int ChannelModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_channels.size());
}

QVariant ChannelModel::data(const QModelIndex& index, int role) const {
    const TChannelRef ch = channelAt(index.row());
    if (!index.isValid() || !ch)
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return widgetSafeText(channelBoxText(*ch));
    case Qt::EditRole:
    case CaptionRole:
        return widgetSafeText(ch->Caption);
    case NowTitleRole:
        return widgetSafeText(ch->NowEPG.Title);
    case ChannelRole:
        return QVariant::fromValue(ch.get());
    case ProgressRole:
        return programmeProgressWidth(ch->NowEPG, 35);
    case IsRadioRole:
        return ch->Mode == mRadio;
    case IsSubChannelRole:
        return ch->IsSubChannel;
    default:
        return {};
    }
}
