// The HTTP engine's answer handling that needs no socket: content decoding under the cap, the
// answer split into lines, and URLs as a receiver's redirect or a user could write them.
#include "box/httpengine.h"

#include "fuzzutil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray in = fuzz::bytes(data, size);
    // A cap small enough that a short bomb in the input reaches it.
    const qint64 cap = 64 * 1024;
    for (InflateFormat format : {InflateFormat::Zlib, InflateFormat::Gzip, InflateFormat::Raw, InflateFormat::Auto}) {
        QByteArray out;
        const InflateResult r = inflateCapped(in, format, cap, &out);
        FUZZ_CHECK(out.size() <= cap);
        if (r == InflateResult::Cut)
            FUZZ_CHECK(out.size() == cap);
    }

    const QStringList lines = splitAnswerLines(QString::fromLatin1(in));
    qsizetype total = 0;
    for (const QString& line : lines) {
        FUZZ_CHECK(!fuzz::hasLineBreak(line));
        total += line.size();
    }
    FUZZ_CHECK(total <= in.size());

    const QString url = QString::fromUtf8(in.left(4096));
    const SplitUrl split = splitUrl(url);
    if (split.valid) {
        FUZZ_CHECK(split.port > 0 && split.port <= 65535);
        FUZZ_CHECK(split.path.startsWith('/'));
        FUZZ_CHECK(split.query.isEmpty() || split.query.startsWith('?'));
        for (char c : split.url)
            FUZZ_CHECK(static_cast<unsigned char>(c) > 0x20 && c != 0x7f);
        // The credentials never reach curl: no user part before the host.
        const qsizetype hostAt = split.url.indexOf("://") + 3;
        const qsizetype hostEnd = split.url.indexOf('/', hostAt);
        FUZZ_CHECK(!split.url.mid(hostAt, hostEnd < 0 ? -1 : hostEnd - hostAt).contains('@'));
    } else {
        FUZZ_CHECK(split.errorCode == 12005 || split.errorCode == 12006);
    }
    (void)multipartBase64(in);
    return 0;
}
