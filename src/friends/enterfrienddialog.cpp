#include "friends/enterfrienddialog.h"

#include "common/messagebox.h"
#include "friends/addressbook.h"
#include "friends/dialoglayout.h"
#include "store/fixedtext.h"
#include "ui_enterfrienddialog.h"

#include <QEvent>
#include <QTimer>
#include <QValidator>

namespace {

// Refuses an edit after which the address would not fit its record field as
// UTF-8, so nothing typed is cut when it is stored. Blanks around it are not
// stored and do not count.
class AddressBytesValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        return FixedText::TrimBlanks(input).toUtf8().size() <= addressbook::kAddressBytes ? Acceptable
                                                                                          : Invalid;
    }
};

} // namespace

EnterFriendDialog::EnterFriendDialog(AppState& state, QWidget* parent)
    : QDialog(parent), m_state(state), m_ui(std::make_unique<Ui::EnterFriendDialog>()) {
    m_ui->setupUi(this);
    // No close box: OK and Cancel are the ways out.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    m_ui->txtFriend->setValidator(new AddressBytesValidator(m_ui->txtFriend));
    m_ui->txtFriend->installEventFilter(this);
    m_ui->cmdCancel->setAutoDefault(false);
    connect(m_ui->txtFriend, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_ui->cmdOK->setEnabled(!FixedText::TrimBlanks(text).isEmpty()); });
    connect(m_ui->cmdOK, &QPushButton::clicked, this, &EnterFriendDialog::accept);
    connect(m_ui->cmdCancel, &QPushButton::clicked, this, &EnterFriendDialog::reject);
    dialoglayout::SameWidth({m_ui->cmdOK, m_ui->cmdCancel});
    dialoglayout::FixSize(this, QSize(6585, 1635));
    m_ui->txtFriend->setFocus();
}

EnterFriendDialog::~EnterFriendDialog() = default;

void EnterFriendDialog::setAddress(const QString& address) {
    m_ui->txtFriend->setText(address);
}

bool EnterFriendDialog::eventFilter(QObject* watched, QEvent* event) {
    // The whole text is selected when the box gets the focus; deferred, or a
    // mouse press would put the cursor over the selection.
    if (watched == m_ui->txtFriend && event->type() == QEvent::FocusIn)
        QTimer::singleShot(0, m_ui->txtFriend, &QLineEdit::selectAll);
    return QDialog::eventFilter(watched, event);
}

void EnterFriendDialog::accept() {
    const QString address = FixedText::TrimBlanks(m_ui->txtFriend->text());
    if (address.isEmpty())
        return; // OK is disabled then; Enter must not get round that
    if (!address.contains(u'@')) {
        const auto answer =
            ui::ShowMessage({this, ui::MessageIcon::Question, tr("Invalid Address"),
                             tr("The address you have entered does not appear to be a valid email address.") +
                                 QStringLiteral("\r\n\r\n") + tr("Use this address anyway?"),
                             QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok});
        if (answer != QMessageBox::Ok) {
            m_ui->txtFriend->setFocus();
            return;
        }
    }
    m_state.FriendAddress = address;
    QDialog::accept();
}

void EnterFriendDialog::reject() {
    m_state.FriendAddress.clear();
    QDialog::reject();
}
