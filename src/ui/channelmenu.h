#pragma once

#include "ui/menucolumns.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QProxyStyle>

class ChannelModel;
class QAction;
class QMenu;
class TChannel;

// The "Channels" menu built from the channel model: row k of the model is entry k, except that a
// sub channel's row hangs as a sub-entry under the entry above it. Every 25 entries a new column
// starts (entries 26, 51, 76 ... carry the bar break). UI thread.
class ChannelMenuBuilder : public QObject {
    Q_OBJECT
public:
    // Name of the bool property on an entry that opens a new column (MenuColumns).
    static constexpr const char* kBarBreakProperty = MenuColumns::kBarBreakProperty;
    // Name of the int property on an entry and a sub-entry: the model row it stands for.
    static constexpr const char* kRowProperty = "quoxelRow";
    static constexpr int kColumnEntries = 25;

    ChannelMenuBuilder(QMenu* menu, ChannelModel* model, QObject* parent = nullptr);

    // Builds the entries again from the model (called on every reset of the model).
    void rebuild();
    // Restored bouquets show their entries as plain menu text.
    void setOwnerDrawn(bool ownerDrawn);
    bool ownerDrawn() const { return m_ownerDrawn; }
    // Checks the entry (or sub-entry) of the model row and unchecks the others; -1 unchecks all.
    void checkRow(int row);
    int checkedRow() const;

    // The top-level entries in menu order, and the action of a model row (entry or sub-entry).
    const QList<QAction*>& entries() const { return m_entries; }
    QAction* actionForRow(int row) const;
    // Entries per column as laid out by the bar breaks.
    QList<int> columnSizes() const;

Q_SIGNALS:
    // Channels1Click and SubChannels1Click: the model row and its record.
    void channelClicked(int row, TChannel* channel);
    void subChannelClicked(int row, TChannel* channel);

private:
    QAction* makeAction(QMenu* owner, int row);

    QPointer<QMenu> m_menu;
    ChannelModel* m_model;
    bool m_ownerDrawn = true;
    QList<QAction*> m_entries;
    QList<QAction*> m_byRow;
    QList<QPointer<QMenu>> m_subMenus;
};

// Draws owner-drawn channel entries: a checked entry on pure blue, the caption in bold at
// (left + 1, top + 1), 14 pixels high and as wide as the caption or the now/next lines with their
// start clocks. Other menus and plain entries are drawn by the base style.
class ChannelMenuStyle : public QProxyStyle {
    Q_OBJECT
public:
    static constexpr int kItemHeight = 14;

    explicit ChannelMenuStyle(ChannelModel* model);

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override;
    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget) const override;

    // Channels1MeasureItem: the width the entry of this channel needs in the given font.
    static int measureWidth(const TChannel& channel, const QFont& font);

private:
    const TChannel* channelFor(const QStyleOption* option, const QWidget* widget) const;

    ChannelModel* m_model;
};
