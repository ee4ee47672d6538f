// One channel's EPG XML answer.
#include "box/epgparse.h"

#include "fuzzutil.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray in = fuzz::bytes(data, size);
    const QString text = fuzz::text(in);
    const std::optional<QList<TChannelProgram>> programs = ParseEPGXml(text);
    if (programs) {
        FUZZ_CHECK(programs->size() <= TChannel::kEPGSlots);
        for (const TChannelProgram& p : *programs)
            if (p.hasStart())
                FUZZ_CHECK(p.EndSec >= p.StartSec);
    }
    (void)TagValue(text, u"<eventid>", u"</eventid>");
    (void)TagValue(text, u"<description>", u"</description>");

    TChannel channel;
    channel.Id = QStringLiteral("43700016d66");
    const int count = ParseEPG(channel, in);
    FUZZ_CHECK(count >= -1 && count <= TChannel::kEPGSlots);
    FUZZ_CHECK(channel.EPG.size() <= TChannel::kEPGSlots);
    FUZZ_CHECK(channel.EPGCount >= 0 && channel.EPGCount <= TChannel::kEPGSlots);
    for (int k = -1; k <= channel.EPGCount; ++k)
        (void)channel.slot(k);
    (void)UpdateNowNext(&channel, 1700000000);
    FUZZ_CHECK(channel.NowEPG.Index >= 0 && channel.NowEPG.Index <= std::max(0, channel.EPGCount - 1));
    return 0;
}
