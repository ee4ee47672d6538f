#include "ui/channelbox.h"

#include "core/appflags.h"
#include "ui/channelmodel.h"

#include <QAbstractItemView>
#include <QKeyEvent>
#include <QPainter>
#include <QStyleOptionComboBox>
#include <QStylePainter>

namespace {

constexpr int kBarLeft = 4;
constexpr int kBarRight = 40;
constexpr int kTextLeft = 43;
constexpr int kSubTextLeft = 49;
constexpr int kRowHeight = 16;

} // namespace

void ChannelBoxDelegate::drawChannelRow(QPainter* painter, const QRect& rect, const QModelIndex& index,
                                        const QPalette& palette, bool highlighted) {
    painter->save();
    painter->fillRect(rect, highlighted ? palette.color(QPalette::Highlight) : palette.color(QPalette::Base));
    const bool sub = index.data(ChannelModel::IsSubChannelRole).toBool();
    const int x = rect.left() + (sub ? kSubTextLeft : kTextLeft);
    painter->setPen(highlighted ? palette.color(QPalette::HighlightedText) : palette.color(QPalette::Text));
    const QRect textRect(x, rect.top() + 2, std::max(0, rect.right() - x), std::max(0, rect.height() - 2));
    painter->drawText(
        textRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
        painter->fontMetrics().elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight, textRect.width()));

    // The bar: silver with a black frame, blue as far as the programme has run.
    const QRect bar(QPoint(rect.left() + kBarLeft, rect.top() + 1), QPoint(rect.left() + kBarRight, rect.bottom() - 1));
    painter->fillRect(bar, QColor(192, 192, 192));
    painter->setPen(Qt::black);
    painter->drawRect(bar.adjusted(0, 0, -1, -1));
    const int filled = index.data(ChannelModel::ProgressRole).toInt();
    if (filled > 0) {
        const QRect blue(QPoint(rect.left() + 5, bar.top() + 1),
                         QPoint(rect.left() + 5 + filled - 1, bar.bottom() - 1));
        painter->fillRect(blue, QColor(0, 0, 255));
    }
    painter->restore();
}

void ChannelBoxDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    if (IsClosing.load())
        return;
    const bool highlighted = option.state & (QStyle::State_Selected | QStyle::State_HasFocus);
    drawChannelRow(painter, option.rect, index, option.palette, highlighted);
}

QSize ChannelBoxDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const QString text = index.data(Qt::DisplayRole).toString();
    return {kSubTextLeft + option.fontMetrics.horizontalAdvance(text) + 4,
            std::max(kRowHeight, option.fontMetrics.height() + 3)};
}

TComboBoxQuoxel::TComboBoxQuoxel(QWidget* parent)
    : QComboBox(parent) {
    setObjectName(QStringLiteral("CmbChannels"));
    setItemDelegate(new ChannelBoxDelegate(this));
    connect(this, &QComboBox::currentIndexChanged, this, [this] { announceLogo(); });
    view()->installEventFilter(this);
}

void TComboBoxQuoxel::setChannelModel(ChannelModel* model) {
    m_model = model;
    setModel(model);
    connect(model, &QAbstractItemModel::modelReset, this, [this] {
        m_logoChannel = nullptr;
        announceLogo();
    });
    announceLogo();
}

TChannel* TComboBoxQuoxel::currentChannel() const {
    if (!m_model)
        return nullptr;
    return m_model->channelAt(currentIndex()).get();
}

void TComboBoxQuoxel::showPopup() {
    m_droppedDown = true;
    Q_EMIT droppingDown();
    QComboBox::showPopup();
}

void TComboBoxQuoxel::hidePopup() {
    QComboBox::hidePopup();
    m_droppedDown = false;
}

bool TComboBoxQuoxel::handleKey(QKeyEvent* event, bool inList) {
    const int key = event->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
        if (inList) {
            // The highlighted row is the user's choice, as a click on it would be.
            const int row = view()->currentIndex().row();
            hidePopup();
            if (row >= 0 && row != currentIndex()) {
                setCurrentIndex(row);
                Q_EMIT activated(row);
            }
        }
        Q_EMIT switchKeyPressed(key == Qt::Key_Space ? 32 : 13);
        return true;
    }
    // Letters would search the captions; the window's letter commands own them.
    if (key >= Qt::Key_A && key <= Qt::Key_Z && !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
        event->ignore();
        return true;
    }
    return false;
}

void TComboBoxQuoxel::keyPressEvent(QKeyEvent* event) {
    if (!handleKey(event, false))
        QComboBox::keyPressEvent(event);
}

bool TComboBoxQuoxel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == view() && event->type() == QEvent::KeyPress && handleKey(static_cast<QKeyEvent*>(event), true))
        return true;
    return QComboBox::eventFilter(watched, event);
}

void TComboBoxQuoxel::announceLogo() {
    TChannel* ch = currentChannel();
    if (!ch || ch == m_logoChannel)
        return;
    m_logoChannel = ch;
    Q_EMIT logoChannelChanged(ch);
}

void TComboBoxQuoxel::paintEvent(QPaintEvent* event) {
    if (IsClosing.load() || !m_model || currentIndex() < 0) {
        QComboBox::paintEvent(event);
        return;
    }
    QStylePainter painter(this);
    QStyleOptionComboBox opt;
    initStyleOption(&opt);
    opt.currentText.clear();
    opt.currentIcon = QIcon();
    painter.drawComplexControl(QStyle::CC_ComboBox, opt);
    // The closed box's edit part always uses the window colours.
    const QRect edit = style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, this);
    ChannelBoxDelegate::drawChannelRow(&painter, edit, m_model->index(currentIndex()), palette(), false);
    announceLogo();
}
