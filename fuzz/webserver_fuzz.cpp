// The receiver's web-server settings page "Y_Settings_nhttpd.yhtm".
#include "box/webserver.h"

#include "fuzzutil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString page = fuzz::text(fuzz::bytes(data, size));
    const std::optional<WebServerSettings> s = parseWebServerPage(page);
    if (!s)
        return 0;
    // Every value goes back to the receiver in the update request: no quotes, no control bytes.
    for (const QString& v : s->values) {
        FUZZ_CHECK(!fuzz::hasControl(v));
        FUZZ_CHECK(!v.contains(QLatin1Char('"')));
    }
    bool ok = false;
    const int port = s->value("port").toInt(&ok);
    FUZZ_CHECK(ok && port >= 1 && port <= 65535);
    return 0;
}
