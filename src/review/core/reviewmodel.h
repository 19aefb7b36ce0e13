#pragma once

#include "review/core/reviewitem.h"

#include <QAbstractTableModel>
#include <QStringList>
#include <QVector>

// The rows of the review list. Once a column has been chosen the model keeps
// itself sorted by it, rows added later included: Size by bytes, Date by the
// moment it names (dates that cannot be read last in either direction), # by
// number, the other columns by their text, letter case ignored. Equal keys keep
// the order in which the rows arrived. A review of every account has an eighth
// column, "Account", after the seven; a one-account review never shows it.
class ReviewModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int MessageNumberRole = Qt::UserRole + 1;
    static constexpr int AccountColumn = ReviewItem::ColumnCount;

    explicit ReviewModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    static QString HeaderText(int column);
    static bool IsRightAligned(int column);

    // -1 until a column is chosen; rows then stay in the order they were added.
    int sortColumn() const { return m_sortColumn; }
    Qt::SortOrder sortOrder() const { return m_sortOrder; }

    // Replaces every row in one reset (the fast path for a whole check). With
    // accounts (named by each row's ReviewItem::account) the Account column shows.
    void setItems(QVector<ReviewItem> items, QStringList accounts = {});
    // Adds one row at its sorted place (at the end while unsorted); returns its row.
    int addItem(ReviewItem item);
    void clear();

    const ReviewItem& item(int row) const { return m_rows.at(row); }
    const QVector<ReviewItem>& items() const { return m_rows; }
    // The accounts of a review of every account; empty in a one-account review.
    const QStringList& accounts() const { return m_accounts; }
    QString accountName(int row) const;
    void setKeep(int row, bool keep);
    void setAllKeep(bool keep);
    // Row of the first item without a tick, or -1.
    int firstUnticked() const;

    // Picture shown before the sender (a QIcon from the view; the model has no GUI).
    void setRowDecoration(const QVariant& decoration) { m_decoration = decoration; }

private:
    bool lessThan(const ReviewItem& a, const ReviewItem& b) const;

    QString accountOf(const ReviewItem& item) const;

    QVector<ReviewItem> m_rows;
    QStringList m_accounts;
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    QVariant m_decoration;
};
