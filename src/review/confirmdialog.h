#pragma once

#include <QDialog>
#include <memory>

struct AppState;
namespace Ui {
class ConfirmDialog;
}

// frmConfirm: asks before the unticked messages are deleted. Only OK goes
// ahead (exec() returns Accepted); Cancel, Escape and the close box all cancel. Whichever way it closes,
// "Do not show this again" is stored in DeletePromptOff.
class ConfirmDialog : public QDialog {
    Q_OBJECT
public:
    ConfirmDialog(AppState& state, QWidget* parent);
    ~ConfirmDialog() override;

    void done(int result) override;

private:
    AppState& m_state;
    std::unique_ptr<Ui::ConfirmDialog> m_ui;
};
