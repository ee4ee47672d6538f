#include "programrun.h"

#include "ui/appcontroller.h"

#include "core/appflags.h"
#include "core/clock.h"
#include "core/options.h"
#include "ui/appguide.h"
#include "ui/guidegrid.h"
#include "ui/guidewindow.h"
#include "ui/mainwindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTreeWidget>
#include <QWheelEvent>

#include <gtest/gtest.h>

using quoxel::GuideGrid;
using quoxel::TFrmGuide;

namespace {

// Pixels of exactly this colour inside r of the picture.
int pixelsOf(const QImage& img, const QRect& r, const QColor& colour) {
    int n = 0;
    const QRect in = r.intersected(img.rect());
    for (int y = in.top(); y <= in.bottom(); ++y)
        for (int x = in.left(); x <= in.right(); ++x)
            n += (img.pixel(x, y) & 0xffffff) == (colour.rgb() & 0xffffff) ? 1 : 0;
    return n;
}

// Pixels of grey text on the dark grid (antialiased, so a range of greys) inside r.
// The share of pixels two pictures of one size have in common: the ruler compared across a scroll
// step, where the moving now line may cross it between the two grabs.
double sameShare(const QImage& a, const QImage& b) {
    if (a.size() != b.size() || a.isNull())
        return 0;
    qint64 same = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            same += a.pixel(x, y) == b.pixel(x, y) ? 1 : 0;
    return double(same) / (qint64(a.width()) * a.height());
}

int greyTextPixels(const QImage& img, const QRect& r) {
    int n = 0;
    const QRect in = r.intersected(img.rect());
    for (int y = in.top(); y <= in.bottom(); ++y)
        for (int x = in.left(); x <= in.right(); ++x) {
            const QColor c = img.pixelColor(x, y);
            n += c.red() == c.green() && c.green() == c.blue() && c.red() >= 90 && c.red() <= 150 ? 1 : 0;
        }
    return n;
}

// The other shown top-level windows that overlap r (global coordinates), by class and place.
std::string windowsOver(const QWidget* own, const QRect& r) {
    QStringList found;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w != own && w->isVisible() && w->frameGeometry().intersects(r))
            found << QStringLiteral("%1 %2 at %3,%4 %5x%6")
                         .arg(QString::fromLatin1(w->metaObject()->className()), w->objectName())
                         .arg(w->x())
                         .arg(w->y())
                         .arg(w->width())
                         .arg(w->height());
    return found.isEmpty() ? std::string("none") : found.join(QStringLiteral("; ")).toStdString();
}

// The running programme's block of a row, or -1.
int runningBlock(TFrmGuide& g, int row) {
    const qint64 now = Clock::current().now().toSecsSinceEpoch();
    return blockAt(g.model().blocks(row), static_cast<int32_t>(now - g.model().axis().originSec()));
}

// Turns the mouse wheel one notch away from the user over the middle of the widget.
void wheelDown(QWidget* on, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    const QPoint at = on->rect().center();
    QWheelEvent event(at, on->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, modifiers, Qt::NoScrollPhase,
                      false);
    QApplication::sendEvent(on, &event);
}

// The running program against the simulator, its ini asking for all bouquets in the guide: View >
// Programme Guide fetches the other bouquets' lists and shows the grid on screen (read back as
// pixels) with the running programmes, the line at the current time and rows still loading that
// fill in as the walk brings their lists; the wheel scrolls channels, Shift+wheel time, Home
// comes back to now, the line moves with the clock, PageDown/PageUp move a page of channels, a
// double click zaps the receiver; G opens it again, a search typed without the umlaut finds
// "Tatort: Der Fall Müller" and, with "Descriptions", words of its description; Enter on another
// bouquet's channel zaps there; the check boxes are in the ini after the close.
TEST(GuideDisplay, GridZapAndSearchInTheRunningProgram) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X display (xcb)";
    ProgramRun run(QStringLiteral("127.0.130.1"));
    ASSERT_TRUE(run.startSim());
    ASSERT_EQ(run.launch(run.settings("mode=live\n", "[Extras]\nguideallbouquets=1\n")), ConnectionOutcome::Connected);
    quoxel::TFrmQuoxel& w = run.window();
    quoxel::AppController& app = run.app();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w, 10000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return app.player().isPlaying() && !IsSwitching; }, 20000));

    ASSERT_TRUE(run.sim().clearRequests());
    w.menu().Guide1->trigger();
    TFrmGuide* g = app.guide().window();
    ASSERT_TRUE(g);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(g, 10000));
    EXPECT_TRUE(run.sim().requestTargets().contains(QStringLiteral("/control/getbouquet?bouquet=5&mode=TV")))
        << "all bouquets, as the ini says: " << run.sim().requestTargets().join(' ').toStdString();
    GuideGrid* grid = g->grid();
    QWidget* view = grid->viewport();
    const int rows = g->model().rowCount();
    ASSERT_GE(rows, 30);
    EXPECT_EQ(grid->selectedRow(), 0) << "opens on the channel on air";
    // Now and next of every channel come with the all-channel answer, before any list.
    const int zdfRunning = runningBlock(*g, 1);
    ASSERT_GE(zdfRunning, 0);

    // What the screen shows of the grid.
    const auto grab = [&] {
        QTest::qWait(300);
        const QPoint origin = view->mapToGlobal(QPoint(0, 0));
        return g->screen()->grabWindow(0, origin.x(), origin.y(), view->width(), view->height()).toImage();
    };
    const auto nowX = [&] {
        return GuideGrid::kHeaderWidth + int(g->model().axis().x(Clock::current().now().toSecsSinceEpoch())) -
               grid->horizontalScrollBar()->value();
    };
    const QRect rowsArea(0, GuideGrid::kRulerHeight, view->width(), view->height() - GuideGrid::kRulerHeight);
    const auto nowLineAt = [&](const QImage& img, int x) {
        return pixelsOf(img, QRect(x - 2, rowsArea.top(), 5, rowsArea.height()), GuideGrid::kNowLine) >
               rowsArea.height();
    };
    // The first picture once the window has drawn the grid (bounded: a loaded machine is slow).
    const QRect zdfBlock = grid->blockRect(1, zdfRunning);
    QImage shot;
    (void)QTest::qWaitFor(
        [&] {
            shot = grab();
            return pixelsOf(shot, zdfBlock, GuideGrid::kRunningFill) > zdfBlock.width() * zdfBlock.height() / 3;
        },
        10000);
    EXPECT_GT(pixelsOf(shot, zdfBlock, GuideGrid::kRunningFill), zdfBlock.width() * zdfBlock.height() / 3)
        << "the running programme of the second row is marked";
    EXPECT_TRUE(nowLineAt(shot, nowX())) << "the line at the current time";
    EXPECT_GT(pixelsOf(shot, shot.rect(), GuideGrid::kSelectedFrame), 100) << "the selected programme";

    // A row in view still waiting for its list says so after what runs now and next, and fills in
    // while the guide stays open.
    int loading = -1;
    QRect last;
    for (int r = grid->firstVisibleRow(); r <= grid->lastVisibleRow() - 1 && loading < 0; ++r) {
        if (g->model().rowState(r) != GuideModel::RowState::Loading || g->model().blocks(r).empty())
            continue;
        last = grid->blockRect(r, int(g->model().blocks(r).size()) - 1);
        if (last.right() + 200 < view->width())
            loading = r;
    }
    ASSERT_GE(loading, 0) << "every list came at once";
    const QRect waiting(last.right() + 4, last.top(), 160, last.height());
    EXPECT_GT(greyTextPixels(shot, waiting), 100) << "\"loading programme list...\"";
    EXPECT_EQ(pixelsOf(shot, waiting, GuideGrid::kBlockFill), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return pixelsOf(grab(), waiting, GuideGrid::kBlockFill) > 400; }, 30000))
        << "the list of row " << loading << " came and is drawn";

    // One notch of the wheel: two channels on; with Shift: half an hour on.
    // Each picture is awaited (bounded): the screen shows a step once the X server has drawn it.
    const QImage top = grab();
    wheelDown(view);
    const auto header = [](const QImage& img, int row) {
        return img.copy(QRect(52, GuideGrid::kRulerHeight + row * GuideGrid::kRowHeight, GuideGrid::kHeaderWidth - 52,
                              GuideGrid::kRowHeight - 1));
    };
    QImage scrolled;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            scrolled = grab();
            return header(scrolled, 0) == header(top, 2);
        },
        10000))
        << "the third channel is on top";
    EXPECT_NE(header(scrolled, 0), header(top, 0));
    const int shift = GuideTimeAxis::kPixelsPerHour / 2;
    // The grid ends with the last programme known: the lists must reach half an hour past the view.
    QScrollBar* time = grid->horizontalScrollBar();
    ASSERT_TRUE(QTest::qWaitFor([&] { return time->maximum() - time->value() >= shift; }, 30000))
        << time->value() << " of " << time->maximum();
    // Settled: the picture the ruler is compared with is the whole of this step.
    (void)QTest::qWaitFor(
        [&] {
            QImage again = grab();
            const bool same = again == scrolled;
            scrolled = std::move(again);
            return same;
        },
        10000);
    const int before = time->value();
    wheelDown(view, Qt::ShiftModifier);
    EXPECT_EQ(time->value() - before, shift);
    const int rulerWidth = view->width() - GuideGrid::kHeaderWidth - 60 - shift;
    const QRect rulerNow(GuideGrid::kHeaderWidth + 60, 0, rulerWidth, GuideGrid::kRulerHeight - 9);
    const QRect rulerBefore = rulerNow.translated(shift, 0);
    double rulerSame = 0;
    QImage shifted;
    const bool rulerMoved = QTest::qWaitFor(
        [&] {
            shifted = grab();
            rulerSame = sameShare(shifted.copy(rulerNow), scrolled.copy(rulerBefore));
            return rulerSame > 0.98;
        },
        10000);
    // On failure: whether the screen kept the old picture, whether the widget itself would draw the
    // step, and which other windows lie over the ruler.
    EXPECT_TRUE(rulerMoved) << "the ruler moved half an hour: " << rulerSame << " of it in place; unchanged on screen: "
                            << sameShare(shifted.copy(rulerNow), scrolled.copy(rulerNow))
                            << ", as the widget draws it: "
                            << sameShare(view->grab().toImage().convertToFormat(scrolled.format()).copy(rulerNow),
                                         scrolled.copy(rulerBefore))
                            << ", windows over it: "
                            << windowsOver(g, QRect(view->mapToGlobal(rulerNow.topLeft()), rulerNow.size()));

    // Home: back to now on the channel on air, the line a quarter into the grid.
    QTest::keyClick(grid, Qt::Key_Home);
    const int homeX = GuideGrid::kHeaderWidth + (view->width() - GuideGrid::kHeaderWidth) / 4;
    const QRect firstRow(GuideGrid::kHeaderWidth, GuideGrid::kRulerHeight, view->width(), GuideGrid::kRowHeight);
    QImage home;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            home = grab();
            return nowLineAt(home, homeX);
        },
        10000));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            home = grab();
            return pixelsOf(home, firstRow, GuideGrid::kSelectedFrame) > 100;
        },
        10000))
        << "the first row's running programme is selected";

    // The line follows the clock: twenty minutes on, 80 pixels on.
    ManualClock clock(QDateTime::currentDateTime().addSecs(20 * 60));
    Clock::setCurrent(&clock);
    const auto lineAt = [&](const QImage& img) {
        for (int x = GuideGrid::kHeaderWidth; x < img.width(); ++x)
            if (nowLineAt(img, x))
                return x;
        return -1;
    };
    EXPECT_TRUE(QTest::qWaitFor([&] { return nowLineAt(grab(), homeX + 80); }, 10000))
        << "the line is at " << lineAt(grab()) << ", expected at " << homeX + 80;
    EXPECT_FALSE(nowLineAt(grab(), homeX));
    Clock::setCurrent(nullptr);

    // A page of channels down and up again, as the details show.
    const int page = (view->height() - GuideGrid::kRulerHeight) / GuideGrid::kRowHeight;
    QTest::keyClick(grid, Qt::Key_PageDown);
    const QString pageCaption = g->model().channel(page).Channel->Caption;
    EXPECT_TRUE(g->LblTitle()->text().startsWith(pageCaption + QStringLiteral(", ")))
        << g->LblTitle()->text().toStdString() << " / " << pageCaption.toStdString();
    EXPECT_NE(header(grab(), 0), header(home, 0)) << "the view followed";
    QTest::keyClick(grid, Qt::Key_PageUp);
    EXPECT_TRUE(g->LblTitle()->text().startsWith(QStringLiteral("1. Das Erste, ")))
        << g->LblTitle()->text().toStdString();

    // A double click on the second channel's running programme zaps the receiver there.
    ASSERT_TRUE(run.sim().clearRequests());
    QTest::mouseDClick(view, Qt::LeftButton, {}, grid->blockRect(1, zdfRunning).center());
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return run.sim().requestTargets().contains(QStringLiteral("/control/zapto?437000273f2")); }, 10000))
        << run.sim().requestTargets().join(' ').toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !IsSwitching && app.session().AktChannel->Id == "437000273f2"; }, 10000));
    EXPECT_FALSE(g->isVisible()) << "the guide makes way for the picture";

    // Its key in the window opens it again; the search finds the title with an umlaut typed without
    // it, once the walk brought that list, and with descriptions words of its description.
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w, 10000));
    QTest::keyClick(&w, Qt::Key_G);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(g, 10000));
    QTest::keyClicks(g->EdtSearch(), QStringLiteral("fall muller"));
    const auto found = [&] {
        QTreeWidget* list = g->LstResults();
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            if (list->topLevelItem(i)->text(3) == QStringLiteral("Tatort: Der Fall Müller") &&
                list->topLevelItem(i)->text(0) == QStringLiteral("1. Das Erste"))
                return i;
        }
        return -1;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return found() >= 0; }, 40000)) << g->LblFound()->text().toStdString();
    g->EdtSearch()->clear();
    QTest::keyClicks(g->EdtSearch(), QStringLiteral("schafer koln"));
    QTest::mouseClick(g->ChkDescriptions(), Qt::LeftButton, {}, QPoint(8, g->ChkDescriptions()->height() / 2));
    ASSERT_TRUE(g->ChkDescriptions()->isChecked());
    EXPECT_TRUE(QTest::qWaitFor([&] { return found() >= 0; }, 10000)) << g->LblFound()->text().toStdString();
    g->LstResults()->setCurrentItem(g->LstResults()->topLevelItem(std::max(found(), 0)));
    EXPECT_TRUE(g->LblTitle()->text().startsWith(QStringLiteral("1. Das Erste, Tatort: Der Fall M")))
        << g->LblTitle()->text().toStdString();
    // The programme after the find is one to come, in the colour of those.
    const QImage afterFind = grab();
    const int tatort = g->model().blockOfSlot(0, grid->selectedSlot());
    const QRect after = grid->blockRect(0, tatort + 1).intersected(afterFind.rect());
    ASSERT_GT(after.width() * after.height(), 400);
    EXPECT_GT(pixelsOf(afterFind, after, GuideGrid::kBlockFill), after.width() * after.height() / 3);

    // Down to another bouquet's channel; Enter loads that bouquet and zaps the receiver there.
    const int premiere = g->model().rowOf(QStringLiteral("85000300002"));
    ASSERT_GT(premiere, 0);
    grid->setFocus();
    for (int r = 0; r < premiere; ++r)
        QTest::keyClick(grid, Qt::Key_Down);
    EXPECT_TRUE(g->LblTitle()->text().contains(QStringLiteral("PREMIERE 1, "))) << g->LblTitle()->text().toStdString();
    ASSERT_TRUE(run.sim().clearRequests());
    QTest::keyClick(grid, Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return run.sim().requestTargets().contains(QStringLiteral("/control/zapto?85000300002")); }, 10000))
        << run.sim().requestTargets().join(' ').toStdString();
    EXPECT_EQ(app.session().model().CurBouquetNr, QStringLiteral("2"));
    EXPECT_FALSE(run.sim().requestTargets().contains(QStringLiteral("/control/zapto?85000300008")))
        << "no detour over the bouquet's first channel";

    // One bouquet again; both choices are in the ini after the close.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !IsSwitching; }, 10000));
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w, 10000));
    QTest::keyClick(&w, Qt::Key_G);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(g, 10000));
    QTest::mouseClick(g->ChkAllBouquets(), Qt::LeftButton, {}, QPoint(8, g->ChkAllBouquets()->height() / 2));
    EXPECT_FALSE(g->ChkAllBouquets()->isChecked());
    g->close();
    w.close();
    QCoreApplication::processEvents();
    const QByteArray ini = run.dir().read(QStringLiteral("Quoxel.ini"));
    EXPECT_TRUE(ini.contains("guideallbouquets=0") && ini.contains("guidedescriptions=1")) << ini.constData();
}

} // namespace
