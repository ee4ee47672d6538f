// Fill and paint of the channel overlay's list and of the channel box for a 2000-channel
// bouquet, offscreen into an image: one frame of scrolling each (target well under 16 ms).
#include "../tests/ui/osdtesthost.h"
#include "core/options.h"
#include "ui/channelbox.h"
#include "ui/channellist.h"
#include "ui/osdchannels.h"
#include "ui/osdcontroller.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QScrollBar>
#include <QTest>
#include <benchmark/benchmark.h>

namespace {

constexpr int kChannels = 2000;

QList<TChannelRef> bigBouquet() {
    QList<TChannelRef> list;
    for (int i = 0; i < kChannels; ++i) {
        auto ch = std::make_shared<TChannel>();
        ch->Caption = QStringLiteral("Channel number %1").arg(i);
        ch->ListIndex = i;
        ch->Mode = i % 7 == 0 ? mRadio : mTV;
        TChannelProgram& now = ch->NowEPG;
        now.StartClock = QStringLiteral("20:15");
        now.Title = QStringLiteral("The evening programme %1").arg(i);
        now.DurationMin = QStringLiteral("90");
        now.ElapsedMin = QString::number(i % 90);
        now.DurationSec = QStringLiteral("5400");
        now.ElapsedSec = QString::number((i % 90) * 60);
        now.Info2 = QStringLiteral("Titel: Song %1\nAlbum\nLabel\nJahr: 2001").arg(i);
        ch->NextEPG.StartClock = QStringLiteral("21:45");
        ch->NextEPG.Title = QStringLiteral("Late news");
        ch->NextEPG.DurationMin = QStringLiteral("15");
        list.append(ch);
    }
    return list;
}

// Filling the overlay's list with the bouquet (model reset and select the channel shown), then one
// frame of the visible rows.
void BM_ChannelOverlayFillAndPaint(benchmark::State& state) {
    OsdTestHost host;
    const QList<TChannelRef> channels = bigBouquet();
    quoxel::OsdController osd(host);
    quoxel::TFrmOSD_Channels& chs = osd.FrmOSD_Channels();
    ChannelListView* list = chs.LbxChannels();
    chs.show();
    QImage img(list->viewport()->size(), QImage::Format_ARGB32_Premultiplied);
    int row = 0;
    for (auto _ : state) {
        host.model.setChannels(channels);
        list->setChannelModel(&host.model);
        list->showRow(row);
        row = (row + 37) % kChannels;
        list->viewport()->render(&img);
        benchmark::DoNotOptimize(img.constBits());
    }
}
BENCHMARK(BM_ChannelOverlayFillAndPaint)->Unit(benchmark::kMillisecond);

// One scroll step of the overlay's list: a page down and the frame of the new rows.
void BM_ChannelOverlayScrollFrame(benchmark::State& state) {
    OsdTestHost host;
    host.model.setChannels(bigBouquet());
    quoxel::OsdController osd(host);
    ChannelListView* list = osd.FrmOSD_Channels().LbxChannels();
    osd.FrmOSD_Channels().show();
    list->setChannelModel(&host.model);
    QImage img(list->viewport()->size(), QImage::Format_ARGB32_Premultiplied);
    state.counters["rows"] = list->pageRows();
    state.counters["width"] = list->viewport()->width();
    for (auto _ : state) {
        if (list->verticalScrollBar()->value() >= list->verticalScrollBar()->maximum())
            list->verticalScrollBar()->setValue(0);
        list->pageDown();
        list->viewport()->render(&img);
        benchmark::DoNotOptimize(img.constBits());
    }
}
BENCHMARK(BM_ChannelOverlayScrollFrame)->Unit(benchmark::kMicrosecond);

// The channel box: filling it with the bouquet and drawing a dropped-down page of 30 rows plus the
// closed box.
void BM_ChannelBoxFillAndPaint(benchmark::State& state) {
    const QList<TChannelRef> channels = bigBouquet();
    ChannelModel model;
    TComboBoxQuoxel box;
    box.resize(400, 24);
    QImage img(400, 30 * 16, QImage::Format_ARGB32_Premultiplied);
    QImage closed(box.size(), QImage::Format_ARGB32_Premultiplied);
    int top = 0;
    for (auto _ : state) {
        model.setChannels(channels);
        box.setChannelModel(&model);
        box.setCurrentIndex(top);
        QPainter p(&img);
        for (int r = 0; r < 30; ++r)
            ChannelBoxDelegate::drawChannelRow(&p, QRect(0, r * 16, 400, 16), model.index(top + r), box.palette(),
                                               r == 0);
        p.end();
        box.render(&closed);
        top = (top + 30) % (kChannels - 30);
        benchmark::DoNotOptimize(img.constBits());
    }
}
BENCHMARK(BM_ChannelBoxFillAndPaint)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Options.OsdShowTime = QStringLiteral("3000");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
