#pragma once

#include <QMenu>

class QObject;

// Menu columns as the receiver lists want them: an entry whose bar-break property is set opens a
// new column (the bouquet menu's middle entry beyond 20 bouquets, every 26th channel entry). Qt
// breaks a menu into columns only at the bottom of the screen, so a blank spacer before each such
// entry fills the rest of its column; the spacers are sized each time the menu opens, for the
// screen it opens on. UI thread.
namespace MenuColumns {

// Name of the bool property on an entry that opens a new column.
inline constexpr const char* kBarBreakProperty = "quoxelBarBreak";

// Puts a spacer before every entry with the bar-break property (and removes those of an earlier
// call). Call after the entries changed.
void apply(QMenu* menu);
// True for the spacers apply() puts in; copies of a menu leave them out and call apply() again.
bool isSpacer(const QObject* action);

} // namespace MenuColumns

// A menu that may break into columns: as tall as its tallest column of entries, not as the
// spacers that fill the columns down to the screen's bottom. UI thread.
class ColumnMenu : public QMenu {
    Q_OBJECT
public:
    using QMenu::QMenu;
    QSize sizeHint() const override;
};
