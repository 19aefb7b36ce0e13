#include "accounts/accountdonedialog.h"

#include "common/dialogimage.h"
#include "ui_accountdonedialog.h"

#include <QPushButton>

AccountDoneDialog::AccountDoneDialog(QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::AccountDoneDialog>()) {
    m_ui->setupUi(this);
    ui::ShowProgramImage(m_ui->Image1, 64);
    setMinimumWidth(480);
    connect(m_ui->cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    m_ui->cmdOK->setFocus();
}

AccountDoneDialog::~AccountDoneDialog() = default;
