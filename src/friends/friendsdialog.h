#pragma once

#include "common/appstate.h"

#include <QDialog>
#include <memory>

class FriendsModel;
namespace Ui {
class FriendsDialog;
}

// frmFriends, "Email Friends": the Friends list with New, Edit, Delete, Import
// and Close. Every change goes to Friends.dat at once. Whenever the list has
// rows, one of them is selected: after New the new row, after Delete the row
// that took the deleted one's place (else the new last row), after Import the
// first imported row. Enter on the list edits the selected row, as a double
// click does; elsewhere it is Close.
class FriendsDialog : public QDialog {
    Q_OBJECT
public:
    FriendsDialog(AppState& state, QWidget* parent);
    ~FriendsDialog() override;

    // What Import runs once the file chooser has given a file.
    void importFile(const QString& path);

    FriendsModel* model() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void onNew();
    void onEdit();
    void onDelete();
    void onImport();
    // Refills the list from the store; shows the failure and returns false.
    bool reload(const QString& action);
    int selectedRow() const;
    void selectRow(int row);
    void applyButtonRule();

    AppState& m_state;
    std::unique_ptr<Ui::FriendsDialog> m_ui;
    FriendsModel* m_model;
    bool m_storeReadable = true;
};

namespace friends {
// The dispatch entry: shows frmFriends modally over parent.
void ShowFriendsDialog(AppState& state, QWidget* parent);
} // namespace friends
