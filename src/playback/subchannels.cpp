#include "playback/subchannels.h"

#include <QStringList>

#include <array>

namespace {

constexpr std::array kPortalNames{"PREMIERE DIREKT", "EROTIK", "THEMA LIVE", "PREMIERE SPORT PORTAL"};

int positionOf(const QList<TChannelItem>& items, const TChannelRef& channel) {
    for (qsizetype i = 0; i < items.size(); ++i)
        if (items[i].Channel == channel)
            return static_cast<int>(i);
    return -1;
}

void removeSubChannels(QList<TChannelItem>& items) {
    for (qsizetype i = items.size() - 1; i >= 0; --i)
        if (items[i].Channel && items[i].Channel->IsSubChannel)
            items.removeAt(i);
}

// The id goes into the zap request as it stands: characters that would end or split the query,
// blanks and control characters make a line that cannot name a channel.
bool usableId(const QString& id) {
    if (id.isEmpty())
        return false;
    for (const QChar c : id) {
        if (c.unicode() <= 0x20 || c.unicode() >= 0x7f || QStringView(u"&#?/%+").contains(c))
            return false;
    }
    return true;
}

} // namespace

bool isPortalChannel(const QString& name) {
    for (const char* portal : kPortalNames)
        if (name.contains(QLatin1String(portal), Qt::CaseSensitive))
            return true;
    return false;
}

QList<TSubChannelLine> parseSubChannels(const QString& answer, int maxLines) {
    QList<TSubChannelLine> out;
    const QStringList lines = answer.split(QLatin1Char('\n'));
    for (const QString& raw : lines) {
        if (out.size() >= maxLines)
            break;
        // Outer blanks would give an entry without id, which zaps nowhere.
        const QString line = raw.trimmed();
        if (line.isEmpty())
            continue;
        const qsizetype blank = line.indexOf(QLatin1Char(' '));
        TSubChannelLine entry =
            blank < 0 ? TSubChannelLine{line, line} : TSubChannelLine{line.left(blank), line.mid(blank + 1)};
        if (usableId(entry.Id))
            out.append(std::move(entry));
    }
    return out;
}

int applySubChannels(TBouquetModel& model, const TChannelRef& portal, const QList<TSubChannelLine>& lines,
                     QList<TChannelMenuEntry>& subMenu) {
    QList<TChannelItem>& box = model.channelBox();
    QList<TChannelItem>& list = model.channelList();
    const int selected = model.selectedIndex();
    const TChannelRef selectedChannel = selected >= 0 ? box[selected].Channel : TChannelRef();

    subMenu.clear();
    removeSubChannels(box);
    removeSubChannels(list);

    // The parent's place is looked up rather than taken from its number: radio numbers skip the
    // separator line, and the list may have been re-sorted since it was loaded.
    const int boxAt = positionOf(box, portal);
    const int listAt = positionOf(list, portal);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        auto sub = std::make_shared<TChannel>();
        sub->Id = lines[i].Id;
        sub->Caption = lines[i].Name;
        sub->IsSubChannel = true;
        sub->Mode = portal->Mode;
        sub->LogoFile = portal->LogoFile;
        sub->ListIndex = portal->ListIndex;
        const TChannelItem item{sub->Caption, sub};
        if (boxAt >= 0)
            box.insert(boxAt + i + 1, item);
        if (listAt >= 0)
            list.insert(listAt + i + 1, item);
        TChannelMenuEntry entry;
        entry.Caption = sub->Caption;
        entry.Channel = sub;
        entry.OwnerDrawn = false;
        subMenu.append(entry);
    }
    model.setSelectedIndex(selectedChannel ? positionOf(box, selectedChannel) : -1);
    return static_cast<int>(lines.size());
}
