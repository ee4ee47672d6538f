#include "telnet/telnetsession.h"
#include "telnet/telnetview.h"

#include "core/options.h"

#include <QImage>

#include <gtest/gtest.h>

// Colour and scroll-back as the view draws them, from recorded bytes.
TEST(TelnetView, DrawsColourAndScrollback) {
    TOptions o;
    TelnetSession session(o);
    TelnetView view(session);
    view.resize(view.sizeHint());
    EXPECT_EQ(view.sizeHint(), QSize(6 * 2 + 100 * 8, 4 * 2 + 7 * 10));
    view.screen().feed("\x1b[41m    \x1b[0m plain");
    const QImage img = view.grab().toImage();
    const QColor cell = img.pixelColor(TelnetView::kMarginX + 4, TelnetView::kMarginY + 5);
    EXPECT_GT(cell.red(), 150);
    EXPECT_LT(cell.green(), 80);
    EXPECT_EQ(img.pixelColor(TelnetView::kMarginX + 60 * 8, TelnetView::kMarginY + 5), QColor(Qt::white));
    for (int i = 0; i < 20; ++i)
        view.screen().feed(QByteArray("\r\nline ") + QByteArray::number(i));
    EXPECT_EQ(view.shownRow(6), QStringLiteral("line 19"));
    view.setScrollOffset(5);
    EXPECT_EQ(view.shownRow(6), QStringLiteral("line 14"));
    view.setScrollOffset(100000);
    EXPECT_EQ(view.scrollOffset(), view.screen().scrollbackCount());
}
