#include "ui/osdinfo.h"

#include "playback/streamsetup.h"
#include "ui/osdcontroller.h"
#include "ui/osdtexts.h"

#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QWheelEvent>

namespace quoxel {

TFrmOSD_Info::TFrmOSD_Info(OsdHost& host, OsdController& controller, QWidget* parent)
    : TFrmOSD(host, QSize(1008, 178), parent)
    , m_controller(controller) {
    setObjectName(QStringLiteral("FrmOSD_Info"));
    rebuildForScreen();
}

void TFrmOSD_Info::buildLayout() {
    m_logoOf = nullptr;
    // Shadows first, so the bar, the logo box and the strip lie over them.
    panel(this, QRect(36, 49, 944, 96), Qt::black);
    panel(this, QRect(24, 24, 44, 25), Qt::black);
    QFrame* info = panel(this, QRect(32, 45, 944, 96), osdHighlight());
    info->setObjectName(QStringLiteral("PnlInfo"));
    m_lblChannel = label(info, QString(), 27, QRect(56, 2, 640, 36));
    m_lblChannel->setObjectName(QStringLiteral("LblChannel"));
    m_lblTime = label(info, QString(), 27, QRect(800, 2, 136, 36), Qt::AlignRight | Qt::AlignVCenter);
    m_lblTime->setObjectName(QStringLiteral("LblTime"));
    m_lblInfo = label(info, QString(), 21, QRect(8, 40, 760, 54), Qt::AlignLeft | Qt::AlignTop);
    m_lblInfo->setObjectName(QStringLiteral("LblInfo"));
    m_lblInfo->setCursor(Qt::PointingHandCursor);
    m_lblDurCurr = label(info, QString(), 21, QRect(770, 40, 166, 27), Qt::AlignRight | Qt::AlignTop);
    m_lblDurCurr->setObjectName(QStringLiteral("LblDurCurr"));
    m_lblDurNext = label(info, QString(), 21, QRect(770, 67, 166, 27), Qt::AlignRight | Qt::AlignTop);
    m_lblDurNext->setObjectName(QStringLiteral("LblDurNext"));

    QFrame* nr = panel(this, QRect(20, 20, 44, 25), osdHighlight());
    nr->setObjectName(QStringLiteral("LblChannelNr"));
    m_logo = new QLabel(nr);
    m_logo->setObjectName(QStringLiteral("Logo"));
    m_logo->setGeometry(S(2), S(2), S(40), S(21));
    m_logo->setScaledContents(true);

    QFrame* barPanel = panel(this, QRect(32 + 944 - 212, 26, 212, 15), osdHighlight());
    barPanel->setObjectName(QStringLiteral("PnlEPGBar"));
    m_bar = new EpgBar(
        barPanel, [this] { return Channel; }, 1);
    m_bar->setGeometry(0, 0, barPanel->width(), barPanel->height());

    QFrame* stats = panel(this, QRect(32, 145, 944, 20), kOsdDarkGrey);
    stats->setObjectName(QStringLiteral("PnlStats"));
    m_lblStats = label(stats, QString(), 13, QRect(6, 0, 840, 20));
    m_lblStats->setObjectName(QStringLiteral("LblStats"));
    m_volume = new QProgressBar(stats);
    m_volume->setObjectName(QStringLiteral("Volume"));
    m_volume->setRange(0, 100);
    m_volume->setTextVisible(false);
    m_volume->setGeometry(S(944 - 42), S(3), S(36), S(14));
    QPalette pal = m_volume->palette();
    pal.setColor(QPalette::Highlight, Qt::white);
    m_volume->setPalette(pal);
    m_volume->installEventFilter(this);
}

void TFrmOSD_Info::set(QLabel* label, const QString& text) {
    if (setTextIfChanged(label, text))
        ++m_assignments;
}

void TFrmOSD_Info::FillInfo(const TChannelRef& channel) {
    if (!channel)
        return;
    const TChannelProgram& now = channel->NowEPG;
    set(m_lblInfo, infoLinesText(*channel));
    if (m_logoOf != channel.get()) {
        m_logoOf = channel.get();
        m_logo->setPixmap(m_host.logoFor(*channel));
    }
    set(m_lblChannel, channel->Caption);
    set(m_lblTime, clockText());
    set(m_lblDurCurr, durCurrText(now));
    set(m_lblDurNext, durNextText(now));
    if (const TStreamInfo* info = m_host.streamInfo())
        set(m_lblStats, streamFactsText(*info, m_host.audioMenuCount(), m_lblStats->text()));
    m_bar->update();
}

void TFrmOSD_Info::prepareShow() {
    FillInfo(Channel);
}

void TFrmOSD_Info::ShowNow() {
    if (m_volume)
        m_volume->setValue(m_host.volume());
    TFrmOSD::ShowNow();
}

void TFrmOSD_Info::refreshTick() {
    FillInfo(Channel);
    if (Channel && Channel->EPGLoaded)
        TimerEPGUpdate().stop();
}

void TFrmOSD_Info::wheelEvent(QWheelEvent* event) {
    const int dy = event->angleDelta().y();
    if (dy == 0)
        return;
    const int position = std::clamp(m_host.volume() + (dy > 0 ? 5 : -5), 0, 100);
    m_volume->setValue(position);
    m_host.setVolume(position);
    event->accept();
}

bool TFrmOSD_Info::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonDblClick) {
        m_host.setDblClickEPG(true);
        return false;
    }
    if (watched == m_lblInfo && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        m_controller.OpenDetailsOSD(Channel, false);
        return true;
    }
    return TFrmOSD::eventFilter(watched, event);
}

} // namespace quoxel
