#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class AccountDoneDialog;
}

// frmAccountDone, "Account Creation": the notice after the wizard made the first account.
class AccountDoneDialog : public QDialog {
    Q_OBJECT
public:
    explicit AccountDoneDialog(QWidget* parent);
    ~AccountDoneDialog() override;

private:
    std::unique_ptr<Ui::AccountDoneDialog> m_ui;
};
