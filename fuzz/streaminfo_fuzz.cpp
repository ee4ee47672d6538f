// "info?streaminfo" and "zapto?getallpids", then the stream address built from them.
#include "playback/streamsetup.h"

#include "fuzzutil.h"

#include <QRegularExpression>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray in = fuzz::bytes(data, size);
    const auto mode = static_cast<AppMode>(in.isEmpty() ? 0 : (static_cast<unsigned char>(in[0]) >> 1) % 3);
    const auto [info, pids] = fuzz::halves(in);
    const StreamSettings settings;
    const ParsedStreamInfo parsed = parseStreamInfo(fuzz::text(info), fuzz::text(pids), mode, settings);
    FUZZ_CHECK(parsed.info.AudioSlotsUsed >= 0 && parsed.info.AudioSlotsUsed <= TStreamInfo::kAudioSlots);
    if (parsed.menu) {
        FUZZ_CHECK(parsed.menu->size() <= TStreamInfo::kAudioSlots);
        for (const TAudioMenuItem& item : *parsed.menu) {
            FUZZ_CHECK(item.Slot >= 0 && item.Slot < TStreamInfo::kAudioSlots);
            FUZZ_CHECK(!fuzz::hasLineBreak(item.Caption));
        }
    }
    static const QRegularExpression hexPid(QStringLiteral("^0x[0-9A-F]{4}$"));
    for (const QString& pid : {parsed.info.VideoPid, parsed.info.PmtPid, parsed.info.AudioPids[0]}) {
        if (const std::optional<QString> h = hex4(pid))
            FUZZ_CHECK(hexPid.match(*h).hasMatch());
    }
    (void)scaledDimension(settings.VScale, parsed.info.Resolution.section(QLatin1Char('x'), 0, 0));
    if (parsed.pidsComplete) {
        for (int type = 0; type < 2; ++type)
            if (const std::optional<QString> url = buildLiveURL(parsed.info, mTV, mode, type))
                FUZZ_CHECK(!fuzz::hasLineBreak(*url));
    }
    return 0;
}
