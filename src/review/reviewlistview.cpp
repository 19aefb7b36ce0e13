#include "review/reviewlistview.h"

#include "common/accessibility.h"
#include "review/core/reviewmodel.h"
#include "review/reviewcontroller.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyle>

namespace {
constexpr double kDivisors[ReviewItem::ColumnCount] = {5.5, 5.5, 3.8, 7, 14, 10, 25};
constexpr double kDivisorsWithAccount[ReviewItem::ColumnCount + 1] = {6.5, 6.5, 4.5, 8, 14, 12, 25, 8};
} // namespace

ReviewListView::ReviewListView(ReviewController& controller, QWidget* parent)
    : QTreeView(parent), m_controller(controller) {
    // Before anything asks for this view's accessible interface.
    ui::ExposeTicksAsCheckBoxes(this);
    setObjectName(QStringLiteral("ListView1"));
    setAccessibleName(tr("Messages to review"));
    ReviewModel* model = controller.model();
    model->setRowDecoration(style()->standardIcon(QStyle::SP_FileIcon, nullptr, this));
    setModel(model);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true); // with 32,767 rows the view must not measure each one
    setAlternatingRowColors(true);
    setAllColumnsShowFocus(true);
    // The selected row is the current row: Space, the menu and the commands all act on it.
    ui::KeepSelectionOnCurrent(this);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTextElideMode(Qt::ElideRight);
    setWordWrap(false);

    QHeaderView* bar = header();
    bar->setSectionsClickable(true);
    bar->setSectionsMovable(false);
    bar->setStretchLastSection(false);
    bar->setSortIndicatorShown(false);
    bar->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    connect(bar, &QHeaderView::sectionClicked, this, &ReviewListView::onSectionClicked);

    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &ReviewListView::onSelectionChanged);
    connect(model, &QAbstractItemModel::modelReset, this, &ReviewListView::onModelReset);
    connect(&controller, &ReviewController::selectRowRequested, this, &ReviewListView::selectModelRow);
    applyColumnWidths();
}

int ReviewListView::ColumnWidthFor(int listWidth, int column, bool withAccount) {
    if (column < 0 || column >= ReviewItem::ColumnCount + (withAccount ? 1 : 0))
        return 0;
    return static_cast<int>(listWidth / (withAccount ? kDivisorsWithAccount[column] : kDivisors[column]));
}

void ReviewListView::applyColumnWidths() {
    const int columns = model()->columnCount();
    const bool withAccount = columns > ReviewItem::ColumnCount;
    for (int column = 0; column < columns; ++column)
        setColumnWidth(column, ColumnWidthFor(width(), column, withAccount));
}

void ReviewListView::onModelReset() {
    // The Account column comes and goes with the kind of review.
    applyColumnWidths();
    if (m_controller.model()->sortColumn() < 0)
        header()->setSortIndicatorShown(false);
    onSelectionChanged();
}

void ReviewListView::onSectionClicked(int section) {
    // A new column sorts ascending; the sorted column's header reverses it.
    ReviewModel* reviewModel = m_controller.model();
    const bool reverse =
        reviewModel->sortColumn() == section && reviewModel->sortOrder() == Qt::AscendingOrder;
    const Qt::SortOrder order = reverse ? Qt::DescendingOrder : Qt::AscendingOrder;
    reviewModel->sort(section, order);
    // Set after the header's own flip on the click, so the indicator is the model's order.
    header()->setSortIndicator(section, order);
    header()->setSortIndicatorShown(true);
    if (currentIndex().isValid())
        scrollTo(currentIndex());
}

void ReviewListView::onSelectionChanged() {
    const QModelIndexList rows = selectionModel()->selectedRows();
    m_controller.setSelectedRow(rows.isEmpty() ? -1 : rows.first().row());
}

void ReviewListView::selectModelRow(int row) {
    const QModelIndex index = model()->index(row, 0);
    if (!index.isValid())
        return;
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    scrollTo(index);
}

void ReviewListView::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    // The delegate only toggles on Space in the check column; users expect it anywhere in the row.
    if ((key == Qt::Key_Space || key == Qt::Key_Select) && modifiers == Qt::NoModifier) {
        const int row = m_controller.selectedRow();
        if (row >= 0) {
            ReviewModel* reviewModel = m_controller.model();
            reviewModel->setKeep(row, !reviewModel->item(row).keep);
        }
        event->accept();
        return;
    }
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && modifiers == Qt::NoModifier) {
        // Enter does what a double click does.
        if (model()->rowCount() > 0)
            Q_EMIT detailsRequested();
        event->accept();
        return;
    }
    if ((key == Qt::Key_Menu && modifiers == Qt::NoModifier) ||
        (key == Qt::Key_F10 && modifiers == Qt::ShiftModifier)) {
        requestMenuAtCurrentRow();
        event->accept();
        return;
    }
    QTreeView::keyPressEvent(event);
}

void ReviewListView::contextMenuEvent(QContextMenuEvent* event) {
    // The mouse's menu opens on the button's release; the keyboard's opens at the row.
    if (event->reason() == QContextMenuEvent::Keyboard)
        requestMenuAtCurrentRow();
    event->accept();
}

void ReviewListView::requestMenuAtCurrentRow() {
    // The platform may send both a key press and a context-menu event for one key.
    if (model()->rowCount() == 0 || QApplication::activePopupWidget())
        return;
    const QModelIndex current = currentIndex().isValid() ? currentIndex() : model()->index(0, 0);
    scrollTo(current);
    const QRect row = visualRect(current);
    Q_EMIT actionsMenuRequested(viewport()->mapToGlobal(QPoint(row.left() + row.height(), row.bottom())));
}

void ReviewListView::dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                                 const QList<int>& roles) {
    QTreeView::dataChanged(topLeft, bottomRight, roles);
    ui::AnnounceTickChanges(this, topLeft, bottomRight, roles);
}

void ReviewListView::mouseDoubleClickEvent(QMouseEvent* event) {
    QTreeView::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton && model()->rowCount() > 0)
        Q_EMIT detailsRequested();
}

void ReviewListView::mouseReleaseEvent(QMouseEvent* event) {
    QTreeView::mouseReleaseEvent(event);
    if (event->button() == Qt::RightButton && model()->rowCount() > 0)
        Q_EMIT actionsMenuRequested(event->globalPosition().toPoint());
}

void ReviewListView::resizeEvent(QResizeEvent* event) {
    QTreeView::resizeEvent(event);
    applyColumnWidths();
}
