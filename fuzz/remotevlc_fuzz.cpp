// The remote VLC's main page of the old HTTP interface.
#include "playback/remotevlc.h"

#include "fuzzutil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString page = fuzz::text(fuzz::bytes(data, size));
    const QString item = playItemFromPage(page);
    FUZZ_CHECK(!item.contains(QLatin1Char('"')));
    FUZZ_CHECK(item == item.trimmed());
    FUZZ_CHECK(item.size() <= page.size());
    // Only a number ever goes into the play request.
    const QString chosen = playItemFor(page, QStringLiteral("http://10.0.0.9:31339/0,0x0064"));
    for (const QChar c : chosen)
        FUZZ_CHECK(c >= QLatin1Char('0') && c <= QLatin1Char('9'));
    // Whatever the page held, the value survives the Lua query encoding whole.
    const QString q = luaQueryValue(item);
    FUZZ_CHECK(!q.contains(QLatin1Char('&')) && !q.contains(QLatin1Char('=')) && !q.contains(QLatin1Char(' ')));
    return 0;
}
