#include "playback/vlcapi.h"

#include <QDir>

#include <algorithm>

// The parts of the engine adapter that need no libvlc: result texts and the option names.

QString VLC_Error(int code) {
    switch (code) {
    case VLC_SUCCESS:
        return QStringLiteral("no error");
    case VLC_ENOMEM:
        return QStringLiteral("not enough memory");
    case VLC_ETHREAD:
        return QStringLiteral("thread error");
    case VLC_ETIMEOUT:
        return QStringLiteral("timeout");
    case VLC_ENOMOD:
        return QStringLiteral("module not found");
    case VLC_ENOOBJ:
        return QStringLiteral("object not found");
    case VLC_EBADVAR:
        return QStringLiteral("bad variable value");
    case VLC_EGENERIC:
        return QStringLiteral("generic error");
    default:
        return QStringLiteral("unknown error");
    }
}

VlcTargetOptions mapTargetOptions(const QStringList& options, const QString& timeshiftDir) {
    VlcTargetOptions out;
    bool deinterlaceFilter = false;
    QString deinterlaceMode;
    const auto valueOf = [](const QString& opt) { return opt.mid(opt.indexOf(QLatin1Char('=')) + 1); };
    for (const QString& opt : options) {
        if (opt.isEmpty())
            continue;
        if (opt.startsWith(QLatin1String(":http-caching=")) || opt.startsWith(QLatin1String(":udp-caching="))) {
            bool ok = false;
            const qint64 ms = valueOf(opt).trimmed().toLongLong(&ok);
            if (ok && ms >= 0)
                out.mediaOptions << QStringLiteral(":network-caching=") + QString::number(std::min<qint64>(ms, 600000));
            else
                out.dropped << opt;
        } else if (opt == QLatin1String(":vout-filter=deinterlace")) {
            deinterlaceFilter = true;
        } else if (opt.startsWith(QLatin1String(":deinterlace-mode="))) {
            deinterlaceMode = valueOf(opt).trimmed();
        } else if (opt == QLatin1String(":access-filter=timeshift") ||
                   opt.startsWith(QLatin1String(":timeshift-force"))) {
            out.dropped << opt; // time shift is built into libvlc 3
        } else if (opt.startsWith(QLatin1String(":timeshift-dir="))) {
            const QString dir = timeshiftDir.isEmpty() ? QDir::tempPath() : timeshiftDir;
            out.mediaOptions << QStringLiteral(":input-timeshift-path=") + dir;
        } else if (opt.startsWith(QLatin1String(":timeshift-granularity="))) {
            bool ok = false;
            const qint64 mib = valueOf(opt).trimmed().toLongLong(&ok);
            // libvlc 3 counts bytes in an int; 1 .. 2047 MiB fits.
            if (ok && mib > 0 && mib < 2048)
                out.mediaOptions << QStringLiteral(":input-timeshift-granularity=") +
                                        QString::number(mib * 1024 * 1024);
            else
                out.dropped << opt;
        } else {
            out.mediaOptions << opt;
        }
    }
    if (deinterlaceFilter) {
        out.deinterlaceMode = deinterlaceMode.isEmpty() ? QStringLiteral("blend") : deinterlaceMode;
        // libvlc 3's "mean" averages each pair of lines into one: a picture of half the height,
        // which its video output scales back up in software wherever the display cannot, a bicubic
        // pass over every picture that cost a third of the playing CPU. "blend" averages the same
        // lines at full height: the same picture without the pass.
        if (out.deinterlaceMode == QLatin1String("mean"))
            out.deinterlaceMode = QStringLiteral("blend");
    } else if (!deinterlaceMode.isEmpty())
        out.dropped << QStringLiteral(":deinterlace-mode=") + deinterlaceMode; // the mode alone never filtered
    return out;
}
