#include "playback/subchannels.h"

#include <gtest/gtest.h>

namespace {

struct PortalCase {
    const char* name;
    bool portal;
};

class PortalNameTest : public ::testing::TestWithParam<PortalCase> {};

struct LinesCase {
    const char* answer;
    QList<TSubChannelLine> expected;
};

class SubChannelLinesTest : public ::testing::TestWithParam<LinesCase> {};

TChannelRef channel(const QString& id, const QString& caption) {
    auto ch = std::make_shared<TChannel>();
    ch->Id = id;
    ch->Caption = caption;
    return ch;
}

QStringList ids(const QList<TChannelItem>& items) {
    QStringList out;
    for (const auto& item : items)
        out << item.Channel->Id;
    return out;
}

// A model as a loaded bouquet leaves it: the same items in the channel box and the channel list.
void fill(TBouquetModel& model, const QList<TChannelRef>& channels) {
    for (const auto& ch : channels) {
        model.channelBox().append({ch->Caption, ch});
        model.channelList().append({ch->Caption, ch});
    }
}

} // namespace

// Only the portal names in capitals, anywhere in the name, make a portal channel.
TEST_P(PortalNameTest, Recognises) {
    EXPECT_EQ(isPortalChannel(QString::fromUtf8(GetParam().name)), GetParam().portal) << GetParam().name;
}
INSTANTIATE_TEST_SUITE_P(Names, PortalNameTest,
                         ::testing::Values(PortalCase{"PREMIERE DIREKT 1", true},
                                           PortalCase{"12. PREMIERE DIREKT", true},
                                           PortalCase{"Premiere Direkt", false}, PortalCase{"PREMIERE  DIREKT", false},
                                           PortalCase{"EROTIK", true}, PortalCase{"3. BLUE EROTIK", true},
                                           PortalCase{"Erotik", false}, PortalCase{"THEMA LIVE", true},
                                           PortalCase{"PREMIERE SPORT PORTAL", true},
                                           PortalCase{"PREMIERE SPORT 1", false}, PortalCase{"", false}));

// Id before the first blank, name after it (blanks inside kept); no blank: both the whole line.
TEST_P(SubChannelLinesTest, Splits) {
    const QList<TSubChannelLine> got = parseSubChannels(QString::fromUtf8(GetParam().answer));
    ASSERT_EQ(got.size(), GetParam().expected.size()) << GetParam().answer;
    for (qsizetype i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].Id, GetParam().expected[i].Id);
        EXPECT_EQ(got[i].Name, GetParam().expected[i].Name);
    }
}
INSTANTIATE_TEST_SUITE_P(
    Answers, SubChannelLinesTest,
    ::testing::Values(LinesCase{"85000300009 Beginn 20:00\n8500030000a Beginn 20:30",
                                {{"85000300009", "Beginn 20:00"}, {"8500030000a", "Beginn 20:30"}}},
                      LinesCase{"85000300009 Beginn 20:00\r\n8500030000a Beginn 20:30\r\n",
                                {{"85000300009", "Beginn 20:00"}, {"8500030000a", "Beginn 20:30"}}},
                      LinesCase{"8500030000b", {{"8500030000b", "8500030000b"}}},
                      LinesCase{"a  two blanks", {{"a", " two blanks"}}},
                      LinesCase{"a \n\n \nb c", {{"a", "a"}, {"b", "c"}}}, LinesCase{"  a b  ", {{"a", "b"}}},
                      LinesCase{"", {}}, LinesCase{"\r\n\r\n", {}},
                      // Ids that would change the zap request name no channel.
                      LinesCase{"a&setmode=radio x\n1#2 y\n../x z\n1%20 w\nok fine", {{"ok", "fine"}}},
                      LinesCase{"a\tb c\nx\x01y z\n\xc3\xa4 umlaut\nb d", {{"b", "d"}}}));

// A hostile answer with endless lines gives no more entries than the limit.
TEST(SubChannelLines, HugeAnswerIsCut) {
    QString answer;
    for (int i = 0; i < 100000; ++i)
        answer += QStringLiteral("%1 Sub %1\n").arg(i);
    const auto got = parseSubChannels(answer);
    ASSERT_EQ(got.size(), 100);
    EXPECT_EQ(got.last().Id, QStringLiteral("99"));
    EXPECT_EQ(parseSubChannels(answer, 3).size(), 3);
}

// Two lines give two entries directly below the portal channel in box and list, in answer order,
// with the portal's logo, and two menu items; the selection stays on the portal channel.
TEST(ApplySubChannels, InsertsBelowThePortal) {
    TBouquetModel model([](const QString&) { return QString(); });
    auto portal = channel(QStringLiteral("p"), QStringLiteral("2. PREMIERE DIREKT"));
    portal->LogoFile = QStringLiteral("logos/p.gif");
    fill(model, {channel("a", "1. A"), portal, channel("b", "3. B")});
    model.setSelectedIndex(1);
    QList<TChannelMenuEntry> menu;
    EXPECT_EQ(
        applySubChannels(model, portal, parseSubChannels(QStringLiteral("s1 Beginn 20:00\ns2 Beginn 20:30")), menu), 2);
    EXPECT_EQ(ids(model.channelBox()), (QStringList{"a", "p", "s1", "s2", "b"}));
    EXPECT_EQ(ids(model.channelList()), (QStringList{"a", "p", "s1", "s2", "b"}));
    EXPECT_EQ(model.selectedIndex(), 1);
    ASSERT_EQ(menu.size(), 2);
    EXPECT_EQ(menu[0].Caption, QStringLiteral("Beginn 20:00"));
    EXPECT_EQ(menu[1].Channel->Id, QStringLiteral("s2"));
    const TChannel& sub = *model.channelBox()[2].Channel;
    EXPECT_TRUE(sub.IsSubChannel);
    EXPECT_EQ(sub.Caption, QStringLiteral("Beginn 20:00"));
    EXPECT_EQ(model.channelBox()[2].Text, QStringLiteral("Beginn 20:00"));
    EXPECT_EQ(sub.LogoFile, portal->LogoFile);
    EXPECT_EQ(sub.Mode, mTV);
}

// A second portal's list replaces the first one's entries everywhere; the selection follows its
// channel when entries above it go.
TEST(ApplySubChannels, ReplacesEarlierEntries) {
    TBouquetModel model([](const QString&) { return QString(); });
    auto first = channel(QStringLiteral("p1"), QStringLiteral("1. EROTIK"));
    auto second = channel(QStringLiteral("p2"), QStringLiteral("2. THEMA LIVE"));
    fill(model, {first, second, channel("c", "3. C")});
    QList<TChannelMenuEntry> menu;
    model.setSelectedIndex(0);
    applySubChannels(model, first, parseSubChannels(QStringLiteral("x1 X1\nx2 X2\nx3 X3")), menu);
    model.setSelectedIndex(4); // p2, below the three entries
    ASSERT_EQ(model.channelBox()[4].Channel, second);
    applySubChannels(model, second, parseSubChannels(QStringLiteral("y1 Y1")), menu);
    EXPECT_EQ(ids(model.channelBox()), (QStringList{"p1", "p2", "y1", "c"}));
    EXPECT_EQ(ids(model.channelList()), (QStringList{"p1", "p2", "y1", "c"}));
    EXPECT_EQ(model.selectedIndex(), 1);
    ASSERT_EQ(menu.size(), 1);
    EXPECT_EQ(menu[0].Channel->Id, QStringLiteral("y1"));
}
