#include "ui/appcontroller.h"

#include "core/appflags.h"
#include "core/clock.h"
#include "core/options.h"
#include "support/boxsimprocess.h"
#include "support/tempdir.h"
#include "ui/appguide.h"
#include "ui/guidegrid.h"
#include "ui/guidewindow.h"
#include "ui/mainwindow.h"
#include "ui/program.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTreeWidget>

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

// The running programme's block of a row, or -1.
int runningBlock(TFrmGuide& g, int row) {
    const qint64 now = Clock::current().now().toSecsSinceEpoch();
    return blockAt(g.model().blocks(row), static_cast<int32_t>(now - g.model().axis().originSec()));
}

// The running program against the simulator: View > Programme Guide shows the grid on screen (read
// back as pixels), Down and Enter on the next channel's running programme zap the receiver to it,
// G opens it again, a search typed without the umlaut finds "Tatort: Der Fall Müller" once its list
// has come, and with all bouquets Enter reaches a channel of another bouquet.
TEST(GuideDisplay, GridZapAndSearchInTheRunningProgram) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X display (xcb)";
    Options = TOptions{};
    BoxSimProcess sim(QStringLiteral("127.0.130.1"));
    ASSERT_TRUE(sim.start()) << sim.stderrText().toStdString();
    TestDir dir;
    ASSERT_TRUE(
        dir.write(QStringLiteral("Quoxel.ini"), "[General]\nmode=live\n[D-Box2]\nip_lan=127.0.130.1\ndboxport=80\n"));
    quoxel::QuoxelProgram program(dir.path(QStringLiteral("Quoxel.ini")));
    quoxel::TFrmQuoxel& w = program.window();
    quoxel::AppController& app = program.controller();
    ASSERT_EQ(program.start(), ConnectionOutcome::Connected);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return app.player().isPlaying() && !IsSwitching; }, 20000));

    w.menu().Guide1->trigger();
    TFrmGuide* g = app.guide().window();
    ASSERT_TRUE(g);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(g, 5000));
    GuideGrid* grid = g->grid();
    ASSERT_GE(g->model().rowCount(), 3);
    EXPECT_EQ(grid->selectedRow(), 0) << "opens on the channel on air";
    // Now and next of every channel come with the all-channel answer, before any list.
    const int zdfRunning = runningBlock(*g, 1);
    ASSERT_GE(zdfRunning, 0);

    // What the screen shows of the grid.
    const auto grab = [&] {
        QTest::qWait(300);
        const QPoint origin = grid->viewport()->mapToGlobal(QPoint(0, 0));
        return g->screen()
            ->grabWindow(0, origin.x(), origin.y(), grid->viewport()->width(), grid->viewport()->height())
            .toImage();
    };
    const QImage shot = grab();
    const QRect zdfBlock = grid->blockRect(1, zdfRunning);
    EXPECT_GT(pixelsOf(shot, zdfBlock, GuideGrid::kRunningFill), zdfBlock.width() * zdfBlock.height() / 3)
        << "the running programme of the second row is marked";
    const int nowX = GuideGrid::kHeaderWidth + int(g->model().axis().x(Clock::current().now().toSecsSinceEpoch())) -
                     grid->horizontalScrollBar()->value();
    const QRect nowLine(nowX - 1, GuideGrid::kRulerHeight, 3, 3 * GuideGrid::kRowHeight);
    EXPECT_GT(pixelsOf(shot, nowLine, GuideGrid::kNowLine), nowLine.height()) << "the line at the current time";
    EXPECT_GT(pixelsOf(shot, shot.rect(), GuideGrid::kSelectedFrame), 100) << "the selected programme";

    ASSERT_TRUE(sim.clearRequests());
    QTest::keyClick(grid, Qt::Key_Down);
    ASSERT_EQ(grid->selectedRow(), 1);
    EXPECT_EQ(g->LblTitle()->text().left(5), QStringLiteral("2. ZD"));
    QTest::keyClick(grid, Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return sim.requestTargets().contains(QStringLiteral("/control/zapto?437000273f2")); }, 10000))
        << sim.requestTargets().join(' ').toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !IsSwitching && app.session().AktChannel->Id == "437000273f2"; }, 10000));
    EXPECT_FALSE(g->isVisible()) << "the guide makes way for the picture";

    // Its key in the window opens it again; the search finds the title with an umlaut typed without
    // it, once the walk brought that list.
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w, 5000));
    QTest::keyClick(&w, Qt::Key_G);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(g, 5000));
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
    g->LstResults()->setCurrentItem(g->LstResults()->topLevelItem(found()));
    EXPECT_TRUE(g->LblTitle()->text().startsWith(QStringLiteral("1. Das Erste, Tatort: Der Fall M")))
        << g->LblTitle()->text().toStdString();
    EXPECT_EQ(grid->selectedRow(), 0) << "the find is shown in the grid";
    // The programme after the find is one to come, in the colour of those.
    const QImage later = grab();
    const int tatort = g->model().blockOfSlot(0, grid->selectedSlot());
    const QRect after = grid->blockRect(0, tatort + 1).intersected(later.rect());
    ASSERT_GT(after.width() * after.height(), 400);
    EXPECT_GT(pixelsOf(later, after, GuideGrid::kBlockFill), after.width() * after.height() / 3);

    // All bouquets: another bouquet's channel, with what runs on it now from the all-channel answer;
    // Enter on it loads that bouquet and zaps the receiver there.
    g->ChkAllBouquets()->setChecked(true);
    const int premiere = g->model().rowOf(QStringLiteral("85000300002"));
    ASSERT_GE(premiere, 0);
    EXPECT_TRUE(g->model().channel(premiere).Bouquet.contains(QStringLiteral("PREMIERE")));
    const int premiereRunning = runningBlock(*g, premiere);
    ASSERT_GE(premiereRunning, 0);
    ASSERT_TRUE(grid->select(premiere, g->model().blocks(premiere)[size_t(premiereRunning)].Slot));
    ASSERT_TRUE(sim.clearRequests());
    QTest::keyClick(grid, Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return sim.requestTargets().contains(QStringLiteral("/control/zapto?85000300002")); }, 10000))
        << sim.requestTargets().join(' ').toStdString();
    EXPECT_EQ(app.session().model().CurBouquetNr, QStringLiteral("2"));
    EXPECT_FALSE(sim.requestTargets().contains(QStringLiteral("/control/zapto?85000300008")))
        << "no detour over the bouquet's first channel";
    g->close();
    w.close();
    Options = TOptions{};
}

} // namespace
