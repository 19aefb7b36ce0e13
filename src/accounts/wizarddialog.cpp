#include "accounts/wizarddialog.h"

#include "accounts/accountfields.h"
#include "common/dialogimage.h"
#include "common/messagebox.h"
#include "common/storeerrorbox.h"
#include "help/helplauncher.h"
#include "store/accountstore.h"
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
    for (int n = 1; n <= kPages; ++n) {
        connect(entry(n), &QLineEdit::textChanged, this,
                [this](const QString& text) { m_ui->cmdNext->setEnabled(!accounts::IsBlank(text)); });
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

void WizardDialog::showPage(int page) {
    m_ui->SST1->setCurrentIndex(page - 1);
    m_ui->cmdPrevious->setEnabled(page > 1);
    m_ui->cmdNext->setText(page == kPages ? tr("&Finish") : tr("&Next >"));
    m_ui->cmdNext->setEnabled(!accounts::IsBlank(entry(page)->text()));
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

void WizardDialog::finish() {
    AccountRecord record;
    record.AccountName = accounts::Trimmed(m_ui->txtAccount->text());
    record.LoginName = accounts::Trimmed(m_ui->txtLogin->text());
    record.LoginPassword = accounts::Trimmed(m_ui->txtPassword->text());
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
    m_state.CurrentAccount = record;
    m_state.AccountCount = 1;
    accept();
}
