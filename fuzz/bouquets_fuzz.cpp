// The bouquet list and the TV/radio channel answers of "getbouquet".
#include "box/bouquets.h"

#include "fuzzutil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::pair<QByteArray, QByteArray> parts = fuzz::halves(fuzz::bytes(data, size));
    const QByteArray& tv = parts.first;
    const QByteArray& radio = parts.second;
    const TBouquetLines lines = combineBouquetAnswers(fuzz::text(tv), fuzz::text(radio));
    for (const QString& line : lines.Lines) {
        FUZZ_CHECK(!fuzz::hasLineBreak(line));
        FUZZ_CHECK(!line.trimmed().isEmpty());
        // Only what the receiver lists gets through: its ids go back to it in requests.
        FUZZ_CHECK(line == kRadioMarker || isChannelLine(line));
        const TChannelLine parsed = parseChannelLine(line);
        FUZZ_CHECK(!parsed.Id.contains(QLatin1Char(' ')));
        const QString logo = LogoFilePath(parsed.Id);
        if (!logo.isEmpty()) {
            // "logos/" + id + ".gif"; an id "." or "x." gives "..gif" or "x..gif", still in the folder.
            const QString id = logo.mid(6).chopped(4);
            FUZZ_CHECK(logo.startsWith(QLatin1String("logos/")) && logo.endsWith(QLatin1String(".gif")));
            FUZZ_CHECK(!id.contains(QLatin1Char('/')) && !id.contains(QLatin1String("..")));
        }
    }
    const QList<TChannelRef> channels = buildChannels(lines, 2000);
    FUZZ_CHECK(channels.size() <= lines.Lines.size());
    int previous = -1;
    for (const TChannelRef& c : channels) {
        FUZZ_CHECK(c);
        FUZZ_CHECK(!fuzz::hasLineBreak(c->Caption));
        FUZZ_CHECK(c->LogoFile.isEmpty());
        // One record per line, in order, each built from its own line.
        FUZZ_CHECK(c->ListIndex > previous && c->ListIndex < lines.Lines.size());
        FUZZ_CHECK(!c->Id.isEmpty() && lines.Lines[c->ListIndex].contains(c->Id));
        previous = c->ListIndex;
    }
    // Read only up to a cap, the list is the same up to it and tells the same of what lies past it.
    for (int cap = 0; cap <= 4; ++cap) {
        const TBouquetLines capped = combineBouquetAnswers(fuzz::text(tv), fuzz::text(radio), cap);
        FUZZ_CHECK(capped.StartsInRadio == lines.StartsInRadio);
        FUZZ_CHECK((capped.Lines.size() > cap) == (lines.Lines.size() > cap));
        FUZZ_CHECK(capped.Lines.mid(0, cap) == lines.Lines.mid(0, cap));
    }

    // The same bytes as the bouquet list a model reads through its request function.
    TBouquetModel model([&](const QString& url) -> QString {
        if (url.contains(QLatin1String("getbouquets")))
            return fuzz::text(tv);
        if (url.contains(QLatin1String("actual")))
            return fuzz::text(radio).left(16);
        return url.contains(QLatin1String("RADIO")) ? fuzz::text(radio) : fuzz::text(tv);
    });
    if (model.LoadBouquets()) {
        FUZZ_CHECK(model.bouquets().size() <= TBouquetModel::kMaxBouquets);
        if (!model.bouquets().isEmpty())
            (void)model.SwitchBouquet(0, QStringLiteral("43700016d66"));
    }
    return 0;
}
