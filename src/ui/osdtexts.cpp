#include "ui/osdtexts.h"

#include "box/epgparse.h"
#include "core/clock.h"
#include "playback/streamsetup.h"
#include "ui/channelmodel.h"

#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QRect>

#include <algorithm>
#include <cmath>

namespace quoxel {

namespace {

// A receiver number, or 0 for anything else (a broken duration shows as 0 minutes).
qint64 number(const QString& text) {
    qint64 v = 0;
    return parseBoxNumber(text, &v) ? v : 0;
}

QString info2Line(const TChannelProgram& now, int line) {
    QString text = now.Info2.section(QLatin1Char('\n'), line, line);
    if (text.endsWith(QLatin1Char('\r')))
        text.chop(1);
    return text;
}

} // namespace

QString infoLinesText(const TChannel& channel) {
    const TChannelProgram& now = channel.NowEPG;
    const TChannelProgram& next = channel.NextEPG;
    return widgetSafeText(now.StartClock + QLatin1Char(' ') + now.Title + QLatin1Char('\n') + next.StartClock +
                          QLatin1Char(' ') + next.Title);
}

QString radioInfoText(const TChannel& channel) {
    const TChannelProgram& now = channel.NowEPG;
    return widgetSafeText(now.StartClock + QLatin1Char(' ') + now.Title + QStringLiteral(" - ") + radioSongTitle(now));
}

QString durCurrText(const TChannelProgram& now) {
    const qint64 rest = number(now.DurationMin) - number(now.ElapsedMin);
    return now.ElapsedMin + QStringLiteral(" / ") + QString::number(std::max<qint64>(0, rest)) + QStringLiteral(" min");
}

QString durNextText(const TChannelProgram& now) {
    return now.DurationMin + QStringLiteral(" min");
}

QString streamFactsText(const TStreamInfo& info, int audioItems, const QString& previous) {
    // Without a format the label keeps what it shows: appending to the old text on every refresh
    // would grow it without end.
    if (info.Format.isEmpty())
        return previous;
    QString text = info.Format;
    if (!info.Resolution.isEmpty())
        text += QStringLiteral(" | ") + info.Resolution;
    const int n = std::clamp(audioItems, 0, TStreamInfo::kAudioSlots);
    for (int i = 0; i < n; ++i) {
        const QString& name = info.AudioNames[static_cast<size_t>(i)];
        if (!name.isEmpty())
            text += (i == 0 ? QStringLiteral(" | ") : QStringLiteral("/")) + name;
    }
    return widgetSafeText(text);
}

QString radioFactsText(const TChannelProgram& now) {
    const QString album = info2Line(now, 1);
    const QString label = info2Line(now, 2);
    const QString year = info2Line(now, 3).remove(QStringLiteral("Jahr: ")).trimmed();
    if (album.isEmpty() && label.isEmpty() && year.isEmpty())
        return QStringLiteral("Album: | Label:");
    return widgetSafeText(album + QStringLiteral(" (") + year + QStringLiteral(") | ") + label);
}

QString clockText() {
    return Clock::current().now().toString(QStringLiteral("hh:mm"));
}

int epgBarFill(const TChannelProgram& now, int width) {
    if (now.DurationMin.isEmpty() || now.DurationMin == QLatin1String("0"))
        return -1;
    qint64 d = 0;
    qint64 e = 0;
    if (!parseBoxNumber(now.DurationSec, &d) || d <= 0 || !parseBoxNumber(now.ElapsedSec, &e))
        return -1;
    e = std::clamp<qint64>(e, 0, d);
    return static_cast<int>(std::lround(static_cast<double>(width) * static_cast<double>(e) / static_cast<double>(d)));
}

void drawEpgBar(QPainter& painter, const QRect& rect, const TChannelProgram& now, int extra) {
    const int w = rect.width() - 6;
    const QRect bar(rect.left() + 3, rect.top(), std::max(1, w), rect.height());
    painter.fillRect(bar, QColor(192, 192, 192));
    painter.setPen(Qt::black);
    painter.drawRect(bar.adjusted(0, 0, -1, -1));
    const int fill = epgBarFill(now, w);
    if (fill < 0)
        return;
    const int right = std::min(bar.right(), bar.left() + extra + fill);
    if (right > bar.left())
        painter.fillRect(QRect(QPoint(bar.left(), bar.top()), QPoint(right, bar.bottom())), QColor(0, 0, 255));
}

DetailsTexts detailsTexts(const TChannel& channel, int k) {
    static const TChannelProgram kNone;
    const TChannelProgram* p = &channel.NowEPG;
    const TChannelProgram* following = &channel.NextEPG;
    if (channel.EPGCount != 0) {
        // A slot beyond the list or not filled yet shows as an empty programme.
        p = channel.slot(k) ? channel.slot(k) : &kNone;
        following = channel.slot(k + 1);
    }
    DetailsTexts t;
    t.ShowInfo1 = !p->Info1.isEmpty();
    t.MemoTop = t.ShowInfo1 ? 43 : 24;
    t.Title = widgetSafeText(channel.Caption + QStringLiteral(", ") + p->Title);
    t.Info1 = widgetSafeText(p->Info1);
    t.Info2 = widgetSafeText(p->Info2);
    if (k >= 0 && k <= channel.EPGCount - 1)
        t.Time = following ? p->StartClock + QLatin1Char('-') + following->StartClock : p->StartClock;
    t.Time += QStringLiteral(" (") + p->DurationMin + QStringLiteral("min)");
    t.Date = p->StartDate;
    return t;
}

void showDetailsTexts(const DetailsControls& c, const DetailsTexts& t) {
    c.Info1->setVisible(t.ShowInfo1);
    setTextIfChanged(c.Title, t.Title);
    setTextIfChanged(c.Info1, t.Info1);
    if (c.Info2->toPlainText() != t.Info2)
        c.Info2->setPlainText(t.Info2);
    setTextIfChanged(c.Time, t.Time);
    setTextIfChanged(c.Date, t.Date);
}

QString oneLineText(const QString& text) {
    return widgetSafeText(text.left(300)).simplified();
}

bool setTextIfChanged(QLabel* label, const QString& text) {
    if (!label || label->text() == text)
        return false;
    label->setText(text);
    return true;
}

} // namespace quoxel
