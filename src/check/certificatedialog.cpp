#include "check/certificatedialog.h"

#include "check/core/accounterrortext.h"
#include "check/core/servertrust.h"
#include "check/errordialog.h"
#include "common/dialogimage.h"
#include "common/messagebox.h"
#include "common/storeerrorbox.h"
#include "store/storeerror.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
QLabel* PlainLabel(const QString& text, const QString& objectName, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(objectName);
    label->setTextFormat(Qt::PlainText); // host names and certificate fields come from the server
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QPlainTextEdit* DetailsBox(const QString& text, QWidget* dialog) {
    auto* details = new QPlainTextEdit(dialog);
    details->setObjectName(QStringLiteral("txtDetails"));
    details->setReadOnly(true);
    details->setPlainText(text);
    details->setAccessibleName(CertificateDialog::tr("Certificate details"));
    details->setTabChangesFocus(true);
    // Five fields, the fingerprint wrapping once: no empty space below them.
    details->setFixedHeight(dialog->fontMetrics().lineSpacing() * 8 + 2 * details->frameWidth() + 8);
    return details;
}

// The picture beside the texts, the buttons under both.
QLayout* LayOut(QWidget* picture, const QList<QWidget*>& texts, QWidget* buttons, QDialog* dialog) {
    auto* text = new QVBoxLayout;
    text->setSpacing(10);
    for (QWidget* each : texts)
        text->addWidget(each);
    auto* row = new QHBoxLayout;
    row->setSpacing(14);
    row->addWidget(picture);
    row->addLayout(text, 1);
    auto* layout = new QVBoxLayout(dialog);
    layout->setContentsMargins(16, 16, 16, 12);
    layout->addLayout(row);
    layout->addWidget(buttons);
    return layout;
}

} // namespace

CertificateDialog::CertificateDialog(const QString& failedAction, const pop3::TlsProblem& problem,
                                     QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("frmCertificate"));
    setWindowTitle(tr("Security Certificate"));
    setModal(true);
    const QString server = ServerTrust::ServerText(problem);

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("Image1"));
    ui::ShowMessageImage(icon, ui::MessageIcon::Warning);
    icon->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

    auto* message = PlainLabel(
        failedAction + AccountError::CodeText(AccountError::Kind::Login, pop3::Result::CertificateInvalid),
        QStringLiteral("lblMessage"), this);
    auto* reason =
        PlainLabel(tr("Server: %1").arg(server) + QLatin1Char('\n') + ServerTrust::ReasonText(problem),
                   QStringLiteral("lblReason"), this);

    auto* detailsLabel = new QLabel(tr("Certificate &details:"), this);
    auto* details = DetailsBox(ServerTrust::CertificateDetails(problem.certificate), this);
    detailsLabel->setBuddy(details);

    auto* advice =
        PlainLabel(tr("Trust it only if you know that this server really uses this certificate, for "
                      "example your own server with a self-signed certificate.  The exception covers "
                      "only this certificate on %1; a different certificate will be refused again.")
                       .arg(server),
                   QStringLiteral("lblAdvice"), this);

    m_trust = new QPushButton(tr("&Trust this certificate for %1").arg(server), this);
    m_trust->setObjectName(QStringLiteral("cmdTrust"));
    m_trust->setAutoDefault(false);
    m_close = new QPushButton(tr("&Close"), this);
    m_close->setObjectName(QStringLiteral("cmdClose"));
    m_close->setDefault(true);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(m_trust, QDialogButtonBox::AcceptRole);
    buttons->addButton(m_close, QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    QLayout* layout = LayOut(icon, {message, reason, detailsLabel, details, advice}, buttons, this);
    details->setMinimumWidth(fontMetrics().averageCharWidth() * 80);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    setTabOrder(m_close, m_trust);
    setTabOrder(m_trust, details);
    m_close->setFocus();
}

bool HandleCertificateProblem(QWidget* owner, const QString& programFolder, const QString& failedAction,
                              const pop3::TlsProblem& problem) {
    if (!problem.canBeExcepted()) {
        ReportAccountError(owner, failedAction, AccountError::Kind::Login, pop3::Result::CertificateInvalid,
                           ServerTrust::ProblemText(problem));
        return false;
    }
    CertificateDialog dialog(failedAction, problem, owner);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    try {
        ServerTrust::TrustCertificate(programFolder, problem);
    } catch (const StoreError& error) {
        ui::ShowStoreError(owner, QObject::tr("Security Certificate"),
                           QObject::tr("The certificate could not be trusted because a file of the program "
                                       "could not be written."),
                           error);
        return false;
    }
    return true;
}
