#pragma once

#include "common/appstate.h"

#include <QDialog>
#include <memory>

class QTreeWidget;
namespace Ui {
class AccountsSetupDialog;
}

// frmAccounts, "Accounts Setup": every account, with New, Edit and Delete. The
// list mirrors Acc.dat (the record number is each row's tag); however the dialog
// closes, AccountCount becomes the number of rows. Enter on the list edits the
// selected row, as a double click does; elsewhere it is Close.
class AccountsSetupDialog : public QDialog {
    Q_OBJECT
public:
    AccountsSetupDialog(AppState& state, QWidget* parent);
    ~AccountsSetupDialog() override;

    void done(int result) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void onNew();
    void onEdit();
    void onDelete();
    void openEditor(int recordNumber);
    void rebuildList();
    // Delete needs two or more rows; Edit one or more, and then the first row is selected.
    void applyButtonRule();

    AppState& m_state;
    std::unique_ptr<Ui::AccountsSetupDialog> m_ui;
};
