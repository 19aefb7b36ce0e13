#pragma once

#include "common/appstate.h"

#include <QDialog>
#include <memory>

class QLineEdit;
class SignInPanel;
namespace Ui {
class WizardDialog;
}

// frmWiz, the New Account Wizard: the first account, one entry per page. Finish
// writes record 1 and sets AccountCount to 1; a confirmed Cancel sets it to 0;
// any other close (Escape, the window manager) writes nothing and asks nothing.
class WizardDialog : public QDialog {
    Q_OBJECT
public:
    WizardDialog(AppState& state, QWidget* parent);
    ~WizardDialog() override;

    int page() const; // 1 to 4

private:
    void onNext();
    void onPrevious();
    void onCancel();
    void finish();
    // Shows page (1..4), focuses its entry and sets the buttons for it.
    void showPage(int page);
    QLineEdit* entry(int page) const;
    bool pageComplete(int page) const;
    void updateNext();
    void writeAccount();

    AppState& m_state;
    SignInPanel* m_signIn = nullptr; // on the last page, below the server address
    bool m_saving = false;
    std::unique_ptr<Ui::WizardDialog> m_ui;
};
