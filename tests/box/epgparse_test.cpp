#include "box/epgparse.h"

#include "core/clock.h"
#include "core/options.h"
#include "support/appstate.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>

#include <cmath>
#include <ctime>

namespace {

constexpr qint64 kSummerNoonUtc = 1719835200;  // 2024-07-01 12:00 UTC, 14:00 in Berlin (CEST)
constexpr qint64 kWinterNoonUtc = 1705320000;  // 2024-01-15 12:00 UTC, 13:00 in Berlin (CET)
constexpr qint64 kSpringShiftUtc = 1711845000; // 2024-03-31 00:30 UTC, half an hour before summer time
constexpr qint64 kAutumnShiftUtc = 1729989000; // 2024-10-27 00:30 UTC, half an hour before winter time
constexpr double kDayMinute = 1.0 / 1440;

// Runs each test in a zone with daylight saving, at a clock the test sets, with no receiver offset.
class EpgTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_savedTz = qgetenv("TZ");
        m_hadTz = qEnvironmentVariableIsSet("TZ");
        qputenv("TZ", "Europe/Berlin");
        tzset();
        Options.BoxAddress = QStringLiteral("box.test:80");
        Options.BoxTimeOffset = 0;
        setNow(kSummerNoonUtc);
        Clock::setCurrent(&m_clock);
    }
    void TearDown() override {
        Clock::setCurrent(nullptr);
        if (m_hadTz)
            qputenv("TZ", m_savedTz);
        else
            qunsetenv("TZ");
        tzset();
    }
    void setNow(qint64 utcSec) { m_clock.set(QDateTime::fromSecsSinceEpoch(utcSec, Qt::UTC)); }

    static TChannelRef channel(const QString& id, TChannelMode mode = mTV) {
        auto ch = std::make_shared<TChannel>();
        ch->Id = id;
        ch->Mode = mode;
        ch->Caption = QStringLiteral("1. ") + id;
        return ch;
    }

    ManualClock m_clock{QDateTime::fromSecsSinceEpoch(0, Qt::UTC)};
    ScopedAppState m_state;
    QByteArray m_savedTz;
    bool m_hadTz = false;
};

// One programme block as the receiver writes it.
QString prog(const QString& eventId, qint64 startSec, const QString& durationMin, const QString& title,
             const QString& startT = QStringLiteral("20:15")) {
    return QStringLiteral("<prog>\n<eventid>%1</eventid>\n<start_sec>%2</start_sec>\n<start_t>%3</start_t>\n"
                          "<duration_min>%4</duration_min>\n<description><![CDATA[%5]]></description>\n"
                          "<info1><![CDATA[info one]]></info1>\n<info2><![CDATA[line a\nline b]]></info2>\n</prog>\n")
        .arg(eventId)
        .arg(startSec)
        .arg(startT, durationMin, title);
}

QString xml(const QString& body) {
    return QStringLiteral(
               "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n<epglist>\n<channel_id>43b0044d</channel_id>\n"
               "<channel_name><![CDATA[Das Erste]]></channel_name>\n") +
           body + QStringLiteral("</epglist>\n");
}

// Hourly programmes from first, each 60 minutes.
QString hourly(int count, qint64 first) {
    QString body;
    for (int k = 0; k < count; ++k)
        body += prog(QString::number(1000 + k), first + k * 3600, QStringLiteral("60"),
                     QStringLiteral("Show ") + QString::number(k));
    return xml(body);
}

struct NumberCase {
    const char* text;
    bool ok;
    qint64 value;
};
class BoxNumberTest : public ::testing::TestWithParam<NumberCase> {};

struct TagCase {
    const char* text;
    const char* open;
    const char* close;
    const char* expected;
};
class TagValueTest : public ::testing::TestWithParam<TagCase> {};

struct AllLineCase {
    const char* line;
    const char* id;
    const char* start;
    const char* duration;
    const char* eventId;
    const char* title;
};
class AllLineTest : public ::testing::TestWithParam<AllLineCase> {};

struct BadTimeCase {
    const char* start;
    const char* duration;
};
class BadTimeTest : public EpgTest, public ::testing::WithParamInterface<BadTimeCase> {};

} // namespace

// Receiver numbers: decimal digits with blanks around; everything else is not a number.
TEST_P(BoxNumberTest, Parses) {
    qint64 v = -12345;
    EXPECT_EQ(parseBoxNumber(QString::fromUtf8(GetParam().text), &v), GetParam().ok) << GetParam().text;
    if (GetParam().ok)
        EXPECT_EQ(v, GetParam().value);
    else
        EXPECT_EQ(v, -12345);
}
INSTANTIATE_TEST_SUITE_P(
    Texts, BoxNumberTest,
    ::testing::Values(NumberCase{"0", true, 0}, NumberCase{"5400", true, 5400}, NumberCase{" 42 ", true, 42},
                      NumberCase{"-7", true, -7}, NumberCase{"+7", true, 7}, NumberCase{"", false, 0},
                      NumberCase{" ", false, 0}, NumberCase{"-", false, 0}, NumberCase{"12a", false, 0},
                      NumberCase{"1e3", false, 0}, NumberCase{"0x10", false, 0}, NumberCase{"1 2", false, 0},
                      NumberCase{"3.5", false, 0}, NumberCase{"999999999999999", true, 999999999999999},
                      NumberCase{"9999999999999999999999", false, 0}, NumberCase{"\xd9\xa3", false, 0}));

// TagValue: first open to the next close, to the end without close; CDATA taken off; no open: empty.
TEST_P(TagValueTest, Extracts) {
    const TagCase& c = GetParam();
    EXPECT_EQ(TagValue(QString::fromUtf8(c.text), QString::fromUtf8(c.open), QString::fromUtf8(c.close)),
              QString::fromUtf8(c.expected));
}
INSTANTIATE_TEST_SUITE_P(Blocks, TagValueTest,
                         ::testing::Values(TagCase{"<a>x</a>", "<a>", "</a>", "x"},
                                           TagCase{"<a>x</a><a>y</a>", "<a>", "</a>", "x"},
                                           TagCase{"<a>open to the end", "<a>", "</a>", "open to the end"},
                                           TagCase{"<a><![CDATA[]]></a>", "<a>", "</a>", ""},
                                           TagCase{"<a><![CDATA[Tagesschau]]></a>", "<a>", "</a>", "Tagesschau"},
                                           TagCase{"<a><![CDATA[cut off", "<a>", "</a>", "cut off"},
                                           TagCase{"<a><![CDATA[x]]>", "<a>", "</a>", "x"},
                                           TagCase{"<b>x</b>", "<a>", "</a>", ""}, TagCase{"", "<a>", "</a>", ""},
                                           TagCase{"</a><a>late</a>", "<a>", "</a>", "late"},
                                           TagCase{"<a></a>", "<a>", "</a>", ""},
                                           TagCase{"<a><![CDATA[a]]>b]]></a>", "<a>", "</a>", "a]]>b"},
                                           TagCase{"<a>\n<![CDATA[inner]]></a>", "<a>", "</a>", "inner"}));

// All-channel lines: four splits at the first blank, parts trimmed; the rest is the title.
TEST_P(AllLineTest, Splits) {
    const AllLineCase& c = GetParam();
    const TAllChannelLine f = splitAllChannelLine(QString::fromUtf8(c.line));
    EXPECT_EQ(f.Id, QString::fromUtf8(c.id));
    EXPECT_EQ(f.Start, QString::fromUtf8(c.start));
    EXPECT_EQ(f.Duration, QString::fromUtf8(c.duration));
    EXPECT_EQ(f.EventId, QString::fromUtf8(c.eventId));
    EXPECT_EQ(f.Title, QString::fromUtf8(c.title));
}
INSTANTIATE_TEST_SUITE_P(
    Lines, AllLineTest,
    ::testing::Values(AllLineCase{"43b0044d 1719835200 5400 99 Tagesschau", "43b0044d", "1719835200", "5400", "99",
                                  "Tagesschau"},
                      AllLineCase{"id 1 2 3   Der   lange Titel  ", "id", "1", "2", "3", "Der   lange Titel"},
                      AllLineCase{"id 1 2", "id", "1", "2", "", ""}, AllLineCase{"id", "id", "", "", "", ""},
                      AllLineCase{"", "", "", "", "", ""}, AllLineCase{"id  1  2  3  t", "id", "1", "2", "3", "t"}));

// Summer and winter times come out with the zone's offset of that day (CEST +2, CET +1).
TEST_F(EpgTest, BoxTimeSummerAndWinter) {
    TChannelProgram p;
    EXPECT_EQ(BoxTimeToLocal(QString::number(kSummerNoonUtc), QStringLiteral("5400"), true, p),
              QStringLiteral("14:00"));
    EXPECT_EQ(p.StartSec, kSummerNoonUtc);
    EXPECT_EQ(p.EndSec, kSummerNoonUtc + 5400);
    EXPECT_NEAR(p.StartTime, 45474 + 14.0 / 24, 1e-9);
    EXPECT_NEAR(p.EndTime, 45474 + 15.5 / 24, 1e-9);
    EXPECT_EQ(BoxTimeToLocal(QString::number(kSummerNoonUtc), QStringLiteral("0"), false, p),
              QStringLiteral("01.07.2024"));
    EXPECT_EQ(BoxTimeToLocal(QString::number(kWinterNoonUtc), QStringLiteral("60"), true, p), QStringLiteral("13:00"));
    EXPECT_NEAR(p.StartTime, 45306 + 13.0 / 24, 1e-9);
    EXPECT_EQ(BoxTimeToLocal(QString::number(kWinterNoonUtc), QStringLiteral("60"), false, p),
              QStringLiteral("15.01.2024"));
    EXPECT_EQ(fromDays(p.StartTime), QDateTime::fromSecsSinceEpoch(kWinterNoonUtc, Qt::LocalTime));
}

// Receiver clock 2 minutes ahead, one hour east of UTC: start 0 gives 25569 + 58/1440.
TEST_F(EpgTest, BoxTimeWithReceiverOffset) {
    Options.BoxTimeOffset = 2;
    TChannelProgram p;
    EXPECT_EQ(BoxTimeToLocal(QStringLiteral("0"), QStringLiteral("0"), true, p), QStringLiteral("00:58"));
    EXPECT_NEAR(p.StartTime, 25569 + 58 * kDayMinute, 1e-9);
    EXPECT_EQ(p.StartSec, -120);
    Options.BoxTimeOffset = -30;
    EXPECT_EQ(BoxTimeToLocal(QString::number(kSummerNoonUtc), QStringLiteral("0"), true, p), QStringLiteral("14:30"));
}

// A programme across the change to summer time ends at the wall time of its end: 2 h of running
// time are 3 h on the clock in spring and 1 h in autumn.
TEST_F(EpgTest, BoxTimeAcrossDaylightSavingChange) {
    TChannelProgram p;
    EXPECT_EQ(BoxTimeToLocal(QString::number(kSpringShiftUtc), QStringLiteral("7200"), true, p),
              QStringLiteral("01:30"));
    EXPECT_NEAR(p.EndTime - p.StartTime, 3.0 / 24, 1e-9);
    EXPECT_EQ(p.EndSec - p.StartSec, 7200);
    EXPECT_EQ(BoxTimeToLocal(QString::number(kAutumnShiftUtc), QStringLiteral("7200"), true, p),
              QStringLiteral("02:30"));
    EXPECT_NEAR(p.EndTime - p.StartTime, 1.0 / 24, 1e-9);
    EXPECT_EQ(fromDays(p.EndTime).toString(QStringLiteral("hh:mm")), QStringLiteral("03:30"));
}

// Non-numbers and absurd values give no text and leave the programme's times untouched.
TEST_P(BadTimeTest, LeavesTimes) {
    TChannelProgram p;
    p.StartTime = 7;
    p.EndTime = 8;
    p.StartSec = 9;
    p.EndSec = 10;
    EXPECT_TRUE(
        BoxTimeToLocal(QString::fromUtf8(GetParam().start), QString::fromUtf8(GetParam().duration), true, p).isEmpty());
    EXPECT_EQ(p.StartTime, 7);
    EXPECT_EQ(p.EndTime, 8);
    EXPECT_EQ(p.StartSec, 9);
    EXPECT_EQ(p.EndSec, 10);
}
INSTANTIATE_TEST_SUITE_P(Inputs, BadTimeTest,
                         ::testing::Values(BadTimeCase{"abc", "60"}, BadTimeCase{"", "60"},
                                           BadTimeCase{"1719835200", "x"}, BadTimeCase{"1719835200", ""},
                                           BadTimeCase{"-1", "60"}, BadTimeCase{"1719835200", "-60"},
                                           BadTimeCase{"4102444801", "0"}, BadTimeCase{"4102444000", "1000"},
                                           BadTimeCase{"99999999999999", "0"}, BadTimeCase{"1719835200", "1e9"},
                                           BadTimeCase{"9223372036854775807", "1"}));

// The last instant taken: a start at the limit, and a programme that ends there.
TEST_F(EpgTest, BoxTimeUpToTheLimit) {
    TChannelProgram p;
    EXPECT_EQ(BoxTimeToLocal(QString::number(kMaxBoxTimeSec), QStringLiteral("0"), false, p),
              QStringLiteral("01.01.2100"));
    EXPECT_EQ(p.StartSec, kMaxBoxTimeSec);
    EXPECT_EQ(BoxTimeToLocal(QString::number(kMaxBoxTimeSec - 1000), QStringLiteral("1000"), true, p),
              QStringLiteral("00:43"));
    EXPECT_EQ(p.EndSec, kMaxBoxTimeSec);
}

// Elapsed: 1 h 2 min 3 s after the start gives 62 and 3723; before the start 0; no wrap at a day.
TEST_F(EpgTest, ElapsedValues) {
    TChannelProgram p;
    BoxTimeToLocal(QString::number(kSummerNoonUtc), QStringLiteral("7200"), true, p);
    computeElapsed(p, kSummerNoonUtc + 3723);
    EXPECT_EQ(p.ElapsedMin, QStringLiteral("62"));
    EXPECT_EQ(p.ElapsedSec, QStringLiteral("3723"));
    computeElapsed(p, kSummerNoonUtc - 100);
    EXPECT_EQ(p.ElapsedMin, QStringLiteral("0"));
    EXPECT_EQ(p.ElapsedSec, QStringLiteral("0"));
    computeElapsed(p, kSummerNoonUtc + 25 * 3600);
    EXPECT_EQ(p.ElapsedSec, QStringLiteral("90000"));
    TChannelProgram none;
    computeElapsed(none, kSummerNoonUtc);
    EXPECT_EQ(none.ElapsedMin, QStringLiteral("0"));
    EXPECT_TRUE(none.ElapsedSec.isEmpty());
    EXPECT_EQ(elapsedSeconds(none, kSummerNoonUtc), 0);
}

// The all-channel load: one request, NowEPG of every matching channel, first line wins, title with
// its inner blanks; NextEPG untouched.
TEST_F(EpgTest, AllChannelLoad) {
    const TChannelRef a = channel(QStringLiteral("43b0044d"));
    const TChannelRef b = channel(QStringLiteral("43b00011"));
    const TChannelRef missing = channel(QStringLiteral("feed"));
    QStringList asked;
    const QString answer = QStringLiteral("43b00011 %1 5400 77   Das   Quiz  \r\n"
                                          "unknown 1 2 3 x\r\n"
                                          "43b0044d %2 1800 78 Tagesschau\r\n"
                                          "43b0044d %2 1800 79 Second line\r\n")
                               .arg(kSummerNoonUtc - 3723)
                               .arg(kSummerNoonUtc);
    const int filled = ParseEPG(
        [&](const QString& url) {
            asked.append(url);
            return answer;
        },
        {a, b, missing});
    EXPECT_EQ(asked, QStringList{"http://box.test:80/control/epg?ext"});
    EXPECT_EQ(filled, 2);
    EXPECT_EQ(b->NowEPG.Title, QStringLiteral("Das   Quiz"));
    EXPECT_EQ(b->NowEPG.EventId, QStringLiteral("77"));
    EXPECT_EQ(b->NowEPG.DurationSec, QStringLiteral("5400"));
    EXPECT_EQ(b->NowEPG.DurationMin, QStringLiteral("90"));
    EXPECT_EQ(b->NowEPG.StartClock, QStringLiteral("12:57"));
    EXPECT_EQ(b->NowEPG.StartDate, QStringLiteral("01.07.2024"));
    EXPECT_EQ(b->NowEPG.ElapsedMin, QStringLiteral("62"));
    EXPECT_EQ(b->NowEPG.ElapsedSec, QStringLiteral("3723"));
    EXPECT_EQ(a->NowEPG.Title, QStringLiteral("Tagesschau"));
    EXPECT_EQ(a->NowEPG.EventId, QStringLiteral("78"));
    EXPECT_EQ(a->NowEPG.StartClock, QStringLiteral("14:00"));
    EXPECT_EQ(a->NextEPG.Title, QStringLiteral("..."));
    EXPECT_EQ(missing->NowEPG.Title, QStringLiteral("..."));
}

// "Interpret: " goes from radio titles only; a TV title keeps it here.
TEST_F(EpgTest, AllChannelInterpret) {
    const TChannelRef radio = channel(QStringLiteral("r"), mRadio);
    const TChannelRef tv = channel(QStringLiteral("t"));
    ParseAllChannelEPG(QStringLiteral("r 1719835200 60 1 Interpret: Queen\r\nt 1719835200 60 2 Interpret: Queen"),
                       {radio, tv});
    EXPECT_EQ(radio->NowEPG.Title, QStringLiteral("Queen"));
    EXPECT_EQ(tv->NowEPG.Title, QStringLiteral("Interpret: Queen"));
}

// A channel that already has an event id is not touched; two records with one id both fill.
TEST_F(EpgTest, AllChannelSkipsFilledAndFillsDuplicates) {
    const TChannelRef done = channel(QStringLiteral("x"));
    done->NowEPG.EventId = QStringLiteral("5");
    done->NowEPG.Title = QStringLiteral("Kept");
    const TChannelRef d1 = channel(QStringLiteral("y"));
    const TChannelRef d2 = channel(QStringLiteral("y"));
    EXPECT_EQ(ParseAllChannelEPG(QStringLiteral("x 1719835200 60 1 New\r\ny 1719835200 60 2 Both"), {done, d1, d2}), 2);
    EXPECT_EQ(done->NowEPG.Title, QStringLiteral("Kept"));
    EXPECT_EQ(d1->NowEPG.Title, QStringLiteral("Both"));
    EXPECT_EQ(d2->NowEPG.Title, QStringLiteral("Both"));
}

// A first line with no event id still wins over a later line for the same channel.
TEST_F(EpgTest, AllChannelFirstLineWinsWithoutEventId) {
    const TChannelRef a = channel(QStringLiteral("a"));
    EXPECT_EQ(ParseAllChannelEPG(QStringLiteral("a 1719835200 60\r\na 1719835260 60 7 Later"), {a}), 1);
    EXPECT_TRUE(a->NowEPG.EventId.isEmpty());
    EXPECT_EQ(a->NowEPG.DurationSec, QStringLiteral("60"));
    EXPECT_NE(a->NowEPG.Title, QStringLiteral("Later"));
}

// A bad duration spoils only its own line: other channels and a later good line still fill.
TEST_F(EpgTest, AllChannelBadDurationSkipsLine) {
    const TChannelRef a = channel(QStringLiteral("a"));
    const TChannelRef b = channel(QStringLiteral("b"));
    const TChannelRef c = channel(QStringLiteral("c"));
    EXPECT_EQ(ParseAllChannelEPG(QStringLiteral("a 1719835200 oops 1 Bad\r\n"
                                                "b 1719835200 -5 2 Negative\r\n"
                                                "c 1719835200 60 3 Good\r\n"
                                                "a 1719835200 120 4 Later\r\n"
                                                "b notatime 60 5 No start"),
                                 {a, b, c}),
              3);
    EXPECT_EQ(a->NowEPG.Title, QStringLiteral("Later"));
    EXPECT_EQ(a->NowEPG.DurationMin, QStringLiteral("2"));
    EXPECT_EQ(c->NowEPG.Title, QStringLiteral("Good"));
    // A bad start keeps the rest of the line but no times.
    EXPECT_EQ(b->NowEPG.Title, QStringLiteral("No start"));
    EXPECT_EQ(b->NowEPG.StartTime, 0);
    EXPECT_TRUE(b->NowEPG.StartClock.isEmpty());
    EXPECT_EQ(b->NowEPG.ElapsedMin, QStringLiteral("0"));
}

// CR, LF and CRLF each end a line.
TEST_F(EpgTest, AllChannelLineEnds) {
    for (const QString& end : {QStringLiteral("\r"), QStringLiteral("\n"), QStringLiteral("\r\n")}) {
        const TChannelRef a = channel(QStringLiteral("a"));
        const TChannelRef b = channel(QStringLiteral("b"));
        EXPECT_EQ(ParseAllChannelEPG(
                      QStringLiteral("a 1719835200 60 1 A") + end + QStringLiteral("b 1719835200 60 2 B"), {a, b}),
                  2);
        EXPECT_EQ(b->NowEPG.Title, QStringLiteral("B"));
    }
}

// The stop function ends the load between lines.
TEST_F(EpgTest, AllChannelStops) {
    const TChannelRef a = channel(QStringLiteral("a"));
    const TChannelRef b = channel(QStringLiteral("b"));
    int calls = 0;
    ParseAllChannelEPG(QStringLiteral("a 1 60 1 A\r\nb 1 60 2 B"), {a, b}, [&] { return ++calls > 1; });
    EXPECT_EQ(a->NowEPG.Title, QStringLiteral("A"));
    EXPECT_EQ(b->NowEPG.Title, QStringLiteral("..."));
    EXPECT_EQ(calls, 2);
}

// The XML answer: every field of a block, slot indexes, NowEPG from slot 0 without all-channel data.
TEST_F(EpgTest, XmlProgrammeList) {
    TChannel ch;
    ch.Caption = QStringLiteral("1. Das Erste");
    const QString answer = xml(prog(QStringLiteral("501"), kSummerNoonUtc - 3723, QStringLiteral("90"),
                                    QStringLiteral("Interpret: Tatort"), QStringLiteral("12:57")) +
                               prog(QStringLiteral("502"), kSummerNoonUtc + 1677, QStringLiteral("30"),
                                    QStringLiteral("Tagesthemen"), QStringLiteral("14:27")));
    EXPECT_EQ(ParseEPG(ch, answer), 2);
    ASSERT_EQ(ch.EPGCount, 2);
    const TChannelProgram& p = ch.EPG[0];
    EXPECT_EQ(p.Index, 0);
    EXPECT_EQ(p.EventId, QStringLiteral("501"));
    EXPECT_EQ(p.DurationMin, QStringLiteral("90"));
    EXPECT_EQ(p.DurationSec, QStringLiteral("5400"));
    EXPECT_EQ(p.StartDate, QStringLiteral("01.07.2024"));
    EXPECT_EQ(p.StartClock, QStringLiteral("12:57"));
    EXPECT_EQ(p.ElapsedMin, QStringLiteral("62"));
    EXPECT_EQ(p.ElapsedSec, QStringLiteral("3723"));
    EXPECT_EQ(p.Title, QStringLiteral("Tatort")); // TV loses "Interpret: " in the XML answer
    EXPECT_EQ(p.Info1, QStringLiteral("info one"));
    EXPECT_EQ(p.Info2, QStringLiteral("line a\nline b"));
    EXPECT_EQ(p.StartSec, kSummerNoonUtc - 3723);
    EXPECT_EQ(p.EndSec, kSummerNoonUtc - 3723 + 5400);
    EXPECT_EQ(ch.EPG[1].Index, 1);
    EXPECT_EQ(ch.NowEPG.EventId, QStringLiteral("501"));
    EXPECT_EQ(ch.NextEPG.EventId, QStringLiteral("502"));
}

// All-channel data in NowEPG stays; an empty or timed-out answer changes nothing.
TEST_F(EpgTest, XmlKeepsAllChannelNowAndIgnoresFailures) {
    TChannel ch;
    ch.NowEPG.EventId = QStringLiteral("77");
    ch.NowEPG.Title = QStringLiteral("From epg?ext");
    ch.EPG.append(TChannelProgram{});
    ch.EPGCount = 1;
    EXPECT_EQ(ParseEPG(ch, QString()), -1);
    EXPECT_EQ(ParseEPG(ch, QStringLiteral("[error 100: tiehttp timeout expired]")), -1);
    EXPECT_EQ(ch.EPGCount, 1);
    EXPECT_EQ(ParseEPG(ch, hourly(1, kSummerNoonUtc - 60)), 1);
    EXPECT_EQ(ch.NowEPG.Title, QStringLiteral("From epg?ext"));
    // An answer without programmes empties the list.
    EXPECT_EQ(ParseEPG(ch, QStringLiteral("<epglist></epglist>")), 0);
    EXPECT_EQ(ch.EPGCount, 0);
}

// CDATA: an empty wrapper gives an empty title.
TEST_F(EpgTest, XmlEmptyCdataTitle) {
    TChannel ch;
    ParseEPG(ch, xml(QStringLiteral("<prog><eventid>1</eventid><duration_min>5</duration_min>"
                                    "<description><![CDATA[]]></description></prog>")));
    ASSERT_EQ(ch.EPGCount, 1);
    EXPECT_TRUE(ch.EPG[0].Title.isEmpty());
}

// A bad duration ends the reading of its own block only: the block keeps its event id, the
// others are whole.
TEST_F(EpgTest, XmlBadBlockKeepsOthers) {
    for (const QString& bad : {QStringLiteral("ninety"), QStringLiteral("-5"), QStringLiteral("99999999999999")}) {
        TChannel ch;
        ParseEPG(ch, xml(prog(QStringLiteral("1"), kSummerNoonUtc, QStringLiteral("60"), QStringLiteral("A")) +
                         prog(QStringLiteral("2"), kSummerNoonUtc + 3600, bad, QStringLiteral("B")) +
                         prog(QStringLiteral("3"), kSummerNoonUtc + 7200, QStringLiteral("60"), QStringLiteral("C"))));
        ASSERT_EQ(ch.EPGCount, 3) << bad.toStdString();
        EXPECT_EQ(ch.EPG[1].EventId, QStringLiteral("2"));
        EXPECT_TRUE(ch.EPG[1].Title.isEmpty());
        EXPECT_EQ(ch.EPG[1].DurationSec, QStringLiteral("0"));
        EXPECT_EQ(ch.EPG[1].StartTime, 0);
        EXPECT_EQ(ch.EPG[2].Title, QStringLiteral("C"));
        EXPECT_EQ(ch.EPG[2].StartSec, kSummerNoonUtc + 7200);
        EXPECT_EQ(ch.EPG[0].Title, QStringLiteral("A"));
    }
    // A bad start keeps every other field but no times.
    TChannel ch;
    ParseEPG(ch, xml(QStringLiteral("<prog><eventid>9</eventid><start_sec>later</start_sec><duration_min>5"
                                    "</duration_min><description>T</description></prog>")));
    ASSERT_EQ(ch.EPGCount, 1);
    EXPECT_EQ(ch.EPG[0].Title, QStringLiteral("T"));
    EXPECT_EQ(ch.EPG[0].DurationSec, QStringLiteral("300"));
    EXPECT_EQ(ch.EPG[0].StartTime, 0);
    EXPECT_TRUE(ch.EPG[0].StartDate.isEmpty());
}

// More programmes than slots: the first 501 are kept.
TEST_F(EpgTest, XmlBeyondSlots) {
    TChannel ch;
    EXPECT_EQ(ParseEPG(ch, hourly(600, kSummerNoonUtc)), TChannel::kEPGSlots);
    EXPECT_EQ(ch.EPG.last().Index, 500);
    EXPECT_EQ(ch.EPG.last().Title, QStringLiteral("Show 500"));
}

// Blocks written back to back lose nothing; a block cut off at the end is dropped.
TEST_F(EpgTest, XmlCompactAndTruncated) {
    TChannel ch;
    ParseEPG(ch, QStringLiteral("<prog><eventid>1</eventid></prog><prog><eventid>2</eventid></prog>"
                                "<prog><eventid>3</eventid><description>cut"));
    ASSERT_EQ(ch.EPGCount, 2);
    EXPECT_EQ(ch.EPG[1].EventId, QStringLiteral("2"));
    // Unterminated tags inside a closed block run to the block's end only.
    TChannel ch2;
    ParseEPG(ch2, QStringLiteral("<prog><eventid>1<description>never closed</prog><prog><eventid>2</eventid></prog>"));
    ASSERT_EQ(ch2.EPGCount, 2);
    EXPECT_EQ(ch2.EPG[0].EventId, QStringLiteral("1<description>never closed"));
    EXPECT_EQ(ch2.EPG[1].EventId, QStringLiteral("2"));
}

// Pay-per-view channels get the list but their now/next is not moved.
TEST_F(EpgTest, XmlPayPerViewNotMoved) {
    TChannel ch;
    ch.Caption = QStringLiteral("7. PREMIERE DIREKT 3");
    ch.NowEPG.EventId = QStringLiteral("x");
    ch.NowEPG.Title = QStringLiteral("Kept");
    EXPECT_EQ(ParseEPG(ch, hourly(3, kSummerNoonUtc - 7200 - 60)), 3);
    EXPECT_EQ(ch.NowEPG.Title, QStringLiteral("Kept"));
    EXPECT_EQ(ch.NextEPG.Title, QStringLiteral("..."));
    TChannel free;
    free.Caption = QStringLiteral("8. Das Erste");
    free.NowEPG.EventId = QStringLiteral("x");
    ParseEPG(free, hourly(3, kSummerNoonUtc - 7200 - 60));
    EXPECT_EQ(free.NowEPG.Title, QStringLiteral("Show 2"));
}

// Hostile answers: NUL bytes, binary noise, 10 MB without a block, 10 MB of noise around blocks.
TEST_F(EpgTest, XmlHostileAnswers) {
    TChannel ch;
    static const char raw[] =
        "<prog><eventid>1\0x</eventid><duration_min>5</duration_min><description>a\0b</description></prog>";
    const QByteArray nul(raw, sizeof(raw) - 1);
    EXPECT_EQ(ParseEPG(ch, nul), 1);
    EXPECT_EQ(ch.EPG[0].EventId.size(), 3);
    EXPECT_EQ(ch.EPG[0].Title, QStringLiteral("a") + QChar(0) + QStringLiteral("b"));

    QByteArray noise(10 * 1024 * 1024, '\0');
    QRandomGenerator rng(1234);
    for (char& c : noise)
        c = static_cast<char>(rng.bounded(256));
    TChannel ch2;
    const int n = ParseEPG(ch2, noise);
    EXPECT_GE(n, 0);
    EXPECT_LE(n, TChannel::kEPGSlots);

    TChannel ch3;
    QString big = QString(5 * 1024 * 1024, QLatin1Char('<')) + hourly(3, kSummerNoonUtc) +
                  QString(5 * 1024 * 1024, QLatin1Char('x')) + QStringLiteral("<prog><eventid>");
    EXPECT_EQ(ParseEPG(ch3, big), 3);
    EXPECT_EQ(ch3.EPG[2].Title, QStringLiteral("Show 2"));
}

// Random cuts and bytes of a real answer: never more than the slots, indexes always in order.
TEST_F(EpgTest, XmlRandomDamage) {
    const QByteArray base = hourly(20, kSummerNoonUtc - 3600).toLatin1();
    QRandomGenerator rng(99);
    for (int round = 0; round < 300; ++round) {
        QByteArray bytes = base.left(rng.bounded(base.size() + 1));
        for (int k = rng.bounded(10); k > 0 && !bytes.isEmpty(); --k)
            bytes[rng.bounded(bytes.size())] = static_cast<char>(rng.bounded(256));
        TChannel ch;
        const int n = ParseEPG(ch, bytes);
        ASSERT_LE(n, 20);
        for (int k = 0; k < ch.EPGCount; ++k)
            ASSERT_EQ(ch.EPG[k].Index, k);
        ASSERT_GE(ch.NowEPG.Index, 0);
        ASSERT_LT(ch.NowEPG.Index, std::max(1, ch.EPGCount));
    }
}

// A programme's fields read in one walk equal what a search per tag finds, however the tags are
// mixed up: repeated, closed before they open, unclosed, inside CDATA text.
TEST_F(EpgTest, XmlFieldsMatchTagSearch) {
    static const char* const kPieces[] = {
        "<eventid>", "</eventid>", "<start_t>", "</start_t>", "<description>", "</description>", "<info1>",
        "</info1>",  "<info2>",    "</info2>",  "<![CDATA[",  "]]>",           "Interpret: ",    "Text",
        " ",         "<",          "</",        "<x>",        "<info",         "</info2",        "12:30",
        "\n"};
    QRandomGenerator rng(7);
    for (int round = 0; round < 3000; ++round) {
        QString body;
        for (int k = rng.bounded(14); k > 0; --k)
            body += QLatin1String(kPieces[rng.bounded(int(std::size(kPieces)))]);
        const QString block =
            QStringLiteral("<duration_min>45</duration_min><start_sec>%1</start_sec>").arg(kSummerNoonUtc) + body;
        const std::optional<QList<TChannelProgram>> programs =
            ParseEPGXml(QStringLiteral("<prog>") + block + QStringLiteral("</prog>"));
        ASSERT_TRUE(programs.has_value());
        if (block.contains(QStringLiteral("</prog>")) || programs->size() != 1)
            continue;
        const TChannelProgram& p = programs->first();
        SCOPED_TRACE(block.toStdString());
        EXPECT_EQ(p.EventId, TagValue(block, u"<eventid>", u"</eventid>"));
        EXPECT_EQ(p.StartClock, TagValue(block, u"<start_t>", u"</start_t>"));
        EXPECT_EQ(p.Title, TagValue(block, u"<description>", u"</description>").remove(QStringLiteral("Interpret: ")));
        EXPECT_EQ(p.Info1, TagValue(block, u"<info1>", u"</info1>"));
        EXPECT_EQ(p.Info2, TagValue(block, u"<info2>", u"</info2>"));
    }
}

// The per-channel request: its exact URL; TV counts as loaded, radio not, a failure too.
TEST_F(EpgTest, LoadChannelEPG) {
    TChannel tv;
    tv.Id = QStringLiteral("43b0044d");
    QStringList asked;
    LoadChannelEPG(tv, [&](const QString& url) {
        asked.append(url);
        return hourly(2, kSummerNoonUtc - 60);
    });
    EXPECT_EQ(asked, QStringList{"http://box.test:80/control/epg?xml=true&channelid=43b0044d&details=true&max=500"});
    EXPECT_TRUE(tv.EPGLoaded);
    EXPECT_EQ(tv.EPGCount, 2);
    TChannel radio;
    radio.Mode = mRadio;
    radio.EPGLoaded = true;
    LoadChannelEPG(radio, [](const QString&) { return QString(); });
    EXPECT_FALSE(radio.EPGLoaded);
    TChannel failing;
    LoadChannelEPG(failing, [](const QString&) -> QString { throw std::runtime_error("gone"); });
    EXPECT_TRUE(failing.EPGLoaded);
    EXPECT_EQ(failing.EPGCount, 0);
}

struct NowNextCase {
    const char* name;
    const char* caption; // the pay-per-view kind, which the parse leaves where it is
    TChannelMode mode;
    int count; // hourly programmes "Show 0".. from noon + startSec
    qint64 startSec;
    int nowBefore;   // NowEPG set to this slot (an index past the list: only the index) or -1
    qint64 clockSec; // after noon
    bool moved;
    int now;                // NowEPG's index afterwards
    int next;               // NextEPG's index afterwards, -1 for none ("...")
    const char* elapsedSec; // or nullptr
};
class NowNextTest : public EpgTest, public ::testing::WithParamInterface<NowNextCase> {};

// The programme in NowEPG is over: NowEPG moves to the one covering now and (TV only) NextEPG to the
// one after; a programme of yesterday is over (no wrap at a day); past the list the last one stays.
// Asked again at once, nothing moves on a TV channel.
TEST_P(NowNextTest, MovesAlongTheClock) {
    const NowNextCase& c = GetParam();
    TChannel ch;
    ch.Caption = QString::fromLatin1(c.caption);
    ch.Mode = c.mode;
    ParseEPG(ch, hourly(c.count, kSummerNoonUtc + c.startSec));
    if (c.nowBefore >= c.count)
        ch.NowEPG.Index = c.nowBefore;
    else if (c.nowBefore >= 0)
        ch.NowEPG = ch.EPG[c.nowBefore];
    EXPECT_EQ(UpdateNowNext(&ch, kSummerNoonUtc + c.clockSec), c.moved);
    EXPECT_EQ(ch.NowEPG.Index, c.now);
    if (c.now < c.count) {
        EXPECT_EQ(ch.NowEPG.Title, QStringLiteral("Show %1").arg(c.now));
    }
    if (c.next < 0) {
        EXPECT_EQ(ch.NextEPG.Title, QStringLiteral("..."));
    } else {
        EXPECT_EQ(ch.NextEPG.Index, c.next);
    }
    if (c.elapsedSec) {
        EXPECT_EQ(ch.NowEPG.ElapsedSec, QLatin1String(c.elapsedSec));
    }
    if (c.mode == mTV) {
        EXPECT_FALSE(UpdateNowNext(&ch, kSummerNoonUtc + c.clockSec + 10));
    }
}
INSTANTIATE_TEST_SUITE_P(
    Clock, NowNextTest,
    ::testing::Values(
        NowNextCase{"StillRunningGetsNext", "PREMIERE SPORT", mTV, 5, 0, -1, 600, true, 0, 1, "600"},
        NowNextCase{"MovesToTheCoveringOne", "PREMIERE SPORT", mTV, 5, 0, -1, 2 * 3600 + 5, true, 2, 3, "5"},
        NowNextCase{"PastTheListLastStays", "PREMIERE SPORT", mTV, 5, 0, -1, 10 * 3600, true, 4, -1, nullptr},
        NowNextCase{"RunningLaterSlotGetsNext", "EROTIK", mTV, 3, 0, 1, 3600 + 10, true, 1, 2, nullptr},
        NowNextCase{"RadioNextUntouched", "THEMA LIVE", mRadio, 4, 0, -1, 3600 + 30, true, 1, -1, nullptr},
        NowNextCase{"OnlySlotStays", "PREMIERE DIREKT", mTV, 1, -25 * 3600, -1, 0, false, 0, -1, nullptr},
        NowNextCase{"YesterdayIsOver", "PREMIERE DIREKT", mTV, 2, -25 * 3600, -1, 0, true, 1, -1, nullptr},
        NowNextCase{"IndexPastTheListLeftAlone", "PREMIERE DIREKT", mTV, 2, -25 * 3600, 40, 0, false, 40, -1, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UpdateNowNext, NoChannel) {
    EXPECT_FALSE(UpdateNowNext(nullptr));
}
