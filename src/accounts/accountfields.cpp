#include "accounts/accountfields.h"

#include "common/accessibility.h"
#include "common/commandicons.h"
#include "common/storeerrorbox.h"
#include "store/accountstore.h"
#include "store/fixedtext.h"

#include <QEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QTimer>
#include <QTreeWidget>

namespace accounts {

namespace {

// Selects an entry's whole text when it gets the focus. Deferred: a mouse press
// that brought the focus would otherwise place the cursor over the selection.
class SelectAllOnFocus : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FocusIn) {
            if (auto* entry = qobject_cast<QLineEdit*>(watched))
                QTimer::singleShot(0, entry, &QLineEdit::selectAll);
        }
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

FieldBytesValidator::FieldBytesValidator(int bytes, QObject* parent) : QValidator(parent), m_bytes(bytes) {}

QValidator::State FieldBytesValidator::validate(QString& input, int& pos) const {
    Q_UNUSED(pos)
    return input.toUtf8().size() <= m_bytes ? Acceptable : Invalid;
}

bool IsBlank(const QString& text) {
    return FixedText::TrimBlanks(text).isEmpty();
}

QString Trimmed(const QString& text) {
    return FixedText::TrimBlanks(text);
}

void SetUpEntry(QLineEdit* entry, int bytes) {
    // No maxLength: it counts UTF-16 units and would cut a paste silently.
    entry->setValidator(new FieldBytesValidator(bytes, entry));
    entry->installEventFilter(new SelectAllOnFocus(entry));
}

QIcon AccountIcon() {
    return ui::CommandIcon(QStringLiteral("AccountsSmall"));
}

void SetUpAccountList(QTreeWidget* list) {
    list->setColumnCount(2);
    list->setHeaderLabels({QObject::tr("Name"), QObject::tr("Last Checked")});
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setAllColumnsShowFocus(true);
    ui::KeepSelectionOnCurrent(list); // the selected row is the one Edit, Delete and OK act on
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setIconSize(QSize(16, 16));
    list->header()->setStretchLastSection(true);
    list->header()->setSectionsMovable(false);
    list->header()->resizeSection(0, 180);
}

QTreeWidgetItem* AddAccountRow(QTreeWidget* list, const AccountRecord& record, int recordNumber) {
    auto* row = new QTreeWidgetItem(list);
    row->setText(0, Trimmed(record.AccountName));
    row->setText(1, Trimmed(record.LastChecked));
    row->setIcon(0, AccountIcon());
    row->setData(0, Qt::UserRole, recordNumber);
    row->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return row;
}

int RecordNumberOf(const QTreeWidgetItem* row) {
    return row ? row->data(0, Qt::UserRole).toInt() : 0;
}

void FillAccountList(QTreeWidget* list, AppState& state, QWidget* parent) {
    list->clear();
    try {
        const AccountStore store(state.ProgramFolder);
        const int count = store.CountAccounts();
        for (int n = 1; n <= count; ++n) {
            state.CurrentAccount = store.ReadAccount(n);
            AddAccountRow(list, state.CurrentAccount, n);
        }
    } catch (const StoreError& error) {
        ui::ShowStoreError(parent, QObject::tr("Accounts"),
                           QObject::tr("The list of accounts could not be read."), error);
    }
}

} // namespace accounts
