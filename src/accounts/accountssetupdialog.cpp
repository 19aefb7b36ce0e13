#include "accounts/accountssetupdialog.h"

#include "accounts/accounteditor.h"
#include "accounts/accountfields.h"
#include "accounts/signinpanel.h"
#include "common/accessibility.h"
#include "common/messagebox.h"
#include "common/storeerrorbox.h"
#include "store/accountstore.h"
#include "store/extrasettings.h"
#include "ui_accountssetupdialog.h"

#include <QApplication>
#include <QEvent>
#include <QPushButton>

AccountsSetupDialog::AccountsSetupDialog(AppState& state, QWidget* parent)
    : QDialog(parent), m_state(state), m_ui(std::make_unique<Ui::AccountsSetupDialog>()) {
    m_ui->setupUi(this);
    accounts::SetUpAccountList(m_ui->ListView1);
    m_ui->ListView1->viewport()->installEventFilter(this);
    ui::EnterActsOnRow(m_ui->ListView1, [this] { onEdit(); });
    for (QPushButton* button : {m_ui->cmdNew, m_ui->cmdEdit, m_ui->cmdDelete})
        button->setAutoDefault(false);
    connect(m_ui->cmdNew, &QPushButton::clicked, this, &AccountsSetupDialog::onNew);
    connect(m_ui->cmdEdit, &QPushButton::clicked, this, &AccountsSetupDialog::onEdit);
    connect(m_ui->cmdDelete, &QPushButton::clicked, this, &AccountsSetupDialog::onDelete);
    connect(m_ui->cmdClose, &QPushButton::clicked, this, &QDialog::accept);
    resize(520, 300);

    rebuildList();
    applyButtonRule();
    m_ui->cmdClose->setFocus();
}

AccountsSetupDialog::~AccountsSetupDialog() = default;

void AccountsSetupDialog::done(int result) {
    m_state.AccountCount = m_ui->ListView1->topLevelItemCount();
    QDialog::done(result);
}

bool AccountsSetupDialog::eventFilter(QObject* watched, QEvent* event) {
    // A double click anywhere on the list edits the selected row, if there is one.
    if (watched == m_ui->ListView1->viewport() && event->type() == QEvent::MouseButtonDblClick &&
        m_ui->ListView1->topLevelItemCount() > 0) {
        // After the view has handled the click, so the row under the pointer is selected.
        QMetaObject::invokeMethod(this, &AccountsSetupDialog::onEdit, Qt::QueuedConnection);
    }
    return QDialog::eventFilter(watched, event);
}

void AccountsSetupDialog::onNew() {
    openEditor(0);
}

void AccountsSetupDialog::onEdit() {
    const QList<QTreeWidgetItem*> selected = m_ui->ListView1->selectedItems();
    if (m_ui->ListView1->topLevelItemCount() == 0 || selected.isEmpty())
        return;
    openEditor(accounts::RecordNumberOf(selected.first()));
}

void AccountsSetupDialog::openEditor(int recordNumber) {
    AccountEditor editor(m_state, recordNumber, m_ui->ListView1, m_ui->cmdEdit, m_ui->cmdDelete, this);
    editor.exec();
}

void AccountsSetupDialog::onDelete() {
    const QList<QTreeWidgetItem*> selected = m_ui->ListView1->selectedItems();
    if (selected.isEmpty())
        return;
    const QTreeWidgetItem* row = selected.first();
    const auto answer =
        ui::ShowMessage({this, ui::MessageIcon::Question, tr("Delete Account"),
                         tr("Delete the ") + accounts::Trimmed(row->text(0)) + tr(" account?"),
                         QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok});
    if (answer != QMessageBox::Ok)
        return;

    QApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        const ExtraSettings extra(m_state.ProgramFolder);
        const QString name = accounts::Trimmed(row->text(0));
        const QString secretId = signin::Config::Load(extra, name).secretId;
        AccountStore(m_state.ProgramFolder).DeleteAccount(accounts::RecordNumberOf(row));
        extra.removeAccount(name);
        // Its password or tokens must not outlive the account.
        accounts::RemoveSecrets(m_state.ProgramFolder, secretId);
    } catch (const StoreError& error) {
        QApplication::restoreOverrideCursor();
        // The rewrite replaces the file in one step: on failure it is as it was.
        ui::ShowStoreError(this, tr("Accounts"), tr("The account could not be deleted."), error);
        QApplication::setOverrideCursor(Qt::WaitCursor);
    }
    rebuildList();
    applyButtonRule();
    QApplication::restoreOverrideCursor();
}

void AccountsSetupDialog::rebuildList() {
    accounts::FillAccountList(m_ui->ListView1, m_state, this);
}

void AccountsSetupDialog::applyButtonRule() {
    const int rows = m_ui->ListView1->topLevelItemCount();
    m_ui->cmdDelete->setEnabled(rows >= 2);
    m_ui->cmdEdit->setEnabled(rows >= 1);
    if (rows >= 1) {
        QTreeWidgetItem* first = m_ui->ListView1->topLevelItem(0);
        m_ui->ListView1->setCurrentItem(first);
        first->setSelected(true);
    }
}
