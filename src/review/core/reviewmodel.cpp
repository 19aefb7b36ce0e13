#include "review/core/reviewmodel.h"

#include <algorithm>
#include <numeric>

namespace {
const char* const kHeaders[ReviewItem::ColumnCount + 1] = {"From", "Address", "Subject", "Date",
                                                           "Size", "Content", "#",       "Account"};

template <typename T> int ThreeWay(T a, T b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

// Negative, zero or positive as a comes before, with or after b in ascending order.
int CompareAscending(const ReviewItem& a, const ReviewItem& b, int column) {
    switch (column) {
    case ReviewItem::Size:
        return ThreeWay(a.sizeBytes, b.sizeBytes);
    case ReviewItem::Date:
        return a.sentAt && b.sentAt ? ThreeWay(*a.sentAt, *b.sentAt) : 0;
    case ReviewItem::Recipients:
        return ThreeWay(a.recipients, b.recipients);
    default:
        return a.text(column).compare(b.text(column), Qt::CaseInsensitive);
    }
}
} // namespace

ReviewModel::ReviewModel(QObject* parent) : QAbstractTableModel(parent) {}

int ReviewModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int ReviewModel::columnCount(const QModelIndex& parent) const {
    if (parent.isValid())
        return 0;
    return m_accounts.isEmpty() ? ReviewItem::ColumnCount : ReviewItem::ColumnCount + 1;
}

QString ReviewModel::HeaderText(int column) {
    if (column < 0 || column > AccountColumn)
        return {};
    return QString::fromLatin1(kHeaders[column]);
}

bool ReviewModel::IsRightAligned(int column) {
    return column == ReviewItem::Date || column == ReviewItem::Size || column == ReviewItem::Recipients;
}

QVariant ReviewModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const ReviewItem& row = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        // No tool tips: a tip decides for itself whether text is rich, and these texts come from a server.
        return index.column() == AccountColumn ? accountOf(row) : row.text(index.column());
    case Qt::CheckStateRole:
        if (index.column() == 0)
            return row.keep ? Qt::Checked : Qt::Unchecked;
        return {};
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::Alignment(
            (IsRightAligned(index.column()) ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter));
    case Qt::DecorationRole:
        return index.column() == 0 ? m_decoration : QVariant();
    case Qt::AccessibleDescriptionRole:
        // What the tick means, for a listener who cannot see the list's explanation.
        if (index.column() == 0)
            return row.keep ? tr("Keep") : tr("Will be deleted");
        return {};
    case MessageNumberRole:
        return row.MessageNumber;
    default:
        return {};
    }
}

bool ReviewModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || index.column() != 0 ||
        !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return false;
    setKeep(index.row(), value.value<Qt::CheckState>() == Qt::Checked);
    return true;
}

Qt::ItemFlags ReviewModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (index.column() == 0)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant ReviewModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount())
        return {};
    if (role == Qt::DisplayRole)
        return HeaderText(section);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(
            Qt::Alignment((IsRightAligned(section) ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter));
    return {};
}

bool ReviewModel::lessThan(const ReviewItem& a, const ReviewItem& b) const {
    // A date that cannot be read says nothing about when: after every one that can, either way.
    if (m_sortColumn == ReviewItem::Date && a.sentAt.has_value() != b.sentAt.has_value())
        return a.sentAt.has_value();
    const int order = m_sortColumn == AccountColumn ? accountOf(a).compare(accountOf(b), Qt::CaseInsensitive)
                                                    : CompareAscending(a, b, m_sortColumn);
    return m_sortOrder == Qt::AscendingOrder ? order < 0 : order > 0;
}

void ReviewModel::sort(int column, Qt::SortOrder order) {
    if (column < 0 || column >= columnCount() || (column == m_sortColumn && order == m_sortOrder))
        return;
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    m_sortColumn = column;
    m_sortOrder = order;

    // Sort a permutation so persistent indexes (selection, current row) follow their rows.
    QVector<int> oldRowOf(m_rows.size());
    std::iota(oldRowOf.begin(), oldRowOf.end(), 0);
    std::stable_sort(oldRowOf.begin(), oldRowOf.end(),
                     [this](int a, int b) { return lessThan(m_rows.at(a), m_rows.at(b)); });
    QVector<ReviewItem> sorted;
    sorted.reserve(m_rows.size());
    QVector<int> newRowOf(m_rows.size());
    for (int newRow = 0; newRow < oldRowOf.size(); ++newRow) {
        sorted.append(std::move(m_rows[oldRowOf[newRow]]));
        newRowOf[oldRowOf[newRow]] = newRow;
    }
    m_rows = std::move(sorted);

    const QModelIndexList persistent = persistentIndexList();
    QModelIndexList moved;
    moved.reserve(persistent.size());
    for (const QModelIndex& old : persistent)
        moved.append(index(newRowOf.at(old.row()), old.column()));
    changePersistentIndexList(persistent, moved);
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void ReviewModel::setItems(QVector<ReviewItem> items, QStringList accounts) {
    beginResetModel();
    m_rows = std::move(items);
    m_accounts = std::move(accounts);
    // Sorted by Account, then a one-account review: that column is gone.
    if (m_sortColumn >= columnCount())
        m_sortColumn = -1;
    if (m_sortColumn >= 0)
        std::stable_sort(m_rows.begin(), m_rows.end(),
                         [this](const ReviewItem& a, const ReviewItem& b) { return lessThan(a, b); });
    endResetModel();
}

int ReviewModel::addItem(ReviewItem item) {
    qsizetype row = m_rows.size();
    if (m_sortColumn >= 0)
        row = std::upper_bound(m_rows.begin(), m_rows.end(), item,
                               [this](const ReviewItem& a, const ReviewItem& b) { return lessThan(a, b); }) -
              m_rows.begin();
    beginInsertRows({}, static_cast<int>(row), static_cast<int>(row));
    m_rows.insert(row, std::move(item));
    endInsertRows();
    return static_cast<int>(row);
}

void ReviewModel::clear() {
    if (m_rows.isEmpty() && m_accounts.isEmpty())
        return;
    beginResetModel();
    m_rows.clear();
    m_accounts.clear();
    if (m_sortColumn >= columnCount())
        m_sortColumn = -1;
    endResetModel();
}

QString ReviewModel::accountName(int row) const {
    return row >= 0 && row < m_rows.size() ? accountOf(m_rows.at(row)) : QString();
}

QString ReviewModel::accountOf(const ReviewItem& item) const {
    return item.account >= 0 && item.account < m_accounts.size() ? m_accounts.at(item.account) : QString();
}

void ReviewModel::setKeep(int row, bool keep) {
    if (row < 0 || row >= m_rows.size() || m_rows[row].keep == keep)
        return;
    m_rows[row].keep = keep;
    const QModelIndex cell = index(row, 0);
    Q_EMIT dataChanged(cell, cell, {Qt::CheckStateRole});
}

void ReviewModel::setAllKeep(bool keep) {
    if (m_rows.isEmpty())
        return;
    for (ReviewItem& row : m_rows)
        row.keep = keep;
    Q_EMIT dataChanged(index(0, 0), index(static_cast<int>(m_rows.size()) - 1, 0), {Qt::CheckStateRole});
}

int ReviewModel::firstUnticked() const {
    for (int row = 0; row < m_rows.size(); ++row)
        if (!m_rows.at(row).keep)
            return row;
    return -1;
}
