#pragma once

#include "store/appstate.h"

#include <QDialog>
#include <memory>

namespace Ui {
class EnterFriendDialog;
}

// frmEnterFriend, "Email Friend": one address, for New and Edit in frmFriends.
// It leaves the trimmed address in FriendAddress after OK, the empty text after
// Cancel. OK and Cancel (or Escape, which is Cancel) are the only ways out.
class EnterFriendDialog : public QDialog {
    Q_OBJECT
public:
    EnterFriendDialog(AppState& state, QWidget* parent);
    ~EnterFriendDialog() override;

    // Edit's starting text; the change rule then enables OK.
    void setAddress(const QString& address);

    void accept() override;
    void reject() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    AppState& m_state;
    std::unique_ptr<Ui::EnterFriendDialog> m_ui;
};
