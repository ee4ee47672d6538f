#include "box/bouquets.h"
#include "box/boxcommands.h"
#include "box/httpengine.h"
#include "core/options.h"
#include "support/appstate.h"
#include "support/boxsimprocess.h"
#include "support/tempdir.h"
#include "ui/channelbox.h"
#include "ui/channellist.h"
#include "ui/channelmenu.h"
#include "ui/channelmodel.h"
#include "ui/pictures.h"

#include <QAction>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

constexpr const char* kAddress = "127.0.53.2";

QJsonObject tvChannel(const QString& id, const QString& name) {
    return QJsonObject{{"id", id}, {"name", name}};
}

QJsonObject generated(int count, const QString& idBase) {
    return QJsonObject{{"generate", count}, {"idBase", idBase}, {"name", "Gen"}};
}

// Bouquets 1..7: TV only, radio only, both, empty, 25, 26 and 51 channels.
QByteArray dataSet(const char* encoding = "utf-8") {
    QJsonArray bouquets;
    bouquets.append(
        QJsonObject{{"name", "TV only"},
                    {"tv", QJsonArray{tvChannel("43700016d66", "Das Erste"), tvChannel("437000273f2", "ORF"),
                                      tvChannel("44100016dca", "Sat.1 Österreich")}}});
    bouquets.append(
        QJsonObject{{"name", "Radio only"},
                    {"radio", QJsonArray{tvChannel("4370001bfa1", "Bayern 3"), tvChannel("4370001bfa2", "FM4")}}});
    bouquets.append(
        QJsonObject{{"name", "Both"},
                    {"tv", QJsonArray{"43700016d66", "437000273f2", tvChannel("4410002d3a4", "TV5MONDE Europe")}},
                    {"radio", QJsonArray{"4370001bfa1", "4370001bfa2"}}});
    bouquets.append(QJsonObject{{"name", "Empty"}});
    bouquets.append(QJsonObject{{"name", "Twenty-five"}, {"tv", QJsonArray{generated(25, "5000000")}}});
    bouquets.append(QJsonObject{{"name", "Twenty-six"}, {"tv", QJsonArray{generated(26, "6000000")}}});
    bouquets.append(QJsonObject{{"name", "Fifty-one"},
                                {"tv", QJsonArray{generated(40, "7000000")}},
                                {"radio", QJsonArray{generated(10, "7100000")}}});
    QJsonObject root{{"encoding", encoding}, {"startChannel", "43700016d66"}, {"bouquets", bouquets}};
    return QJsonDocument(root).toJson();
}

class ChannelViewsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = new TestDir;
        ASSERT_TRUE(s_dir->write(QStringLiteral("data.json"), dataSet()));
        s_sim = new BoxSimProcess(QString::fromLatin1(kAddress), {QStringLiteral("--data"), s_dir->path("data.json")});
        ASSERT_TRUE(s_sim->start());
    }
    static void TearDownTestSuite() {
        delete s_sim;
        delete s_dir;
    }
    void SetUp() override {
        ASSERT_TRUE(s_sim->isRunning());
        Options.BoxAddress = QString::fromLatin1(kAddress) + QStringLiteral(":80");
        menu.setObjectName(QStringLiteral("Channels1"));
        box.setChannelModel(&model);
        list.setChannelModel(&model);
        list.resize(300, 220);
        ASSERT_TRUE(bouquets.LoadBouquets());
    }

    // LoadBouquet and what the window does after it: the views show the model's rows.
    void load(int nr) {
        ASSERT_TRUE(bouquets.LoadBouquet(QString::number(nr)));
        model.setItems(bouquets.channelBox());
    }
    QStringList menuCaptions() const {
        QStringList out;
        for (QAction* a : builder.entries())
            out << a->text();
        return out;
    }
    // Position k of the channel box, the "Channels" menu and the channel list: one record.
    void expectSameChannelEverywhere() {
        ASSERT_EQ(box.count(), model.rowCount());
        ASSERT_EQ(list.model()->rowCount(), model.rowCount());
        for (int k = 0; k < model.rowCount(); ++k) {
            SCOPED_TRACE(k);
            TChannel* ch = model.channelAt(k).get();
            EXPECT_EQ(box.itemData(k, ChannelModel::ChannelRole).value<TChannel*>(), ch);
            EXPECT_EQ(list.model()->index(k, 0).data(ChannelModel::ChannelRole).value<TChannel*>(), ch);
            QAction* entry = builder.actionForRow(k);
            ASSERT_NE(entry, nullptr);
            EXPECT_EQ(model.channelAt(entry->property(ChannelMenuBuilder::kRowProperty).toInt()).get(), ch);
            if (bouquets.channelBox().size() == model.rowCount()) {
                EXPECT_EQ(bouquets.channelBox()[k].Channel.get(), ch);
            }
        }
    }

    static TestDir* s_dir;
    static BoxSimProcess* s_sim;
    ScopedAppState m_state;
    TIEHTTP http;
    BoxClient client{http};
    TBouquetModel bouquets{[this](const QString& url) { return client.BoxRequest(url); }};
    ChannelModel model;
    TComboBoxQuoxel box;
    ChannelListView list;
    QMenu menu;
    ChannelMenuBuilder builder{&menu, &model};
};
TestDir* ChannelViewsTest::s_dir = nullptr;
BoxSimProcess* ChannelViewsTest::s_sim = nullptr;

struct BouquetCase {
    int nr;
    QStringList captions;
};
class BouquetViewsTest : public ChannelViewsTest, public ::testing::WithParamInterface<BouquetCase> {};

// TV only, radio only and both: numbering, radio captions and UTF-8 names in all three views.
TEST_P(BouquetViewsTest, ShowsTheBouquet) {
    load(GetParam().nr);
    EXPECT_EQ(menuCaptions(), GetParam().captions);
    QStringList boxTexts;
    for (int k = 0; k < box.count(); ++k)
        boxTexts << box.itemText(k);
    QStringList expected;
    for (const QString& caption : GetParam().captions)
        expected << caption + (caption.contains(QLatin1String("Radio: ")) ? QStringLiteral(", ... - ")
                                                                          : QStringLiteral(", ..."));
    EXPECT_EQ(boxTexts, expected);
    expectSameChannelEverywhere();
    EXPECT_EQ(builder.columnSizes(), QList<int>{static_cast<int>(GetParam().captions.size())});
}
INSTANTIATE_TEST_SUITE_P(
    Bouquets, BouquetViewsTest,
    ::testing::Values(BouquetCase{1, {"1. Das Erste", "2. ORF", QString::fromUtf8("3. Sat.1 Österreich")}},
                      BouquetCase{2, {"1. Radio: Bayern 3", "2. Radio: FM4"}},
                      BouquetCase{
                          3, {"1. Das Erste", "2. ORF", "3. TV5MONDE Europe", "4. Radio: Bayern 3", "5. Radio: FM4"}}));

// A receiver that sends Latin-1 gets the same captions as one that sends UTF-8.
TEST(ChannelViewsLatin1, NamesDecode) {
    TestDir dir;
    ASSERT_TRUE(dir.write(QStringLiteral("data.json"), dataSet("latin1")));
    BoxSimProcess sim(QStringLiteral("127.0.53.3"), {QStringLiteral("--data"), dir.path("data.json")});
    ASSERT_TRUE(sim.start());
    const TOptions saved = Options;
    Options.BoxAddress = QStringLiteral("127.0.53.3:80");
    TIEHTTP http;
    BoxClient client(http);
    TBouquetModel bouquets([&](const QString& url) { return client.BoxRequest(url); });
    ASSERT_TRUE(bouquets.LoadBouquet(QStringLiteral("1")));
    ChannelModel model;
    model.setItems(bouquets.channelBox());
    ASSERT_EQ(model.rowCount(), 3);
    EXPECT_EQ(model.index(2).data(ChannelModel::CaptionRole).toString(), QString::fromUtf8("3. Sat.1 Österreich"));
    Options = saved;
}

// An empty bouquet leaves all three views as they were.
TEST_F(ChannelViewsTest, EmptyBouquetKeepsTheViews) {
    load(1);
    EXPECT_FALSE(bouquets.LoadBouquet(QStringLiteral("4")));
    EXPECT_EQ(box.count(), 3);
    EXPECT_EQ(builder.entries().size(), 3);
    expectSameChannelEverywhere();
}

// A double click on a list row names its row and record; a single click does nothing.
TEST_F(ChannelViewsTest, DoubleClickNamesTheRecord) {
    load(3);
    list.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
    QSignalSpy listSpy(&list, &ChannelListView::channelActivated);
    const QRect r = list.visualRect(model.index(2));
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, r.center());
    EXPECT_TRUE(listSpy.isEmpty()) << "a single click does nothing";
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, r.center());
    ASSERT_EQ(listSpy.size(), 1);
    EXPECT_EQ(listSpy[0][0].toInt(), 2);
    EXPECT_EQ(listSpy[0][1].value<TChannel*>(), model.channelAt(2).get());
}

// The logo beside the box follows the selection, once per change.
TEST_F(ChannelViewsTest, LogoFollowsTheSelection) {
    QSignalSpy spy(&box, &TComboBoxQuoxel::logoChannelChanged);
    load(3);
    box.setCurrentIndex(3);
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    box.repaint();
    ASSERT_FALSE(spy.isEmpty());
    EXPECT_EQ(spy.last()[0].value<TChannel*>(), model.channelAt(3).get());
    const qsizetype n = spy.size();
    box.repaint();
    EXPECT_EQ(spy.size(), n);
}

// Now-titles arriving later reach the box text after a refresh; control bytes never do.
TEST_F(ChannelViewsTest, RefreshShowsNewTitlesWithoutControlBytes) {
    load(3);
    TChannel& first = *model.channelAt(0);
    first.NowEPG.Title = QStringLiteral("Tages\x01schau\x1b[2J");
    first.NowEPG.DurationSec = QStringLiteral("900");
    first.NowEPG.ElapsedSec = QStringLiteral("450");
    TChannel& radio = *model.channelAt(3);
    radio.NowEPG.Title = QStringLiteral("Morning");
    radio.NowEPG.Info2 = QStringLiteral("Titel: Song A\r\nAlbum: B");
    QSignalSpy spy(&model, &QAbstractItemModel::dataChanged);
    model.refresh();
    EXPECT_EQ(spy.size(), 1);
    EXPECT_EQ(box.itemText(0), QStringLiteral("1. Das Erste, Tagesschau[2J"));
    EXPECT_EQ(box.itemText(3), QStringLiteral("4. Radio: Bayern 3, Morning - Song A"));
    EXPECT_EQ(model.index(0).data(ChannelModel::ProgressRole).toInt(), 18);
}

struct ProgressCase {
    const char* durationSec;
    const char* elapsedSec;
    int width;
};
class ProgressTest : public ::testing::TestWithParam<ProgressCase> {};

// The box's bar: 35 pixels for the whole programme, capped, unfilled without a usable duration.
TEST_P(ProgressTest, Width) {
    TChannelProgram p;
    p.DurationSec = QString::fromLatin1(GetParam().durationSec);
    p.ElapsedSec = QString::fromLatin1(GetParam().elapsedSec);
    EXPECT_EQ(programmeProgressWidth(p, 35), GetParam().width);
}
INSTANTIATE_TEST_SUITE_P(Cases, ProgressTest,
                         ::testing::Values(ProgressCase{"3600", "0", 0}, ProgressCase{"3600", "1800", 18},
                                           ProgressCase{"3600", "3600", 35}, ProgressCase{"3600", "99999", 35},
                                           ProgressCase{"3600", "", 0}, ProgressCase{"3600", "-5", 0},
                                           ProgressCase{"0", "10", -1}, ProgressCase{"", "10", -1},
                                           ProgressCase{"abc", "10", -1}, ProgressCase{"-60", "10", -1}));

// Paging the list by whole pages, never before the first row.
TEST_F(ChannelViewsTest, ListPages) {
    load(7);
    list.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
    EXPECT_EQ(list.pageRows(), 220 / 50);
    list.pageDown();
    EXPECT_EQ(list.indexAt(QPoint(5, 5)).row(), 4);
    list.pageUp();
    list.pageUp();
    EXPECT_EQ(list.indexAt(QPoint(5, 5)).row(), 0);
    list.showRow(30);
    EXPECT_EQ(list.currentIndex().row(), 30);
}

} // namespace
