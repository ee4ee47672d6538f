#include "guide/guidemodel.h"

#include <algorithm>
#include <exception>
#include <thread>

GuideModel::GuideModel(QTimeZone zone)
    : m_zone(std::move(zone)) {}

GuideModel::Stamp GuideModel::stampOf(const TChannel& ch) {
    return {ch.EPG.constData(), ch.EPG.size(),      ch.EPGCount,        ch.EPGLoaded,
            ch.NowEPG.EventId,  ch.NowEPG.StartSec, ch.NextEPG.StartSec};
}

void GuideModel::setRows(QList<GuideChannel> rows, qint64 nowSec) {
    const qint64 origin = GuideTimeAxis::originFor(nowSec, m_zone);
    m_axis = GuideTimeAxis(origin, origin + kMinSpanSec, m_zone);
    m_rows.clear();
    m_rows.reserve(static_cast<size_t>(rows.size()));
    for (GuideChannel& source : rows) {
        if (!source.Channel)
            continue;
        Row row;
        row.Source = std::move(source);
        m_rows.push_back(std::move(row));
    }
    layoutAll();
    qint64 end = origin + kMinSpanSec;
    for (const Row& row : m_rows) {
        if (!row.Blocks.empty())
            end = std::max(end, origin + row.Blocks.back().End);
    }
    m_axis = GuideTimeAxis(origin, end, m_zone);
}

bool GuideModel::refresh() {
    bool changed = false;
    qint64 end = m_axis.endSec();
    for (Row& row : m_rows) {
        if (stampOf(*row.Source.Channel) == row.Seen)
            continue;
        layoutRow(row);
        changed = true;
        if (!row.Blocks.empty())
            end = std::max(end, m_axis.originSec() + row.Blocks.back().End);
    }
    if (end != m_axis.endSec())
        m_axis = GuideTimeAxis(m_axis.originSec(), end, m_zone);
    return changed;
}

void GuideModel::layoutAll() {
    // Two halves at once: the rows are independent, and the records are only read while this
    // thread waits (nothing else writes them then).
    const size_t half = m_rows.size() < kRowsForTwoThreads ? m_rows.size() : m_rows.size() / 2;
    std::exception_ptr failed;
    std::thread other;
    if (half < m_rows.size()) {
        other = std::thread([this, half, &failed] {
            try {
                for (size_t r = half; r < m_rows.size(); ++r)
                    layoutRow(m_rows[r]);
            } catch (...) {
                failed = std::current_exception();
            }
        });
    }
    try {
        for (size_t r = 0; r < half; ++r)
            layoutRow(m_rows[r]);
    } catch (...) {
        if (other.joinable())
            other.join();
        throw;
    }
    if (other.joinable())
        other.join();
    if (failed)
        std::rethrow_exception(failed);
}

void GuideModel::layoutRow(Row& row) {
    const TChannel& ch = *row.Source.Channel;
    const qint64 origin = m_axis.originSec();
    const qint64 limit = origin + kMaxSpanSec;
    row.Seen = stampOf(ch);
    row.Blocks = layoutChannel(ch, origin, origin, limit);
    row.Blocks.shrink_to_fit();
    row.Titles.clear();
    row.Descriptions.clear();
    row.DescriptionsBuilt = false;
    // Every programme the guide's time holds, those of no length included: the list finds them.
    const auto add = [&](int32_t slot, const TChannelProgram& p) {
        if (p.StartSec > 0 && !p.isUnknown() && p.EndSec > origin && p.StartSec < limit)
            row.Titles.append(slot, p.Title);
    };
    if (!ch.EPG.isEmpty()) {
        row.Titles.reserve(ch.EPG.size(), ch.EPG.size() * 24);
        for (qsizetype k = 0; k < ch.EPG.size(); ++k)
            add(static_cast<int32_t>(k), ch.EPG[k]);
    } else {
        add(GuideBlock::kNowSlot, ch.NowEPG);
        add(GuideBlock::kNextSlot, ch.NextEPG);
    }
    row.Titles.squeeze();
}

void GuideModel::buildDescriptions(Row& row) {
    const TChannel& ch = *row.Source.Channel;
    row.Descriptions.clear();
    row.Descriptions.reserve(row.Titles.size(), 0);
    for (qsizetype e = 0; e < row.Titles.size(); ++e) {
        const int32_t slot = row.Titles.key(e);
        if (const TChannelProgram* p = blockProgramme(ch, slot))
            row.Descriptions.append(slot, p->Title + QLatin1Char(' ') + p->Info1 + QLatin1Char(' ') + p->Info2);
    }
    row.Descriptions.squeeze();
    row.DescriptionsBuilt = true;
}

GuideModel::RowState GuideModel::rowState(int row) const {
    const TChannel& ch = *m_rows[static_cast<size_t>(row)].Source.Channel;
    if (ch.EPGLoaded || ch.EPGCount > 0)
        return RowState::Ready;
    return m_fetching ? RowState::Loading : RowState::NoList;
}

int GuideModel::blockOfSlot(int row, int32_t slot) const {
    const auto& b = blocks(row);
    for (size_t i = 0; i < b.size(); ++i) {
        if (b[i].Slot == slot)
            return static_cast<int>(i);
    }
    return -1;
}

int GuideModel::rowOf(const QString& id) const {
    for (size_t r = 0; r < m_rows.size(); ++r) {
        if (m_rows[r].Source.Channel->Id == id)
            return static_cast<int>(r);
    }
    return -1;
}

QList<GuideHit> GuideModel::search(const QString& query, bool descriptions, int limit, int* total) {
    std::vector<GuideHit> hits;
    const QList<QByteArray> words = searchWords(foldForSearch(query));
    if (!words.isEmpty()) {
        for (size_t r = 0; r < m_rows.size(); ++r) {
            Row& row = m_rows[r];
            if (descriptions && !row.DescriptionsBuilt)
                buildDescriptions(row);
            const FoldedTexts& texts = descriptions ? row.Descriptions : row.Titles;
            const TChannel& ch = *row.Source.Channel;
            texts.find(words, [&](qsizetype entry) {
                const int32_t slot = texts.key(entry);
                if (const TChannelProgram* p = blockProgramme(ch, slot))
                    hits.push_back({static_cast<int>(r), slot, p->StartSec});
                return true;
            });
        }
    }
    if (total)
        *total = static_cast<int>(hits.size());
    const auto earlier = [](const GuideHit& a, const GuideHit& b) {
        return a.StartSec != b.StartSec ? a.StartSec < b.StartSec : a.Row < b.Row;
    };
    // A one-letter query can match most of a million programmes: only the first `limit` are sorted.
    const size_t keep = std::min(hits.size(), static_cast<size_t>(std::max(limit, 0)));
    if (keep < hits.size())
        std::nth_element(hits.begin(), hits.begin() + static_cast<std::ptrdiff_t>(keep), hits.end(), earlier);
    hits.resize(keep);
    std::sort(hits.begin(), hits.end(), earlier);
    return QList<GuideHit>(hits.begin(), hits.end());
}

qsizetype GuideModel::bytes() const {
    qsizetype sum = static_cast<qsizetype>(m_rows.capacity() * sizeof(Row));
    for (const Row& row : m_rows)
        sum += static_cast<qsizetype>(row.Blocks.capacity() * sizeof(GuideBlock)) + row.Titles.bytes() +
               row.Descriptions.bytes();
    return sum;
}
