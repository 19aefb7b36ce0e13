#include "friends/enterfrienddialog.h"

#include "common/messagebox.h"
#include "friends/addressbook.h"
#include "friends/dialoglayout.h"
#include "store/fixedtext.h"
#include "store/friendaddress.h"
#include "ui_enterfrienddialog.h"

#include <QEvent>
#include <QTimer>
#include <QValidator>

namespace {

// Longer than any header line may be (RFC 5322): no name-addr a user pastes is refused.
constexpr int kMaxNameAddrChars = 998;

// Whether what the text stores fits the record field as UTF-8. Blanks around
// it are not stored and do not count.
bool Fits(const QString& text) {
    return friendaddress::ToStore(text).toUtf8().size() <= addressbook::kAddressBytes;
}

// Refuses an edit after which the address would not fit its record field, so
// nothing typed is cut when it is stored. A name with an address in angle
// brackets may run longer while it is typed: only its address is stored.
class AddressBytesValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        if (Fits(input))
            return Acceptable;
        return input.contains(u'<') && input.size() <= kMaxNameAddrChars ? Intermediate : Invalid;
    }
};

QString NoteFor(const QString& text) {
    if (!Fits(text))
        return EnterFriendDialog::tr("Too long: a Friends List entry holds at most %1 characters.")
            .arg(addressbook::kAddressBytes);
    if (const std::optional<QString> address = friendaddress::AddressInAngleBrackets(text))
        return EnterFriendDialog::tr("Only the address in angle brackets is stored: %1").arg(*address);
    return {};
}

} // namespace

EnterFriendDialog::EnterFriendDialog(QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::EnterFriendDialog>()) {
    m_ui->setupUi(this);
    // No close box: OK and Cancel are the ways out.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    m_ui->txtFriend->setValidator(new AddressBytesValidator(m_ui->txtFriend));
    m_ui->txtFriend->installEventFilter(this);
    m_ui->lblNote->setTextFormat(Qt::PlainText);
    // Room for the note from the start, so the fixed-size dialog never has to grow.
    m_ui->lblNote->setMinimumHeight(2 * m_ui->lblNote->fontMetrics().lineSpacing());
    m_ui->cmdCancel->setAutoDefault(false);
    connect(m_ui->txtFriend, &QLineEdit::textChanged, this, &EnterFriendDialog::onTextChanged);
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

void EnterFriendDialog::onTextChanged(const QString& text) {
    m_ui->cmdOK->setEnabled(!FixedText::TrimBlanks(text).isEmpty() && Fits(text));
    const QString note = NoteFor(text);
    m_ui->lblNote->setText(note);
    m_ui->txtFriend->setAccessibleDescription(note);
}

bool EnterFriendDialog::eventFilter(QObject* watched, QEvent* event) {
    // The whole text is selected when the box gets the focus; deferred, or a
    // mouse press would put the cursor over the selection.
    if (watched == m_ui->txtFriend && event->type() == QEvent::FocusIn)
        QTimer::singleShot(0, m_ui->txtFriend, &QLineEdit::selectAll);
    return QDialog::eventFilter(watched, event);
}

void EnterFriendDialog::accept() {
    const QString typed = m_ui->txtFriend->text();
    if (FixedText::TrimBlanks(typed).isEmpty() || !Fits(typed))
        return; // OK is disabled then; Enter must not get round that
    const QString address = friendaddress::ToStore(typed);
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
    m_address = address;
    QDialog::accept();
}

void EnterFriendDialog::reject() {
    m_address.clear();
    QDialog::reject();
}

std::optional<QString> EnterFriendDialog::enterAddress(QWidget* parent, const QString& startText) {
    EnterFriendDialog entry(parent);
    if (!startText.isEmpty())
        entry.setAddress(startText);
    if (entry.exec() != QDialog::Accepted)
        return std::nullopt;
    return entry.address();
}
