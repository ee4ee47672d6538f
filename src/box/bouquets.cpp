#include "box/bouquets.h"

#include "box/boxcommands.h"
#include "core/log.h"

#include <QFileInfo>

#include <algorithm>

#include <exception>

TChannelLine parseChannelLine(const QString& line) {
    const qsizetype first = line.indexOf(QLatin1Char(' '));
    if (first < 0)
        return {QString(), line};
    const qsizetype second = line.indexOf(QLatin1Char(' '), first + 1);
    const QString id = second < 0 ? line.mid(first + 1) : line.mid(first + 1, second - first - 1);
    if (id.isEmpty())
        return {QString(), line};
    // The name starts after the id and the blank behind it, counted from where the id stands; a
    // search for the id text could hit the number field first ("12 1 ...").
    return {id, second < 0 ? QString() : line.mid(second + 1)};
}

bool isChannelLine(QStringView line) {
    const qsizetype first = line.indexOf(QLatin1Char(' '));
    if (first <= 0)
        return false;
    for (const QChar c : line.left(first)) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    const qsizetype second = line.indexOf(QLatin1Char(' '), first + 1);
    const QStringView id = second < 0 ? line.mid(first + 1) : line.mid(first + 1, second - first - 1);
    if (id.isEmpty())
        return false;
    // The receiver writes ids in hex; printable ASCII leaves room for other firmware.
    for (const QChar c : id) {
        if (c.unicode() < 0x21 || c.unicode() > 0x7e)
            return false;
    }
    return true;
}

QString channelCaption(int number, TChannelMode mode, const QString& name) {
    return QString::number(number) + (mode == mRadio ? QStringLiteral(". Radio: ") : QStringLiteral(". ")) + name;
}

namespace {

// At most limit channel lines; a negative limit takes all. Other non-blank lines are counted in
// dropped: a body of noise under a 200 answer must not become a channel list whose ids are sent
// back to the receiver.
QStringList channelLines(const QString& answer, qsizetype limit, int& dropped) {
    QStringList out;
    AnswerLines walk(answer);
    QStringView line;
    while ((limit < 0 || out.size() < limit) && walk.next(line)) {
        if (line.trimmed().isEmpty())
            continue;
        if (isChannelLine(line))
            out.append(line.toString());
        else
            ++dropped;
    }
    return out;
}

} // namespace

TBouquetLines combineBouquetAnswers(const QString& tvAnswer, const QString& radioAnswer, int maxLines) {
    const qsizetype cap = maxLines < 0 ? -1 : qsizetype(maxLines) + 1;
    TBouquetLines out;
    out.Lines = channelLines(tvAnswer, cap, out.Dropped);
    if (out.Lines.isEmpty())
        out.StartsInRadio = true;
    else
        out.Lines.append(kRadioMarker);
    const qsizetype left = cap < 0 ? -1 : std::max<qsizetype>(0, cap - out.Lines.size());
    if (left != 0)
        out.Lines.append(channelLines(radioAnswer, left, out.Dropped));
    return out;
}

QList<TChannelRef> buildChannels(const TBouquetLines& lines, int maxLines) {
    QList<TChannelRef> channels;
    bool radio = lines.StartsInRadio;
    int offset = radio ? 1 : 0;
    const qsizetype count = std::min<qsizetype>(lines.Lines.size(), std::max(0, maxLines));
    for (qsizetype i = 0; i < count; ++i) {
        const QString& line = lines.Lines[i];
        if (line.contains(kRadioMarker)) {
            radio = true;
            offset = 0;
            continue;
        }
        auto channel = std::make_shared<TChannel>();
        const TChannelLine parsed = parseChannelLine(line);
        channel->ListIndex = static_cast<int32_t>(i);
        channel->Mode = radio ? mRadio : mTV;
        channel->Id = parsed.Id;
        const int number = static_cast<int>(i) + (radio ? offset : 1);
        channel->Caption = channelCaption(number, channel->Mode, parsed.Name);
        channels.append(std::move(channel));
    }
    return channels;
}

QString LogoFilePath(const QString& id, const QString& folder) {
    // The id comes from the receiver; keep it from naming a file outside the logo folder.
    if (id.isEmpty() || id.contains(QLatin1Char('/')) || id.contains(QLatin1Char('\\')) ||
        id.contains(QLatin1String("..")) || id.contains(QChar(0)))
        return QString();
    return folder + QLatin1Char('/') + id + QStringLiteral(".gif");
}

QString bouquetNumberOf(const QString& line, int position) {
    const QStringView first = QStringView(line).left(line.indexOf(QLatin1Char(' ')));
    bool digits = !first.isEmpty() && first.size() <= 9;
    for (const QChar c : first)
        digits = digits && c >= QLatin1Char('0') && c <= QLatin1Char('9');
    const int n = digits ? first.toInt() : 0;
    return n > 0 ? QString::number(n) : QString::number(position + 1);
}

bool channelMenuBreaks(int countAfterAppend) {
    return countAfterAppend != 1 && countAfterAppend % 25 == 1;
}

int bouquetMenuBreakIndex(int count) {
    return count > 20 ? count / 2 : -1;
}

TBouquetModel::TBouquetModel(BoxRequestFn request)
    : m_request(std::move(request)) {}

QString TBouquetModel::request(const QString& url) {
    // A failing request counts as an empty answer, whatever the caller's function does.
    if (!m_request)
        return QString();
    try {
        return m_request(url);
    } catch (const std::exception& e) {
        Log(LogHttp, url + QStringLiteral(" failed: ") + QString::fromUtf8(e.what()));
    } catch (...) {
        Log(LogHttp, url + QStringLiteral(" failed"));
    }
    return QString();
}

bool TBouquetModel::LoadBouquets() {
    m_bouquets.clear();
    const QString answer = request(BoxURL(BouquetUrls::kGetBouquets));
    if (answer.isEmpty())
        return false;
    // One line past the cap tells that there were more.
    const QStringList lines = splitAnswerLines(answer, kMaxBouquets + 1);
    for (const QString& line : lines) {
        if (m_bouquets.size() >= kMaxBouquets) {
            Log(LogFunc, QStringLiteral("LoadBouquets: list cut at ") + QString::number(kMaxBouquets) +
                             QStringLiteral(" bouquets"));
            break;
        }
        TBouquetMenuItem item;
        item.Caption = line;
        item.Number = bouquetNumberOf(line, static_cast<int>(m_bouquets.size()));
        m_bouquets.append(std::move(item));
    }
    const int breakAt = bouquetMenuBreakIndex(static_cast<int>(m_bouquets.size()));
    if (breakAt >= 0)
        m_bouquets[breakAt].BarBreak = true;
    if (!m_bouquets.isEmpty()) {
        const QString actual = request(BoxURL(BouquetUrls::kGetActual)).trimmed();
        bool ok = false;
        const int n = actual.toInt(&ok);
        if (ok && n > 0 && n <= m_bouquets.size()) {
            m_bouquets[n - 1].Checked = true;
            CurBouquetNr = actual;
        }
    }
    if (CurBouquetNr == QLatin1String("0"))
        CurBouquetNr = QStringLiteral("1");
    return true;
}

TBouquetMenuItem* TBouquetModel::bouquetAt(const QString& nr) {
    bool ok = false;
    const int n = nr.toInt(&ok);
    if (!ok || n < 1 || n > m_bouquets.size())
        return nullptr;
    return &m_bouquets[n - 1];
}

void TBouquetModel::setSelectedIndex(int index) {
    m_selected = (index >= 0 && index < m_box.size()) ? index : -1;
}

void TBouquetModel::checkChannelMenu(int index) {
    for (qsizetype i = 0; i < m_menu.size(); ++i)
        m_menu[i].Checked = (i == index);
}

bool TBouquetModel::LoadBouquet(const QString& nr) {
    const TBouquetMenuItem* listed = bouquetAt(nr);
    const QString number = listed ? listed->Number : nr;
    const QString tv = request(BoxURL(BouquetUrls::kBouquetTV, BouquetUrls::kBouquetNr, number));
    const QString radio = request(BoxURL(BouquetUrls::kBouquetRadio, BouquetUrls::kBouquetNr, number));
    const TBouquetLines lines = combineBouquetAnswers(tv, radio, kMaxChannelLines);
    if (lines.Dropped > 0)
        Log(LogFunc, QStringLiteral("LoadBouquet: ") + QString::number(lines.Dropped) +
                         QStringLiteral(" lines that are no channel line dropped"));
    if (lines.Lines.isEmpty())
        return false;
    if (lines.Lines.size() > kMaxChannelLines)
        Log(LogFunc,
            QStringLiteral("LoadBouquet: list cut at ") + QString::number(kMaxChannelLines) + QStringLiteral(" lines"));

    const int remembered = m_selected;
    m_box.clear();
    m_menu.clear();
    m_list.clear();
    for (TChannelRef& channel : buildChannels(lines, kMaxChannelLines)) {
        const QString logo = LogoFilePath(channel->Id, m_logoFolder);
        if (!logo.isEmpty() && QFileInfo(logo).isFile())
            channel->LogoFile = logo;
        TChannelMenuEntry entry;
        entry.Caption = channel->Caption;
        entry.Channel = channel;
        entry.BarBreak = channelMenuBreaks(static_cast<int>(m_menu.size()) + 1);
        m_menu.append(std::move(entry));
        m_list.append({channel->Caption, channel});
        m_box.append({channel->Caption + QStringLiteral(", ") + channel->NowEPG.Title, channel});
    }
    setSelectedIndex(remembered);
    checkChannelMenu(m_selected);

    if (TBouquetMenuItem* item = bouquetAt(CurBouquetNr); item && !item->Bouquet) {
        item->Bouquet = std::make_shared<TBouquet>();
        item->Bouquet->Channels = m_box;
    }
    return true;
}

namespace {

// Cached and restored entries are plain copies: the owner drawing is not carried over.
TChannelMenuEntry plainCopy(const TChannelMenuEntry& from) {
    TChannelMenuEntry to;
    to.Caption = from.Caption;
    to.Channel = from.Channel;
    to.BarBreak = from.BarBreak;
    to.OwnerDrawn = false;
    for (const TChannelMenuEntry& sub : from.SubEntries)
        to.SubEntries.append(plainCopy(sub));
    return to;
}

} // namespace

void TBouquetModel::saveShownBouquet() {
    TBouquetMenuItem* item = bouquetAt(CurBouquetNr);
    if (!item || !item->Bouquet)
        return;
    item->Bouquet->Channels = m_box;
    item->Bouquet->Menu.clear();
    for (const TChannelMenuEntry& entry : m_menu)
        item->Bouquet->Menu.append(plainCopy(entry));
}

void TBouquetModel::restoreBouquet(const TBouquet& cache) {
    m_menu.clear();
    for (const TChannelMenuEntry& entry : cache.Menu)
        m_menu.append(plainCopy(entry));
    m_box = cache.Channels;
    m_list = cache.Channels;
    m_selected = -1;
    // Channels whose programme list never arrived are fetched again by the EPG thread.
    for (const TChannelItem& item : m_box) {
        if (item.Channel && item.Channel->NextEPG.Title == TChannelProgram::kUnknownTitle)
            item.Channel->EPGLoaded = false;
    }
}

TBouquetSwitch TBouquetModel::SwitchBouquet(int position, const QString& aktChannelId) {
    TBouquetSwitch result;
    if (position < 0 || position >= m_bouquets.size() || m_bouquets[position].Checked) {
        result.Ignored = true;
        return result;
    }
    saveShownBouquet();
    for (qsizetype i = 0; i < m_bouquets.size(); ++i)
        m_bouquets[i].Checked = (i == position);
    CurBouquetNr = QString::number(position + 1);

    // Copied out first: restoring must not depend on the item staying where it is.
    const std::shared_ptr<TBouquet> cache = m_bouquets[position].Bouquet;
    if (!cache) {
        LoadBouquet(CurBouquetNr);
        result.FreshlyLoaded = true;
    } else {
        restoreBouquet(*cache);
    }

    const int p = LocateChannel(aktChannelId);
    checkChannelMenu(p);
    setSelectedIndex(p);
    if (p == -1 || m_selected == -1)
        setSelectedIndex(0);
    result.Located = p;
    result.Selected = m_selected;
    return result;
}

int TBouquetModel::LocateChannel(const QString& id) const {
    for (qsizetype i = 0; i < m_box.size(); ++i) {
        if (m_box[i].Channel && m_box[i].Channel->Id == id)
            return static_cast<int>(i);
    }
    return -1;
}
