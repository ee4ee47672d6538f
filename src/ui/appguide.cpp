#include "ui/appguide.h"

#include "box/bouquets.h"
#include "box/boxcommands.h"
#include "box/epgparse.h"
#include "box/epgtimers.h"
#include "core/appflags.h"
#include "core/log.h"
#include "core/options.h"
#include "ui/appcontroller.h"
#include "ui/guidegrid.h"
#include "ui/guidewindow.h"
#include "ui/mainwindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileInfo>
#include <QSet>
#include <QSignalBlocker>

namespace quoxel {

namespace {

bool hasList(const TChannel& ch) {
    return ch.EPGLoaded || ch.EPGCount > 0;
}

} // namespace

AppGuide::AppGuide(AppController& app, TFrmQuoxel& window, QObject* parent)
    : QObject(parent)
    , m_app(app)
    , m_w(window) {}

AppGuide::~AppGuide() {
    // The window asks this object on its clock; it goes first, without a word to this one.
    if (m_guide) {
        m_guide->disconnect(this);
        delete m_guide.data();
    }
}

TFrmGuide* AppGuide::window() const {
    return m_guide.data();
}

void AppGuide::ShowGuide() {
    // The guide is a window of its own; full screen would keep it behind the picture.
    if (m_w.view().IsFullscreen)
        m_w.view().Fullscreen1Click();
    if (!m_guide) {
        m_guide = new TFrmGuide(&m_w);
        m_guide->setLogoSource([this](const TChannel& ch) { return m_app.pictures().logoFor(ch); });
        m_guide->setFetchingSource([this] { return !m_app.epgTimers().isEPGStopped() && !IsClosing; });
        // As they were left at the last close; the rows come next, so the first tick fills none.
        {
            const QSignalBlocker quiet(m_guide->ChkAllBouquets());
            m_guide->ChkAllBouquets()->setChecked(Options.GuideAllBouquets);
        }
        m_guide->ChkDescriptions()->setChecked(Options.GuideDescriptions);
        connect(m_guide->ChkDescriptions(), &QCheckBox::toggled, this, [](bool on) { Options.GuideDescriptions = on; });
        connect(m_guide, &TFrmGuide::switchRequested, this, &AppGuide::switchTo);
        connect(m_guide, &TFrmGuide::allBouquetsToggled, this, [this](bool on) {
            Options.GuideAllBouquets = on;
            fillRows();
        });
        connect(m_guide, &TFrmGuide::waitingInView, this, &AppGuide::waitingInView);
        const QRect main = m_w.frameGeometry();
        m_guide->move(main.center() - QPoint(m_guide->width() / 2, m_guide->height() / 2));
    }
    fillRows();
    m_guide->show();
    m_guide->raise();
    m_guide->activateWindow();
    m_guide->grid()->setFocus();
}

void AppGuide::fillRows() {
    // Receiver requests let messages run: a second fill from within the first waits its turn.
    if (!m_guide || m_filling)
        return;
    m_filling = true;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QList<GuideChannel> rows = this->rows(m_guide->ChkAllBouquets()->isChecked());
    const TChannelRef akt = m_app.session().AktChannel;
    if (m_guide)
        m_guide->setRows(std::move(rows), akt ? akt->Id : QString());
    QApplication::restoreOverrideCursor();
    m_filling = false;
}

QList<GuideChannel> AppGuide::rows(bool allBouquets) {
    const TBouquetModel& model = m_app.session().model();
    QList<GuideChannel> out;
    if (!allBouquets || model.bouquets().isEmpty()) {
        for (const TChannelItem& item : model.channelBox()) {
            if (item.Channel)
                out.append({item.Channel, QString(), -1});
        }
        return out;
    }
    // Each channel once, in bouquet order; the shown bouquet's own records where a channel is there
    // too, as those are the ones the walk fills and a switch plays.
    QHash<QString, TChannelRef> shown;
    for (const TChannelItem& item : model.channelBox()) {
        if (item.Channel && !shown.contains(item.Channel->Id))
            shown.insert(item.Channel->Id, item.Channel);
    }
    const int shownIndex = model.CurBouquetNr.toInt() - 1;
    QSet<QString> seen;
    QList<TChannelRef> fresh;
    m_loading.start();
    const auto& bouquets = model.bouquets();
    for (int i = 0; i < bouquets.size() && out.size() < kMaxAllRows; ++i) {
        QList<TChannelRef> channels;
        if (i == shownIndex) {
            for (const TChannelItem& item : model.channelBox())
                channels.append(item.Channel);
        } else {
            channels = bouquetChannels(i, &fresh);
            // The requests let messages run, and a new connection may have replaced the bouquets.
            if (i >= bouquets.size())
                break;
        }
        for (const TChannelRef& ch : std::as_const(channels)) {
            if (!ch || seen.contains(ch->Id) || out.size() >= kMaxAllRows)
                continue;
            seen.insert(ch->Id);
            out.append({shown.value(ch->Id, ch), bouquets[i].Caption, i});
        }
    }
    if (out.size() >= kMaxAllRows)
        Log(LogFunc, QStringLiteral("Programme guide: all bouquets cut at ") + QString::number(kMaxAllRows) +
                         QStringLiteral(" channels"));
    // What runs now on the channels just loaded: one all-channel answer for all of them.
    if (!fresh.isEmpty())
        ParseEPG([this](const QString& url) { return m_app.session().request(url); }, fresh);
    return out;
}

QList<TChannelRef> AppGuide::bouquetChannels(int index, QList<TChannelRef>* fresh) {
    const auto& bouquets = m_app.session().model().bouquets();
    if (const auto& cache = bouquets[index].Bouquet) {
        QList<TChannelRef> channels;
        for (const TChannelItem& item : cache->Channels)
            channels.append(item.Channel);
        return channels;
    }
    if (const auto it = m_loaded.constFind(index); it != m_loaded.constEnd())
        return *it;
    // A slow or silent receiver holds the window for one request at most past the budget; the
    // bouquets left out are asked for again at the next showing.
    if (m_loading.hasExpired(kLoadBudgetMs)) {
        Log(LogFunc, QStringLiteral("Programme guide: bouquet ") + QString::number(index + 1) +
                         QStringLiteral(" left out, the receiver is slow"));
        return {};
    }
    const QString nr = QString::number(index + 1);
    const QString tv = m_app.session().request(BoxURL(BouquetUrls::kBouquetTV, BouquetUrls::kBouquetNr, nr));
    const QString radio = m_app.session().request(BoxURL(BouquetUrls::kBouquetRadio, BouquetUrls::kBouquetNr, nr));
    QList<TChannelRef> channels = buildChannels(combineBouquetAnswers(tv, radio, TBouquetModel::kMaxChannelLines),
                                                TBouquetModel::kMaxChannelLines);
    for (const TChannelRef& ch : channels) {
        const QString logo = LogoFilePath(ch->Id);
        if (!logo.isEmpty() && QFileInfo(logo).isFile())
            ch->LogoFile = logo;
    }
    m_loaded.insert(index, channels);
    fresh->append(channels);
    return channels;
}

void AppGuide::channelsChanged() {
    // A bouquet loaded afresh has new records; lists the guide already fetched for them move over,
    // so the walk need not fetch them a second time.
    QHash<QString, TChannelRef> fetched;
    for (const QList<TChannelRef>& channels : std::as_const(m_loaded)) {
        for (const TChannelRef& ch : channels) {
            if (hasList(*ch))
                fetched.insert(ch->Id, ch);
        }
    }
    for (const TChannelItem& item : m_app.session().model().channelBox()) {
        if (!item.Channel || hasList(*item.Channel))
            continue;
        if (const TChannelRef from = fetched.value(item.Channel->Id); from && from != item.Channel) {
            TChannel& to = *item.Channel;
            to.EPG = from->EPG;
            to.EPGCount = from->EPGCount;
            to.NowEPG = from->NowEPG;
            to.NextEPG = from->NextEPG;
            to.EPGLoaded = from->EPGLoaded;
        }
    }
    if (m_guide && m_guide->isVisible())
        fillRows();
}

void AppGuide::switchTo(int row) {
    if (!m_guide || m_filling || row < 0 || row >= m_guide->model().rowCount())
        return;
    // As in the channel lists: in quoxel mode the providing instance chooses the channel.
    if (Options.Mode == AppMode::Quoxel || IsSwitching || IsStarting || !m_app.switcher())
        return;
    const GuideChannel target = m_guide->model().channel(row);
    const TBouquetModel& model = m_app.session().model();
    int pos = model.LocateChannel(target.Channel->Id);
    if (pos < 0 && target.BouquetIndex >= 0) {
        m_app.switchBouquet(target.BouquetIndex, target.Channel->Id);
        pos = model.LocateChannel(target.Channel->Id);
    }
    if (pos < 0)
        return;
    m_guide->hide();
    m_app.switchToRow(pos);
}

void AppGuide::waitingInView(const QList<TChannelRef>& channels) {
    EPGTimers& epg = m_app.epgTimers();
    if (epg.isEPGStopped() || IsClosing)
        return;
    epg.thread().setInView(channels);
    // Another bouquet's channels are fetched only by a running walk; the start-up starts its own.
    if (!channels.isEmpty() && !epg.isThreadRunning() && !IsStarting)
        epg.startThread();
}

} // namespace quoxel
