#include "accounts/wizarddialog.h"

#include "accounts/accountfields.h"
#include "accounts/signinpanel.h"
#include "common/dialogimage.h"
#include "common/messagebox.h"
#include "common/storeerrorbox.h"
#include "help/helplauncher.h"
#include "store/accountstore.h"
#include "store/extrasettings.h"
#include "ui_wizarddialog.h"

#include <QPushButton>

namespace {
constexpr int kPages = 4;
} // namespace

WizardDialog::WizardDialog(AppState& state, QWidget* parent)
    : QDialog(parent), m_state(state), m_ui(std::make_unique<Ui::WizardDialog>()) {
    m_ui->setupUi(this);
    // A title bar without close, minimise or maximise boxes.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    ui::ShowProgramImage(m_ui->Image1, 96);

    accounts::SetUpEntry(m_ui->txtAccount, accounts::kAccountNameBytes);
    for (QLineEdit* box : {m_ui->txtLogin, m_ui->txtPassword, m_ui->txtServer})
        accounts::SetUpEntry(box, accounts::kFieldBytes);
    m_ui->txtPassword->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    m_signIn = new SignInPanel(this);
    m_signIn->setNewAccount();
    m_ui->layoutPage4->insertWidget(m_ui->layoutPage4->indexOf(m_ui->lblHint4) + 1, m_signIn);
    for (int n = 1; n <= kPages; ++n)
        connect(entry(n), &QLineEdit::textChanged, this, &WizardDialog::updateNext);
    connect(m_signIn, &SignInPanel::changed, this, &WizardDialog::updateNext);
    QWidget* previous = m_ui->txtServer;
    for (QWidget* control : m_signIn->focusChain()) {
        setTabOrder(previous, control);
        previous = control;
    }

    connect(m_ui->cmdNext, &QPushButton::clicked, this, &WizardDialog::onNext);
    connect(m_ui->cmdPrevious, &QPushButton::clicked, this, &WizardDialog::onPrevious);
    connect(m_ui->cmdCancel, &QPushButton::clicked, this, &WizardDialog::onCancel);
    connect(m_ui->cmdHelp, &QPushButton::clicked, this,
            [this] { help::ShowTopic(m_state.ProgramFolder, 5, this); });
    for (QPushButton* button : {m_ui->cmdPrevious, m_ui->cmdCancel, m_ui->cmdHelp})
        button->setAutoDefault(false);

    setMinimumWidth(560);
    m_ui->cmdPrevious->setEnabled(false);
    m_ui->cmdNext->setEnabled(false);
    m_ui->SST1->setCurrentIndex(0);
    m_ui->txtAccount->setFocus();
}

WizardDialog::~WizardDialog() = default;

int WizardDialog::page() const {
    return m_ui->SST1->currentIndex() + 1;
}

QLineEdit* WizardDialog::entry(int page) const {
    switch (page) {
    case 1:
        return m_ui->txtAccount;
    case 2:
        return m_ui->txtLogin;
    case 3:
        return m_ui->txtPassword;
    default:
        return m_ui->txtServer;
    }
}

// A page's entry must not be blank; the last page's sign-in must also have
// what it needs (a client ID, a command).
bool WizardDialog::pageComplete(int page) const {
    if (accounts::IsBlank(entry(page)->text()))
        return false;
    return page != kPages || m_signIn->isComplete();
}

void WizardDialog::updateNext() {
    m_ui->cmdNext->setEnabled(pageComplete(page()));
}

void WizardDialog::showPage(int page) {
    m_ui->SST1->setCurrentIndex(page - 1);
    m_ui->cmdPrevious->setEnabled(page > 1);
    m_ui->cmdNext->setText(page == kPages ? tr("&Finish") : tr("&Next >"));
    updateNext();
    entry(page)->setFocus();
}

void WizardDialog::onNext() {
    if (page() == kPages) {
        finish();
        return;
    }
    showPage(page() + 1);
}

void WizardDialog::onPrevious() {
    if (page() > 1)
        showPage(page() - 1);
}

void WizardDialog::onCancel() {
    const auto answer =
        ui::ShowMessage({this, ui::MessageIcon::Question, tr("Wizard"), tr("Cancel the New Account Wizard?"),
                         QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok});
    if (answer != QMessageBox::Ok)
        return;
    m_state.AccountCount = 0;
    reject();
}

// Secrets first (the keyring answers later), then record 1 and Tidemarsh.ini.
void WizardDialog::finish() {
    if (m_saving)
        return;
    m_saving = true;
    setEnabled(false);
    const std::optional<QString> password = accounts::Trimmed(m_ui->txtPassword->text());
    accounts::SaveSecrets(
        m_state.ProgramFolder, m_signIn->config(), password, m_signIn->typedClientSecret(), this,
        [this](const QString& failure) {
            m_saving = false;
            setEnabled(true);
            if (!failure.isEmpty()) {
                ui::ShowMessage({this, ui::MessageIcon::Warning, tr("Accounts"),
                                 tr("The account could not be saved.") + QStringLiteral("\r\n\r\n") + failure,
                                 QMessageBox::Ok, QMessageBox::Ok});
                return;
            }
            writeAccount();
        });
}

void WizardDialog::writeAccount() {
    const signin::Config config = m_signIn->config();
    AccountRecord record;
    record.AccountName = accounts::Trimmed(m_ui->txtAccount->text());
    record.LoginName = accounts::Trimmed(m_ui->txtLogin->text());
    // No secret in Acc.dat when it is kept elsewhere: a marker says where.
    record.LoginPassword = accounts::StoredPassword(config, accounts::Trimmed(m_ui->txtPassword->text()));
    record.ServerAddress = accounts::Trimmed(m_ui->txtServer->text());
    record.LastChecked = QStringLiteral("N/A");
    record.TotalMessages = 0;
    record.DeletedMessages = 0;
    try {
        AccountStore(m_state.ProgramFolder).WriteAccount(1, record);
    } catch (const StoreError& error) {
        // Everything typed stays: the user may free the file and press Finish again.
        ui::ShowStoreError(this, tr("Accounts"), tr("The account could not be saved."), error);
        return;
    }
    config.save(ExtraSettings(m_state.ProgramFolder), record.AccountName);
    m_state.CurrentAccount = record;
    m_state.AccountCount = 1;
    accept();
}
