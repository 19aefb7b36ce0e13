#include "reviewlistview.h"

#include "reviewcontroller.h"
#include "reviewmodel.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyle>

namespace {
constexpr double kDivisors[ReviewItem::ColumnCount] = {5.5, 5.5, 3.8, 7, 14, 10, 25};
}

ReviewListView::ReviewListView(ReviewController& controller, QWidget* parent)
    : QTreeView(parent), m_controller(controller) {
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
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
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

    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, &ReviewListView::onSelectionChanged);
    connect(model, &QAbstractItemModel::modelReset, this, &ReviewListView::onSelectionChanged);
    connect(&controller, &ReviewController::selectRowRequested, this, &ReviewListView::selectModelRow);
    applyColumnWidths();
}

int ReviewListView::ColumnWidthFor(int listWidth, int column) {
    if (column < 0 || column >= ReviewItem::ColumnCount)
        return 0;
    return static_cast<int>(listWidth / kDivisors[column]);
}

void ReviewListView::applyColumnWidths() {
    for (int column = 0; column < ReviewItem::ColumnCount; ++column)
        setColumnWidth(column, ColumnWidthFor(width(), column));
}

void ReviewListView::onSectionClicked(int section) {
    m_controller.model()->sort(section);
    // The indicator shows the column; the direction never changes.
    header()->setSortIndicator(section, Qt::AscendingOrder);
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
    // The delegate only toggles on Space in the check column; users expect it anywhere in the row.
    if ((event->key() == Qt::Key_Space || event->key() == Qt::Key_Select) && event->modifiers() == Qt::NoModifier) {
        const QModelIndex current = currentIndex();
        if (current.isValid()) {
            ReviewModel* reviewModel = m_controller.model();
            reviewModel->setKeep(current.row(), !reviewModel->item(current.row()).keep);
        }
        event->accept();
        return;
    }
    QTreeView::keyPressEvent(event);
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
