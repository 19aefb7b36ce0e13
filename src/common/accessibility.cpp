#include "common/accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QHash>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QSizeGrip>
#include <QSplitter>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>

#include <algorithm>
#include <utility>

namespace ui {
namespace {

// Marks the views whose accessible interface is ours (see the factory below).
const char* const kTickCellsProperty = "_tidemarsh_tickCells";
// Above this many changed rows only those on screen and the current one are announced.
constexpr int kAnnouncedRowsMax = 200;

QString WithoutMnemonic(QString text) {
    // "&&" is a literal ampersand; a single one marks the access key.
    text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QStringLiteral("\x01"), QStringLiteral("&"));
    return text;
}

// Child numbering of Qt's own item view events (focus, selection): the header
// is row 0 even when hidden, then one child per cell, row by row.
int ChildIndexOf(int row, int column, int columnCount) {
    return (row + 1) * columnCount + column;
}

int ColumnCountOf(const QTreeView* view) {
    return view && view->model() ? view->model()->columnCount(view->rootIndex()) : 0;
}

int RowCountOf(const QTreeView* view) {
    return view && view->model() ? view->model()->rowCount(view->rootIndex()) : 0;
}

QRect GlobalRect(const QWidget* widget, const QRect& local) {
    return QRect(widget->mapToGlobal(local.topLeft()), local.size());
}

// One cell of the list (row >= 0) or of its header (row -1). Cells are
// positional and read the model live, so a cached cell never shows stale data;
// the table drops its cache when rows come or go so listeners hear of it.
class TickViewCell : public QAccessibleInterface,
                     public QAccessibleTableCellInterface,
                     public QAccessibleActionInterface {
public:
    TickViewCell(QTreeView* view, int row, int column) : m_view(view), m_row(row), m_column(column) {}

    bool isValid() const override {
        return m_view && m_row < RowCountOf(m_view) && m_column < ColumnCountOf(m_view);
    }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return m_view ? m_view->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(m_view); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }

    QString text(QAccessible::Text t) const override {
        if (!isValid())
            return {};
        if (isHeader())
            return t == QAccessible::Name
                       ? m_view->model()->headerData(m_column, Qt::Horizontal, Qt::DisplayRole).toString()
                       : QString();
        const QModelIndex cell = index();
        switch (t) {
        case QAccessible::Name: {
            const QString spoken = cell.data(Qt::AccessibleTextRole).toString();
            return spoken.isEmpty() ? cell.data(Qt::DisplayRole).toString() : spoken;
        }
        case QAccessible::Description:
            return cell.data(Qt::AccessibleDescriptionRole).toString();
        default:
            return {};
        }
    }
    void setText(QAccessible::Text, const QString&) override {}

    QRect rect() const override {
        if (!isValid())
            return {};
        if (isHeader()) {
            const QHeaderView* header = m_view->header();
            if (header->isHidden())
                return {};
            return GlobalRect(header->viewport(), QRect(header->sectionViewportPosition(m_column), 0,
                                                        header->sectionSize(m_column), header->height()));
        }
        return GlobalRect(m_view->viewport(), m_view->visualRect(index()));
    }

    QAccessible::Role role() const override {
        if (isHeader())
            return QAccessible::ColumnHeader;
        return isCheckable() ? QAccessible::CheckBox : QAccessible::Cell;
    }

    QAccessible::State state() const override {
        QAccessible::State st;
        if (!isValid()) {
            st.invalid = true;
            return st;
        }
        if (isHeader())
            return st;
        const QModelIndex cell = index();
        const Qt::ItemFlags flags = cell.flags();
        st.focusable = true;
        st.selectable = (flags & Qt::ItemIsSelectable) != 0;
        st.selected = isSelected();
        st.focused = m_view->hasFocus() && m_view->currentIndex() == cell;
        st.disabled = !m_view->isEnabled() || !(flags & Qt::ItemIsEnabled);
        const QRect shown = m_view->visualRect(cell);
        st.offscreen = !shown.isValid() || !m_view->viewport()->rect().intersects(shown);
        st.invisible = !m_view->isVisible();
        if (isCheckable()) {
            const auto tick = cell.data(Qt::CheckStateRole).value<Qt::CheckState>();
            st.checkable = true;
            st.checked = tick == Qt::Checked;
            st.checkStateMixed = tick == Qt::PartiallyChecked;
        }
        return st;
    }

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TableCellInterface)
            return static_cast<QAccessibleTableCellInterface*>(this);
        if (type == QAccessible::ActionInterface)
            return static_cast<QAccessibleActionInterface*>(this);
        return nullptr;
    }

    // QAccessibleTableCellInterface
    bool isSelected() const override {
        return isValid() && !isHeader() && m_view->selectionModel() &&
               m_view->selectionModel()->isRowSelected(m_row, m_view->rootIndex());
    }
    QList<QAccessibleInterface*> columnHeaderCells() const override {
        QAccessibleInterface* table = parent();
        QAccessibleInterface* header = table ? table->child(m_column) : nullptr;
        return header ? QList<QAccessibleInterface*>{header} : QList<QAccessibleInterface*>{};
    }
    QList<QAccessibleInterface*> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return m_column; }
    int rowIndex() const override { return m_row; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface* table() const override { return parent(); }

    // QAccessibleActionInterface
    QStringList actionNames() const override {
        if (!isValid() || isHeader())
            return {};
        if (isCheckable())
            return {toggleAction(), pressAction(), setFocusAction()};
        return {setFocusAction()};
    }
    void doAction(const QString& name) override {
        if (!isValid() || isHeader())
            return;
        const QModelIndex cell = index();
        if (isCheckable() && (name == toggleAction() || name == pressAction())) {
            const bool ticked = cell.data(Qt::CheckStateRole).value<Qt::CheckState>() == Qt::Checked;
            m_view->model()->setData(cell, ticked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
        } else if (name == setFocusAction()) {
            m_view->selectionModel()->setCurrentIndex(cell, QItemSelectionModel::ClearAndSelect |
                                                                QItemSelectionModel::Rows);
            m_view->setFocus(Qt::OtherFocusReason);
        }
    }
    QStringList keyBindingsForAction(const QString& name) const override {
        if (name == toggleAction() && isCheckable())
            return {QStringLiteral("Space")};
        return {};
    }

    int row() const { return m_row; }
    int column() const { return m_column; }

private:
    bool isHeader() const { return m_row < 0; }
    QModelIndex index() const { return m_view->model()->index(m_row, m_column, m_view->rootIndex()); }
    bool isCheckable() const {
        return !isHeader() && isValid() && (index().flags() & Qt::ItemIsUserCheckable);
    }

    QPointer<QTreeView> m_view;
    int m_row;
    int m_column;
};

// The list as a table of those cells. A widget interface underneath, so the
// list itself answers focus requests (AT-SPI's grabFocus) like any control.
class TickViewTable : public QAccessibleWidget, public QAccessibleTableInterface {
public:
    explicit TickViewTable(QTreeView* view) : QAccessibleWidget(view, QAccessible::Table) {}
    ~TickViewTable() override { dropCells(); }

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TableInterface)
            return static_cast<QAccessibleTableInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    int childCount() const override {
        const int columns = ColumnCountOf(view());
        return columns > 0 ? (RowCountOf(view()) + 1) * columns : 0;
    }
    QAccessibleInterface* child(int index) const override {
        const int columns = ColumnCountOf(view());
        if (index < 0 || index >= childCount() || columns <= 0)
            return nullptr;
        const auto known = m_cells.constFind(index);
        if (known != m_cells.constEnd())
            return QAccessible::accessibleInterface(*known);
        auto* cell = new TickViewCell(view(), index / columns - 1, index % columns);
        m_cells.insert(index, QAccessible::registerAccessibleInterface(cell));
        return cell;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        const auto* cell = dynamic_cast<const TickViewCell*>(child);
        if (!cell)
            return -1;
        return ChildIndexOf(cell->row(), cell->column(), ColumnCountOf(view()));
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        QTreeView* v = view();
        const QPoint inViewport = v->viewport()->mapFromGlobal(QPoint(x, y));
        const QModelIndex at = v->indexAt(inViewport);
        if (!at.isValid())
            return nullptr;
        return cellAt(at.row(), at.column());
    }
    QAccessibleInterface* focusChild() const override {
        const QModelIndex current = view()->currentIndex();
        if (!view()->hasFocus() || !current.isValid())
            return nullptr;
        return cellAt(current.row(), current.column());
    }

    // QAccessibleTableInterface
    QAccessibleInterface* caption() const override { return nullptr; }
    QAccessibleInterface* summary() const override { return nullptr; }
    QAccessibleInterface* cellAt(int row, int column) const override {
        if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount())
            return nullptr;
        return child(ChildIndexOf(row, column, columnCount()));
    }
    int selectedCellCount() const override { return selectedRowCount() * columnCount(); }
    QList<QAccessibleInterface*> selectedCells() const override {
        QList<QAccessibleInterface*> cells;
        for (int row : selectedRows())
            for (int column = 0; column < columnCount(); ++column)
                cells.append(cellAt(row, column));
        return cells;
    }
    QString columnDescription(int column) const override {
        return view()->model() ? view()->model()->headerData(column, Qt::Horizontal).toString() : QString();
    }
    QString rowDescription(int) const override { return {}; }
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override { return static_cast<int>(selectedRows().size()); }
    int columnCount() const override { return ColumnCountOf(view()); }
    int rowCount() const override { return RowCountOf(view()); }
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override {
        QList<int> rows;
        if (QItemSelectionModel* selection = view()->selectionModel())
            for (const QModelIndex& index : selection->selectedRows())
                rows.append(index.row());
        std::sort(rows.begin(), rows.end());
        return rows;
    }
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int row) const override {
        QItemSelectionModel* selection = view()->selectionModel();
        return selection && selection->isRowSelected(row, view()->rootIndex());
    }
    bool selectRow(int row) override {
        QItemSelectionModel* selection = view()->selectionModel();
        const QModelIndex index =
            view()->model() ? view()->model()->index(row, 0, view()->rootIndex()) : QModelIndex();
        if (!selection || !index.isValid())
            return false;
        // Selecting a row makes it the row every command acts on.
        selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        return true;
    }
    bool selectColumn(int) override { return false; }
    // There is always one row while the list has rows: it cannot be unselected.
    bool unselectRow(int) override { return false; }
    bool unselectColumn(int) override { return false; }

    void modelChange(QAccessibleTableModelChangeEvent* event) override {
        if (event->modelChangeType() != QAccessibleTableModelChangeEvent::DataChanged)
            dropCells();
    }

private:
    QTreeView* view() const { return static_cast<QTreeView*>(widget()); }

    void dropCells() {
        const QHash<int, QAccessible::Id> cells = std::exchange(m_cells, {});
        for (QAccessible::Id id : cells)
            QAccessible::deleteAccessibleInterface(id);
    }

    mutable QHash<int, QAccessible::Id> m_cells;
};

QAccessibleInterface* TickViewFactory(const QString&, QObject* object) {
    auto* view = qobject_cast<QTreeView*>(object);
    if (view && view->property(kTickCellsProperty).toBool())
        return new TickViewTable(view);
    return nullptr;
}

class EnterFilter : public QObject {
public:
    EnterFilter(QAbstractItemView* view, std::function<void()> act)
        : QObject(view), m_view(view), m_act(std::move(act)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != m_view || event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (!enter || (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier ||
            !m_view->currentIndex().isValid())
            return false;
        // After this key's handling, so a dialog the action opens does not run inside it.
        QMetaObject::invokeMethod(
            this, [this] { m_act(); }, Qt::QueuedConnection);
        return true;
    }

private:
    QAbstractItemView* m_view;
    std::function<void()> m_act;
};

// After a selection change: exactly one row selected, and it is the current row.
void KeepOneRow(QItemSelectionModel* selection, const QItemSelection& added) {
    const QModelIndex current = selection->currentIndex();
    const QModelIndexList selected = selection->selectedIndexes();
    if (selected.isEmpty()) {
        // A Ctrl+click took the selection away: the current row stays the row.
        if (current.isValid())
            selection->select(current, QItemSelectionModel::Select | QItemSelectionModel::Rows);
        return;
    }
    const QModelIndex first = selected.first();
    const bool oneRow = std::all_of(selected.begin(), selected.end(), [&](const QModelIndex& index) {
        return index.row() == first.row() && index.parent() == first.parent();
    });
    if (!oneRow) {
        // Selecting a row by the accessibility interface first clears the selection (and
        // the current row comes back, above) and then adds the new row: the new row wins.
        const QModelIndex chosen = added.isEmpty() ? current : added.indexes().first();
        selection->setCurrentIndex(chosen, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        return;
    }
    if (!current.isValid() || current.row() != first.row() || current.parent() != first.parent())
        selection->setCurrentIndex(first.siblingAtColumn(current.isValid() ? current.column() : 0),
                                   QItemSelectionModel::NoUpdate);
}

} // namespace

void KeepSelectionOnCurrent(QAbstractItemView* view) {
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    QItemSelectionModel* selection = view->selectionModel();
    if (!selection)
        return;
    QObject::connect(
        selection, &QItemSelectionModel::currentChanged, view, [selection](const QModelIndex& current) {
            if (!current.isValid()) {
                if (selection->hasSelection())
                    selection->clearSelection();
            } else if (!selection->isRowSelected(current.row(), current.parent())) {
                selection->select(current, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            }
        });
    QObject::connect(selection, &QItemSelectionModel::selectionChanged, view,
                     [selection](const QItemSelection& added) { KeepOneRow(selection, added); });
}

void EnterActsOnRow(QAbstractItemView* view, std::function<void()> act) {
    view->installEventFilter(new EnterFilter(view, std::move(act)));
}

void ExposeTicksAsCheckBoxes(QTreeView* view) {
    QAccessible::installFactory(&TickViewFactory); // a second install is ignored
    view->setProperty(kTickCellsProperty, true);
}

void AnnounceTickChanges(QTreeView* view, const QModelIndex& topLeft, const QModelIndex& bottomRight,
                         const QList<int>& roles) {
    if (!QAccessible::isActive() || !topLeft.isValid() || !bottomRight.isValid() || !view->model())
        return;
    if (!roles.isEmpty() && !roles.contains(Qt::CheckStateRole))
        return;
    const int columns = ColumnCountOf(view);
    const auto announce = [&](int row) {
        for (int column = topLeft.column(); column <= bottomRight.column(); ++column) {
            const QModelIndex cell = topLeft.siblingAtRow(row).siblingAtColumn(column);
            if (!(cell.flags() & Qt::ItemIsUserCheckable))
                continue;
            QAccessible::State changed;
            changed.checked = true;
            QAccessibleStateChangeEvent event(view, changed);
            event.setChild(ChildIndexOf(row, column, columns));
            QAccessible::updateAccessibility(&event);
        }
    };
    const int first = topLeft.row();
    const int last = bottomRight.row();
    if (last - first < kAnnouncedRowsMax) {
        for (int row = first; row <= last; ++row)
            announce(row);
        return;
    }
    // Check All on a long list: a listener can use only what is on screen and the current row.
    const QModelIndex top = view->indexAt(QPoint(0, 0));
    const QModelIndex bottom = view->indexAt(QPoint(0, view->viewport()->height() - 1));
    const int shownFirst = std::max(first, top.isValid() ? top.row() : first);
    const int shownLast = std::min(last, bottom.isValid() ? bottom.row() : shownFirst + kAnnouncedRowsMax);
    for (int row = shownFirst; row <= shownLast && row - shownFirst < kAnnouncedRowsMax; ++row)
        announce(row);
    const int current = view->currentIndex().row();
    if (current >= first && current <= last && (current < shownFirst || current > shownLast))
        announce(current);
}

void NameWindowBars(QMainWindow* window) {
    if (QMenuBar* bar = window->menuBar())
        bar->setAccessibleName(QObject::tr("Menu bar"));
    for (QMenu* menu : window->findChildren<QMenu*>())
        if (menu->accessibleName().isEmpty())
            menu->setAccessibleName(WithoutMnemonic(menu->title()));
    NameUnnamedParts(window);
}

void NameUnnamedParts(QWidget* window) {
    const auto name = [](QWidget* widget, const QString& text) {
        if (widget->accessibleName().isEmpty())
            widget->setAccessibleName(text);
    };
    for (QToolBar* bar : window->findChildren<QToolBar*>()) {
        name(bar, bar->windowTitle().isEmpty() ? QObject::tr("Toolbar") : bar->windowTitle());
        if (auto* more = bar->findChild<QToolButton*>(QStringLiteral("qt_toolbar_ext_button")))
            name(more, QObject::tr("More commands"));
    }
    for (QSizeGrip* grip : window->findChildren<QSizeGrip*>())
        name(grip, QObject::tr("Resize window"));
    for (QSplitterHandle* handle : window->findChildren<QSplitterHandle*>())
        name(handle, QObject::tr("Resize panes"));
    for (QComboBox* box : window->findChildren<QComboBox*>())
        if (QAbstractItemView* choices = box->view())
            name(choices, box->accessibleName().isEmpty() ? QObject::tr("Choices") : box->accessibleName());
    // A named scroll area whose viewport takes the focus speaks by the area's name.
    for (QAbstractScrollArea* area : window->findChildren<QAbstractScrollArea*>())
        if (area->viewport()->focusPolicy() != Qt::NoFocus && !area->accessibleName().isEmpty())
            name(area->viewport(), area->accessibleName());
    for (QLineEdit* edit : window->findChildren<QLineEdit*>())
        for (QToolButton* clear : edit->findChildren<QToolButton*>())
            name(clear, QObject::tr("Clear"));
}

} // namespace ui
