#pragma once

#include "common/appstate.h"
#include "review/core/reviewmodel.h"
#include "review/reviewcontroller.h"
#include "review/reviewlistview.h"

#include <QAccessible>
#include <QLineEdit>
#include <QVBoxLayout>
#include <QWidget>

#include <memory>

constexpr int kColumns = ReviewItem::ColumnCount;

// The child number Qt's own item-view events give a cell: the header is row 0.
inline int CellChild(int row, int column) {
    return (row + 1) * kColumns + column;
}

inline ReviewItem Row(int number, bool keep) {
    ReviewItem item;
    item.MessageNumber = number;
    item.keep = keep;
    item.texts[ReviewItem::From] = QStringLiteral("Sender %1").arg(number);
    item.texts[ReviewItem::Address] = QStringLiteral("s%1@example.com").arg(number);
    item.texts[ReviewItem::Subject] = QStringLiteral("Subject %1").arg(number);
    item.texts[ReviewItem::Size] = QStringLiteral("%1 Bytes").arg(number * 100);
    item.sizeBytes = number * 100;
    item.texts[ReviewItem::Content] = QStringLiteral("text/plain");
    item.texts[ReviewItem::Recipients] = QStringLiteral("1");
    return item;
}

// The review list alone in a window beside a line edit, rows 0, 2, 4, ...
// ticked, row 0 selected.
struct ReviewList {
    AppState state;
    QWidget window;
    std::unique_ptr<ReviewController> controller;
    ReviewListView* view = nullptr;
    QLineEdit* elsewhere = nullptr;

    explicit ReviewList(int rows) {
        controller = std::make_unique<ReviewController>(state, &window);
        auto* layout = new QVBoxLayout(&window);
        elsewhere = new QLineEdit(&window);
        elsewhere->setAccessibleName(QStringLiteral("elsewhere"));
        layout->addWidget(elsewhere);
        view = new ReviewListView(*controller, &window);
        layout->addWidget(view);
        QVector<ReviewItem> items;
        for (int i = 0; i < rows; ++i)
            items.append(Row(i + 1, i % 2 == 0));
        controller->model()->setItems(items);
        if (rows > 0)
            view->selectionModel()->setCurrentIndex(
                model()->index(0, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        window.resize(900, 400);
        window.show();
        window.activateWindow();
    }
    ~ReviewList() { delete view; } // before the controller and its model

    ReviewModel* model() const { return controller->model(); }
    QAccessibleTableInterface* table() const {
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(view);
        return iface ? iface->tableInterface() : nullptr;
    }
    QList<bool> ticks() const {
        QList<bool> keep;
        for (const ReviewItem& item : model()->items())
            keep.append(item.keep);
        return keep;
    }
    QList<int> selectedRows() const {
        QList<int> rows;
        for (const QModelIndex& index : view->selectionModel()->selectedRows())
            rows.append(index.row());
        return rows;
    }
};
