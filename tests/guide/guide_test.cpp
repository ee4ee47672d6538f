#include "guide/guidemodel.h"

#include <QDateTime>

#include <gtest/gtest.h>

namespace {

// 2024-06-01 10:00 UTC: a plain day, on a half hour in every zone used here.
constexpr qint64 kOrigin = 1717236000;
constexpr qint64 kNoStart = -1;

QDateTime utc(const char* iso) {
    QDateTime t = QDateTime::fromString(QLatin1String(iso), Qt::ISODate);
    t.setTimeZone(QTimeZone::utc());
    return t;
}

TChannelProgram programme(qint64 startSec, qint64 durationSec, const QString& title = QStringLiteral("P")) {
    TChannelProgram p;
    p.StartSec = startSec == kNoStart ? 0 : startSec;
    p.EndSec = startSec == kNoStart ? 0 : startSec + durationSec;
    p.StartTime = startSec == kNoStart ? 0 : 45000;
    p.Title = title;
    return p;
}

struct Block {
    qint64 X0;
    qint64 X1;
    int32_t Slot;
    bool operator==(const Block&) const = default;
};
void PrintTo(const Block& b, std::ostream* os) {
    *os << "{" << b.X0 << "," << b.X1 << ",slot " << b.Slot << "}";
}

// The blocks as the grid places them: pixels from the origin (4 per minute) and the slot shown.
std::vector<Block> placed(const GuideTimeAxis& axis, const std::vector<GuideBlock>& blocks) {
    std::vector<Block> out;
    for (const GuideBlock& b : blocks)
        out.push_back({axis.x(axis.originSec() + b.Start), axis.x(axis.originSec() + b.End), b.Slot});
    return out;
}

// One channel's list as (start from the origin in seconds, duration in seconds), the blocks the
// grid draws for it, and the block running at `now` seconds from the origin (-1: none).
struct LayoutCase {
    const char* Name;
    std::vector<std::pair<qint64, qint64>> Programmes;
    std::vector<Block> Expected;
    qint64 Now;
    int Running;
};

class GuideLayoutTest : public testing::TestWithParam<LayoutCase> {};

// Time runs to position at one scale, overlaps are cut at the next start, nothing of no length or
// without a start is drawn, and "now" finds the programme running.
TEST_P(GuideLayoutTest, BlocksAndTheProgrammeRunningNow) {
    const LayoutCase& c = GetParam();
    TChannel ch;
    for (const auto& [start, duration] : c.Programmes)
        ch.EPG.append(programme(start == kNoStart ? kNoStart : kOrigin + start, duration));
    ch.EPGCount = static_cast<int32_t>(ch.EPG.size());
    GuideModel model(QTimeZone::utc());
    model.setRows({{std::make_shared<TChannel>(ch), {}, -1}}, kOrigin + 3600);
    ASSERT_EQ(model.axis().originSec(), kOrigin);
    EXPECT_EQ(placed(model.axis(), model.blocks(0)), c.Expected);
    EXPECT_EQ(blockAt(model.blocks(0), static_cast<int32_t>(c.Now)), c.Running);
}

constexpr qint64 kMin = 60;
constexpr qint64 kDay = 86400;

INSTANTIATE_TEST_SUITE_P(
    Table, GuideLayoutTest,
    testing::Values(
        LayoutCase{"Consecutive", {{0, 30 * kMin}, {30 * kMin, 60 * kMin}}, {{0, 120, 0}, {120, 360, 1}}, 30 * kMin, 1},
        LayoutCase{"OverlapEndsAtTheNextStart",
                   {{0, 60 * kMin}, {30 * kMin, 30 * kMin}},
                   {{0, 120, 0}, {120, 240, 1}},
                   29 * kMin,
                   0},
        LayoutCase{"ZeroLengthLeftOut", {{0, 0}, {0, 30 * kMin}}, {{0, 120, 1}}, 0, 0},
        LayoutCase{"SameStartTheLaterStays", {{0, 30 * kMin}, {0, 60 * kMin}}, {{0, 240, 1}}, 45 * kMin, 0},
        LayoutCase{
            "UnsortedList", {{30 * kMin, 30 * kMin}, {0, 30 * kMin}}, {{0, 120, 1}, {120, 240, 0}}, 59 * kMin, 1},
        LayoutCase{"NoStartLeftOut", {{kNoStart, 10 * kMin}, {10 * kMin, 10 * kMin}}, {{40, 80, 1}}, 5 * kMin, -1},
        LayoutCase{
            "GapStaysEmpty", {{0, 10 * kMin}, {20 * kMin, 10 * kMin}}, {{0, 40, 0}, {80, 120, 1}}, 15 * kMin, -1},
        LayoutCase{"BegunBeforeTheOriginIsCut", {{-60 * kMin, 90 * kMin}}, {{0, 120, 0}}, 0, 0},
        LayoutCase{"EndedBeforeTheOriginLeftOut", {{-90 * kMin, 60 * kMin}, {0, kMin}}, {{0, 4, 1}}, 2 * kMin, -1},
        LayoutCase{"AbsurdLengthEndsAtTheGuidesReach",
                   {{0, 10 * kMin}, {28 * kDay - 10 * kMin, 400 * kDay}, {29 * kDay, kMin}},
                   {{0, 40, 0}, {161240, 161280, 1}},
                   28 * kDay - 1,
                   1}),
    [](const testing::TestParamInfo<LayoutCase>& info) { return info.param.Name; });

// The ruler and the origin in a zone with summer time: instants keep their distance across the
// change, the labels show the local clock (an hour skipped in spring, repeated in autumn).
struct AxisCase {
    const char* Name;
    const char* Zone;
    const char* Now; // UTC
    const char* Origin;
    std::vector<const char*> Labels; // every half hour from the origin
};

class GuideAxisTest : public testing::TestWithParam<AxisCase> {};

TEST_P(GuideAxisTest, OriginAndLocalClockLabels) {
    const AxisCase& c = GetParam();
    const QTimeZone zone(c.Zone);
    ASSERT_TRUE(zone.isValid()) << c.Zone;
    const qint64 origin = GuideTimeAxis::originFor(utc(c.Now).toSecsSinceEpoch(), zone);
    EXPECT_EQ(origin, utc(c.Origin).toSecsSinceEpoch());
    const GuideTimeAxis axis(origin, origin + 6 * 3600, zone);
    const QList<GuideTimeAxis::Tick> ticks = axis.ticks(origin, origin + (c.Labels.size() - 1) * 1800);
    ASSERT_EQ(ticks.size(), static_cast<qsizetype>(c.Labels.size()));
    for (qsizetype i = 0; i < ticks.size(); ++i) {
        EXPECT_EQ(ticks[i].X, i * 120);
        EXPECT_EQ(ticks[i].Label.toStdString(), c.Labels[static_cast<size_t>(i)]) << "tick " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, GuideAxisTest,
    testing::Values(
        AxisCase{"SpringForward",
                 "Europe/Berlin",
                 "2024-03-31T01:40:00",
                 "2024-03-31T00:30:00",
                 {"01:30", "03:00", "03:30", "04:00"}},
        AxisCase{"AutumnBack",
                 "Europe/Berlin",
                 "2024-10-27T02:10:00",
                 "2024-10-27T01:00:00",
                 {"02:00", "02:30", "03:00", "03:30"}},
        AxisCase{"AutumnRepeatedHour",
                 "Europe/Berlin",
                 "2024-10-27T01:05:00",
                 "2024-10-27T00:00:00",
                 {"02:00", "02:30", "02:00", "02:30", "03:00"}},
        AxisCase{"QuarterHourZone", "Asia/Kathmandu", "2024-06-01T06:40:00", "2024-06-01T05:15:00", {"11:00", "11:30"}},
        AxisCase{"Utc", "UTC", "2024-06-01T10:59:59", "2024-06-01T09:30:00", {"09:30", "10:00"}}),
    [](const testing::TestParamInfo<AxisCase>& info) { return info.param.Name; });

// A programme across the spring change is as long as it runs: 60 minutes, 240 pixels, although its
// local clock times are two hours apart.
TEST(GuideAxis, ProgrammeAcrossTheSummerTimeChangeKeepsItsLength) {
    const QTimeZone berlin("Europe/Berlin");
    const qint64 start = utc("2024-03-31T00:30:00").toSecsSinceEpoch(); // 01:30 CET
    auto ch = std::make_shared<TChannel>();
    ch->EPG = {programme(start, 3600), programme(start + 3600, 1800)};
    ch->EPGCount = 2;
    GuideModel model(berlin);
    model.setRows({{ch, {}, -1}}, start + 3600);
    const std::vector<Block> blocks = placed(model.axis(), model.blocks(0));
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].X1 - blocks[0].X0, 240);
    EXPECT_EQ(blocks[1].X0, blocks[0].X1);
    EXPECT_EQ(model.axis().clock(start).toStdString(), "01:30");
    EXPECT_EQ(model.axis().clock(start + 3600).toStdString(), "03:30");
}

// Folding: case, accents and umlauts (spelled out or not) and control characters.
struct FoldCase {
    QString Text;
    const char* Folded;
};

class GuideFoldTest : public testing::TestWithParam<FoldCase> {};

TEST_P(GuideFoldTest, Folds) {
    EXPECT_EQ(foldForSearch(GetParam().Text).toStdString(), GetParam().Folded);
}

INSTANTIATE_TEST_SUITE_P(
    Table, GuideFoldTest,
    testing::Values(FoldCase{QStringLiteral("Tatort"), "tatort"}, FoldCase{QStringLiteral("MUSIK"), "musik"},
                    FoldCase{QStringLiteral("König"), "konig"}, FoldCase{QStringLiteral("Koenig"), "konig"},
                    FoldCase{QStringLiteral("KÖNIG"), "konig"}, FoldCase{QStringLiteral("Grüße"), "grusse"},
                    FoldCase{QStringLiteral("Straße"), "strasse"}, FoldCase{QStringLiteral("Café Crème"), "cafe creme"},
                    FoldCase{QStringLiteral("Ærøskøbing"), "aroskobing"}, FoldCase{QStringLiteral("\uFB01lm"), "film"},
                    FoldCase{QStringLiteral("Fern\u00ADsehen"), "fernsehen"},
                    FoldCase{QStringLiteral("Ελληνικά"), "ελληνικα"},
                    FoldCase{QStringLiteral("  Tag\x01"
                                            "der\tOffenen\r\nTür  "),
                             "tag der offenen tur"},
                    FoldCase{QString::fromUtf8("Ab\xff\xfe"
                                               "cd"),
                             "ab cd"},
                    FoldCase{QString(QChar(0xD800)) + QStringLiteral("x"), "x"},
                    FoldCase{QString(QChar(0)) + QStringLiteral("nul"), "nul"}));

// The search over the guide: every word of the query in the title (or, asked for, the description).
struct SearchCase {
    const char* Query;
    QString Title;
    QString Info2;
    bool Descriptions;
    bool Found;
};

class GuideSearchTest : public testing::TestWithParam<SearchCase> {};

TEST_P(GuideSearchTest, Finds) {
    const SearchCase& c = GetParam();
    auto ch = std::make_shared<TChannel>();
    ch->EPG = {programme(kOrigin + 3600, 1800, QStringLiteral("Other")), programme(kOrigin + 5400, 1800, c.Title)};
    ch->EPG[1].Info2 = c.Info2;
    ch->EPGCount = 2;
    GuideModel model(QTimeZone::utc());
    model.setRows({{ch, {}, -1}}, kOrigin + 3600);
    int total = -1;
    const QList<GuideHit> hits = model.search(QString::fromUtf8(c.Query), c.Descriptions, 10, &total);
    ASSERT_EQ(total, c.Found ? 1 : 0);
    if (c.Found) {
        EXPECT_EQ(hits.value(0).Slot, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, GuideSearchTest,
    testing::Values(
        SearchCase{"tatort", QStringLiteral("Tatort: Der Fall Müller"), {}, false, true},
        SearchCase{"fall muller", QStringLiteral("Tatort: Der Fall Müller"), {}, false, true},
        SearchCase{"MUELLER tatort", QStringLiteral("Tatort: Der Fall Müller"), {}, false, true},
        SearchCase{"Konig", QStringLiteral("Der König der Löwen"), {}, false, true},
        SearchCase{"koenig loewen", QStringLiteral("Der König der Löwen"), {}, false, true},
        SearchCase{"musik", QStringLiteral("Musik für alle"), {}, false, true},
        SearchCase{"krimi", QStringLiteral("Tatort"), {}, false, false},
        SearchCase{"  ", QStringLiteral("Tatort"), {}, false, false},
        SearchCase{"ermittelt", QStringLiteral("Tatort"), QStringLiteral("Kommissar ermittelt"), false, false},
        SearchCase{"ermittelt", QStringLiteral("Tatort"), QStringLiteral("Kommissar ermittelt"), true, true}));

// A hostile list: 5,000 entries overlapping at random, of no length, out of order, with control
// characters and broken text in the titles. Laid out in time order without overlap inside the
// guide's time, and still searchable; the search stops listing at its limit.
TEST(GuideModel, HostileListLaidOutWithoutOverlap) {
    auto ch = std::make_shared<TChannel>();
    quint32 seed = 12345;
    const auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    for (int i = 0; i < 5000; ++i) {
        const qint64 start = kOrigin - 3600 + static_cast<qint64>(next() % (40 * 86400));
        const qint64 duration = static_cast<qint64>(next() % 4) == 0 ? 0 : static_cast<qint64>(next() % 20000);
        ch->EPG.append(programme(start, duration, QStringLiteral("T\x01\x7f%1").arg(i) + QChar(0xDC00)));
    }
    ch->EPG[4321].Title = QString::fromUtf8("Kr\xc3\xb6"
                                            "te \xff im Gl\xc3\xbc"
                                            "ck");
    ch->EPG[4321].StartSec = kOrigin + 7200;
    ch->EPG[4321].EndSec = kOrigin + 7300;
    ch->EPGCount = static_cast<int32_t>(ch->EPG.size());
    // Enough rows of it for the layout to run on two threads.
    QList<GuideChannel> rows;
    for (int r = 0; r < 80; ++r)
        rows.append({ch, {}, -1});
    GuideModel model(QTimeZone::utc());
    model.setRows(rows, kOrigin);
    const auto& blocks = model.blocks(0);
    ASSERT_EQ(model.blocks(79).size(), blocks.size());
    ASSERT_FALSE(blocks.empty());
    ASSERT_LE(blocks.size(), 5000u);
    for (size_t i = 0; i < blocks.size(); ++i) {
        EXPECT_LT(blocks[i].Start, blocks[i].End);
        EXPECT_GE(blocks[i].Start, 0);
        EXPECT_LE(blocks[i].End, GuideModel::kMaxSpanSec);
        if (i > 0) {
            EXPECT_LE(blocks[i - 1].End, blocks[i].Start) << "block " << i;
        }
    }
    EXPECT_LE(model.axis().endSec(), model.axis().originSec() + GuideModel::kMaxSpanSec);
    int total = 0;
    const QList<GuideHit> hits = model.search(QStringLiteral("kroete glueck"), false, 10, &total);
    EXPECT_EQ(total, 80);
    ASSERT_EQ(hits.size(), 10);
    EXPECT_EQ(hits[0].Slot, 4321);
}

} // namespace
