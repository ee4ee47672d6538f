#include "box/bouquets.h"

#include "core/options.h"
#include "support/appstate.h"
#include "support/tempdir.h"

#include <QDir>
#include <QMap>
#include <gtest/gtest.h>

namespace {

// The receiver side of a test: answers by URL, and every URL asked in order.
struct FakeBox {
    QMap<QString, QString> answers;
    QStringList requests;

    BoxRequestFn fn() {
        return [this](const QString& url) {
            requests.append(url);
            return answers.value(url);
        };
    }
};

const QString kTv1 = QStringLiteral("http://box.test:80/control/getbouquet?bouquet=1&mode=TV");
const QString kRadio1 = QStringLiteral("http://box.test:80/control/getbouquet?bouquet=1&mode=RADIO");
const QString kTv2 = QStringLiteral("http://box.test:80/control/getbouquet?bouquet=2&mode=TV");
const QString kRadio2 = QStringLiteral("http://box.test:80/control/getbouquet?bouquet=2&mode=RADIO");
const QString kList = QStringLiteral("http://box.test:80/control/getbouquets");
const QString kActual = QStringLiteral("http://box.test:80/control/getbouquet?actual");

class BouquetTest : public ::testing::Test {
protected:
    void SetUp() override { Options.BoxAddress = QStringLiteral("box.test:80"); }

    // n channel lines "<k> id<k> Name <k>" starting at number first.
    static QString lines(int n, const QString& prefix, int first = 1) {
        QStringList out;
        for (int k = 0; k < n; ++k)
            out.append(QString::number(first + k) + QLatin1Char(' ') + prefix + QString::number(k) +
                       QStringLiteral(" Name ") + prefix + QString::number(k));
        return out.join(QStringLiteral("\r\n"));
    }

    FakeBox m_box;
    ScopedAppState m_state;
};

QStringList captions(const QList<TChannelItem>& items) {
    QStringList out;
    for (const TChannelItem& i : items)
        out.append(i.Text);
    return out;
}

struct SplitCase {
    const char* text;
    QStringList expected;
};
class SplitLinesTest : public ::testing::TestWithParam<SplitCase> {};

struct LineCase {
    const char* line;
    const char* id;
    const char* name;
    bool channel; // isChannelLine: what the receiver lists, not noise
};
class ChannelLineTest : public ::testing::TestWithParam<LineCase> {};

struct CaptionCase {
    int number;
    TChannelMode mode;
    const char* name;
    const char* expected;
};
class CaptionTest : public ::testing::TestWithParam<CaptionCase> {};

} // namespace

// Answers split at CR LF, bare CR or bare LF; a final break adds no empty line.
TEST_P(SplitLinesTest, Splits) {
    EXPECT_EQ(splitAnswerLines(QString::fromUtf8(GetParam().text)), GetParam().expected);
    // Joined in one pass: the same as the lines joined with CR LF.
    EXPECT_EQ(joinAnswerLines(QString::fromUtf8(GetParam().text)), GetParam().expected.join(QStringLiteral("\r\n")));
}
INSTANTIATE_TEST_SUITE_P(Answers, SplitLinesTest,
                         ::testing::Values(SplitCase{"", {}}, SplitCase{"a", {"a"}}, SplitCase{"a\r\nb", {"a", "b"}},
                                           SplitCase{"a\r\nb\r\n", {"a", "b"}}, SplitCase{"a\nb\n", {"a", "b"}},
                                           SplitCase{"a\r\rb", {"a", "", "b"}}, SplitCase{"\r\n", {""}},
                                           SplitCase{"a\n\r\nb", {"a", "", "b"}}));

// A line limit takes the first lines only; a limit past the end takes all of them.
TEST(SplitLinesLimit, TakesTheFirstLines) {
    const QString text = QStringLiteral("a\r\nb\rc\nd\r\n");
    EXPECT_EQ(splitAnswerLines(text, 0), QStringList());
    EXPECT_EQ(splitAnswerLines(text, 1), QStringList({"a"}));
    EXPECT_EQ(splitAnswerLines(text, 3), QStringList({"a", "b", "c"}));
    EXPECT_EQ(splitAnswerLines(text, 4), splitAnswerLines(text));
    EXPECT_EQ(splitAnswerLines(text, 99), QStringList({"a", "b", "c", "d"}));
}

// The id is the second blank-separated field; the name is all after it; no blank: all is name. A
// channel line starts with a number and has an id of printable ASCII; other lines are noise.
TEST_P(ChannelLineTest, Parses) {
    const TChannelLine l = parseChannelLine(QString::fromUtf8(GetParam().line));
    EXPECT_EQ(l.Id, QString::fromUtf8(GetParam().id));
    EXPECT_EQ(l.Name, QString::fromUtf8(GetParam().name));
    EXPECT_EQ(isChannelLine(QString::fromUtf8(GetParam().line)), GetParam().channel);
}
INSTANTIATE_TEST_SUITE_P(
    Lines, ChannelLineTest,
    ::testing::Values(LineCase{"1 43b0044d Das Erste", "43b0044d", "Das Erste", true},
                      LineCase{"12 1 ARD", "1", "ARD", true}, // the id text also occurs in the number field
                      LineCase{"7 abc", "abc", "", true}, LineCase{"7 abc ", "abc", "", true},
                      LineCase{"nospace", "", "nospace", false},
                      LineCase{"1  x y", "", "1  x y", false}, // double blank: empty id
                      LineCase{"3 id name with  two  blanks ", "id", "name with  two  blanks ", true},
                      LineCase{"3 id Grüße ±½°", "id", "Grüße ±½°", true}, LineCase{"", "", "", false},
                      LineCase{"5 id\tx y", "id\tx", "y", false}, LineCase{"5 ab\x7f y", "ab\x7f", "y", false},
                      LineCase{"5 \xc3\xa9t\xc3\xa9 y", "\xc3\xa9t\xc3\xa9", "y", false},
                      LineCase{"x1 abc y", "abc", "y", false}, LineCase{" 1 abc y", "1", "abc y", false},
                      LineCase{"Beginn 20:00", "20:00", "", false}));

// TV captions "n. name", radio captions "n. Radio: name".
TEST_P(CaptionTest, Builds) {
    const CaptionCase& c = GetParam();
    EXPECT_EQ(channelCaption(c.number, c.mode, QString::fromUtf8(c.name)), QString::fromUtf8(c.expected));
}
INSTANTIATE_TEST_SUITE_P(Captions, CaptionTest,
                         ::testing::Values(CaptionCase{1, mTV, "Das Erste", "1. Das Erste"},
                                           CaptionCase{4, mRadio, "Bayern 3", "4. Radio: Bayern 3"},
                                           CaptionCase{12, mTV, "", "12. "}, CaptionCase{1, mRadio, "", "1. Radio: "}));

// Menu columns: channels break at 26, 51, 76 ...; bouquets only beyond 20, at count div 2.
TEST(MenuBreaks, Rules) {
    EXPECT_FALSE(channelMenuBreaks(1));
    EXPECT_FALSE(channelMenuBreaks(25));
    EXPECT_TRUE(channelMenuBreaks(26));
    EXPECT_FALSE(channelMenuBreaks(27));
    EXPECT_TRUE(channelMenuBreaks(51));
    EXPECT_TRUE(channelMenuBreaks(76));
    EXPECT_EQ(bouquetMenuBreakIndex(20), -1);
    EXPECT_EQ(bouquetMenuBreakIndex(21), 10);
    EXPECT_EQ(bouquetMenuBreakIndex(40), 20);
    EXPECT_EQ(bouquetMenuBreakIndex(0), -1);
}

// Logo files are "logos/<id>.gif"; ids that could leave the folder get none.
TEST(LogoPath, Rule) {
    EXPECT_EQ(LogoFilePath(QStringLiteral("43b0044d")), QStringLiteral("logos/43b0044d.gif"));
    EXPECT_EQ(LogoFilePath(QStringLiteral("x"), QStringLiteral("/opt/l")), QStringLiteral("/opt/l/x.gif"));
    EXPECT_TRUE(LogoFilePath(QString()).isEmpty());
    EXPECT_TRUE(LogoFilePath(QStringLiteral("../../etc/passwd")).isEmpty());
    EXPECT_TRUE(LogoFilePath(QStringLiteral("a/b")).isEmpty());
    EXPECT_TRUE(LogoFilePath(QStringLiteral("a\\b")).isEmpty());
    EXPECT_TRUE(LogoFilePath(QStringLiteral("a") + QChar(0) + QStringLiteral("b")).isEmpty());
}

struct NumberCase {
    const char* line;
    int position;
    const char* number;
};
class BouquetNumberTest : public ::testing::TestWithParam<NumberCase> {};

// The number at the head of a "getbouquets" line; a line without a usable one is asked for by its place.
TEST_P(BouquetNumberTest, Reads) {
    const NumberCase& c = GetParam();
    EXPECT_EQ(bouquetNumberOf(QString::fromUtf8(c.line), c.position), QLatin1String(c.number));
}
INSTANTIATE_TEST_SUITE_P(Lines, BouquetNumberTest,
                         ::testing::Values(NumberCase{"1 ARD", 0, "1"}, NumberCase{"7 Sport", 1, "7"},
                                           NumberCase{"07 Sport", 1, "7"}, NumberCase{"12", 3, "12"},
                                           NumberCase{"Sport", 4, "5"}, NumberCase{"0 Sport", 2, "3"},
                                           NumberCase{"-3 Sport", 2, "3"}, NumberCase{"3a Sport", 2, "3"},
                                           NumberCase{" 4 Sport", 0, "1"}, NumberCase{"9999999999 X", 1, "2"},
                                           NumberCase{"", 6, "7"}));

// No answer: false, an empty menu, and no second request.
TEST_F(BouquetTest, LoadBouquetsWithoutAnswer) {
    TBouquetModel model(m_box.fn());
    model.bouquets().append(TBouquetMenuItem{QStringLiteral("old"), false, false, nullptr, QStringLiteral("1")});
    EXPECT_FALSE(model.LoadBouquets());
    EXPECT_EQ(m_box.requests, QStringList{kList});
    EXPECT_TRUE(model.bouquets().isEmpty());
}

struct ActualCase {
    const char* answer;
    const char* before;
    const char* after;
    int checked; // -1: none
};
class ActualBouquetTest : public BouquetTest, public ::testing::WithParamInterface<ActualCase> {};

// "getbouquet?actual": a number within the menu is taken; "0", garbage and numbers past the menu
// keep the previous number (a "0" then becomes "1") and check nothing.
TEST_P(ActualBouquetTest, Applies) {
    const ActualCase& c = GetParam();
    m_box.answers[kList] = QStringLiteral("1 A\r\n2 B\r\n3 C");
    m_box.answers[kActual] = QString::fromUtf8(c.answer);
    TBouquetModel model(m_box.fn());
    model.CurBouquetNr = QString::fromUtf8(c.before);
    ASSERT_TRUE(model.LoadBouquets());
    EXPECT_EQ(model.CurBouquetNr, QString::fromUtf8(c.after));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(model.bouquets()[i].Checked, i == c.checked) << i;
}
INSTANTIATE_TEST_SUITE_P(Answers, ActualBouquetTest,
                         ::testing::Values(ActualCase{"3", "0", "3", 2}, ActualCase{"0", "0", "1", -1},
                                           ActualCase{"0", "2", "2", -1}, ActualCase{"abc", "2", "2", -1},
                                           ActualCase{"4", "0", "1", -1}, ActualCase{"-1", "0", "1", -1},
                                           ActualCase{"", "3", "3", -1}, ActualCase{"99999999999", "0", "1", -1},
                                           ActualCase{"1", "0", "1", 0}));

// 3 TV and 2 radio channels: TV 1-3, radio 4-5 after the marker, ListIndex 0,1,2,4,5, TV asked first.
TEST_F(BouquetTest, TvAndRadioNumbering) {
    m_box.answers[kTv1] = QStringLiteral("1 t1 Das Erste\r\n2 t2 ZDF\r\n3 t3 BR");
    m_box.answers[kRadio1] = QStringLiteral("1 r1 Bayern 3\r\n2 r2 Antenne");
    TBouquetModel model(m_box.fn());
    model.CurBouquetNr = QStringLiteral("1");
    ASSERT_TRUE(model.LoadBouquet(QStringLiteral("1")));
    EXPECT_EQ(m_box.requests, (QStringList{kTv1, kRadio1}));
    const auto& box = model.channelBox();
    ASSERT_EQ(box.size(), 5);
    EXPECT_EQ(captions(model.channelList()),
              (QStringList{"1. Das Erste", "2. ZDF", "3. BR", "4. Radio: Bayern 3", "5. Radio: Antenne"}));
    EXPECT_EQ(captions(box), (QStringList{"1. Das Erste, ...", "2. ZDF, ...", "3. BR, ...", "4. Radio: Bayern 3, ...",
                                          "5. Radio: Antenne, ..."}));
    const int indexes[] = {0, 1, 2, 4, 5};
    const char* ids[] = {"t1", "t2", "t3", "r1", "r2"};
    for (int k = 0; k < 5; ++k) {
        const TChannel& ch = *box[k].Channel;
        EXPECT_EQ(ch.ListIndex, indexes[k]);
        EXPECT_EQ(ch.Id, QString::fromUtf8(ids[k]));
        EXPECT_EQ(ch.Mode, k < 3 ? mTV : mRadio);
        EXPECT_FALSE(ch.EPGLoaded);
        EXPECT_FALSE(ch.IsSubChannel);
        EXPECT_EQ(ch.NowEPG.Title, QStringLiteral("..."));
        EXPECT_EQ(ch.NextEPG.Title, QStringLiteral("..."));
        EXPECT_EQ(ch.EPGCount, 0);
        // The three views hold the same record at the same position.
        EXPECT_EQ(model.channelMenu()[k].Channel, box[k].Channel);
        EXPECT_EQ(model.channelList()[k].Channel, box[k].Channel);
        EXPECT_EQ(model.channelMenu()[k].Caption, ch.Caption);
        EXPECT_TRUE(model.channelMenu()[k].OwnerDrawn);
    }
}

// No TV channels: radio numbered from 1 at ListIndex 0 and 1; TV only: no marker channel.
TEST_F(BouquetTest, RadioOnlyAndTvOnly) {
    m_box.answers[kRadio1] = QStringLiteral("1 r1 Bayern 3\r\n2 r2 Antenne");
    m_box.answers[kTv2] = QStringLiteral("1 t1 Das Erste");
    TBouquetModel model(m_box.fn());
    ASSERT_TRUE(model.LoadBouquet(QStringLiteral("1")));
    EXPECT_EQ(captions(model.channelList()), (QStringList{"1. Radio: Bayern 3", "2. Radio: Antenne"}));
    EXPECT_EQ(model.channelBox()[0].Channel->ListIndex, 0);
    EXPECT_EQ(model.channelBox()[1].Channel->ListIndex, 1);
    EXPECT_EQ(model.channelBox()[1].Channel->Mode, mRadio);
    ASSERT_TRUE(model.LoadBouquet(QStringLiteral("2")));
    EXPECT_EQ(captions(model.channelList()), QStringList{"1. Das Erste"});
    EXPECT_EQ(model.channelBox()[0].Channel->Mode, mTV);
    EXPECT_EQ(m_box.requests, (QStringList{kTv1, kRadio1, kTv2, kRadio2}));
}

// A reload keeps the selected position and checks that menu entry alone.
TEST_F(BouquetTest, ReloadKeepsSelection) {
    m_box.answers[kTv1] = lines(5, QStringLiteral("a"));
    m_box.answers[kTv2] = lines(2, QStringLiteral("b"));
    TBouquetModel model(m_box.fn());
    ASSERT_TRUE(model.LoadBouquet(QStringLiteral("1")));
    model.setSelectedIndex(3);
    ASSERT_TRUE(model.LoadBouquet(QStringLiteral("1")));
    EXPECT_EQ(model.selectedIndex(), 3);
    for (int k = 0; k < 5; ++k)
        EXPECT_EQ(model.channelMenu()[k].Checked, k == 3);
    // A position past the new list selects nothing.
    ASSERT_TRUE(model.LoadBouquet(QStringLiteral("2")));
    EXPECT_EQ(model.selectedIndex(), -1);
    EXPECT_FALSE(model.channelMenu()[0].Checked);
}

// The radio part counts in the column rule, since the menu holds TV and radio entries alike.
TEST_F(BouquetTest, ColumnsSpanTvAndRadio) {
    m_box.answers[kTv1] = lines(20, QStringLiteral("t"));
    m_box.answers[kRadio1] = lines(10, QStringLiteral("r"));
    TBouquetModel model(m_box.fn());
    ASSERT_TRUE(model.LoadBouquet(QStringLiteral("1")));
    ASSERT_EQ(model.channelMenu().size(), 30);
    EXPECT_TRUE(model.channelMenu()[25].BarBreak);
    EXPECT_EQ(model.channelMenu()[25].Caption, QStringLiteral("26. Radio: Name r5"));
}

// Logos: an existing "logos/<id>.gif" is taken; otherwise the fallback (no file).
TEST_F(BouquetTest, LogoFiles) {
    TestDir dir;
    ASSERT_TRUE(QDir().mkpath(dir.path(QStringLiteral("logos"))));
    ASSERT_TRUE(dir.write(QStringLiteral("logos/t1.gif"), QByteArray("GIF89a")));
    m_box.answers[kTv1] = QStringLiteral("1 t1 A\r\n2 t2 B\r\n3 ../t1 C");
    TBouquetModel model(m_box.fn());
    model.setLogoFolder(dir.path(QStringLiteral("logos")));
    ASSERT_TRUE(model.LoadBouquet(QStringLiteral("1")));
    EXPECT_EQ(model.channelBox()[0].Channel->LogoFile, dir.path(QStringLiteral("logos")) + QStringLiteral("/t1.gif"));
    EXPECT_TRUE(model.channelBox()[1].Channel->LogoFile.isEmpty());
    EXPECT_TRUE(model.channelBox()[2].Channel->LogoFile.isEmpty());
}

// LocateChannel: first exact, case-sensitive id match; -1 otherwise.
TEST_F(BouquetTest, LocateChannel) {
    m_box.answers[kTv1] = QStringLiteral("1 abc A\r\n2 ABC B\r\n3 abc C");
    TBouquetModel model(m_box.fn());
    ASSERT_TRUE(model.LoadBouquet(QStringLiteral("1")));
    EXPECT_EQ(model.LocateChannel(QStringLiteral("abc")), 0);
    EXPECT_EQ(model.LocateChannel(QStringLiteral("ABC")), 1);
    EXPECT_EQ(model.LocateChannel(QStringLiteral("ab")), -1);
    EXPECT_EQ(model.LocateChannel(QString()), -1);
}

// A → B → A: the second visit keeps A's records and re-fetches only channels whose next programme
// is still unknown; a menu entry keeps its sub-entries.
TEST_F(BouquetTest, SwitchServesFromCache) {
    m_box.answers[kList] = QStringLiteral("1 A\r\n2 B");
    m_box.answers[kActual] = QStringLiteral("1");
    m_box.answers[kTv1] = QStringLiteral("1 a1 One\r\n2 a2 Two");
    m_box.answers[kTv2] = QStringLiteral("1 b1 Three");
    TBouquetModel model(m_box.fn());
    ASSERT_TRUE(model.LoadBouquets());
    ASSERT_TRUE(model.LoadBouquet(model.CurBouquetNr));
    const TChannelRef a1 = model.channelBox()[0].Channel;
    const TChannelRef a2 = model.channelBox()[1].Channel;
    a1->EPGLoaded = true;
    a1->NextEPG.Title = QStringLiteral("Tagesschau");
    a2->EPGLoaded = true; // its next programme is still "..."
    TChannelMenuEntry sub;
    sub.Caption = QStringLiteral("sub");
    sub.Channel = a2;
    model.channelMenu()[1].SubEntries.append(sub);

    EXPECT_TRUE(model.SwitchBouquet(1, QStringLiteral("a2")).FreshlyLoaded);
    EXPECT_FALSE(model.SwitchBouquet(0, QStringLiteral("a2")).FreshlyLoaded);
    ASSERT_EQ(model.channelBox().size(), 2);
    EXPECT_EQ(model.channelBox()[1].Channel, a2);
    EXPECT_TRUE(a1->EPGLoaded);
    EXPECT_FALSE(a2->EPGLoaded);
    ASSERT_EQ(model.channelMenu().size(), 2);
    ASSERT_EQ(model.channelMenu()[1].SubEntries.size(), 1);
    EXPECT_EQ(model.channelMenu()[1].SubEntries[0].Caption, QStringLiteral("sub"));
    EXPECT_EQ(model.channelMenu()[1].SubEntries[0].Channel, a2);
}

// A click on the bouquet already shown, or on no item, does nothing and asks nothing.
TEST_F(BouquetTest, SwitchToShownIsIgnored) {
    m_box.answers[kList] = QStringLiteral("1 A\r\n2 B");
    m_box.answers[kActual] = QStringLiteral("1");
    TBouquetModel model(m_box.fn());
    ASSERT_TRUE(model.LoadBouquets());
    const qsizetype asked = m_box.requests.size();
    EXPECT_TRUE(model.SwitchBouquet(0, QString()).Ignored);
    EXPECT_TRUE(model.SwitchBouquet(2, QString()).Ignored);
    EXPECT_TRUE(model.SwitchBouquet(-1, QString()).Ignored);
    EXPECT_EQ(m_box.requests.size(), asked);
    EXPECT_EQ(model.CurBouquetNr, QStringLiteral("1"));
}

// A request function that throws counts as an empty answer.
TEST_F(BouquetTest, ThrowingRequestIsEmptyAnswer) {
    TBouquetModel model([](const QString&) -> QString { throw std::runtime_error("down"); });
    EXPECT_FALSE(model.LoadBouquets());
    EXPECT_FALSE(model.LoadBouquet(QStringLiteral("1")));
}

// Garbage answers: blank lines and lines that are no channel line give no channels (a NUL or a
// binary byte in the id marks a line as noise), the rest keep their order; a huge answer is cut at
// the line limit, and an answer of noise alone leaves the shown bouquet as it was.
TEST_F(BouquetTest, GarbageAndHugeAnswers) {
    QString binary = QStringLiteral("1 id");
    binary += QChar(0);
    binary += QStringLiteral("x N\xff\x01me\r\n\r\n   \r\n2 id2 B\r\n3 \u00e9t\u00e9 C");
    m_box.answers[kTv1] = binary;
    TBouquetModel model(m_box.fn());
    ASSERT_TRUE(model.LoadBouquet(QStringLiteral("1")));
    ASSERT_EQ(model.channelBox().size(), 1);
    EXPECT_EQ(model.channelBox()[0].Channel->Id, QStringLiteral("id2"));
    EXPECT_EQ(model.channelBox()[0].Channel->Caption, QStringLiteral("1. B"));

    // About 10 MB of lines: cut at the limit, numbering intact up to there.
    QString huge;
    huge.reserve(10 * 1024 * 1024);
    for (int k = 0; huge.size() < 10 * 1024 * 1024; ++k)
        huge += QStringLiteral("%1 id%1 Channel name padding padding padding padding\r\n").arg(k + 1);
    m_box.answers[kTv2] = huge;
    ASSERT_TRUE(model.LoadBouquet(QStringLiteral("2")));
    ASSERT_EQ(model.channelBox().size(), TBouquetModel::kMaxChannelLines);
    EXPECT_EQ(model.channelBox().last().Channel->Caption,
              QStringLiteral("10000. Channel name padding padding padding padding"));

    // A single endless line with no break is no channel line.
    m_box.answers[kTv1] = QString(5 * 1024 * 1024, QLatin1Char('x'));
    EXPECT_FALSE(model.LoadBouquet(QStringLiteral("1")));
    EXPECT_EQ(model.channelBox().size(), TBouquetModel::kMaxChannelLines);
}

// A list read only up to a cap of 3 lines: the same first lines and numbering as the whole list,
// and more than 3 lines exactly when the whole has more; where TV ends and radio starts around the
// cap is where an off-by-one would show.
TEST(BouquetLinesCap, SameAsTheWholeUpToTheCap) {
    const auto lines = [](int n, const char* prefix) {
        QString out;
        for (int i = 1; i <= n; ++i)
            out += QStringLiteral("%1 %2%1 %2 %1\r\n\r\n").arg(i).arg(QLatin1String(prefix));
        return out;
    };
    constexpr int kCap = 3;
    for (int tv = 0; tv <= 5; ++tv) {
        for (int radio = 0; radio <= 5; ++radio) {
            SCOPED_TRACE(testing::Message() << tv << " TV lines, " << radio << " radio lines");
            const TBouquetLines whole = combineBouquetAnswers(lines(tv, "tv"), lines(radio, "radio"));
            const TBouquetLines capped = combineBouquetAnswers(lines(tv, "tv"), lines(radio, "radio"), kCap);
            EXPECT_EQ(capped.StartsInRadio, whole.StartsInRadio);
            EXPECT_EQ(capped.Lines.size() > kCap, whole.Lines.size() > kCap);
            EXPECT_LE(capped.Lines.size(), kCap + 2);
            QStringList cappedCaptions;
            QStringList wholeCaptions;
            for (const TChannelRef& c : buildChannels(capped, kCap))
                cappedCaptions << c->Caption;
            for (const TChannelRef& c : buildChannels(whole, kCap))
                wholeCaptions << c->Caption;
            EXPECT_EQ(cappedCaptions, wholeCaptions);
        }
    }
}

// Two million lines in each answer: the channels up to the limit, without every line split out.
TEST(BouquetLinesCap, MillionsOfLines) {
    const QString line = QStringLiteral("1 id x\r\n");
    const QString answer = line.repeated(2'000'000);
    const TBouquetLines lines = combineBouquetAnswers(answer, answer, TBouquetModel::kMaxChannelLines);
    EXPECT_EQ(lines.Lines.size(), TBouquetModel::kMaxChannelLines + 2);
    const QList<TChannelRef> channels = buildChannels(lines, TBouquetModel::kMaxChannelLines);
    ASSERT_EQ(channels.size(), TBouquetModel::kMaxChannelLines);
    EXPECT_EQ(channels.last()->Caption, QStringLiteral("10000. x"));
}

// Clearing a channel: not loaded, now/next and the filled slots back to "...", count and slots kept.
TEST(ChannelRecord, Clear) {
    TChannel ch;
    ch.EPGLoaded = true;
    ch.NowEPG.Title = QStringLiteral("News");
    ch.NowEPG.EventId = QStringLiteral("42");
    ch.NowEPG.Index = 3;
    ch.NowEPG.ElapsedSec = QStringLiteral("60");
    ch.NowEPG.StartTime = 45000.5;
    ch.NowEPG.DurationSec = QStringLiteral("600");
    ch.NextEPG.Title = QStringLiteral("Weather");
    ch.EPG.resize(2);
    ch.EPG[1].Title = QStringLiteral("Film");
    ch.EPG[1].Info2 = QStringLiteral("long");
    ch.EPGCount = 2;
    ch.Clear();
    EXPECT_FALSE(ch.EPGLoaded);
    EXPECT_EQ(ch.NowEPG.Title, QStringLiteral("..."));
    EXPECT_TRUE(ch.NowEPG.EventId.isEmpty());
    EXPECT_TRUE(ch.NowEPG.DurationSec.isEmpty());
    EXPECT_EQ(ch.NowEPG.StartTime, 0);
    EXPECT_EQ(ch.NowEPG.Index, 3);
    EXPECT_EQ(ch.NowEPG.ElapsedSec, QStringLiteral("60"));
    EXPECT_EQ(ch.NextEPG.Title, QStringLiteral("..."));
    EXPECT_EQ(ch.EPGCount, 2);
    ASSERT_EQ(ch.EPG.size(), 2);
    EXPECT_EQ(ch.EPG[1].Title, QStringLiteral("..."));
    EXPECT_TRUE(ch.EPG[1].Info2.isEmpty());
    EXPECT_EQ(ch.slot(2), nullptr);
    EXPECT_EQ(ch.slot(-1), nullptr);
}
