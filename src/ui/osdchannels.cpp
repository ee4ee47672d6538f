#include "ui/osdchannels.h"

#include "ui/channellist.h"
#include "ui/channelmodel.h"
#include "ui/osdcontroller.h"
#include "ui/osdtexts.h"

#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QScrollBar>
#include <QWheelEvent>

namespace quoxel {

TFrmOSD_Channels::TFrmOSD_Channels(OsdHost& host, OsdController& controller, QWidget* parent)
    : TFrmOSD(host, QSize(646, 570), parent)
    , m_controller(controller) {
    setObjectName(QStringLiteral("FrmOSD_Channels"));
    rebuildForScreen();
}

void TFrmOSD_Channels::buildLayout() {
    QFrame* p = panel(this, QRect(26, 33, 593, 504), osdHighlight());
    p->setObjectName(QStringLiteral("PnlEPGChannels"));
    QFrame* strip = panel(p, QRect(0, 0, 593, 32), kOsdDarkGrey);
    m_lblHeader = label(strip, QStringLiteral("Channel Preview"), 21, QRect(8, 0, 300, 32));
    m_lblHeader->setObjectName(QStringLiteral("LblChannelsHeader"));
    m_lblTime = label(strip, QString(), 21, QRect(400, 0, 150, 32), Qt::AlignRight | Qt::AlignVCenter);
    m_lblTime->setObjectName(QStringLiteral("LblEPGChannelsTime"));
    button(strip, QStringLiteral("x"), QRect(593 - 36, 0, 32, 32), [this] {
        PnlEPGCloseClick();
    })->setObjectName(QStringLiteral("PnlEPGClose"));
    // Any clear arrow glyph will do in place of the symbol font.
    button(p, QStringLiteral("\u25B2"), QRect(593 - 39, 43, 31, 24), [this] {
        Panel2Click();
    })->setObjectName(QStringLiteral("Panel2"));
    button(p, QStringLiteral("\u25BC"), QRect(593 - 39, 504 - 32, 31, 24), [this] {
        Panel7Click();
    })->setObjectName(QStringLiteral("Panel7"));

    ChannelRowGeometry g = kOverlayRows;
    g.ItemHeight = S(g.ItemHeight);
    g.X1 = S(g.X1);
    g.X2 = S(g.X2);
    g.Y2 = S(g.Y2);
    g.Y3 = S(g.Y3);
    g.B0 = S(g.B0);
    g.BR = S(g.BR);
    g.BH = g.ItemHeight - S(25);
    m_list = new ChannelListView(g, p);
    m_list->setGeometry(S(9), S(43), p->width() - S(56), p->height() - S(34) - S(43) + S(34));
    m_list->setFont(osdFont(16));
    QPalette pal = m_list->palette();
    pal.setColor(QPalette::Base, osdHighlight());
    pal.setColor(QPalette::Highlight, osdActiveCaption());
    pal.setColor(QPalette::Text, Qt::white);
    m_list->setPalette(pal);
    m_list->viewport()->installEventFilter(this);
    m_list->raise();
    connect(m_list, &ChannelListView::channelActivated, this, [this](int row, TChannel*) { LbxChannelsDblClick(row); });
}

void TFrmOSD_Channels::ShowOSD(const TChannelRef& channel, bool autoHide) {
    if (!isVisible())
        rebuildForScreen();
    setTextIfChanged(m_lblTime, clockText());
    TFrmOSD::ShowOSD(channel, autoHide);
}

void TFrmOSD_Channels::prepareShow() {
    m_controller.hideInfoAndDetails();
    m_list->setChannelModel(m_host.channelModel());
    if (Channel)
        m_list->showRow(Channel->ListIndex);
}

void TFrmOSD_Channels::refreshTick() {
    setTextIfChanged(m_lblTime, clockText());
    m_list->viewport()->update();
    if (!m_list->hasFocus())
        m_list->setFocus();
}

int TFrmOSD_Channels::selectedIndex() const {
    return m_list->currentIndex().isValid() ? m_list->currentIndex().row() : -1;
}

int TFrmOSD_Channels::topIndex() const {
    return m_list->verticalScrollBar()->value();
}

void TFrmOSD_Channels::Panel2Click() {
    m_list->pageUp();
}

void TFrmOSD_Channels::Panel7Click() {
    m_list->pageDown();
}

void TFrmOSD_Channels::PnlEPGCloseClick() {
    TimerEPGUpdate().stop();
    hide();
    letMessagesRun();
}

void TFrmOSD_Channels::LbxChannelsDblClick(int row) {
    const TChannelRef channel = channelToSwitchTo(m_host, row);
    if (!channel)
        return;
    letMessagesRun();
    HideOSD();
    m_host.SwitchChannel(channel);
}

bool TFrmOSD_Channels::eventFilter(QObject* watched, QEvent* event) {
    if (m_list && watched == m_list->viewport() && event->type() == QEvent::Wheel) {
        const int dy = static_cast<QWheelEvent*>(event)->angleDelta().y();
        if (dy < 0)
            m_list->pageDown();
        else if (dy > 0)
            m_list->pageUp();
        return true;
    }
    return TFrmOSD::eventFilter(watched, event);
}

} // namespace quoxel
