#include "ui/osd.h"

#include "core/options.h"
#include "ui/channelmodel.h"
#include "ui/osdtexts.h"

#include <QApplication>
#include <QEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

#include <algorithm>
#include <functional>

namespace quoxel {

namespace {

class ClickLabel final : public QLabel {
public:
    ClickLabel(QWidget* parent, std::function<void()> onClick)
        : QLabel(parent)
        , m_onClick(std::move(onClick)) {
        setCursor(Qt::PointingHandCursor);
    }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && m_onClick)
            m_onClick();
    }

private:
    std::function<void()> m_onClick;
};

} // namespace

EpgBar::EpgBar(QWidget* parent, std::function<TChannelRef()> channel, int extra)
    : QWidget(parent)
    , m_channel(std::move(channel))
    , m_extra(extra) {
    setObjectName(QStringLiteral("CmbEPGBar"));
    setEnabled(false);
}

void EpgBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const TChannelRef ch = m_channel ? m_channel() : nullptr;
    static const TChannelProgram kNone;
    drawEpgBar(painter, rect(), ch ? ch->NowEPG : kNone, m_extra);
}

int osdShowTimeMs() {
    bool ok = false;
    const int ms = Options.OsdShowTime.trimmed().toInt(&ok);
    return ok && ms >= 0 ? ms : 3000;
}

bool isQuoxelMode() {
    return Options.Mode == AppMode::Quoxel;
}

TChannelRef neighbourChannel(const OsdHost& host, const TChannelRef& from, int d) {
    const ChannelModel* model = host.channelModel();
    return model && from ? model->channelAt(from->ListIndex + d) : nullptr;
}

TChannelRef channelToSwitchTo(const OsdHost& host, int row) {
    const ChannelModel* model = host.channelModel();
    return !isQuoxelMode() && model ? model->channelAt(row) : nullptr;
}

double osdScaleFor(const QScreen* screen) {
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return 1.0;
    return osdScaleForSize(screen->geometry().size());
}

double osdScaleForSize(QSize size) {
    if (size.width() <= 0 || size.height() <= 0)
        return 1.0;
    return std::max(1.0, std::min(size.width() / 1024.0, size.height() / 768.0));
}

QColor osdHighlight() {
    return QApplication::palette().color(QPalette::Active, QPalette::Highlight);
}

QColor osdActiveCaption() {
    return osdHighlight().darker(130);
}

TFrmOSD::TFrmOSD(OsdHost& host, QSize designed, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    , m_host(host)
    , m_designed(designed) {
    // A real top-level window above the video's native window; it never goes into the taskbar.
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
    m_timerHide.setInterval(1);
    m_timerHide.setSingleShot(true);
    m_timerShow.setInterval(1);
    m_timerShow.setSingleShot(true);
    m_timerEPGUpdate.setInterval(200);
    connect(&m_timerHide, &QTimer::timeout, this, [this] { CloseOSD(); });
    connect(&m_timerShow, &QTimer::timeout, this, [this] {
        prepareShow();
        ShowNow();
    });
    connect(&m_timerEPGUpdate, &QTimer::timeout, this, [this] {
        if (isVisible())
            refreshTick();
        else
            m_timerEPGUpdate.stop();
    });
}

int TFrmOSD::S(int px) const {
    return static_cast<int>(px * m_scale + 0.5);
}

void TFrmOSD::rebuildForScreen() {
    const double s = osdScaleFor(m_host.osdScreen());
    if (s == m_scale && !children().isEmpty())
        return;
    m_scale = s;
    for (QWidget* w : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        delete w;
    setFixedSize(S(m_designed.width()), S(m_designed.height()));
    buildLayout();
}

QFont TFrmOSD::osdFont(int px, bool bold) const {
    QFont f(QStringLiteral("Verdana"));
    f.setPixelSize(std::max(1, S(px)));
    f.setBold(bold);
    f.setStyleStrategy(QFont::PreferAntialias);
    return f;
}

QFrame* TFrmOSD::panel(QWidget* parent, const QRect& d, const QColor& colour) {
    auto* p = new QFrame(parent);
    p->setGeometry(S(d.x()), S(d.y()), S(d.width()), S(d.height()));
    p->setAutoFillBackground(true);
    QPalette pal = p->palette();
    pal.setColor(QPalette::Window, colour);
    pal.setColor(QPalette::WindowText, Qt::white);
    p->setPalette(pal);
    p->installEventFilter(this);
    return p;
}

QLabel* TFrmOSD::label(QWidget* parent, const QString& text, int fontPx, const QRect& d, Qt::Alignment align) {
    auto* l = new QLabel(text, parent);
    l->setGeometry(S(d.x()), S(d.y()), S(d.width()), S(d.height()));
    l->setFont(osdFont(fontPx));
    l->setAlignment(align);
    l->setTextFormat(Qt::PlainText);
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, Qt::white);
    l->setPalette(pal);
    l->installEventFilter(this);
    return l;
}

QLabel* TFrmOSD::button(QWidget* parent, const QString& text, const QRect& d, std::function<void()> onClick) {
    auto* l = new ClickLabel(parent, std::move(onClick));
    l->setText(text);
    l->setGeometry(S(d.x()), S(d.y()), S(d.width()), S(d.height()));
    l->setFont(osdFont(21));
    l->setAlignment(Qt::AlignCenter);
    l->setTextFormat(Qt::PlainText);
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, Qt::white);
    l->setPalette(pal);
    return l;
}

void TFrmOSD::letMessagesRun() {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TFrmOSD::ShowOSD(const TChannelRef& channel, bool autoHide) {
    if (isVisible())
        return;
    // A change of screen rebuilds the controls now, before they are filled for showing.
    rebuildForScreen();
    Channel = channel;
    AutoHide = autoHide;
    if (!channel)
        return;
    m_timerShow.start(200);
}

void TFrmOSD::ShowNow() {
    m_timerShow.stop();
    m_timerHide.stop();
    QScreen* screen = m_host.osdScreen() ? m_host.osdScreen() : QGuiApplication::primaryScreen();
    if (screen) {
        // At the bottom of the screen, centred: the window is as large as what it shows, so it
        // needs no transparency (and no compositor) to lie over the moving picture.
        const QRect g = screen->geometry();
        move(g.left() + (g.width() - width()) / 2, g.bottom() + 1 - height());
    }
    show();
    raise();
    activateWindow();
    letMessagesRun();
    m_timerEPGUpdate.start();
    if (AutoHide) {
        m_timerHide.setInterval(osdShowTimeMs());
        m_timerHide.start();
    }
}

void TFrmOSD::HideOSD() {
    if (!isVisible())
        return;
    m_timerHide.stop();
    m_timerHide.setInterval(50);
    m_timerEPGUpdate.stop();
    hide();
}

void TFrmOSD::CloseOSD() {
    hide();
    if (m_host.isMenuOpen())
        m_host.startPopUpTimer();
}

bool TFrmOSD::eventFilter(QObject* watched, QEvent* event) {
    return QWidget::eventFilter(watched, event);
}

void TFrmOSD::changeEvent(QEvent* event) {
    // Minimising an overlay only hides it.
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized)) {
        setWindowState(windowState() & ~Qt::WindowMinimized);
        hide();
    }
    QWidget::changeEvent(event);
}

} // namespace quoxel
