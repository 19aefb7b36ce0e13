#pragma once

#include "common/appstate.h"

#include <QDialog>
#include <memory>
#include <optional>

namespace Ui {
class ChooseDialog;
}

// frmChoose, "Select Account": which account Check Mail checks. OK, Enter, a
// double click and any close other than Cancel choose the selected account,
// read from Acc.dat as the dialog closes; Cancel and Escape choose none.
class ChooseDialog : public QDialog {
    Q_OBJECT
public:
    ChooseDialog(AppState& state, QWidget* parent);
    ~ChooseDialog() override;

    void done(int result) override;
    // Once closed: the chosen account; nothing after Cancel, or when it could
    // not be read (that is reported as the dialog closes).
    const std::optional<AccountRecord>& chosenAccount() const { return m_chosen; }

    // Runs the dialog modally over parent and returns its choice.
    static std::optional<AccountRecord> choose(AppState& state, QWidget* parent);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    AppState& m_state;
    std::unique_ptr<Ui::ChooseDialog> m_ui;
    bool m_cancelled = false;
    std::optional<AccountRecord> m_chosen;
};
