// Bounded random-input runs over the three receiver-answer parsers: the all-channel "epg?ext"
// answer, the per-channel XML answer and the bouquet answers. 1 000 000 inputs in all (set
// QUOXEL_FUZZ_INPUTS for another total); each parser gets mutated real answers, and the results
// are checked against what any answer must give.
#include "box/bouquets.h"
#include "box/epgparse.h"
#include "core/clock.h"

#include <gtest/gtest.h>

#include <random>

namespace {

constexpr qint64 kNow = 1719835200;

qint64 totalInputs() {
    bool ok = false;
    const qint64 n = qEnvironmentVariableIntValue("QUOXEL_FUZZ_INPUTS", &ok);
    return ok && n > 0 ? n : 1000000;
}

const QByteArray kXmlSeed =
    "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n<epglist>\n<channel_id>43b0044d</channel_id>\n"
    "<prog>\n<eventid>1001</eventid>\n<start_sec>1719833400</start_sec>\n<start_t>13:30</start_t>\n"
    "<duration_min>45</duration_min>\n<description><![CDATA[Interpret: Tagesschau]]></description>\n"
    "<info1><![CDATA[Nachrichten]]></info1>\n<info2><![CDATA[Titel: Song\nAlbum: A\nLabel\nJahr: 1999]]></info2>\n"
    "</prog>\n<prog>\n<eventid>1002</eventid>\n<start_sec>1719836100</start_sec>\n<start_t>14:15</start_t>\n"
    "<duration_min>90</duration_min>\n<description><![CDATA[]]></description>\n<info1></info1>\n"
    "<info2><![CDATA[x]]></info2>\n</prog>\n</epglist>\n";

const QByteArray kExtSeed = "43b00001 1719833400 2700 1001 Tagesschau am Mittag\r\n"
                            "43b00002 1719833400 5400 1002 Interpret: Song title  \r\n"
                            "43b00001 1719836100 2700 1003 Second line for the same id\r\n"
                            "43b00003 abc 60 1004 bad start\r\n";

const QByteArray kBouquetSeed = "1 43b00001 Das Erste\n2 43b00002 ORF\n3 43b00003 Sat.1 \xd6sterreich\n";

const QList<QByteArray> kTokens = {"<prog>",
                                   "</prog>",
                                   "<![CDATA[",
                                   "]]>",
                                   "<![CDATA[]]>",
                                   "<start_sec>",
                                   "</start_sec>",
                                   "<duration_min>",
                                   "</duration_min>",
                                   "<description>",
                                   "</description>",
                                   "-",
                                   "99999999999999999999",
                                   "4102444801",
                                   " ",
                                   "\r\n",
                                   "\n",
                                   "###",
                                   QByteArray(1, '\0'),
                                   "\x1b[2J",
                                   "\xff\xfe",
                                   "tiehttp timeout expired]",
                                   "Interpret: ",
                                   "Titel: ",
                                   "  "};

// One random change of the input: flip, insert a token, cut, repeat a piece, drop a piece.
class Mutator {
public:
    explicit Mutator(uint32_t seed)
        : m_rng(seed) {}

    QByteArray mutate(const QByteArray& seed) {
        QByteArray b = seed;
        const int steps = 1 + static_cast<int>(m_rng() % 6);
        for (int s = 0; s < steps; ++s) {
            const qsizetype at = b.isEmpty() ? 0 : static_cast<qsizetype>(m_rng() % b.size());
            switch (m_rng() % 6) {
            case 0:
                if (!b.isEmpty())
                    b[at] = static_cast<char>(m_rng() & 0xff);
                break;
            case 1:
                b.insert(at, kTokens[m_rng() % kTokens.size()]);
                break;
            case 2:
                b.truncate(at);
                break;
            case 3:
                if (b.size() < 8192)
                    b.insert(at, b.mid(at, static_cast<qsizetype>(m_rng() % 200)));
                break;
            case 4:
                b.remove(at, static_cast<qsizetype>(m_rng() % 40));
                break;
            default:
                if (b.size() < 8192)
                    b.insert(at, seed);
                break;
            }
        }
        return b;
    }
    uint32_t next() { return m_rng(); }

private:
    std::mt19937 m_rng;
};

class ParseFuzzTest : public ::testing::Test {
protected:
    void SetUp() override { Clock::setCurrent(&m_clock); }
    void TearDown() override { Clock::setCurrent(nullptr); }
    ManualClock m_clock{QDateTime::fromSecsSinceEpoch(kNow, Qt::UTC)};
};

// The XML parse never gives more than the slots, and the list it gives is stored and moved along
// without a slot out of range.
TEST_F(ParseFuzzTest, ChannelXml) {
    Mutator mutator(11);
    const qint64 rounds = totalInputs() * 4 / 10;
    for (qint64 n = 0; n < rounds; ++n) {
        const QByteArray input = mutator.mutate(kXmlSeed);
        const auto programs = ParseEPGXml(QString::fromLatin1(input));
        if (!programs)
            continue;
        ASSERT_LE(programs->size(), TChannel::kEPGSlots);
        TChannel ch;
        ch.Mode = (n & 1) ? mRadio : mTV;
        ApplyChannelEPG(ch, *programs);
        ASSERT_EQ(ch.EPGCount, programs->size());
        ASSERT_GE(ch.NowEPG.Index, 0);
        ASSERT_LE(ch.NowEPG.Index, std::max(0, ch.EPGCount - 1));
        m_clock.advanceMs(static_cast<qint64>(mutator.next() % 7200) * 1000);
        UpdateNowNext(&ch);
        ASSERT_LE(ch.NowEPG.Index, std::max(0, ch.EPGCount - 1));
        m_clock.set(QDateTime::fromSecsSinceEpoch(kNow, Qt::UTC));
    }
}

// The all-channel load fills at most each channel once and only from lines with its id.
TEST_F(ParseFuzzTest, AllChannel) {
    Mutator mutator(12);
    const qint64 rounds = totalInputs() * 3 / 10;
    for (qint64 n = 0; n < rounds; ++n) {
        QList<TChannelRef> channels;
        for (const char* id : {"43b00001", "43b00002", "43b00003"}) {
            auto ch = std::make_shared<TChannel>();
            ch->Id = QString::fromLatin1(id);
            ch->Mode = (n & 1) ? mRadio : mTV;
            channels << ch;
        }
        const QByteArray input = mutator.mutate(kExtSeed);
        const int filled = ParseAllChannelEPG(input, channels);
        ASSERT_GE(filled, 0);
        ASSERT_LE(filled, channels.size());
        for (const auto& ch : channels) {
            if (!ch->NowEPG.EventId.isEmpty()) {
                ASSERT_TRUE(input.contains(ch->Id.toLatin1()));
            }
        }
    }
}

// Bouquet answers give one record per non-marker line, numbered in order, each caption built
// from its own line.
TEST_F(ParseFuzzTest, Bouquet) {
    Mutator mutator(13);
    const qint64 rounds = totalInputs() - totalInputs() * 4 / 10 - totalInputs() * 3 / 10;
    for (qint64 n = 0; n < rounds; ++n) {
        const QString tv = QString::fromLatin1(mutator.mutate(kBouquetSeed));
        const QString radio = (n & 1) ? QString::fromLatin1(mutator.mutate(kBouquetSeed)) : QString();
        const TBouquetLines lines = combineBouquetAnswers(tv, radio);
        const QList<TChannelRef> channels = buildChannels(lines);
        ASSERT_LE(channels.size(), lines.Lines.size());
        int previous = -1;
        for (const auto& ch : channels) {
            ASSERT_GT(ch->ListIndex, previous);
            ASSERT_LT(ch->ListIndex, lines.Lines.size());
            previous = ch->ListIndex;
            ASSERT_FALSE(ch->Caption.isEmpty());
            ASSERT_TRUE(lines.Lines[ch->ListIndex].contains(ch->Id));
        }
        // Read only up to a cap, the list is the same up to it and tells the same of what lies past it.
        const int cap = int(n % 5);
        const TBouquetLines capped = combineBouquetAnswers(tv, radio, cap);
        ASSERT_EQ(capped.StartsInRadio, lines.StartsInRadio);
        ASSERT_EQ(capped.Lines.size() > cap, lines.Lines.size() > cap);
        ASSERT_EQ(capped.Lines.mid(0, cap), lines.Lines.mid(0, cap));
    }
}

} // namespace
