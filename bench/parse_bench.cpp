// Parser costs: the all-channel now answer of a large bouquet, a full per-channel XML list, a
// bouquet answer into channel records, and stream answers of the largest size a receiver may send.
#include "box/bouquets.h"
#include "box/epgparse.h"
#include "box/httpengine.h"
#include "playback/streamsetup.h"

#include <benchmark/benchmark.h>

namespace {

constexpr qint64 kStart = 1719835200;

QList<TChannelRef> makeChannels(int count) {
    QList<TChannelRef> channels;
    for (int k = 0; k < count; ++k) {
        auto ch = std::make_shared<TChannel>();
        ch->Id = QStringLiteral("43b%1").arg(k, 5, 10, QLatin1Char('0'));
        channels.append(ch);
    }
    return channels;
}

// Each channel twice (now and next, as the receiver lists them); the first line wins.
QString allChannelAnswer(int channels) {
    QString out;
    for (int round = 0; round < 2; ++round) {
        for (int k = 0; k < channels; ++k)
            out += QStringLiteral("43b%1 %2 %3 %4 Programme title number %1\r\n")
                       .arg(k, 5, 10, QLatin1Char('0'))
                       .arg(kStart + round * 3600)
                       .arg(3600)
                       .arg(10000 + round * 1000 + k);
    }
    return out;
}

QString xmlAnswer(int programmes) {
    QString out = QStringLiteral("<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n<epglist>\n"
                                 "<channel_id>43b00000</channel_id>\n");
    for (int k = 0; k < programmes; ++k)
        out += QStringLiteral("<prog>\n<eventid>%1</eventid>\n<start_sec>%2</start_sec>\n<start_t>20:15</start_t>\n"
                              "<duration_min>45</duration_min>\n<description><![CDATA[Title %1]]></description>\n"
                              "<info1><![CDATA[Short text of the programme]]></info1>\n<info2><![CDATA[A longer "
                              "description of the programme, over several lines.\nSecond line.\nThird line.]]>"
                              "</info2>\n</prog>\n")
                   .arg(k)
                   .arg(kStart + k * 2700);
    return out + QStringLiteral("</epglist>\n");
}

} // namespace

static void BM_AllChannel200x2(benchmark::State& state) {
    const QString answer = allChannelAnswer(200);
    for (auto _ : state) {
        state.PauseTiming();
        const QList<TChannelRef> channels = makeChannels(200);
        state.ResumeTiming();
        benchmark::DoNotOptimize(ParseAllChannelEPG(answer, channels));
    }
    state.SetBytesProcessed(state.iterations() * answer.size() * 2);
}
BENCHMARK(BM_AllChannel200x2);

static void BM_Xml500(benchmark::State& state) {
    const QString answer = xmlAnswer(500);
    for (auto _ : state) {
        TChannel ch;
        ch.Caption = QStringLiteral("1. Das Erste");
        benchmark::DoNotOptimize(ParseEPG(ch, answer));
    }
    state.SetBytesProcessed(state.iterations() * answer.size() * 2);
}
BENCHMARK(BM_Xml500);

static void BM_BouquetLines1000(benchmark::State& state) {
    QString tv;
    for (int k = 0; k < 1000; ++k)
        tv += QStringLiteral("%1 43b%2 Channel name %1\r\n").arg(k + 1).arg(k, 5, 10, QLatin1Char('0'));
    for (auto _ : state)
        benchmark::DoNotOptimize(buildChannels(combineBouquetAnswers(tv, QString())));
}
BENCHMARK(BM_BouquetLines1000);

// The all-channel load as first written: every line against every channel of the box
// (lines x channels comparisons), kept beside the hashed match to show what the hash saves.
int naiveAllChannel(const QString& answer, const QList<TChannelRef>& channels) {
    int filled = 0;
    const qint64 now = kStart + 600;
    for (const QString& line : answer.split(QStringLiteral("\r\n"))) {
        for (const TChannelRef& ch : channels) {
            if (!ch->NowEPG.EventId.isEmpty())
                continue;
            if (line.section(QLatin1Char(' '), 0, 0) != ch->Id)
                continue;
            const TAllChannelLine f = splitAllChannelLine(line);
            TChannelProgram p;
            p.DurationMin = QString::number(f.Duration.toLongLong() / 60);
            p.DurationSec = f.Duration;
            p.EventId = f.EventId;
            p.StartDate = BoxTimeToLocal(f.Start, f.Duration, false, p);
            p.StartClock = BoxTimeToLocal(f.Start, f.Duration, true, p);
            computeElapsed(p, now);
            p.Title = f.Title;
            ch->NowEPG = std::move(p);
            ++filled;
        }
    }
    return filled;
}

// 2000 channels against a 2000-line answer, one line per channel, in reverse box order so a
// naive walk finds nothing early.
QString reversedAnswer(int channels) {
    QString out;
    for (int k = channels - 1; k >= 0; --k)
        out += QStringLiteral("43b%1 %2 3600 %3 Programme title number %1\r\n")
                   .arg(k, 5, 10, QLatin1Char('0'))
                   .arg(kStart)
                   .arg(10000 + k);
    return out;
}

static void BM_AllChannel2000_Naive(benchmark::State& state) {
    const QString answer = reversedAnswer(2000);
    QList<TChannelRef> channels;
    for (auto _ : state) {
        // Fresh records each round, made and the old ones freed outside the measured time.
        state.PauseTiming();
        channels = makeChannels(2000);
        state.ResumeTiming();
        benchmark::DoNotOptimize(naiveAllChannel(answer, channels));
    }
}
BENCHMARK(BM_AllChannel2000_Naive)->Unit(benchmark::kMillisecond);

static void BM_AllChannel2000_Hashed(benchmark::State& state) {
    const QString answer = reversedAnswer(2000);
    QList<TChannelRef> channels;
    for (auto _ : state) {
        // Fresh records each round, made and the old ones freed outside the measured time.
        state.PauseTiming();
        channels = makeChannels(2000);
        state.ResumeTiming();
        benchmark::DoNotOptimize(ParseAllChannelEPG(answer, channels));
    }
}
BENCHMARK(BM_AllChannel2000_Hashed)->Unit(benchmark::kMicrosecond);

// The XML walk as first written: cut each block off the front of the text (a copy of the whole
// rest per programme), then read its tags.
int naiveXml(QString text) {
    int count = 0;
    const qint64 now = kStart + 600;
    while (text.contains(QStringLiteral("<prog>"))) {
        const qsizetype b = text.indexOf(QStringLiteral("<prog>"));
        const qsizetype e = text.indexOf(QStringLiteral("</prog>"));
        const QString block = text.mid(b, e - b);
        // A copy of the rest, as deleting from the front of a string does in general (Qt 6 alone
        // can drop a prefix of an unshared string by moving its start).
        text = text.mid(e + 8);
        TChannelProgram p;
        p.Index = count;
        p.EventId = TagValue(block, u"<eventid>", u"</eventid>");
        const qint64 m = TagValue(block, u"<duration_min>", u"</duration_min>").toLongLong();
        p.DurationMin = QString::number(m);
        p.DurationSec = QString::number(m * 60);
        p.StartDate = BoxTimeToLocal(TagValue(block, u"<start_sec>", u"</start_sec>"), p.DurationSec, false, p);
        computeElapsed(p, now);
        p.StartClock = TagValue(block, u"<start_t>", u"</start_t>");
        p.Title = TagValue(block, u"<description>", u"</description>").remove(QStringLiteral("Interpret: "));
        p.Info1 = TagValue(block, u"<info1>", u"</info1>");
        p.Info2 = TagValue(block, u"<info2>", u"</info2>");
        benchmark::DoNotOptimize(p);
        ++count;
    }
    return count;
}

static void BM_Xml500_NaiveErase(benchmark::State& state) {
    const QString answer = xmlAnswer(500);
    for (auto _ : state)
        benchmark::DoNotOptimize(naiveXml(answer));
    state.SetBytesProcessed(state.iterations() * answer.size() * 2);
}
BENCHMARK(BM_Xml500_NaiveErase)->Unit(benchmark::kMicrosecond);

static void BM_Xml500_Linear(benchmark::State& state) {
    const QString answer = xmlAnswer(500);
    for (auto _ : state)
        benchmark::DoNotOptimize(ParseEPGXml(answer));
    state.SetBytesProcessed(state.iterations() * answer.size() * 2);
}
BENCHMARK(BM_Xml500_Linear)->Unit(benchmark::kMicrosecond);

// The 10 s EPG tick: every channel of a 2000-channel bouquet with a day of 30-minute programmes,
// the clock moving on by 10 s per tick (a programme boundary every 180 ticks).
static void BM_UpdateNowNext2000(benchmark::State& state) {
    QList<TChannelRef> channels = makeChannels(2000);
    QString day = QStringLiteral("<epglist>\n");
    for (int k = 0; k < 48; ++k)
        day += QStringLiteral("<prog>\n<eventid>%1</eventid>\n<start_sec>%2</start_sec>\n<start_t>x</start_t>\n"
                              "<duration_min>30</duration_min>\n<description>T%1</description>\n</prog>\n")
                   .arg(k)
                   .arg(kStart + k * 1800);
    const std::optional<QList<TChannelProgram>> programs = ParseEPGXml(day);
    for (const TChannelRef& ch : channels) {
        ch->EPG = *programs;
        ch->EPGCount = static_cast<int32_t>(programs->size());
        ch->NowEPG = ch->EPG[0];
        ch->NextEPG = ch->EPG[1];
    }
    qint64 now = kStart + 60;
    for (auto _ : state) {
        int moved = 0;
        for (const TChannelRef& ch : channels)
            moved += UpdateNowNext(ch.get(), now) ? 1 : 0;
        benchmark::DoNotOptimize(moved);
        now += 10;
        if (now > kStart + 47 * 1800) {
            state.PauseTiming();
            now = kStart + 60;
            for (const TChannelRef& ch : channels) {
                ch->NowEPG = ch->EPG[0];
                ch->NextEPG = ch->EPG[1];
            }
            state.ResumeTiming();
        }
    }
}
BENCHMARK(BM_UpdateNowNext2000)->Unit(benchmark::kMicrosecond);

// A PID list at the answer cap, in about two million lines with its end line last, and a
// streaminfo answer as long: what the window thread parses during a switch.
QString hugeLines(const QString& head, const QString& tail) {
    const QString line = QStringLiteral("256 dts\r\n");
    QString out = head;
    const qsizetype count = TIEHTTP::kMaxAnswerBytes / line.size() / 2;
    out.reserve(head.size() + count * line.size() + tail.size());
    for (qsizetype i = 0; i < count; ++i)
        out += line;
    return out + tail;
}

static void BM_StreamInfoHuge(benchmark::State& state) {
    const QString pids = hugeLines(QStringLiteral("255\n"), QStringLiteral("512 vtxt\n100 pmt"));
    const QString info = hugeLines(QStringLiteral("720\n576\n5000000\n4:3\n25\nMPEG stereo\n"), QString());
    for (auto _ : state)
        benchmark::DoNotOptimize(parseStreamInfo(info, pids, AppMode::Live, {}));
}
BENCHMARK(BM_StreamInfoHuge)->Unit(benchmark::kMillisecond);

// The walk as first written: both answers split into a list of lines first, and each PID line
// upper-cased into a copy to look for the end.
static void BM_StreamInfoHuge_SplitAll(benchmark::State& state) {
    const QString pids = hugeLines(QStringLiteral("255\n"), QStringLiteral("512 vtxt\n100 pmt"));
    const QString info = hugeLines(QStringLiteral("720\n576\n5000000\n4:3\n25\nMPEG stereo\n"), QString());
    for (auto _ : state) {
        const QStringList infoLines = splitAnswerLines(info);
        const QStringList pidLines = splitAnswerLines(pids);
        qsizetype end = 1;
        while (end < pidLines.size()) {
            const QString upper = pidLines[end].toUpper();
            if (upper.contains(QLatin1String("VTXT")) || upper.contains(QLatin1String("PMT")))
                break;
            ++end;
        }
        benchmark::DoNotOptimize(infoLines.size() + end);
    }
}
BENCHMARK(BM_StreamInfoHuge_SplitAll)->Unit(benchmark::kMillisecond);

// The simulator's "huge" answer: one line repeated up to the answer cap.
static QString answerAtTheCap() {
    const QString line = QStringLiteral("huge answer line, repeated to fill the body\r\n");
    QString text;
    text.reserve(TIEHTTP::kMaxAnswerBytes);
    while (text.size() + line.size() <= TIEHTTP::kMaxAnswerBytes)
        text += line;
    return text;
}

// What the request layer does with an answer at the cap once it has arrived: its line ends made
// CR LF for the caller, who looks for the time-out text in it.
static void BM_AnswerAtTheCap(benchmark::State& state) {
    const QString text = answerAtTheCap();
    for (auto _ : state) {
        const QString joined = joinAnswerLines(text);
        benchmark::DoNotOptimize(joined.contains(QLatin1String("timeout")));
    }
}
BENCHMARK(BM_AnswerAtTheCap)->Unit(benchmark::kMillisecond);

// The same as first written: a string for every line, then joined back.
static void BM_AnswerAtTheCap_SplitJoin(benchmark::State& state) {
    const QString text = answerAtTheCap();
    for (auto _ : state) {
        const QString joined = splitAnswerLines(text).join(QStringLiteral("\r\n"));
        benchmark::DoNotOptimize(joined.contains(QLatin1String("timeout")));
    }
}
BENCHMARK(BM_AnswerAtTheCap_SplitJoin)->Unit(benchmark::kMillisecond);

// A bouquet of two answers at the cap, read up to the channel limit, beside the whole split.
static void BM_BouquetHuge(benchmark::State& state) {
    const QString answer = QStringLiteral("1 id name\r\n").repeated(1'500'000);
    for (auto _ : state)
        benchmark::DoNotOptimize(combineBouquetAnswers(answer, answer, TBouquetModel::kMaxChannelLines));
}
BENCHMARK(BM_BouquetHuge)->Unit(benchmark::kMillisecond);

static void BM_BouquetHuge_Whole(benchmark::State& state) {
    const QString answer = QStringLiteral("1 id name\r\n").repeated(1'500'000);
    for (auto _ : state)
        benchmark::DoNotOptimize(combineBouquetAnswers(answer, answer));
}
BENCHMARK(BM_BouquetHuge_Whole)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
