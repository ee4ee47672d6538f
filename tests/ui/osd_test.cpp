#include "core/clock.h"
#include "core/options.h"
#include "osdtesthost.h"
#include "ui/channellist.h"
#include "ui/epgpanels.h"
#include "ui/osdchannels.h"
#include "ui/osdcontroller.h"
#include "ui/osddetails.h"
#include "ui/osdinfo.h"
#include "ui/osdtexts.h"

#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

using namespace quoxel;

namespace {

TChannelProgram prog(int index, const QString& start, const QString& title, int durMin, int elapsedMin) {
    TChannelProgram p;
    p.Index = index;
    p.StartClock = start;
    p.StartDate = QStringLiteral("07.12.2026");
    p.Title = title;
    p.DurationMin = QString::number(durMin);
    p.ElapsedMin = QString::number(elapsedMin);
    p.DurationSec = QString::number(durMin * 60);
    p.ElapsedSec = QString::number(elapsedMin * 60);
    return p;
}

// A bouquet of n TV channels, channel i with a programme list of `slots` entries (0 = none), now
// at slot 1 when there is a list.
QList<TChannelRef> bouquet(int n, int slots) {
    QList<TChannelRef> list;
    for (int i = 0; i < n; ++i) {
        auto ch = std::make_shared<TChannel>();
        ch->Caption = QStringLiteral("Channel %1").arg(i);
        ch->Id = QString::number(1000 + i);
        ch->ListIndex = i;
        for (int k = 0; k < slots; ++k) {
            TChannelProgram p = prog(k, QStringLiteral("%1:00").arg(18 + k), QStringLiteral("Show %1.%2").arg(i).arg(k),
                                     60 - k * 15, 10);
            ch->EPG.append(p);
        }
        ch->EPGCount = slots;
        if (slots > 1) {
            ch->NowEPG = ch->EPG[1];
            if (slots > 2)
                ch->NextEPG = ch->EPG[2];
        } else {
            ch->NowEPG = prog(0, QStringLiteral("20:15"), QStringLiteral("News %1").arg(i), 30, 10);
            ch->NextEPG = prog(1, QStringLiteral("20:45"), QStringLiteral("Film %1").arg(i), 100, 0);
        }
        list.append(ch);
    }
    return list;
}

class OsdTest : public ::testing::Test {
protected:
    void SetUp() override {
        Options.OsdShowTime = QStringLiteral("400");
        Options.Mode = AppMode::Live;
        Clock::setCurrent(&clock);
    }
    void TearDown() override { Clock::setCurrent(nullptr); }
    ManualClock clock{QDateTime(QDate(2026, 12, 7), QTime(20, 25))};
    OsdTestHost host;
};

// Blue pixels in row y of an image between x0 and x1.
int bluePixels(const QImage& img, int y) {
    int n = 0;
    for (int x = 0; x < img.width(); ++x)
        n += img.pixelColor(x, y) == QColor(0, 0, 255) ? 1 : 0;
    return n;
}

} // namespace

// Minutes of the running programme: the rest, never below zero once the programme has run over.
struct DurCase {
    int dur, elapsed;
    const char* curr;
    const char* next;
};
class DurTexts : public ::testing::TestWithParam<DurCase> {};
TEST_P(DurTexts, CurrAndNext) {
    const DurCase& c = GetParam();
    const TChannelProgram p = prog(0, QStringLiteral("20:00"), QStringLiteral("X"), c.dur, c.elapsed);
    EXPECT_EQ(durCurrText(p), QLatin1String(c.curr));
    EXPECT_EQ(durNextText(p), QLatin1String(c.next));
}
INSTANTIATE_TEST_SUITE_P(Osd, DurTexts,
                         ::testing::Values(DurCase{130, 100, "100 / 30 min", "130 min"},
                                           DurCase{130, 140, "140 / 0 min", "130 min"},
                                           DurCase{130, 130, "130 / 0 min", "130 min"},
                                           DurCase{0, 0, "0 / 0 min", "0 min"}));

// The bar's blue share for 0 %, 50 %, 100 %, a programme that ran over, length "0" and broken text.
struct BarCase {
    const char* durMin;
    const char* durSec;
    const char* elapsedSec;
    int fill; // of a 200 px bar, -1 = silver only
};
class BarFill : public ::testing::TestWithParam<BarCase> {};
TEST_P(BarFill, Share) {
    const BarCase& c = GetParam();
    TChannelProgram p;
    p.DurationMin = QLatin1String(c.durMin);
    p.DurationSec = QLatin1String(c.durSec);
    p.ElapsedSec = QLatin1String(c.elapsedSec);
    EXPECT_EQ(epgBarFill(p, 200), c.fill);
}
INSTANTIATE_TEST_SUITE_P(Osd, BarFill,
                         ::testing::Values(BarCase{"60", "3600", "0", 0}, BarCase{"60", "3600", "1800", 100},
                                           BarCase{"60", "3600", "3600", 200}, BarCase{"60", "3600", "99999", 200},
                                           BarCase{"0", "3600", "1800", -1}, BarCase{"", "3600", "1800", -1},
                                           BarCase{"60", "abc", "1800", -1}, BarCase{"60", "3600", "x", -1},
                                           BarCase{"60", "3600", "-50", 0}));

// The drawn bar: blue over the programme's share, none for a length of "0".
TEST_F(OsdTest, EpgBarPaintsShare) {
    auto ch = std::make_shared<TChannel>();
    struct {
        int dur, elapsed;
        int minBlue, maxBlue;
    } cases[] = {{60, 0, 0, 1}, {60, 30, 45, 60}, {60, 60, 100, 106}, {60, 90, 100, 106}, {0, 0, 0, 0}};
    for (const auto& c : cases) {
        ch->NowEPG = prog(0, QStringLiteral("20:00"), QStringLiteral("X"), c.dur, c.elapsed);
        EpgBar bar(
            nullptr, [&] { return ch; }, 0);
        bar.resize(110, 11);
        QImage img(bar.size(), QImage::Format_RGB32);
        img.fill(Qt::white);
        bar.render(&img);
        const int blue = bluePixels(img, 5);
        EXPECT_GE(blue, c.minBlue) << c.dur << "/" << c.elapsed;
        EXPECT_LE(blue, c.maxBlue) << c.dur << "/" << c.elapsed;
        EXPECT_NE(img.pixelColor(1, 5), QColor(0, 0, 255)) << "bar starts at x = 3";
        EXPECT_NE(img.pixelColor(1, 5), QColor(192, 192, 192)) << "bar starts at x = 3";
        EXPECT_EQ(img.pixelColor(50, 5), c.elapsed * 2 >= c.dur && c.dur ? QColor(0, 0, 255) : QColor(192, 192, 192));
    }
}

// Radio facts: album (year) | label from the detail text, the placeholder when there is none.
TEST(OsdTexts, RadioFacts) {
    TChannelProgram p;
    p.Info2 = QStringLiteral("Titel: Song\r\nAlbum One\r\nLabel Two\r\nJahr: 1999  ");
    EXPECT_EQ(radioFactsText(p), QStringLiteral("Album One (1999) | Label Two"));
    p.Info2 = QStringLiteral("Titel: Song only");
    EXPECT_EQ(radioFactsText(p), QStringLiteral("Album: | Label:"));
    p.Info2.clear();
    EXPECT_EQ(radioFactsText(p), QStringLiteral("Album: | Label:"));
}

// Stream facts: format, resolution, the audio names of the Audio menu's positions.
TEST(OsdTexts, StreamFacts) {
    TStreamInfo info;
    info.Format = QStringLiteral("4:3");
    info.Resolution = QStringLiteral("720x576");
    info.AudioNames[0] = QStringLiteral("deutsch");
    info.AudioNames[2] = QStringLiteral("english");
    EXPECT_EQ(streamFactsText(info, 3, QString()), QStringLiteral("4:3 | 720x576 | deutsch/english"));
    EXPECT_EQ(streamFactsText(info, 1, QString()), QStringLiteral("4:3 | 720x576 | deutsch"));
    // More menu items than slots reads no further than the slots.
    EXPECT_EQ(streamFactsText(info, 500, QString()), QStringLiteral("4:3 | 720x576 | deutsch/english"));
    // Without a format the shown text stays as it is, however often the bar refreshes.
    info.Format.clear();
    QString shown = QStringLiteral("old");
    for (int i = 0; i < 3; ++i)
        shown = streamFactsText(info, 3, shown);
    EXPECT_EQ(shown, QStringLiteral("old"));
}

// The overlays grow with the screen: designed for 1024 x 768, never smaller than designed.
TEST(OsdTexts, ScaleWithScreen) {
    EXPECT_DOUBLE_EQ(osdScaleForSize(QSize(1024, 768)), 1.0);
    EXPECT_DOUBLE_EQ(osdScaleForSize(QSize(800, 600)), 1.0);
    EXPECT_DOUBLE_EQ(osdScaleForSize(QSize(1920, 1080)), 1080 / 768.0);
    EXPECT_DOUBLE_EQ(osdScaleForSize(QSize(3840, 2160)), 2160 / 768.0);
    EXPECT_DOUBLE_EQ(osdScaleForSize(QSize(0, 0)), 1.0);
}

// Details texts over a list: start-end at a slot with a follower, only the start at the last,
// nothing beyond the list.
TEST(OsdTexts, DetailsTimeAcrossListEnd) {
    const auto ch = bouquet(1, 3).first();
    ch->EPG[1].Info1 = QStringLiteral("Krimi");
    EXPECT_EQ(detailsTexts(*ch, 0).Time, QStringLiteral("18:00-19:00 (60min)"));
    const DetailsTexts mid = detailsTexts(*ch, 1);
    EXPECT_TRUE(mid.ShowInfo1);
    EXPECT_EQ(mid.MemoTop, 43);
    EXPECT_EQ(mid.Title, QStringLiteral("Channel 0, Show 0.1"));
    const DetailsTexts last = detailsTexts(*ch, 2);
    EXPECT_EQ(last.Time, QStringLiteral("20:00 (30min)"));
    EXPECT_FALSE(last.ShowInfo1);
    EXPECT_EQ(last.MemoTop, 24);
    const DetailsTexts beyond = detailsTexts(*ch, 7);
    EXPECT_EQ(beyond.Time, QStringLiteral(" (0min)"));
    EXPECT_EQ(beyond.Title, QStringLiteral("Channel 0, "));
}

// The info overlay appears 200 ms after it was asked for, hides itself after the OSD time, and a
// second request while it is shown stacks nothing.
TEST_F(OsdTest, InfoShowDelayAndAutoHide) {
    host.model.setChannels(bouquet(3, 0));
    OsdController osd(host);
    TFrmOSD_Info& info = osd.FrmOSD_Info();
    const TChannelRef ch = host.model.channelAt(1);
    osd.ShowEPGInfo(ch);
    EXPECT_FALSE(info.isVisible());
    EXPECT_TRUE(info.TimerShow().isActive());
    EXPECT_EQ(info.TimerShow().interval(), 200);
    EXPECT_EQ(host.backdropHides, 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return info.isVisible(); }, 3000));
    EXPECT_EQ(info.LblChannel()->text(), QStringLiteral("Channel 1"));
    EXPECT_EQ(info.LblInfo()->text(), QStringLiteral("20:15 News 1\n20:45 Film 1"));
    EXPECT_EQ(info.LblTime()->text(), QStringLiteral("20:25"));
    EXPECT_EQ(info.LblDurCurr()->text(), QStringLiteral("10 / 20 min"));
    EXPECT_EQ(info.LblDurNext()->text(), QStringLiteral("30 min"));
    EXPECT_TRUE(info.TimerHide().isActive());
    EXPECT_EQ(info.TimerHide().interval(), 400);
    EXPECT_TRUE(info.TimerEPGUpdate().isActive());

    osd.ShowEPGInfo(host.model.channelAt(2));
    EXPECT_FALSE(info.TimerShow().isActive());
    EXPECT_EQ(info.Channel, ch);

    ASSERT_TRUE(QTest::qWaitFor([&] { return !info.isVisible(); }, 3000));
    EXPECT_FALSE(info.TimerEPGUpdate().isActive() && info.isVisible());
    EXPECT_EQ(host.popUps, 0);
}

// Nothing shows without a channel, during a view change or with a menu open.
TEST_F(OsdTest, ShowEPGInfoRefusals) {
    host.model.setChannels(bouquet(2, 0));
    OsdController osd(host);
    osd.ShowEPGInfo(nullptr);
    host.inTransition = true;
    osd.ShowEPGInfo(host.model.channelAt(0));
    host.inTransition = false;
    host.menuOpen = true;
    osd.ShowEPGInfo(host.model.channelAt(0));
    EXPECT_FALSE(osd.FrmOSD_Info().TimerShow().isActive());
    EXPECT_EQ(host.backdropHides, 0);
}

// While shown the bar refreshes every 200 ms and sets only the texts that changed; it stops once
// the channel's list is loaded.
TEST_F(OsdTest, InfoRefreshSetsOnlyChanges) {
    Options.OsdShowTime = QStringLiteral("60000");
    host.model.setChannels(bouquet(1, 0));
    OsdController osd(host);
    TFrmOSD_Info& info = osd.FrmOSD_Info();
    const TChannelRef ch = host.model.channelAt(0);
    osd.ShowEPGInfo(ch);
    ASSERT_TRUE(QTest::qWaitFor([&] { return info.isVisible(); }, 3000));
    const int before = info.textAssignments();
    QTest::qWait(500); // two or more refresh ticks with nothing new
    EXPECT_EQ(info.textAssignments(), before);
    ch->NowEPG.Title = QStringLiteral("Breaking");
    ASSERT_TRUE(QTest::qWaitFor([&] { return info.LblInfo()->text().contains(QLatin1String("Breaking")); }, 3000));
    EXPECT_EQ(info.textAssignments(), before + 1);
    ch->EPGLoaded = true;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !info.TimerEPGUpdate().isActive(); }, 3000));
    osd.HideEPGInfo();
    EXPECT_FALSE(info.isVisible());
}

// Wheel over the info overlay moves the volume by 5 within 0..100; a double-click sets the flag.
TEST_F(OsdTest, InfoWheelVolumeAndDoubleClick) {
    Options.OsdShowTime = QStringLiteral("60000");
    host.model.setChannels(bouquet(1, 0));
    OsdController osd(host);
    TFrmOSD_Info& info = osd.FrmOSD_Info();
    info.ShowOSD(host.model.channelAt(0), true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return info.isVisible(); }, 3000));
    for (auto [start, delta, expect] : {std::tuple{50, 120, 55}, {50, -120, 45}, {98, 120, 100}, {3, -120, 0}}) {
        host.vol = start;
        QWheelEvent wheel(QPointF(10, 10), info.mapToGlobal(QPointF(10, 10)), QPoint(), QPoint(0, delta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(&info, &wheel);
        EXPECT_EQ(host.vol, expect);
        EXPECT_EQ(info.Volume()->value(), expect);
    }
    QTest::mouseDClick(info.LblChannel(), Qt::LeftButton);
    EXPECT_TRUE(host.dblClickEPG);
    // A click on the programme text opens the details, which stay (no auto-hide).
    QTest::mouseClick(info.LblInfo(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return osd.FrmOSD_Details().isVisible(); }, 3000));
    EXPECT_FALSE(info.isVisible());
    EXPECT_FALSE(osd.FrmOSD_Details().TimerHide().isActive());
}

// The channel overlay lists the bouquet in the box's order with the channel shown selected; the
// selection is what the Enter key switches to, a double-click switches and hides.
TEST_F(OsdTest, ChannelsListBouquetAndSwitch) {
    host.model.setChannels(bouquet(12, 0));
    OsdController osd(host);
    TFrmOSD_Channels& chs = osd.FrmOSD_Channels();
    osd.ShowOSD(OsdWindow::Info, host.model.channelAt(0), false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return osd.osdVisible(OsdWindow::Info); }, 3000));
    osd.ShowOSD(OsdWindow::Channels, host.model.channelAt(4), false);
    EXPECT_EQ(chs.LblEPGChannelsTime()->text(), QStringLiteral("20:25"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return chs.isVisible(); }, 3000));
    EXPECT_FALSE(osd.osdVisible(OsdWindow::Info)) << "the channel overlay hides the info bar";
    EXPECT_EQ(chs.LblChannelsHeader()->text(), QStringLiteral("Channel Preview"));
    ChannelListView* list = chs.LbxChannels();
    ASSERT_EQ(list->model()->rowCount(), 12);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(list->model()->index(i, 0).data(ChannelModel::CaptionRole).toString(),
                  QStringLiteral("Channel %1").arg(i));
    EXPECT_EQ(osd.osdChannelsIndex(), 4);
    EXPECT_EQ(channelRowNowLine(*host.model.channelAt(4)), QStringLiteral("20:15 News 4 (10 / 20 min)"));
    EXPECT_EQ(channelRowNextLine(*host.model.channelAt(4)), QStringLiteral("20:45 Film 4 (100 min)"));

    // Rows are drawn at the overlay's height with the blue share of the running programme.
    QImage img(list->viewport()->size(), QImage::Format_RGB32);
    list->viewport()->render(&img);
    EXPECT_GT(bluePixels(img, chs.S(kOverlayRows.B0) + 3), 0);

    list->setFocus();
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(osd.osdChannelsIndex(), 5);
    chs.LbxChannelsDblClick(osd.osdChannelsIndex());
    ASSERT_EQ(host.switched.size(), 1);
    EXPECT_EQ(host.switched.first(), host.model.channelAt(5));
    EXPECT_FALSE(chs.isVisible());
}

// In mode "quoxel" the serving instance chooses the channel: a double-click does nothing.
TEST_F(OsdTest, ChannelsNoSwitchInQuoxelMode) {
    Options.Mode = AppMode::Quoxel;
    host.model.setChannels(bouquet(3, 0));
    OsdController osd(host);
    osd.FrmOSD_Channels().LbxChannelsDblClick(1);
    EXPECT_TRUE(host.switched.isEmpty());
}

// Paging by a page of rows with the arrow panels and the wheel, never above the first row.
TEST_F(OsdTest, ChannelsPaging) {
    host.model.setChannels(bouquet(40, 0));
    OsdController osd(host);
    TFrmOSD_Channels& chs = osd.FrmOSD_Channels();
    osd.ShowOSD(OsdWindow::Channels, host.model.channelAt(0), false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return chs.isVisible(); }, 3000));
    const int page = chs.LbxChannels()->pageRows();
    ASSERT_GE(page, 1);
    EXPECT_EQ(chs.topIndex(), 0);
    chs.Panel7Click();
    EXPECT_EQ(chs.topIndex(), page);
    auto wheel = [&](int dy) {
        QWidget* vp = chs.LbxChannels()->viewport();
        QWheelEvent e(QPointF(5, 5), vp->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, dy), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(vp, &e);
    };
    wheel(-120);
    EXPECT_EQ(chs.topIndex(), 2 * page);
    wheel(120);
    EXPECT_EQ(chs.topIndex(), page);
    chs.Panel2Click();
    EXPECT_EQ(chs.topIndex(), 0);
    chs.Panel2Click();
    wheel(120);
    EXPECT_EQ(chs.topIndex(), 0);
    chs.PnlEPGCloseClick();
    EXPECT_FALSE(chs.isVisible());
}

// Details paging stops at the first and the last programme and walks the bouquet's channels;
// a position outside the box changes nothing.
TEST_F(OsdTest, DetailsPagingProgrammesAndChannels) {
    host.model.setChannels(bouquet(3, 4));
    OsdController osd(host);
    TFrmOSD_Details& det = osd.FrmOSD_Details();
    const TChannelRef first = host.model.channelAt(0);
    osd.OpenDetailsOSD(first, false);
    EXPECT_EQ(det.ShownIndex, 1);
    EXPECT_EQ(det.LblTitle()->text(), QStringLiteral("Channel 0, Show 0.1"));
    EXPECT_EQ(det.LblEPGTime()->text(), QStringLiteral("19:00-20:00 (45min)"));
    EXPECT_EQ(det.LblEPGDate()->text(), QStringLiteral("07.12.2026"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return det.isVisible(); }, 3000));
    for (int expect : {2, 3, 3, 3}) {
        osd.OsdDetailsNext();
        EXPECT_EQ(det.ShownIndex, expect);
    }
    EXPECT_EQ(det.LblEPGTime()->text(), QStringLiteral("21:00 (15min)"));
    for (int expect : {2, 1, 0, 0}) {
        osd.OsdDetailsPrev();
        EXPECT_EQ(det.ShownIndex, expect);
    }
    osd.OsdDetailsChanUp();
    EXPECT_EQ(det.DetailsChannel, first);
    EXPECT_EQ(det.ShownIndex, 0);
    osd.OsdDetailsChanDown();
    osd.OsdDetailsChanDown();
    EXPECT_EQ(det.DetailsChannel, host.model.channelAt(2));
    EXPECT_EQ(det.ShownIndex, 1);
    EXPECT_EQ(det.LblTitle()->text(), QStringLiteral("Channel 2, Show 2.1"));
    osd.OsdDetailsChanDown();
    EXPECT_EQ(det.DetailsChannel, host.model.channelAt(2));
    // The refresh keeps showing the channel paged to, not the one opened for.
    QTest::qWait(450);
    EXPECT_EQ(det.LblTitle()->text(), QStringLiteral("Channel 2, Show 2.1"));
    osd.CloseDetailsOSD();
    EXPECT_FALSE(det.isVisible());
    EXPECT_EQ(det.DetailsChannel, first);
    EXPECT_EQ(det.LblTitle()->text(), QStringLiteral("Channel 0, Show 0.1"));
}

// A programme with an empty or "..." title shows as such, with an empty bar.
TEST_F(OsdTest, UnknownAndEmptyTitles) {
    for (const QString& title : {QStringLiteral("..."), QString()}) {
        auto ch = std::make_shared<TChannel>();
        ch->Caption = QStringLiteral("Dark");
        ch->NowEPG.Title = title;
        ch->NextEPG.Title = title;
        EXPECT_EQ(infoLinesText(*ch), QStringLiteral(" ") + title + QStringLiteral("\n ") + title);
        EXPECT_EQ(detailsTexts(*ch, 0).Title, QStringLiteral("Dark, ") + title);
        EXPECT_EQ(epgBarFill(ch->NowEPG, 100), -1);
        EXPECT_EQ(channelRowNextLine(*ch),
                  QStringLiteral(" ") + title + (title.isEmpty() ? QStringLiteral(" (0 min)") : QString()));
    }
    EXPECT_EQ(channelRowNowLine(TChannel()), QStringLiteral(" ..."));
    // A radio row has no start clock and names the song the programme's text carries.
    TChannel radio;
    radio.Mode = mRadio;
    radio.NowEPG.Title = QStringLiteral("Morning");
    radio.NowEPG.Info2 = QStringLiteral("Titel: Song A\nAlbum");
    radio.NowEPG.DurationMin = QStringLiteral("60");
    radio.NowEPG.ElapsedMin = QStringLiteral("10");
    EXPECT_EQ(channelRowNowLine(radio), QStringLiteral(" Morning - Song A (10 / 50 min)"));
    EXPECT_TRUE(channelRowNextLine(radio).isEmpty());
}

// In the window: the TV bar hides itself after the OSD time, texts are set only when they change,
// and nothing shows while the channel box's list is dropped down.
TEST_F(OsdTest, InWindowInfoBarTv) {
    host.model.setChannels(bouquet(2, 0));
    host.fullscreen = false;
    QWidget parent;
    parent.resize(640, 480);
    EpgPanels panels(host, &parent);
    OsdController osd(host);
    osd.setPanels(&panels);
    panels.setHideEpgInfo([&] { osd.HideEPGInfo(); });
    parent.show();
    const TChannelRef ch = host.model.channelAt(0);
    ch->NowEPG = prog(0, QStringLiteral("20:00"), QStringLiteral("Film"), 130, 100);
    host.akt = ch;
    host.droppedDown = true;
    osd.ShowEPGInfo(ch);
    EXPECT_FALSE(panels.infoVisible());
    host.droppedDown = false;
    osd.ShowEPGInfo(ch);
    ASSERT_TRUE(panels.infoVisible());
    EXPECT_EQ(panels.LblDurCurr()->text(), QStringLiteral("100 / 30 min"));
    EXPECT_EQ(panels.LblDurNext()->text(), QStringLiteral("130 min"));
    EXPECT_EQ(panels.LblEPGInfo()->text(), QStringLiteral("20:00 Film\n20:45 Film 0"));
    const int before = panels.textAssignments();
    panels.ShowChannelInfo(ch);
    EXPECT_EQ(panels.textAssignments(), before);
    ch->NowEPG = prog(0, QStringLiteral("20:00"), QStringLiteral("Film"), 130, 140);
    panels.ShowChannelInfo(ch);
    EXPECT_EQ(panels.textAssignments(), before + 1);
    EXPECT_EQ(panels.LblDurCurr()->text(), QStringLiteral("140 / 0 min"));
    EXPECT_TRUE(panels.TimerOSD().isActive());
    EXPECT_EQ(panels.TimerOSD().interval(), 400);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !panels.infoVisible(); }, 3000));
    EXPECT_EQ(panels.TimerOSD().interval(), 1);
}

// Radio: song after the title, album/label/year facts, the window caption; the bar stays shown.
TEST_F(OsdTest, InWindowRadioRules) {
    host.fullscreen = false;
    QWidget parent;
    EpgPanels panels(host, &parent);
    auto ch = std::make_shared<TChannel>();
    ch->Mode = mRadio;
    ch->Caption = QStringLiteral("Radio X");
    ch->NowEPG = prog(0, QStringLiteral("20:00"), QStringLiteral("Hits"), 60, 20);
    ch->NowEPG.Info2 = QStringLiteral("Titel: Blue\r\nAlbum: Colours\r\nSony\r\nJahr: 1998 ");
    host.model.setChannels({ch});
    host.akt = ch;
    panels.ShowInfoPanel(ch);
    EXPECT_EQ(panels.LblEPGInfo()->text(), QStringLiteral("20:00 Hits - Blue"));
    EXPECT_EQ(panels.LblStats()->text(), QStringLiteral("Album: Colours (1998) | Sony"));
    EXPECT_EQ(panels.LblDurNext()->text(), QString());
    EXPECT_EQ(host.boxRepaints, 1);
    EXPECT_FALSE(panels.TimerOSD().isActive()) << "a radio bar stays";
    EXPECT_TRUE(panels.infoVisible());
    EXPECT_EQ(channelRowNowLine(*ch), QStringLiteral("20:00 Hits - Blue (20 / 40 min)"));
    EXPECT_EQ(channelRowNextLine(*ch), QString());
    // A new song refreshes the visible bar and the caption.
    ch->NowEPG.Info2 = QStringLiteral("Titel: Red");
    panels.ShowInfoPanel(ch);
    EXPECT_EQ(panels.LblEPGInfo()->text(), QStringLiteral("20:00 Hits - Red"));
    EXPECT_EQ(host.caption, QStringLiteral("Radio X, Hits - Red"));
    EXPECT_EQ(panels.LblStats()->text(), QStringLiteral("Album: | Label:"));
}

// Details panel: a channel without a list fills the controls but shows nothing; with a list the
// box is disabled while it is shown; paging stops at the ends.
TEST_F(OsdTest, InWindowDetailsPanel) {
    host.fullscreen = false;
    QWidget parent;
    EpgPanels panels(host, &parent);
    host.model.setChannels(bouquet(1, 0) + bouquet(1, 3));
    host.model.channelAt(1)->ListIndex = 1;
    host.akt = host.model.channelAt(0);
    panels.LblEPGInfoClick();
    EXPECT_FALSE(panels.detailsVisible());
    EXPECT_EQ(panels.LblTitle()->text(), QStringLiteral("Channel 0, News 0"));
    EXPECT_TRUE(host.boxEnabled);
    host.akt = host.model.channelAt(1);
    panels.LblEPGInfoClick();
    EXPECT_TRUE(panels.detailsVisible());
    EXPECT_FALSE(host.boxEnabled);
    for (int expect : {2, 2}) {
        panels.PnlEpgNextClick();
        EXPECT_EQ(panels.ShownIndex, expect);
    }
    for (int expect : {1, 0, 0}) {
        panels.PnlEpgPrevClick();
        EXPECT_EQ(panels.ShownIndex, expect);
    }
    panels.PnlEpgChanDown();
    EXPECT_EQ(panels.DetailsChannel, host.model.channelAt(1));
    panels.PnlEpgChanUp();
    EXPECT_EQ(panels.DetailsChannel, host.model.channelAt(0));
    panels.PnlEPGCloseClick();
    EXPECT_FALSE(panels.detailsVisible());
    EXPECT_TRUE(host.boxEnabled);
    EXPECT_EQ(panels.DetailsChannel, host.akt);
}

// Channel panel: the logo toggles it, it selects the channel on air, a double-click switches.
TEST_F(OsdTest, InWindowChannelPanel) {
    host.fullscreen = false;
    QWidget parent;
    parent.resize(400, 300);
    host.model.setChannels(bouquet(9, 0));
    EpgPanels panels(host, &parent);
    parent.show();
    host.akt = host.model.channelAt(6);
    panels.LogoClick();
    ASSERT_TRUE(panels.channelsVisible());
    EXPECT_EQ(panels.LbxChannels()->currentIndex().row(), 6);
    panels.LbxChannelsDblClick(2);
    ASSERT_EQ(host.switched.size(), 1);
    EXPECT_EQ(host.switched.first(), host.model.channelAt(2));
    EXPECT_FALSE(panels.channelsVisible());
    panels.LogoClick();
    panels.LogoClick();
    EXPECT_FALSE(panels.channelsVisible());
}

// TV stream facts in the window: built from the stream information once, left alone while the
// label still holds format, resolution and first audio name.
TEST_F(OsdTest, InWindowStreamFacts) {
    host.fullscreen = false;
    QWidget parent;
    EpgPanels panels(host, &parent);
    host.model.setChannels(bouquet(1, 0));
    const TChannelRef ch = host.model.channelAt(0);
    panels.ShowChannelInfo(ch);
    EXPECT_EQ(panels.LblStats()->text(), QString()) << "no stream information yet";
    TStreamInfo info;
    info.Format = QStringLiteral("16:9");
    info.Resolution = QStringLiteral("720x576");
    info.AudioNames[0] = QStringLiteral("deutsch");
    host.info = info;
    host.audioItems = 1;
    panels.ShowChannelInfo(ch);
    EXPECT_EQ(panels.LblStats()->text(), QStringLiteral("16:9 | 720x576 | deutsch"));
    host.info->AudioNames[1] = QStringLiteral("english");
    host.audioItems = 2;
    const int before = panels.textAssignments();
    panels.ShowChannelInfo(ch);
    EXPECT_EQ(panels.textAssignments(), before);
    host.info->Format = QStringLiteral("4:3");
    panels.ShowChannelInfo(ch);
    EXPECT_EQ(panels.LblStats()->text(), QStringLiteral("4:3 | 720x576 | deutsch/english"));
}
