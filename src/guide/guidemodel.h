#pragma once

#include "box/records.h"
#include "guide/guidefold.h"
#include "guide/guidelayout.h"

#include <QList>
#include <QString>

#include <vector>

// One channel row of the guide as its source gives it.
struct GuideChannel {
    TChannelRef Channel;
    // The bouquet's caption and menu position in the all-bouquets view; empty and -1 otherwise.
    QString Bouquet;
    int BouquetIndex = -1;
};

// One programme a search found.
struct GuideHit {
    int Row = 0;
    int32_t Slot = 0;
    qint64 StartSec = 0;
};

// The programme guide without widgets: the channel rows with their blocks on one time axis, what
// each row still waits for, and the search over the rows' titles (and, asked for, descriptions).
// It reads the channel records and keeps per row what it worked out from them, redone for a row
// when the row's data changes. UI thread (the records are written there).
class GuideModel {
public:
    // How far the guide reaches at most and at least, from its origin.
    static constexpr qint64 kMaxSpanSec = 28 * 86400;
    static constexpr qint64 kMinSpanSec = 3 * 3600;

    enum class RowState {
        Loading, // no programme list yet, the walk will fetch it
        Ready,   // a list (or nothing) came
        NoList,  // no list and none coming (the EPG is stopped)
    };

    explicit GuideModel(QTimeZone zone = QTimeZone::systemTimeZone());

    // New rows, laid out from an hour before nowSec to as far as their lists reach.
    void setRows(QList<GuideChannel> rows, qint64 nowSec);
    // Lays out again the rows whose data changed since they were laid out; the axis grows with
    // lists that reach further. True when anything changed.
    bool refresh();
    // Whether rows without a list will get one (the walk runs or can run).
    void setFetching(bool fetching) { m_fetching = fetching; }

    const GuideTimeAxis& axis() const { return m_axis; }
    int rowCount() const { return static_cast<int>(m_rows.size()); }
    const GuideChannel& channel(int row) const { return m_rows[static_cast<size_t>(row)].Source; }
    const std::vector<GuideBlock>& blocks(int row) const { return m_rows[static_cast<size_t>(row)].Blocks; }
    RowState rowState(int row) const;
    // Seconds since 1970 of a block's start and end as drawn.
    qint64 startSec(const GuideBlock& b) const { return m_axis.originSec() + b.Start; }
    qint64 endSec(const GuideBlock& b) const { return m_axis.originSec() + b.End; }
    // The block of a row that shows a programme slot, or -1.
    int blockOfSlot(int row, int32_t slot) const;
    // First row whose channel has this id, or -1.
    int rowOf(const QString& id) const;

    // Programmes ending after the guide's origin whose folded title (or, with descriptions, title,
    // Info1 and Info2) holds every word of the query, ordered by start and row; at most limit of
    // them, *total counting all.
    QList<GuideHit> search(const QString& query, bool descriptions, int limit, int* total = nullptr);

    // Memory held by the rows' blocks and search texts, for the benchmark's account.
    qsizetype bytes() const;

private:
    struct Stamp {
        const void* Data = nullptr;
        qsizetype Size = 0;
        int32_t Count = 0;
        bool Loaded = false;
        QString NowEvent;
        qint64 NowStart = 0;
        qint64 NextStart = 0;
        bool operator==(const Stamp&) const = default;
    };
    struct Row {
        GuideChannel Source;
        Stamp Seen;
        std::vector<GuideBlock> Blocks;
        FoldedTexts Titles;
        FoldedTexts Descriptions;
        bool DescriptionsBuilt = false;
    };

    static Stamp stampOf(const TChannel& channel);
    static constexpr size_t kRowsForTwoThreads = 64;
    void layoutAll();
    void layoutRow(Row& row);
    void buildDescriptions(Row& row);

    QTimeZone m_zone;
    GuideTimeAxis m_axis;
    std::vector<Row> m_rows;
    bool m_fetching = true;
};
