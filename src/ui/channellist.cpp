#include "ui/channellist.h"

#include "box/epgparse.h"
#include "ui/channelmodel.h"

#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <cmath>

namespace {

qint64 number(const QString& text) {
    qint64 v = 0;
    return parseBoxNumber(text, &v) ? v : 0;
}

} // namespace

QString channelRowNowLine(const TChannel& channel) {
    const TChannelProgram& now = channel.NowEPG;
    QString line = now.StartClock + QLatin1Char(' ') + now.Title;
    if (now.isUnknown())
        return line;
    if (channel.Mode == mRadio)
        line += QStringLiteral(" - ") + radioSongTitle(now);
    const qint64 elapsed = number(now.ElapsedMin);
    const qint64 rest = number(now.DurationMin) - elapsed;
    line += QStringLiteral(" (") + now.ElapsedMin;
    line += rest > 0 ? QStringLiteral(" / ") + QString::number(rest) + QStringLiteral(" min)")
                     : QStringLiteral(" / 0 min)");
    return line;
}

QString channelRowNextLine(const TChannel& channel) {
    if (channel.Mode == mRadio)
        return QString();
    const TChannelProgram& next = channel.NextEPG;
    QString line = next.StartClock + QLatin1Char(' ') + next.Title;
    if (!next.isUnknown())
        line += QStringLiteral(" (") + next.DurationMin + QStringLiteral(" min)");
    return line;
}

int channelRowBarFill(const TChannelProgram& now, int barRight) {
    if (now.DurationMin.isEmpty() || now.DurationMin == QLatin1String("0"))
        return -1;
    const qint64 d = std::max<qint64>(0, number(now.DurationSec));
    const qint64 e = std::clamp<qint64>(number(now.ElapsedSec), 0, d);
    const double share = d > 0 ? static_cast<double>(e) / static_cast<double>(d) : 0.0;
    return std::max(3, static_cast<int>(std::lround(barRight * share)));
}

ChannelRowDelegate::ChannelRowDelegate(ChannelRowGeometry geometry, QObject* parent)
    : QStyledItemDelegate(parent)
    , m_geometry(geometry) {}

void ChannelRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const auto* ch = index.data(ChannelModel::ChannelRole).value<TChannel*>();
    if (!ch)
        return;
    const QRect r = option.rect;
    const ChannelRowGeometry& g = m_geometry;
    painter->save();
    painter->fillRect(r, option.state & QStyle::State_Selected ? QColor(0, 128, 0)
                                                               : option.palette.color(QPalette::Highlight));
    painter->setPen(Qt::white);
    QFont bold = option.font;
    bold.setBold(true);
    painter->setFont(bold);
    const int lineHeight = painter->fontMetrics().height();
    painter->drawText(QRect(r.left() + g.X1, r.top() + 2, r.width() - g.X1, lineHeight), Qt::AlignLeft | Qt::AlignTop,
                      widgetSafeText(ch->Caption));
    QFont plain = option.font;
    plain.setBold(false);
    painter->setFont(plain);
    painter->drawText(QRect(r.left() + g.X2, r.top() + g.Y2, r.width() - g.X2, lineHeight),
                      Qt::AlignLeft | Qt::AlignTop, widgetSafeText(channelRowNowLine(*ch)));
    painter->drawText(QRect(r.left() + g.X2, r.top() + g.Y3, r.width() - g.X2, lineHeight),
                      Qt::AlignLeft | Qt::AlignTop, widgetSafeText(channelRowNextLine(*ch)));
    const QRect bar(QPoint(g.B0, r.top() + g.B0), QPoint(g.BR, std::max(r.top() + g.B0, r.bottom() - g.BH)));
    painter->fillRect(bar, QColor(192, 192, 192));
    painter->setPen(Qt::black);
    painter->drawRect(bar.adjusted(0, 0, -1, -1));
    const int fill = channelRowBarFill(ch->NowEPG, g.BR);
    if (fill > bar.left())
        painter->fillRect(QRect(QPoint(bar.left(), bar.top()), QPoint(fill, bar.bottom())), QColor(0, 0, 255));
    if (option.state & QStyle::State_HasFocus) {
        painter->setPen(QPen(Qt::white, 1, Qt::DotLine));
        painter->drawRect(r.adjusted(0, 0, -1, -1));
    }
    painter->restore();
}

QSize ChannelRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    return {option.rect.width(), m_geometry.ItemHeight};
}

ChannelListView::ChannelListView(ChannelRowGeometry geometry, QWidget* parent)
    : QListView(parent)
    , m_geometry(geometry) {
    setObjectName(QStringLiteral("LbxChannels"));
    setItemDelegate(new ChannelRowDelegate(geometry, this));
    setUniformItemSizes(true);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (!m_model)
            return;
        if (const TChannelRef ch = m_model->channelAt(index.row()))
            Q_EMIT channelActivated(index.row(), ch.get());
    });
}

void ChannelListView::setChannelModel(ChannelModel* model) {
    m_model = model;
    setModel(model);
}

int ChannelListView::pageRows() const {
    return std::max(1, viewport()->height() / m_geometry.ItemHeight);
}

void ChannelListView::pageUp() {
    QScrollBar* bar = verticalScrollBar();
    bar->setValue(std::max(0, bar->value() - pageRows()));
}

void ChannelListView::pageDown() {
    QScrollBar* bar = verticalScrollBar();
    bar->setValue(std::min(bar->maximum(), bar->value() + pageRows()));
}

void ChannelListView::showRow(int row) {
    if (!m_model || row < 0 || row >= m_model->rowCount())
        return;
    const QModelIndex index = m_model->index(row);
    scrollTo(index, QAbstractItemView::PositionAtTop);
    setCurrentIndex(index);
}
