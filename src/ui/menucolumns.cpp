#include "ui/menucolumns.h"

#include <QMenu>
#include <QScreen>
#include <QStyle>
#include <QStyleOption>
#include <QWidgetAction>

namespace MenuColumns {

namespace {

constexpr const char* kSpacerProperty = "quoxelColumnSpacer";
constexpr const char* kHookedProperty = "quoxelColumnsHooked";

// Mirrors the menu's own layout: entries go down a column until the next one would pass the
// column's end, then start at the top of the next. A spacer takes what is left of its column.
void sizeSpacers(QMenu* menu) {
    QList<QWidgetAction*> spacers;
    for (QAction* a : menu->actions()) {
        if (isSpacer(a)) {
            a->setVisible(false);
            spacers.append(static_cast<QWidgetAction*>(a));
        }
    }
    if (spacers.isEmpty())
        return;
    QScreen* screen = menu->screen();
    if (!screen)
        return;
    QStyleOption opt;
    opt.initFrom(menu);
    const QStyle* style = menu->style();
    const int vmargin = style->pixelMetric(QStyle::PM_MenuVMargin, &opt, menu);
    const int fw = style->pixelMetric(QStyle::PM_MenuPanelWidth, &opt, menu);
    const int deskFw = style->pixelMetric(QStyle::PM_MenuDesktopFrameWidth, &opt, menu);
    const QMargins margins = menu->contentsMargins();
    const int top = vmargin + fw + margins.top();
    const int columnEnd = screen->availableGeometry().height() - 2 * deskFw - (vmargin + margins.bottom() + fw);
    int y = top;
    for (QAction* a : menu->actions()) {
        if (isSpacer(a)) {
            const int rest = columnEnd - y;
            if (rest > 0) {
                auto* spacer = static_cast<QWidgetAction*>(a);
                spacer->defaultWidget()->setFixedHeight(rest);
                spacer->setVisible(true);
                y = columnEnd;
            }
            continue;
        }
        // Heights do not depend on the place; the spacers are out of this layout.
        const int h = menu->actionGeometry(a).height();
        if (h <= 0)
            continue;
        if (y + h > columnEnd)
            y = top;
        y += h;
    }
}

} // namespace

bool isSpacer(const QObject* action) {
    return action && action->property(kSpacerProperty).toBool();
}

void apply(QMenu* menu) {
    if (!menu)
        return;
    for (QAction* a : menu->actions()) {
        if (isSpacer(a)) {
            menu->removeAction(a);
            delete a;
        }
    }
    for (QAction* a : menu->actions()) {
        if (!a->property(kBarBreakProperty).toBool())
            continue;
        auto* spacer = new QWidgetAction(menu);
        auto* blank = new QWidget;
        blank->setFixedSize(1, 0);
        spacer->setDefaultWidget(blank);
        spacer->setProperty(kSpacerProperty, true);
        spacer->setEnabled(false);
        spacer->setVisible(false);
        menu->insertAction(a, spacer);
    }
    if (!menu->property(kHookedProperty).toBool()) {
        menu->setProperty(kHookedProperty, true);
        QObject::connect(menu, &QMenu::aboutToShow, menu, [menu] { sizeSpacers(menu); });
    }
}

} // namespace MenuColumns

QSize ColumnMenu::sizeHint() const {
    QSize size = QMenu::sizeHint();
    int bottom = -1;
    for (QAction* a : actions()) {
        if (!MenuColumns::isSpacer(a) && a->isVisible())
            bottom = std::max(bottom, actionGeometry(a).bottom());
    }
    if (bottom < 0)
        return size;
    QStyleOption opt;
    opt.initFrom(this);
    const int below = style()->pixelMetric(QStyle::PM_MenuVMargin, &opt, this) +
                      style()->pixelMetric(QStyle::PM_MenuPanelWidth, &opt, this) + contentsMargins().bottom();
    size.setHeight(std::min(size.height(), bottom + 1 + below));
    return size;
}
