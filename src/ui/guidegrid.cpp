#include "ui/guidegrid.h"

#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

namespace quoxel {

namespace {

const QColor kBackground{28, 28, 28};
const QColor kRowEven{40, 40, 40};
const QColor kRowOdd{34, 34, 34};
const QColor kHeaderFill{52, 52, 52};
const QColor kHeaderSelected{78, 78, 78};
const QColor kSelectedFill{70, 110, 170};
const QColor kRunningSelectedFill{40, 150, 80};
const QColor kText{255, 255, 255};
const QColor kDimText{150, 150, 150};
const QColor kBarSilver{192, 192, 192};
const QColor kBarBlue{0, 0, 255};

constexpr int kLogoWidth = 40;
constexpr int kLogoHeight = 21;
constexpr int kWheelRows = 2;
constexpr int kWheelSeconds = 1800;
constexpr int kMaxTextChars = 300;

// One line of text whatever the receiver sent: line breaks and control characters as blanks.
QString oneLine(const QString& text) {
    QString s = text.left(kMaxTextChars);
    for (QChar& c : s) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QLatin1Char(' ');
    }
    return s;
}

} // namespace

GuideGrid::GuideGrid(QWidget* parent)
    : QAbstractScrollArea(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    viewport()->setAutoFillBackground(false);
    // The whole viewport is painted; nothing behind it needs drawing first.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
}

void GuideGrid::setModel(GuideModel* model) {
    m_model = model;
    modelReset();
}

void GuideGrid::modelReset() {
    m_row = -1;
    m_block = -1;
    m_focusSec = m_now;
    m_announcedFirst = m_announcedLast = -1;
    updateScrollBars();
    viewport()->update();
    announceRows();
}

void GuideGrid::modelRefreshed() {
    if (!m_model)
        return;
    if (m_row >= 0 && m_row < m_model->rowCount()) {
        // The selection stays on its programme; a list that lost it falls back to the same time.
        const int32_t slot = selectedSlot();
        int block = m_model->blockOfSlot(m_row, slot);
        if (block < 0)
            block =
                nearestBlock(m_model->blocks(m_row), static_cast<int32_t>(m_focusSec - m_model->axis().originSec()));
        const bool changed = block != m_block;
        m_block = block;
        if (changed)
            Q_EMIT selectionChanged(m_row, selectedSlot());
    }
    updateScrollBars();
    viewport()->update();
}

void GuideGrid::setNow(qint64 nowSec) {
    m_now = nowSec;
    viewport()->update();
}

int32_t GuideGrid::selectedSlot() const {
    if (!m_model || m_row < 0 || m_row >= m_model->rowCount() || m_block < 0)
        return GuideBlock::kNoSlot;
    const auto& blocks = m_model->blocks(m_row);
    return m_block < static_cast<int>(blocks.size()) ? blocks[static_cast<size_t>(m_block)].Slot : GuideBlock::kNoSlot;
}

bool GuideGrid::select(int row, int32_t slot) {
    if (!m_model || row < 0 || row >= m_model->rowCount())
        return false;
    const int block = m_model->blockOfSlot(row, slot);
    if (block < 0)
        return false;
    setSelection(row, block);
    return true;
}

void GuideGrid::goToNow(int row) {
    if (!m_model || m_model->rowCount() == 0)
        return;
    row = std::clamp(row < 0 ? m_row : row, 0, m_model->rowCount() - 1);
    m_focusSec = m_now;
    const int32_t at = static_cast<int32_t>(m_now - m_model->axis().originSec());
    horizontalScrollBar()->setValue(static_cast<int>(m_model->axis().x(m_now) - gridWidth() / 4));
    setSelection(row, nearestBlock(m_model->blocks(row), at), true);
}

int GuideGrid::gridWidth() const {
    return std::max(1, viewport()->width() - kHeaderWidth);
}

int GuideGrid::pageRows() const {
    return std::max(1, (viewport()->height() - kRulerHeight) / kRowHeight);
}

int GuideGrid::firstVisibleRow() const {
    if (!m_model || m_model->rowCount() == 0)
        return 0;
    return std::min(verticalScrollBar()->value() / kRowHeight, m_model->rowCount() - 1);
}

int GuideGrid::lastVisibleRow() const {
    if (!m_model || m_model->rowCount() == 0)
        return -1;
    const int bottom = verticalScrollBar()->value() + viewport()->height() - kRulerHeight - 1;
    return std::min(bottom / kRowHeight, m_model->rowCount() - 1);
}

void GuideGrid::updateScrollBars() {
    const int rows = m_model ? m_model->rowCount() : 0;
    const int visibleHeight = std::max(1, viewport()->height() - kRulerHeight);
    verticalScrollBar()->setRange(0, std::max(0, rows * kRowHeight - visibleHeight));
    verticalScrollBar()->setPageStep(visibleHeight);
    verticalScrollBar()->setSingleStep(kRowHeight);
    const qint64 width = m_model ? m_model->axis().width() : 0;
    horizontalScrollBar()->setRange(0, static_cast<int>(std::clamp<qint64>(width - gridWidth(), 0, INT_MAX / 2)));
    horizontalScrollBar()->setPageStep(gridWidth());
    horizontalScrollBar()->setSingleStep(GuideTimeAxis::kPixelsPerHour / 4);
}

void GuideGrid::announceRows() {
    const int first = firstVisibleRow();
    const int last = lastVisibleRow();
    if (first == m_announcedFirst && last == m_announcedLast)
        return;
    m_announcedFirst = first;
    m_announcedLast = last;
    Q_EMIT rowsInView(first, last);
}

void GuideGrid::setSelection(int row, int block, bool keepFocusTime) {
    m_row = row;
    m_block = block;
    if (!keepFocusTime && block >= 0) {
        const GuideBlock& b = m_model->blocks(row)[static_cast<size_t>(block)];
        m_focusSec = std::max(m_model->startSec(b), m_model->axis().sec(horizontalScrollBar()->value()));
    }
    ensureVisible(row, block);
    viewport()->update();
    Q_EMIT selectionChanged(row, selectedSlot());
}

void GuideGrid::ensureVisible(int row, int block) {
    const int visibleHeight = viewport()->height() - kRulerHeight;
    const int top = row * kRowHeight;
    QScrollBar* v = verticalScrollBar();
    if (top < v->value())
        v->setValue(top);
    else if (top + kRowHeight > v->value() + visibleHeight)
        v->setValue(top + kRowHeight - visibleHeight);
    if (block < 0)
        return;
    const GuideBlock& b = m_model->blocks(row)[static_cast<size_t>(block)];
    const qint64 x0 = m_model->axis().x(m_model->startSec(b));
    const qint64 x1 = m_model->axis().x(m_model->endSec(b));
    QScrollBar* h = horizontalScrollBar();
    // Enough of the block to read its start and title; a long one need not fit whole.
    const int readable = std::min<qint64>(120, x1 - x0);
    if (x1 - readable < h->value() || x0 + readable > h->value() + gridWidth())
        h->setValue(static_cast<int>(std::max<qint64>(0, x0 - gridWidth() / 8)));
}

void GuideGrid::moveRows(int delta) {
    if (!m_model || m_model->rowCount() == 0)
        return;
    selectRow(m_row < 0 ? 0 : std::clamp(m_row + delta, 0, m_model->rowCount() - 1));
}

void GuideGrid::selectRow(int row) {
    const int32_t at = static_cast<int32_t>(m_focusSec - m_model->axis().originSec());
    setSelection(row, nearestBlock(m_model->blocks(row), at), true);
}

void GuideGrid::keyPressEvent(QKeyEvent* event) {
    if (!m_model || m_model->rowCount() == 0)
        return QAbstractScrollArea::keyPressEvent(event);
    QScrollBar* h = horizontalScrollBar();
    const int row = std::max(m_row, 0);
    const int blocks = static_cast<int>(m_model->blocks(row).size());
    switch (event->key()) {
    case Qt::Key_Left:
        if (m_row >= 0 && m_block > 0)
            setSelection(m_row, m_block - 1);
        else
            h->setValue(h->value() - GuideTimeAxis::kPixelsPerHour / 2);
        return;
    case Qt::Key_Right:
        if (m_row >= 0 && m_block + 1 < blocks)
            setSelection(m_row, m_block + 1);
        else if (m_row < 0 && blocks > 0)
            setSelection(0, 0);
        else
            h->setValue(h->value() + GuideTimeAxis::kPixelsPerHour / 2);
        return;
    case Qt::Key_Up:
        moveRows(-1);
        return;
    case Qt::Key_Down:
        moveRows(+1);
        return;
    case Qt::Key_PageUp:
        moveRows(-pageRows());
        return;
    case Qt::Key_PageDown:
        moveRows(+pageRows());
        return;
    case Qt::Key_Home:
        goToNow();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (m_row >= 0 && m_block >= 0)
            Q_EMIT activated(m_row, selectedSlot());
        return;
    default:
        QAbstractScrollArea::keyPressEvent(event);
    }
}

void GuideGrid::wheelEvent(QWheelEvent* event) {
    const QPoint d = event->angleDelta();
    // Turned with Shift, or tilted: time; turned: channels. A notch (120) is two rows or half an
    // hour; a fine-grained wheel moves by its share of that.
    const bool byTime = d.x() != 0 || (event->modifiers() & Qt::ShiftModifier);
    const int delta = d.x() != 0 ? d.x() : d.y();
    if (byTime) {
        QScrollBar* h = horizontalScrollBar();
        h->setValue(h->value() - delta * kWheelSeconds * GuideTimeAxis::kPixelsPerHour / 3600 / 120);
    } else {
        QScrollBar* v = verticalScrollBar();
        v->setValue(v->value() - delta * kWheelRows * kRowHeight / 120);
    }
    event->accept();
}

bool GuideGrid::hit(const QPoint& pos, int* row, int* block) const {
    if (!m_model || pos.y() < kRulerHeight)
        return false;
    const int r = (pos.y() - kRulerHeight + verticalScrollBar()->value()) / kRowHeight;
    if (r < 0 || r >= m_model->rowCount())
        return false;
    *row = r;
    *block = -1;
    if (pos.x() >= kHeaderWidth) {
        const qint64 sec = m_model->axis().sec(pos.x() - kHeaderWidth + horizontalScrollBar()->value());
        *block = blockAt(m_model->blocks(r), static_cast<int32_t>(sec - m_model->axis().originSec()));
    }
    return true;
}

void GuideGrid::mousePressEvent(QMouseEvent* event) {
    int row = -1;
    int block = -1;
    if (event->button() != Qt::LeftButton || !hit(event->position().toPoint(), &row, &block))
        return QAbstractScrollArea::mousePressEvent(event);
    if (block >= 0)
        setSelection(row, block);
    else
        selectRow(row);
}

void GuideGrid::mouseDoubleClickEvent(QMouseEvent* event) {
    int row = -1;
    int block = -1;
    if (event->button() != Qt::LeftButton || !hit(event->position().toPoint(), &row, &block) || block < 0)
        return QAbstractScrollArea::mouseDoubleClickEvent(event);
    setSelection(row, block);
    Q_EMIT activated(row, selectedSlot());
}

void GuideGrid::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
    announceRows();
}

void GuideGrid::scrollContentsBy(int, int) {
    viewport()->update();
    announceRows();
}

QRect GuideGrid::blockRect(int row, int block) const {
    if (!m_model || row < 0 || row >= m_model->rowCount() || block < 0 ||
        block >= static_cast<int>(m_model->blocks(row).size()))
        return {};
    const GuideBlock& b = m_model->blocks(row)[static_cast<size_t>(block)];
    const int hx = horizontalScrollBar()->value();
    const int x0 = kHeaderWidth + static_cast<int>(m_model->axis().x(m_model->startSec(b))) - hx;
    const int x1 = kHeaderWidth + static_cast<int>(m_model->axis().x(m_model->endSec(b))) - hx;
    const int y = kRulerHeight + row * kRowHeight - verticalScrollBar()->value();
    return QRect(x0, y + 2, std::max(1, x1 - x0 - 1), kRowHeight - 5);
}

void GuideGrid::paintEvent(QPaintEvent*) {
    QPainter p(viewport());
    p.fillRect(viewport()->rect(), kBackground);
    if (!m_model)
        return;
    const int hx = horizontalScrollBar()->value();
    const qint64 fromSec = m_model->axis().sec(hx);
    const qint64 toSec = m_model->axis().sec(hx + gridWidth()) + 1;
    p.save();
    p.setClipRect(QRect(0, kRulerHeight, viewport()->width(), viewport()->height() - kRulerHeight));
    const int vy = verticalScrollBar()->value();
    for (int r = firstVisibleRow(); r <= lastVisibleRow(); ++r)
        paintRow(p, r, kRulerHeight + r * kRowHeight - vy, fromSec, toSec);
    p.restore();
    paintRuler(p, fromSec, toSec);
    const int nowX = kHeaderWidth + static_cast<int>(m_model->axis().x(m_now)) - hx;
    if (nowX >= kHeaderWidth && nowX < viewport()->width())
        p.fillRect(QRect(nowX - 1, kRulerHeight - 8, 3, viewport()->height()), kNowLine);
}

void GuideGrid::paintRuler(QPainter& p, qint64 fromSec, qint64 toSec) {
    const int w = viewport()->width();
    const int hx = horizontalScrollBar()->value();
    p.fillRect(QRect(0, 0, w, kRulerHeight), kHeaderFill);
    const QFontMetrics fm = p.fontMetrics();
    p.save();
    p.setClipRect(QRect(kHeaderWidth, 0, w - kHeaderWidth, kRulerHeight));
    const QList<GuideTimeAxis::Tick> ticks = m_model->axis().ticks(fromSec - GuideTimeAxis::kTickSec, toSec);
    for (const GuideTimeAxis::Tick& tick : ticks) {
        const int x = kHeaderWidth + static_cast<int>(tick.X) - hx;
        p.setPen(kDimText);
        p.drawLine(x, kRulerHeight - 8, x, kRulerHeight - 1);
        p.setPen(kText);
        p.drawText(x + 3, kRulerHeight - 6, tick.Label);
        // The first day is the corner's; a new one is written where it begins.
        if (!tick.Day.isEmpty() && &tick != &ticks.first())
            p.drawText(x + 3, fm.ascent() + 2, tick.Day);
    }
    p.restore();
    // The day of the view's left edge stays in the corner.
    p.setPen(kText);
    p.drawText(QRect(6, 0, kHeaderWidth - 12, kRulerHeight), Qt::AlignVCenter | Qt::AlignLeft,
               m_model->axis().day(fromSec));
}

void GuideGrid::paintRow(QPainter& p, int row, int y, qint64 fromSec, qint64 toSec) {
    const int w = viewport()->width();
    const GuideModel& m = *m_model;
    const GuideTimeAxis& axis = m.axis();
    const TChannel& ch = *m.channel(row).Channel;
    const QRect gridPart(kHeaderWidth, y, w - kHeaderWidth, kRowHeight - 1);
    p.fillRect(gridPart, row % 2 ? kRowOdd : kRowEven);

    QFont titleFont = font();
    titleFont.setBold(true);
    const QFontMetrics titleMetrics(titleFont);
    const QFontMetrics timeMetrics(font());
    const auto& blocks = m.blocks(row);
    const qint64 origin = axis.originSec();
    int lastEnd = kHeaderWidth;
    p.save();
    p.setClipRect(gridPart);
    for (int i = firstBlockFrom(blocks, static_cast<int32_t>(fromSec - origin)); i < static_cast<int>(blocks.size());
         ++i) {
        const GuideBlock& b = blocks[static_cast<size_t>(i)];
        const qint64 start = m.startSec(b);
        const qint64 end = m.endSec(b);
        if (start >= toSec)
            break;
        const QRect r = blockRect(row, i);
        lastEnd = r.right() + 1;
        const bool past = end <= m_now;
        const bool running = start <= m_now && m_now < end;
        const bool selected = row == m_row && i == m_block;
        QColor fill = past ? kPastFill : running ? kRunningFill : kBlockFill;
        if (selected)
            fill = running ? kRunningSelectedFill : kSelectedFill;
        p.fillRect(r, fill);
        const TChannelProgram* prog = blockProgramme(ch, b.Slot);
        if (running) {
            // How far it has run, as the other programme bars show it.
            const QRect bar(r.left(), r.bottom() - 3, r.width(), 4);
            p.fillRect(bar, kBarSilver);
            const qint64 total = std::max<qint64>(1, end - start);
            p.fillRect(QRect(bar.left(), bar.top(), int(bar.width() * (m_now - start) / total), bar.height()),
                       kBarBlue);
        }
        if (selected) {
            p.setPen(QPen(kSelectedFrame, 2));
            p.drawRect(r.adjusted(1, 1, -1, -1));
        }
        // The text starts at the visible part's left edge, so a programme begun off view stays readable.
        const int textLeft = std::max(r.left(), kHeaderWidth) + 4;
        const int textWidth = r.right() - textLeft - 3;
        if (textWidth > 8 && prog) {
            p.setPen(past ? kDimText : kText);
            p.setFont(font());
            p.drawText(textLeft, r.top() + timeMetrics.ascent() + 1,
                       timeMetrics.elidedText(axis.clock(prog->StartSec), Qt::ElideRight, textWidth));
            p.setFont(titleFont);
            p.drawText(textLeft, r.top() + timeMetrics.height() + titleMetrics.ascent(),
                       titleMetrics.elidedText(oneLine(prog->Title), Qt::ElideRight, textWidth));
        }
    }
    p.setFont(font());
    const GuideModel::RowState state = m.rowState(row);
    // Waiting for a list, or nothing at all to show; a row known only from now and next with no list
    // coming shows just those.
    if (state == GuideModel::RowState::Loading || blocks.empty()) {
        const QString text = state == GuideModel::RowState::Loading ? QStringLiteral("loading programme list...")
                                                                    : QStringLiteral("no programme data");
        const int x = std::max(lastEnd, kHeaderWidth) + 6;
        p.setPen(kDimText);
        p.drawText(QRect(x, y, w - x, kRowHeight), Qt::AlignVCenter | Qt::AlignLeft, text);
    }
    p.restore();

    const QRect header(0, y, kHeaderWidth - 1, kRowHeight - 1);
    p.fillRect(header, row == m_row ? kHeaderSelected : kHeaderFill);
    if (m_logos) {
        const QPixmap logo = m_logos(ch);
        if (!logo.isNull())
            p.drawPixmap(QRect(6, y + (kRowHeight - kLogoHeight) / 2, kLogoWidth, kLogoHeight), logo);
    }
    const int textX = 6 + kLogoWidth + 6;
    const int textWidth = kHeaderWidth - textX - 4;
    p.setPen(kText);
    p.setFont(titleFont);
    const QString bouquet = m.channel(row).Bouquet;
    const int captionY =
        bouquet.isEmpty() ? y + (kRowHeight + titleMetrics.ascent()) / 2 - 2 : y + 4 + titleMetrics.ascent();
    p.drawText(textX, captionY, titleMetrics.elidedText(oneLine(ch.Caption), Qt::ElideRight, textWidth));
    p.setFont(font());
    if (!bouquet.isEmpty()) {
        p.setPen(kDimText);
        p.drawText(textX, y + kRowHeight - 6, timeMetrics.elidedText(oneLine(bouquet), Qt::ElideRight, textWidth));
    }
}

} // namespace quoxel
