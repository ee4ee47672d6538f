// The all-channel "epg?ext" answer.
#include "box/epgparse.h"

#include "fuzzutil.h"

#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray in = fuzz::bytes(data, size);
    QList<TChannelRef> channels;
    for (const char* id : {"43700016d66", "437000273f2", "1", "", "0"}) {
        auto c = std::make_shared<TChannel>();
        c->Id = QLatin1String(id);
        channels.append(c);
    }
    const int filled = ParseAllChannelEPG(in, channels);
    FUZZ_CHECK(filled >= 0 && filled <= channels.size());
    for (const TChannelRef& c : channels) {
        FUZZ_CHECK(!fuzz::hasLineBreak(c->NowEPG.Title));
        // Filled only from a line that names it.
        if (!c->NowEPG.EventId.isEmpty())
            FUZZ_CHECK(in.contains(c->Id.toLatin1()));
        if (c->NowEPG.hasStart())
            FUZZ_CHECK(c->NowEPG.EndSec >= c->NowEPG.StartSec);
    }
    for (const QString& line : splitAnswerLines(fuzz::text(in))) {
        const TAllChannelLine l = splitAllChannelLine(line);
        FUZZ_CHECK(!l.Id.contains(QLatin1Char(' ')));
        TChannelProgram prog;
        const QString shown = BoxTimeToLocal(l.Start, l.Duration, true, prog);
        FUZZ_CHECK(shown.isEmpty() || shown.size() == 5);
        if (!shown.isEmpty())
            FUZZ_CHECK(prog.EndSec >= prog.StartSec);
    }
    return 0;
}
