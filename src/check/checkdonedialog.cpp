#include "check/checkdonedialog.h"

#include "common/dialogimage.h"
#include "store/records.h"
#include "ui_checkdonedialog.h"

#include <QPushButton>

CheckDoneDialog::CheckDoneDialog(const QString& accountName, const QString& messageCountText,
                                 SettingsRecord& settings, QWidget* parent)
    : QDialog(parent), m_settings(settings), m_ui(std::make_unique<Ui::CheckDoneDialog>()) {
    m_ui->setupUi(this);
    setWindowTitle(QStringLiteral("Check Complete (") + accountName + QLatin1Char(')'));
    m_ui->lblMess->setText(QStringLiteral("There are ") + messageCountText +
                           QStringLiteral(" Message(s) to Review."));
    ui::ShowMessageImage(m_ui->Image1, ui::MessageIcon::Information);
    setMinimumWidth(440);
    connect(m_ui->cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    // Never on "Do not show this again": a stray Space there would silence the summary for good.
    m_ui->cmdOK->setFocus();
}

CheckDoneDialog::~CheckDoneDialog() = default;

void CheckDoneDialog::done(int result) {
    m_settings.CheckDonePromptOff = m_ui->chkShow->isChecked() ? 1 : 0;
    QDialog::done(result);
}
