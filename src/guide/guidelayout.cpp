#include "guide/guidelayout.h"

#include <QDateTime>
#include <QLocale>

#include <algorithm>
#include <numeric>

GuideTimeAxis::GuideTimeAxis(qint64 originSec, qint64 endSec, QTimeZone zone)
    : m_origin(originSec)
    , m_end(std::max(endSec, originSec))
    , m_zone(std::move(zone)) {}

qint64 GuideTimeAxis::originFor(qint64 nowSec, const QTimeZone& zone) {
    // Half hours of the local clock: zones a quarter hour off UTC get their own boundaries.
    const qint64 offset = QDateTime::fromSecsSinceEpoch(nowSec - 3600, zone).offsetFromUtc();
    const qint64 local = nowSec - 3600 + offset;
    const qint64 floored = local - ((local % kTickSec) + kTickSec) % kTickSec;
    return floored - offset;
}

QList<GuideTimeAxis::Tick> GuideTimeAxis::ticks(qint64 fromSec, qint64 toSec) const {
    QList<Tick> out;
    fromSec = std::max(fromSec, m_origin);
    toSec = std::min(toSec, m_end);
    if (toSec < fromSec)
        return out;
    // Ticks sit a whole number of half hours from the origin, which is on a half hour.
    qint64 t = m_origin + ((fromSec - m_origin) / kTickSec) * kTickSec;
    QString lastDay;
    for (; t <= toSec; t += kTickSec) {
        Tick tick;
        tick.Sec = t;
        tick.X = x(t);
        tick.Label = clock(t);
        const QString d = day(t);
        if (d != lastDay)
            tick.Day = d;
        lastDay = d;
        out.append(tick);
    }
    return out;
}

QString GuideTimeAxis::clock(qint64 sec) const {
    return QDateTime::fromSecsSinceEpoch(sec, m_zone).toString(QStringLiteral("hh:mm"));
}

QString GuideTimeAxis::day(qint64 sec) const {
    return QLocale::c().toString(QDateTime::fromSecsSinceEpoch(sec, m_zone), QStringLiteral("ddd dd.MM."));
}

const TChannelProgram* blockProgramme(const TChannel& channel, int32_t slot) {
    if (slot == GuideBlock::kNowSlot)
        return &channel.NowEPG;
    if (slot == GuideBlock::kNextSlot)
        return &channel.NextEPG;
    return channel.slot(slot);
}

namespace {

struct Candidate {
    qint64 Start;
    qint64 End;
    int32_t Slot;
};

bool usable(const TChannelProgram& p) {
    return p.StartSec > 0 && p.EndSec > p.StartSec && !p.isUnknown();
}

} // namespace

std::vector<GuideBlock> layoutChannel(const TChannel& channel, qint64 baseSec, qint64 fromSec, qint64 toSec) {
    std::vector<Candidate> c;
    if (!channel.EPG.isEmpty()) {
        c.reserve(static_cast<size_t>(channel.EPG.size()));
        for (qsizetype k = 0; k < channel.EPG.size(); ++k) {
            const TChannelProgram& p = channel.EPG[k];
            if (usable(p))
                c.push_back({p.StartSec, p.EndSec, static_cast<int32_t>(k)});
        }
    } else {
        if (usable(channel.NowEPG))
            c.push_back({channel.NowEPG.StartSec, channel.NowEPG.EndSec, GuideBlock::kNowSlot});
        if (usable(channel.NextEPG))
            c.push_back({channel.NextEPG.StartSec, channel.NextEPG.EndSec, GuideBlock::kNextSlot});
    }
    // The receiver sends its lists in time order; only a wrong one pays for the sort.
    const auto byStart = [](const Candidate& a, const Candidate& b) { return a.Start < b.Start; };
    if (!std::is_sorted(c.begin(), c.end(), byStart))
        std::stable_sort(c.begin(), c.end(), byStart);

    std::vector<GuideBlock> blocks;
    blocks.reserve(c.size());
    for (size_t i = 0; i < c.size(); ++i) {
        qint64 end = c[i].End;
        if (i + 1 < c.size())
            end = std::min(end, c[i + 1].Start);
        const qint64 start = c[i].Start;
        if (end <= start || end <= fromSec || start >= toSec)
            continue;
        // Kept within the range, so the relative seconds fit 32 bits whatever the receiver sent.
        blocks.push_back({static_cast<int32_t>(std::max(start, fromSec) - baseSec),
                          static_cast<int32_t>(std::min(end, toSec) - baseSec), c[i].Slot});
    }
    return blocks;
}

int blockAt(const std::vector<GuideBlock>& blocks, int32_t at) {
    const auto it =
        std::upper_bound(blocks.begin(), blocks.end(), at, [](int32_t t, const GuideBlock& b) { return t < b.Start; });
    if (it == blocks.begin())
        return -1;
    const auto i = static_cast<int>(it - blocks.begin()) - 1;
    return at < blocks[static_cast<size_t>(i)].End ? i : -1;
}

int nearestBlock(const std::vector<GuideBlock>& blocks, int32_t at) {
    if (blocks.empty())
        return -1;
    if (const int i = blockAt(blocks, at); i >= 0)
        return i;
    const int after = firstBlockFrom(blocks, at);
    return after < static_cast<int>(blocks.size()) ? after : static_cast<int>(blocks.size()) - 1;
}

int firstBlockFrom(const std::vector<GuideBlock>& blocks, int32_t from) {
    const auto it =
        std::upper_bound(blocks.begin(), blocks.end(), from, [](int32_t t, const GuideBlock& b) { return t < b.End; });
    return static_cast<int>(it - blocks.begin());
}
