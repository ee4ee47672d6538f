#include "ui/guidewindow.h"

#include "core/clock.h"
#include "ui/channelmodel.h"
#include "ui/guidegrid.h"
#include "ui/osdtexts.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace quoxel {

namespace {

constexpr int kRowRole = Qt::UserRole + 1;
constexpr int kSlotRole = Qt::UserRole + 2;

QLabel* label(const char* name, QWidget* parent) {
    auto* l = new QLabel(parent);
    l->setObjectName(QLatin1String(name));
    l->setTextFormat(Qt::PlainText);
    return l;
}

// One line of a list: line breaks and control characters out, a hostile length cut.
QString listText(const QString& text) {
    return widgetSafeText(text.left(300)).simplified();
}

} // namespace

TFrmGuide::TFrmGuide(QWidget* parent)
    : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("FrmGuide"));
    setWindowTitle(QStringLiteral("Programme Guide"));
    resize(1000, 640);

    auto* top = new QHBoxLayout;
    m_allBouquets = new QCheckBox(QStringLiteral("All Bouquets"), this);
    m_allBouquets->setObjectName(QStringLiteral("ChkAllBouquets"));
    m_search = new QLineEdit(this);
    m_search->setObjectName(QStringLiteral("EdtSearch"));
    m_search->setPlaceholderText(QStringLiteral("Search titles"));
    m_search->setClearButtonEnabled(true);
    m_descriptions = new QCheckBox(QStringLiteral("Descriptions"), this);
    m_descriptions->setObjectName(QStringLiteral("ChkDescriptions"));
    m_found = label("LblFound", this);
    top->addWidget(m_allBouquets);
    top->addSpacing(12);
    top->addWidget(m_search, 1);
    top->addWidget(m_descriptions);
    top->addWidget(m_found);

    m_grid = new GuideGrid(this);
    m_grid->setObjectName(QStringLiteral("GuideGrid"));
    m_grid->setModel(&m_model);

    m_results = new QTreeWidget(this);
    m_results->setObjectName(QStringLiteral("LstResults"));
    m_results->setHeaderLabels(
        {QStringLiteral("Channel"), QStringLiteral("Day"), QStringLiteral("Time"), QStringLiteral("Title")});
    m_results->setRootIsDecorated(false);
    m_results->setUniformRowHeights(true);
    m_results->header()->setStretchLastSection(true);
    m_results->hide();

    auto* details = new QWidget(this);
    details->setObjectName(QStringLiteral("PnlDetails"));
    auto* dl = new QVBoxLayout(details);
    dl->setContentsMargins(6, 4, 6, 4);
    m_title = label("LblTitle", details);
    QFont bold = m_title->font();
    bold.setBold(true);
    m_title->setFont(bold);
    m_time = label("LblEPGTime", details);
    m_date = label("LblEPGDate", details);
    m_info1 = label("LblInfo1", details);
    m_info2 = new QPlainTextEdit(details);
    m_info2->setObjectName(QStringLiteral("MmoInfo2"));
    m_info2->setReadOnly(true);
    auto* when = new QHBoxLayout;
    when->addWidget(m_time);
    when->addWidget(m_date);
    when->addStretch(1);
    dl->addWidget(m_title);
    dl->addLayout(when);
    dl->addWidget(m_info1);
    dl->addWidget(m_info2, 1);

    auto* bottom = new QSplitter(Qt::Horizontal, this);
    bottom->addWidget(m_results);
    bottom->addWidget(details);
    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(m_grid);
    split->addWidget(bottom);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(split, 1);

    connect(m_grid, &GuideGrid::selectionChanged, this, &TFrmGuide::showDetails);
    connect(m_grid, &GuideGrid::activated, this, [this](int row, int32_t) { Q_EMIT switchRequested(row); });
    connect(m_grid, &GuideGrid::rowsInView, this, &TFrmGuide::announceWaiting);
    connect(m_allBouquets, &QCheckBox::toggled, this, &TFrmGuide::allBouquetsToggled);
    m_searchDelay.setSingleShot(true);
    m_searchDelay.setInterval(kSearchDelayMs);
    connect(&m_searchDelay, &QTimer::timeout, this, &TFrmGuide::runSearch);
    connect(m_search, &QLineEdit::textChanged, this, [this] { m_searchDelay.start(); });
    connect(m_descriptions, &QCheckBox::toggled, this, &TFrmGuide::runSearch);
    connect(m_results, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (item && m_grid->select(item->data(0, kRowRole).toInt(), item->data(0, kSlotRole).toInt()))
            return;
        if (item)
            showDetails(item->data(0, kRowRole).toInt(), item->data(0, kSlotRole).toInt());
    });
    connect(m_results, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) { findActivated(item); });
    m_search->installEventFilter(this);
    m_results->installEventFilter(this);
    // Runs while the window is shown.
    m_clock.setInterval(kClockMs);
    connect(&m_clock, &QTimer::timeout, this, &TFrmGuide::refresh);
    m_grid->setNow(nowSec());
}

TFrmGuide::~TFrmGuide() = default;

qint64 TFrmGuide::nowSec() const {
    return Clock::current().now().toSecsSinceEpoch();
}

void TFrmGuide::setLogoSource(std::function<QPixmap(const TChannel&)> logos) {
    m_grid->setLogoSource(std::move(logos));
}

void TFrmGuide::setFetchingSource(std::function<bool()> fetching) {
    m_fetching = std::move(fetching);
    m_model.setFetching(!m_fetching || m_fetching());
}

void TFrmGuide::setRows(QList<GuideChannel> rows, const QString& currentId) {
    const qint64 now = nowSec();
    m_grid->setNow(now);
    m_model.setRows(std::move(rows), now);
    m_grid->modelReset();
    m_grid->goToNow(std::max(m_model.rowOf(currentId), 0));
    if (!m_search->text().isEmpty())
        runSearch();
}

void TFrmGuide::refresh() {
    m_model.setFetching(!m_fetching || m_fetching());
    m_grid->setNow(nowSec());
    if (!m_model.refresh())
        return;
    m_grid->modelRefreshed();
    if (!m_search->text().isEmpty())
        runSearch();
    announceWaiting(m_grid->firstVisibleRow(), m_grid->lastVisibleRow());
}

void TFrmGuide::announceWaiting(int first, int last) {
    QList<TChannelRef> waiting;
    for (int r = first; r <= last && r < m_model.rowCount(); ++r) {
        const TChannelRef& ch = m_model.channel(r).Channel;
        if (!ch->EPGLoaded)
            waiting.append(ch);
    }
    Q_EMIT waitingInView(waiting);
}

void TFrmGuide::runSearch() {
    m_searchDelay.stop();
    const QString query = m_search->text();
    // The find the user is on stays chosen when new lists change the finds around it.
    QTreeWidgetItem* was = m_results->currentItem();
    const QVariant wasRow = was ? was->data(0, kRowRole) : QVariant();
    const QVariant wasSlot = was ? was->data(0, kSlotRole) : QVariant();
    const QSignalBlocker quiet(m_results);
    m_results->clear();
    if (query.trimmed().isEmpty()) {
        m_results->hide();
        m_found->clear();
        return;
    }
    int total = 0;
    const QList<GuideHit> hits = m_model.search(query, m_descriptions->isChecked(), kMaxFinds, &total);
    QList<QTreeWidgetItem*> items;
    items.reserve(hits.size());
    const GuideTimeAxis& axis = m_model.axis();
    for (const GuideHit& hit : hits) {
        const TChannel& ch = *m_model.channel(hit.Row).Channel;
        const TChannelProgram* p = blockProgramme(ch, hit.Slot);
        if (!p)
            continue;
        auto* item = new QTreeWidgetItem(
            {listText(ch.Caption), axis.day(hit.StartSec), axis.clock(hit.StartSec), listText(p->Title)});
        item->setData(0, kRowRole, hit.Row);
        item->setData(0, kSlotRole, hit.Slot);
        items.append(item);
    }
    m_results->addTopLevelItems(items);
    for (QTreeWidgetItem* item : std::as_const(items)) {
        if (wasRow.isValid() && item->data(0, kRowRole) == wasRow && item->data(0, kSlotRole) == wasSlot) {
            m_results->setCurrentItem(item);
            break;
        }
    }
    m_results->show();
    m_found->setText(total > hits.size() ? QStringLiteral("first %1 of %2 found").arg(hits.size()).arg(total)
                                         : QStringLiteral("%1 found").arg(total));
}

void TFrmGuide::findActivated(QTreeWidgetItem* item) {
    if (!item)
        return;
    const int row = item->data(0, kRowRole).toInt();
    const int32_t slot = item->data(0, kSlotRole).toInt();
    const TChannelProgram* p = row < m_model.rowCount() ? blockProgramme(*m_model.channel(row).Channel, slot) : nullptr;
    const qint64 now = nowSec();
    // What runs now is switched to; anything later is shown in the grid with its details.
    if (p && p->StartSec <= now && now < p->EndSec) {
        Q_EMIT switchRequested(row);
        return;
    }
    m_grid->select(row, slot);
    m_grid->setFocus();
}

void TFrmGuide::showDetails(int row, int32_t slot) {
    DetailsTexts t;
    if (row >= 0 && row < m_model.rowCount()) {
        const TChannel& ch = *m_model.channel(row).Channel;
        if (slot >= 0 || slot == GuideBlock::kNowSlot) {
            t = detailsTexts(ch, slot >= 0 ? slot : ch.NowEPG.Index);
        } else if (slot == GuideBlock::kNextSlot) {
            const TChannelProgram& n = ch.NextEPG;
            t.ShowInfo1 = !n.Info1.isEmpty();
            t.Title = widgetSafeText(ch.Caption + QStringLiteral(", ") + n.Title);
            t.Info1 = widgetSafeText(n.Info1);
            t.Info2 = widgetSafeText(n.Info2);
            t.Date = n.StartDate;
        } else {
            t.Title = widgetSafeText(ch.Caption);
        }
        // The times as the grid places them: the programme's own start and end on the local clock.
        if (const TChannelProgram* p = blockProgramme(ch, slot); p && p->StartSec > 0) {
            const GuideTimeAxis& axis = m_model.axis();
            t.Time = axis.clock(p->StartSec) + QLatin1Char('-') + axis.clock(p->EndSec) + QStringLiteral(" (") +
                     p->DurationMin + QStringLiteral("min)");
        }
    }
    m_title->setText(t.Title);
    m_time->setText(t.Time);
    m_date->setText(t.Date);
    m_info1->setText(t.Info1);
    m_info1->setVisible(t.ShowInfo1);
    if (m_info2->toPlainText() != t.Info2)
        m_info2->setPlainText(t.Info2);
}

void TFrmGuide::showEvent(QShowEvent* event) {
    m_clock.start();
    QWidget::showEvent(event);
}

void TFrmGuide::hideEvent(QHideEvent* event) {
    m_clock.stop();
    // Nothing is in view any more: the walk goes back to its own order.
    Q_EMIT waitingInView({});
    QWidget::hideEvent(event);
}

void TFrmGuide::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        if (!m_search->text().isEmpty()) {
            m_search->clear();
            runSearch();
            m_grid->setFocus();
        } else {
            close();
        }
        return;
    }
    QWidget::keyPressEvent(event);
}

bool TFrmGuide::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const int key = static_cast<QKeyEvent*>(event)->key();
    const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
    if (watched == m_search && (enter || key == Qt::Key_Down)) {
        // From the field on into its finds.
        runSearch();
        if (m_results->topLevelItemCount() > 0) {
            m_results->setFocus();
            if (!m_results->currentItem())
                m_results->setCurrentItem(m_results->topLevelItem(0));
        }
        return true;
    }
    if (watched == m_results && enter) {
        findActivated(m_results->currentItem());
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace quoxel
