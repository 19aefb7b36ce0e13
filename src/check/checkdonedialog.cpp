#include "check/checkdonedialog.h"

#include "store/records.h"
#include "ui_checkdonedialog.h"

#include <QPushButton>
#include <QStyle>

CheckDoneDialog::CheckDoneDialog(const QString& accountName, const QString& messageCountText,
                                 SettingsRecord& settings, QWidget* parent)
    : QDialog(parent), m_settings(settings), m_ui(std::make_unique<Ui::CheckDoneDialog>()) {
    m_ui->setupUi(this);
    setWindowTitle(QStringLiteral("Check Complete (") + accountName + QLatin1Char(')'));
    m_ui->lblMess->setText(QStringLiteral("There are ") + messageCountText +
                           QStringLiteral(" Message(s) to Review."));
    const int iconSize = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    m_ui->Image1->setPixmap(
        style()->standardIcon(QStyle::SP_MessageBoxInformation, nullptr, this).pixmap(iconSize));
    m_ui->Image1->setAccessibleName(tr("Information"));
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
