#pragma once

#include "accounts/accounttester.h"
#include "common/appstate.h"

#include <QDialog>
#include <memory>
#include <optional>

class QCheckBox;
class QPushButton;
class QTreeWidget;
class SignInPanel;
namespace Ui {
class AccountEditor;
}

// frmEdit, "Account Details": a new account (record number 0) or changes to
// the record its caller names. OK writes Acc.dat and brings the setup dialog's list and its Edit and
// Delete buttons up to date; Cancel and the close box change nothing. Test logs
// in with the entries as typed and stores nothing.
class AccountEditor : public QDialog {
    Q_OBJECT
public:
    AccountEditor(AppState& state, int recordNumber, QTreeWidget* list, QPushButton* editButton,
                  QPushButton* deleteButton, QWidget* parent);
    ~AccountEditor() override;

    void done(int result) override;
    AccountTester& tester() { return m_tester; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void updateOkButton();
    void onOk();
    bool isDuplicateName(const QString& name) const;
    bool passwordGiven() const;
    std::optional<QString> typedPassword() const;
    void setUpSignIn();
    void loadSignIn(const AccountRecord& record);
    void updatePasswordBox();
    void startSave();
    bool save(const signin::Config& config, const std::optional<QString>& password);
    void onTest();
    void onTestFinished(const AccountTester::Result& result);
    void setTesting(bool testing);
    void reportTestResult(const AccountTester::Result& result);
    // Code 14: the server's certificate could not be verified.
    void reportCertificateProblem(const AccountTester::Result& result);

    AppState& m_state;
    const int m_recordNumber; // 0 for a new account
    QTreeWidget* m_list;
    QPushButton* m_editButton;
    QPushButton* m_deleteButton;
    AccountTester m_tester;
    bool m_unreadable = false;
    SignInPanel* m_signIn = nullptr;
    QCheckBox* m_watchAccount = nullptr;
    bool m_passwordKept = false; // the password is in the keyring: an empty box leaves it there
    bool m_saving = false;
    QString m_savedSecretId;  // the account's secrets as Tidemarsh.ini names them
    QString m_testedSecretId; // where a Test's sign-in may have left tokens
    std::unique_ptr<Ui::AccountEditor> m_ui;
};
