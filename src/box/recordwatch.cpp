#include "box/recordwatch.h"

#include "box/boxcommands.h"
#include "core/log.h"

RecordWatch::RecordWatch(BoxRequestFn request)
    : m_request(std::move(request)) {}

bool RecordWatch::check() {
    if (!m_request)
        return false;
    const QString answer = m_request(BoxURL(QStringLiteral("http://<IP:PORT>/control/setmode?status")));
    if (answer != QLatin1String("on") && answer != QLatin1String("off"))
        return false;
    const bool now = answer == QLatin1String("on");
    const bool changed = m_recording.has_value() && *m_recording != now;
    if (!m_recording || changed)
        Log(LogMsgDet, now ? QStringLiteral("the receiver records") : QStringLiteral("the receiver does not record"));
    m_recording = now;
    return changed;
}
