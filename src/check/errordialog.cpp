#include "check/errordialog.h"

#include "check/core/accounterrortext.h"
#include "common/dialogimage.h"
#include "ui_errordialog.h"

#include <QPushButton>

ErrorDialog::ErrorDialog(const QString& message, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::ErrorDialog>()) {
    m_ui->setupUi(this);
    ui::ShowMessageImage(m_ui->Image1, ui::MessageIcon::Critical);
    m_ui->txtError->setPlainText(message);
    // A report with a reason and details needs room to be read without scrolling.
    if (message.size() > 250) {
        m_ui->txtError->setMaximumHeight(QWIDGETSIZE_MAX);
        m_ui->txtError->setMinimumHeight(fontMetrics().lineSpacing() * 9);
        resize(qMax(width(), 560), height());
    }
    connect(m_ui->cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    m_ui->txtError->setAccessibleName(tr("Error details"));
    m_ui->cmdOK->setFocus();
}

ErrorDialog::~ErrorDialog() = default;

void ReportAccountError(QWidget* owner, const QString& action, AccountError::Kind kind, pop3::Result result,
                        const QString& detail) {
    QString message = action + AccountError::CodeText(kind, result);
    if (!detail.isEmpty())
        message += QStringLiteral("\r\n\r\n") + detail;
    ErrorDialog dialog(message, owner);
    dialog.exec();
}

void ReportAccountError(QWidget* owner, const QString& action, AccountError::Kind kind,
                        const pop3::Failure& failure) {
    ReportAccountError(owner, action, kind, failure.code, AccountError::DetailText(failure));
}
