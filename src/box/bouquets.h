#pragma once

#include "box/httpengine.h"
#include "box/records.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

// Sends one receiver request and gives its answer text; empty on failure. The window passes
// BoxClient::BoxRequest; tests pass a recorder.
using BoxRequestFn = std::function<QString(const QString& url)>;

namespace BouquetUrls {
inline const QString kGetBouquets = QStringLiteral("http://<IP:PORT>/control/getbouquets");
inline const QString kGetActual = QStringLiteral("http://<IP:PORT>/control/getbouquet?actual");
inline const QString kBouquetTV = QStringLiteral("http://<IP:PORT>/control/getbouquet?bouquet=<bouquetnr>&mode=TV");
inline const QString kBouquetRadio =
    QStringLiteral("http://<IP:PORT>/control/getbouquet?bouquet=<bouquetnr>&mode=RADIO");
inline const QString kBouquetNr = QStringLiteral("<bouquetnr>");
} // namespace BouquetUrls

// The line that separates the TV from the radio channels in the combined bouquet list.
inline const QString kRadioMarker = QStringLiteral("###");

// One channel line "<number> <id> <name>": the id is the second blank-separated field.
struct TChannelLine {
    QString Id;
    QString Name;
};
TChannelLine parseChannelLine(const QString& line);
// "<decimal number> <id>[ <name>]" with an id of printable ASCII: what the receiver lists.
bool isChannelLine(QStringView line);

// "3. Das Erste" for TV, "4. Radio: Bayern 3" for radio.
QString channelCaption(int number, TChannelMode mode, const QString& name);

// The two channel answers of a bouquet read as one list of lines.
struct TBouquetLines {
    QStringList Lines;
    bool StartsInRadio = false; // no TV part: radio from the first line, numbered from 1
    int Dropped = 0;            // non-blank lines that are no channel line (isChannelLine)
};
// The TV lines, the marker when there are any, then the radio lines; blank lines and lines that
// are no channel line dropped.
// With maxLines, the lines past the first maxLines + 1 are not read: a hostile answer of millions
// of lines is not split whole only for all but the first few thousand to be cut off. Up to maxLines
// the lines are the same, and there are more than maxLines exactly when there would be without it.
TBouquetLines combineBouquetAnswers(const QString& tvAnswer, const QString& radioAnswer, int maxLines = -1);

// Channel records for a combined list, numbered and captioned; no logo looked up. At most maxLines
// lines are read.
QList<TChannelRef> buildChannels(const TBouquetLines& lines, int maxLines = 10000);

// The logo file of a channel id under the folder ("logos/<id>.gif"); empty for an id that could
// leave the folder.
QString LogoFilePath(const QString& id, const QString& folder = QStringLiteral("logos"));

// The number the receiver gives a bouquet at the head of its "getbouquets" line ("7 Sport"); the
// numbers can skip (hidden bouquets, a recording receiver), so this, not the place in the menu, is
// what a bouquet's channels are requested by. A line without one gets its place (position + 1).
QString bouquetNumberOf(const QString& line, int position);

// Channel menu: the item count after appending 26, 51, 76 ... opens a new column of 25.
bool channelMenuBreaks(int countAfterAppend);
// Bouquet menu: with more than 20 items, the item at count div 2 opens the second column; else -1.
int bouquetMenuBreakIndex(int count);

// One entry of the "Bouquets" menu; its cache once the bouquet has been loaded.
struct TBouquetMenuItem {
    QString Caption;
    bool Checked = false;
    bool BarBreak = false;
    std::shared_ptr<TBouquet> Bouquet;
    QString Number; // the receiver's number of the bouquet (bouquetNumberOf)
};

// What a bouquet click did, for the window to finish it (switch channel, all-channel now/next load).
struct TBouquetSwitch {
    bool Ignored = false;       // the bouquet was shown already (or no such item)
    bool FreshlyLoaded = false; // loaded from the receiver: the all-channel now/next load follows
    int Located = -1;           // position of the current channel in the new list, or -1
    int Selected = -1;          // position selected in the channel box
};

// The bouquets and the shown bouquet's channels as the three channel views hold them (channel box,
// "Channels" menu, channel list), with the per-bouquet cache. UI thread; the widgets mirror it.
class TBouquetModel {
public:
    // Answers beyond these are cut off: no receiver has that many, and each record costs memory.
    static constexpr int kMaxBouquets = 1000;
    static constexpr int kMaxChannelLines = 10000;

    explicit TBouquetModel(BoxRequestFn request);

    // Reads the bouquet list and the bouquet shown by the receiver ("getbouquet?actual" counts
    // places in that list); false without an answer.
    bool LoadBouquets();
    // Loads the TV and radio channels of the bouquet at menu place nr (1-based, as text), asking the
    // receiver by that bouquet's own number; false when both are empty, which leaves the shown
    // bouquet as it was.
    bool LoadBouquet(const QString& nr);
    // The cache-aware part of a click on bouquet menu item `position`.
    TBouquetSwitch SwitchBouquet(int position, const QString& aktChannelId);
    // Position of the first channel-box item whose channel has exactly this id, or -1.
    int LocateChannel(const QString& id) const;

    // Where logo files are looked for; relative paths are taken from the working folder.
    void setLogoFolder(const QString& folder) { m_logoFolder = folder; }

    QString CurBouquetNr = QStringLiteral("0");

    QList<TBouquetMenuItem>& bouquets() { return m_bouquets; }
    const QList<TBouquetMenuItem>& bouquets() const { return m_bouquets; }
    QList<TChannelItem>& channelBox() { return m_box; }
    const QList<TChannelItem>& channelBox() const { return m_box; }
    QList<TChannelMenuEntry>& channelMenu() { return m_menu; }
    const QList<TChannelMenuEntry>& channelMenu() const { return m_menu; }
    QList<TChannelItem>& channelList() { return m_list; }
    const QList<TChannelItem>& channelList() const { return m_list; }
    int selectedIndex() const { return m_selected; }
    void setSelectedIndex(int index);
    // Checks the menu entry at index (none for -1) and unchecks the others.
    void checkChannelMenu(int index);

private:
    QString request(const QString& url);
    TBouquetMenuItem* bouquetAt(const QString& nr);
    void saveShownBouquet();
    void restoreBouquet(const TBouquet& cache);

    BoxRequestFn m_request;
    QString m_logoFolder = QStringLiteral("logos");
    QList<TBouquetMenuItem> m_bouquets;
    QList<TChannelItem> m_box;
    QList<TChannelMenuEntry> m_menu;
    QList<TChannelItem> m_list;
    int m_selected = -1;
};
