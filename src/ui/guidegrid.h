#pragma once

#include "guide/guidemodel.h"

#include <QAbstractScrollArea>
#include <QColor>
#include <QPixmap>

#include <functional>

namespace quoxel {

// The programme guide's grid: channels down the left with logo, number and name, a ruler of the
// local clock across the top, each programme a block with its start and title, the running one
// marked, the past ones dimmed, a line at the current time. Draws and navigates over a GuideModel
// and moves its selection; it decides nothing else. UI thread.
class GuideGrid : public QAbstractScrollArea {
    Q_OBJECT
public:
    static constexpr int kHeaderWidth = 190;
    static constexpr int kRulerHeight = 36;
    static constexpr int kRowHeight = 44;

    // Colours the grid is drawn in (a screenshot test reads them back).
    static inline const QColor kBlockFill{46, 74, 122};
    static inline const QColor kRunningFill{30, 120, 60};
    static inline const QColor kPastFill{62, 62, 62};
    static inline const QColor kNowLine{230, 40, 40};
    static inline const QColor kSelectedFrame{255, 200, 0};

    explicit GuideGrid(QWidget* parent = nullptr);

    // The model the grid shows; laid out anew by its owner, then modelReset().
    void setModel(GuideModel* model);
    void modelReset();
    // Rows changed in place (new lists came in): drawn again, the selection kept on its slot.
    void modelRefreshed();
    void setLogoSource(std::function<QPixmap(const TChannel&)> logos) { m_logos = std::move(logos); }
    // The clock (seconds since 1970); tests and the benchmark set it.
    void setNow(qint64 nowSec);
    qint64 now() const { return m_now; }

    int selectedRow() const { return m_row; }
    int32_t selectedSlot() const;
    // Selects a row's programme slot and scrolls to it; false when the row has no such block.
    bool select(int row, int32_t slot);
    // A row's programme at the current time (the current row for -1), scrolled so that now is in
    // view (Home).
    void goToNow(int row = -1);
    // The rows at least partly in view.
    int firstVisibleRow() const;
    int lastVisibleRow() const;
    // Where a programme is drawn, in viewport coordinates (empty when it has no block).
    QRect blockRect(int row, int block) const;

Q_SIGNALS:
    void selectionChanged(int row, int32_t slot);
    // Enter or a double click on a programme.
    void activated(int row, int32_t slot);
    // The rows in view changed (scrolling, resizing, new rows).
    void rowsInView(int first, int last);

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void updateScrollBars();
    void setSelection(int row, int block, bool keepFocusTime = false);
    void ensureVisible(int row, int block);
    void moveRows(int delta);
    // The row's programme at the focus time.
    void selectRow(int row);
    bool hit(const QPoint& pos, int* row, int* block) const;
    void paintRow(QPainter& p, int row, int y, qint64 fromSec, qint64 toSec);
    void paintRuler(QPainter& p, qint64 fromSec, qint64 toSec);
    void announceRows();
    int gridWidth() const;
    int pageRows() const;

    GuideModel* m_model = nullptr;
    std::function<QPixmap(const TChannel&)> m_logos;
    qint64 m_now = 0;
    int m_row = -1;
    int m_block = -1;
    // The time Up and Down look for in the next row: the selected programme's start, or now.
    qint64 m_focusSec = 0;
    int m_announcedFirst = -1;
    int m_announcedLast = -1;
};

} // namespace quoxel
