#pragma once

#include "box/records.h"
#include "guide/guidemodel.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>

namespace quoxel {

class AppController;
class TFrmGuide;
class TFrmQuoxel;

// The programme guide put into the program: its rows from the shown bouquet or from all bouquets
// (loading the channel lists of bouquets not seen yet), the walk told which channels are in view,
// and Enter in the guide ending in SwitchChannel, through a bouquet switch for a channel of
// another bouquet. UI thread.
class AppGuide : public QObject {
    Q_OBJECT
public:
    // Rows at most in the all-bouquets view; bouquets beyond are not loaded.
    static constexpr int kMaxAllRows = 5000;
    // Time for loading other bouquets' channel lists in one showing.
    static constexpr int kLoadBudgetMs = 5000;

    AppGuide(AppController& app, TFrmQuoxel& window, QObject* parent = nullptr);
    ~AppGuide() override;

    // View > "Programme Guide" and its key: the guide on the channel on air, now in view.
    void ShowGuide();
    // The shown bouquet's channels were replaced: lists fetched for the guide go over into the new
    // records, and an open guide shows the new rows.
    void channelsChanged();
    // Null until first shown.
    TFrmGuide* window() const;

private:
    QList<GuideChannel> rows(bool allBouquets);
    QList<TChannelRef> bouquetChannels(int index, QList<TChannelRef>* fresh);
    void fillRows();
    void switchTo(int row);
    void waitingInView(const QList<TChannelRef>& channels);

    AppController& m_app;
    TFrmQuoxel& m_w;
    QPointer<TFrmGuide> m_guide;
    // Channel lists of bouquets loaded for the all-bouquets view, by menu position.
    QHash<int, QList<TChannelRef>> m_loaded;
    QElapsedTimer m_loading;
    bool m_filling = false;
};

} // namespace quoxel
