#pragma once

#include "guide/guidemodel.h"

#include <QTimer>
#include <QWidget>

#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QTreeWidget;
class QTreeWidgetItem;

namespace quoxel {

class GuideGrid;

// The programme guide window TFrmGuide: the grid of the channels' programmes, the details of the
// selected one, and the search over the guide with its list of finds. Thin over GuideModel; what
// a switch or a row list means is the owner's (AppGuide). UI thread.
class TFrmGuide : public QWidget {
    Q_OBJECT
public:
    static constexpr int kMaxFinds = 500;
    static constexpr int kSearchDelayMs = 200;
    static constexpr int kClockMs = 1000;

    explicit TFrmGuide(QWidget* parent = nullptr);
    ~TFrmGuide() override;

    GuideModel& model() { return m_model; }
    GuideGrid* grid() const { return m_grid; }
    QCheckBox* ChkAllBouquets() const { return m_allBouquets; }
    QLineEdit* EdtSearch() const { return m_search; }
    QCheckBox* ChkDescriptions() const { return m_descriptions; }
    QLabel* LblFound() const { return m_found; }
    QTreeWidget* LstResults() const { return m_results; }
    QLabel* LblTitle() const { return m_title; }
    QLabel* LblEPGTime() const { return m_time; }

    // New rows; the grid goes to the programme running now on the row of channel id.
    void setRows(QList<GuideChannel> rows, const QString& currentId);
    void setLogoSource(std::function<QPixmap(const TChannel&)> logos);
    // Whether rows without a list will get one (the walk runs or can run); asked on every refresh.
    void setFetchingSource(std::function<bool()> fetching);
    // Looks at the records again: new lists are laid out, the clock and the finds follow.
    void refresh();
    // The search at once instead of after the typing pause.
    void runSearch();

Q_SIGNALS:
    // Enter or a double click on a programme, in the grid or the list of finds.
    void switchRequested(int row);
    void allBouquetsToggled(bool all);
    // The channels in view that have no list yet, top first.
    void waitingInView(const QList<TChannelRef>& channels);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showDetails(int row, int32_t slot);
    void findActivated(QTreeWidgetItem* item);
    void announceWaiting(int first, int last);
    qint64 nowSec() const;

    GuideModel m_model;
    GuideGrid* m_grid = nullptr;
    QCheckBox* m_allBouquets = nullptr;
    QLineEdit* m_search = nullptr;
    QCheckBox* m_descriptions = nullptr;
    QLabel* m_found = nullptr;
    QTreeWidget* m_results = nullptr;
    QLabel* m_title = nullptr;
    QLabel* m_time = nullptr;
    QLabel* m_date = nullptr;
    QLabel* m_info1 = nullptr;
    QPlainTextEdit* m_info2 = nullptr;
    std::function<bool()> m_fetching;
    QTimer m_clock;
    QTimer m_searchDelay;
};

} // namespace quoxel
