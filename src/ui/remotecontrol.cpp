#include "ui/remotecontrol.h"

#include "box/boxcommands.h"
#include "box/httpengine.h"
#include "core/log.h"
#include "core/options.h"
#include "telnet/telnetsession.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QTimer>

namespace {

// clang-format off
constexpr std::array<RemoteKeyRect, 26> kKeys{{
    {"KEY_1", 52, 68, 47, 63},        {"KEY_2", 74, 90, 42, 58},       {"KEY_3", 95, 111, 41, 57},
    {"KEY_4", 52, 68, 70, 86},        {"KEY_5", 73, 89, 65, 81},       {"KEY_6", 94, 110, 62, 78},
    {"KEY_7", 51, 67, 94, 110},       {"KEY_8", 74, 90, 88, 104},      {"KEY_9", 95, 111, 85, 101},
    {"KEY_0", 51, 67, 118, 134},      {"KEY_POWER", 12, 42, 50, 62},   {"KEY_HOME", 12, 42, 74, 86},
    {"KEY_SETUP", 12, 42, 97, 109},   {"KEY_RED", 11, 33, 185, 207},   {"KEY_GREEN", 27, 49, 162, 184},
    {"KEY_YELLOW", 50, 72, 143, 165}, {"KEY_BLUE", 90, 112, 129, 151}, {"KEY_UP", 50, 83, 202, 212},
    {"KEY_DOWN", 50, 83, 263, 273},   {"KEY_LEFT", 29, 39, 221, 254},  {"KEY_RIGHT", 93, 103, 221, 254},
    {"KEY_OK", 49, 75, 221, 247},     {"KEY_VOLUMEUP", 10, 26, 263, 279}, {"KEY_VOLUMEDOWN", 22, 38, 285, 301},
    {"KEY_MUTE", 53, 69, 312, 328},   {"KEY_HELP", 91, 115, 323, 347},
}};
// clang-format on

constexpr int kPictureWidth = 128;
constexpr int kPictureHeight = 480;
// A screen picture larger than this is no d-box screenshot; not decoded.
constexpr int kMaxShotSide = 4096;

QString label(const char* key) {
    const QString k = QString::fromLatin1(key).mid(4);
    if (k.size() == 1)
        return k;
    if (k == QLatin1String("VOLUMEUP"))
        return QStringLiteral("+");
    if (k == QLatin1String("VOLUMEDOWN"))
        return QStringLiteral("-");
    if (k == QLatin1String("UP") || k == QLatin1String("DOWN") || k == QLatin1String("LEFT") ||
        k == QLatin1String("RIGHT") || k.endsWith(QLatin1String("RED")) || k == QLatin1String("GREEN") ||
        k == QLatin1String("YELLOW") || k == QLatin1String("BLUE"))
        return QString();
    return k.left(k == QLatin1String("HELP") ? 1 : 3).toLower();
}

QColor keyColour(const QString& key) {
    if (key == QLatin1String("KEY_RED"))
        return QColor(200, 30, 30);
    if (key == QLatin1String("KEY_GREEN"))
        return QColor(30, 160, 60);
    if (key == QLatin1String("KEY_YELLOW"))
        return QColor(220, 200, 30);
    if (key == QLatin1String("KEY_BLUE"))
        return QColor(40, 70, 200);
    if (key == QLatin1String("KEY_POWER"))
        return QColor(150, 30, 30);
    return QColor(70, 70, 78);
}

} // namespace

QImage decodeScreenPicture(const QByteArray& bmp, int maxSide) {
    const auto le32 = [&bmp](qsizetype at) {
        return qint64(qint32(quint8(bmp[at]) | quint8(bmp[at + 1]) << 8 | quint8(bmp[at + 2]) << 16 |
                             quint32(quint8(bmp[at + 3])) << 24));
    };
    const auto le16 = [&bmp](qsizetype at) { return int(quint8(bmp[at]) | quint8(bmp[at + 1]) << 8); };
    // File header (14) and the info header's fields up to the colour count (50).
    if (bmp.size() < 50 || !bmp.startsWith("BM"))
        return {};
    const qint64 dataAt = le32(10);
    const qint64 infoSize = le32(14);
    const qint64 width = le32(18);
    const qint64 rawHeight = le32(22);
    const qint64 height = qAbs(rawHeight);
    // The header's size is checked before decoding, so a hostile header cannot ask for gigabytes.
    if (infoSize < 40 || width <= 0 || width > maxSide || height <= 0 || height > maxSide)
        return {};
    if (le16(28) != 8) {
        // A file shorter than its header says was cut on the way.
        if (le32(2) > bmp.size())
            return {};
        return QImage::fromData(bmp, "BMP");
    }
    if (le16(26) != 1 || le32(30) != 0)
        return {}; // planes, compression: not what the receiver writes
    qint64 colours = le32(46);
    if (colours == 0)
        colours = 256;
    const qint64 paletteAt = 14 + infoSize;
    if (colours < 0 || colours > 256 || paletteAt + 4 * colours > bmp.size())
        return {};
    QList<QRgb> palette(256, qRgb(0, 0, 0));
    for (qint64 i = 0; i < colours; ++i) {
        const qsizetype at = paletteAt + 4 * i;
        // The fourth byte is the framebuffer's transparency: where nothing is drawn, the TV shows
        // the picture, which the file does not hold.
        if (quint8(bmp[at + 3]) != 0xFF)
            palette[i] = qRgb(quint8(bmp[at + 2]), quint8(bmp[at + 1]), quint8(bmp[at]));
    }
    // Rows by width and height; the image size field is not to be trusted.
    const qint64 stride = (width + 3) / 4 * 4;
    if (dataAt < paletteAt || dataAt + stride * height > bmp.size())
        return {};
    QImage img(int(width), int(height), QImage::Format_RGB32);
    for (qint64 y = 0; y < height; ++y) {
        const auto* src = reinterpret_cast<const quint8*>(bmp.constData() + dataAt + stride * y);
        auto* dst = reinterpret_cast<QRgb*>(img.scanLine(int(rawHeight > 0 ? height - 1 - y : y)));
        for (qint64 x = 0; x < width; ++x)
            dst[x] = palette[src[x]];
    }
    return img;
}

const std::array<RemoteKeyRect, 26>& remoteKeyTable() {
    return kKeys;
}

QStringList remoteKeysAt(QPoint p) {
    QStringList out;
    for (const RemoteKeyRect& r : kKeys) {
        if (r.contains(p))
            out << QString::fromLatin1(r.key);
    }
    return out;
}

QImage paintRemotePicture() {
    QImage img(kPictureWidth, kPictureHeight, QImage::Format_ARGB32);
    img.fill(kRemoteMaskKeyColour);
    QPainter p(&img);
    // The body: no antialiasing at its edge, so the outline has no pixels near the key colour.
    QPainterPath body;
    body.addRoundedRect(QRectF(0, 0, kPictureWidth, kPictureHeight), 10, 10);
    p.fillPath(body, QColor(28, 28, 34));
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QColor(90, 90, 100));
    p.drawLine(8, 30, 120, 30);
    p.drawText(QRect(8, 8, 100, 18), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("d-box"));
    QFont f = p.font();
    f.setPixelSize(9);
    f.setBold(true);
    p.setFont(f);
    for (const RemoteKeyRect& r : kKeys) {
        const QString key = QString::fromLatin1(r.key);
        const QRectF rect(r.xFrom, r.yFrom, r.xTo - r.xFrom + 1, r.yTo - r.yFrom + 1);
        p.setPen(QColor(140, 140, 150));
        p.setBrush(keyColour(key));
        if (rect.width() == rect.height())
            p.drawEllipse(rect.adjusted(0.5, 0.5, -0.5, -0.5));
        else
            p.drawRoundedRect(rect.adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
        p.setPen(Qt::white);
        p.drawText(rect, Qt::AlignCenter, label(r.key));
    }
    return img;
}

QRegion remoteRegion(const QImage& picture, QRgb keyColour) {
    QRegion region;
    const QImage img = picture.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < img.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        int x = 0;
        while (x < img.width()) {
            while (x < img.width() && line[x] == keyColour)
                ++x;
            const int start = x;
            while (x < img.width() && line[x] != keyColour)
                ++x;
            if (x > start)
                region += QRect(start, y, x - start, 1);
        }
    }
    return region;
}

TFrmRemoteControl::TFrmRemoteControl(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("FrmRemoteControl"));
    setFixedSize(130, 500);
    const QImage picture = paintRemotePicture();
    m_image = new QLabel(this);
    m_image->setObjectName(QStringLiteral("Image1"));
    m_image->setPixmap(QPixmap::fromImage(picture));
    m_image->setGeometry(0, 0, picture.width(), picture.height());
    m_image->setMouseTracking(true);
    m_image->installEventFilter(this);
    m_close = new QLabel(QStringLiteral("x"), this);
    m_close->setObjectName(QStringLiteral("LblRemoteControlClose"));
    QFont f(QStringLiteral("Verdana"));
    f.setBold(true);
    m_close->setFont(f);
    m_close->setStyleSheet(QStringLiteral("color: white;"));
    m_close->setCursor(Qt::PointingHandCursor);
    m_close->move(113, 6);
    m_close->adjustSize();
    m_close->installEventFilter(this);
    setMask(remoteRegion(picture));
}

void TFrmRemoteControl::placeBeside(const QRect& mainFrame) {
    const QPoint target(mainFrame.left() - width() + 2, mainFrame.top() - 8);
    // Already docked where the user left it: leave it.
    if (pos() != QPoint(mainFrame.left() - width(), mainFrame.top()))
        move(target);
}

bool TFrmRemoteControl::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_image) {
        if (event->type() == QEvent::MouseMove) {
            const QPoint p = static_cast<QMouseEvent*>(event)->position().toPoint();
            m_image->setCursor(remoteKeysAt(p).isEmpty() ? Qt::ArrowCursor : Qt::PointingHandCursor);
        } else if (event->type() == QEvent::MouseButtonPress) {
            Q_EMIT pictureClicked(static_cast<QMouseEvent*>(event)->position().toPoint());
            return true;
        }
    } else if (watched == m_close && event->type() == QEvent::MouseButtonPress) {
        Q_EMIT closeClicked();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

BoxOsdView::BoxOsdView(TOptions& options, BoxClient& box, TelnetSession& telnet, QLabel& imgRealOsd,
                       TFrmRemoteControl& remote, QObject* parent)
    : QObject(parent)
    , m_options(options)
    , m_box(box)
    , m_telnet(telnet)
    , m_img(imgRealOsd)
    , m_remote(remote) {
    m_img.setScaledContents(true);
    connect(&m_remote, &TFrmRemoteControl::pictureClicked, this, &BoxOsdView::pictureMouseDown);
    connect(&m_remote, &TFrmRemoteControl::closeClicked, this, &BoxOsdView::DBoxOSD1Click);
}

void BoxOsdView::wait(int ms) {
    if (ms <= 0)
        return;
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void BoxOsdView::DBoxOSD1Click() {
    if (!m_options.TelnetLoggedIn || (m_isFullscreen && m_isFullscreen()) || m_busy)
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QWidget* panel = m_panel ? m_panel : m_img.parentWidget();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    if (panel) {
        panel->raise();
        panel->repaint();
    }
    if (m_on) {
        if (panel)
            panel->hide();
        m_on = false;
        m_remote.hide();
    } else {
        RefreshBoxScreenshot();
        if (panel)
            panel->show();
        m_on = true;
        if (m_main)
            m_remote.placeBeside(m_main->frameGeometry());
        m_remote.show();
        m_remote.raise();
        if (m_main)
            m_main->setFocus();
    }
    QApplication::restoreOverrideCursor();
    Q_EMIT checkedChanged(m_on);
}

void BoxOsdView::closeView() {
    QWidget* panel = m_panel ? m_panel : m_img.parentWidget();
    if (panel)
        panel->hide();
    m_remote.hide();
    m_on = false;
    Q_EMIT checkedChanged(false);
}

void BoxOsdView::SendRemoteKey(const QString& key) {
    m_box.BoxRequest(BoxURL(QStringLiteral("http://<IP:PORT>/control/rcem?<key>"), QStringLiteral("<key>"), key));
    wait(m_keyWaitMs);
}

namespace {

// An HTTP date ("Sun, 06 Nov 1994 08:49:37 GMT"; a numeric zone is taken too); invalid if none.
QDateTime httpDate(const QString& text) {
    QDateTime t = QLocale::c().toDateTime(text, QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'"));
    if (t.isValid()) {
        t.setTimeSpec(Qt::UTC);
        return t;
    }
    return QDateTime::fromString(text, Qt::RFC2822Date);
}

} // namespace

QByteArray BoxOsdView::fetchPicture(QDateTime* lastModified, QDateTime* date) {
    TIEHTTP& http = m_box.http();
    // The receiver sends the file as cacheable for a day; what the screen shows now is wanted.
    http.ExtraHeaders = {QStringLiteral("Cache-Control: no-cache"), QStringLiteral("Pragma: no-cache")};
    m_box.BoxRequest(BoxURL(QStringLiteral("http://<IP:PORT>/tmp/a.bmp")));
    http.ExtraHeaders.clear();
    *lastModified = QDateTime();
    *date = QDateTime();
    for (const QString& line : http.ResponseHeaders) {
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        if (colon <= 0)
            continue;
        const QString name = line.left(colon).trimmed().toLower();
        const QString value = line.mid(colon + 1).trimmed();
        if (name == QLatin1String("last-modified"))
            *lastModified = httpDate(value);
        else if (name == QLatin1String("date"))
            *date = httpDate(value);
    }
    return http.StatusCode == 200 ? http.ResponseStream : QByteArray();
}

bool BoxOsdView::RefreshBoxScreenshot() {
    if (!m_options.TelnetLoggedIn)
        return false;
    if (m_main)
        m_main->setFocus();
    QElapsedTimer sinceShot;
    sinceShot.start();
    m_telnet.requestScreenshot();
    wait(m_shotWaitMs);
    // The tool writes the file once it has the screen; until then the file of the last shot is
    // served. By the receiver's own clock, a file written before the command went out is old (a
    // second's rounding of the header times allowed); without a date, one not newer than the
    // picture shown is.
    const auto stale = [&](const QDateTime& modified, const QDateTime& date) {
        if (!modified.isValid())
            return false;
        if (date.isValid())
            return modified < date.addMSecs(-sinceShot.elapsed() - 1000);
        return m_pictureTime.isValid() && modified <= m_pictureTime;
    };
    QDateTime modified;
    QDateTime date;
    QByteArray body = fetchPicture(&modified, &date);
    // Not there yet (404 before the tool's first picture) or the file from before: asked again,
    // a few times.
    const auto notYet = [&] {
        return (body.isEmpty() && m_box.http().StatusCode == 404) || (!body.isEmpty() && stale(modified, date));
    };
    for (int i = 0; i < kStaleRetries && notYet(); ++i) {
        wait(kStaleRetryMs);
        body = fetchPicture(&modified, &date);
    }
    const bool renewed = body.isEmpty() || !stale(modified, date);
    const QImage shot = renewed ? decodeScreenPicture(body, kMaxShotSide) : QImage();
    if (shot.isNull()) {
        m_failure = !renewed         ? QStringLiteral("D-Box screen picture not renewed!")
                    : body.isEmpty() ? QStringLiteral("no D-Box screen picture!")
                                     : QStringLiteral("D-Box screen picture unreadable!");
        ShowStatus(m_failure);
        Log(LogFunc, QStringLiteral("RefreshBoxScreenshot: ") + m_failure);
        return false;
    }
    m_failure.clear();
    m_picture = shot;
    m_pictureTime = modified;
    m_img.setPixmap(QPixmap::fromImage(shot));
    return true;
}

void BoxOsdView::pictureMouseDown(QPoint picturePos) {
    if (m_busy)
        return; // a click while the last one still waits for the receiver
    m_busy = true;
    QPointer<BoxOsdView> self(this);
    for (const QString& key : remoteKeysAt(picturePos))
        SendRemoteKey(key);
    if (self)
        RefreshBoxScreenshot();
    if (self)
        m_busy = false;
}
