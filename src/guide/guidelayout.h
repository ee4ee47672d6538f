#pragma once

#include "box/records.h"

#include <QList>
#include <QString>
#include <QTimeZone>

#include <climits>
#include <vector>

// The time axis of the programme guide: instants (seconds since 1970) to pixels at a fixed scale
// from an origin, so a summer-time change neither stretches nor folds the grid; the ruler's labels
// are the local clock of each instant. Value type, any thread.
class GuideTimeAxis {
public:
    static constexpr int kPixelsPerHour = 240;
    static constexpr int kTickSec = 1800;

    GuideTimeAxis() = default;
    GuideTimeAxis(qint64 originSec, qint64 endSec, QTimeZone zone = QTimeZone::systemTimeZone());

    // The first tick at or before an hour before now: where a guide opened at nowSec begins.
    static qint64 originFor(qint64 nowSec, const QTimeZone& zone = QTimeZone::systemTimeZone());

    qint64 originSec() const { return m_origin; }
    qint64 endSec() const { return m_end; }
    const QTimeZone& zone() const { return m_zone; }
    // Pixels from the origin; sec() rounds down to the second.
    qint64 x(qint64 sec) const { return (sec - m_origin) * kPixelsPerHour / 3600; }
    qint64 sec(qint64 x) const { return m_origin + x * 3600 / kPixelsPerHour; }
    qint64 width() const { return x(m_end); }

    struct Tick {
        qint64 Sec = 0;
        qint64 X = 0;
        QString Label; // "hh:mm" of the local clock
        QString Day;   // "Sat 30.03." at the first tick and where the local day changes, else empty
    };
    // The ticks every half hour from fromSec to toSec (clipped to the axis).
    QList<Tick> ticks(qint64 fromSec, qint64 toSec) const;

    // "hh:mm" and "Sat 30.03." of an instant in the axis' zone.
    QString clock(qint64 sec) const;
    QString day(qint64 sec) const;

private:
    qint64 m_origin = 0;
    qint64 m_end = 0;
    QTimeZone m_zone = QTimeZone::systemTimeZone();
};

// One programme as the grid draws it: its slot and the part of its time that is its own.
struct GuideBlock {
    // Seconds from the row base (the axis origin); a block ends where the next one starts.
    int32_t Start = 0;
    int32_t End = 0;
    // EPG slot; kNowSlot / kNextSlot for a channel known only from the all-channel answer.
    int32_t Slot = 0;

    static constexpr int32_t kNowSlot = -1;
    static constexpr int32_t kNextSlot = -2;
    // No programme (nothing selected).
    static constexpr int32_t kNoSlot = INT32_MIN;
};

// The programme a block stands for, or null when the channel no longer has it.
const TChannelProgram* blockProgramme(const TChannel& channel, int32_t slot);

// The blocks of one channel between fromSec and toSec, in time order, relative to baseSec: the
// programme list when it has one, else now and next from the all-channel answer. Programmes
// without a start, of no length or outside the range are left out; one that overlaps the next ends
// where the next begins, and of two with the same start the later in the list stays. Never more
// blocks than programmes, however wrong the list.
std::vector<GuideBlock> layoutChannel(const TChannel& channel, qint64 baseSec, qint64 fromSec, qint64 toSec);

// The block at an instant (relative seconds), or -1.
int blockAt(const std::vector<GuideBlock>& blocks, int32_t at);
// The block at the instant, else the first after it, else the last before it; -1 for none.
int nearestBlock(const std::vector<GuideBlock>& blocks, int32_t at);
// The first block that ends after `from` (relative seconds): where drawing a view begins.
int firstBlockFrom(const std::vector<GuideBlock>& blocks, int32_t from);
