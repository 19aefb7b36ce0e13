#pragma once

#include <QAbstractListModel>
#include <QIcon>
#include <QList>
#include <QPair>
#include <QString>

// The rows of frmFriends' list: one per record of Friends.dat, in record order,
// each with its record number as the tag. A plain model rather than one widget
// item per row, so a full store of 32,767 addresses opens and refills at once.
class FriendsModel : public QAbstractListModel {
    Q_OBJECT
public:
    static constexpr int RecordNumberRole = Qt::UserRole;

    explicit FriendsModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // (record number, address) pairs as FriendsStore::ReadAll gives them.
    void setRows(const QList<QPair<int, QString>>& rows);
    void appendRow(int recordNumber, const QString& address);
    void setAddress(int row, const QString& address);
    QString address(int row) const;
    int recordNumber(int row) const;

private:
    QList<QPair<int, QString>> m_rows;
    QIcon m_icon;
};
