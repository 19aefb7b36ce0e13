#include "review/confirmdialog.h"

#include "store/appstate.h"
#include "ui_confirmdialog.h"

#include <QPushButton>
#include <QStyle>

ConfirmDialog::ConfirmDialog(AppState& state, QWidget* parent)
    : QDialog(parent), m_state(state), m_ui(std::make_unique<Ui::ConfirmDialog>()) {
    m_ui->setupUi(this);
    const int iconSize = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    m_ui->Image1->setPixmap(
        style()->standardIcon(QStyle::SP_MessageBoxQuestion, nullptr, this).pixmap(iconSize));
    m_ui->Image1->setAccessibleName(tr("Question"));
    setMinimumWidth(460);
    connect(m_ui->cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_ui->cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    // Never on "Do not show this again": a stray Space there would turn the question off for good.
    m_ui->cmdOK->setFocus();
}

ConfirmDialog::~ConfirmDialog() = default;

void ConfirmDialog::done(int result) {
    m_state.Settings.DeletePromptOff = m_ui->chkShow->isChecked() ? 1 : 0;
    QDialog::done(result);
}
