#include "accounts/clearaccountsdetails.h"

#include "common/messagebox.h"
#include "common/storeerrorbox.h"
#include "store/accountstore.h"
#include "store/storeerror.h"

#include <QApplication>
#include <QScopeGuard>

#include <optional>

void ClearAccountsDetails(QWidget* owner, AppState& state) {
    const QString title = QStringLiteral("Clear Accounts Details");
    const auto answer = ui::ShowMessage(
        {owner, ui::MessageIcon::Question, title,
         QStringLiteral("This will clear the total message count, deleted message count and the last check "
                        "status for all accounts.\r\n\r\nClear all accounts details?"),
         QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok});
    if (answer != QMessageBox::Ok)
        return;

    std::optional<StoreError> problem;
    {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        const auto restore = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
        const AccountStore store(state.ProgramFolder);
        try {
            store.ResetStatistics();
        } catch (const StoreError& error) {
            problem = error;
        }
        // The reset has happened (or not) by now; failing to read it back only
        // leaves CurrentAccount as it was.
        try {
            if (const int count = store.CountAccounts(); !problem && count > 0)
                state.CurrentAccount = store.ReadAccount(count);
        } catch (const StoreError&) {
        }
    }

    if (problem) {
        ui::ShowStoreError(
            owner, title,
            QStringLiteral(
                "The account details in Acc.dat could not be reset; every account keeps what it had."),
            *problem);
        return;
    }
    ui::ShowMessage({owner, ui::MessageIcon::Information, QStringLiteral("Complete"),
                     QStringLiteral("All details for configured accounts have now been reset.")});
}
