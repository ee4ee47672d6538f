#pragma once

#include <QList>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>

// Whether a channel is a TV or a radio channel; the values are the receiver's mode numbers.
enum class TChannelMode : uint8_t {
    mTV = 0,
    mRadio = 1,
};
inline constexpr TChannelMode mTV = TChannelMode::mTV;
inline constexpr TChannelMode mRadio = TChannelMode::mRadio;

// One programme entry of a channel, with its times as text and as local date-times.
// A plain value; "..." in Title means that no programme is known.
class TChannelProgram {
public:
    static inline const QString kUnknownTitle = QStringLiteral("...");

    int32_t Index = 0;
    QString EventId;
    // Local date-times of the PC as days since 1899-12-30 (the fraction is the time of day); 0 = none.
    double StartTime = 0;
    double EndTime = 0;
    // The same instants as seconds since 1970 on the PC clock; exact across daylight-saving
    // changes, so elapsed times and "running now" are computed from these.
    qint64 StartSec = 0;
    qint64 EndSec = 0;
    QString StartDate;
    QString StartClock;
    QString DurationSec = QStringLiteral("0");
    QString ElapsedSec;
    QString DurationMin = QStringLiteral("0");
    QString ElapsedMin = QStringLiteral("0");
    QString Title;
    QString Info1;
    QString Info2;

    // Empties the programme back to "no programme known"; Index and ElapsedSec stay.
    void Clear();
    bool hasStart() const { return StartTime > 0; }
    bool isUnknown() const { return Title == kUnknownTitle; }
};

// A flag the UI thread writes and the EPG worker reads while it walks; copied by value.
class SharedFlag {
public:
    SharedFlag(bool on = false)
        : m_on(on) {}
    SharedFlag(const SharedFlag& other)
        : m_on(other.m_on.load()) {}
    SharedFlag& operator=(const SharedFlag& other) {
        m_on = other.m_on.load();
        return *this;
    }
    SharedFlag& operator=(bool on) {
        m_on = on;
        return *this;
    }
    operator bool() const { return m_on.load(); }

private:
    std::atomic<bool> m_on;
};

// One channel of the shown bouquet with its now/next and programme list. UI thread; the EPG
// worker reads EPGLoaded only.
class TChannel {
public:
    // Slots of the programme list; the per-channel request asks for at most 500.
    static constexpr int kEPGSlots = 501;

    TChannel();

    TChannelMode Mode = mTV;
    SharedFlag EPGLoaded = false;
    int32_t ListIndex = 0;
    QString Caption;
    QString Id;
    // The logo file found for the channel, empty when the TV or radio fallback picture applies;
    // decoding it is the UI's job.
    QString LogoFile;
    TChannelProgram NowEPG;
    TChannelProgram NextEPG;
    // Slot k holds the programme with Index k; never more than kEPGSlots entries.
    QList<TChannelProgram> EPG;
    int32_t EPGCount = 0;
    bool IsSubChannel = false;

    // The filled slot k, or null for an empty or out-of-range slot.
    const TChannelProgram* slot(int k) const;
    // "Reset EPG": not loaded, now/next and every filled slot cleared; EPGCount and the slots stay.
    void Clear();
};

using TChannelRef = std::shared_ptr<TChannel>;

// One item of the channel box or the channel list: its text and its channel.
struct TChannelItem {
    QString Text;
    TChannelRef Channel;
};

// One entry of the "Channels" menu, with the sub-channel entries hanging off it.
struct TChannelMenuEntry {
    QString Caption;
    TChannelRef Channel;
    bool BarBreak = false;  // starts a new menu column
    bool OwnerDrawn = true; // restored cache entries are shown as plain text
    bool Checked = false;
    QList<TChannelMenuEntry> SubEntries;
};

// The cache of one bouquet, made the first time it is loaded; holds references to the same records.
class TBouquet {
public:
    QList<TChannelItem> Channels;
    // Menu entries (the menu item without parent in the window); empty until the bouquet is left once.
    QList<TChannelMenuEntry> Menu;
};
