// "zapto?getallsubchannels" of a portal channel.
#include "playback/subchannels.h"

#include "fuzzutil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString answer = fuzz::text(fuzz::bytes(data, size));
    const QList<TSubChannelLine> lines = parseSubChannels(answer, 100);
    FUZZ_CHECK(lines.size() <= 100);
    for (const TSubChannelLine& l : lines) {
        // The id goes into a zap request as it stands.
        FUZZ_CHECK(!l.Id.isEmpty());
        FUZZ_CHECK(!fuzz::hasControl(l.Id) && !l.Id.contains(QLatin1Char(' ')));
        for (QChar c : QStringView(u"&#?/%+"))
            FUZZ_CHECK(!l.Id.contains(c));
        FUZZ_CHECK(!l.Name.contains(QLatin1Char('\n'))); // lines end at LF; a lone CR is text
    }
    (void)isPortalChannel(answer.left(64));
    return 0;
}
