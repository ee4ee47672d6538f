#include "guide/guidemodel.h"

#include <algorithm>
#include <climits>
#include <exception>
#include <thread>

GuideModel::GuideModel(QTimeZone zone)
    : m_zone(std::move(zone)) {}

GuideModel::~GuideModel() {
    m_folder.stop();
}

GuideModel::Stamp GuideModel::stampOf(const TChannel& ch) {
    return {ch.EPG.constData(), ch.EPG.size(),      ch.EPGCount,        ch.EPGLoaded,
            ch.NowEPG.EventId,  ch.NowEPG.StartSec, ch.NextEPG.StartSec};
}

void GuideModel::setRows(QList<GuideChannel> rows, qint64 nowSec) {
    const qint64 origin = GuideTimeAxis::originFor(nowSec, m_zone);
    m_axis = GuideTimeAxis(origin, origin + kMinSpanSec, m_zone);
    m_folder.cancel();
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
    for (Row& row : m_rows) {
        row.Generation = ++m_generation;
        if (!row.Blocks.empty())
            end = std::max(end, origin + row.Blocks.back().End);
    }
    m_axis = GuideTimeAxis(origin, end, m_zone);
    queueDescriptions();
}

bool GuideModel::refresh() {
    bool changed = false;
    qint64 end = m_axis.endSec();
    for (Row& row : m_rows) {
        if (stampOf(*row.Source.Channel) == row.Seen)
            continue;
        layoutRow(row);
        row.Generation = ++m_generation;
        changed = true;
        if (!row.Blocks.empty())
            end = std::max(end, m_axis.originSec() + row.Blocks.back().End);
    }
    if (end != m_axis.endSec())
        m_axis = GuideTimeAxis(m_axis.originSec(), end, m_zone);
    if (changed)
        queueDescriptions();
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
    row.Descriptions.reset();
    row.DescriptionsQueued = false;
    // Every programme the guide's time holds, those of no length included (the list finds them),
    // in time order: a search takes the first finds of a row and only counts the rest.
    struct Entry {
        qint64 Start;
        int32_t Slot;
    };
    std::vector<Entry> entries;
    const auto add = [&](int32_t slot, const TChannelProgram& p) {
        if (p.StartSec > 0 && !p.isUnknown() && p.EndSec > origin && p.StartSec < limit)
            entries.push_back({p.StartSec, slot});
    };
    if (!ch.EPG.isEmpty()) {
        entries.reserve(static_cast<size_t>(ch.EPG.size()));
        for (qsizetype k = 0; k < ch.EPG.size(); ++k)
            add(static_cast<int32_t>(k), ch.EPG[k]);
    } else {
        add(GuideBlock::kNowSlot, ch.NowEPG);
        add(GuideBlock::kNextSlot, ch.NextEPG);
    }
    const auto earlier = [](const Entry& a, const Entry& b) { return a.Start < b.Start; };
    if (!std::is_sorted(entries.begin(), entries.end(), earlier))
        std::stable_sort(entries.begin(), entries.end(), earlier);
    row.Titles.clear();
    row.Titles.reserve(static_cast<qsizetype>(entries.size()), static_cast<qsizetype>(entries.size()) * 24);
    row.Slots.clear();
    row.Slots.reserve(entries.size());
    row.Starts.clear();
    row.Starts.reserve(entries.size());
    for (const Entry& e : entries) {
        row.Titles.append(blockProgramme(ch, e.Slot)->Title);
        row.Slots.push_back(e.Slot);
        // A start long before the origin only needs to sort first.
        row.Starts.push_back(static_cast<int32_t>(std::max<qint64>(e.Start - origin, INT32_MIN)));
    }
    row.Titles.squeeze();
}

void GuideModel::setDescriptionsWanted(bool wanted) {
    m_descriptionsWanted = wanted;
    if (wanted) {
        queueDescriptions();
        return;
    }
    m_folder.cancel();
    m_folder.take();
    for (Row& row : m_rows) {
        row.Descriptions.reset();
        row.DescriptionsQueued = false;
    }
}

void GuideModel::setDescriptionsNotify(std::function<void()> notify) {
    m_folder.setNotify(std::move(notify));
}

void GuideModel::queueDescriptions() {
    if (!m_descriptionsWanted)
        return;
    // The lists are shared with the records, not copied: a row costs this thread a few counts.
    std::vector<GuideDescriptionJob> jobs;
    for (size_t r = 0; r < m_rows.size(); ++r) {
        Row& row = m_rows[r];
        if (row.Descriptions || row.DescriptionsQueued)
            continue;
        const TChannel& ch = *row.Source.Channel;
        jobs.push_back({static_cast<int>(r), row.Generation, ch.EPG, ch.NowEPG, ch.NextEPG, row.Slots});
        row.DescriptionsQueued = true;
    }
    m_folder.add(std::move(jobs));
}

bool GuideModel::takeDescriptions() {
    bool any = false;
    std::vector<GuideDescriptionFolder::Done> taken = m_folder.take();
    if (!m_descriptionsWanted)
        return false;
    for (GuideDescriptionFolder::Done& done : taken) {
        // A row laid out anew since has a new generation, and a new job on its way.
        if (done.Row < 0 || static_cast<size_t>(done.Row) >= m_rows.size())
            continue;
        Row& row = m_rows[static_cast<size_t>(done.Row)];
        if (row.Generation != done.Generation)
            continue;
        row.Descriptions = std::move(done.Descriptions);
        row.DescriptionsQueued = false;
        any = true;
    }
    return any;
}

int GuideModel::descriptionsPending() const {
    if (!m_descriptionsWanted)
        return 0;
    return static_cast<int>(
        std::count_if(m_rows.begin(), m_rows.end(), [](const Row& row) { return !row.Descriptions; }));
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

QList<GuideHit> GuideModel::search(const QString& query, bool descriptions, int limit, int* total) const {
    QList<QByteArray> words = searchWords(foldForSearch(query));
    // One bit a word; the longest come first, and those are the ones that narrow.
    constexpr qsizetype kMaxWords = 32;
    if (words.size() > kMaxWords)
        words.resize(kMaxWords);
    const uint32_t all = words.size() == kMaxWords ? ~0u : (1u << words.size()) - 1;
    std::vector<WordFinder> finders;
    for (const QByteArray& word : std::as_const(words))
        finders.emplace_back(word);
    const size_t keep = static_cast<size_t>(std::max(limit, 0));
    const auto earlier = [](const GuideHit& a, const GuideHit& b) {
        return a.StartSec != b.StartSec ? a.StartSec < b.StartSec : a.Row < b.Row;
    };
    // The first `keep` finds in a heap whose top is the latest of them; the rest are only counted.
    std::vector<GuideHit> best;
    best.reserve(keep);
    int found = 0;
    std::vector<uint32_t> marks;
    std::vector<uint32_t> textMarks;
    for (size_t r = 0; r < m_rows.size() && !words.isEmpty(); ++r) {
        const Row& row = m_rows[r];
        marks.assign(static_cast<size_t>(row.Titles.size()), 0);
        for (qsizetype w = 0; w < words.size(); ++w)
            row.Titles.mark(finders[static_cast<size_t>(w)], 1u << w, marks.data());
        if (descriptions && row.Descriptions) {
            const GuideRowDescriptions& d = *row.Descriptions;
            textMarks.assign(static_cast<size_t>(d.Texts.size()), 0);
            for (qsizetype w = 0; w < words.size(); ++w)
                d.Texts.mark(finders[static_cast<size_t>(w)], 1u << w, textMarks.data());
            for (size_t e = 0; e < marks.size() && e < d.Of.size(); ++e) {
                if (d.Of[e] >= 0)
                    marks[e] |= textMarks[static_cast<size_t>(d.Of[e])];
            }
        }
        for (size_t e = 0; e < marks.size(); ++e) {
            if (marks[e] != all)
                continue;
            ++found;
            const GuideHit hit{static_cast<int>(r), row.Slots[e], m_axis.originSec() + row.Starts[e]};
            if (best.size() < keep) {
                best.push_back(hit);
                std::push_heap(best.begin(), best.end(), earlier);
            } else if (keep > 0 && earlier(hit, best.front())) {
                std::pop_heap(best.begin(), best.end(), earlier);
                best.back() = hit;
                std::push_heap(best.begin(), best.end(), earlier);
            }
        }
    }
    if (total)
        *total = found;
    std::sort_heap(best.begin(), best.end(), earlier);
    return QList<GuideHit>(best.begin(), best.end());
}

qsizetype GuideModel::bytes() const {
    qsizetype sum = static_cast<qsizetype>(m_rows.capacity() * sizeof(Row));
    for (const Row& row : m_rows)
        sum += static_cast<qsizetype>(row.Blocks.capacity() * sizeof(GuideBlock) +
                                      (row.Slots.capacity() + row.Starts.capacity()) * sizeof(int32_t)) +
               row.Titles.bytes() + (row.Descriptions ? row.Descriptions->bytes() : 0);
    return sum;
}
