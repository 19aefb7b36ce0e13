#include "accounts/accounteditor.h"

#include "accounts/accountfields.h"
#include "accounts/signinpanel.h"
#include "check/certificatedialog.h"
#include "common/messagebox.h"
#include "common/storeerrorbox.h"
#include "help/helplauncher.h"
#include "pop3/pop3types.h"
#include "signin/secretstore.h"
#include "store/accountstore.h"
#include "store/extrasettings.h"
#include "ui_accounteditor.h"
#include "watch/core/watchengine.h"

#include <QCheckBox>
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
    setUpSignIn();
    setTesting(false);
    setMinimumWidth(480);

    m_ui->cmdOK->setEnabled(false);
    if (m_recordNumber != 0) {
        try {
            m_state.CurrentAccount = AccountStore(m_state.ProgramFolder).ReadAccount(m_recordNumber);
            const AccountRecord& record = m_state.CurrentAccount;
            m_ui->txtAccount->setText(accounts::Trimmed(record.AccountName));
            m_ui->txtLogin->setText(accounts::Trimmed(record.LoginName));
            m_ui->txtServer->setText(accounts::Trimmed(record.ServerAddress));
            loadSignIn(record);
            m_watchAccount->setChecked(watch::WatchSettings::AccountWatched(
                m_state.ProgramFolder, accounts::Trimmed(record.AccountName)));
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

// The sign-in group goes below the details, its controls between Test and OK.
void AccountEditor::setUpSignIn() {
    m_signIn = new SignInPanel(this);
    m_ui->layoutMain->insertWidget(1, m_signIn);
    QWidget* previous = m_ui->cmdTest;
    for (QWidget* control : m_signIn->focusChain()) {
        setTabOrder(previous, control);
        previous = control;
    }
    // Whether the watch looks at this account; it lives beside the sign-in, not in Acc.dat.
    m_watchAccount = new QCheckBox(tr("Include in &background checks"), this);
    m_watchAccount->setObjectName(QStringLiteral("chkWatchAccount"));
    m_watchAccount->setAccessibleDescription(
        tr("Tidemarsh looks at this account on its own and tells you what arrived"));
    m_watchAccount->setChecked(true);
    m_ui->layoutMain->insertWidget(2, m_watchAccount);
    setTabOrder(previous, m_watchAccount);
    setTabOrder(m_watchAccount, m_ui->cmdOK);
    m_signIn->setNewAccount();
    connect(m_signIn, &SignInPanel::changed, this, [this] {
        updatePasswordBox();
        updateOkButton();
    });
    updatePasswordBox();
}

// A password kept in the keyring is not read to open the editor: the box stays
// empty, and stays so unless the user types a new one.
void AccountEditor::loadSignIn(const AccountRecord& record) {
    const signin::Config config =
        signin::Config::Load(ExtraSettings(m_state.ProgramFolder), accounts::Trimmed(record.AccountName));
    m_signIn->setConfig(config);
    m_savedSecretId = config.secretId;
    const QString stored = accounts::Trimmed(record.LoginPassword);
    m_passwordKept = signin::IsPasswordMarker(stored);
    if (!m_passwordKept)
        m_ui->txtPassword->setText(stored);
    updatePasswordBox();
}

void AccountEditor::updatePasswordBox() {
    const bool password = m_signIn->method() == signin::Method::Password;
    m_ui->txtPassword->setEnabled(password && !m_tester.isRunning());
    m_ui->Label3->setEnabled(password);
    QString placeholder;
    if (!password)
        placeholder = tr("not needed for this sign-in");
    else if (m_passwordKept && m_signIn->config().keepInKeyring)
        placeholder = tr("kept; type to change it");
    m_ui->txtPassword->setPlaceholderText(placeholder);
}

bool AccountEditor::passwordGiven() const {
    if (m_signIn->method() != signin::Method::Password)
        return true;
    return !accounts::IsBlank(m_ui->txtPassword->text()) ||
           (m_passwordKept && m_signIn->config().keepInKeyring);
}

std::optional<QString> AccountEditor::typedPassword() const {
    if (m_signIn->method() != signin::Method::Password || accounts::IsBlank(m_ui->txtPassword->text()))
        return std::nullopt;
    return accounts::Trimmed(m_ui->txtPassword->text());
}

void AccountEditor::done(int result) {
    // Escape or the close box during a test stops the test; a second one closes.
    if (m_tester.isRunning()) {
        m_tester.Cancel();
        return;
    }
    if (m_saving)
        return;
    // A Test of an account never saved may have signed in: nothing of it stays.
    if (result != Accepted && !m_testedSecretId.isEmpty() && m_testedSecretId != m_savedSecretId)
        accounts::RemoveSecrets(m_state.ProgramFolder, m_testedSecretId);
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

// The password box counts only for a password sign-in; the other ways need
// their own entries (a client ID, a command) instead.
void AccountEditor::updateOkButton() {
    if (!m_signIn)
        return;
    const bool loginReady = !accounts::IsBlank(m_ui->txtLogin->text()) && passwordGiven() &&
                            m_signIn->isComplete() && !accounts::IsBlank(m_ui->txtServer->text());
    m_ui->cmdOK->setEnabled(loginReady && !accounts::IsBlank(m_ui->txtAccount->text()) && !m_unreadable);
    m_ui->cmdTest->setEnabled(loginReady);
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
    startSave();
}

// Secrets first (the keyring answers later), then Acc.dat and Tidemarsh.ini.
void AccountEditor::startSave() {
    const signin::Config config = m_signIn->config();
    const std::optional<QString> password = typedPassword();
    m_saving = true;
    setEnabled(false);
    accounts::SaveSecrets(
        m_state.ProgramFolder, config, password, m_signIn->typedClientSecret(), this,
        [this, config, password](const QString& failure) {
            m_saving = false;
            setEnabled(true);
            if (!failure.isEmpty()) {
                ui::ShowMessage({this, ui::MessageIcon::Warning, tr("Accounts"),
                                 tr("The account could not be saved.") + QStringLiteral("\r\n\r\n") + failure,
                                 QMessageBox::Ok, QMessageBox::Ok});
                return;
            }
            if (save(config, password))
                accept();
        });
}

bool AccountEditor::save(const signin::Config& config, const std::optional<QString>& password) {
    // An edited record keeps its Last Checked text and counters; only the entries change.
    AccountRecord record = m_recordNumber != 0 ? m_state.CurrentAccount : AccountRecord{};
    const QString keptPassword = accounts::Trimmed(record.LoginPassword);
    record.AccountName = accounts::Trimmed(m_ui->txtAccount->text());
    record.LoginName = accounts::Trimmed(m_ui->txtLogin->text());
    // No secret in Acc.dat when it is kept elsewhere: a marker says where.
    record.LoginPassword = accounts::StoredPassword(config, password.value_or(keptPassword));
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
    const ExtraSettings extra(m_state.ProgramFolder);
    if (m_recordNumber != 0)
        extra.renameAccount(accounts::Trimmed(m_state.CurrentAccount.AccountName), record.AccountName);
    config.save(extra, record.AccountName);
    watch::WatchSettings::SetAccountWatched(m_state.ProgramFolder, record.AccountName,
                                            m_watchAccount->isChecked());
    m_savedSecretId = config.secretId;
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
    m_signIn->setEnabled(!testing);
    if (testing) {
        setCursor(Qt::BusyCursor);
        m_ui->cmdTestCancel->setFocus();
    } else {
        unsetCursor();
        updatePasswordBox();
        updateOkButton();
    }
}

void AccountEditor::onTest() {
    if (m_tester.isRunning())
        return;
    AccountTester::Entries entries;
    entries.account = accounts::Trimmed(m_ui->txtAccount->text());
    entries.login = accounts::Trimmed(m_ui->txtLogin->text());
    entries.password = typedPassword();
    entries.server = accounts::Trimmed(m_ui->txtServer->text());
    entries.signIn = m_signIn->config();
    m_testedSecretId = entries.signIn.secretId;
    setTesting(true);
    m_tester.setQuestionParent(this);
    m_tester.Start(entries);
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
