#include "accounts/accounteditor.h"

#include "accounts/accountfields.h"
#include "check/certificatedialog.h"
#include "common/messagebox.h"
#include "common/storeerrorbox.h"
#include "help/helplauncher.h"
#include "pop3/pop3types.h"
#include "store/accountstore.h"
#include "store/extrasettings.h"
#include "ui_accounteditor.h"

#include <QKeyEvent>
#include <QPushButton>
#include <QTreeWidget>

AccountEditor::AccountEditor(AppState& state, int recordNumber, QTreeWidget* list, QPushButton* editButton,
                             QPushButton* deleteButton, QWidget* parent)
    : QDialog(parent), m_state(state), m_recordNumber(recordNumber), m_list(list), m_editButton(editButton),
      m_deleteButton(deleteButton), m_tester(state.Settings), m_ui(std::make_unique<Ui::AccountEditor>()) {
    m_tester.setProgramFolder(state.ProgramFolder);
    m_ui->setupUi(this);
    accounts::SetUpEntry(m_ui->txtAccount, accounts::kAccountNameBytes);
    for (QLineEdit* box : {m_ui->txtLogin, m_ui->txtPassword, m_ui->txtServer})
        accounts::SetUpEntry(box, accounts::kFieldBytes);
    m_ui->txtPassword->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    for (QLineEdit* box : {m_ui->txtAccount, m_ui->txtLogin, m_ui->txtPassword, m_ui->txtServer})
        connect(box, &QLineEdit::textChanged, this, &AccountEditor::updateOkButton);
    for (QPushButton* button : {m_ui->cmdCancel, m_ui->cmdHelp})
        button->setAutoDefault(false);

    connect(m_ui->cmdOK, &QPushButton::clicked, this, &AccountEditor::onOk);
    connect(m_ui->cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_ui->cmdHelp, &QPushButton::clicked, this,
            [this] { help::ShowTopic(m_state.ProgramFolder, 6, this); });
    connect(m_ui->cmdTest, &QPushButton::clicked, this, &AccountEditor::onTest);
    connect(m_ui->cmdTestCancel, &QPushButton::clicked, this, [this] { m_tester.Cancel(); });
    connect(&m_tester, &AccountTester::finished, this, &AccountEditor::onTestFinished);
    // The arrow over the one control that works while the rest of the dialog is busy.
    m_ui->cmdTestCancel->setCursor(Qt::ArrowCursor);
    setTesting(false);
    setMinimumWidth(480);

    m_ui->cmdOK->setEnabled(false);
    if (m_recordNumber != 0) {
        try {
            m_state.CurrentAccount = AccountStore(m_state.ProgramFolder).ReadAccount(m_recordNumber);
            const AccountRecord& record = m_state.CurrentAccount;
            m_ui->txtAccount->setText(accounts::Trimmed(record.AccountName));
            m_ui->txtLogin->setText(accounts::Trimmed(record.LoginName));
            m_ui->txtPassword->setText(accounts::Trimmed(record.LoginPassword));
            m_ui->txtServer->setText(accounts::Trimmed(record.ServerAddress));
        } catch (const StoreError& error) {
            // Saving over a record that could not be read would lose its statistics.
            m_unreadable = true;
            ui::ShowStoreError(this, tr("Accounts"), tr("The account could not be read."), error);
        }
    }
    updateOkButton();
    m_ui->txtAccount->setFocus();
}

AccountEditor::~AccountEditor() = default;

void AccountEditor::done(int result) {
    // Escape or the close box during a test stops the test; a second one closes.
    if (m_tester.isRunning()) {
        m_tester.Cancel();
        return;
    }
    QDialog::done(result);
}

void AccountEditor::keyPressEvent(QKeyEvent* event) {
    // Enter must not save while a test runs; Escape stops the test (done() above).
    if (m_tester.isRunning() && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void AccountEditor::updateOkButton() {
    bool filled = true;
    for (const QLineEdit* box : {m_ui->txtAccount, m_ui->txtLogin, m_ui->txtPassword, m_ui->txtServer})
        filled = filled && !accounts::IsBlank(box->text());
    m_ui->cmdOK->setEnabled(filled && !m_unreadable);
    m_ui->cmdTest->setEnabled(!accounts::IsBlank(m_ui->txtLogin->text()) &&
                              !accounts::IsBlank(m_ui->txtPassword->text()) &&
                              !accounts::IsBlank(m_ui->txtServer->text()));
}

bool AccountEditor::isDuplicateName(const QString& name) const {
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* row = m_list->topLevelItem(i);
        if (accounts::Trimmed(row->text(0)).compare(name, Qt::CaseInsensitive) != 0)
            continue;
        if (m_recordNumber == 0 || accounts::RecordNumberOf(row) != m_recordNumber)
            return true;
    }
    return false;
}

void AccountEditor::onOk() {
    const QString name = accounts::Trimmed(m_ui->txtAccount->text());
    if (isDuplicateName(name)) {
        ui::ShowMessage({this, ui::MessageIcon::Warning, tr("Duplicate Name"),
                         tr("The name you have chosen for this account is already in use.") +
                             QStringLiteral("\r\n\r\n") + tr("Please choose another name for this account."),
                         QMessageBox::Ok, QMessageBox::Ok});
        m_ui->txtAccount->setFocus();
        return;
    }
    if (save())
        accept();
}

bool AccountEditor::save() {
    // An edited record keeps its Last Checked text and counters; only the entries change.
    AccountRecord record = m_recordNumber != 0 ? m_state.CurrentAccount : AccountRecord{};
    record.AccountName = accounts::Trimmed(m_ui->txtAccount->text());
    record.LoginName = accounts::Trimmed(m_ui->txtLogin->text());
    record.LoginPassword = accounts::Trimmed(m_ui->txtPassword->text());
    record.ServerAddress = accounts::Trimmed(m_ui->txtServer->text());
    if (m_recordNumber == 0) {
        record.LastChecked = QStringLiteral("N/A");
        record.TotalMessages = 0;
        record.DeletedMessages = 0;
    }

    // The file first: the list must not show what could not be stored.
    int recordNumber = m_recordNumber;
    try {
        const AccountStore store(m_state.ProgramFolder);
        if (recordNumber != 0)
            store.WriteAccount(recordNumber, record);
        else
            recordNumber = store.AppendAccount(record);
    } catch (const StoreError& error) {
        ui::ShowStoreError(this, tr("Accounts"), tr("The account could not be saved."), error);
        return false;
    }
    // What the program keeps of the account beyond Acc.dat follows its name.
    if (m_recordNumber != 0)
        ExtraSettings(m_state.ProgramFolder)
            .renameAccount(accounts::Trimmed(m_state.CurrentAccount.AccountName), record.AccountName);
    m_state.CurrentAccount = record;

    if (m_recordNumber != 0) {
        for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
            QTreeWidgetItem* row = m_list->topLevelItem(i);
            if (accounts::RecordNumberOf(row) == m_recordNumber)
                row->setText(0, record.AccountName);
        }
        return true;
    }
    accounts::AddAccountRow(m_list, record, recordNumber);
    m_editButton->setEnabled(true);
    if (m_list->topLevelItemCount() >= 2)
        m_deleteButton->setEnabled(true);
    return true;
}

void AccountEditor::setTesting(bool testing) {
    m_ui->prgTest->setVisible(testing);
    m_ui->lblTest->setVisible(testing);
    m_ui->cmdTestCancel->setVisible(testing);
    m_ui->cmdTest->setVisible(!testing);
    for (QWidget* control : {static_cast<QWidget*>(m_ui->txtAccount), static_cast<QWidget*>(m_ui->txtLogin),
                             static_cast<QWidget*>(m_ui->txtPassword), static_cast<QWidget*>(m_ui->txtServer),
                             static_cast<QWidget*>(m_ui->cmdOK), static_cast<QWidget*>(m_ui->cmdCancel),
                             static_cast<QWidget*>(m_ui->cmdHelp)})
        control->setEnabled(!testing);
    if (testing) {
        setCursor(Qt::BusyCursor);
        m_ui->cmdTestCancel->setFocus();
    } else {
        unsetCursor();
        updateOkButton();
    }
}

void AccountEditor::onTest() {
    if (m_tester.isRunning())
        return;
    setTesting(true);
    m_tester.Start(accounts::Trimmed(m_ui->txtLogin->text()), accounts::Trimmed(m_ui->txtPassword->text()),
                   accounts::Trimmed(m_ui->txtServer->text()));
}

void AccountEditor::onTestFinished(const AccountTester::Result& result) {
    setTesting(false);
    m_ui->cmdTest->setFocus();
    reportTestResult(result);
}

void AccountEditor::reportTestResult(const AccountTester::Result& result) {
    if (result.cancelled)
        return;
    if (result.code == pop3::Result::CertificateInvalid) {
        reportCertificateProblem(result);
        return;
    }
    const bool ok = result.code == pop3::Result::Ok;
    ui::ShowMessage({this, ok ? ui::MessageIcon::Information : ui::MessageIcon::Warning, tr("Account Test"),
                     result.text, QMessageBox::Ok, QMessageBox::Ok});
}

void AccountEditor::reportCertificateProblem(const AccountTester::Result& result) {
    // Trusted just now: test again, with the exception in force.
    if (HandleCertificateProblem(this, m_state.ProgramFolder, tr("Could not connect to the server."),
                                 result.tlsProblem))
        onTest();
}
