#pragma once

#include "box/bouquets.h"
#include "box/records.h"

#include <QList>
#include <QString>

namespace SubChannelUrls {
inline const QString kGetAll = QStringLiteral("http://<IP:PORT>/control/zapto?getallsubchannels");
} // namespace SubChannelUrls

// The pay-TV portal channels whose sub-channels the receiver lists on request: the name holds one
// of the portal names, case as written.
bool isPortalChannel(const QString& name);

// One line of the getallsubchannels answer: the id before the first blank, the name after it;
// a line without a blank is both.
struct TSubChannelLine {
    QString Id;
    QString Name;
};
// Blank lines and lines whose id could not go into a zap request (URL delimiters, control
// characters) are skipped; beyond maxLines the answer is cut off, as no portal has that many.
QList<TSubChannelLine> parseSubChannels(const QString& answer, int maxLines = 100);

// The sub-channel entries of a portal channel in the channel box, the second channel list and the
// SubChannels menu. The old entries go first, the new ones sit directly below the portal channel
// in answer order, carrying its logo. The box selection stays on the channel it was on.
// Returns the number of entries made.
int applySubChannels(TBouquetModel& model, const TChannelRef& portal, const QList<TSubChannelLine>& lines,
                     QList<TChannelMenuEntry>& subMenu);
