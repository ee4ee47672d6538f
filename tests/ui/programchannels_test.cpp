#include "programrun.h"

#include "core/appflags.h"
#include "playback/vlcapi.h"
#include "ui/appcontroller.h"
#include "ui/apposd.h"
#include "ui/epgpanels.h"
#include "ui/mainwindow.h"
#include "ui/menucolumns.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include <gtest/gtest.h>

using quoxel::TFrmQuoxel;

namespace {

// The entries of a menu as the user sees them (the column spacers left out).
QList<QAction*> entries(const QMenu* menu) {
    QList<QAction*> out;
    for (QAction* a : menu->actions())
        if (!MenuColumns::isSpacer(a))
            out << a;
    return out;
}

// The closed channel box: arrow keys and typed numbers only select (the play button offers the
// selected channel, the receiver is not zapped); Enter and Space switch to the selection. Dropped
// down, the list is 360 pixels wide, a click on a row selects it and Enter switches to the row
// highlighted.
TEST(ProgramChannels, ChannelBoxSelectsAndEnterOrSpaceSwitches) {
    ProgramRun run(QStringLiteral("127.25.1.1"));
    ASSERT_TRUE(run.start());
    TFrmQuoxel& w = run.window();
    QComboBox* box = w.CmbChannels();
    ASSERT_EQ(box->currentIndex(), 0);
    ASSERT_TRUE(run.sim().clearRequests());

    box->setFocus();
    QTest::keyClick(box, Qt::Key_Down);
    EXPECT_EQ(box->currentIndex(), 1);
    QTest::keyClick(box, Qt::Key_3);
    EXPECT_EQ(box->currentIndex(), 2) << "\"3\" selects the third channel";
    EXPECT_EQ(w.BtnPlay()->text(), QString(QChar(0x25B6))) << "the play button offers the selection";
    QTest::qWait(1500);
    EXPECT_TRUE(zaps(run.requests()).isEmpty()) << run.requests().join(' ').toStdString();
    EXPECT_EQ(run.app().session().AktChannel->Id, QStringLiteral("43700016d66"));

    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_EQ(zaps(run.requests()), QStringList{QStringLiteral("/control/zapto?44100016dca")});
    EXPECT_EQ(run.app().session().AktChannel->Id, QStringLiteral("44100016dca"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return run.app().player().isPlaying(); }, 20000));

    ASSERT_TRUE(run.sim().clearRequests());
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Up);
    QTest::keyClick(box, Qt::Key_Space);
    EXPECT_EQ(zaps(run.requests()), QStringList{QStringLiteral("/control/zapto?437000273f2")});

    // Dropped down.
    ASSERT_TRUE(run.sim().clearRequests());
    box->showPopup();
    QWidget* popup = box->view()->window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(popup, 5000));
    EXPECT_EQ(popup->width(), 360) << "the box is " << box->width();
    const QRect row0 = box->view()->visualRect(box->model()->index(0, 0));
    QTest::mouseClick(box->view()->viewport(), Qt::LeftButton, {}, row0.center());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !popup->isVisible(); }, 3000));
    EXPECT_EQ(box->currentIndex(), 0);
    box->showPopup();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(popup, 5000));
    QTest::keyClick(box->view(), Qt::Key_Down);
    QTest::keyClick(box->view(), Qt::Key_Down);
    QTest::keyClick(box->view(), Qt::Key_Return);
    EXPECT_FALSE(popup->isVisible());
    EXPECT_EQ(box->currentIndex(), 2);
    EXPECT_EQ(zaps(run.requests()), QStringList{QStringLiteral("/control/zapto?44100016dca")})
        << "the click selected, Enter switched";
}

// The volume bar follows a press and a drag with the left button alone: the engine's volume is
// (100 div width) * x + x. With a modifier key or while muted the bar is not moved, and the
// focus goes back to the channel box.
TEST(ProgramChannels, VolumeBarPressAndDrag) {
    ProgramRun run(QStringLiteral("127.25.1.2"));
    ASSERT_TRUE(run.start());
    TFrmQuoxel& w = run.window();
    VlcEngine& engine = *run.app().player().engine();
    QProgressBar* bar = w.Volume();
    ASSERT_EQ(bar->width(), 36);
    const int y = bar->height() / 2;

    QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(5, y));
    EXPECT_EQ(bar->value(), 15);
    QTest::mouseMove(bar, QPoint(30, y));
    EXPECT_EQ(bar->value(), 90);
    QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(30, y));
    EXPECT_TRUE(QTest::qWaitFor([&] { return engine.engineVolume() == 90; }, 3000)) << engine.engineVolume();
    const auto* twin = w.findChild<QProgressBar*>(QStringLiteral("VolumeOsd"));
    ASSERT_TRUE(twin);
    EXPECT_EQ(twin->value(), 90) << "the info bar's volume follows";
    EXPECT_TRUE(w.CmbChannels()->hasFocus());

    QTest::mouseClick(bar, Qt::LeftButton, Qt::ShiftModifier, QPoint(10, y));
    EXPECT_EQ(bar->value(), 90) << "Shift held";
    QTest::mouseClick(w.ImgVolOn(), Qt::LeftButton);
    ASSERT_TRUE(w.muted());
    QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(10, y));
    EXPECT_EQ(bar->value(), 90) << "muted";
    EXPECT_TRUE(QTest::qWaitFor([&] { return engine.engineMuted() == 1; }, 3000));
    // Both survive a restart of the engine.
    w.menu().VLCRestart1->trigger();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return run.app().player().isPlaying() && engine.engineMuted() == 1 && engine.engineVolume() == 90; },
        20000))
        << engine.engineMuted() << " " << engine.engineVolume();
    QTest::mouseClick(w.ImgVolOff(), Qt::LeftButton);
    EXPECT_FALSE(w.muted());
    EXPECT_TRUE(QTest::qWaitFor([&] { return engine.engineMuted() == 0 && engine.engineVolume() == 90; }, 3000));
}

// Share of pure blue (the owner-drawn channel menu's checked entry) in the menu as shown.
// The share of pure blue in the channel menu's picture. `least` > 0 waits for that much; 0 measures
// the finished picture.
double blueInMenu(QMenu* menu, double least) {
    menu->popup(QPoint(20, 20));
    if (!QTest::qWaitForWindowExposed(menu, 5000))
        return -1;
    const QRgb blue = qRgb(0, 0, 255);
    const double share =
        least > 0 ? awaitShareOfColour(menu, blue, 4, least) : shareOfColour(settledGrab(menu), blue, 4);
    menu->hide();
    return share;
}

// The bouquet and channel menus against a receiver with 21 bouquets, one of 27 channels and a
// portal: beyond 20 bouquets the bouquet menu breaks in the middle, the channel menu into columns
// of 25. A bouquet loaded from the receiver shows its first channel's programme in the in-window
// display and draws its channel entries (the one on air on pure blue); one restored from its cache
// shows plain entries. The portal's sub-channel entries under its "Channels" entry zap.
TEST(ProgramChannels, BouquetAndChannelMenus) {
    QByteArray data = R"({"encoding": "utf-8", "startChannel": "a1", "bouquets": [
        {"name": "Start", "tv": [{"id": "a1", "name": "Erster", "epg": [{"title": "Nachrichten", "durationMin": 30}]},
                                 {"id": "a2", "name": "Zweiter", "epg": [{"title": "Film", "durationMin": 90}]}]},
        {"name": "Viele", "tv": [{"generate": 26, "idBase": "b0000000", "name": "Kanal",
                                  "epg": [{"title": "Testbild", "durationMin": 30}]}, "a1"]},
        {"name": "Portal", "tv": [{"id": "85000300008", "name": "PREMIERE DIREKT 1",
                                   "epg": [{"title": "Portal", "durationMin": 60}],
                                   "subchannels": [{"id": "85000300009", "name": "Beginn 20:00"},
                                                   {"id": "8500030000a", "name": "Beginn 20:30"}]}]})";
    for (int i = 4; i <= 21; ++i)
        data += QStringLiteral(R"(, {"name": "B%1", "tv": ["a2"]})").arg(i).toUtf8();
    data += "]}";
    ProgramRun run(QStringLiteral("127.25.1.3"));
    ASSERT_TRUE(run.start({}, data));
    TFrmQuoxel& w = run.window();
    QMenu* bouquets = w.menu().Bouquets1;
    QMenu* channels = w.menu().Channels1;

    const QList<QAction*> b = entries(bouquets);
    ASSERT_EQ(b.size(), 21);
    bouquets->popup(QPoint(20, 20));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(bouquets, 5000));
    EXPECT_EQ(bouquets->actionGeometry(b[9]).x(), bouquets->actionGeometry(b[0]).x());
    EXPECT_GT(bouquets->actionGeometry(b[10]).x(), bouquets->actionGeometry(b[9]).x());
    EXPECT_EQ(bouquets->actionGeometry(b[10]).y(), bouquets->actionGeometry(b[0]).y());
    EXPECT_EQ(bouquets->actionGeometry(b[20]).x(), bouquets->actionGeometry(b[10]).x());
    bouquets->hide();

    ASSERT_TRUE(run.sim().clearRequests());
    b[1]->trigger(); // the menu is built anew: its entries are taken again below
    EXPECT_EQ(run.app().osd().panels().LblEPGChannel()->text(), QStringLiteral("1. Kanal 01"))
        << "a loaded bouquet shows its first channel's programme";
    EXPECT_TRUE(zaps(run.requests()).isEmpty()) << "the channel on air is in the bouquet";
    QList<QAction*> c = entries(channels);
    ASSERT_EQ(c.size(), 27);
    EXPECT_TRUE(c[26]->isChecked());
    channels->popup(QPoint(20, 20));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(channels, 5000));
    EXPECT_EQ(channels->actionGeometry(c[24]).x(), channels->actionGeometry(c[0]).x());
    EXPECT_GT(channels->actionGeometry(c[25]).x(), channels->actionGeometry(c[24]).x());
    EXPECT_EQ(channels->actionGeometry(c[25]).y(), channels->actionGeometry(c[0]).y());
    EXPECT_EQ(channels->actionGeometry(c[0]).height(), 14);
    EXPECT_LT(channels->height(), channels->actionGeometry(c[24]).bottom() + 20) << "as tall as its columns";
    channels->hide();
    EXPECT_GE(blueInMenu(channels, 0.002), 0.002) << "drawn entries, the one on air on blue";

    entries(bouquets)[0]->trigger();
    c = entries(channels);
    ASSERT_EQ(c.size(), 2);
    EXPECT_TRUE(c[0]->isChecked());
    EXPECT_EQ(blueInMenu(channels, 0), 0) << "restored entries are plain text";

    entries(bouquets)[2]->trigger();
    ASSERT_TRUE(run.waitForRequest(QStringLiteral("/control/zapto?85000300008")));
    c = entries(channels);
    ASSERT_EQ(c.size(), 1);
    ASSERT_TRUE(c[0]->menu());
    const QList<QAction*> subs = c[0]->menu()->actions();
    ASSERT_EQ(subs.size(), 2);
    ASSERT_TRUE(QTest::qWaitFor([] { return !IsSwitching; }, 10000));
    subs[1]->trigger();
    EXPECT_TRUE(run.waitForRequest(QStringLiteral("/control/zapto?8500030000a")));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return run.app().session().AktChannel->Id == QLatin1String("8500030000a"); }, 10000));
}

} // namespace

namespace {

QStringList boxTexts(const QComboBox* box) {
    QStringList out;
    for (int i = 0; i < box->count(); ++i)
        out << box->itemText(i);
    return out;
}

// A receiver that answers a bouquet's channel lists with noise under "200 OK": the list shown stays,
// nothing of the noise goes back to the receiver, and the log says what was dropped. Once the
// receiver answers properly again the bouquet loads, as the noise was not kept for it.
TEST(ProgramChannels, NoisyBouquetAnswerKeepsTheList) {
    ProgramRun run(QStringLiteral("127.25.1.4"));
    ASSERT_TRUE(run.start());
    TFrmQuoxel& w = run.window();
    ASSERT_TRUE(QTest::qWaitFor([] { return !IsSwitching; }, 20000));
    const QStringList shown = boxTexts(w.CmbChannels());
    const int selected = w.CmbChannels()->currentIndex();
    ASSERT_FALSE(shown.isEmpty());
    ASSERT_TRUE(
        run.sim().setFault(QStringLiteral("/control/getbouquet?bouquet=2"), QStringLiteral("garbage-body"), 65536));
    ASSERT_TRUE(run.sim().clearRequests());
    // The menu's entries are built anew with each bouquet list: taken afresh each time.
    const auto bouquet = [&](int i) { return w.menu().Bouquets1->actions().value(i); };
    ASSERT_TRUE(bouquet(1));
    bouquet(1)->trigger();
    ASSERT_TRUE(QTest::qWaitFor([] { return !IsSwitching; }, 20000));
    EXPECT_EQ(boxTexts(w.CmbChannels()).mid(0, 3), shown.mid(0, 3)) << "the list shown stays";
    EXPECT_EQ(w.CmbChannels()->count(), shown.size());
    EXPECT_EQ(w.CmbChannels()->currentIndex(), selected) << "the selection stays";
    const QRegularExpression hexId(QStringLiteral("^/control/zapto\\?[0-9a-f]+$"));
    for (const QString& zap : zaps(run.requests()))
        EXPECT_TRUE(hexId.match(zap).hasMatch()) << zap.toStdString();
    EXPECT_TRUE(run.log().contains("lines that are no channel line dropped"));

    ASSERT_TRUE(run.sim().clearFaults());
    ASSERT_TRUE(bouquet(0));
    bouquet(0)->trigger();
    ASSERT_TRUE(QTest::qWaitFor([] { return !IsSwitching; }, 20000));
    ASSERT_TRUE(bouquet(1));
    bouquet(1)->trigger();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return boxTexts(w.CmbChannels()).join(u'\n').contains(QStringLiteral("PREMIERE")); }, 20000))
        << boxTexts(w.CmbChannels()).join(u'|').toStdString();
}

} // namespace
