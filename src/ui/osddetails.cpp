#include "ui/osddetails.h"

#include "ui/channelmodel.h"
#include "ui/osdcontroller.h"
#include "ui/osdtexts.h"

#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>

namespace quoxel {

TFrmOSD_Details::TFrmOSD_Details(OsdHost& host, OsdController& controller, QWidget* parent)
    : TFrmOSD(host, QSize(646, 570), parent)
    , m_controller(controller) {
    setObjectName(QStringLiteral("FrmOSD_Details"));
    rebuildForScreen();
}

void TFrmOSD_Details::buildLayout() {
    QFrame* p = panel(this, QRect(26, 33, 593, 504), osdHighlight());
    p->setObjectName(QStringLiteral("PnlEPGDetails"));
    p->setFocusPolicy(Qt::StrongFocus);
    m_panel = p;
    QFrame* strip = panel(p, QRect(0, 0, 593, 32), kOsdDarkGrey);
    m_lblTitle = label(strip, QString(), 21, QRect(8, 0, 540, 32));
    m_lblTitle->setObjectName(QStringLiteral("LblTitle"));
    button(strip, QStringLiteral("x"), QRect(593 - 36, 0, 32, 32), [this] {
        PnlEPGCloseClick();
    })->setObjectName(QStringLiteral("PnlEPGClose"));
    m_lblInfo1 = label(p, QString(), 21, QRect(8, 36, 577, 26));
    m_lblInfo1->setObjectName(QStringLiteral("LblInfo1"));
    m_memo = new QPlainTextEdit(p);
    m_memo->setObjectName(QStringLiteral("MmoInfo2"));
    m_memo->setReadOnly(true);
    m_memo->setFrameShape(QFrame::NoFrame);
    // Read-only text needs no caret; clicking into it must not show one.
    m_memo->setTextInteractionFlags(Qt::NoTextInteraction);
    m_memo->setFocusPolicy(Qt::NoFocus);
    m_memo->setFont(osdFont(21));
    QPalette pal = m_memo->palette();
    pal.setColor(QPalette::Base, osdActiveCaption());
    pal.setColor(QPalette::Text, Qt::white);
    m_memo->setPalette(pal);
    m_memo->setGeometry(S(8), S(36), S(577), S(377));
    button(p, QStringLiteral("<"), QRect(8, 504 - 40, 31, 32), [this] {
        PnlEpgPrevClick();
    })->setObjectName(QStringLiteral("PnlEpgPrev"));
    m_lblTime = label(p, QString(), 21, QRect(46, 504 - 40, 300, 32));
    m_lblTime->setObjectName(QStringLiteral("LblEPGTime"));
    m_lblDate = label(p, QString(), 21, QRect(350, 504 - 40, 196, 32), Qt::AlignRight | Qt::AlignVCenter);
    m_lblDate->setObjectName(QStringLiteral("LblEPGDate"));
    button(p, QStringLiteral(">"), QRect(593 - 39, 504 - 40, 31, 32), [this] {
        PnlEpgNextClick();
    })->setObjectName(QStringLiteral("PnlEpgNext"));
}

void TFrmOSD_Details::FillDetails(const TChannelRef& channel, int k) {
    if (!channel)
        return;
    const DetailsTexts t = detailsTexts(*channel, k);
    // The memo moves up into the Info1 line when there is none.
    m_memo->move(S(8), t.ShowInfo1 ? S(36 + 28) : S(36));
    showDetailsTexts({m_lblTitle, m_lblInfo1, m_memo, m_lblTime, m_lblDate}, t);
}

void TFrmOSD_Details::OpenDetailsOSD(const TChannelRef& channel, bool autoHide) {
    if (!channel)
        return;
    if (!isVisible())
        rebuildForScreen();
    ShownIndex = channel->NowEPG.Index;
    DetailsChannel = channel;
    FillDetails(channel, ShownIndex);
    if (channel->EPGCount != 0) {
        TimerEPGUpdate().stop();
        TimerEPGUpdate().start();
    }
    ShowOSD(channel, autoHide);
}

void TFrmOSD_Details::CloseDetailsOSD() {
    TimerEPGUpdate().stop();
    DetailsChannel = Channel;
    ShownIndex = Channel ? Channel->NowEPG.Index : 0;
    FillDetails(Channel, ShownIndex);
    m_controller.focusChannelsList();
    HideOSD();
}

void TFrmOSD_Details::prepareShow() {
    m_controller.hideInfoAndLowerChannels();
}

void TFrmOSD_Details::refreshTick() {
    // The programme shown is DetailsChannel's: after paging through channels the refresh must not
    // put the first channel's text at the other channel's index.
    FillDetails(DetailsChannel, ShownIndex);
    if (Channel && Channel->EPGLoaded && (!DetailsChannel || DetailsChannel->EPGLoaded))
        TimerEPGUpdate().stop();
}

void TFrmOSD_Details::PnlEpgPrevClick() {
    if (ShownIndex == 0)
        return;
    m_panel->setFocus();
    --ShownIndex;
    FillDetails(DetailsChannel, ShownIndex);
}

void TFrmOSD_Details::PnlEpgNextClick() {
    // Bounded by the list of the channel shown (after channel paging that is not Channel).
    if (!DetailsChannel || ShownIndex >= DetailsChannel->EPGCount - 1)
        return;
    m_panel->setFocus();
    ++ShownIndex;
    FillDetails(DetailsChannel, ShownIndex);
}

void TFrmOSD_Details::chanStep(int d) {
    m_panel->setFocus();
    const TChannelRef next = neighbourChannel(m_host, DetailsChannel, d);
    if (!next)
        return;
    DetailsChannel = next;
    ShownIndex = next->NowEPG.Index;
    FillDetails(next, ShownIndex);
    m_panel->setFocus();
}

void TFrmOSD_Details::PnlEPGCloseClick() {
    TimerEPGUpdate().stop();
    hide();
    letMessagesRun();
}

} // namespace quoxel
