#include "accounts/choosedialog.h"

#include "accounts/accountfields.h"
#include "common/accessibility.h"
#include "common/commandicons.h"
#include "common/messagebox.h"
#include "common/storeerrorbox.h"
#include "store/accountstore.h"
#include "ui_choosedialog.h"

#include <QEvent>
#include <QKeyEvent>
#include <QPushButton>
#include <QTreeWidget>

ChooseDialog::ChooseDialog(AppState& state, QWidget* parent)
    : QDialog(parent), m_state(state), m_ui(std::make_unique<Ui::ChooseDialog>()) {
    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    accounts::SetUpAccountList(m_ui->ListView1);
    m_ui->cmdCancel->setAutoDefault(false);
    connect(m_ui->cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_ui->cmdCancel, &QPushButton::clicked, this, [this] {
        m_cancelled = true;
        reject();
    });
    m_ui->ListView1->viewport()->installEventFilter(this);
    ui::EnterActsOnRow(m_ui->ListView1, [this] { accept(); });
    resize(440, 280);

    accounts::FillAccountList(m_ui->ListView1, m_state, this);
    AddAllAccountsRow();
    if (QTreeWidgetItem* first = m_ui->ListView1->topLevelItem(m_allRow ? 1 : 0)) {
        m_ui->ListView1->setCurrentItem(first);
        first->setSelected(true);
    }
    m_ui->cmdOK->setFocus();
}

ChooseDialog::~ChooseDialog() = default;

void ChooseDialog::selectAccount(const QString& name) {
    QTreeWidget* list = m_ui->ListView1;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = list->topLevelItem(i);
        if (row != m_allRow && row->text(0) == name) {
            list->setCurrentItem(row);
            return;
        }
    }
}

void ChooseDialog::AddAllAccountsRow() {
    QTreeWidget* list = m_ui->ListView1;
    if (list->topLevelItemCount() < 2)
        return;
    m_allRow = new QTreeWidgetItem;
    m_allRow->setText(0, tr("All accounts"));
    m_allRow->setIcon(0, ui::CommandIcon(QStringLiteral("CheckAllAccounts")));
    m_allRow->setData(0, Qt::UserRole, 0); // no record
    m_allRow->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    list->insertTopLevelItem(0, m_allRow);
}

bool ChooseDialog::eventFilter(QObject* watched, QEvent* event) {
    // A double click on the list chooses, once the view has selected the row under it.
    if (watched == m_ui->ListView1->viewport() && event->type() == QEvent::MouseButtonDblClick &&
        m_ui->ListView1->topLevelItemCount() > 0)
        QMetaObject::invokeMethod(this, &QDialog::accept, Qt::QueuedConnection);
    return QDialog::eventFilter(watched, event);
}

void ChooseDialog::keyPressEvent(QKeyEvent* event) {
    // Escape is the keyboard's Cancel; only a close by the window counts as OK.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        m_ui->cmdCancel->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void ChooseDialog::done(int result) {
    if (!m_cancelled) {
        const QList<QTreeWidgetItem*> selected = m_ui->ListView1->selectedItems();
        const QTreeWidgetItem* row = selected.isEmpty() ? m_ui->ListView1->currentItem() : selected.first();
        // Checking some other account instead would be worse than checking none.
        const QString action = tr("The chosen account could not be read.");
        if (row && row == m_allRow) {
            m_allChosen = true;
        } else if (!row) {
            ui::ShowMessage({this, ui::MessageIcon::Warning, tr("Accounts"),
                             action + QStringLiteral("\r\n\r\n") + tr("No account is selected.")});
        } else {
            try {
                m_chosen = AccountStore(m_state.ProgramFolder).ReadAccount(accounts::RecordNumberOf(row));
            } catch (const StoreError& error) {
                ui::ShowStoreError(this, tr("Accounts"), action, error);
            }
        }
    }
    QDialog::done(result);
}

std::optional<AccountRecord> ChooseDialog::choose(AppState& state, QWidget* parent) {
    ChooseDialog dialog(state, parent);
    dialog.exec();
    return dialog.chosenAccount();
}
