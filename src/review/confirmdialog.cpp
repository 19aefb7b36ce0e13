#include "review/confirmdialog.h"

#include "common/appstate.h"
#include "common/dialogimage.h"
#include "ui_confirmdialog.h"

#include <QPushButton>

ConfirmDialog::ConfirmDialog(AppState& state, QWidget* parent)
    : QDialog(parent), m_state(state), m_ui(std::make_unique<Ui::ConfirmDialog>()) {
    m_ui->setupUi(this);
    ui::ShowMessageImage(m_ui->Image1, ui::MessageIcon::Question);
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
