#pragma once

#include "common/appstate.h"

#include <QIcon>
#include <QList>
#include <QString>
#include <QValidator>

class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

// What the account dialogs share: entry limits, the account list, store errors.
namespace accounts {

// Widths in bytes of the stored fields behind the four entries.
constexpr int kAccountNameBytes = 20;
constexpr int kFieldBytes = 75; // login name, password, server address

// Refuses any edit after which the text would not fit in its record field as
// UTF-8, so nothing typed is ever cut when it is stored.
class FieldBytesValidator : public QValidator {
    Q_OBJECT
public:
    FieldBytesValidator(int bytes, QObject* parent);
    State validate(QString& input, int& pos) const override;
    int bytes() const { return m_bytes; }

private:
    int m_bytes;
};

// Blank: empty or only blanks (the stores trim blanks and nothing else).
bool IsBlank(const QString& text);
QString Trimmed(const QString& text);

// Limits the entry to the field's width and selects its whole text whenever it
// receives the focus (also by a mouse click).
void SetUpEntry(QLineEdit* entry, int bytes);

QIcon AccountIcon();
// Columns "Name" and "Last Checked", no tree decoration, one row selected at a time.
void SetUpAccountList(QTreeWidget* list);
// One row: trimmed name, trimmed Last Checked, the record number as the tag.
QTreeWidgetItem* AddAccountRow(QTreeWidget* list, const AccountRecord& record, int recordNumber);
int RecordNumberOf(const QTreeWidgetItem* row);
// Rebuilds the list from Acc.dat in record order; the last record read stays in
// CurrentAccount. A store failure is shown (under parent) and leaves the rows
// read so far.
void FillAccountList(QTreeWidget* list, AppState& state, QWidget* parent);

} // namespace accounts
