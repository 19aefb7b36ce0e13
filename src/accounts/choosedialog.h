#pragma once

#include "common/appstate.h"

#include <QDialog>
#include <memory>
#include <optional>

class QTreeWidgetItem;
namespace Ui {
class ChooseDialog;
}

// frmChoose, "Select Account": which account Check Mail checks. OK, Enter, a
// double click and any close other than Cancel choose the selected account,
// read from Acc.dat as the dialog closes; Cancel and Escape choose none. With
// two or more accounts an "All accounts" row above them chooses Check All
// Accounts instead; the first account is still the one selected at the start.
class ChooseDialog : public QDialog {
    Q_OBJECT
public:
    ChooseDialog(AppState& state, QWidget* parent);
    ~ChooseDialog() override;

    void done(int result) override;
    // Once closed: the chosen account; nothing after Cancel, or when it could
    // not be read (that is reported as the dialog closes).
    const std::optional<AccountRecord>& chosenAccount() const { return m_chosen; }
    // Once closed: "All accounts" was chosen (chosenAccount() is then empty).
    bool allAccountsChosen() const { return m_allChosen; }
    // Selects the account of that name (a notification's Review asks for it).
    void selectAccount(const QString& name);

    // Runs the dialog modally over parent and returns its choice.
    static std::optional<AccountRecord> choose(AppState& state, QWidget* parent);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    AppState& m_state;
    std::unique_ptr<Ui::ChooseDialog> m_ui;
    void AddAllAccountsRow();

    bool m_cancelled = false;
    bool m_allChosen = false;
    QTreeWidgetItem* m_allRow = nullptr;
    std::optional<AccountRecord> m_chosen;
};
