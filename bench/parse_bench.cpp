// Parser costs: the all-channel now answer of a large bouquet, a full per-channel XML list, and a
// bouquet answer into channel records.
#include "box/bouquets.h"
#include "box/epgparse.h"

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

BENCHMARK_MAIN();
