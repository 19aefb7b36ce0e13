#pragma once

#include "store/appstate.h"

#include <QDialog>
#include <memory>

namespace Ui {
class ChooseDialog;
}

// frmChoose, "Select Account": which account Check Mail checks. OK, Enter, a
// double click and any close other than Cancel choose the selected account
// (ChooseAccepted true, the record read into CurrentAccount); Cancel and
// Escape set ChooseAccepted false.
class ChooseDialog : public QDialog {
    Q_OBJECT
public:
    ChooseDialog(AppState& state, QWidget* parent);
    ~ChooseDialog() override;

    void done(int result) override;

    // Runs the dialog; true when an account was chosen into CurrentAccount.
    static bool ChooseAccount(AppState& state, QWidget* parent);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    AppState& m_state;
    std::unique_ptr<Ui::ChooseDialog> m_ui;
};
