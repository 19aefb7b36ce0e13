#pragma once

#include <QDialog>
#include <QString>

#include <memory>
#include <optional>

namespace Ui {
class EnterFriendDialog;
}

// frmEnterFriend, "Email Friend": one address, for New and Edit in frmFriends.
// OK and Cancel (or Escape, which is Cancel) are the only ways out. Of a name
// with an address in angle brackets only the address is kept, and the dialog
// says so under the box while such a text is in it.
class EnterFriendDialog : public QDialog {
    Q_OBJECT
public:
    explicit EnterFriendDialog(QWidget* parent);
    ~EnterFriendDialog() override;

    // Edit's starting text; the change rule then enables OK.
    void setAddress(const QString& address);
    // What OK accepted, ready to store; empty until then and after Cancel.
    QString address() const { return m_address; }

    void accept() override;
    void reject() override;

    // Runs the dialog modally over parent, its box holding startText: the
    // address to store after OK, nothing after Cancel.
    static std::optional<QString> enterAddress(QWidget* parent, const QString& startText);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void onTextChanged(const QString& text);

    std::unique_ptr<Ui::EnterFriendDialog> m_ui;
    QString m_address;
};
