#include "friends/friendsmodel.h"

#include "common/commandicons.h"

FriendsModel::FriendsModel(QObject* parent)
    : QAbstractListModel(parent), m_icon(ui::CommandIcon(QStringLiteral("Friends2Small"))) {}

int FriendsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

QVariant FriendsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const auto& row = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return row.second;
    case Qt::DecorationRole:
        return m_icon;
    case RecordNumberRole:
        return row.first;
    default:
        return {};
    }
}

QVariant FriendsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (section == 0 && orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return tr("Address");
    return {};
}

void FriendsModel::setRows(const QList<QPair<int, QString>>& rows) {
    beginResetModel();
    m_rows = rows;
    endResetModel();
}

void FriendsModel::appendRow(int recordNumber, const QString& address) {
    const int row = static_cast<int>(m_rows.size());
    beginInsertRows({}, row, row);
    m_rows.append({recordNumber, address});
    endInsertRows();
}

void FriendsModel::setAddress(int row, const QString& address) {
    if (row < 0 || row >= m_rows.size())
        return;
    m_rows[row].second = address;
    const QModelIndex changed = index(row);
    Q_EMIT dataChanged(changed, changed, {Qt::DisplayRole, Qt::AccessibleTextRole});
}

QString FriendsModel::address(int row) const {
    return row >= 0 && row < m_rows.size() ? m_rows.at(row).second : QString();
}

int FriendsModel::recordNumber(int row) const {
    return row >= 0 && row < m_rows.size() ? m_rows.at(row).first : 0;
}
