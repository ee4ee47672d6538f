#include "box/webserver.h"

#include "box/boxcommands.h"

namespace {

constexpr char kSaveSuffix[] =
    "&tmpl=Y_Settings_nhttpd.yhtm&execute=include-block%3AY_Blocks.txt%3Bnhttpd_save_settings%3Bnix";
// No real settings value comes near this; a longer one means the page is not what we think.
constexpr qsizetype kMaxValue = 1024;

} // namespace

std::optional<int> webServerPort(const QString& text) {
    const QString t = text.trimmed();
    if (t.isEmpty() || t.size() > 10)
        return std::nullopt;
    for (const QChar c : t) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    }
    const qint64 v = t.toLongLong();
    if (v < 1 || v > 65535)
        return std::nullopt;
    return int(v);
}
const std::array<const char*, WebServerSettings::kFieldCount>& WebServerSettings::fieldNames() {
    static const std::array<const char*, kFieldCount> names{
        "authuser",  "authpassword",       "noauthclient",  "authenticate", "port",
        "threading", "hosteddocumentroot", "ExtrasDocRoot", "ExtrasDocURL", "no_keep_alive_ips"};
    return names;
}

QString WebServerSettings::value(const char* name) const {
    for (int i = 0; i < kFieldCount; ++i) {
        if (qstrcmp(fieldNames()[i], name) == 0)
            return values[i];
    }
    return QString();
}

std::optional<WebServerSettings> parseWebServerPage(const QString& page) {
    WebServerSettings out;
    for (int i = 0; i < WebServerSettings::kFieldCount; ++i) {
        const QString marker =
            QStringLiteral("name=\"") + QLatin1String(WebServerSettings::fieldNames()[i]) + QLatin1Char('"');
        const qsizetype at = page.indexOf(marker);
        if (at < 0)
            return std::nullopt;
        // The value sits 7 characters behind value= and ends 9 characters before title=: value="X" id=fNN title=
        const qsizetype valueAt = page.indexOf(QLatin1String("value="), at);
        const qsizetype titleAt = page.indexOf(QLatin1String("title="), at);
        if (valueAt < 0 || titleAt < 0)
            return std::nullopt;
        const qsizetype begin = valueAt + 7;
        const qsizetype end = titleAt - 9;
        if (end < begin || end - begin > kMaxValue)
            return std::nullopt;
        const QString v = page.mid(begin, end - begin);
        if (hasControlCharacter(v) || v.contains(QLatin1Char('"')))
            return std::nullopt;
        out.values[i] = v;
    }
    const std::optional<int> port = webServerPort(out.values[WebServerSettings::kPort]);
    if (!port)
        return std::nullopt;
    // Blanks around the number (any kind) are not sent back in the update.
    out.values[WebServerSettings::kPort] = QString::number(*port);
    return out;
}

WebServerUpdate webServerUpdate(const WebServerSettings& settings) {
    QString query;
    QString logged;
    for (int i = 0; i < WebServerSettings::kFieldCount; ++i) {
        const QString name = QLatin1String(WebServerSettings::fieldNames()[i]);
        // Escaped, so a value holding "&" cannot add a field of its own.
        const QString v = encodeQueryValue(settings.values[i]);
        const QString sep = i == 0 ? QString() : QStringLiteral("&");
        query += sep + name + QLatin1Char('=') + v;
        logged += sep + name + QLatin1Char('=') + (i == 1 && !v.isEmpty() ? QStringLiteral("***") : v);
    }
    const QString base = BoxURL(QStringLiteral("http://<IP:PORT>/y/cgi?"));
    const QString suffix = QLatin1String(kSaveSuffix);
    return {base + query + suffix, base + logged + suffix};
}
