#include "box/epgparse.h"

#include "box/boxcommands.h"
#include "core/clock.h"
#include "core/log.h"
#include "core/options.h"

#include <QHash>
#include <QStringMatcher>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <limits>
#include <vector>

namespace {

const QDate kDayZero(1899, 12, 30);
constexpr qint64 kMsPerDay = 86400000;

// Receiver text is trimmed of blanks and control characters, as the box pads its fields.
bool isBlank(QChar c) {
    return c.unicode() <= 0x20;
}

QString removeInterpret(QString title) {
    return title.remove(QStringLiteral("Interpret: "));
}

bool isPayPerView(const QString& caption) {
    static const QString kNames[] = {QStringLiteral("PREMIERE DIREKT"), QStringLiteral("EROTIK"),
                                     QStringLiteral("THEMA LIVE"), QStringLiteral("PREMIERE SPORT")};
    return std::any_of(std::begin(kNames), std::end(kNames),
                       [&](const QString& name) { return caption.contains(name); });
}

qint64 nowSecs() {
    return Clock::current().now().toSecsSinceEpoch();
}

} // namespace

bool parseBoxNumber(QStringView text, qint64* value) {
    qsizetype b = 0;
    qsizetype e = text.size();
    while (b < e && isBlank(text[b]))
        ++b;
    while (e > b && isBlank(text[e - 1]))
        --e;
    bool negative = false;
    if (b < e && (text[b] == QLatin1Char('-') || text[b] == QLatin1Char('+'))) {
        negative = text[b] == QLatin1Char('-');
        ++b;
    }
    // More digits than this are garbage anyway and would overflow.
    if (b == e || e - b > 15)
        return false;
    qint64 v = 0;
    for (qsizetype i = b; i < e; ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return false;
        v = v * 10 + (c - u'0');
    }
    *value = negative ? -v : v;
    return true;
}

double toDays(const QDateTime& local) {
    return static_cast<double>(kDayZero.daysTo(local.date())) +
           static_cast<double>(local.time().msecsSinceStartOfDay()) / kMsPerDay;
}

QDateTime fromDays(double days) {
    const double whole = std::floor(days);
    const auto ms = static_cast<int>(std::llround((days - whole) * kMsPerDay));
    return QDateTime(kDayZero.addDays(static_cast<qint64>(whole)), QTime(0, 0).addMSecs(ms), Qt::LocalTime);
}

namespace {

qint64 floorDiv(qint64 a, qint64 b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

// Seconds local time is ahead of UTC at a UTC instant, daylight saving included. Zone offsets only
// change on quarter hours, so the zone rules are asked once per quarter hour and the answers kept
// (per thread: the EPG thread parses too). Without this a bouquet's worth of programmes spends most
// of its time in the C library's zone look-ups.
struct ZoneCache {
    QByteArray Tz;
    std::chrono::steady_clock::time_point Made;
    QHash<qint64, int> Offsets;
    qint64 LastKey = std::numeric_limits<qint64>::min();
    int LastOffset = 0;
};
thread_local ZoneCache zoneCache;

// Once per parse, not per programme: a changed TZ or answers older than a minute start afresh.
void refreshZoneCache() {
    ZoneCache& cache = zoneCache;
    const auto now = std::chrono::steady_clock::now();
    const char* tzEnv = std::getenv("TZ");
    const QByteArrayView tz = tzEnv ? QByteArrayView(tzEnv) : QByteArrayView();
    if (tz != cache.Tz || now - cache.Made > std::chrono::minutes(1) || cache.Offsets.size() > 4096) {
        cache.Tz = tz.toByteArray();
        cache.Made = now;
        cache.Offsets.clear();
        cache.LastKey = std::numeric_limits<qint64>::min();
    }
}

int localOffsetAt(qint64 utcSec) {
    ZoneCache& cache = zoneCache;
    const qint64 key = floorDiv(utcSec, 900);
    // Programmes of one answer mostly start in the same few quarter hours.
    if (key == cache.LastKey)
        return cache.LastOffset;
    const auto it = cache.Offsets.constFind(key);
    const int offset =
        it != cache.Offsets.constEnd()
            ? *it
            : *cache.Offsets.insert(key, QDateTime::fromSecsSinceEpoch(key * 900, Qt::LocalTime).offsetFromUtc());
    cache.LastKey = key;
    cache.LastOffset = offset;
    return offset;
}

// A local time as seconds since 1970-01-01 00:00 local.
qint64 toLocalSecs(qint64 utcSec) {
    return utcSec + localOffsetAt(utcSec);
}

double localSecsToDays(qint64 localSecs) {
    // 1970-01-01 is day 25569 after 1899-12-30.
    return 25569.0 + static_cast<double>(localSecs) / 86400.0;
}

void appendTwo(QString& out, int v) {
    out += QLatin1Char(static_cast<char>('0' + v / 10));
    out += QLatin1Char(static_cast<char>('0' + v % 10));
}

// "hh:mm" and "dd.mm.yyyy" of a local time.
QString formatClock(qint64 localSecs) {
    const qint64 secs = localSecs - floorDiv(localSecs, 86400) * 86400;
    QString out;
    out.reserve(5);
    appendTwo(out, static_cast<int>(secs / 3600));
    out += QLatin1Char(':');
    appendTwo(out, static_cast<int>(secs / 60 % 60));
    return out;
}

QString formatDate(qint64 localSecs) {
    const QDate date = QDate(1970, 1, 1).addDays(floorDiv(localSecs, 86400));
    QString out;
    out.reserve(10);
    appendTwo(out, date.day());
    out += QLatin1Char('.');
    appendTwo(out, date.month());
    out += QLatin1Char('.');
    const int year = date.year();
    if (year >= 0 && year <= 9999) {
        appendTwo(out, year / 100);
        appendTwo(out, year % 100);
    } else {
        out += QString::number(year);
    }
    return out;
}

// The texts a guide repeats thousands of times (clock times, the few dates of an answer, small
// numbers) are made once per thread and handed out as shared copies: a bouquet's worth of
// programmes otherwise spends most of its time allocating equal strings.
struct TextCache {
    static constexpr int kNumbers = 4096;
    std::vector<QString> Numbers = std::vector<QString>(kNumbers);
    std::vector<QString> Clocks = std::vector<QString>(24 * 60);
    qint64 DateDays[2] = {std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::min()};
    QString Dates[2];
    int NextDate = 0;
};
thread_local TextCache textCache;

QString numberText(qint64 v) {
    if (v < 0 || v >= TextCache::kNumbers)
        return QString::number(v);
    QString& text = textCache.Numbers[static_cast<size_t>(v)];
    if (text.isEmpty())
        text = QString::number(v);
    return text;
}

QString clockOf(qint64 localSecs) {
    const qint64 minute = (localSecs - floorDiv(localSecs, 86400) * 86400) / 60;
    QString& text = textCache.Clocks[static_cast<size_t>(minute)];
    if (text.isEmpty())
        text = formatClock(localSecs);
    return text;
}

QString dateOf(qint64 localSecs) {
    TextCache& cache = textCache;
    const qint64 day = floorDiv(localSecs, 86400);
    for (int k = 0; k < 2; ++k) {
        if (cache.DateDays[k] == day)
            return cache.Dates[k];
    }
    // Two days kept: an evening's answer crosses midnight once.
    const int k = cache.NextDate;
    cache.NextDate = 1 - k;
    cache.DateDays[k] = day;
    cache.Dates[k] = formatDate(localSecs);
    return cache.Dates[k];
}

// The conversion behind BoxTimeToLocal; gives the local start so callers can format it more than once.
bool boxTimes(QStringView start, QStringView duration, TChannelProgram& prog, qint64* localStart) {
    qint64 s = 0;
    qint64 d = 0;
    if (!parseBoxNumber(start, &s) || !parseBoxNumber(duration, &d))
        return false;
    if (s < 0 || d < 0 || s > kMaxBoxTimeSec || d > kMaxBoxTimeSec - s)
        return false;
    // The receiver clock runs BoxTimeOffset minutes ahead of the PC clock.
    const qint64 pcStart = s - static_cast<qint64>(Options.BoxTimeOffset) * 60;
    // Each instant with the zone's offset in force then, so summer and winter times both come out right.
    *localStart = toLocalSecs(pcStart);
    prog.StartSec = pcStart;
    prog.EndSec = pcStart + d;
    prog.StartTime = localSecsToDays(*localStart);
    prog.EndTime = localSecsToDays(toLocalSecs(pcStart + d));
    return true;
}

} // namespace

QString BoxTimeToLocal(const QString& start, const QString& duration, bool clockText, TChannelProgram& prog) {
    refreshZoneCache();
    qint64 local = 0;
    if (!boxTimes(start, duration, prog, &local))
        return QString();
    return clockText ? clockOf(local) : dateOf(local);
}

qint64 elapsedSeconds(const TChannelProgram& prog, qint64 nowSec) {
    if (!prog.hasStart())
        return 0;
    // No wrap at a day: a programme that ended yesterday must not look as if it were running.
    return std::max<qint64>(0, nowSec - prog.StartSec);
}

void computeElapsed(TChannelProgram& prog, qint64 nowSec) {
    if (!prog.hasStart())
        return;
    const qint64 e = elapsedSeconds(prog, nowSec);
    prog.ElapsedMin = numberText(e / 60);
    prog.ElapsedSec = numberText(e);
}

namespace {

// Whether tag stands at i: an inline compare, as the walks below make it for every "<" they meet.
inline bool hasAt(QStringView text, qsizetype i, QStringView tag) {
    return text.size() - i >= tag.size() && std::equal(tag.begin(), tag.end(), text.begin() + i);
}

// The text between an open tag found at o and its close tag at c (-1: none, the rest of the
// text), without its CDATA wrapping.
QString tagValueBetween(QStringView text, qsizetype o, qsizetype openSize, qsizetype c) {
    if (o < 0)
        return QString();
    const qsizetype from = o + openSize;
    QStringView value = c < 0 ? text.mid(from) : text.mid(from, c - from);
    static constexpr QStringView kEmptyCdata = u"<![CDATA[]]>";
    static constexpr QStringView kCdataOpen = u"<![CDATA[";
    static constexpr QStringView kCdataClose = u"]]>";
    if (value == kEmptyCdata)
        return QString();
    // The receiver puts the CDATA right after the tag; anywhere else it is searched for.
    const qsizetype cd = hasAt(value, 0, kCdataOpen) ? 0 : value.indexOf(kCdataOpen);
    if (cd >= 0) {
        value = value.mid(cd + kCdataOpen.size());
        if (value.endsWith(kCdataClose))
            value.chop(kCdataClose.size());
    }
    return value.toString();
}

// TagValue once the open tag has been found at o.
QString tagValueAt(QStringView text, qsizetype o, QStringView open, QStringView close) {
    if (o < 0)
        return QString();
    // The close tag is looked for after the open one; one earlier in the text belongs to nothing.
    const qsizetype c = close.isEmpty() ? -1 : text.indexOf(close, o + open.size());
    return tagValueBetween(text, o, open.size(), c);
}

} // namespace

QString TagValue(QStringView text, QStringView open, QStringView close) {
    return tagValueAt(text, text.indexOf(open), open, close);
}

namespace {

QStringView trimmedView(QStringView s) {
    qsizetype b = 0;
    qsizetype e = s.size();
    while (b < e && isBlank(s[b]))
        ++b;
    while (e > b && isBlank(s[e - 1]))
        --e;
    return s.mid(b, e - b);
}

} // namespace

namespace {

// The five fields of an "epg?ext" line as views into it.
struct AllChannelFields {
    QStringView Id;
    QStringView Start;
    QStringView Duration;
    QStringView EventId;
    QStringView Title;
};

AllChannelFields splitFields(QStringView line) {
    QStringView rest = trimmedView(line);
    QStringView fields[4];
    for (QStringView& field : fields) {
        const qsizetype p = rest.indexOf(QLatin1Char(' '));
        if (p < 0) {
            field = rest;
            rest = QStringView();
        } else {
            field = trimmedView(rest.left(p));
            rest = trimmedView(rest.mid(p + 1));
        }
    }
    return {fields[0], fields[1], fields[2], fields[3], rest};
}

// Calls f for every line of an answer (CR, LF or CRLF ends a line), as views: no line is copied.
template <typename F>
void forEachLine(QStringView text, F&& f) {
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            if (!f(text.mid(start, i - start)))
                return;
            if (c == QLatin1Char('\r') && i + 1 < n && text[i + 1] == QLatin1Char('\n'))
                ++i;
            start = i + 1;
        }
    }
    if (start < n)
        f(text.mid(start));
}

} // namespace

TAllChannelLine splitAllChannelLine(const QString& line) {
    const AllChannelFields f = splitFields(line);
    return {f.Id.toString(), f.Start.toString(), f.Duration.toString(), f.EventId.toString(), f.Title.toString()};
}

namespace {

// The channels by the hash of their id in one open-addressed table (one allocation for the whole
// bouquet). A bouquet may hold an id more than once and two ids may share a hash: every hit is
// checked against the id itself, and entries of one hash are met in box order.
class ChannelIdTable {
public:
    explicit ChannelIdTable(const QList<TChannelRef>& channels) {
        size_t size = 16;
        while (size < static_cast<size_t>(channels.size()) * 2)
            size *= 2;
        m_slots.resize(size);
        m_mask = size - 1;
        for (const TChannelRef& ch : channels) {
            if (!ch || ch->Id.isEmpty())
                continue;
            const size_t hash = qHash(QStringView(ch->Id));
            size_t i = hash & m_mask;
            while (m_slots[i].Channel)
                i = (i + 1) & m_mask;
            m_slots[i] = {hash, ch.get(), false};
        }
    }

    // Calls f(slot) for every not yet filled channel whose id is id, in box order, until f
    // returns false.
    template <typename F>
    void forEach(QStringView id, F&& f) {
        const size_t hash = qHash(id);
        for (size_t i = hash & m_mask; m_slots[i].Channel; i = (i + 1) & m_mask) {
            Slot& slot = m_slots[i];
            if (slot.Hash == hash && !slot.Filled && slot.Channel->Id == id && !f(slot))
                return;
        }
    }

    struct Slot {
        size_t Hash = 0;
        TChannel* Channel = nullptr;
        bool Filled = false;
    };

private:
    std::vector<Slot> m_slots;
    size_t m_mask = 0;
};

} // namespace

int ParseAllChannelEPG(const QString& answer, const QList<TChannelRef>& channels, const StopFn& stop) {
    ChannelIdTable byId(channels);
    const qint64 now = nowSecs();
    refreshZoneCache();
    int filled = 0;
    int badLines = 0;

    forEachLine(answer, [&](QStringView line) {
        if (stop && stop())
            return false;
        const qsizetype blank = line.indexOf(QLatin1Char(' '));
        const QStringView id = trimmedView(line.left(blank < 0 ? line.size() : blank));
        AllChannelFields f;
        bool parsed = false;
        qint64 duration = 0;
        // A filled channel leaves the table (a line without an event id leaves EventId empty,
        // and a later line for the channel must still not overwrite the first).
        byId.forEach(id, [&](ChannelIdTable::Slot& slot) {
            TChannel* ch = slot.Channel;
            if (!ch->NowEPG.EventId.isEmpty())
                return true;
            if (!parsed) {
                f = splitFields(line);
                parsed = true;
            }
            // A bad duration spoils only its own line; the channel waits for a later line.
            if (!parseBoxNumber(f.Duration, &duration) || duration < 0 || duration > kMaxBoxTimeSec) {
                ++badLines;
                return false;
            }
            TChannelProgram p;
            p.Index = ch->NowEPG.Index;
            p.DurationMin = numberText(duration / 60);
            p.DurationSec = f.Duration.toString();
            p.EventId = f.EventId.toString();
            // One conversion for both texts (the date and the clock of the same start).
            if (qint64 local = 0; boxTimes(f.Start, f.Duration, p, &local)) {
                p.StartDate = dateOf(local);
                p.StartClock = clockOf(local);
            }
            computeElapsed(p, now);
            p.Title = ch->Mode == mRadio ? removeInterpret(f.Title.toString()) : f.Title.toString();
            ch->NowEPG = std::move(p);
            slot.Filled = true;
            ++filled;
            return true;
        });
        return true;
    });
    if (badLines > 0)
        Log(LogFunc, QStringLiteral("ParseEPG: ") + QString::number(badLines) +
                         QStringLiteral(" line(s) with a bad duration skipped"));
    return filled;
}

int ParseAllChannelEPG(const QByteArray& answer, const QList<TChannelRef>& channels, const StopFn& stop) {
    return ParseAllChannelEPG(QString::fromLatin1(answer), channels, stop);
}

int ParseEPG(const BoxRequestFn& request, const QList<TChannelRef>& channels, const StopFn& stop) {
    const QString url = BoxURL(EpgUrls::kAllChannels);
    QString answer;
    try {
        if (request)
            answer = request(url);
    } catch (...) {
        Log(LogHttp, url + QStringLiteral(" failed"));
        return 0;
    }
    return ParseAllChannelEPG(answer, channels, stop);
}

namespace {

enum ProgTag { EventId, Duration, StartSec, StartT, Description, Info1, Info2, TagCount };
constexpr QStringView kProgOpen[TagCount] = {u"<eventid>",     u"<duration_min>", u"<start_sec>", u"<start_t>",
                                             u"<description>", u"<info1>",        u"<info2>"};
constexpr QStringView kProgClose[TagCount] = {u"</eventid>",     u"</duration_min>", u"</start_sec>", u"</start_t>",
                                              u"</description>", u"</info1>",        u"</info2>"};
constexpr QStringView kProgEnd = u"</prog>";

// Where each tag of a "<prog>" block opens and closes, relative to the block's start (-1: not
// there).
struct ProgTags {
    qsizetype at[TagCount] = {-1, -1, -1, -1, -1, -1, -1};
    qsizetype closeAt[TagCount] = {-1, -1, -1, -1, -1, -1, -1};
};

// One walk over the "<" after a "<prog>" at b finds the block's "</prog>" (returned, -1: cut
// off) and on the way the first occurrence of every open tag and of its close tag after it, as
// a search per tag would find them (CDATA text included).
qsizetype scanProgBlock(QStringView text, qsizetype b, ProgTags& tags) {
    for (qsizetype i = text.indexOf(QLatin1Char('<'), b + 1); i >= 0; i = text.indexOf(QLatin1Char('<'), i + 1)) {
        if (text.size() - i < 2)
            break;
        const bool isClose = text[i + 1] == QLatin1Char('/');
        if (isClose && hasAt(text, i, kProgEnd))
            return i;
        const QStringView* names = isClose ? kProgClose : kProgOpen;
        const qsizetype second = isClose ? 2 : 1;
        for (int t = 0; t < TagCount; ++t) {
            qsizetype& found = isClose ? tags.closeAt[t] : tags.at[t];
            // A close tag counts only after its open tag, as a search from there would find it.
            if (found >= 0 || (isClose && tags.at[t] < 0) || text.size() - i <= second ||
                text[i + second] != names[t][second] || !hasAt(text, i, names[t]))
                continue;
            found = i - b;
            break;
        }
    }
    return -1;
}

// Reads one "<prog>" block; a bad duration ends the reading, keeping what was read before it.
TChannelProgram parseProgBlock(QStringView block, const ProgTags& tags, int index, qint64 now) {
    const auto value = [&](ProgTag t) {
        return tagValueBetween(block, tags.at[t], kProgOpen[t].size(), tags.closeAt[t]);
    };

    TChannelProgram p;
    p.Index = index;
    p.EventId = value(EventId);
    qint64 minutes = 0;
    if (!parseBoxNumber(value(Duration), &minutes) || minutes < 0 || minutes > kMaxBoxTimeSec / 60)
        return p;
    p.DurationMin = numberText(minutes);
    p.DurationSec = numberText(minutes * 60);
    if (qint64 local = 0; boxTimes(value(StartSec), p.DurationSec, p, &local))
        p.StartDate = dateOf(local);
    computeElapsed(p, now);
    p.StartClock = value(StartT);
    p.Title = removeInterpret(value(Description));
    p.Info1 = value(Info1);
    p.Info2 = value(Info2);
    return p;
}

} // namespace

namespace {

// The first tag at or after from, found by walking the "<" (a vector search) rather than a
// substring search that steps through the CDATA texts between the tags.
qsizetype findTag(QStringView text, QStringView tag, qsizetype from) {
    for (qsizetype i = text.indexOf(QLatin1Char('<'), from); i >= 0; i = text.indexOf(QLatin1Char('<'), i + 1)) {
        if (hasAt(text, i, tag))
            return i;
    }
    return -1;
}

} // namespace

std::optional<QList<TChannelProgram>> ParseEPGXml(QStringView text) {
    // Made once: a plain search sets up its tables again on every call.
    static const QStringMatcher kTimeout(u"tiehttp timeout expired]");
    if (text.isEmpty() || kTimeout.indexIn(text) >= 0)
        return std::nullopt;
    static constexpr QStringView kOpen = u"<prog>";
    // A programme with its details takes a few hundred characters: room for all of them at once
    // instead of moving the records at every growth.
    constexpr qsizetype kShortestProg = 160;
    const qint64 now = nowSecs();
    refreshZoneCache();
    QList<TChannelProgram> programs;
    programs.reserve(std::min<qsizetype>(TChannel::kEPGSlots, text.size() / kShortestProg + 1));
    qsizetype pos = 0;
    while (true) {
        const qsizetype b = findTag(text, kOpen, pos);
        if (b < 0)
            break;
        ProgTags tags;
        const qsizetype e = scanProgBlock(text, b, tags);
        // A block cut off by a truncated answer is dropped rather than read half.
        if (e < 0)
            break;
        if (programs.size() >= TChannel::kEPGSlots) {
            Log(LogThread, QStringLiteral("ParseEPG: more than ") + QString::number(TChannel::kEPGSlots) +
                               QStringLiteral(" programmes, the rest dropped"));
            break;
        }
        programs.append(parseProgBlock(text.mid(b, e - b), tags, static_cast<int>(programs.size()), now));
        // Right after the close tag: a next "<prog>" may follow without a line break.
        pos = e + kProgEnd.size();
    }
    return programs;
}

void ApplyChannelEPG(TChannel& channel, QList<TChannelProgram> programs) {
    if (programs.size() > TChannel::kEPGSlots)
        programs.resize(TChannel::kEPGSlots);
    for (qsizetype k = 0; k < programs.size(); ++k)
        programs[k].Index = static_cast<int32_t>(k);
    channel.EPG = std::move(programs);
    channel.EPGCount = static_cast<int32_t>(channel.EPG.size());
    if (channel.EPGCount > 0 && channel.NowEPG.EventId.isEmpty())
        channel.NowEPG = channel.EPG[0];
    if (!isPayPerView(channel.Caption))
        UpdateNowNext(&channel);
}

int ParseEPG(TChannel& channel, const QString& text) {
    std::optional<QList<TChannelProgram>> programs = ParseEPGXml(text);
    if (!programs)
        return -1;
    ApplyChannelEPG(channel, std::move(*programs));
    return channel.EPGCount;
}

int ParseEPG(TChannel& channel, const QByteArray& text) {
    return ParseEPG(channel, QString::fromLatin1(text));
}

QString ChannelEPGURL(const QString& id) {
    return BoxURL(EpgUrls::kChannelXml, EpgUrls::kIdChannel, id);
}

void LoadChannelEPG(TChannel& channel, const BoxRequestFn& request) {
    const QString url = ChannelEPGURL(channel.Id);
    Log(LogThread, url);
    try {
        if (request)
            ParseEPG(channel, request(url));
    } catch (const std::exception& e) {
        Log(LogThread, url + QStringLiteral(" failed: ") + QString::fromUtf8(e.what()));
    } catch (...) {
        Log(LogThread, url + QStringLiteral(" failed"));
    }
    channel.EPGLoaded = channel.Mode == mTV;
}

bool UpdateNowNext(TChannel* channel) {
    return UpdateNowNext(channel, nowSecs());
}

bool UpdateNowNext(TChannel* channel, qint64 nowSec) {
    if (!channel)
        return false;
    TChannel& ch = *channel;
    computeElapsed(ch.NowEPG, nowSec);
    const int count = std::min<int>(ch.EPGCount, static_cast<int>(ch.EPG.size()));
    for (int k = std::max(0, ch.NowEPG.Index); k < count; ++k) {
        const TChannelProgram* at = ch.slot(k);
        if (!at)
            continue;
        qint64 duration = 0;
        if (!parseBoxNumber(at->DurationSec, &duration))
            duration = 0;
        if (duration < elapsedSeconds(*at, nowSec)) {
            // Over: the programme running now, or the last one when none does.
            int j = count - 1;
            for (int i = k; i < count; ++i) {
                const TChannelProgram* p = ch.slot(i);
                if (p && p->hasStart() && p->StartSec < nowSec && nowSec < p->EndSec) {
                    j = i;
                    break;
                }
            }
            if (j == 0)
                return false;
            bool moved = false;
            if (ch.EPG[j].Index != ch.NowEPG.Index) {
                ch.NowEPG = ch.EPG[j];
                computeElapsed(ch.NowEPG, nowSec);
                moved = true;
            }
            const TChannelProgram* next = ch.slot(j + 1);
            if (ch.Mode == mTV && next && j + 1 < count && next->Index != ch.NextEPG.Index) {
                ch.NextEPG = *next;
                moved = true;
            }
            return moved;
        }
        const int n = ch.NowEPG.Index + 1;
        const TChannelProgram* next = ch.slot(n);
        if (count > ch.NowEPG.Index && next && n < count && next->Index != ch.NextEPG.Index) {
            ch.NextEPG = *next;
            return true;
        }
        return false;
    }
    return false;
}
