#include "ui/channelmenu.h"

#include "ui/channelmodel.h"

#include <QAction>
#include <QActionGroup>
#include <QFontMetrics>
#include <QMenu>
#include <QPainter>
#include <QStyleOptionMenuItem>

#include <algorithm>

ChannelMenuBuilder::ChannelMenuBuilder(QMenu* menu, ChannelModel* model, QObject* parent)
    : QObject(parent)
    , m_menu(menu)
    , m_model(model) {
    auto* style = new ChannelMenuStyle(model);
    style->setParent(this);
    if (m_menu) {
        m_menu->setStyle(style);
        m_menu->setProperty("quoxelOwnerDrawn", true);
    }
    connect(model, &QAbstractItemModel::modelReset, this, &ChannelMenuBuilder::rebuild);
    connect(model, &QAbstractItemModel::rowsInserted, this, &ChannelMenuBuilder::rebuild);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &ChannelMenuBuilder::rebuild);
    rebuild();
}

QAction* ChannelMenuBuilder::makeAction(QMenu* owner, int row) {
    const TChannelRef ch = m_model->channelAt(row);
    auto* action = new QAction(widgetSafeText(ch->Caption), owner);
    action->setCheckable(true);
    action->setProperty(kRowProperty, row);
    // Captions from the receiver may hold "&": shown as they are, not as accelerators.
    action->setText(action->text().replace(QLatin1Char('&'), QStringLiteral("&&")));
    connect(action, &QAction::triggered, this, [this, row, sub = ch->IsSubChannel] {
        const TChannelRef channel = m_model->channelAt(row);
        if (!channel)
            return;
        if (sub) {
            checkRow(row);
            Q_EMIT subChannelClicked(row, channel.get());
        } else {
            Q_EMIT channelClicked(row, channel.get());
        }
    });
    return action;
}

void ChannelMenuBuilder::rebuild() {
    if (!m_menu)
        return;
    const int checked = checkedRow();
    m_menu->clear();
    // The sub-entry menus are children of the menu, which clear() leaves alone.
    qDeleteAll(m_subMenus);
    m_subMenus.clear();
    m_entries.clear();
    m_byRow.clear();
    QAction* parentEntry = nullptr;
    for (int row = 0; row < m_model->rowCount(); ++row) {
        const TChannelRef ch = m_model->channelAt(row);
        if (ch->IsSubChannel && parentEntry) {
            QMenu* sub = parentEntry->menu();
            if (!sub) {
                sub = new QMenu(m_menu);
                m_subMenus.append(sub);
                sub->setTitle(parentEntry->text());
                parentEntry->setMenu(sub);
            }
            QAction* action = makeAction(sub, row);
            sub->addAction(action);
            m_byRow.append(action);
            continue;
        }
        QAction* action = makeAction(m_menu, row);
        action->setProperty(kBarBreakProperty,
                            m_entries.size() + 1 != 1 && (m_entries.size() + 1) % kColumnEntries == 1);
        m_menu->addAction(action);
        m_entries.append(action);
        m_byRow.append(action);
        parentEntry = action;
    }
    MenuColumns::apply(m_menu);
    checkRow(checked < m_byRow.size() ? checked : -1);
}

void ChannelMenuBuilder::setOwnerDrawn(bool ownerDrawn) {
    m_ownerDrawn = ownerDrawn;
    if (m_menu)
        m_menu->setProperty("quoxelOwnerDrawn", ownerDrawn);
}

void ChannelMenuBuilder::checkRow(int row) {
    for (int i = 0; i < m_byRow.size(); ++i)
        m_byRow[i]->setChecked(i == row);
}

int ChannelMenuBuilder::checkedRow() const {
    for (int i = 0; i < m_byRow.size(); ++i) {
        if (m_byRow[i]->isChecked())
            return i;
    }
    return -1;
}

QAction* ChannelMenuBuilder::actionForRow(int row) const {
    return row >= 0 && row < m_byRow.size() ? m_byRow[row] : nullptr;
}

QList<int> ChannelMenuBuilder::columnSizes() const {
    QList<int> sizes;
    for (QAction* entry : m_entries) {
        if (sizes.isEmpty() || entry->property(kBarBreakProperty).toBool())
            sizes.append(0);
        ++sizes.last();
    }
    return sizes;
}

ChannelMenuStyle::ChannelMenuStyle(ChannelModel* model)
    : m_model(model) {}

int ChannelMenuStyle::measureWidth(const TChannel& channel, const QFont& font) {
    const QFontMetrics fm(font);
    return std::max(
        {fm.horizontalAdvance(widgetSafeText(channel.Caption)),
         fm.horizontalAdvance(widgetSafeText(channel.NowEPG.Title + QLatin1Char(' ') + channel.NowEPG.StartClock)),
         fm.horizontalAdvance(widgetSafeText(channel.NextEPG.Title + QLatin1Char(' ') + channel.NextEPG.StartClock))});
}

const TChannel* ChannelMenuStyle::channelFor(const QStyleOption* option, const QWidget* widget) const {
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    const auto* menu = qobject_cast<const QMenu*>(widget);
    if (!item || !menu || item->menuItemType != QStyleOptionMenuItem::Normal ||
        !menu->property("quoxelOwnerDrawn").toBool())
        return nullptr;
    // The option names no action: find the entry by its text.
    for (QAction* action : menu->actions()) {
        if (action->text() == item->text && action->property(ChannelMenuBuilder::kRowProperty).isValid())
            return m_model->channelAt(action->property(ChannelMenuBuilder::kRowProperty).toInt()).get();
    }
    return nullptr;
}

void ChannelMenuStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                                   const QWidget* widget) const {
    const TChannel* ch = element == CE_MenuItem ? channelFor(option, widget) : nullptr;
    if (!ch) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    const bool checked = item->checked;
    const bool selected = item->state & State_Selected;
    painter->save();
    // Unchecked and not under the pointer, the entry keeps the background the menu drew.
    if (checked)
        painter->fillRect(option->rect, QColor(0, 0, 255));
    else if (selected)
        painter->fillRect(option->rect, option->palette.color(QPalette::Highlight));
    QFont bold = painter->font();
    bold.setBold(true);
    painter->setFont(bold);
    painter->setPen(checked || selected ? Qt::white : option->palette.color(QPalette::WindowText));
    painter->drawText(option->rect.adjusted(1, 1, 0, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                      widgetSafeText(ch->Caption));
    painter->restore();
}

QSize ChannelMenuStyle::sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                                         const QWidget* widget) const {
    if (type == CT_MenuItem) {
        if (const TChannel* ch = channelFor(option, widget)) {
            QFont bold = widget->font();
            bold.setBold(true);
            return {measureWidth(*ch, bold) + 4, kItemHeight};
        }
    }
    return QProxyStyle::sizeFromContents(type, option, size, widget);
}
