#pragma once

#include <QTreeView>

class ReviewController;

// ListView1: the review list. Check boxes in the first column (Space ticks the
// row in any column; the selected row is always the current row), a header
// click sorts by that column and a second one reverses the order, column widths
// follow the list width. Double
// click or Enter, and the right button's release or the menu key (Shift+F10),
// are reported only when the list has rows. Assistive technology sees each
// tick as a check box it can toggle.
class ReviewListView : public QTreeView {
    Q_OBJECT
public:
    ReviewListView(ReviewController& controller, QWidget* parent = nullptr);

    // The list width divided by each column's divisor; the seven columns make
    // room when a review of every account adds its Account column.
    static int ColumnWidthFor(int listWidth, int column, bool withAccount = false);
    void applyColumnWidths();

Q_SIGNALS:
    // Double click on a list with rows: open the selected message's details.
    void detailsRequested();
    // Right button released over a list with rows: pop the Actions menu here.
    void actionsMenuRequested(const QPoint& globalPos);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                     const QList<int>& roles = QList<int>()) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void onSectionClicked(int section);
    void onSelectionChanged();
    void onModelReset();
    void selectModelRow(int row);
    void requestMenuAtCurrentRow();

    ReviewController& m_controller;
};
