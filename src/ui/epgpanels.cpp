#include "ui/epgpanels.h"

#include "core/log.h"
#include "playback/streamsetup.h"
#include "ui/channellist.h"
#include "ui/channelmodel.h"
#include "ui/osdtexts.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>

#include <algorithm>

namespace quoxel {

namespace {

// The panels lie over the video panel, which is a native window of the engine's: each panel is a
// native window of its own, so it can be stacked above it.
QFrame* makePanel(QWidget* parent, const QRect& r, const QColor& colour, const char* name, bool native = true) {
    auto* p = new QFrame(parent);
    p->setObjectName(QLatin1String(name));
    if (native) {
        p->setAttribute(Qt::WA_NativeWindow);
        p->setAttribute(Qt::WA_DontCreateNativeAncestors);
    }
    p->setGeometry(r);
    p->setAutoFillBackground(true);
    QPalette pal = p->palette();
    pal.setColor(QPalette::Window, colour);
    pal.setColor(QPalette::WindowText, Qt::white);
    p->setPalette(pal);
    p->hide();
    return p;
}

QLabel* makeLabel(QWidget* parent, const QRect& r, int px, const char* name,
                  Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter) {
    auto* l = new QLabel(parent);
    l->setObjectName(QLatin1String(name));
    l->setGeometry(r);
    QFont f(QStringLiteral("Verdana"));
    f.setPixelSize(px);
    f.setBold(true);
    f.setStyleStrategy(QFont::PreferAntialias);
    l->setFont(f);
    l->setAlignment(align);
    l->setTextFormat(Qt::PlainText);
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, Qt::white);
    l->setPalette(pal);
    return l;
}

void letMessagesRun() {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

} // namespace

EpgPanels::EpgPanels(OsdHost& host, QWidget* parent)
    : QObject(parent)
    , m_host(host) {
    m_timerOSD.setSingleShot(true);
    m_timerOSD.setInterval(1);
    connect(&m_timerOSD, &QTimer::timeout, this, [this] { TimerOSDTimer(); });
    build(parent);
}

void EpgPanels::build(QWidget* parent) {
    const QColor hl = osdHighlight();
    // Info bar with its shadows, logo box, programme bar and stats strip.
    // At the designed size; placeOver moves them with the video.
    auto* shadNr = makePanel(parent, QRect(13, 189, 44, 25), Qt::black, "PnlEPGShad");
    auto* shadBar = makePanel(parent, QRect(13, 200, 308, 47), Qt::black, "PnlEPGShad1");
    m_pnlEPG = makePanel(parent, QRect(10, 197, 308, 47), hl, "PnlEPG");
    m_lblChannel = makeLabel(m_pnlEPG, QRect(50, 1, 200, 16), 13, "LblEPGChannel");
    m_lblTime = makeLabel(m_pnlEPG, QRect(250, 1, 54, 16), 11, "LblTime", Qt::AlignRight | Qt::AlignVCenter);
    m_lblInfo = makeLabel(m_pnlEPG, QRect(4, 17, 230, 28), 11, "LblEPGInfo", Qt::AlignLeft | Qt::AlignTop);
    m_lblInfo->setCursor(Qt::PointingHandCursor);
    m_lblDurCurr = makeLabel(m_pnlEPG, QRect(234, 17, 70, 14), 10, "LblDurCurr", Qt::AlignRight | Qt::AlignVCenter);
    m_lblDurNext = makeLabel(m_pnlEPG, QRect(234, 31, 70, 14), 10, "LblDurNext", Qt::AlignRight | Qt::AlignVCenter);
    auto* nr = makePanel(parent, QRect(10, 186, 44, 25), hl, "PnlEPGNr");
    m_imgLogo = new QLabel(nr);
    m_imgLogo->setObjectName(QStringLiteral("ImgEPGLogo"));
    m_imgLogo->setGeometry(2, 2, 40, 21);
    m_imgLogo->setScaledContents(true);
    m_imgLogo->setCursor(Qt::PointingHandCursor);
    auto* barPanel = makePanel(parent, QRect(10 + 308 - 110, 183, 110, 11), Qt::white, "PnlEPGBar");
    m_bar = new EpgBar(
        barPanel, [this] { return m_host.AktChannel(); }, 0);
    m_bar->setGeometry(0, 0, 110, 11);
    auto* stats = makePanel(parent, QRect(10, 244, 308, 14), kOsdDarkGrey, "PnlStats");
    m_lblStats = makeLabel(stats, QRect(3, 0, 260, 14), 9, "LblStats");
    m_volumeOsd = new QProgressBar(stats);
    m_volumeOsd->setObjectName(QStringLiteral("VolumeOsd"));
    m_volumeOsd->setRange(0, 100);
    m_volumeOsd->setTextVisible(false);
    m_volumeOsd->setGeometry(308 - 40, 3, 36, 8);
    m_infoParts = {shadNr, shadBar, m_pnlEPG, nr, barPanel, stats};

    // Details panel.
    m_pnlDetails = makePanel(parent, QRect(10, 15, 325, 251), hl, "PnlEPGDetails");
    m_pnlDetails->setFocusPolicy(Qt::StrongFocus);
    auto* strip = makePanel(m_pnlDetails, QRect(0, 0, 325, 20), kOsdDarkGrey, "PnlEPGDetailsTitle", false);
    strip->show();
    m_lblTitle = makeLabel(strip, QRect(4, 0, 296, 20), 11, "LblTitle");
    auto* close = makeLabel(strip, QRect(305, 0, 18, 20), 12, "PnlEPGClose", Qt::AlignCenter);
    close->setText(QStringLiteral("x"));
    m_lblInfo1 = makeLabel(m_pnlDetails, QRect(4, 22, 317, 18), 11, "LblInfo1");
    m_memo = new QPlainTextEdit(m_pnlDetails);
    m_memo->setObjectName(QStringLiteral("MmoInfo2"));
    m_memo->setReadOnly(true);
    m_memo->setFrameShape(QFrame::NoFrame);
    m_memo->setTextInteractionFlags(Qt::NoTextInteraction);
    m_memo->setFocusPolicy(Qt::NoFocus);
    m_memo->setGeometry(4, 24, 317, 195);
    auto* prev = makeLabel(m_pnlDetails, QRect(4, 228, 18, 20), 12, "PnlEpgPrev", Qt::AlignCenter);
    prev->setText(QStringLiteral("<"));
    m_lblEPGTime = makeLabel(m_pnlDetails, QRect(26, 228, 160, 20), 11, "LblEPGTime");
    m_lblEPGDate =
        makeLabel(m_pnlDetails, QRect(186, 228, 110, 20), 11, "LblEPGDate", Qt::AlignRight | Qt::AlignVCenter);
    auto* next = makeLabel(m_pnlDetails, QRect(303, 228, 18, 20), 12, "PnlEpgNext", Qt::AlignCenter);
    next->setText(QStringLiteral(">"));
    m_detailsBottom = {prev, m_lblEPGTime, m_lblEPGDate, next};

    // Channel panel.
    m_pnlChannels = makePanel(parent, QRect(10, 15, 325, 252), hl, "PnlEPGChannels");
    auto* cstrip = makePanel(m_pnlChannels, QRect(0, 0, 325, 20), kOsdDarkGrey, "PnlEPGChannelsTitle", false);
    cstrip->show();
    m_lblChannelsHeader = makeLabel(cstrip, QRect(4, 0, 200, 20), 11, "LblChannelsHeader");
    m_lblChannelsHeader->setText(QStringLiteral("Channel Preview"));
    m_lblChannelsTime =
        makeLabel(cstrip, QRect(220, 0, 80, 20), 11, "LblEPGChannelsTime", Qt::AlignRight | Qt::AlignVCenter);
    auto* cclose = makeLabel(cstrip, QRect(305, 0, 18, 20), 12, "PnlChannelClose", Qt::AlignCenter);
    cclose->setText(QStringLiteral("x"));
    auto* up = makeLabel(m_pnlChannels, QRect(325 - 28, 25, 24, 20), 12, "PnlChannelUp", Qt::AlignCenter);
    up->setText(QStringLiteral("\u25B2"));
    auto* down = makeLabel(m_pnlChannels, QRect(325 - 28, 252 - 26, 24, 20), 12, "PnlChannelDown", Qt::AlignCenter);
    down->setText(QStringLiteral("\u25BC"));
    m_channelsBottom = {down};
    m_list = new ChannelListView(kInWindowRows, m_pnlChannels);
    m_list->setGeometry(6, 25, 325 - 40, 252 - 34);
    QFont lf(QStringLiteral("Verdana"));
    lf.setBold(true);
    m_list->setFont(lf);
    QPalette pal = m_list->palette();
    pal.setColor(QPalette::Base, hl);
    pal.setColor(QPalette::Text, Qt::white);
    m_list->setPalette(pal);
    m_list->setChannelModel(m_host.channelModel());
    connect(m_list, &ChannelListView::channelActivated, this, [this](int row, TChannel*) { LbxChannelsDblClick(row); });

    for (QWidget* w : {static_cast<QWidget*>(m_lblInfo), static_cast<QWidget*>(m_imgLogo), static_cast<QWidget*>(close),
                       static_cast<QWidget*>(prev), static_cast<QWidget*>(next), static_cast<QWidget*>(cclose),
                       static_cast<QWidget*>(up), static_cast<QWidget*>(down)})
        w->installEventFilter(this);
    for (QWidget* w : m_infoParts)
        w->installEventFilter(this);
    for (QWidget* w : m_pnlEPG->findChildren<QWidget*>())
        w->installEventFilter(this);
}

bool EpgPanels::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonDblClick && m_infoParts.contains(qobject_cast<QWidget*>(watched->parent())))
        m_host.setDblClickEPG(true);
    else if (event->type() == QEvent::MouseButtonDblClick && m_infoParts.contains(qobject_cast<QWidget*>(watched)))
        m_host.setDblClickEPG(true);
    if (event->type() != QEvent::MouseButtonRelease || static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton)
        return QObject::eventFilter(watched, event);
    const QString name = watched->objectName();
    if (watched == m_lblInfo)
        LblEPGInfoClick();
    else if (watched == m_imgLogo)
        ImgEPGLogoClick();
    else if (name == QLatin1String("PnlEPGClose"))
        PnlEPGCloseClick();
    else if (name == QLatin1String("PnlEpgPrev"))
        PnlEpgPrevClick();
    else if (name == QLatin1String("PnlEpgNext"))
        PnlEpgNextClick();
    else if (name == QLatin1String("PnlChannelClose"))
        PnlChannelCloseClick();
    else if (name == QLatin1String("PnlChannelUp"))
        PnlChannelUpClick();
    else if (name == QLatin1String("PnlChannelDown"))
        PnlChannelDownClick();
    else
        return QObject::eventFilter(watched, event);
    return true;
}

bool EpgPanels::infoVisible() const {
    return !m_pnlEPG->isHidden();
}
bool EpgPanels::detailsVisible() const {
    return !m_pnlDetails->isHidden();
}
bool EpgPanels::channelsVisible() const {
    return !m_pnlChannels->isHidden();
}

void EpgPanels::set(QLabel* label, const QString& text) {
    if (setTextIfChanged(label, text))
        ++m_assignments;
}

void EpgPanels::setInfoBarVisible(bool on) {
    for (QWidget* w : m_infoParts) {
        w->setVisible(on);
        if (on)
            w->raise();
    }
}

void EpgPanels::ShowInfoPanel(const TChannelRef& channel) {
    if (!channel || m_host.channelBoxDroppedDown() || channelsVisible() || detailsVisible())
        return;
    // A radio channel refreshes a visible bar (the song changes); a TV bar stays as it is.
    if (infoVisible() && channel->Mode != mRadio)
        return;
    ShownIndex = channel->NowEPG.Index;
    m_host.setEPGUpdateTimer(false);
    ShowChannelInfo(channel);
    letMessagesRun();
    setInfoBarVisible(true);
    QPalette pal = m_volumeOsd->palette();
    pal.setColor(QPalette::Highlight, Qt::white);
    m_volumeOsd->setPalette(pal);
    m_volumeOsd->setValue(m_host.volume());
    letMessagesRun();
    m_timerOSD.setInterval(osdShowTimeMs());
    if (channel->Mode == mTV)
        m_timerOSD.start();
    m_host.setEPGUpdateTimer(true);
}

void EpgPanels::HideInfoPanel() {
    m_timerOSD.stop();
    m_timerOSD.setInterval(1);
    setInfoBarVisible(false);
}

void EpgPanels::TimerOSDTimer() {
    Log(LogFunc, QStringLiteral("OSDTimer"));
    if (!detailsVisible())
        m_host.setEPGUpdateTimer(false);
    if (m_hideEpgInfo)
        m_hideEpgInfo();
    else
        HideInfoPanel();
}

void EpgPanels::ShowChannelInfo(const TChannelRef& channel) {
    if (!channel)
        return;
    const TChannelProgram& now = channel->NowEPG;
    const bool radio = channel->Mode == mRadio;
    if (radio) {
        const QString text = radioInfoText(*channel);
        if (m_lblInfo->text() != text) {
            letMessagesRun();
            set(m_lblInfo, text);
            m_host.setCaption(m_lblChannel->text() + QStringLiteral(", ") + widgetSafeText(now.Title) +
                              QStringLiteral(" - ") + widgetSafeText(radioSongTitle(now)));
            m_host.repaintChannelBox();
        }
    } else {
        set(m_lblInfo, infoLinesText(*channel));
    }
    set(m_lblChannel, widgetSafeText(channel->Caption));
    set(m_lblTime, clockText());
    set(m_lblDurCurr, durCurrText(now));
    set(m_lblDurNext, radio ? QString() : durNextText(now));
    if (radio) {
        set(m_lblStats, radioFactsText(now));
    } else if (const TStreamInfo* info = m_host.streamInfo()) {
        const QString shown =
            info->Format + QStringLiteral(" | ") + info->Resolution + QStringLiteral(" | ") + info->AudioNames[0];
        if (!m_lblStats->text().contains(shown))
            set(m_lblStats, streamFactsText(*info, m_host.audioMenuCount(), m_lblStats->text()));
    }
    if (m_logoOf != channel.get()) {
        m_logoOf = channel.get();
        m_imgLogo->setPixmap(m_host.logoFor(*channel));
    }
    m_bar->update();
}

void EpgPanels::FillDetails(const TChannelRef& channel, int k) {
    if (!channel)
        return;
    const DetailsTexts t = detailsTexts(*channel, k);
    m_memo->move(m_memo->x(), t.MemoTop);
    m_memo->resize(m_memo->width(), std::max(0, m_pnlDetails->height() - 26 - t.MemoTop));
    showDetailsTexts({m_lblTitle, m_lblInfo1, m_memo, m_lblEPGTime, m_lblEPGDate}, t);
}

void EpgPanels::OpenDetailsPanel(const TChannelRef& channel) {
    if (!channel)
        return;
    ShownIndex = channel->NowEPG.Index;
    DetailsChannel = channel;
    FillDetails(channel, ShownIndex);
    if (channel->EPGCount != 0) {
        m_host.setChannelBoxEnabled(false);
        m_pnlDetails->show();
        m_pnlDetails->raise();
        m_host.setEPGUpdateTimer(true);
    }
    if (detailsVisible())
        m_pnlDetails->setFocus();
}

void EpgPanels::CloseDetailsPanel() {
    if (!isQuoxelMode())
        m_host.setChannelBoxEnabled(true);
    m_pnlDetails->hide();
    m_host.setEPGUpdateTimer(false);
    DetailsChannel = m_host.AktChannel();
    ShownIndex = DetailsChannel ? DetailsChannel->NowEPG.Index : 0;
    FillDetails(DetailsChannel, ShownIndex);
    if (channelsVisible())
        m_list->setFocus();
}

void EpgPanels::PnlEpgPrevClick() {
    if (ShownIndex == 0)
        return;
    if (detailsVisible())
        m_pnlDetails->setFocus();
    --ShownIndex;
    FillDetails(DetailsChannel, ShownIndex);
}

void EpgPanels::PnlEpgNextClick() {
    // Bounded by the list shown: after channel paging that is DetailsChannel's, not AktChannel's.
    if (!DetailsChannel || ShownIndex >= DetailsChannel->EPGCount - 1)
        return;
    if (detailsVisible())
        m_pnlDetails->setFocus();
    ++ShownIndex;
    FillDetails(DetailsChannel, ShownIndex);
}

void EpgPanels::chanStep(int d) {
    if (detailsVisible())
        m_pnlDetails->setFocus();
    const TChannelRef next = neighbourChannel(m_host, DetailsChannel, d);
    if (!next)
        return;
    DetailsChannel = next;
    ShownIndex = next->NowEPG.Index;
    FillDetails(next, ShownIndex);
    if (detailsVisible())
        m_pnlDetails->setFocus();
}

void EpgPanels::ShowChannelPanel() {
    m_pnlChannels->show();
    m_pnlChannels->raise();
    if (m_list->model() != m_host.channelModel())
        m_list->setChannelModel(m_host.channelModel());
    if (const TChannelRef akt = m_host.AktChannel())
        m_list->showRow(akt->ListIndex);
    setTextIfChanged(m_lblChannelsTime, clockText());
    m_host.setEPGChannelsTimer(true);
    m_list->setFocus();
    letMessagesRun();
}

void EpgPanels::HideChannelPanel() {
    m_pnlChannels->hide();
    m_host.setEPGChannelsTimer(false);
    letMessagesRun();
    DetailsChannel = m_host.AktChannel();
}

void EpgPanels::setClock(const QString& hhmm) {
    setTextIfChanged(m_lblTime, hhmm);
    setTextIfChanged(m_lblChannelsTime, hhmm);
}

void EpgPanels::placeOver(const QRect& video, bool videoOnly) {
    // The info bar 31 px above the video's bottom, the logo box, shadows, programme bar and stats
    // strip around it.
    const int top = video.top() + video.height() - m_pnlEPG->height() - 31;
    const int offsets[] = {-8, 3, 0, -11, -14, m_pnlEPG->height()}; // in the order of m_infoParts
    for (int i = 0; i < m_infoParts.size(); ++i)
        m_infoParts[i]->move(m_infoParts[i]->x(), top + offsets[i]);
    // The channel and details panels from 10 px below the video's top; in the window they leave
    // the same margin less the video's own top at the bottom.
    int height = video.height() - 2 * (video.top() + 10);
    if (!videoOnly)
        height = height - video.top() + 10;
    height = std::max(height, 60);
    for (QFrame* panel : {m_pnlChannels, m_pnlDetails}) {
        const int shift = height - panel->height();
        panel->setGeometry(panel->x(), video.top() + 10, panel->width(), height);
        for (QWidget* w : panel == m_pnlChannels ? m_channelsBottom : m_detailsBottom)
            w->move(w->x(), w->y() + shift);
    }
    m_list->resize(m_list->width(), height - 34);
    m_memo->resize(m_memo->width(), std::max(0, height - 26 - (m_memo->y())));
}

void EpgPanels::LogoClick() {
    if (channelsVisible())
        HideChannelPanel();
    else
        ShowChannelPanel();
}

void EpgPanels::PnlChannelCloseClick() {
    m_pnlChannels->hide();
}

void EpgPanels::PnlChannelUpClick() {
    m_list->pageUp();
}

void EpgPanels::PnlChannelDownClick() {
    m_list->pageDown();
}

void EpgPanels::LbxChannelsDblClick(int row) {
    const TChannelRef channel = channelToSwitchTo(m_host, row);
    if (!channel)
        return;
    letMessagesRun();
    HideChannelPanel();
    m_host.SwitchChannel(channel);
}

} // namespace quoxel
