#include "friends/friendsdialog.h"

#include "common/accessibility.h"
#include "common/messagebox.h"
#include "common/storeerrorbox.h"
#include "friends/addressbook.h"
#include "friends/dialoglayout.h"
#include "friends/enterfrienddialog.h"
#include "friends/friendsmodel.h"
#include "store/friendsstore.h"
#include "ui_friendsdialog.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QScopeGuard>

namespace {
const QString kBreak = QStringLiteral("\r\n\r\n");
// Names of too-long addresses listed in the import summary; the rest are counted.
constexpr int kListedTooLong = 10;
} // namespace

FriendsDialog::FriendsDialog(AppState& state, QWidget* parent)
    : QDialog(parent), m_state(state), m_ui(std::make_unique<Ui::FriendsDialog>()),
      m_model(new FriendsModel(this)) {
    m_ui->setupUi(this);
    QTreeView* list = m_ui->ListView1;
    list->setModel(m_model);
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true); // keeps 32,767 rows cheap to lay out
    ui::KeepSelectionOnCurrent(list); // the selected row is the one Edit and Delete act on
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setIconSize(QSize(16, 16));
    list->header()->setSectionsMovable(false);
    list->header()->setStretchLastSection(true);
    list->viewport()->installEventFilter(this);
    ui::EnterActsOnRow(list, [this] {
        if (m_ui->cmdEdit->isEnabled())
            onEdit();
    });

    for (QPushButton* button : {m_ui->cmdNew, m_ui->cmdEdit, m_ui->cmdDelete, m_ui->cmdImport})
        button->setAutoDefault(false);
    connect(m_ui->cmdNew, &QPushButton::clicked, this, &FriendsDialog::onNew);
    connect(m_ui->cmdEdit, &QPushButton::clicked, this, &FriendsDialog::onEdit);
    connect(m_ui->cmdDelete, &QPushButton::clicked, this, &FriendsDialog::onDelete);
    connect(m_ui->cmdImport, &QPushButton::clicked, this, &FriendsDialog::onImport);
    connect(m_ui->cmdClose, &QPushButton::clicked, this, &QDialog::accept);
    dialoglayout::SameWidth({m_ui->cmdNew, m_ui->cmdEdit, m_ui->cmdDelete, m_ui->cmdImport, m_ui->cmdClose});
    dialoglayout::FixSize(this, QSize(6585, 2955));

    // A store that cannot be read must not be written either: only Close stays.
    m_storeReadable = reload(tr("Your Friends List could not be read."));
    if (m_storeReadable)
        selectRow(0);
    applyButtonRule();
    m_ui->cmdClose->setFocus();
}

FriendsDialog::~FriendsDialog() = default;

FriendsModel* FriendsDialog::model() const {
    return m_model;
}

bool FriendsDialog::eventFilter(QObject* watched, QEvent* event) {
    // A double click anywhere on a list with rows edits the selected row.
    if (watched == m_ui->ListView1->viewport() && event->type() == QEvent::MouseButtonDblClick &&
        m_model->rowCount() > 0 && m_ui->cmdEdit->isEnabled())
        QMetaObject::invokeMethod(this, &FriendsDialog::onEdit, Qt::QueuedConnection);
    return QDialog::eventFilter(watched, event);
}

void FriendsDialog::onNew() {
    const std::optional<QString> address = EnterFriendDialog::enterAddress(this, {});
    if (!address)
        return;
    try {
        const int number = FriendsStore(m_state.ProgramFolder).Append(*address);
        m_model->appendRow(number, *address);
    } catch (const StoreError& error) {
        ui::ShowStoreError(this, tr("Email Friends"),
                           tr("The address could not be added to your Friends List."), error);
        return;
    }
    selectRow(m_model->rowCount() - 1);
    m_ui->ListView1->setFocus();
    applyButtonRule();
}

void FriendsDialog::onEdit() {
    const int row = selectedRow();
    if (row < 0)
        return;
    const std::optional<QString> address = EnterFriendDialog::enterAddress(this, m_model->address(row));
    if (!address)
        return;
    try {
        FriendsStore(m_state.ProgramFolder).Replace(m_model->recordNumber(row), *address);
    } catch (const StoreError& error) {
        ui::ShowStoreError(this, tr("Email Friends"),
                           tr("The address could not be changed in your Friends List."), error);
        return;
    }
    m_model->setAddress(row, *address);
    m_ui->ListView1->setFocus();
}

void FriendsDialog::onDelete() {
    const int row = selectedRow();
    if (row < 0)
        return;
    const auto answer = ui::ShowMessage({this, ui::MessageIcon::Question, tr("Delete"),
                                         tr("Deleting the selected address from your Friends List?"),
                                         QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok});
    if (answer != QMessageBox::Ok)
        return;

    const QString address = m_model->address(row);
    // The row that takes the deleted one's place: rows above it that stay.
    int nextRow = 0;
    for (int i = 0; i < row; ++i)
        if (m_model->address(i) != address)
            ++nextRow;

    QApplication::setOverrideCursor(Qt::WaitCursor);
    auto restoreCursor = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
    const QList<QWidget*> controls{m_ui->cmdNew,    m_ui->cmdEdit,  m_ui->cmdDelete,
                                   m_ui->cmdImport, m_ui->cmdClose, m_ui->ListView1};
    for (QWidget* control : controls)
        control->setEnabled(false);
    try {
        const FriendsStore store(m_state.ProgramFolder);
        store.RemoveAddress(address);
        m_model->setRows(store.ReadAll());
    } catch (const StoreError& error) {
        restoreCursor.dismiss();
        QApplication::restoreOverrideCursor();
        // The rewrite is atomic: Friends.dat is as it was before the command.
        ui::ShowStoreError(this, tr("Error"), tr("An error was encountered deleting the selected address."),
                           error);
        reject();
        return;
    }
    for (QWidget* control : controls)
        control->setEnabled(true);
    selectRow(std::min(nextRow, m_model->rowCount() - 1));
    m_ui->ListView1->setFocus();
    applyButtonRule();
}

void FriendsDialog::onImport() {
    const QString path = QFileDialog::getOpenFileName(
        this, tr("Import Addresses"), QDir::homePath(),
        tr("Address books (*.vcf *.vcard *.csv *.ldif *.ldi);;vCard (*.vcf *.vcard);;CSV (*.csv);;"
           "LDIF (*.ldif *.ldi);;All files (*)"));
    if (!path.isEmpty())
        importFile(path);
}

void FriendsDialog::importFile(const QString& path) {
    const QString title = tr("Import Addresses");
    const QString fileName = QFileInfo(path).fileName();
    QString readError;
    const std::optional<QStringList> found = addressbook::ReadFile(path, &readError);
    if (!found) {
        ui::ShowMessage({this, ui::MessageIcon::Warning, title,
                         tr("The address book could not be read.") + kBreak + readError, QMessageBox::Ok,
                         QMessageBox::Ok});
        return;
    }

    addressbook::Plan plan;
    int firstNew = 0;
    {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        auto restoreCursor = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
        try {
            const FriendsStore store(m_state.ProgramFolder);
            plan = addressbook::PlanImport(*found, store.ReadAll());
            if (!plan.toAdd.isEmpty())
                firstNew = store.AppendMany(plan.toAdd);
        } catch (const StoreError& error) {
            restoreCursor.dismiss();
            QApplication::restoreOverrideCursor();
            ui::ShowStoreError(this, title, tr("No address was added: your Friends List is as it was."),
                               error);
            return;
        }
    }
    if (firstNew > 0 && reload(tr("Your Friends List could not be read."))) {
        selectRow(firstNew - 1);
        m_ui->ListView1->setFocus();
        applyButtonRule();
    }

    QString summary;
    if (plan.found == 0) {
        summary = tr("No email addresses were found in %1.").arg(fileName);
    } else {
        summary = tr("Addresses found in %1: %2").arg(fileName).arg(plan.found) + QStringLiteral("\r\n") +
                  tr("Already in your Friends List: %1").arg(plan.alreadyFriends) + QStringLiteral("\r\n") +
                  tr("Added: %1").arg(plan.toAdd.size());
    }
    if (!plan.tooLong.isEmpty()) {
        summary += kBreak + tr("Not added, too long for a Friends List entry (at most %1 characters): %2")
                                .arg(addressbook::kAddressBytes)
                                .arg(plan.tooLong.size());
        for (qsizetype i = 0; i < std::min<qsizetype>(plan.tooLong.size(), kListedTooLong); ++i)
            summary += QStringLiteral("\r\n") + plan.tooLong.at(i);
        if (plan.tooLong.size() > kListedTooLong)
            summary += QStringLiteral("\r\n") + tr("and %1 more").arg(plan.tooLong.size() - kListedTooLong);
    }
    ui::ShowMessage({this, plan.tooLong.isEmpty() ? ui::MessageIcon::Information : ui::MessageIcon::Warning,
                     title, summary, QMessageBox::Ok, QMessageBox::Ok});
}

bool FriendsDialog::reload(const QString& action) {
    try {
        m_model->setRows(FriendsStore(m_state.ProgramFolder).ReadAll());
        return true;
    } catch (const StoreError& error) {
        m_model->setRows({});
        ui::ShowStoreError(this, tr("Email Friends"), action, error);
        return false;
    }
}

int FriendsDialog::selectedRow() const {
    const QModelIndexList rows = m_ui->ListView1->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void FriendsDialog::selectRow(int row) {
    if (row < 0 || row >= m_model->rowCount())
        return;
    const QModelIndex index = m_model->index(row);
    m_ui->ListView1->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                                  QItemSelectionModel::Rows);
    m_ui->ListView1->scrollTo(index);
}

void FriendsDialog::applyButtonRule() {
    const bool rows = m_model->rowCount() > 0;
    m_ui->cmdNew->setEnabled(m_storeReadable);
    m_ui->cmdImport->setEnabled(m_storeReadable);
    m_ui->cmdEdit->setEnabled(m_storeReadable && rows);
    m_ui->cmdDelete->setEnabled(m_storeReadable && rows);
}

namespace friends {
void ShowFriendsDialog(AppState& state, QWidget* parent) {
    FriendsDialog dialog(state, parent);
    dialog.exec();
}
} // namespace friends
