#pragma once

#include "box/records.h"

#include <QString>

class TStreamInfo;
class QLabel;
class QPainter;
class QPlainTextEdit;
class QRect;

namespace quoxel {

// The texts of the info bars, the details pages and the progress bars, shared by the full-screen
// overlays and the in-window panels so both always say the same.

// Now and next as two lines: "hh:nn title" each.
QString infoLinesText(const TChannel& channel);
// Radio: "hh:nn title - song" on one line.
QString radioInfoText(const TChannel& channel);
// "elapsed / rest min"; a programme that has run over its length shows " / 0 min".
QString durCurrText(const TChannelProgram& now);
// "duration min".
QString durNextText(const TChannelProgram& now);
// Format | Resolution | first audio/further audio over the first audioItems slots; `previous`
// (the label's text) when the format is empty.
QString streamFactsText(const TStreamInfo& info, int audioItems, const QString& previous);
// Radio: "album (year) | label" from lines 2..4 of Info2, "Album: | Label:" when all are empty.
QString radioFactsText(const TChannelProgram& now);
// The clock as "hh:nn".
QString clockText();

// Blue share of a progress bar W pixels wide: round(W * e / d), or -1 when the duration is "0",
// empty or no number (the bar stays silver). Elapsed is capped at the duration.
int epgBarFill(const TChannelProgram& now, int width);
// The programme bar (CmbEPGBar): silver, framed black, blue from x = 3 to 3 + extra + fill.
void drawEpgBar(QPainter& painter, const QRect& rect, const TChannelProgram& now, int extra);

// FillDetails for one channel at programme slot k.
struct DetailsTexts {
    bool ShowInfo1 = false;
    int MemoTop = 24; // 43 with the Info1 line
    QString Title;
    QString Info1;
    QString Info2;
    QString Time;
    QString Date;
};
DetailsTexts detailsTexts(const TChannel& channel, int k);

// The controls of a details page (in-window panel or overlay); the memo's place is the page's own.
struct DetailsControls {
    QLabel* Title = nullptr;
    QLabel* Info1 = nullptr;
    QPlainTextEdit* Info2 = nullptr;
    QLabel* Time = nullptr;
    QLabel* Date = nullptr;
};
// Puts the texts into the controls, changing only what differs.
void showDetailsTexts(const DetailsControls& controls, const DetailsTexts& texts);

// One line of a list or a grid whatever the receiver sent: control characters out, line breaks
// as blanks, a hostile length cut.
QString oneLineText(const QString& text);

// Sets a label's text only when it differs, so a refresh repaints nothing that stayed the same.
// True when the text changed.
bool setTextIfChanged(QLabel* label, const QString& text);

} // namespace quoxel
