#pragma once

#include "box/bouquets.h"
#include "box/records.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringView>

#include <functional>
#include <optional>

namespace EpgUrls {
inline const QString kAllChannels = QStringLiteral("http://<IP:PORT>/control/epg?ext");
inline const QString kChannelXml =
    QStringLiteral("http://<IP:PORT>/control/epg?xml=true&channelid=<idchannel>&details=true&max=500");
inline const QString kIdChannel = QStringLiteral("<idchannel>");
} // namespace EpgUrls

// Receiver times past this (2100-01-01 00:00 UTC) are taken as garbage, like negative ones.
inline constexpr qint64 kMaxBoxTimeSec = 4102444800;

// A decimal integer as the receiver writes it (blanks around allowed); false for anything else.
bool parseBoxNumber(QStringView text, qint64* value);

// Local date-time as days since 1899-12-30 with the time of day as fraction, and back.
double toDays(const QDateTime& local);
QDateTime fromDays(double days);

// Receiver start and duration (decimal seconds since 1970 on the receiver clock) to local times of
// the PC, with the zone's real offset at that instant and the receiver clock offset
// (Options.BoxTimeOffset). Writes StartTime/EndTime/StartSec/EndSec of prog and returns "hh:mm" or
// "dd.mm.yyyy"; a non-numeric or absurd start or duration leaves prog as it was and gives "".
QString BoxTimeToLocal(const QString& start, const QString& duration, bool clockText, TChannelProgram& prog);

// Seconds since the programme's start at nowSec; 0 before the start or without a start.
qint64 elapsedSeconds(const TChannelProgram& prog, qint64 nowSec);
// Sets ElapsedMin/ElapsedSec when the programme has a start.
void computeElapsed(TChannelProgram& prog, qint64 nowSec);

// The text after the first open tag up to the next close tag (to the end when there is none);
// a CDATA wrapper is taken off. Empty when the open tag is missing.
QString TagValue(QStringView text, QStringView open, QStringView close);

// One line of the all-channel answer: id, start, duration, event id and the rest as title.
struct TAllChannelLine {
    QString Id;
    QString Start;
    QString Duration;
    QString EventId;
    QString Title;
};
TAllChannelLine splitAllChannelLine(const QString& line);

// Stops the all-channel load when it returns true; the window also lets messages run in it.
using StopFn = std::function<bool()>;

// The all-channel "epg?ext" answer into the NowEPG of every channel still without an event id;
// the first line for an id wins. Returns the number of channels filled.
int ParseAllChannelEPG(const QString& answer, const QList<TChannelRef>& channels, const StopFn& stop = {});
int ParseAllChannelEPG(const QByteArray& answer, const QList<TChannelRef>& channels, const StopFn& stop = {});
// Requests the all-channel answer with the given client function and parses it.
int ParseEPG(const BoxRequestFn& request, const QList<TChannelRef>& channels, const StopFn& stop = {});

// The programmes of one channel's XML answer, at most TChannel::kEPGSlots; nullopt for an empty
// answer or the client's time-out text (the channel then stays as it was).
std::optional<QList<TChannelProgram>> ParseEPGXml(QStringView text);
// Stores a parsed list in the channel: slots, EPGCount, NowEPG when it had no all-channel data,
// then UpdateNowNext unless the channel is one of the pay-per-view kind.
void ApplyChannelEPG(TChannel& channel, QList<TChannelProgram> programs);
// Both steps; returns the new EPGCount, or -1 when the answer changed nothing.
int ParseEPG(TChannel& channel, const QString& text);
int ParseEPG(TChannel& channel, const QByteArray& text);

// The per-channel request URL.
QString ChannelEPGURL(const QString& id);
// Fetches and parses one channel's list; a TV channel counts as loaded afterwards, a radio channel
// not (its song titles change). The pause before it and the busy flags are the EPG thread's part.
void LoadChannelEPG(TChannel& channel, const BoxRequestFn& request);

// Moves NowEPG/NextEPG along the list by the clock (Clock::current()); true when either moved,
// so the views need a repaint.
bool UpdateNowNext(TChannel* channel);
bool UpdateNowNext(TChannel* channel, qint64 nowSec);
